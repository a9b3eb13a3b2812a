#include "desktop/windows/installer/service/installation.h"

#include <stdint.h>

#include <memory>
#include <string>

#include "base/base_paths.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/path_service.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/json_installation_status_writer.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

void WriteText(const base::FilePath& path, const std::string& text) {
  ASSERT_EQ(static_cast<int>(text.size()),
            base::WriteFile(path, text.data(), static_cast<int>(text.size())));
}

class InstallationTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.CreateUniqueTempDir()); }

  // An installation whose "installer_prefs.json" holds |prefs|.
  std::unique_ptr<Installation> WithPrefs(const std::string& prefs) {
    WriteText(folder().Append(L"installer_prefs.json"), prefs);
    return std::make_unique<InstallationImpl>(folder());
  }

  const base::FilePath& folder() const { return temp_.GetPath(); }

  base::ScopedTempDir temp_;
};

TEST_F(InstallationTest, FolderOfAnExecutableInAVersionFolder) {
  struct Case {
    bool launcher_in_exe_folder;
    bool launcher_in_parent;
    bool parent_expected;
  } const cases[] = {
      {false, true, true},
      {true, true, false},
      {true, false, false},
      {false, false, false},
  };
  for (const Case& c : cases) {
    base::ScopedTempDir parent;
    ASSERT_TRUE(parent.CreateUniqueTempDir());
    const base::FilePath exe_folder = parent.GetPath().Append(L"47.0.4127.0");
    ASSERT_TRUE(base::CreateDirectory(exe_folder));
    if (c.launcher_in_exe_folder)
      WriteText(exe_folder.Append(L"launcher.exe"), "MZ");
    if (c.launcher_in_parent)
      WriteText(parent.GetPath().Append(L"launcher.exe"), "MZ");
    EXPECT_EQ(c.parent_expected ? parent.GetPath() : exe_folder,
              Installation::FolderForExecutableFolder(exe_folder))
        << c.launcher_in_exe_folder << c.launcher_in_parent;
  }
}

TEST_F(InstallationTest, DottedPreferenceNames) {
  auto installation = WithPrefs(
      R"({"a": {"b": true, "n": "12", "x": "12x", "m": "-5", "s": " 7"},)"
      R"( "l": [1, 2], "t": "text"})");
  bool flag = false;
  EXPECT_TRUE(installation->GetBoolPref("a.b", &flag));
  EXPECT_TRUE(flag);
  flag = false;
  EXPECT_TRUE(installation->GetBoolPref(" a . b ", &flag));
  EXPECT_TRUE(flag);
  EXPECT_FALSE(installation->GetBoolPref("a", &flag));
  EXPECT_FALSE(installation->GetBoolPref("a..b", &flag));
  std::string text = "untouched";
  EXPECT_FALSE(installation->GetStringPref("a.b", &text));
  EXPECT_EQ("untouched", text);
  EXPECT_TRUE(installation->GetStringPref("t", &text));
  EXPECT_EQ("text", text);
  const base::ListValue* list = nullptr;
  EXPECT_TRUE(installation->GetListPref("l", &list));
  EXPECT_NE(nullptr, list);
  EXPECT_FALSE(installation->IsSingleProfile());

  // Only a whole decimal number is a number.
  struct Case {
    const char* key;
    bool found;
    int64_t value;
  } const numbers[] = {
      {"a.n", true, 12},  {"a.m", true, -5},  {"a.x", false, 99},
      {"a.s", false, 99}, {"a.b", false, 99}, {"missing", false, 99},
  };
  for (const Case& c : numbers) {
    int64_t value = 99;
    EXPECT_EQ(c.found, installation->GetInt64Pref(c.key, &value)) << c.key;
    EXPECT_EQ(c.value, value) << c.key;
  }
}

TEST_F(InstallationTest, MissingOrBrokenPreferencesFindNothing) {
  for (const char* prefs : {"", "{broken", "[true]"}) {
    auto installation = prefs[0] ? WithPrefs(prefs)
                                 : std::make_unique<InstallationImpl>(folder());
    bool flag = false;
    EXPECT_FALSE(installation->GetBoolPref("single_profile", &flag)) << prefs;
    EXPECT_FALSE(installation->IsSingleProfile()) << prefs;
  }
}

