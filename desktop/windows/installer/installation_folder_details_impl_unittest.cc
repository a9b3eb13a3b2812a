#include "desktop/windows/installer/installation_folder_details_impl.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/at_exit.h"
#include "base/base_paths_win.h"
#include "base/bind.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/scoped_com_initializer.h"
#include "base/win/shortcut.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/service/global_storage_win.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "desktop/windows/installer/service/taskband_utils.h"
#include "desktop/windows/installer/test/scoped_registry_roots.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

constexpr int64_t kMb = 1024 * 1024;

// Answers every access question with |answer| and remembers what was asked.
class FakeSecurityUtils : public SecurityUtilsImpl {
 public:
  bool HasAccess(const base::string16& object_name,
                 SE_OBJECT_TYPE,
                 uint32_t desired_access) override {
    asked.push_back({object_name, desired_access});
    return answer;
  }

  bool answer = true;
  std::vector<std::pair<base::string16, uint32_t>> asked;
};

// Pinned shortcuts by file name: their target and app id.
class FakeShortcutReader : public ShortcutPropertiesReader {
 public:
  void ReadTargetAndAppId(const base::FilePath& shortcut,
                          base::win::ShortcutProperties* properties) override {
    auto it = pins.find(shortcut.BaseName().value());
    if (it == pins.end())
      return;
    properties->set_target(it->second.first);
    properties->set_app_id(it->second.second);
  }
  std::map<base::string16, std::pair<base::FilePath, base::string16>> pins;
};

bool WriteText(const base::FilePath& path, const std::string& text) {
  return base::WriteFile(path, text.data(), static_cast<int>(text.size())) ==
         static_cast<int>(text.size());
}

class InstallationFolderDetailsImplTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_dir_.CreateUniqueTempDir());
    SecurityUtilsImpl::SetInstanceForTesting(&security_);
  }
  void TearDown() override {
    GlobalStorageWin::SetInstanceForTesting(nullptr);
    SecurityUtilsImpl::SetInstanceForTesting(nullptr);
  }

  const base::FilePath& Dir() const { return temp_dir_.GetPath(); }

  // Examines |path| with every volume answering |free_mb| unless the test
  // set its own answers.
  std::unique_ptr<InstallationFolderDetailsImpl> Examine(
      const base::FilePath& path) {
    auto details = std::make_unique<InstallationFolderDetailsImpl>(
        base::BindRepeating(&InstallationFolderDetailsImplTest::FreeSpace,
                            base::Unretained(this)),
        std::make_unique<TaskbandUtilsImpl>(nullptr, &shortcut_reader_));
    details->Initialize(path, false);
    return details;
  }

  int64_t FreeSpace(const base::FilePath& volume) {
    queried_volumes_.push_back(volume.value());
    auto it = free_mb_.find(volume.value());
    const int64_t mb = it != free_mb_.end() ? it->second : default_free_mb_;
    return mb < 0 ? -1 : mb * kMb;
  }

  // The status file of a current-user installation in Dir(), with the
  // members of |extra| (a JSON object) added or replaced.
  void WriteStatus(const std::string& extra = "{}") {
    base::DictionaryValue status;
    status.SetString("version", "47.0.4127.0");
    status.SetBoolean("copy_only", false);
    status.SetBoolean("_all_users", false);
    status.SetString("path", Dir().value());
    status.SetString("_subfolder", "47.0.4127.0");
    status.Set("files", std::make_unique<base::ListValue>());
    status.Set("registry", std::make_unique<base::DictionaryValue>());
    std::unique_ptr<base::Value> changes = base::JSONReader::Read(extra);
    const base::DictionaryValue* changes_dict = nullptr;
    ASSERT_TRUE(changes && changes->GetAsDictionary(&changes_dict)) << extra;
    status.MergeDictionary(changes_dict);
    std::string json;
    ASSERT_TRUE(base::JSONWriter::Write(status, &json));
    ASSERT_TRUE(WriteText(Dir().Append(L"installation_status.json"), json));
  }

  // The prefs store releases its pool on this thread at exit.
  base::MessageLoop loop_;
  base::AtExitManager exit_manager_;
  base::win::ScopedCOMInitializer com_;
  base::ScopedTempDir temp_dir_;
  FakeSecurityUtils security_;
  FakeShortcutReader shortcut_reader_;
  int64_t default_free_mb_ = 100000;
  std::map<base::string16, int64_t> free_mb_;
  std::vector<base::string16> queried_volumes_;
  // The autoupdate storage of a test that needs one of its own.
  std::unique_ptr<GlobalStorageWin> storage_;
};

