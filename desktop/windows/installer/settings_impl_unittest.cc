#include "desktop/windows/installer/settings_impl.h"

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/base_paths_win.h"
#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_util.h"
#include "base/test/scoped_log_lines.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/avro_stats/avro_codec.h"
#include "desktop/windows/installer/avro_stats/avro_stats_sender.h"
#include "desktop/windows/installer/avro_stats/statistics_schema.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/common/tracking_data_dictionary.h"
#include "desktop/windows/installer/installation_folder_details_impl.h"
#include "desktop/windows/installer/installer_utils.h"
#include "desktop/windows/installer/interprocess_state.h"
#include "desktop/windows/installer/os_operations_impl.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::FilePath;

const wchar_t kProductFolder[] = L"Kavor developer";
const wchar_t kCompanyKey[] = L"Software\\Kavor Software";
const wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

struct FakeDriveRecord {
  const wchar_t* root;
  uint32_t type;
  bool ready;
};

// Keeps what is sent so that tests can look into the messages.
class KeepingStatsSender : public AvroStatsSender {
 public:
  explicit KeepingStatsSender(
      std::vector<std::unique_ptr<AvroStatsMessage>>* sent)
      : sent_(sent) {}
  void Send(std::unique_ptr<AvroStatsMessage> message) override {
    sent_->push_back(std::move(message));
  }
  void SetTrafficAllowed(bool allowed) override {}
  void SendPendingAndShutdown(base::OnceClosure done) override {
    std::move(done).Run();
  }

 private:
  std::vector<std::unique_ptr<AvroStatsMessage>>* const sent_;
};

class FakeDrives : public DriveEnumerator {
  class Drive : public DriveInfo {
   public:
    explicit Drive(const FakeDriveRecord& record) : record_(record) {}
    bool IsReady() override { return record_.ready; }
    uint32_t GetType() override { return record_.type; }
    base::string16 GetRootPath() override { return record_.root; }

   private:
    const FakeDriveRecord record_;
  };

 public:
  explicit FakeDrives(std::vector<FakeDriveRecord> drives)
      : drives_(std::move(drives)) {}
  std::unique_ptr<DriveInfo> Next() override {
    return next_ < drives_.size() ? std::make_unique<Drive>(drives_[next_++])
                                  : nullptr;
  }

 private:
  std::vector<FakeDriveRecord> drives_;
  size_t next_ = 0;
};

// The real registry objects with made-up drives.
class FakeOsOperations : public OsOperationsImpl {
 public:
  std::unique_ptr<DriveEnumerator> CreateDriveInfo() override {
    return std::make_unique<FakeDrives>(drives);
  }
  std::vector<FakeDriveRecord> drives;
};

class FakeSecurityUtils : public SecurityUtilsImpl {
 public:
  bool IsUserAdmin(bool) override { return admin; }
  bool admin = false;
};

// Folder details as a test wants them; the rest as an unexamined folder
// answers.
class FakeDetails : public InstallationFolderDetailsImpl {
 public:
  void Initialize(const FilePath& path, bool) override { path_ = path; }
  const InstallationStatus* GetInstallationStatus() const override {
    return status.get();
  }
  const FilePath& GetPath() const override { return path_; }
  int32_t GetInstallationFolderProblem() const override { return problem; }
  std::vector<LowSpaceVolume> GetLowSpaceVolumes() const override {
    return low_space;
  }
  bool HasExistingInstallation() const override { return !!status; }
  bool HasWriteAccess() const override { return true; }
  bool StartMenuShortcutExists() const override { return start_menu; }
  const FilePath& GetProfilePath() const override { return profile; }

  int32_t problem = INSTALLATION_FOLDER_VALID;
  FilePath profile;
  std::unique_ptr<InstallationStatus> status;
  std::vector<LowSpaceVolume> low_space;
  bool start_menu = false;

 private:
  FilePath path_;
};

std::unique_ptr<FakeDetails> Details(int32_t problem = 0,
                                     bool installation = false) {
  auto details = std::make_unique<FakeDetails>();
  details->problem = problem;
  if (installation) {
    details->status =
        std::make_unique<InstallationStatus>(INSTALLATION_STATUS_PRIMARY);
  }
  return details;
}

// Holds the reply until the test delivers details; a cancelled fetch never
// replies, as the real fetcher promises.
class FakeFetcher : public InstallationFolderDetailsFetcher {
 public:
  explicit FakeFetcher(const FilePath& path) : path(path) {}
  void FetchStatus(Reply reply) override { reply_ = std::move(reply); }
  void Cancel() override {
    cancelled = true;
    reply_.Reset();
  }
  void Deliver(std::unique_ptr<FakeDetails> details) {
    details->Initialize(path, false);
    if (reply_)
      std::move(reply_).Run(std::move(details));
  }

  const FilePath path;
  bool cancelled = false;

 private:
  ~FakeFetcher() override = default;
  Reply reply_;
};

class CountingObserver : public SettingsObserver {
 public:
  void OnSettingsChanged() override { ++settings_changed; }
  void OnLanguageChanged() override {}
  void OnPathChanged() override { ++path_changed; }
  int settings_changed = 0;
  int path_changed = 0;
};