TEST_F(InstallationTest, ProfileDirectories) {
  base::string16 user;
  ASSERT_TRUE(GetCurrentUserName(&user));
  base::FilePath app_data;
  ASSERT_TRUE(base::PathService::Get(base::DIR_APP_DATA, &app_data));
  const base::FilePath kavor = app_data.Append(L"Kavor Software");
  const base::FilePath data = folder().Append(L"profile").Append(L"data");
  struct Case {
    const char* prefs;
    int stream;
    base::FilePath profile;
    base::FilePath root;
  } const cases[] = {
      {R"({"profile_path": "D:\\P\\<USERNAME>"})", 2,
       base::FilePath(L"D:\\P\\" + user), base::FilePath(L"D:\\P")},
      {R"({"profile_path": "D:\\P\\<USERNAME>\\"})", 2,
       base::FilePath(L"D:\\P\\" + user + L"\\"), base::FilePath(L"D:\\P")},
      {R"({"profile_path": "D:\\P\\<USERNAME>\\x"})", 2,
       base::FilePath(L"D:\\P\\" + user + L"\\x"),
       base::FilePath(L"D:\\P\\" + user + L"\\x")},
      {R"({"profile_path": "D:\\P\\<username>"})", 2,
       base::FilePath(L"D:\\P\\<username>"),
       base::FilePath(L"D:\\P\\<username>")},
      {"{}", 2, kavor.Append(L"Kavor Developer"), base::FilePath()},
      {"{}", 7, kavor.Append(L"Kavor developer"), base::FilePath()},
      {R"({"single_profile": true, "profile_path": "D:\\<USERNAME>"})", 1, data,
       data},
  };
  for (const Case& c : cases) {
    auto installation = WithPrefs(c.prefs);
    base::FilePath path;
    EXPECT_TRUE(installation->GetProfileDirectoryForStream(&path, c.stream));
    EXPECT_EQ(c.profile, path) << c.prefs;
    if (!c.root.empty()) {
      EXPECT_TRUE(installation->GetProfileRootDirectory(&path));
      EXPECT_EQ(c.root, path) << c.prefs;
    }
  }

  base::FilePath path;
  EXPECT_FALSE(InstallationImpl(base::FilePath()).GetProfileDirectory(&path));
}

TEST_F(InstallationTest, CacheDirectory) {
  base::FilePath roaming;
  base::FilePath local;
  ASSERT_TRUE(base::PathService::Get(base::DIR_APP_DATA, &roaming));
  ASSERT_TRUE(base::PathService::Get(base::DIR_LOCAL_APP_DATA, &local));
  const base::FilePath relative(L"Kavor Software\\Kavor Developer");
  const base::FilePath elsewhere(L"D:\\Profiles\\bob");

  auto installation = WithPrefs("{}");
  base::FilePath cache;
  installation->GetCacheDirectory(roaming.Append(relative), &cache);
  EXPECT_EQ(local.Append(relative), cache);
  installation->GetCacheDirectory(elsewhere, &cache);
  EXPECT_EQ(elsewhere, cache);

  // A profile folder of the user's choosing keeps its cache inside.
  installation = WithPrefs(R"({"profile_path": "D:\\Profiles\\bob"})");
  installation->GetCacheDirectory(roaming.Append(relative), &cache);
  EXPECT_EQ(roaming.Append(relative), cache);
}

TEST_F(InstallationTest, StatusIsReadOnceAndOnlyWhenNotHandedOver) {
  InstallationStatus status(INSTALLATION_STATUS_GENERATED);
  status.version = "47.0.4127.0";
  status.app_id = L"ABC";
  status.all_users = true;
  const base::FilePath file = folder().Append(L"installation_status.json");

  // A damaged file leaves an empty record, and is not read again once
  // repaired.
  WriteText(file, "{damaged");
  InstallationImpl damaged(folder());
  EXPECT_EQ(INSTALLATION_STATUS_INVALID, damaged.GetStatus()->origin);
  ASSERT_TRUE(JsonInstallationStatusWriter().WriteToFile(status, file));
  EXPECT_EQ(INSTALLATION_STATUS_INVALID, damaged.GetStatus()->origin);
  EXPECT_EQ(L"Autoupdate ", damaged.GetAutoupdateName());

  InstallationImpl read(folder());
  EXPECT_EQ(INSTALLATION_STATUS_PRIMARY, read.GetStatus()->origin);
  EXPECT_EQ(L"KavorSoftware.KavorWebBrowser.ABC", read.GetQualifiedAppId());

  // A status handed over, even a null one, is the status: the file is never
  // read.
  InstallationImpl handed_null(folder(), nullptr);
  EXPECT_EQ(INSTALLATION_STATUS_INVALID, handed_null.GetStatus()->origin);
  EXPECT_TRUE(handed_null.GetStatus()->app_id.empty());
  InstallationImpl handed(folder(), std::make_unique<InstallationStatus>(
                                        INSTALLATION_STATUS_STRING));
  EXPECT_EQ(INSTALLATION_STATUS_STRING, handed.GetStatus()->origin);
}

}  // namespace
}  // namespace installer
