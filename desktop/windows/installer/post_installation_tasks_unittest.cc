#include "desktop/windows/installer/post_installation_tasks.h"

#include <windows.h>
#include <tlhelp32.h>

#include <string>
#include <utility>
#include <vector>

#include "base/at_exit.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

const char kMissing[] = "(missing)";

std::string Read(const base::FilePath& path) {
  std::string contents;
  return base::ReadFileToString(path, &contents) ? contents : kMissing;
}

void Write(const base::FilePath& path, const std::string& contents) {
  const int size = static_cast<int>(contents.size());
  ASSERT_TRUE(base::CreateDirectory(path.DirName()) &&
              base::WriteFile(path, contents.data(), size) == size);
}

// The stand-in that records its command lines, as |program|.
void PlaceStandin(const base::FilePath& program) {
  base::FilePath bin;
  ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &bin));
  ASSERT_TRUE(base::CreateDirectory(program.DirName()));
  ASSERT_TRUE(
      base::CopyFile(bin.Append(L"kavor_launcher_standin.exe"), program));
}

// The line the stand-in records for |command_line|.
std::string Line(const base::CommandLine& command_line) {
  return base::WideToUTF8(command_line.GetCommandLineString()) + "\r\n";
}

class PostInstallationTasksTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.CreateUniqueTempDir()); }

  base::MessageLoop loop_;
  // The profile stores live on the process's preference pool, which ends
  // with the test.
  base::AtExitManager exit_manager_;
  base::ScopedTempDir dir_;
};

// Bits of the partner files: 1 the partner content, 2 the tracking file.
TEST_F(PostInstallationTasksTest, ProfileEdits) {
  const char kEn[] = R"({"intl":{"app_locale":"en"}})";
  const char kDe[] = R"({"intl":{"app_locale":"de"}})";
  const char kDeFlagged[] =
      R"({"custom_partner_content":{"updated":true},"intl":{"app_locale":"de"}})";
  const char kStats[] =
      R"({"statistics":{"collection_enabled":true,"other":1}})";
  const char kNoStats[] = R"({"statistics":{"other":1}})";
  const struct {
    const char* label;
    const char* local_state;
    const char* preferences;
    bool autoupdate;
    int package, profile_before;
    const char* local_state_after;
    const char* preferences_after;
    int profile_after;
    const char* partner_after;
  } kCases[] = {
      // clang-format off
      {"nothing to bring", kEn, kStats, 0, 0, 0, kDe, kNoStats, 0, kMissing},
      {"no locale chosen", R"({"other":1})", kStats, 0, 0, 0,
       R"({"other":1})", kNoStats, 0, kMissing},
      {"new partner content", kEn, kStats, 0, 3, 0, kDeFlagged, kNoStats, 1,
       "new"},
      {"package tracking only", kEn, kStats, 0, 2, 0, kDe, kNoStats, 0,
       kMissing},
      {"profile has tracking", kEn, kStats, 0, 1, 2, kDe, kNoStats, 2,
       kMissing},
      {"profile has partner", kEn, kStats, 0, 3, 1, kDe, kNoStats, 1, "old"},
      {"partner content taken away", kEn, kStats, 0, 0, 3, kDeFlagged,
       kNoStats, 0, kMissing},
      {"tracking taken away", kEn, kStats, 0, 0, 2, kDe, kNoStats, 0,
       kMissing},
      {"autoupdate", kEn, kStats, 1, 1, 0, kDe, kStats, 0, kMissing},
      {"autoupdate keeps partner", kEn, kStats, 1, 0, 3, kDe, kStats, 3,
       "old"},
      {"damaged files", "{bad", "{bad", 0, 0, 3, "{bad", "{bad", 3, "old"},
      {"no Local State", nullptr, kStats, 0, 1, 0, kMissing, kNoStats, 0,
       kMissing},
      // clang-format on
  };
  const char* const kFiles[] = {"custom_partner_content.json",
                                "tracking_user_agent.json"};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    const base::FilePath root = dir_.GetPath().AppendASCII(c.label);
    const base::FilePath profile = root.Append(L"profile");
    const base::FilePath target = root.Append(L"install\\47.0.4127.0");
    Write(profile.Append(L"Preferences"), c.preferences);
    if (c.local_state)
      Write(profile.Append(L"Local State"), c.local_state);
    for (int i = 0; i < 2; ++i) {
      if (c.package & (1 << i))
        Write(target.Append(L"resources").AppendASCII(kFiles[i]), "new");
      if (c.profile_before & (1 << i))
        Write(profile.AppendASCII(kFiles[i]), "old");
    }

    UpdateUserProfile(profile, L"de", target, c.autoupdate);

    EXPECT_EQ(c.local_state_after, Read(profile.Append(L"Local State")));
    EXPECT_EQ(c.preferences_after, Read(profile.Append(L"Preferences")));
    int profile_after = 0;
    for (int i = 0; i < 2; ++i)
      profile_after |= base::PathExists(profile.AppendASCII(kFiles[i])) << i;
    EXPECT_EQ(c.profile_after, profile_after);
    EXPECT_EQ(c.partner_after, Read(profile.AppendASCII(kFiles[0])));
    EXPECT_FALSE(base::PathExists(profile.Append(L"Preferences.bad")) ||
                 base::PathExists(profile.Append(L"Local State.bad")));
  }
}

