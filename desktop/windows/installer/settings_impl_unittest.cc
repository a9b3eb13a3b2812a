#include "desktop/windows/installer/settings_impl.h"

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "base/base_paths.h"
#include "base/base_paths_win.h"
#include "base/bind.h"
#include "base/command_line.h"
#include "base/environment.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/path_service.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/avro_stats/avro_stats_sender.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/common/tracking_data_dictionary.h"
#include "desktop/windows/installer/installation_folder_details.h"
#include "desktop/windows/installer/installer_utils.h"
#include "desktop/windows/installer/interprocess_state.h"
#include "desktop/windows/installer/os_operations.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::FilePath;

const wchar_t kProductFolder[] = L"Kavor developer";

// Registry keys by (root, view bits, path); the subkeys of a key are the
// stored keys one level below it.
class FakeOsOperations : public OsOperations {
 public:
  struct Key {
    std::map<std::wstring, std::wstring> values;
  };
  struct Drive {
    std::wstring root;
    uint32_t type;
    bool ready;
  };
  using KeyId = std::tuple<HKEY, uint32_t, std::wstring>;

  static uint32_t View(uint32_t access) {
    return access & (KEY_WOW64_32KEY | KEY_WOW64_64KEY);
  }
  Key& AddKey(HKEY root, uint32_t view, const std::wstring& path) {
    return keys_[KeyId(root, view, path)];
  }

  std::map<KeyId, Key> keys_;
  std::vector<Drive> drives_;

  void StoreDefaultBrowserSettings(const Settings&,
                                   const InstallationStatus*) override {}
  std::unique_ptr<RegistryKeyEnumerator> CreateRegistryKeyEnumerator(
      HKEY root, const base::string16& path, uint32_t access) override;
  bool GetAppOutput(const base::CommandLine&, std::string*) override {
    return false;
  }
  std::unique_ptr<DriveEnumerator> CreateDriveInfo() override;
  base::win::ScopedHandle RunElevated(const base::CommandLine&) override {
    return base::win::ScopedHandle();
  }
  uint32_t GetCurrentThreadId() override { return 0; }
  uint32_t GetOsArchitecture() override { return 1; }
};

class FakeKey : public RegistryKeyEnumerator {
 public:
  FakeKey(FakeOsOperations* os, FakeOsOperations::KeyId id)
      : os_(os), id_(std::move(id)) {}
  bool IsValid() override { return os_->keys_.count(id_) != 0; }
  bool ReadValue(const base::string16& name, base::string16* value) override {
    if (!IsValid())
      return false;
    const auto& values = os_->keys_[id_].values;
    auto it = values.find(name);
    if (it == values.end())
      return false;
    *value = it->second;
    return true;
  }
  bool HasValue(const base::string16& name) override {
    base::string16 value;
    return ReadValue(name, &value);
  }
  std::unique_ptr<RegistrySubkeyEnumerator> CreateSubkeyEnumerator() override;
  base::string16 GetName() override {
    const std::wstring& path = std::get<2>(id_);
    return path.substr(path.rfind(L'\\') + 1);
  }

 private:
  FakeOsOperations* os_;
  FakeOsOperations::KeyId id_;
};

class FakeSubkeys : public RegistrySubkeyEnumerator {
 public:
  explicit FakeSubkeys(std::vector<std::unique_ptr<RegistryKeyEnumerator>> keys)
      : keys_(std::move(keys)) {}
  std::unique_ptr<RegistryKeyEnumerator> Next() override {
    return next_ < keys_.size() ? std::move(keys_[next_++]) : nullptr;
  }

 private:
  std::vector<std::unique_ptr<RegistryKeyEnumerator>> keys_;
  size_t next_ = 0;
};

std::unique_ptr<RegistrySubkeyEnumerator> FakeKey::CreateSubkeyEnumerator() {
  std::vector<std::unique_ptr<RegistryKeyEnumerator>> children;
  const std::wstring prefix = std::get<2>(id_) + L"\\";
  for (const auto& entry : os_->keys_) {
    const std::wstring& path = std::get<2>(entry.first);
    if (std::get<0>(entry.first) == std::get<0>(id_) &&
        std::get<1>(entry.first) == std::get<1>(id_) &&
        base::StartsWith(path, prefix, base::CompareCase::SENSITIVE) &&
        path.find(L'\\', prefix.size()) == std::wstring::npos) {
      children.push_back(std::make_unique<FakeKey>(os_, entry.first));
    }
  }
  return std::make_unique<FakeSubkeys>(std::move(children));
}

