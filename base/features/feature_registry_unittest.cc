#include "base/features/feature_registry.h"

#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"
#include "base/features/list_value_feature_reader.h"
#include "base/logging.h"
#include "base/test/scoped_log_lines.h"
#include "base/values.h"
#include "gtest/gtest.h"

namespace base {

namespace {

CommandLine MakeCommandLine(const std::vector<std::wstring>& switches) {
  CommandLine::StringVector argv;
  argv.push_back(L"program.exe");
  argv.insert(argv.end(), switches.begin(), switches.end());
  return CommandLine(argv);
}

void ApplySwitches(FeatureRegistry* registry,
                   const std::vector<std::wstring>& switches) {
  CommandLine command_line = MakeCommandLine(switches);
  CommandLineFeatureReader reader(&command_line);
  registry->ApplyReader(&reader);
}

void ApplyList(FeatureRegistry* registry, const ListValue& list) {
  ListValueFeatureReader reader(&list);
  registry->ApplyReader(&reader);
}

}  // namespace

TEST(FeatureRegistryTest, UnregisteredAndNonOverridableFeatures) {
  FeatureRegistry registry;
  registry.RegisterFeature("locked-on", true, false);
  registry.RegisterFeature("locked-off", false, false);
  registry.RegisterFeature("open", true, true);
  EXPECT_FALSE(registry.IsEnabled("unknown"));
  EXPECT_TRUE(registry.IsEnabled("locked-on"));
  EXPECT_FALSE(registry.IsEnabled("locked-off"));
  EXPECT_TRUE(registry.IsEnabled("open"));

  ApplySwitches(&registry,
                {L"--with-feature:unknown=on", L"--with-feature:locked-on=off",
                 L"--with-feature:locked-off=on", L"--with-feature:open=off"});
  EXPECT_FALSE(registry.IsEnabled("unknown"));
  EXPECT_TRUE(registry.IsEnabled("locked-on"));
  EXPECT_FALSE(registry.IsEnabled("locked-off"));
  EXPECT_FALSE(registry.IsEnabled("open"));
  // Names compare byte for byte.
  EXPECT_FALSE(registry.IsEnabled("Locked-On"));
  // The overrides are kept even for names that cannot use them.
  EXPECT_EQ(4u, registry.GetOverriddenStates().size());
}

TEST(FeatureRegistryTest, FirstRegistrationAnswers) {
  FeatureRegistry registry;
  registry.RegisterFeature("twice", true, false);
  registry.RegisterFeature("twice", false, true);
  ApplySwitches(&registry, {L"--with-feature:twice=off"});
  EXPECT_TRUE(registry.IsEnabled("twice"));
}

TEST(FeatureRegistryTest, SwitchValues) {
  FeatureRegistry registry;
  for (const char* name : {"bare", "on", "off", "caps", "wide"})
    registry.RegisterFeature(name, false, true);
  registry.RegisterFeature("x", false, true);
  registry.RegisterFeature("off", true, true);
  ApplySwitches(&registry, {L"--with-feature:bare", L"--with-feature:on=on",
                            L"--with-feature:off=off", L"--With-Feature:X=on",
                            L"--with-feature:wide=caf\u00e9"});
  EXPECT_TRUE(registry.IsEnabled("bare"));
  EXPECT_TRUE(registry.IsEnabled("on"));
  EXPECT_FALSE(registry.IsEnabled("off"));
  // Switch names are stored in lower case.
  EXPECT_TRUE(registry.IsEnabled("x"));
  EXPECT_FALSE(registry.IsEnabled("X"));
  // A value that is not ASCII reads as empty, which enables.
  EXPECT_TRUE(registry.IsEnabled("wide"));
}

TEST(FeatureRegistryTest, UnhandledSwitchValuesWarnAndChangeNothing) {
  FeatureRegistry registry;
  registry.RegisterFeature("a", false, true);
  registry.RegisterFeature("b", true, true);
  registry.RegisterFeature("c", false, true);
  // An earlier reader's state must survive a later unusable value.
  ApplySwitches(&registry, {L"--with-feature:c=on"});
  ASSERT_EQ(1u, registry.GetOverriddenStates().size());

  ScopedLogLines collector(logging::LOG_WARNING, logging::LOG_WARNING);
  ApplySwitches(&registry, {L"--with-feature:a=ON", L"--with-feature:b=1",
                            L"--with-feature:c=true", L"--other=on"});
  EXPECT_FALSE(registry.IsEnabled("a"));
  EXPECT_TRUE(registry.IsEnabled("b"));
  EXPECT_TRUE(registry.IsEnabled("c"));
  EXPECT_EQ(1u, registry.GetOverriddenStates().size());

  const char* const kExpected[][2] = {{"a", "ON"}, {"b", "1"}, {"c", "true"}};
  ASSERT_EQ(3u, collector.lines().size());
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(std::string("with-feature:") + kExpected[i][0] +
                  " has unhandled value: \"" + kExpected[i][1] +
                  "\" did you mean \"on\" or \"off\"? Using default setting.",
              collector.lines()[i]);
  }
}

