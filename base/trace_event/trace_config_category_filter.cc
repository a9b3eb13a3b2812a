#include "base/trace_event/trace_config_category_filter.h"

#include "base/strings/string_split.h"
#include "base/strings/string_util.h"

namespace base {
namespace trace_event {

namespace {

const char kDisabledByDefaultPattern[] = "disabled-by-default-*";

bool IsDisabledByDefault(StringPiece category) {
  return MatchPattern(category, kDisabledByDefaultPattern);
}

bool MatchesAny(StringPiece category,
                const TraceConfigCategoryFilter::StringList& patterns) {
  for (const std::string& pattern : patterns) {
    if (MatchPattern(category, pattern))
      return true;
  }
  return false;
}

}  // namespace

TraceConfigCategoryFilter::TraceConfigCategoryFilter() = default;

TraceConfigCategoryFilter::TraceConfigCategoryFilter(
    const TraceConfigCategoryFilter& other) = default;

TraceConfigCategoryFilter& TraceConfigCategoryFilter::operator=(
    const TraceConfigCategoryFilter& other) = default;

TraceConfigCategoryFilter::~TraceConfigCategoryFilter() = default;

bool TraceConfigCategoryFilter::IsCategoryGroupEnabled(
    StringPiece category_group_name) const {
  const std::vector<StringPiece> categories = SplitStringPiece(
      category_group_name, ",", KEEP_WHITESPACE, SPLIT_WANT_NONEMPTY);

  // Any category of the group switched on by name or pattern enables the
  // whole group.
  bool had_enabled_by_default = false;
  for (StringPiece category : categories) {
    if (IsCategoryEnabled(category))
      return true;
    if (!IsDisabledByDefault(category))
      had_enabled_by_default = true;
  }

  // Without included patterns everything that is on by default records,
  // unless the excluded patterns cover the group: the walk stops at the
  // first category they leave out. A category that is off by default does
  // not clear an exclusion found before it.
  bool category_group_disabled = false;
  for (StringPiece category : categories) {
    for (const std::string& pattern : excluded_) {
      if (MatchPattern(category, pattern)) {
        category_group_disabled = true;
        break;
      }
      if (!IsDisabledByDefault(category))
        category_group_disabled = false;
    }
    if (!category_group_disabled)
      break;
  }

  return !category_group_disabled && had_enabled_by_default &&
         included_.empty();
}

bool TraceConfigCategoryFilter::IsCategoryEnabled(
    StringPiece category_name) const {
  // Named explicitly: on, even when off by default.
  if (MatchesAny(category_name, disabled_))
    return true;
  // Off by default and not named: no include pattern, "*" included, may
  // switch it on.
  if (IsDisabledByDefault(category_name))
    return false;
  return MatchesAny(category_name, included_);
}

void TraceConfigCategoryFilter::Clear() {
  included_.clear();
  disabled_.clear();
  excluded_.clear();
}

}  // namespace trace_event
}  // namespace base