// |length| characters: |parent|, then parts of at most 100 below it.
base::FilePath FolderOfLength(const base::FilePath& parent, size_t length) {
  base::string16 path = parent.value();
  while (path.size() + 2 < length) {
    const size_t part = std::min<size_t>(100, length - path.size() - 1);
    path += L"\\" + base::string16(part, L'k');
  }
  path.append(length - path.size(), L'k');
  return base::FilePath(path);
}

TEST_F(InstallationFolderDetailsImplTest, UnusablePathsAreProblemOne) {
  const base::FilePath file = Dir().Append(L"file.txt");
  ASSERT_TRUE(WriteText(file, "x"));
  const std::string kNotWindows =
      "is not a valid Windows folder path (too long, a device name, a part "
      "ending in a dot or blank or a character Windows refuses)";
  // The longest name made of the folder is the folder-permission undo
  // event's: "Local\\KavorInstaller/GiveInstallPermission/Undo/" and the
  // folder, fewer than MAX_PATH characters in all.
  const std::string kTooLong =
      "is too long: the names of the installation's kernel objects, which "
      "carry the folder, would pass the system's limit; at most 211 "
      "characters fit";
  const struct {
    base::FilePath path;
    std::string reason;
  } kCases[] = {
      {base::FilePath(), "is empty"},
      {base::FilePath(L"Kavor\\Browser"), "is relative"},
      {file, "is a file"},
      // Refused by name only: the system would drop the dot and find Dir().
      {base::FilePath(Dir().value() + L"."), kNotWindows},
      {Dir().Append(L"CON"), kNotWindows},
      {Dir().Append(L"aux.txt\\x"), kNotWindows},
      {base::FilePath(L"Q:\\Kavor"),  // no such drive under Wine
       "is on no drive or share that can be reached"},
      {base::FilePath(L"\\\\server\\share\\Kavor"),
       "is on no drive or share that can be reached"},
      {FolderOfLength(Dir(), 212), kTooLong},
      {FolderOfLength(Dir(), 230), kTooLong},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.path.value());
    queried_volumes_.clear();
    auto details = Examine(c.path);
    EXPECT_EQ(INSTALLATION_FOLDER_INVALID_PATH,
              details->GetInstallationFolderProblem());
    EXPECT_EQ(c.reason, details->GetInvalidPathReason());
    EXPECT_TRUE(details->GetValidParentFolder().empty());
    EXPECT_FALSE(details->HasWriteAccess());
    // Nothing past the validity check runs for such a path.
    EXPECT_TRUE(queried_volumes_.empty());
  }
  EXPECT_TRUE(security_.asked.empty());
}

TEST_F(InstallationFolderDetailsImplTest, LongestFolderTheNamesHoldIsUsable) {
  const base::FilePath folder = FolderOfLength(Dir(), 211);
  ASSERT_EQ(211u, folder.value().size());
  auto details = Examine(folder);
  EXPECT_EQ(INSTALLATION_FOLDER_VALID, details->GetInstallationFolderProblem());
  EXPECT_EQ("", details->GetInvalidPathReason());
  EXPECT_EQ(Dir(), details->GetValidParentFolder());
}

TEST_F(InstallationFolderDetailsImplTest, WriteAccessIsAskedOfNearestFolder) {
  const base::FilePath file = Dir().Append(L"file.txt");
  ASSERT_TRUE(WriteText(file, "x"));
  struct {
    base::FilePath path;
    base::FilePath valid_parent;
    uint32_t rights;  // 0: not asked
  } const cases[] = {
      // An existing folder: read, write and execute of the folder itself.
      {Dir(), Dir(), 0x1201BF},
      // Not there yet: adding a subfolder to the nearest existing ancestor.
      {Dir().Append(L"a\\b\\c"), Dir(), FILE_ADD_SUBDIRECTORY},
      // Below a file: usable as far as the path goes, but nothing to ask.
      {file.Append(L"sub\\folder"), base::FilePath(), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.value());
    security_.asked.clear();
    security_.answer = !security_.answer;
    auto details = Examine(c.path);
    EXPECT_EQ(INSTALLATION_FOLDER_VALID,
              details->GetInstallationFolderProblem());
    EXPECT_EQ(c.valid_parent, details->GetValidParentFolder());
    if (c.rights) {
      ASSERT_EQ(1u, security_.asked.size());
      EXPECT_EQ(Dir().value(), security_.asked[0].first);
      EXPECT_EQ(c.rights, security_.asked[0].second);
    } else {
      EXPECT_TRUE(security_.asked.empty());
    }
    EXPECT_EQ(c.rights && security_.answer, details->HasWriteAccess());
  }
}