std::unique_ptr<RegistryKeyEnumerator>
FakeOsOperations::CreateRegistryKeyEnumerator(HKEY root,
                                              const base::string16& path,
                                              uint32_t access) {
  return std::make_unique<FakeKey>(this, KeyId(root, View(access), path));
}

class FakeDrive : public DriveInfo {
 public:
  explicit FakeDrive(const FakeOsOperations::Drive& drive) : drive_(drive) {}
  bool IsReady() override { return drive_.ready; }
  uint32_t GetType() override { return drive_.type; }
  base::string16 GetRootPath() override { return drive_.root; }

 private:
  FakeOsOperations::Drive drive_;
};

class FakeDrives : public DriveEnumerator {
 public:
  explicit FakeDrives(std::vector<FakeOsOperations::Drive> drives)
      : drives_(std::move(drives)) {}
  std::unique_ptr<DriveInfo> Next() override {
    return next_ < drives_.size() ? std::make_unique<FakeDrive>(drives_[next_++])
                                  : nullptr;
  }

 private:
  std::vector<FakeOsOperations::Drive> drives_;
  size_t next_ = 0;
};

std::unique_ptr<DriveEnumerator> FakeOsOperations::CreateDriveInfo() {
  return std::make_unique<FakeDrives>(drives_);
}

class FakeSecurityUtils : public SecurityUtilsImpl {
 public:
  bool IsUserAdmin(bool) override { return admin; }
  bool admin = false;
};

// Folder details as a test wants them; the rest stays empty.
class FakeDetails : public InstallationFolderDetails {
 public:
  void Initialize(const FilePath& path, bool) override { path_ = path; }
  const InstallationStatus* GetInstallationStatus() const override {
    return status.get();
  }
  const FilePath& GetPath() const override { return path_; }
  const FilePath& GetValidParentFolder() const override { return parent_; }
  int32_t GetInstallationFolderProblem() const override { return problem; }
  std::vector<LowSpaceVolume> GetLowSpaceVolumes() const override {
    return low_space;
  }
  bool HasExistingInstallation() const override { return !!status; }
  bool HasExistingInstallationTraces() const override { return false; }
  const std::string& GetStatusReadError() const override { return empty_; }
  const std::string& GetStatusFileContents() const override { return empty_; }
  const std::string& GetWelcomeUrl() const override { return empty_; }
  bool DesktopShortcutExists() const override { return desktop_shortcut; }
  std::optional<bool> GetEnableStats() const override { return enable_stats; }
  bool HasWriteAccess() const override { return true; }
  std::optional<bool> GetImportBrowserData() const override {
    return std::nullopt;
  }
  bool IsHttpHandler() const override { return false; }
  const base::string16& GetLanguage() const override { return language_; }
  int32_t GetOldProductType() const override { return -1; }
  const std::vector<FilePath>& GetPinnedShortcutPaths() const override {
    return pinned_;
  }
  const std::vector<FilePath>& GetSuffixedPinnedShortcutPaths()
      const override {
    return pinned_;
  }
  const FilePath& GetProfilePath() const override { return parent_; }
  bool QuickLaunchShortcutExists() const override { return false; }
  const FilePath& GetTemporaryShortcutFolder() const override {
    return parent_;
  }
  bool TemporaryShortcutFolderExists() const override { return false; }
  const std::string& GetServerTrackingData() const override { return empty_; }
  bool RecreateDesktopShortcut() const override { return false; }
  bool RecreatePinnedShortcut() const override { return false; }
  bool RecreateQuickLaunchShortcut() const override { return false; }
  bool RecreateStartMenuShortcut() const override { return false; }
  std::optional<bool> GetSingleProfile() const override { return std::nullopt; }
  bool StartMenuShortcutExists() const override { return start_menu_shortcut; }
  bool IsExperimentEnabled(const std::string&) const override { return false; }
  const std::string& GetAutoupdateUuid() const override { return empty_; }