class SettingsTest : public testing::Test {
 protected:
  void SetUp() override {
    saved_command_line_ = *base::CommandLine::ForCurrentProcess();
    SetSwitches({});
    SecurityUtilsImpl::SetInstanceForTesting(&security_);
    SetOsOperationsForTesting(&os_);
    SetInstallationFolderDetailsFactoryForTesting(
        base::BindRepeating([]() -> std::unique_ptr<InstallationFolderDetails> {
          return std::make_unique<FakeDetails>();
        }));
  }

  void TearDown() override {
    settings_.reset();
    RegDeleteKeyW(HKEY_CURRENT_USER, kCompanyKey);
    GetServerTrackingData()->SetString("utm.defbr", "");
    GetServerTrackingData()->SetString("utm.fsce", "");
    SetInstallationFolderDetailsFactoryForTesting({});
    SetOsOperationsForTesting(nullptr);
    SecurityUtilsImpl::SetInstanceForTesting(nullptr);
    *base::CommandLine::ForCurrentProcess() = saved_command_line_;
  }

  // The process command line of the run: the program and |switches|.
  void SetSwitches(const std::vector<std::wstring>& switches) {
    std::vector<std::wstring> argv = {L"kavor_setup.exe"};
    argv.insert(argv.end(), switches.begin(), switches.end());
    *base::CommandLine::ForCurrentProcess() = base::CommandLine(argv);
  }

  // A last-install-path value in the current user's hive.
  void SetRegistryFolder(const wchar_t* name, const FilePath& folder) {
    base::win::RegKey key(HKEY_CURRENT_USER, kCompanyKey, KEY_SET_VALUE);
    ASSERT_EQ(ERROR_SUCCESS,
              key.WriteStringValue(name, folder.value().c_str()));
  }

  SettingsImpl* Make(
      const FilePath& folder = FilePath(),
      InstallerArchitecture architecture = InstallerArchitecture::X64) {
    fetchers_.clear();
    settings_ = std::make_unique<SettingsImpl>(
        folder, architecture, nullptr,
        base::BindRepeating(&SettingsTest::MakeFetcher,
                            base::Unretained(this)));
    return settings_.get();
  }

  base::scoped_refptr<InstallationFolderDetailsFetcher> MakeFetcher(
      const FilePath& path, bool recovery_mode) {
    fetchers_.push_back(base::MakeRefCounted<FakeFetcher>(path));
    return fetchers_.back();
  }

  FakeFetcher* Last() { return fetchers_.back().get(); }

  // Makes the settings and answers their first fetch with |details|.
  SettingsImpl* MakeWithFolder(std::unique_ptr<FakeDetails> details) {
    Make(FilePath(L"C:\\k"));
    EXPECT_EQ(1u, fetchers_.size());
    Last()->Deliver(std::move(details));
    return settings_.get();
  }

  base::CommandLine saved_command_line_{base::CommandLine::NO_PROGRAM};
  FakeSecurityUtils security_;
  FakeOsOperations os_;
  std::vector<base::scoped_refptr<FakeFetcher>> fetchers_;
  std::unique_ptr<SettingsImpl> settings_;
};

TEST(ParseSwitchBoolTest, Values) {
  const struct {
    const wchar_t* value;
    bool expected;
  } kCases[] = {
      {L"yes", true}, {L"TRUE", true}, {L"2", true},     {L" +3", true},
      {L"-1", true},  {L"7up", true},  {L"no", false},   {L"", false},
      {L"0", false},  {L"-0", false},  {L"yes!", false}, {L"x1", false},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.expected, ParseSwitchBool(c.value)) << c.value;
}

