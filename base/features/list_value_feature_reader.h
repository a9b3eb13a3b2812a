#ifndef BASE_FEATURES_LIST_VALUE_FEATURE_READER_H_
#define BASE_FEATURES_LIST_VALUE_FEATURE_READER_H_

#include <vector>

#include "base/features/feature_registry.h"
#include "base/macros.h"

namespace base {

class ListValue;

// Reads feature states from a list of strings "NAME@STATE", where STATE is
// 1 (enabled) or 2 (disabled), as an existing installation keeps them in its
// preferences. Anything else in the list is skipped silently.
class ListValueFeatureReader : public FeatureReader {
 public:
  // |list| is not owned and must outlive Read.
  explicit ListValueFeatureReader(const ListValue* list);
  ~ListValueFeatureReader() override;

  void Read(std::vector<FeatureState>* states) override;

 private:
  const ListValue* list_;

  DISALLOW_COPY_AND_ASSIGN(ListValueFeatureReader);
};

}  // namespace base

#endif  // BASE_FEATURES_LIST_VALUE_FEATURE_READER_H_