  int32_t problem = INSTALLATION_FOLDER_VALID;
  std::unique_ptr<InstallationStatus> status;
  std::vector<LowSpaceVolume> low_space;
  std::optional<bool> enable_stats;
  bool desktop_shortcut = false;
  bool start_menu_shortcut = false;

 private:
  FilePath path_;
  FilePath parent_;
  std::string empty_;
  base::string16 language_;
  std::vector<FilePath> pinned_;
};

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

std::unique_ptr<FakeDetails> Details(
    int32_t problem = INSTALLATION_FOLDER_VALID) {
  auto details = std::make_unique<FakeDetails>();
  details->problem = problem;
  return details;
}

std::unique_ptr<FakeDetails> InstallationDetails() {
  auto details = Details();
  details->status =
      std::make_unique<InstallationStatus>(INSTALLATION_STATUS_PRIMARY);
  return details;
}

class SettingsTest : public testing::Test {
 protected:
  void SetUp() override {
    saved_command_line_ = *base::CommandLine::ForCurrentProcess();
    SetSwitches({});
    SecurityUtilsImpl::SetInstanceForTesting(&security_);
    SetOsOperationsForTesting(&os_);
    SetInstallationFolderDetailsFactoryForTesting(base::BindRepeating(
        []() -> std::unique_ptr<InstallationFolderDetails> {
          return std::make_unique<FakeDetails>();
        }));
  }

