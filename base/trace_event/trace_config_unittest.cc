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

TEST(TraceConfigCategoryFilterTest, IncludedAndDisabledByDefaultPatterns) {
  TraceConfigCategoryFilter filter;
  filter.AddIncludedCategory("*");
  EXPECT_TRUE(filter.IsCategoryGroupEnabled("toplevel"));
  // '*' does not reach categories that are off by default.
  EXPECT_FALSE(
      filter.IsCategoryGroupEnabled("disabled-by-default-toplevel.flow"));
  EXPECT_TRUE(filter.IsCategoryGroupEnabled(
      "disabled-by-default-toplevel.flow,toplevel"));
  filter.AddDisabledCategory("disabled-by-default-toplevel.flow");
  EXPECT_TRUE(
      filter.IsCategoryGroupEnabled("disabled-by-default-toplevel.flow"));
  EXPECT_FALSE(filter.IsCategoryGroupEnabled("disabled-by-default-other"));

  // With included patterns present only they can enable a group.
  TraceConfigCategoryFilter net;
  net.AddIncludedCategory("net*");
  net.AddExcludedCategory("other");
  EXPECT_TRUE(net.IsCategoryGroupEnabled("gpu,netlog"));
  EXPECT_FALSE(net.IsCategoryGroupEnabled("toplevel"));
}

TEST(TraceConfigCategoryFilterTest, NoPatternsEnablesWhatIsOnByDefault) {
  TraceConfigCategoryFilter filter;
  EXPECT_TRUE(filter.IsCategoryGroupEnabled("toplevel"));
  EXPECT_TRUE(filter.IsCategoryGroupEnabled("disabled-by-default-a,toplevel"));
  EXPECT_FALSE(filter.IsCategoryGroupEnabled("disabled-by-default-a"));
  EXPECT_FALSE(filter.IsCategoryGroupEnabled(
      "disabled-by-default-a,disabled-by-default-b"));
  EXPECT_FALSE(filter.IsCategoryGroupEnabled(",,"));
}

TEST(TraceConfigCategoryFilterTest, ExcludedPatterns) {
  TraceConfigCategoryFilter filter;
  filter.AddExcludedCategory("task_scheduler");
  EXPECT_FALSE(filter.IsCategoryGroupEnabled("task_scheduler"));
  // The second category is not excluded, so the group records.
  EXPECT_TRUE(filter.IsCategoryGroupEnabled("task_scheduler,toplevel"));
  // A category off by default does not undo the exclusion before it.
  EXPECT_FALSE(
      filter.IsCategoryGroupEnabled("task_scheduler,disabled-by-default-x"));

  filter.AddExcludedCategory("ipc*");
  EXPECT_FALSE(filter.IsCategoryGroupEnabled("task_scheduler,ipc.flow"));
  EXPECT_FALSE(filter.IsCategoryGroupEnabled("ipc.flow,task_scheduler"));
  EXPECT_TRUE(filter.IsCategoryGroupEnabled("ipc.flow,gpu"));
}

TEST(TraceConfigCategoryFilterTest, EmptyTokensAndEscapes) {
  TraceConfigCategoryFilter excluded;
  excluded.AddExcludedCategory("task_scheduler");
  EXPECT_FALSE(excluded.IsCategoryGroupEnabled(",task_scheduler,,"));
  EXPECT_TRUE(excluded.IsCategoryGroupEnabled("task_scheduler,,toplevel"));
  // Empty tokens are no categories: an empty pattern matches none of them.
  TraceConfigCategoryFilter empty_pattern;
  empty_pattern.AddIncludedCategory("");
  EXPECT_FALSE(empty_pattern.IsCategoryGroupEnabled("a,,b"));

  TraceConfigCategoryFilter escaped;
  escaped.AddIncludedCategory("cat\\*");
  EXPECT_TRUE(escaped.IsCategoryGroupEnabled("x,cat*"));
  EXPECT_FALSE(escaped.IsCategoryGroupEnabled("cat,category"));
}

