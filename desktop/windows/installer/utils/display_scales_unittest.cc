#include "desktop/windows/installer/utils/display_scales.h"

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(DisplayScalesTest, ScaleIdsForDpis) {
  struct {
    std::vector<double> dpis;
    std::set<int> ids;
  } const kCases[] = {
      {{120}, {1}},
      // 1.75 lies halfway between 1.5 and 2.0; 1.125 halfway between 1.0
      // and 1.25: the earlier row wins.
      {{168}, {2}},
      {{108}, {0}},
      {{144, 96, 144}, {0, 2}},
      {{400}, {4}},
      {{}, {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.dpis.empty() ? 0 : c.dpis[0]);
    EXPECT_EQ(c.ids, internal::ScaleIdsForDpis(c.dpis));
  }
}

// Every monitor has some scale; which one depends on the machine.
TEST(DisplayScalesTest, MonitorsHaveSupportedScales) {
  const std::set<int> ids = GetMonitorScaleIds();
  ASSERT_FALSE(ids.empty());
  EXPECT_GE(*ids.begin(), 0);
  EXPECT_LE(*ids.rbegin(), 4);
}

TEST(DisplayScalesTest, MinimalPackagePaks) {
  struct {
    const wchar_t* language;
    std::set<int> ids;
    std::vector<std::string> paks;
  } const kCases[] = {
      {L"pt-BR", {0, 3}, {"localization/pt-BR.pak", "kavor_200_percent.pak"}},
      {L"", {4, 1, 9}, {"kavor_125_percent.pak", "kavor_250_percent.pak"}},
      {L"de", {}, {"localization/de.pak"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.language);
    EXPECT_EQ(c.paks, GetMinimalPackagePaks(c.language, c.ids));
  }
}

TEST(DisplayScalesTest, ListMissingDownloadableResources) {
  base::ScopedTempDir dir;
  ASSERT_TRUE(dir.CreateUniqueTempDir());
  const std::vector<std::string> all =
      ListMissingDownloadableResources(dir.GetPath());
  ASSERT_EQ(100u, all.size());
  // Each pak is followed by its companion.
  for (size_t i = 0; i < all.size(); i += 2)
    EXPECT_EQ(all[i] + ".info", all[i + 1]);

  ASSERT_TRUE(base::CreateDirectory(dir.GetPath().Append(L"localization")));
  ASSERT_EQ(
      0, base::WriteFile(dir.GetPath().Append(L"localization\\be.pak"), "", 0));
  ASSERT_EQ(0, base::WriteFile(dir.GetPath().Append(L"kavor_100_percent.pak"),
                               "", 0));
  std::vector<std::string> rest = all;
  rest.erase(rest.begin() + 2);
  rest.erase(rest.begin());
  EXPECT_EQ(rest, ListMissingDownloadableResources(dir.GetPath()));
}

}  // namespace
}  // namespace installer