TEST_F(SettingsTest, ReadSwitches) {
  security_.admin = true;
  const struct {
    std::vector<std::wstring> switches;
    std::map<InstallFlag, bool> expected;
  } kCases[] = {
      {{},
       {{ALL_USERS_FLAG, true},
        {DEFAULT_BROWSER, false},
        {QUICK_LAUNCH_SHORTCUT, true},
        {SINGLE_PROFILE, false},
        {LAUNCH_KAVOR, true}}},
      {{L"--allusers"}, {{ALL_USERS_FLAG, false}}},
      {{L"--copyonly=1", L"--setdefaultbrowser=1", L"--desktopshortcut=1",
        L"--allusers=1", L"--install-assistant"},
       {{COPY_ONLY, true},
        {DEFAULT_BROWSER, false},
        {DESKTOP_SHORTCUT, false},
        {QUICK_LAUNCH_SHORTCUT, false},
        {ALL_USERS_FLAG, false},
        {SINGLE_PROFILE, true},
        {INSTALL_ASSISTANT, false}}},
      {{L"--copyonly=1", L"--singleprofile=0"}, {{SINGLE_PROFILE, false}}},
      {{L"--copyonly=0", L"--desktopshortcut", L"--install-assistant"},
       {{COPY_ONLY, false},
        {DESKTOP_SHORTCUT, false},
        {QUICK_LAUNCH_SHORTCUT, true},
        {INSTALL_ASSISTANT, true}}},
      {{L"--enable-stats=0", L"--enable-installer-stats=1"},
       {{ENABLE_KAVOR_STATS, false}, {ENABLE_INSTALLER_STATS, true}}},
      {{L"--enable-stats=0"},
       {{ENABLE_KAVOR_STATS, false}, {ENABLE_INSTALLER_STATS, false}}},
      {{L"--launchbrowser=0"}, {{LAUNCH_KAVOR, false}}},
      {{L"--launchkavor=1", L"--launchbrowser=0"}, {{LAUNCH_KAVOR, true}}},
      {{L"--setdefaultbrowser=true", L"--pintotaskbar=0"},
       {{DEFAULT_BROWSER, true}, {PINNED_SHORTCUT, false}}},
  };
  for (const auto& c : kCases) {
    SetSwitches(c.switches);
    SettingsImpl* s = Make();
    // Indexed by flag.
    const bool actual[] = {
        s->GetCopyOnly(),
        s->GetSingleProfile(),
        s->GetLaunchBrowser(),
        s->GetAllUsers(),
        s->GetDefaultBrowser(),
        s->GetImportBrowserData(),
        s->GetInstallAssistant(),
        s->GetEnableKavorStats(),
        s->GetEnableInstallerStats(),
        s->GetDesktopShortcut(),
        s->GetStartMenuShortcut(),
        s->GetQuickLaunchShortcut(),
        s->GetPinnedShortcut(),
    };
    for (const auto& flag : c.expected) {
      EXPECT_EQ(flag.second, actual[flag.first])
          << InstallFlagToString(flag.first) << " with "
          << base::CommandLine::ForCurrentProcess()->GetCommandLineString();
    }
  }
}

TEST_F(SettingsTest, TrackingDataOverridesSwitchesAndRunsImmediately) {
  GetServerTrackingData()->SetString("utm.defbr", "false");
  GetServerTrackingData()->SetString("utm.fsce", "true");
  SetSwitches({L"--setdefaultbrowser=1", L"--enable-stats=0"});
  SettingsImpl* settings = Make();
  EXPECT_FALSE(settings->GetDefaultBrowser());
  EXPECT_TRUE(settings->GetEnableKavorStats());
  EXPECT_TRUE(settings->GetEnableInstallerStats());
  EXPECT_TRUE(settings->GetRunImmediately());

  // A standalone copy ignores the tracking data.
  SetSwitches({L"--copyonly=1", L"--enable-stats=0"});
  settings = Make();
  EXPECT_FALSE(settings->GetEnableKavorStats());
  EXPECT_FALSE(settings->GetRunImmediately());
}

TEST(StandaloneLocationTest, BestDriveOrDesktop) {
  const FilePath kDesktop(L"C:\\Users\\me\\Desktop");
  const struct {
    std::vector<FakeDriveRecord> drives;
    FilePath desktop;
    const wchar_t* expected;  // null: none
    const char* log;          // the candidate count line
  } kCases[] = {
      {{{L"C:\\", DRIVE_FIXED, true}, {L"E:\\", DRIVE_REMOVABLE, true}},
       kDesktop,
       L"E:\\",
       "Found 3 paths for standalone install mode."},
      {{{L"C:\\", DRIVE_FIXED, true}, {L"E:\\", DRIVE_REMOVABLE, false}},
       kDesktop,
       L"C:\\",
       "Found 2 paths for standalone install mode."},
      {{{L"D:\\", DRIVE_CDROM, true}},
       kDesktop,
       L"C:\\Users\\me\\Desktop",
       "Found 2 paths for standalone install mode."},
      {{{L"D:\\", DRIVE_CDROM, true}},
       FilePath(),
       L"D:\\",
       "Found 1 paths for standalone install mode."},
      {{{L"C:\\", DRIVE_FIXED, true}, {L"D:\\", DRIVE_FIXED, true}},
       FilePath(),
       L"C:\\",
       "Found 2 paths for standalone install mode."},
      // Candidates that can never be chosen still count.
      {{{L"X:\\", DRIVE_UNKNOWN, true}, {L"Y:\\", DRIVE_NO_ROOT_DIR, true}},
       FilePath(),
       nullptr,
       "Found 2 paths for standalone install mode."},
  };
  for (const auto& c : kCases) {
    FakeDrives drives(c.drives);
    base::ScopedLogLines lines(base::logging::LOG_INFO,
                               base::logging::LOG_INFO);
    std::optional<FilePath> location =
        FindStandaloneLocation(&drives, c.desktop);
    EXPECT_EQ(c.expected ? FilePath(c.expected).Append(kProductFolder)
                         : FilePath(L"(none)"),
              location.value_or(FilePath(L"(none)")));
    EXPECT_EQ(std::vector<std::string>{c.log}, lines.lines());
  }
}