  void TearDown() override {
    settings_.reset();
    GetServerTrackingData()->SetString("utm.defbr", "");
    GetServerTrackingData()->SetString("utm.fsce", "");
    SetInstallationFolderDetailsFactoryForTesting(
        InstallationFolderDetailsFactory());
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

  SettingsImpl* Make(const FilePath& folder = FilePath(),
                     uint32_t architecture = ARCHITECTURE_X64) {
    settings_ = std::make_unique<SettingsImpl>(
        folder, architecture, nullptr,
        base::BindRepeating(&SettingsTest::MakeFetcher,
                            base::Unretained(this)));
    return settings_.get();
  }

  base::scoped_refptr<InstallationFolderDetailsFetcher> MakeFetcher(
      const FilePath& path,
      bool recovery_mode) {
    fetchers_.push_back(base::MakeRefCounted<FakeFetcher>(path));
    return fetchers_.back();
  }

  FakeFetcher* LastFetcher() {
    return fetchers_.empty() ? nullptr : fetchers_.back().get();
  }

  // Makes the settings and answers their first fetch with |details|.
  SettingsImpl* MakeWithFolder(std::unique_ptr<FakeDetails> details,
                               const FilePath& folder = FilePath(L"C:\\k")) {
    fetchers_.clear();
    Make(folder);
    EXPECT_EQ(1u, fetchers_.size());
    LastFetcher()->Deliver(std::move(details));
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
      {L"yes", true}, {L"TRUE", true},  {L"2", true},  {L" +3", true},
      {L"-1", true},  {L"7up", true},   {L"no", false}, {L"", false},
      {L"0", false},  {L"-0", false},   {L"yes!", false}, {L"x1", false},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.expected, ParseSwitchBool(c.value)) << c.value;
}

TEST_F(SettingsTest, ReadSwitches) {
  security_.admin = true;
  using Flags = std::map<InstallFlag, bool>;
  const struct {
    std::vector<std::wstring> switches;
    Flags expected;
  } kCases[] = {
      {{}, {{ALL_USERS_FLAG, true}, {DEFAULT_BROWSER, false},
            {QUICK_LAUNCH_SHORTCUT, true}, {SINGLE_PROFILE, false},
            {LAUNCH_KAVOR, true}}},
      {{L"--allusers"}, {{ALL_USERS_FLAG, false}}},
      {{L"--allusers=no"}, {{ALL_USERS_FLAG, false}}},
      {{L"--copyonly=1", L"--setdefaultbrowser=1", L"--desktopshortcut=1",
        L"--allusers=1", L"--install-assistant"},
       {{COPY_ONLY, true}, {DEFAULT_BROWSER, false}, {DESKTOP_SHORTCUT, false},
        {QUICK_LAUNCH_SHORTCUT, false}, {ALL_USERS_FLAG, false},
        {SINGLE_PROFILE, true}, {INSTALL_ASSISTANT, false}}},
      {{L"--copyonly=1", L"--singleprofile=0"}, {{SINGLE_PROFILE, false}}},
      {{L"--copyonly=0", L"--desktopshortcut", L"--install-assistant"},
       {{COPY_ONLY, false}, {DESKTOP_SHORTCUT, false},
        {QUICK_LAUNCH_SHORTCUT, true}, {INSTALL_ASSISTANT, true}}},
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
    SettingsImpl* settings = Make();
    const bool actual[] = {
        settings->GetCopyOnly(),        settings->GetSingleProfile(),
        settings->GetLaunchBrowser(),   settings->GetAllUsers(),
        settings->GetDefaultBrowser(),  settings->GetImportBrowserData(),
        settings->GetInstallAssistant(), settings->GetEnableKavorStats(),
        settings->GetEnableInstallerStats(), settings->GetDesktopShortcut(),
        settings->GetStartMenuShortcut(), settings->GetQuickLaunchShortcut(),
        settings->GetPinnedShortcut(),
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
    std::vector<FakeOsOperations::Drive> drives;
    FilePath desktop;
    const wchar_t* expected;  // null: none
  } kCases[] = {
      {{{L"C:\\", DRIVE_FIXED, true}, {L"E:\\", DRIVE_REMOVABLE, true}},
       kDesktop,
       L"E:\\"},
      {{{L"C:\\", DRIVE_FIXED, true}, {L"E:\\", DRIVE_REMOVABLE, false}},
       kDesktop,
       L"C:\\"},
      {{{L"D:\\", DRIVE_CDROM, true}}, kDesktop, L"C:\\Users\\me\\Desktop"},
      {{{L"D:\\", DRIVE_CDROM, true}}, FilePath(), L"D:\\"},
      {{{L"C:\\", DRIVE_FIXED, true}, {L"D:\\", DRIVE_FIXED, true}},
       FilePath(),
       L"C:\\"},
      {{{L"X:\\", DRIVE_UNKNOWN, true}, {L"Y:\\", DRIVE_NO_ROOT_DIR, true}},
       FilePath(),
       nullptr},
  };
  for (const auto& c : kCases) {
    FakeDrives drives(c.drives);
    std::optional<FilePath> location =
        FindStandaloneLocation(&drives, c.desktop);
    if (!c.expected) {
      EXPECT_FALSE(location);
      continue;
    }
    EXPECT_EQ(FilePath(c.expected).Append(kProductFolder),
              location.value_or(FilePath()));
  }
}

TEST_F(SettingsTest, ComputeDefaultInstallFolder) {
  base::ScopedTempDir registry_dir;
  ASSERT_TRUE(registry_dir.CreateUniqueTempDir());
  os_.AddKey(HKEY_CURRENT_USER, 0, L"Software\\Kavor Software")
      .values[L"Last developer Install Path"] =
      registry_dir.GetPath().value() + L"\\";
  os_.drives_ = {{L"E:\\", DRIVE_REMOVABLE, true}};
  SettingsImpl* settings = Make(FilePath(L"C:/cmd"));

  FilePath program_files, program_files_x86, local_app_data;
  ASSERT_TRUE(
      base::PathService::Get(base::DIR_PROGRAM_FILES6432, &program_files));
  ASSERT_TRUE(
      base::PathService::Get(base::DIR_PROGRAM_FILESX86, &program_files_x86));
  ASSERT_TRUE(base::PathService::Get(base::DIR_LOCAL_APP_DATA, &local_app_data));
  const FilePath kStandalone = FilePath(L"E:\\").Append(kProductFolder);
  const struct {
    uint32_t sources;
    uint32_t architecture;
    bool all_users;
    bool copy_only;
    FilePath expected;
  } kCases[] = {
      {7, ARCHITECTURE_X64, false, false, FilePath(L"C:\\cmd")},
      {3, ARCHITECTURE_X64, false, false, registry_dir.GetPath()},
      {3, ARCHITECTURE_X64, false, true, kStandalone},
      {2, ARCHITECTURE_X64, false, true, FilePath()},
      {1, ARCHITECTURE_X64, true, false, program_files.Append(kProductFolder)},
      {1, ARCHITECTURE_X86, true, false,
       program_files_x86.Append(kProductFolder)},
      // Wine has no per-user program files folder: the documented place
      // stands in for it.
      {1, ARCHITECTURE_X64, false, false,
       local_app_data.Append(L"Programs").Append(kProductFolder)},
      {0, ARCHITECTURE_X64, true, false, FilePath()},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.expected,
              settings->ComputeDefaultInstallFolder(
                  c.sources, c.architecture, c.all_users, c.copy_only))
        << c.sources << " " << c.architecture << c.all_users << c.copy_only;
  }
}

// The real registry objects on real values of the current user's hive.
TEST(LastInstallFolderTest, ValueOrder) {
  base::ScopedTempDir dirs[4];
  for (auto& dir : dirs)
    ASSERT_TRUE(dir.CreateUniqueTempDir());
  const std::wstring kKey = L"Software\\Kavor Software Settings Test";
  const wchar_t* const kNames[] = {
      L"Last developer Install Path x64", L"Last developer Install Path",
      L"Last Stable Install Path", L"Last install path"};
  base::ScopedTempDir file_dir;
  ASSERT_TRUE(file_dir.CreateUniqueTempDir());
  const FilePath kFile = file_dir.GetPath().Append(L"file");
  ASSERT_TRUE(base::WriteFile(kFile, "x", 1));
  const struct {
    // Per value name: an index into |dirs|, -1 absent, -2 the file, -3 a
    // relative path.
    int values[4];
    bool x64;
    int32_t channel;
    int expected;  // index into |dirs|, -1 empty
  } kCases[] = {
      {{0, 1, 2, 3}, true, 4, 0},   {{0, 1, 2, 3}, false, 4, 1},
      {{-1, -1, 2, 3}, true, 4, 2}, {{-1, -1, -1, 3}, true, 4, 3},
      {{-1, -1, -1, 3}, true, 2, -1}, {{-1, -2, 2, 3}, true, 4, -1},
      {{-1, -3, 2, 3}, true, 4, -1},
  };
  for (const auto& c : kCases) {
    base::win::RegKey key(HKEY_CURRENT_USER, kKey.c_str(), KEY_ALL_ACCESS);
    ASSERT_TRUE(key.Valid());
    for (int i = 0; i < 4; ++i) {
      std::wstring value;
      if (c.values[i] >= 0)
        value = dirs[c.values[i]].GetPath().value();
      else if (c.values[i] == -2)
        value = kFile.value();
      else if (c.values[i] == -3)
        value = L"relative\\folder";
      if (c.values[i] == -1)
        (void)key.DeleteValue(kNames[i]);
      else
        ASSERT_EQ(ERROR_SUCCESS, key.WriteStringValue(kNames[i], value.c_str()));
    }
    FilePath expected =
        c.expected < 0 ? FilePath() : dirs[c.expected].GetPath();
    EXPECT_EQ(expected, ReadLastInstallFolder(kKey, c.x64, c.channel))
        << c.values[0] << c.values[1] << c.values[2] << c.values[3] << c.x64
        << c.channel;
  }
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_CURRENT_USER, kKey.c_str()));
}

