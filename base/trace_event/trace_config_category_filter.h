#ifndef BASE_TRACE_EVENT_TRACE_CONFIG_CATEGORY_FILTER_H_
#define BASE_TRACE_EVENT_TRACE_CONFIG_CATEGORY_FILTER_H_

#include <string>
#include <vector>

#include "base/strings/string_piece.h"

namespace base {
namespace trace_event {

// Which categories are on: wildcard patterns ('*', '?', '\' escapes) to
// include, to include although off by default ("disabled-by-default-..."),
// and to exclude.
class TraceConfigCategoryFilter {
 public:
  using StringList = std::vector<std::string>;

  TraceConfigCategoryFilter();
  TraceConfigCategoryFilter(const TraceConfigCategoryFilter& other);
  TraceConfigCategoryFilter& operator=(const TraceConfigCategoryFilter& other);
  ~TraceConfigCategoryFilter();

  // A group is "a,b,c": enabled when one of its categories is.
  bool IsCategoryGroupEnabled(StringPiece category_group_name) const;
  bool IsCategoryEnabled(StringPiece category_name) const;

  void Clear();

  const StringList& included_categories() const { return included_; }
  const StringList& disabled_categories() const { return disabled_; }
  const StringList& excluded_categories() const { return excluded_; }
  void AddIncludedCategory(const std::string& pattern) {
    included_.push_back(pattern);
  }
  void AddDisabledCategory(const std::string& pattern) {
    disabled_.push_back(pattern);
  }
  void AddExcludedCategory(const std::string& pattern) {
    excluded_.push_back(pattern);
  }

 private:
  StringList included_;
  StringList disabled_;
  StringList excluded_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_CONFIG_CATEGORY_FILTER_H_