TEST(TraceConfigTest, ClearRestoresTheDefaults) {
  TraceConfig config;
  config.SetTraceRecordMode(TraceConfig::RECORD_CONTINUOUSLY);
  config.EnableSystrace();
  config.EnableArgumentFilter();
  config.mutable_category_filter()->AddIncludedCategory("a");
  config.mutable_category_filter()->AddDisabledCategory("b");
  config.mutable_category_filter()->AddExcludedCategory("toplevel");
  config.SetEventFilters({TraceConfig::EventFilterConfig("p")});
  const TraceConfig copy = config;
  EXPECT_FALSE(config.IsCategoryGroupEnabled("toplevel"));

  config.Clear();
  EXPECT_EQ(TraceConfig::RECORD_UNTIL_FULL, config.GetTraceRecordMode());
  EXPECT_FALSE(config.IsSystraceEnabled());
  EXPECT_FALSE(config.IsArgumentFilterEnabled());
  EXPECT_TRUE(config.category_filter().included_categories().empty());
  EXPECT_TRUE(config.category_filter().disabled_categories().empty());
  EXPECT_TRUE(config.event_filters().empty());
  EXPECT_TRUE(config.IsCategoryGroupEnabled("toplevel"));
  EXPECT_FALSE(copy.IsCategoryGroupEnabled("toplevel"));

  TraceConfig::MemoryDumpConfig dump_config;
  dump_config.allowed_dump_modes.insert(2);
  dump_config.triggers.push_back({250, 1, 0});
  dump_config.breakdown_threshold_bytes = 1;
  dump_config.Clear();
  EXPECT_TRUE(dump_config.allowed_dump_modes.empty());
  EXPECT_TRUE(dump_config.triggers.empty());
  EXPECT_EQ(1024u, dump_config.breakdown_threshold_bytes);
}

TEST(EventFilterConfigTest, GetArgAsSet) {
  TraceConfig::EventFilterConfig config("event_whitelist_predicate");
  std::unordered_set<std::string> names;
  EXPECT_FALSE(config.GetArgAsSet("event_name_whitelist", &names));

  auto args = std::make_unique<DictionaryValue>();
  auto list = std::make_unique<ListValue>();
  list->AppendString("first");
  list->AppendInteger(7);  // Not a name: skipped.
  list->AppendString("second");
  args->SetList("event_name_whitelist", std::move(list));
  args->SetString("not_a_list", "x");
  config.SetArgs(std::move(args));
  EXPECT_TRUE(config.GetArgAsSet("event_name_whitelist", &names));
  EXPECT_EQ((std::unordered_set<std::string>{"first", "second"}), names);
  EXPECT_FALSE(config.GetArgAsSet("not_a_list", &names));

  // A copy owns arguments of its own.
  TraceConfig::EventFilterConfig copy = config;
  config.SetArgs(nullptr);
  names.clear();
  EXPECT_FALSE(config.GetArgAsSet("event_name_whitelist", &names));
  EXPECT_TRUE(copy.GetArgAsSet("event_name_whitelist", &names));
  EXPECT_EQ(2u, names.size());
}

TEST(EventFilterConfigTest, TwoFiltersOnOneCategory) {
  TraceConfigCategoryFilter everything;
  everything.AddIncludedCategory("*");
  TraceConfigCategoryFilter gpu_only;
  gpu_only.AddIncludedCategory("gpu");
  TraceConfig::EventFilterConfig first("event_whitelist_predicate");
  first.SetCategoryFilter(everything);
  TraceConfig::EventFilterConfig second("heap_profiler_predicate");
  second.SetCategoryFilter(gpu_only);
  TraceConfig config;
  config.SetEventFilters({first, second});
  config.mutable_category_filter()->AddIncludedCategory("none");

  // Each filter decides with its own category filter, not the config's.
  int filters_on_gpu = 0;
  int filters_on_net = 0;
  for (const TraceConfig::EventFilterConfig& filter : config.event_filters()) {
    filters_on_gpu += filter.IsCategoryGroupEnabled("gpu") ? 1 : 0;
    filters_on_net += filter.IsCategoryGroupEnabled("net") ? 1 : 0;
  }
  EXPECT_EQ(2, filters_on_gpu);
  EXPECT_EQ(1, filters_on_net);
  EXPECT_FALSE(config.IsCategoryGroupEnabled("gpu"));
}

}  // namespace
}  // namespace trace_event
}  // namespace base