// An x64 package keeps a remembered folder inside the 32-bit program files
// only when an installation is there.
TEST_F(SettingsTest, X64PackageProbesA32BitRegistryFolder) {
  FilePath program_files_x86;
  ASSERT_TRUE(
      base::PathService::Get(base::DIR_PROGRAM_FILESX86, &program_files_x86));
  base::ScopedTempDir remembered;
  ASSERT_TRUE(remembered.CreateUniqueTempDirUnderPath(program_files_x86));
  os_.AddKey(HKEY_CURRENT_USER, 0, L"Software\\Kavor Software")
      .values[L"Last developer Install Path"] = remembered.GetPath().value();

  Make();
  ASSERT_EQ(1u, fetchers_.size());
  EXPECT_EQ(remembered.GetPath(), LastFetcher()->path);
  LastFetcher()->Deliver(Details());
  ASSERT_EQ(2u, fetchers_.size());
  EXPECT_EQ(settings_->GetDefaultInstallFolder(DEFAULT_FOLDER_STANDARD),
            LastFetcher()->path);
  EXPECT_EQ(OPERATION_NONE, settings_->GetOperation());

  fetchers_.clear();
  Make();
  LastFetcher()->Deliver(InstallationDetails());
  EXPECT_EQ(1u, fetchers_.size());
  EXPECT_EQ(OPERATION_UPGRADE, settings_->GetOperation());
  EXPECT_EQ(remembered.GetPath(), settings_->GetInstallFolder());

  // An x86 package takes the folder as it is.
  fetchers_.clear();
  Make(FilePath(), ARCHITECTURE_X86);
  LastFetcher()->Deliver(Details());
  EXPECT_EQ(1u, fetchers_.size());
  EXPECT_EQ(OPERATION_INSTALL, settings_->GetOperation());
}