TEST_F(InstallationFolderDetailsImplTest, LauncherWithoutStatusIsATrace) {
  auto empty = Examine(Dir());
  EXPECT_FALSE(empty->HasExistingInstallationTraces());

  ASSERT_TRUE(WriteText(Dir().Append(L"launcher.exe"), "MZ"));
  auto details = Examine(Dir());
  EXPECT_FALSE(details->HasExistingInstallation());
  EXPECT_TRUE(details->HasExistingInstallationTraces());
  EXPECT_EQ(nullptr, details->GetInstallationStatus());
}

TEST_F(InstallationFolderDetailsImplTest, DiskSpaceOfTempAndTargetVolumes) {
  // The temporary folder and Dir() lie on C:; Z: is another volume.
  struct {
    const wchar_t* path;  // null: Dir() with a lower-case drive letter
    int64_t c_free_mb;
    int64_t z_free_mb;
    std::vector<LowSpaceVolume> expected;
  } const cases[] = {
      {nullptr, 300, 100000, {{base::FilePath(L"C:"), 400}}},
      {nullptr, 400, 0, {}},
      {nullptr, -1, 100000, {{base::FilePath(L"C:"), 400}}},
      {L"Z:\\kavor-details-test\\Kavor",
       150,
       1000,
       {{base::FilePath(L"C:"), 200}}},
      {L"Z:\\kavor-details-test\\Kavor",
       1000,
       199,
       {{base::FilePath(L"Z:"), 200}}},
      // The temporary folder's volume comes first.
      {L"Z:\\kavor-details-test\\Kavor",
       199,
       199,
       {{base::FilePath(L"C:"), 200}, {base::FilePath(L"Z:"), 200}}},
      // A query that fails counts as too little on either volume.
      {L"Z:\\kavor-details-test\\Kavor",
       1000,
       -1,
       {{base::FilePath(L"Z:"), 200}}},
      {L"Z:\\kavor-details-test\\Kavor",
       -1,
       1000,
       {{base::FilePath(L"C:"), 200}}},
  };
  for (const auto& c : cases) {
    base::FilePath path(c.path ? c.path : base::ToLowerASCII(Dir().value()));
    SCOPED_TRACE(path.value() + L" " + std::to_wstring(c.c_free_mb));
    ASSERT_EQ(L'C', base::ToUpperASCII(Dir().value())[0]);
    free_mb_ = {{L"C:", c.c_free_mb}, {L"Z:", c.z_free_mb}};
    auto details = Examine(path);
    const std::vector<LowSpaceVolume> low = details->GetLowSpaceVolumes();
    ASSERT_EQ(c.expected.size(), low.size());
    for (size_t i = 0; i < low.size(); ++i) {
      EXPECT_EQ(c.expected[i].volume, low[i].volume);
      EXPECT_EQ(c.expected[i].required_mb, low[i].required_mb);
    }
    EXPECT_EQ(c.expected.empty() ? INSTALLATION_FOLDER_VALID
                                 : INSTALLATION_FOLDER_NOT_ENOUGH_SPACE,
              details->GetInstallationFolderProblem());
  }
}