// The launcher is maximized on a new installation only, gets the import
// choices, and has ended by the time the launch returns.
TEST_F(PostInstallationTasksTest, BrowserLaunch) {
  const base::FilePath install = dir_.GetPath().Append(L"install");
  const base::FilePath launcher = install.Append(L"launcher.exe");
  PlaceStandin(launcher);
  base::CommandLine installer(base::FilePath(L"installer.exe"));
  installer.AppendSwitchASCII("import-bookmarks", "1");
  installer.AppendSwitchASCII("import-topsites-to-startdial", "0");
  installer.AppendSwitch("silent");
  using Switches = std::vector<std::pair<const char*, const char*>>;
  const struct {
    bool upgrade, imports;
    Switches expected;
  } kCases[] = {
      {false, false, {{"start-maximized", ""}}},
      {true, false, {}},
      {true,
       true,
       {{"import-bookmarks", "1"}, {"import-topsites-to-startdial", "0"}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.upgrade << c.imports);
    const base::FilePath calls = install.Append(L"launcher_calls.txt");
    ASSERT_TRUE(base::DeleteFile(calls, false));
    LaunchBrowser(install,
                  c.imports ? installer
                            : base::CommandLine(base::CommandLine::NO_PROGRAM),
                  c.upgrade);
    base::CommandLine expected(launcher);
    for (const auto& entry : c.expected)
      expected.AppendSwitchASCII(entry.first, entry.second);
    EXPECT_EQ(Line(expected), Read(calls));
  }
}

// Waits for the programs named |*_installer.exe| that this process started
// and that still run, so that what they record is on disk.
void WaitForComponentInstallers() {
  base::win::ScopedHandle snapshot(
      ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  ASSERT_TRUE(snapshot.IsValid());
  PROCESSENTRY32W entry = {sizeof(entry)};
  for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
       more = ::Process32NextW(snapshot.Get(), &entry)) {
    const std::wstring name = entry.szExeFile;
    const std::wstring kSuffix = L"_installer.exe";
    if (entry.th32ParentProcessID != ::GetCurrentProcessId() ||
        name.size() < kSuffix.size() ||
        name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix)) {
      continue;
    }
    base::win::ScopedHandle child(
        ::OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID));
    if (child.IsValid()) {
      EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(child.Get(), 30000));
    }
  }
}

// Records from the status file start a component's installer only by a
// bare name in an absolute folder; both invalid records below would name
// dir\comp\assistant_installer.exe.
TEST_F(PostInstallationTasksTest, ComponentRecordsThatAreStarted) {
  const base::FilePath dir = dir_.GetPath();
  PlaceStandin(dir.Append(L"comp").Append(L"assistant_installer.exe"));
  PlaceStandin(dir.Append(L"other").Append(L"viewer_installer.exe"));
  base::FilePath current;
  ASSERT_TRUE(base::GetCurrentDirectory(&current));
  ASSERT_TRUE(base::SetCurrentDirectory(dir));
  InstallationStatus status;
  status.components = {
      {"assistant", base::FilePath(L"comp")},
      {"comp\\assistant", dir},
      {"viewer", dir.Append(L"other")},
  };
  LaunchComponentPostElevationTasks(status);
  ASSERT_TRUE(base::SetCurrentDirectory(current));
  WaitForComponentInstallers();
  EXPECT_EQ(kMissing,
            Read(dir.Append(L"comp").Append(L"assistant_installer_calls.txt")));
  base::CommandLine viewer(
      dir.Append(L"other").Append(L"viewer_installer.exe"));
  viewer.AppendSwitch("post-elevated-install-tasks");
  viewer.AppendSwitchPath("installfolder", dir.Append(L"other"));
  EXPECT_EQ(Line(viewer),
            Read(dir.Append(L"other").Append(L"viewer_installer_calls.txt")));
}

}  // namespace
}  // namespace installer