TEST_F(SettingsTest, CountStreamUninstallEntries) {
  const std::wstring kUninstall =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
  struct Entry {
    HKEY root;
    uint32_t view;
    const wchar_t* name;
    const wchar_t* publisher;     // null: no value
    const wchar_t* display_name;  // null: no value
  };
  const Entry kOwn = {HKEY_CURRENT_USER, 0, L"Kavor developer",
                      L"Kavor Software AS", L"Kavor developer 47.0"};
  const Entry kOthers[] = {
      {HKEY_CURRENT_USER, 0, L"Other", L"Kavor Software", L"Kavor developer x"},
      {HKEY_CURRENT_USER, 0, L"Kavor a", L"Someone", L"Kavor developer x"},
      {HKEY_CURRENT_USER, 0, L"Kavor b", nullptr, L"Kavor developer x"},
      {HKEY_CURRENT_USER, 0, L"Kavor c", L"Kavor Software", nullptr},
      {HKEY_CURRENT_USER, 0, L"Kavor d", L"Kavor Software", L"Kavor developer"},
      {HKEY_CURRENT_USER, 0, L"Kavor e", L"Kavor Software", L"Kavor Stable 4"},
      {HKEY_CURRENT_USER, 0, L"Kavor f", L"Kavor Software", L"Other developer 4"},
  };
  auto add = [&](const Entry& entry) {
    os_.AddKey(entry.root, entry.view, kUninstall);
    auto& key = os_.AddKey(entry.root, entry.view,
                           kUninstall + L"\\" + entry.name);
    if (entry.publisher)
      key.values[L"Publisher"] = entry.publisher;
    if (entry.display_name)
      key.values[L"DisplayName"] = entry.display_name;
  };
  for (const Entry& entry : kOthers)
    add(entry);
  add(kOwn);
  EXPECT_EQ(1, CountStreamUninstallEntries(2));
  Entry machine = kOwn;
  machine.root = HKEY_LOCAL_MACHINE;
  machine.view = KEY_WOW64_32KEY;
  machine.display_name = L"Kavor Developer 46.0";
  add(machine);
  EXPECT_EQ(2, CountStreamUninstallEntries(2));
  EXPECT_EQ(1, CountStreamUninstallEntries(4));
}

TEST_F(SettingsTest, OperationStaysNoneUntilTheFirstReply) {
  SettingsImpl* settings = Make(FilePath(L"C:/target/x"));
  CountingObserver observer;
  settings->AddObserver(&observer);
  ASSERT_EQ(1u, fetchers_.size());
  EXPECT_EQ(FilePath(L"C:\\target\\x"), LastFetcher()->path);
  EXPECT_EQ(OPERATION_NONE, settings->GetOperation());
  EXPECT_TRUE(settings->IsFetchingFolderDetails());
  EXPECT_TRUE(settings->GetInstallFolder().empty());

  LastFetcher()->Deliver(Details());
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
  LastFetcher()->Deliver(InstallationDetails());
  EXPECT_EQ(OPERATION_NONE, settings->GetOperation());
  EXPECT_TRUE(settings->GetInstallFolder().empty());
  EXPECT_FALSE(settings->SetLaunchBrowser(!launch));
  EXPECT_EQ(launch, settings->GetLaunchBrowser());
  settings->SetInstallFolder(FilePath(L"C:\\b"));
  EXPECT_EQ(1u, fetchers_.size());
}