// The system's answer for a volume that isn't there is a failure, and the
// examination counts a failed query as too little space.
TEST_F(InstallationFolderDetailsImplTest, FailedSystemQueryIsTooLittleSpace) {
  const DWORD drives = ::GetLogicalDrives();
  wchar_t missing = 0;
  for (wchar_t letter = L'Y'; letter >= L'D' && !missing; --letter) {
    if (!(drives & (1u << (letter - L'A'))))
      missing = letter;
  }
  ASSERT_NE(0, missing) << "every drive letter is in use";
  const base::FilePath missing_volume(base::string16(1, missing) + L":");
  EXPECT_EQ(-1, QueryFreeDiskSpace(missing_volume));
  EXPECT_GT(QueryFreeDiskSpace(base::FilePath(L"C:")), 0);

  // Every volume the examination asks about is answered by the system for
  // the missing one.
  InstallationFolderDetailsImpl details(
      base::BindRepeating(
          [](const base::FilePath& volume, const base::FilePath& asked) {
            return QueryFreeDiskSpace(volume);
          },
          missing_volume),
      std::make_unique<TaskbandUtilsImpl>(nullptr, &shortcut_reader_));
  details.Initialize(Dir(), false);
  EXPECT_EQ(INSTALLATION_FOLDER_NOT_ENOUGH_SPACE,
            details.GetInstallationFolderProblem());
  const std::vector<LowSpaceVolume> low = details.GetLowSpaceVolumes();
  ASSERT_EQ(1u, low.size());
  EXPECT_EQ(base::FilePath(L"C:"), low[0].volume);
  EXPECT_EQ(400u, low[0].required_mb);
}

// Needs the JSON status reader.
TEST_F(InstallationFolderDetailsImplTest, StatusFlagsAreNormalised) {
  const std::string kKey =
      "[{\"path\":\"Software\\\\Kavor\",\"clean\":0,\"values\":[]}]";
  struct {
    std::string status;
    bool copy_only;
    bool all_users;
  } const cases[] = {
      {"{\"copy_only\":true,\"_all_users\":true}", true, false},
      {"{\"copy_only\":true,\"registry\":{\"HKCU\":" + kKey + "}}", false,
       false},
      {"{\"copy_only\":true,\"shortcuts\":{\"SC_DEST_MENU\":\"m.lnk\"}}", false,
       false},
      {"{\"registry\":{\"HKLM\":" + kKey + "}}", false, true},
      {"{\"_all_users\":true}", false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    WriteStatus(c.status);
    auto details = Examine(Dir());
    ASSERT_TRUE(details->HasExistingInstallation())
        << details->GetStatusReadError();
    EXPECT_EQ(c.copy_only, details->GetInstallationStatus()->copy_only);
    EXPECT_EQ(c.all_users, details->GetInstallationStatus()->all_users);
  }
}

TEST_F(InstallationFolderDetailsImplTest, HttpHandlerIsTheFoldersLauncher) {
  WriteStatus();
  const std::wstring ours =
      L"\"" + Dir().Append(L"launcher.exe").value() + L"\" -- \"%1\"";
  for (const std::wstring& command : {ours, std::wstring(L"other.exe")}) {
    test::ScopedRegistryRoots roots;
    base::win::RegKey key(HKEY_CURRENT_USER,
                          L"Software\\Classes\\http\\shell\\open\\command",
                          KEY_SET_VALUE);
    ASSERT_EQ(ERROR_SUCCESS, key.WriteStringValue(nullptr, command.c_str()));
    EXPECT_EQ(command == ours, Examine(Dir())->IsHttpHandler()) << command;
  }
}

TEST_F(InstallationFolderDetailsImplTest, UnusableStatusFileIsReported) {
  struct {
    std::string contents;
    const char* ending;  // of the error text
  } const cases[] = {
      {"{\"version\": 4", ""},
      {"", " Status file empty."},
  };
  const std::string kPrefix = "Kavor JSON status file status file, ";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.contents);
    ASSERT_TRUE(
        WriteText(Dir().Append(L"installation_status.json"), c.contents));
    auto details = Examine(Dir());
    EXPECT_FALSE(details->HasExistingInstallation());
    EXPECT_TRUE(base::StartsWith(details->GetStatusReadError(), kPrefix,
                                 base::CompareCase::SENSITIVE))
        << details->GetStatusReadError();
    const std::string& error = details->GetStatusReadError();
    const std::string ending(c.ending);
    EXPECT_TRUE(
        error.size() >= ending.size() &&
        error.compare(error.size() - ending.size(), ending.size(), ending) == 0)
        << error;
    EXPECT_EQ(c.contents, details->GetStatusFileContents());
  }
}

