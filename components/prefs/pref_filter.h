#ifndef COMPONENTS_PREFS_PREF_FILTER_H_
#define COMPONENTS_PREFS_PREF_FILTER_H_

#include <memory>
#include <string>
#include <utility>

#include "base/callback.h"

namespace base {
class DictionaryValue;
}  // namespace base

// Sees a store's values on their way in from the file and out to it.
class PrefFilter {
 public:
  // Gets the filtered values and whether they must be written back.
  using PostFilterOnLoadCallback = base::OnceCallback<void(
      std::unique_ptr<base::DictionaryValue> prefs, bool schedule_write)>;
  // Run on the file task runner before and after the next write; either may
  // be null.
  using OnWriteCallbackPair =
      std::pair<base::OnceClosure, base::OnceCallback<void(bool success)>>;

  virtual ~PrefFilter() = default;

  // Filters the values just read and hands them to |post_filter_on_load|,
  // now or later.
  virtual void FilterOnLoad(
      PostFilterOnLoadCallback post_filter_on_load,
      std::unique_ptr<base::DictionaryValue> pref_store_contents) = 0;
  // |path| changed.
  virtual void FilterUpdate(const std::string& path) = 0;
  // Just before the values are serialised for a write.
  virtual OnWriteCallbackPair FilterSerializeData(
      base::DictionaryValue* pref_store_contents) = 0;
  // The store's file was deleted.
  virtual void OnFileDeleted() = 0;
};

#endif  // COMPONENTS_PREFS_PREF_FILTER_H_