TEST_F(SettingsTest, UpgradeTakesTheInstallationsChoices) {
  base::ScopedTempDir stats_dir;
  ASSERT_TRUE(stats_dir.CreateUniqueTempDir());
  const FilePath stats_log = stats_dir.GetPath().Append(L"stats.log");
  std::unique_ptr<base::Environment> env = base::Environment::Create();
  ASSERT_TRUE(env->SetVar(kStatsLogFileVariable, stats_log.AsUTF8Unsafe()));
  InitializeAvroStatsSender(
      std::make_unique<AvroMessageSerializer>("guid", "", "1", "developer",
                                              CampaignData()),
      false, true);
  env->UnSetVar(kStatsLogFileVariable);

  SetSwitches({L"--startmenushortcut=0"});
  auto details = InstallationDetails();
  details->status->all_users = true;
  details->desktop_shortcut = false;
  details->start_menu_shortcut = true;
  SettingsImpl* settings = MakeWithFolder(std::move(details));
  DisableAvroStatsSender();
  std::string stats;
  ASSERT_TRUE(base::ReadFileToString(stats_log, &stats));
  EXPECT_EQ("{\"event\":\"status_parsed\",\"status_origin\":\"primary\"}\n",
            stats);
  EXPECT_EQ(OPERATION_UPGRADE, settings->GetOperation());
  EXPECT_TRUE(settings->GetAllUsers());
  EXPECT_FALSE(settings->GetDesktopShortcut());
  EXPECT_FALSE(settings->GetStartMenuShortcut());  // the switch wins
  EXPECT_TRUE(settings->GetPinnedShortcut());
  EXPECT_FALSE(settings->SetAllUsers(false));
  EXPECT_FALSE(settings->SetCopyOnly(true));
  EXPECT_FALSE(settings->SetSingleProfile(true));
  EXPECT_FALSE(settings->GetCopyOnly());
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
  settings->RemoveObserver(&observer);
}

TEST_F(SettingsTest, SetModeMovesADefaultFolder) {
  os_.drives_ = {{L"E:\\", DRIVE_REMOVABLE, true}};
  Make();
  ASSERT_EQ(1u, fetchers_.size());
  SettingsImpl* settings = settings_.get();
  LastFetcher()->Deliver(Details());
  EXPECT_EQ(INSTALL_MODE_CURRENT_USER, settings->GetInstallMode());

  EXPECT_TRUE(settings->SetMode(INSTALL_MODE_STANDALONE));
  EXPECT_EQ(INSTALL_MODE_STANDALONE, settings->GetInstallMode());
  EXPECT_TRUE(settings->GetSingleProfile());
  EXPECT_FALSE(settings->GetDesktopShortcut());
  ASSERT_EQ(2u, fetchers_.size());
  EXPECT_EQ(FilePath(L"E:\\").Append(kProductFolder), LastFetcher()->path);
  LastFetcher()->Deliver(Details());

  EXPECT_TRUE(settings->SetMode(INSTALL_MODE_ALL_USERS));
  EXPECT_TRUE(settings->GetAllUsers());
  EXPECT_FALSE(settings->GetSingleProfile());
  EXPECT_EQ(settings->GetDefaultInstallFolder(DEFAULT_FOLDER_STANDARD),
            LastFetcher()->path);

  // A folder the user chose stays.
  LastFetcher()->Deliver(Details());
  settings->SetInstallFolder(FilePath(L"C:\\mine"));
  LastFetcher()->Deliver(Details());
  EXPECT_TRUE(settings->SetMode(INSTALL_MODE_CURRENT_USER));
  EXPECT_EQ(FilePath(L"C:\\mine"), LastFetcher()->path);
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
      {{}, INSTALLATION_FOLDER_INVALID_PATH, false, RESULT_INVALID_LOCATION,
       kPrefix + "The path is invalid"},
      {{}, INSTALLATION_FOLDER_NOT_ENOUGH_SPACE, false,
       RESULT_NOT_ENOUGH_DISK_SPACE,
       kPrefix + "Not enough disk space: drive C:\\ (400 MB needed), "
                 "drive D:\\ (200 MB needed)"},
      {{L"--uninstall"}, INSTALLATION_FOLDER_VALID, false,
       RESULT_UNINSTALL_ERROR, kPrefix + "Installation does not exist"},
      {{}, 7, false, RESULT_SUCCESS, ""},
  };
  for (const auto& c : kCases) {
    SetLastInstallerError(RESULT_SUCCESS, "");
    SetSwitches(c.switches);
    auto details = Details(c.problem);
    details->low_space = {{FilePath(L"C:\\"), 400}, {FilePath(L"D:\\"), 200}};
    SettingsImpl* settings = MakeWithFolder(std::move(details));
    EXPECT_EQ(OPERATION_NONE == settings->GetOperation(), !c.valid);
    EXPECT_EQ(c.valid, ValidateSettings(settings));
    InstallerResult code;
    std::string message;
    GetLastInstallerError(&code, &message, nullptr);
    EXPECT_EQ(c.code, code) << c.problem;
    EXPECT_EQ(c.message, message);
  }
}