TEST_F(SettingsTest, ComputeDefaultInstallFolder) {
  base::ScopedTempDir remembered;
  ASSERT_TRUE(remembered.CreateUniqueTempDir());
  SetRegistryFolder(L"Last developer Install Path",
                    FilePath(remembered.GetPath().value() + L"\\"));
  os_.drives = {{L"E:\\", DRIVE_REMOVABLE, true}};
  SettingsImpl* settings = Make(FilePath(L"C:/cmd"));

  FilePath program_files, program_files_x86, local_app_data;
  ASSERT_TRUE(
      base::PathService::Get(base::DIR_PROGRAM_FILES6432, &program_files));
  ASSERT_TRUE(
      base::PathService::Get(base::DIR_PROGRAM_FILESX86, &program_files_x86));
  ASSERT_TRUE(
      base::PathService::Get(base::DIR_LOCAL_APP_DATA, &local_app_data));
  const struct {
    uint32_t sources;
    InstallerArchitecture architecture;
    bool all_users;
    bool copy_only;
    FilePath expected;
  } kCases[] = {
      {7, InstallerArchitecture::X64, false, false, FilePath(L"C:\\cmd")},
      {3, InstallerArchitecture::X64, false, false, remembered.GetPath()},
      {3, InstallerArchitecture::X64, false, true,
       FilePath(L"E:\\").Append(kProductFolder)},
      {2, InstallerArchitecture::X64, false, true, FilePath()},
      {1, InstallerArchitecture::X64, true, false,
       program_files.Append(kProductFolder)},
      {1, InstallerArchitecture::X86, true, false,
       program_files_x86.Append(kProductFolder)},
      // Wine has no per-user program files folder: the documented place
      // stands in for it.
      {1, InstallerArchitecture::X64, false, false,
       local_app_data.Append(L"Programs").Append(kProductFolder)},
      {0, InstallerArchitecture::X64, true, false, FilePath()},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.expected,
              settings->ComputeDefaultInstallFolder(c.sources, c.architecture,
                                                    c.all_users, c.copy_only))
        << c.sources << " " << static_cast<int>(c.architecture) << c.all_users
        << c.copy_only;
  }
}

TEST_F(SettingsTest, LastInstallFolderValueOrder) {
  base::ScopedTempDir dirs[4];
  for (auto& dir : dirs)
    ASSERT_TRUE(dir.CreateUniqueTempDir());
  const FilePath kFile = dirs[0].GetPath().Append(L"file");
  ASSERT_TRUE(base::WriteFile(kFile, "x", 1));
  const wchar_t* const kNames[] = {
      L"Last developer Install Path x64", L"Last developer Install Path",
      L"Last Stable Install Path", L"Last install path"};
  const struct {
    // Per value name: an index into |dirs|, -1 absent, -2 the file, -3 a
    // relative path.
    int values[4];
    bool x64;
    int32_t channel;
    int expected;  // index into |dirs|, -1 empty
  } kCases[] = {
      {{0, 1, 2, 3}, true, 4, 0},     {{0, 1, 2, 3}, false, 4, 1},
      {{-1, -1, 2, 3}, true, 4, 2},   {{-1, -1, -1, 3}, true, 4, 3},
      {{-1, -1, -1, 3}, true, 2, -1}, {{-1, -2, 2, 3}, true, 4, -1},
      {{-1, -3, 2, 3}, true, 4, -1},
  };
  for (const auto& c : kCases) {
    RegDeleteKeyW(HKEY_CURRENT_USER, kCompanyKey);
    for (int i = 0; i < 4; ++i) {
      if (c.values[i] != -1) {
        SetRegistryFolder(kNames[i],
                          c.values[i] >= 0    ? dirs[c.values[i]].GetPath()
                          : c.values[i] == -2 ? kFile
                                              : FilePath(L"relative\\f"));
      }
    }
    EXPECT_EQ(c.expected < 0 ? FilePath() : dirs[c.expected].GetPath(),
              ReadLastInstallFolder(kCompanyKey, c.x64, c.channel))
        << c.values[0] << c.values[1] << c.values[2] << c.values[3] << c.x64
        << c.channel;
  }
}

// An x64 package keeps a remembered folder inside the 32-bit program files
// only when an installation is there; an x86 package takes it as it is.
TEST_F(SettingsTest, X64PackageProbesA32BitRegistryFolder) {
  FilePath program_files_x86;
  ASSERT_TRUE(
      base::PathService::Get(base::DIR_PROGRAM_FILESX86, &program_files_x86));
  base::ScopedTempDir remembered;
  ASSERT_TRUE(remembered.CreateUniqueTempDirUnderPath(program_files_x86));
  SetRegistryFolder(L"Last developer Install Path", remembered.GetPath());

  Make();
  EXPECT_EQ(remembered.GetPath(), Last()->path);
  Last()->Deliver(Details());
  ASSERT_EQ(2u, fetchers_.size());
  EXPECT_EQ(settings_->GetDefaultInstallFolder(DEFAULT_FOLDER_STANDARD),
            Last()->path);
  EXPECT_EQ(OPERATION_NONE, settings_->GetOperation());

  Make();
  Last()->Deliver(Details(0, true));
  EXPECT_EQ(1u, fetchers_.size());
  EXPECT_EQ(OPERATION_UPGRADE, settings_->GetOperation());
  EXPECT_EQ(remembered.GetPath(), settings_->GetInstallFolder());

  Make(FilePath(), InstallerArchitecture::X86);
  Last()->Deliver(Details());
  EXPECT_EQ(1u, fetchers_.size());
  EXPECT_EQ(OPERATION_INSTALL, settings_->GetOperation());
}