TEST(FeatureRegistryTest, ListEntries) {
  FeatureRegistry registry;
  const char* const kNames[] = {"on1",   "off2", "trim", "zero", "three",
                                "empty", "bare", "many", "int"};
  for (const char* name : kNames)
    registry.RegisterFeature(name, false, true);
  registry.RegisterFeature("off2", true, true);

  ListValue list;
  list.AppendString("on1@1");
  list.AppendString("off2@2");
  list.AppendString(" trim @ 1 ");
  list.AppendString("zero@0");
  list.AppendString("three@3");
  list.AppendString("empty@");
  list.AppendString("bare");
  list.AppendString("many@1@2");
  list.AppendInteger(1);
  list.AppendBoolean(true);
  list.Append(std::make_unique<ListValue>());

  ScopedLogLines collector(logging::LOG_WARNING, logging::LOG_WARNING);
  ApplyList(&registry, list);
  EXPECT_TRUE(collector.lines().empty());

  std::vector<FeatureState> states = registry.GetOverriddenStates();
  ASSERT_EQ(3u, states.size());
  EXPECT_EQ("on1", states[0].name());
  EXPECT_TRUE(states[0].enabled());
  EXPECT_EQ("off2", states[1].name());
  EXPECT_FALSE(states[1].enabled());
  EXPECT_EQ("trim", states[2].name());
  EXPECT_TRUE(states[2].enabled());

  EXPECT_TRUE(registry.IsEnabled("on1"));
  EXPECT_FALSE(registry.IsEnabled("off2"));
  EXPECT_TRUE(registry.IsEnabled("trim"));
  for (const char* name : {"zero", "three", "empty", "bare", "many"})
    EXPECT_FALSE(registry.IsEnabled(name)) << name;
}

TEST(FeatureRegistryTest, NewestOverrideWins) {
  ListValue list;
  list.AppendString("x@2");

  FeatureRegistry list_then_switch;
  list_then_switch.RegisterFeature("x", false, true);
  ApplyList(&list_then_switch, list);
  ApplySwitches(&list_then_switch, {L"--with-feature:x=on"});
  EXPECT_TRUE(list_then_switch.IsEnabled("x"));

  FeatureRegistry switch_then_list;
  switch_then_list.RegisterFeature("x", false, true);
  ApplySwitches(&switch_then_list, {L"--with-feature:x=on"});
  ApplyList(&switch_then_list, list);
  EXPECT_FALSE(switch_then_list.IsEnabled("x"));

  // Within one reader the later entry wins.
  ListValue flip;
  flip.AppendString("y@1");
  flip.AppendString("y@2");
  flip.AppendString("y@1");
  FeatureRegistry registry;
  registry.RegisterFeature("y", false, true);
  ApplyList(&registry, flip);
  EXPECT_TRUE(registry.IsEnabled("y"));
}

// The only test that touches the process-wide registry.
TEST(FeatureRegistryTest, ProcessWideRegistryAndAppendFeatureSwitches) {
  FeatureRegistry* registry = FeatureRegistry::GetInstance();
  ASSERT_TRUE(registry);
  EXPECT_EQ(registry, FeatureRegistry::GetInstance());
  // The registry lives as long as the process: a repeated run starts from
  // the overrides the runs before it left, one switch each.
  const size_t overrides_before = registry->GetOverriddenStates().size();

  registry->RegisterFeature("feature-test-b", false, true);
  registry->RegisterFeature("feature-test-a", true, true);
  registry->RegisterFeature("feature-test-default", true, true);

  CommandLine untouched(CommandLine::NO_PROGRAM);
  AppendFeatureSwitches(&untouched);
  EXPECT_EQ(overrides_before + 1, untouched.argv().size());

  ListValue list;
  list.AppendString("feature-test-b@1");
  list.AppendString("feature-test-a@2");
  list.AppendString("feature-test-b@2");
  ApplyList(registry, list);
  ApplySwitches(registry, {L"--with-feature:feature-test-b=on"});
  EXPECT_TRUE(IsFeatureEnabled("feature-test-b"));
  EXPECT_FALSE(IsFeatureEnabled("feature-test-a"));
  EXPECT_TRUE(IsFeatureEnabled("feature-test-default"));
  EXPECT_FALSE(IsFeatureEnabledCopy("feature-test-a"));
  EXPECT_FALSE(IsFeatureEnabled("feature-test-unregistered"));

  CommandLine child(CommandLine::NO_PROGRAM);
  AppendFeatureSwitches(&child);
  CommandLine::StringVector expected = untouched.argv();
  expected.insert(expected.end(), {
                                      L"--with-feature:feature-test-b=on",
                                      L"--with-feature:feature-test-a=off",
                                      L"--with-feature:feature-test-b=off",
                                      L"--with-feature:feature-test-b=on",
                                  });
  EXPECT_EQ(expected, child.argv());

  // The child, reading its own command line, answers as the parent does.
  FeatureRegistry child_registry;
  child_registry.RegisterFeature("feature-test-b", false, true);
  child_registry.RegisterFeature("feature-test-a", true, true);
  CommandLineFeatureReader reader(&child);
  child_registry.ApplyReader(&reader);
  EXPECT_TRUE(child_registry.IsEnabled("feature-test-b"));
  EXPECT_FALSE(child_registry.IsEnabled("feature-test-a"));
}

TEST(FeatureRegistryTest, SaverPutsTheProcessWideRegistryBack) {
  FeatureRegistry* registry = FeatureRegistry::GetInstance();
  const std::vector<FeatureState> before = registry->GetOverriddenStates();
  {
    ScopedFeatureRegistrySaver saved;
    registry->RegisterFeature("feature-test-saved", false, true);
    ApplySwitches(registry, {L"--with-feature:feature-test-saved=on"});
    EXPECT_TRUE(IsFeatureEnabled("feature-test-saved"));
  }
  EXPECT_FALSE(IsFeatureEnabled("feature-test-saved"));
  EXPECT_EQ(before.size(), registry->GetOverriddenStates().size());
}

}  // namespace base
