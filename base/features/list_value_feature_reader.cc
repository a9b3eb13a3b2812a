#include "base/features/list_value_feature_reader.h"

#include <string>

#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"
#include "base/values.h"

namespace base {

namespace {

// The state numbers stored in a list entry.
const int kStateEnabled = 1;
const int kStateDisabled = 2;

}  // namespace

ListValueFeatureReader::ListValueFeatureReader(const ListValue* list)
    : list_(list) {}

ListValueFeatureReader::~ListValueFeatureReader() = default;

void ListValueFeatureReader::Read(std::vector<FeatureState>* states) {
  for (size_t i = 0; i < list_->GetSize(); ++i) {
    const Value* item = nullptr;
    if (!list_->Get(i, &item))
      continue;
    std::string entry;
    if (!item->GetAsString(&entry))
      continue;
    std::vector<std::string> pieces =
        SplitString(entry, "@", TRIM_WHITESPACE, SPLIT_WANT_ALL);
    if (pieces.size() != 2)
      continue;
    int state = 0;
    if (!StringToInt(pieces[1], &state))
      continue;
    if (state != kStateEnabled && state != kStateDisabled)
      continue;
    states->push_back(FeatureState(pieces[0], state == kStateEnabled));
  }
}

}  // namespace base
