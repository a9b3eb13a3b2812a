#include "base/trace_event/trace_config.h"

#include <utility>

namespace base {
namespace trace_event {

void TraceConfig::MemoryDumpConfig::Clear() {
  allowed_dump_modes.clear();
  triggers.clear();
  breakdown_threshold_bytes = kDefaultBreakdownThresholdBytes;
}

TraceConfig::EventFilterConfig::EventFilterConfig(
    const std::string& predicate_name)
    : predicate_name_(predicate_name) {}

TraceConfig::EventFilterConfig::EventFilterConfig(
    const EventFilterConfig& other) {
  *this = other;
}

TraceConfig::EventFilterConfig& TraceConfig::EventFilterConfig::operator=(
    const EventFilterConfig& other) {
  if (this == &other)
    return *this;
  predicate_name_ = other.predicate_name_;
  category_filter_ = other.category_filter_;
  // Each configuration owns its arguments.
  args_ = other.args_ ? other.args_->CreateDeepCopy() : nullptr;
  return *this;
}

TraceConfig::EventFilterConfig::~EventFilterConfig() = default;

void TraceConfig::EventFilterConfig::SetCategoryFilter(
    const TraceConfigCategoryFilter& category_filter) {
  category_filter_ = category_filter;
}

void TraceConfig::EventFilterConfig::SetArgs(
    std::unique_ptr<DictionaryValue> args) {
  args_ = std::move(args);
}

bool TraceConfig::EventFilterConfig::IsCategoryGroupEnabled(
    StringPiece category_group_name) const {
  return category_filter_.IsCategoryGroupEnabled(category_group_name);
}

bool TraceConfig::EventFilterConfig::GetArgAsSet(
    const char* key, std::unordered_set<std::string>* out_set) const {
  // The key is one whole key: a name with a '.' is not a path into nested
  // dictionaries.
  const Value* list = nullptr;
  if (!args_ || !args_->GetWithoutPathExpansion(key, &list) ||
      !list->is_list()) {
    return false;
  }
  for (const std::unique_ptr<Value>& element : list->list_storage()) {
    // Elements of other types are no names; they are skipped.
    if (element->is_string())
      out_set->insert(element->GetString());
  }
  return true;
}

TraceConfig::TraceConfig() = default;

TraceConfig::TraceConfig(const TraceConfig& other) = default;

TraceConfig& TraceConfig::operator=(const TraceConfig& other) = default;

TraceConfig::~TraceConfig() = default;

bool TraceConfig::IsCategoryGroupEnabled(
    StringPiece category_group_name) const {
  return category_filter_.IsCategoryGroupEnabled(category_group_name);
}

void TraceConfig::Clear() {
  record_mode_ = RECORD_UNTIL_FULL;
  option_flags_ = 0;
  category_filter_.Clear();
  memory_dump_config_.Clear();
  event_filters_.clear();
}

}  // namespace trace_event
}  // namespace base