// Needs the JSON status reader.
TEST_F(InstallationFolderDetailsImplTest, InstallationPrefsAndTrackingData) {
  WriteStatus();
  ASSERT_TRUE(WriteText(Dir().Append(L"server_tracking_data"), "blob\n"));
  ASSERT_TRUE(WriteText(
      Dir().Append(L"installer_prefs.json"),
      "{\"single_profile\":true,\"import_browser_data\":\"yes\","
      "\"enable_stats\":false,\"language\":\"nb\","
      "\"welcome-url\":\"https://kavor.example/welcome\","
      "\"all-installer-experiments\":[\"installer-experiment-test@1\","
      "\"installer-use-minimal-package@2\"]}"));
  auto details = Examine(Dir());
  ASSERT_TRUE(details->HasExistingInstallation())
      << details->GetStatusReadError();
  EXPECT_EQ("blob\n", details->GetServerTrackingData());
  EXPECT_EQ(std::optional<bool>(true), details->GetSingleProfile());
  EXPECT_EQ(std::nullopt, details->GetImportBrowserData());
  EXPECT_EQ(std::optional<bool>(false), details->GetEnableStats());
  EXPECT_EQ(L"nb", details->GetLanguage());
  EXPECT_EQ("https://kavor.example/welcome", details->GetWelcomeUrl());
  EXPECT_TRUE(details->IsExperimentEnabled("installer-experiment-test"));
  EXPECT_FALSE(details->IsExperimentEnabled("installer-use-minimal-package"));
  EXPECT_EQ(-1, details->GetOldProductType());
}

// Examining a folder never changes it, even when its preferences are
// damaged: the file is read as it is and left in place.
TEST_F(InstallationFolderDetailsImplTest, DamagedPrefsAreLeftAsTheyAre) {
  WriteStatus();
  const base::FilePath prefs = Dir().Append(L"installer_prefs.json");
  ASSERT_TRUE(WriteText(prefs, "{\"language\":\"nb\""));
  auto details = Examine(Dir());
  ASSERT_TRUE(details->HasExistingInstallation());
  EXPECT_EQ(L"", details->GetLanguage());
  EXPECT_EQ(std::nullopt, details->GetSingleProfile());
  std::string text;
  EXPECT_TRUE(base::ReadFileToString(prefs, &text));
  EXPECT_EQ("{\"language\":\"nb\"", text);
  EXPECT_FALSE(base::PathExists(Dir().Append(L"installer_prefs.bad")));
  EXPECT_FALSE(base::PathExists(Dir().Append(L"installer_prefs.json.backup")));
}

// Needs the JSON status reader and the shortcut test of the service
// utilities.
TEST_F(InstallationFolderDetailsImplTest, DesktopShortcutToBrowserIsRecreated) {
  struct {
    const wchar_t* target;  // null: no shortcut file
    bool exists;
    bool recreate;
  } const cases[] = {
      {L"kavor.exe", true, true},
      {L"launcher.exe", true, false},
      {L"47.0.4127.0\\kavor.exe", true, true},
      {L"other.exe", false, false},
      {nullptr, false, false},
  };
  ASSERT_TRUE(base::CreateDirectory(Dir().Append(L"47.0.4127.0")));
  for (const wchar_t* exe : {L"kavor.exe", L"launcher.exe",
                             L"47.0.4127.0\\kavor.exe", L"other.exe"}) {
    ASSERT_TRUE(WriteText(Dir().Append(exe), "MZ"));
  }
  base::ScopedTempDir desktop;
  ASSERT_TRUE(desktop.CreateUniqueTempDir());
  const base::FilePath shortcut = desktop.GetPath().Append(L"Kavor.lnk");
  std::string quoted;
  ASSERT_TRUE(base::JSONWriter::Write(base::Value(shortcut.value()), &quoted));
  WriteStatus("{\"shortcuts\":{\"SC_DEST_DESKTOP\":" + quoted + "}}");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target ? c.target : L"none");
    ASSERT_TRUE(base::DeleteFile(shortcut, false));
    if (c.target) {
      base::win::ShortcutProperties properties;
      properties.set_target(Dir().Append(c.target));
      ASSERT_TRUE(base::win::CreateOrUpdateShortcutLink(
          shortcut, properties, base::win::SHORTCUT_CREATE));
    }
    auto details = Examine(Dir());
    ASSERT_TRUE(details->HasExistingInstallation())
        << details->GetStatusReadError();
    EXPECT_EQ(c.exists, details->DesktopShortcutExists());
    EXPECT_EQ(c.recreate, details->RecreateDesktopShortcut());
    EXPECT_FALSE(details->StartMenuShortcutExists());
    EXPECT_FALSE(details->QuickLaunchShortcutExists());
  }
}