TEST_F(SettingsTest, CountStreamUninstallEntries) {
  // 0: none, else the machine's 32-bit or 64-bit view.
  const REGSAM kUser = 0;
  const struct {
    REGSAM machine_view;
    const wchar_t* name;
    const wchar_t* publisher;     // null: no value
    const wchar_t* display_name;  // null: no value
  } kEntries[] = {
      {kUser, L"Other", L"Kavor Software", L"Kavor developer x"},
      {kUser, L"Kavor a", L"Someone", L"Kavor developer x"},
      {kUser, L"Kavor b", nullptr, L"Kavor developer x"},
      {kUser, L"Kavor c", L"Kavor Software", nullptr},
      {kUser, L"Kavor d", L"Kavor Software", L"Kavor developer"},
      {kUser, L"Kavor e", L"Kavor Software", L"Kavor Stable 4"},
      {kUser, L"Kavor f", L"Kavor Software AS", L"Kavor developer 47.0"},
      {KEY_WOW64_32KEY, L"Kavor g", L"Kavor Software", L"Kavor Developer 46"},
      {KEY_WOW64_64KEY, L"Kavor h", L"Kavor Software", L"Kavor Stable 5"},
      {kUser, L"Kavor i", L"Kavor Software", L"Kavor nightly 1"},
      {kUser, L"Kavor j", L"Kavor Software", L"Kavor Nightly 1"},
      {KEY_WOW64_64KEY, L"Kavor k", L"Kavor Software", L"Kavor beta 1"},
      {kUser, L"Kavor l", L"Kavor Software", L"Kavor next 1"},
      {KEY_WOW64_32KEY, L"Kavor m", L"Kavor Software", L"Kavor Next 2"},
  };
  for (const auto& entry : kEntries) {
    base::win::RegKey key(
        entry.machine_view ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER,
        (std::wstring(kUninstallKey) + L"\\" + entry.name).c_str(),
        KEY_SET_VALUE | entry.machine_view);
    if (entry.publisher)
      (void)key.WriteStringValue(L"Publisher", entry.publisher);
    if (entry.display_name)
      (void)key.WriteStringValue(L"DisplayName", entry.display_name);
  }
  // Per stream: nightly "i"; developer "f" and "g"; next "k" and "m";
  // release "e" and "h".
  int counts[4];
  for (int stream = 1; stream <= 4; ++stream)
    counts[stream - 1] = CountStreamUninstallEntries(stream);
  // An uninstall run of this (developer) build counts; its backend does not.
  SetSwitches({L"--uninstall"});
  const bool single_stream = Make()->IsSingleStreamInstallation();
  SetSwitches({L"--uninstall", L"--backend"});
  const bool backend_single_stream = Make()->IsSingleStreamInstallation();
  for (const auto& entry : kEntries) {
    RegDeleteKeyExW(entry.machine_view ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER,
                    (std::wstring(kUninstallKey) + L"\\" + entry.name).c_str(),
                    entry.machine_view, 0);
  }
  EXPECT_EQ(1, counts[0]);
  EXPECT_EQ(2, counts[1]);
  EXPECT_EQ(2, counts[2]);
  EXPECT_EQ(2, counts[3]);
  EXPECT_FALSE(single_stream);
  EXPECT_TRUE(backend_single_stream);
}

TEST_F(SettingsTest, OperationStaysNoneUntilTheFirstReply) {
  SettingsImpl* settings = Make(FilePath(L"C:/target/x"));
  CountingObserver observer;
  settings->AddObserver(&observer);
  ASSERT_EQ(1u, fetchers_.size());
  EXPECT_EQ(FilePath(L"C:\\target\\x"), Last()->path);
  EXPECT_EQ(OPERATION_NONE, settings->GetOperation());
  EXPECT_TRUE(settings->IsFetchingFolderDetails());
  EXPECT_TRUE(settings->GetInstallFolder().empty());

  Last()->Deliver(Details());
  EXPECT_EQ(OPERATION_INSTALL, settings->GetOperation());
  EXPECT_FALSE(settings->IsFetchingFolderDetails());
  EXPECT_EQ(FilePath(L"C:\\target\\x"), settings->GetInstallFolder());
  EXPECT_EQ(1, observer.path_changed);

  // The same folder (the drive letter's case aside) is not examined again.
  settings->SetInstallFolder(std::wstring(L"c:\\target\\x"));
  EXPECT_EQ(1u, fetchers_.size());
  settings->SetInstallFolder(FilePath(L"C:\\target\\X"));
  EXPECT_EQ(2u, fetchers_.size());
  settings->RemoveObserver(&observer);
}