TEST_F(SettingsTest, BackendCommandLines) {
  const std::vector<std::wstring> kCommon = {
      L"--initial-pid=42", L"--v=1", L"--server-tracking-data=abc",
      L"--import-session=1", L"--profile-folder=P"};
  const struct {
    std::vector<std::wstring> switches;
    bool existing;
    bool no_launch;
    std::vector<std::wstring> expected;
  } kCases[] = {
      {{},
       false,
       true,
       {L"--backend", L"--initial-pid=42", L"--v=1", L"--install",
        L"--import-browser-data=1", L"--enable-stats=1",
        L"--enable-installer-stats=1", L"--launchkavor=0",
        L"--installfolder=C:\\k", L"--profile-folder=P", L"--language=en",
        L"--singleprofile=0", L"--copyonly=0", L"--allusers=0",
        L"--setdefaultbrowser=0", L"--startmenushortcut=1",
        L"--desktopshortcut=1", L"--quicklaunchshortcut=1",
        L"--pintotaskbar=1", L"--server-tracking-data=abc",
        L"--import-session=1"}},
      {{L"--copyonly=1"},
       false,
       false,
       {L"--backend", L"--initial-pid=42", L"--v=1", L"--install",
        L"--import-browser-data=1", L"--enable-stats=1",
        L"--enable-installer-stats=1", L"--launchkavor=1",
        L"--installfolder=C:\\k", L"--profile-folder=P", L"--language=en",
        L"--singleprofile=1", L"--copyonly=1", L"--server-tracking-data=abc",
        L"--import-session=1"}},
      {{},
       true,
       false,
       {L"--backend", L"--initial-pid=42", L"--v=1", L"--install",
        L"--import-browser-data=1", L"--enable-stats=1",
        L"--enable-installer-stats=1", L"--launchkavor=1",
        L"--installfolder=C:\\k", L"--profile-folder=P", L"--language=en",
        L"--setdefaultbrowser=0", L"--startmenushortcut=0",
        L"--desktopshortcut=0", L"--quicklaunchshortcut=0",
        L"--pintotaskbar=1", L"--server-tracking-data=abc",
        L"--import-session=1"}},
      {{L"--uninstall", L"--deleteuserprofile=1"},
       true,
       false,
       {L"--backend", L"--initial-pid=42", L"--v=1", L"--uninstall",
        L"--deleteuserprofile=1"}},
      {{L"--fix-downloadable-resources"},
       true,
       false,
       {L"--backend", L"--initial-pid=42", L"--v=1", L"--installfolder=C:\\k",
        L"--allusers=0"}},
  };
  for (const auto& c : kCases) {
    std::vector<std::wstring> switches = kCommon;
    switches.insert(switches.end(), c.switches.begin(), c.switches.end());
    SetSwitches(switches);
    SettingsImpl* settings =
        MakeWithFolder(c.existing ? InstallationDetails() : Details());
    base::CommandLine backend = settings->AppendToCommandLine(
        *base::CommandLine::ForCurrentProcess(), c.no_launch);
    // The feature switches depend on what other tests left in the
    // process-wide registry.
    std::vector<std::wstring> actual;
    for (const std::wstring& item : backend.argv()) {
      if (!item.empty() &&
          !base::StartsWith(item, L"--with-feature:",
                            base::CompareCase::SENSITIVE)) {
        actual.push_back(item);
      }
    }
    EXPECT_EQ(c.expected, actual) << settings->GetOperation();
  }
}

}  // namespace
}  // namespace installer
