#include "base/trace_event/trace_config.h"

#include <memory>
#include <string>
#include <unordered_set>
#include <utility>

#include "base/values.h"
#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

TEST(TraceConfigCategoryFilterTest, GroupsEnabledByPatterns) {
  const struct {
    const char* included;
    const char* disabled;
    const char* excluded;
    const char* group;
    bool enabled;
  } kCases[] = {
      // '*' does not reach categories that are off by default; naming them
      // as disabled-by-default patterns does.
      {"*", "", "", "toplevel", true},
      {"*", "", "", "disabled-by-default-toplevel.flow", false},
      {"*", "disabled-by-default-toplevel.flow", "",
       "disabled-by-default-toplevel.flow", true},
      {"net*", "", "", "toplevel", false},
      // No patterns: what is on by default.
      {"", "", "", "disabled-by-default-a,toplevel", true},
      {"", "", "", "disabled-by-default-a", false},
      // Excluded: a later category that is not excluded enables the group;
      // one off by default does not undo the exclusion before it.
      {"", "", "task_scheduler", "task_scheduler", false},
      {"", "", "task_scheduler", "task_scheduler,toplevel", true},
      {"", "", "task_scheduler", "task_scheduler,disabled-by-default-x", false},
      // Empty tokens are no categories.
      {"", "", "task_scheduler", ",task_scheduler,,", false},
      {"", "", "", ",,", false},
      // A backslash makes '*' a literal asterisk.
      {"cat\\*", "", "", "x,cat*", true},
      {"cat\\*", "", "", "cat,category", false},
  };
  for (const auto& c : kCases) {
    TraceConfigCategoryFilter filter;
    if (*c.included)
      filter.AddIncludedCategory(c.included);
    if (*c.disabled)
      filter.AddDisabledCategory(c.disabled);
    if (*c.excluded)
      filter.AddExcludedCategory(c.excluded);
    EXPECT_EQ(c.enabled, filter.IsCategoryGroupEnabled(c.group)) << c.group;
  }
}

TEST(TraceConfigTest, ClearRestoresTheDefaults) {
  TraceConfig config;
  config.SetTraceRecordMode(TraceConfig::RECORD_CONTINUOUSLY);
  config.EnableSystemTrace();
  config.EnableArgumentFilter();
  config.mutable_category_filter()->AddIncludedCategory("a");
  config.SetEventFilters({TraceConfig::EventFilterConfig("p")});
  EXPECT_FALSE(config.IsCategoryGroupEnabled("toplevel"));

  config.Clear();
  EXPECT_EQ(TraceConfig::RECORD_UNTIL_FULL, config.GetTraceRecordMode());
  EXPECT_FALSE(config.IsSystemTraceEnabled());
  EXPECT_FALSE(config.IsArgumentFilterEnabled());
  EXPECT_TRUE(config.event_filters().empty());
  EXPECT_TRUE(config.IsCategoryGroupEnabled("toplevel"));
}

TEST(EventFilterConfigTest, CategoriesAndArgAsSet) {
  TraceConfig::EventFilterConfig config("event_whitelist_predicate");
  std::unordered_set<std::string> names;
  EXPECT_FALSE(config.GetArgAsSet("event_name_whitelist", &names));
  // A filter answers with its own category filter.
  TraceConfigCategoryFilter gpu_only;
  gpu_only.AddIncludedCategory("gpu");
  config.SetCategoryFilter(gpu_only);
  EXPECT_TRUE(config.IsCategoryGroupEnabled("net,gpu"));
  EXPECT_FALSE(config.IsCategoryGroupEnabled("net"));

  auto list = std::make_unique<ListValue>();
  list->AppendString("first");
  list->AppendInteger(7);  // Not a name: skipped.
  list->AppendString("second");
  auto args = std::make_unique<DictionaryValue>();
  args->SetWithoutPathExpansion("names.v1", list->CreateDeepCopy());
  args->SetList("nested.list", std::move(list));
  args->SetString("not_a_list", "x");
  config.SetArgs(std::move(args));
  // The key is one whole key, never a path into nested dictionaries.
  EXPECT_TRUE(config.GetArgAsSet("names.v1", &names));
  EXPECT_EQ((std::unordered_set<std::string>{"first", "second"}), names);
  EXPECT_FALSE(config.GetArgAsSet("nested.list", &names));
  EXPECT_FALSE(config.GetArgAsSet("not_a_list", &names));

  // A copy owns arguments of its own.
  TraceConfig::EventFilterConfig copy = config;
  config.SetArgs(nullptr);
  EXPECT_TRUE(copy.GetArgAsSet("names.v1", &names));
}

}  // namespace
}  // namespace trace_event
}  // namespace base