TEST_F(SettingsTest, NewFolderCancelsThePendingFetch) {
  SettingsImpl* settings = Make(FilePath(L"C:\\a"));
  settings->SetInstallFolder(FilePath(L"C:\\b"));
  ASSERT_EQ(2u, fetchers_.size());
  EXPECT_TRUE(fetchers_[0]->cancelled);
  fetchers_[1]->Deliver(Details());
  EXPECT_EQ(FilePath(L"C:\\b"), settings->GetInstallFolder());

  settings->SetInstallFolder(FilePath(L"C:\\c"));
  settings_.reset();
  EXPECT_TRUE(fetchers_[2]->cancelled);
}

TEST_F(SettingsTest, FrozenSettingsDropReplies) {
  SettingsImpl* settings = Make(FilePath(L"C:\\a"));
  const bool launch = settings->GetLaunchBrowser();
  settings->SetEditable(false);
  Last()->Deliver(Details(0, true));
  EXPECT_EQ(OPERATION_NONE, settings->GetOperation());
  EXPECT_TRUE(settings->GetInstallFolder().empty());
  EXPECT_FALSE(settings->SetLaunchBrowser(!launch));
  EXPECT_EQ(launch, settings->GetLaunchBrowser());
  settings->SetInstallFolder(FilePath(L"C:\\b"));
  EXPECT_EQ(1u, fetchers_.size());
}

TEST_F(SettingsTest, UpgradeTakesTheInstallationsChoices) {
  std::vector<std::unique_ptr<AvroStatsMessage>> sent;
  SetAvroStatsSenderForTesting(std::make_unique<KeepingStatsSender>(&sent));
  SetSwitches({L"--desktopshortcut=1"});
  auto details = Details(0, true);
  details->status->all_users = true;
  details->start_menu = true;
  SettingsImpl* settings = MakeWithFolder(std::move(details));
  DisableAvroStatsSender();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ("status_parsed", sent[0]->GetName());
  AvroDatum root(GetStatisticsSchema());
  sent[0]->FillDatum(&root);
  AvroDatum* status = root.FieldByPath("installer_event.status_data");
  ASSERT_TRUE(status);
  EXPECT_EQ("primary", status->FieldByPath("source")->GetString());
  // No tracking values and no uuid outside an uninstall: both stay null.
  EXPECT_EQ(0u, status->FieldByName("uuid")->branch_index());
  EXPECT_EQ(0u, status->FieldByName("tracking_data")->branch_index());
  EXPECT_EQ(OPERATION_UPGRADE, settings->GetOperation());
  EXPECT_TRUE(settings->GetAllUsers());
  EXPECT_TRUE(settings->GetDesktopShortcut());  // the switch wins
  EXPECT_TRUE(settings->GetStartMenuShortcut());
  EXPECT_FALSE(settings->GetQuickLaunchShortcut());
  EXPECT_TRUE(settings->GetPinnedShortcut());
  EXPECT_FALSE(settings->SetAllUsers(false));
  EXPECT_FALSE(settings->SetCopyOnly(true));
  EXPECT_FALSE(settings->SetSingleProfile(true));
}

// Only an uninstall of an installation with a profile offers deleting it.
TEST_F(SettingsTest, OffersDeleteProfile) {
  auto details = Details(0, true);
  details->profile = FilePath(L"C:\\profile");
  EXPECT_FALSE(MakeWithFolder(std::move(details))->OffersDeleteProfile());

  SetSwitches({L"--uninstall"});
  for (const wchar_t* profile : {L"C:\\profile", L""}) {
    SettingsImpl* settings = Make();
    ASSERT_FALSE(fetchers_.empty());
    auto uninstalled = Details(0, true);
    uninstalled->profile = FilePath(profile);
    Last()->Deliver(std::move(uninstalled));
    EXPECT_EQ(*profile != L'\0', settings->OffersDeleteProfile()) << profile;
  }
}

TEST_F(SettingsTest, Setters) {
  SettingsImpl* settings = MakeWithFolder(Details());
  CountingObserver observer;
  settings->AddObserver(&observer);
  EXPECT_TRUE(settings->SetEnableStats(false));
  EXPECT_FALSE(settings->GetEnableKavorStats());
  EXPECT_FALSE(settings->GetEnableInstallerStats());
  EXPECT_FALSE(settings->SetDeleteProfile(true));  // not an uninstall run

  ASSERT_TRUE(settings->SetCopyOnly(true));
  EXPECT_FALSE(settings->SetDesktopShortcut(true));
  EXPECT_FALSE(settings->SetDefaultBrowser(true));
  EXPECT_FALSE(settings->GetDefaultBrowser());
  ASSERT_TRUE(settings->SetCopyOnly(false));
  EXPECT_TRUE(settings->GetDesktopShortcut());
  EXPECT_TRUE(settings->GetStartMenuShortcut());
  EXPECT_TRUE(settings->GetQuickLaunchShortcut());
  EXPECT_TRUE(settings->GetPinnedShortcut());
  EXPECT_EQ(4, observer.settings_changed);

  // An installation's folder makes the switches be read again: the explicit
  // choices stay (the default browser's too, which copy-only refused), and
  // none of these writes is announced as a settings change.
  ASSERT_TRUE(settings->SetImportBrowserData(false));
  observer.settings_changed = 0;
  settings->SetInstallFolder(FilePath(L"C:\\old"));
  Last()->Deliver(Details(0, true));
  EXPECT_EQ(OPERATION_UPGRADE, settings->GetOperation());
  EXPECT_TRUE(settings->GetDefaultBrowser());
  EXPECT_FALSE(settings->GetImportBrowserData());
  EXPECT_FALSE(settings->GetEnableKavorStats());
  EXPECT_FALSE(settings->GetEnableInstallerStats());
  EXPECT_EQ(0, observer.settings_changed);
  EXPECT_EQ(1, observer.path_changed);
  settings->RemoveObserver(&observer);
}

