#include "desktop/windows/installer/installer_experiments.h"

#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"
#include "base/features/feature_registry.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(InstallerExperimentsTest, StreamBits) {
  const struct {
    int32_t stream;
    uint32_t bit;
  } kCases[] = {{-1, 0}, {0, 0}, {1, 1}, {2, 2}, {3, 4}, {4, 4}, {5, 0}};
  for (const auto& c : kCases)
    EXPECT_EQ(c.bit, GetStreamBit(c.stream)) << c.stream;
}

TEST(InstallerExperimentsTest, EnabledByDefaultOnStream) {
  const struct {
    uint32_t mask;
    uint8_t flags;
    int32_t stream;
    bool enabled;
  } kCases[] = {
      {0xFFFF, 7, 2, true}, {0x2, 2, 2, true},     {0, 7, 2, false},
      {0xFFFF, 6, 2, true}, {0xFFFF, 5, 2, false}, {0x2, 2, 1, false},
      {0x4, 2, 3, true},    {0x4, 2, 4, true},     {0xFFFF, 2, 5, false},
  };
  for (const auto& c : kCases) {
    const FeatureRecord record = {"f", c.mask, 0, 0, "", "", c.flags};
    EXPECT_EQ(c.enabled, IsFeatureEnabledByDefaultOnStream(record, c.stream))
        << c.mask << " " << int{c.flags} << " " << c.stream;
  }
  // This build is the developer stream.
  const FeatureRecord developer_only = {"f", 0x2, 0, 0, "", "", 2};
  EXPECT_TRUE(IsFeatureEnabledByDefault(developer_only));
}

TEST(InstallerExperimentsTest, Overridable) {
  const FeatureRecord unlocked = {"f", 0, 0, 0, "", "", 0};
  const FeatureRecord locked = {"f", 0, 1, 0, "", "", 0};
  EXPECT_TRUE(IsFeatureOverridable(unlocked));
  EXPECT_FALSE(IsFeatureOverridable(locked));
}

TEST(InstallerExperimentsTest, ExperimentsAreOffOnEveryStream) {
  size_t count = 0;
  const FeatureRecord* experiments = GetInstallerExperiments(&count);
  ASSERT_EQ(3u, count);
  EXPECT_STREQ("installer-experiment-test", experiments[0].name);
  EXPECT_STREQ("installer-use-minimal-package", experiments[1].name);
  EXPECT_STREQ("installer-handle-proprietary-uris", experiments[2].name);
  for (size_t i = 0; i < count; ++i) {
    for (int32_t stream = 1; stream <= 4; ++stream) {
      EXPECT_FALSE(IsFeatureEnabledByDefaultOnStream(experiments[i], stream))
          << experiments[i].name << " " << stream;
    }
    EXPECT_TRUE(IsFeatureOverridable(experiments[i])) << experiments[i].name;
  }
}

TEST(InstallerExperimentsTest, RegisteredExperimentsTakeCommandLineStates) {
  base::FeatureRegistry registry;
  RegisterInstallerExperiments(&registry);
  EXPECT_FALSE(registry.IsEnabled(kInstallerExperimentTest));
  EXPECT_FALSE(registry.IsEnabled(kInstallerUseMinimalPackage));

  base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
  command_line.AppendSwitchASCII("with-feature:installer-experiment-test",
                                 "on");
  command_line.AppendSwitchASCII("with-feature:unknown-experiment", "on");
  base::CommandLineFeatureReader reader(&command_line);
  registry.ApplyReader(&reader);
  EXPECT_TRUE(registry.IsEnabled(kInstallerExperimentTest));
  EXPECT_FALSE(registry.IsEnabled(kInstallerUseMinimalPackage));
  EXPECT_FALSE(registry.IsEnabled(kInstallerHandleProprietaryUris));
  EXPECT_FALSE(registry.IsEnabled("unknown-experiment"));
}

TEST(InstallerExperimentsTest, FindBrowserFeatureMatchesExactly) {
  const FeatureRecord* tamber = FindBrowserFeature("tamber-library");
  ASSERT_NE(nullptr, tamber);
  EXPECT_STREQ("tamber-library", tamber->name);
  EXPECT_EQ(nullptr, FindBrowserFeature("tamber"));
  EXPECT_EQ(nullptr, FindBrowserFeature("tamber-library "));
  EXPECT_EQ(nullptr, FindBrowserFeature("Tamber-library"));
  EXPECT_EQ(nullptr, FindBrowserFeature(""));
  const char kLonger[] = "tamber-library-extra";
  EXPECT_EQ(tamber, FindBrowserFeature(base::StringPiece(kLonger, 14)));
}

}  // namespace
}  // namespace installer