// Needs the JSON status reader. The profile is the installation's; its
// "Local State" names the language, and a damaged one is left as it is.
TEST_F(InstallationFolderDetailsImplTest, ProfileAndItsLanguage) {
  WriteStatus();
  const base::FilePath single = Dir().Append(L"profile\\data");
  const base::FilePath custom = Dir().Append(L"custom profile");
  std::string quoted_custom;
  ASSERT_TRUE(
      base::JSONWriter::Write(base::Value(custom.value()), &quoted_custom));
  struct {
    std::string prefs;
    base::FilePath profile;
    const char* local_state;  // null: none
    const wchar_t* language;
  } const cases[] = {
      {"{\"single_profile\":true,\"language\":\"nb\"}", single,
       "{\"intl\":{\"app_locale\":\"fi\"}}", L"fi"},
      {"{\"profile_path\":" + quoted_custom + ",\"language\":\"nb\"}", custom,
       "{\"intl\":{\"app_locale\":\"de\"}}", L"de"},
      {"{\"single_profile\":true,\"language\":\"nb\"}", single,
       "{\"intl\":{\"app_locale\":7}}", L"nb"},
      {"{\"single_profile\":true,\"language\":\"nb\"}", single,
       "{\"intl\":{\"app_locale\":\"fi\"", L"nb"},
      {"{\"single_profile\":true,\"language\":\"nb\"}", single, nullptr, L"nb"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.prefs + " " + (c.local_state ? c.local_state : "none"));
    ASSERT_TRUE(WriteText(Dir().Append(L"installer_prefs.json"), c.prefs));
    ASSERT_TRUE(base::DeleteFile(c.profile, true));
    ASSERT_TRUE(base::CreateDirectory(c.profile));
    const base::FilePath local_state = c.profile.Append(L"Local State");
    if (c.local_state) {
      ASSERT_TRUE(WriteText(local_state, c.local_state));
    }
    auto details = Examine(Dir());
    ASSERT_TRUE(details->HasExistingInstallation())
        << details->GetStatusReadError();
    EXPECT_EQ(c.profile, details->GetProfilePath());
    EXPECT_EQ(c.language, details->GetLanguage());
    // Nothing was moved aside, replaced or added.
    std::vector<base::string16> left;
    base::FileEnumerator files(
        c.profile, false,
        base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES);
    for (base::FilePath f = files.Next(); !f.empty(); f = files.Next())
      left.push_back(f.BaseName().value());
    EXPECT_EQ(c.local_state ? std::vector<base::string16>{L"Local State"}
                            : std::vector<base::string16>(),
              left);
    std::string text;
    if (c.local_state) {
      EXPECT_TRUE(base::ReadFileToString(local_state, &text));
      EXPECT_EQ(c.local_state, text);
    }
  }
}

// Needs the JSON status reader. The autoupdate UUID is the global storage's,
// which takes over what the profile's older fallback file still holds.
TEST_F(InstallationFolderDetailsImplTest, AutoupdateUuid) {
  test::ScopedRegistryRoots roots;
  // The process's storage migrates a fallback file only until it has
  // written the registry once, which an earlier test or repeat may have
  // done.
  storage_ = GlobalStorageWin::CreateForTesting(false);
  GlobalStorageWin::SetInstanceForTesting(storage_.get());
  WriteStatus();
  ASSERT_TRUE(WriteText(Dir().Append(L"installer_prefs.json"),
                        "{\"single_profile\":true}"));
  const base::FilePath profile = Dir().Append(L"profile\\data");
  ASSERT_TRUE(base::CreateDirectory(profile));
  const std::wstring company =
      L"Software\\" + base::UTF8ToWide(GetCompanyName());
  test::WriteText(HKEY_CURRENT_USER, company, L"UUID", L"from-registry");
  EXPECT_EQ("from-registry", Examine(Dir())->GetAutoupdateUuid());

  // A damaged file holds nothing and is left as it is.
  const std::string damaged = "{\"GS\":{\"UUID\":\"from-f";
  ASSERT_TRUE(WriteText(profile.Append(L"au_global_storage"), damaged));
  EXPECT_EQ("from-registry", Examine(Dir())->GetAutoupdateUuid());
  std::string text;
  EXPECT_TRUE(base::ReadFileToString(profile.Append(L"au_global_storage"),
                                     &text));
  EXPECT_EQ(damaged, text);
  EXPECT_FALSE(base::PathExists(profile.Append(L"au_global_storage.bad")));

  ASSERT_TRUE(WriteText(profile.Append(L"au_global_storage"),
                        "{\"GS\":{\"UUID\":\"from-file\"}}"));
  EXPECT_EQ("from-file", Examine(Dir())->GetAutoupdateUuid());
  EXPECT_EQ(L"from-file", test::ReadText(HKEY_CURRENT_USER, company, L"UUID"));
}