TEST_F(SettingsTest, SetModeMovesADefaultFolder) {
  os_.drives = {{L"E:\\", DRIVE_REMOVABLE, true}};
  SettingsImpl* settings = Make();
  Last()->Deliver(Details());
  EXPECT_EQ(INSTALL_MODE_CURRENT_USER, settings->GetInstallMode());

  EXPECT_TRUE(settings->SetMode(INSTALL_MODE_STANDALONE));
  EXPECT_EQ(INSTALL_MODE_STANDALONE, settings->GetInstallMode());
  EXPECT_TRUE(settings->GetSingleProfile());
  EXPECT_FALSE(settings->GetDesktopShortcut());
  ASSERT_EQ(2u, fetchers_.size());
  EXPECT_EQ(FilePath(L"E:\\").Append(kProductFolder), Last()->path);
  Last()->Deliver(Details());

  EXPECT_TRUE(settings->SetMode(INSTALL_MODE_ALL_USERS));
  EXPECT_TRUE(settings->GetAllUsers());
  EXPECT_FALSE(settings->GetSingleProfile());
  EXPECT_EQ(settings->GetDefaultInstallFolder(DEFAULT_FOLDER_STANDARD),
            Last()->path);

  // A folder the user chose stays.
  Last()->Deliver(Details());
  settings->SetInstallFolder(FilePath(L"C:\\mine"));
  Last()->Deliver(Details());
  EXPECT_TRUE(settings->SetMode(INSTALL_MODE_CURRENT_USER));
  EXPECT_EQ(FilePath(L"C:\\mine"), Last()->path);
}

// A new choice is compared with the folder being examined, not the one the
// settings hold: going back to the current folder before the other one's
// reply ends on the current folder.
TEST_F(SettingsTest, ChoiceIsComparedWithTheFolderBeingExamined) {
  MakeWithFolder(Details());
  ASSERT_EQ(FilePath(L"C:\\k"), settings_->GetInstallFolder());

  settings_->SetInstallFolder(FilePath(L"C:\\a"));
  ASSERT_EQ(2u, fetchers_.size());
  FakeFetcher* examining_a = Last();
  // The same folder again: its examination goes on.
  settings_->SetInstallFolder(FilePath(L"C:\\a"));
  EXPECT_EQ(2u, fetchers_.size());
  EXPECT_FALSE(examining_a->cancelled);

  settings_->SetInstallFolder(FilePath(L"C:\\k"));
  ASSERT_EQ(3u, fetchers_.size());
  EXPECT_TRUE(examining_a->cancelled);
  EXPECT_EQ(FilePath(L"C:\\k"), Last()->path);
  Last()->Deliver(Details());
  EXPECT_EQ(FilePath(L"C:\\k"), settings_->GetInstallFolder());
  EXPECT_FALSE(settings_->IsFetchingFolderDetails());

  // Nothing pending: the held folder is not examined again.
  settings_->SetInstallFolder(FilePath(L"C:\\k"));
  EXPECT_EQ(3u, fetchers_.size());
}

TEST_F(SettingsTest, ValidateSettings) {
  ScopedInstallerErrorRecord record;
  const std::string kPrefix =
      "Attempting to start installation with invalid settings\n";
  const struct {
    std::vector<std::wstring> switches;
    int32_t problem;
    bool valid;
    InstallerResult code;
    std::string message;
  } kCases[] = {
      {{}, INSTALLATION_FOLDER_VALID, true, RESULT_SUCCESS, ""},
      {{},
       INSTALLATION_FOLDER_INVALID_PATH,
       false,
       RESULT_INVALID_LOCATION,
       kPrefix + "The path is invalid"},
      {{},
       INSTALLATION_FOLDER_NOT_ENOUGH_SPACE,
       false,
       RESULT_NOT_ENOUGH_DISK_SPACE,
       kPrefix + "Not enough disk space: drive C:\\ (400 MB needed), "
                 "drive D:\\ (200 MB needed)"},
      {{L"--uninstall"},
       INSTALLATION_FOLDER_VALID,
       false,
       RESULT_UNINSTALL_ERROR,
       kPrefix + "Installation does not exist"},
      {{}, 7, false, RESULT_SUCCESS, ""},
  };
  for (const auto& c : kCases) {
    SetLastInstallerError(RESULT_SUCCESS, "");
    SetSwitches(c.switches);
    auto details = Details(c.problem);
    details->low_space = {{FilePath(L"C:\\"), 400}, {FilePath(L"D:\\"), 200}};
    SettingsImpl* settings = MakeWithFolder(std::move(details));
    EXPECT_EQ(c.valid, ValidateSettings(settings)) << c.problem;
    EXPECT_EQ(c.valid ? OPERATION_INSTALL : OPERATION_NONE,
              settings->GetOperation())
        << c.problem;
    InstallerResult code;
    std::string message;
    GetLastInstallerError(&code, &message, nullptr);
    EXPECT_EQ(c.code, code) << c.problem;
    EXPECT_EQ(c.message, message);
  }
}

TEST_F(SettingsTest, BackendCommandLines) {
  using Items = std::vector<std::wstring>;
  const Items kHead = {L"--backend", L"--initial-pid=42", L"--v=1"};
  const Items kInstall = {L"--install", L"--import-browser-data=1",
                          L"--enable-stats=1", L"--enable-installer-stats=1"};
  const Items kFolder = {L"--installfolder=C:\\k", L"--profile-folder=P",
                         L"--language=en"};
  const Items kTail = {L"--server-tracking-data=abc", L"--import-session=1"};
  const Items kShortcuts = {L"--setdefaultbrowser=0", L"--startmenushortcut=1",
                            L"--desktopshortcut=1", L"--quicklaunchshortcut=1",
                            L"--pintotaskbar=1"};
  auto join = [](std::initializer_list<Items> parts) {
    Items all;
    for (const Items& part : parts)
      all.insert(all.end(), part.begin(), part.end());
    return all;
  };
  const struct {
    Items switches;
    bool installation;
    bool no_launch;
    Items expected;
  } kCases[] = {
      {{},
       false,
       true,
       join({kHead,
             kInstall,
             {L"--launchkavor=0"},
             kFolder,
             {L"--singleprofile=0", L"--copyonly=0", L"--allusers=0"},
             kShortcuts,
             kTail})},
      {{L"--copyonly=1", L"--enable-stats=0", L"--enable-installer-stats=1"},
       false,
       false,
       join({kHead,
             {L"--install", L"--import-browser-data=1", L"--enable-stats=0",
              L"--enable-installer-stats=1", L"--launchkavor=1"},
             kFolder,
             {L"--singleprofile=1", L"--copyonly=1"},
             kTail})},
      {{L"--pintotaskbar=0"},
       true,
       false,
       join({kHead,
             kInstall,
             {L"--launchkavor=1"},
             kFolder,
             {L"--setdefaultbrowser=0", L"--startmenushortcut=0",
              L"--desktopshortcut=0", L"--quicklaunchshortcut=0",
              L"--pintotaskbar=0"},
             kTail})},
      // Each shortcut switch is passed on with its own flag's value.
      {{L"--desktopshortcut=0", L"--startmenushortcut=1",
        L"--quicklaunchshortcut=0", L"--pintotaskbar=1"},
       false,
       false,
       join({kHead,
             kInstall,
             {L"--launchkavor=1"},
             kFolder,
             {L"--singleprofile=0", L"--copyonly=0", L"--allusers=0"},
             {L"--setdefaultbrowser=0", L"--startmenushortcut=1",
              L"--desktopshortcut=0", L"--quicklaunchshortcut=0",
              L"--pintotaskbar=1"},
             kTail})},
      {{L"--desktopshortcut=1", L"--startmenushortcut=0",
        L"--setdefaultbrowser=1", L"--pintotaskbar=0"},
       false,
       false,
       join({kHead,
             kInstall,
             {L"--launchkavor=1"},
             kFolder,
             {L"--singleprofile=0", L"--copyonly=0", L"--allusers=0"},
             {L"--setdefaultbrowser=1", L"--startmenushortcut=0",
              L"--desktopshortcut=1", L"--quicklaunchshortcut=1",
              L"--pintotaskbar=0"},
             kTail})},
      {{L"--uninstall", L"--deleteuserprofile=1"},
       true,
       false,
       join({kHead, {L"--uninstall", L"--deleteuserprofile=1"}})},
      {{L"--fix-downloadable-resources"},
       true,
       false,
       join({kHead, {L"--installfolder=C:\\k", L"--allusers=0"}})},
      {{L"--register-kavor-as-protocol-handler"}, true, false, kHead},
  };
  for (const auto& c : kCases) {
    SetSwitches(
        join({{L"--initial-pid=42", L"--v=1", L"--server-tracking-data=abc",
               L"--import-session=1", L"--profile-folder=P"},
              c.switches}));
    SettingsImpl* settings = MakeWithFolder(Details(0, c.installation));
    base::CommandLine backend = settings->AppendToCommandLine(
        *base::CommandLine::ForCurrentProcess(), c.no_launch);
    // The feature switches depend on what other tests left in the
    // process-wide registry.
    Items actual;
    for (const std::wstring& item : backend.argv()) {
      if (!item.empty() && !base::StartsWith(item, L"--with-feature:",
                                             base::CompareCase::SENSITIVE)) {
        actual.push_back(item);
      }
    }
    EXPECT_EQ(c.expected, actual) << settings->GetOperation();
  }
}

}  // namespace
}  // namespace installer