// Needs the JSON status reader. Pins are looked for at each target until
// one has some, with the record's app id and with its suffixed one.
TEST_F(InstallationFolderDetailsImplTest, PinnedShortcutsOfTheTargets) {
  base::ScopedTempDir pins;
  ASSERT_TRUE(pins.CreateUniqueTempDir());
  base::FilePath saved_pins;
  ASSERT_TRUE(base::PathService::Get(base::DIR_TASKBAR_PINS, &saved_pins));
  ASSERT_TRUE(base::PathService::OverrideAndCreateIfNeeded(
      base::DIR_TASKBAR_PINS, pins.GetPath(), true, false));
  ASSERT_TRUE(base::CreateDirectory(Dir().Append(L"47.0.4127.0")));
  for (const wchar_t* exe : {L"kavor.exe", L"launcher.exe",
                             L"47.0.4127.0\\kavor.exe", L"other.exe"}) {
    ASSERT_TRUE(WriteText(Dir().Append(exe), "MZ"));
  }
  WriteStatus("{\"app_id\":\"ABC\"}");

  struct Pin {
    const wchar_t* name;
    const wchar_t* target;
    const wchar_t* app_id;
  };
  struct {
    std::vector<Pin> pins;
    std::vector<base::string16> pinned;
    std::vector<base::string16> suffixed;
    bool recreate;
  } const cases[] = {
      {{{L"a.lnk", L"launcher.exe", L"Kavor.ABC"}}, {L"a.lnk"}, {}, false},
      {{{L"a.lnk", L"kavor.exe", L"Kavor.ABC"}}, {L"a.lnk"}, {}, true},
      {{{L"a.lnk", L"47.0.4127.0\\kavor.exe", L"Kavor.ABC"}},
       {L"a.lnk"},
       {},
       true},
      // The launcher's pins come first; the browser's are not looked for.
      {{{L"a.lnk", L"kavor.exe", L"Kavor.ABC"},
        {L"b.lnk", L"launcher.exe", L"Kavor.ABC"}},
       {L"b.lnk"},
       {},
       false},
      {{{L"a.lnk", L"launcher.exe", L"Kavor.ABC1"},
        {L"b.lnk", L"kavor.exe", L"Kavor.ABC"}},
       {L"b.lnk"},
       {L"a.lnk"},
       true},
      {{{L"a.lnk", L"other.exe", L"Kavor.ABC"},
        {L"b.lnk", L"kavor.exe", L"Kavor.XYZ"}},
       {},
       {},
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pins.size() + c.pinned.size() * 10);
    ASSERT_TRUE(base::DeleteFile(pins.GetPath(), true));
    ASSERT_TRUE(base::CreateDirectory(pins.GetPath()));
    shortcut_reader_.pins.clear();
    for (const Pin& pin : c.pins) {
      shortcut_reader_.pins[pin.name] = {Dir().Append(pin.target), pin.app_id};
      ASSERT_TRUE(WriteText(pins.GetPath().Append(pin.name), "x"));
    }
    auto details = Examine(Dir());
    ASSERT_TRUE(details->HasExistingInstallation())
        << details->GetStatusReadError();
    auto names = [](const std::vector<base::FilePath>& paths) {
      std::vector<base::string16> result;
      for (const base::FilePath& path : paths)
        result.push_back(path.BaseName().value());
      return result;
    };
    EXPECT_EQ(c.pinned, names(details->GetPinnedShortcutPaths()));
    EXPECT_EQ(c.suffixed, names(details->GetSuffixedPinnedShortcutPaths()));
    EXPECT_EQ(c.recreate, details->RecreatePinnedShortcut());
  }
  ASSERT_TRUE(base::PathService::OverrideAndCreateIfNeeded(
      base::DIR_TASKBAR_PINS, saved_pins, true, false));
}

}  // namespace
}  // namespace installer
