#include "desktop/windows/installer/os_operations_impl.h"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/guid.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/test/fake_association_operations.h"
#include "desktop/windows/installer/test/fake_settings.h"
#include "desktop/windows/installer/test/scoped_registry_roots.h"
#include "desktop/windows/installer/test/setting_change_recorder.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

class OsOperationsRegistryTest : public testing::Test {
 protected:
  void SetUp() override {
    path_ =
        L"Software\\Kavor Test\\" + base::ASCIIToUTF16(base::GenerateGUID());
    base::win::RegKey key(HKEY_CURRENT_USER, path_.c_str(), KEY_ALL_ACCESS);
    ASSERT_TRUE(key.Valid());
    ASSERT_EQ(ERROR_SUCCESS, key.WriteStringValue(L"Publisher", L"Kavor"));
    DWORD number = 7;
    ASSERT_EQ(ERROR_SUCCESS,
              key.WriteValue(L"Number", &number, sizeof(number), REG_DWORD));
    for (const wchar_t* name : {L"b", L"a"}) {
      base::win::RegKey subkey(HKEY_CURRENT_USER,
                               (path_ + L"\\" + name).c_str(), KEY_ALL_ACCESS);
      ASSERT_TRUE(subkey.Valid());
    }
  }

  void TearDown() override {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
  }

  std::unique_ptr<RegistryKeyEnumerator> Open(const std::wstring& path) {
    return operations_.CreateRegistryKeyEnumerator(HKEY_CURRENT_USER, path,
                                                   KEY_READ);
  }

  OsOperationsImpl operations_;
  std::wstring path_;
};

TEST_F(OsOperationsRegistryTest, ReadsValuesOfAnExistingKey) {
  auto key = Open(path_);
  ASSERT_TRUE(key->IsValid());
  std::wstring value;
  EXPECT_TRUE(key->ReadValue(L"Publisher", &value));
  EXPECT_EQ(L"Kavor", value);
  // Only string values are read.
  EXPECT_FALSE(key->ReadValue(L"Number", &value));
  EXPECT_TRUE(key->HasValue(L"Number"));
  EXPECT_FALSE(key->HasValue(L"Missing"));

  EXPECT_FALSE(Open(path_ + L"\\missing")->IsValid());
  EXPECT_EQ(L"Microsoft", Open(L"Software\\Microsoft")->GetName());
  EXPECT_EQ(L"Software", Open(L"Software")->GetName());
}

TEST_F(OsOperationsRegistryTest, EnumeratesSubkeysUntilTheyRunOut) {
  auto subkeys = Open(path_)->CreateSubkeyEnumerator();
  std::vector<std::wstring> names;
  while (auto subkey = subkeys->Next()) {
    EXPECT_TRUE(subkey->IsValid());
    names.push_back(subkey->GetName());
    // A subkey is a key of its own, with subkeys of its own: none here.
    EXPECT_EQ(nullptr, subkey->CreateSubkeyEnumerator()->Next());
  }
  EXPECT_EQ((std::vector<std::wstring>{L"a", L"b"}), names);
  EXPECT_EQ(nullptr, subkeys->Next());

  EXPECT_EQ(nullptr,
            Open(path_ + L"\\missing")->CreateSubkeyEnumerator()->Next());
}

TEST(OsOperationsDriveTest, EnumeratesTheMaskInLetterOrder) {
  auto drives =
      CreateDriveEnumeratorForMask((1u << 0) | (1u << 2) | (1u << 25));
  std::vector<std::wstring> roots;
  while (auto drive = drives->Next())
    roots.push_back(drive->GetRootPath());
  EXPECT_EQ((std::vector<std::wstring>{L"A:\\", L"C:\\", L"Z:\\"}), roots);
  EXPECT_EQ(nullptr, drives->Next());
}

// Wine answers no drive as ready (the check is not supported there), so the
// decision is tested on the outcomes themselves.
TEST(OsOperationsDriveTest, ReadinessFromTheVerifyOutcome) {
  EXPECT_TRUE(IsDriveReadyAfterCheckVerify(true, 0));
  EXPECT_TRUE(IsDriveReadyAfterCheckVerify(false, ERROR_MEDIA_CHANGED));
  EXPECT_FALSE(IsDriveReadyAfterCheckVerify(false, ERROR_NOT_READY));
}

base::FilePath ChildProgram() {
  base::FilePath bin;
  EXPECT_TRUE(base::PathService::Get(base::DIR_EXE, &bin));
  return bin.Append(L"kavor_test_child.exe");
}

// The child gets its own arguments, and only those: its exit code is the
// one its first argument asks for.
TEST(OsOperationsProcessTest, RunElevatedGivesTheProcess) {
  ScopedInstallerErrorRecord record;
  OsOperationsImpl operations;
  base::win::ScopedHandle process = operations.RunElevated(
      base::CommandLine({ChildProgram().value(), L"exit", L"7"}));
  ASSERT_TRUE(process.IsValid());
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(process.Get(), 10000))
      << "the elevated process did not end";
  DWORD exit_code = 0;
  EXPECT_TRUE(::GetExitCodeProcess(process.Get(), &exit_code));
  EXPECT_EQ(7u, exit_code);
  EXPECT_EQ(RESULT_SUCCESS, GetLastInstallerErrorCode());
}

TEST(OsOperationsProcessTest, ElevatedLaunchParametersLeaveTheProgramOut) {
  const struct {
    std::vector<std::wstring> argv;
    bool ok;
    const wchar_t* parameters;
  } kCases[] = {
      {{L"C:\\Program Files\\K\\setup.exe"}, true, L""},
      {{L"C:\\Program Files\\K\\setup.exe", L"--backend",
        L"--installfolder=C:\\Program Files\\K", L"arg"},
       true,
       L"--backend --installfolder=\"C:\\Program Files\\K\" arg"},
      {{L"C:\\K\\setup.exe", L"--run-elevated", std::wstring(L"a\0b", 3)},
       false,
       L""},
  };
  for (const auto& c : kCases) {
    base::CommandLine command_line(c.argv);
    base::string16 parameters = L"stale";
    EXPECT_EQ(c.ok, GetElevatedLaunchParameters(command_line, &parameters));
    if (!c.ok)
      continue;
    EXPECT_EQ(c.parameters, parameters);
    // The child reads back what was meant behind its own program.
    base::CommandLine read(base::CommandLine::NO_PROGRAM);
    read.ParseFromString(L"\"" + c.argv[0] + L"\" " + parameters);
    EXPECT_EQ(c.argv, read.argv());
  }
}

TEST(OsOperationsProcessTest, FailedElevationSetsTheLastError) {
  ScopedInstallerErrorRecord record;
  OsOperationsImpl operations;
  base::win::ScopedHandle process = operations.RunElevated(base::CommandLine(
      ChildProgram().DirName().Append(L"missing").Append(L"missing.exe")));
  EXPECT_FALSE(process.IsValid());
  InstallerResult code = RESULT_SUCCESS;
  std::string message;
  GetLastInstallerError(&code, &message, nullptr);
  EXPECT_EQ(RESULT_ELEVATION_FAILED, code);
  EXPECT_EQ(0u, message.find("Failed to run the elevated process: "))
      << message;
  EXPECT_NE(std::string::npos, message.find(" (0x3)")) << message;
}

TEST(OsOperationsTest, TheInstanceCanBeReplacedForTests) {
  OsOperations* real = GetOsOperations();
  ASSERT_NE(nullptr, real);
  // This test is a 64-bit program, so Windows is 64-bit.
  EXPECT_NE(0u, real->GetOsArchitecture());
  OsOperationsImpl replacement;
  SetOsOperationsForTesting(&replacement);
  EXPECT_EQ(&replacement, GetOsOperations());
  SetOsOperationsForTesting(nullptr);
  EXPECT_EQ(real, GetOsOperations());
}

// Settings of a run into C:\K that ask for the default browser or not.
class DefaultBrowserSettings : public test::FakeSettings {
 public:
  class Details : public test::FakeFolderDetails {
   public:
    using test::FakeFolderDetails::FakeFolderDetails;
    bool IsHttpHandler() const override { return http_handler; }
    bool http_handler = false;
  };

  DefaultBrowserSettings() { folder = base::FilePath(L"C:\\K"); }
  bool GetCopyOnly() const override { return copy_only; }
  bool GetDefaultBrowser() const override { return default_browser; }
  bool GetAllUsers() const override { return all_users; }
  const InstallationFolderDetails& GetFolderDetails() const override {
    return details;
  }

  bool copy_only = false;
  bool default_browser = false;
  bool all_users = false;
  Details details{&folder};
};

TEST(OsOperationsTest, StoreDefaultBrowserSettings) {
  const wchar_t kClass[] = L"Software\\Classes\\Kavordeveloper";
  const wchar_t kHttp[] = L"Software\\Classes\\http\\shell\\open\\command";
  const wchar_t kCompany[] = L"Software\\Kavor Software";
  const std::wstring ours = L"\"C:\\K\\launcher.exe\" -noautoupdate -- \"%1\"";
  const std::wstring other = L"other.exe \"%1\"";
  const std::wstring missing = L"missing";
  struct Case {
    base::win::Version version;
    bool copy_only, default_browser, all_users, can_set_directly, http_handler;
    // The class in HKCU and HKLM, http's command in HKCU, and the previous
    // browser remembered in HKCU and HKLM.
    std::vector<std::wstring> expected;
  } const cases[] = {
      // clang-format off
      {base::win::WIN7, true, true, false, false, false,
       {missing, missing, other, missing, missing}},
      {base::win::WIN7, false, false, false, false, false,
       {L"Kavor Web Document", missing, other, missing, missing}},
      {base::win::WIN7, false, true, false, false, false,
       {L"Kavor Web Document", missing, ours, other, missing}},
      {base::win::WIN7, false, true, true, false, false,
       {L"Kavor Web Document", L"Kavor Web Document", ours, other, other}},
      // Only the Settings app could make the change: an installation that
      // already handles the web is left alone.
      {base::win::WIN10, false, true, false, false, true,
       {missing, missing, other, missing, missing}},
      {base::win::WIN10, false, true, false, true, true,
       {L"Kavor Web Document", missing, other, other, missing}},
      // clang-format on
  };
  for (const Case& c : cases) {
    base::win::OSInfo::Record record =
        base::win::OSInfo::GetInstance()->record();
    record.version = c.version;
    base::win::ScopedOSInfoOverride version(record);
    test::ScopedRegistryRoots roots;
    test::FakeAssociationOperations associations;
    associations.can_set_directly = c.can_set_directly;
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      ASSERT_EQ(ERROR_SUCCESS, base::win::RegKey(root, kHttp, KEY_SET_VALUE)
                                   .WriteStringValue(nullptr, other.c_str()));
    }
    DefaultBrowserSettings settings;
    settings.copy_only = c.copy_only;
    settings.default_browser = c.default_browser;
    settings.all_users = c.all_users;
    settings.details.http_handler = c.http_handler;
    InstallationStatus status(INSTALLATION_STATUS_GENERATED);

    OsOperationsImpl().StoreDefaultBrowserSettings(settings, &status);
    EXPECT_EQ(
        c.expected,
        (std::vector<std::wstring>{
            test::ReadText(HKEY_CURRENT_USER, kClass, L"FriendlyTypeName"),
            test::ReadText(HKEY_LOCAL_MACHINE, kClass, L"FriendlyTypeName"),
            test::ReadText(HKEY_CURRENT_USER, kHttp, nullptr),
            test::ReadText(HKEY_CURRENT_USER, kCompany,
                           L"Previous Default Browser"),
            test::ReadText(HKEY_LOCAL_MACHINE, kCompany,
                           L"Previous Default Browser"),
        }))
        << c.version << c.copy_only << c.default_browser << c.all_users;
  }
}

// A posted notification cannot carry the text: the system refused it and no
// window ever heard of the change.
TEST(OsOperationsTest, BroadcastReachesTopLevelWindowsWithTheText) {
  std::vector<std::wstring> changes;
  ASSERT_TRUE(test::RecordSettingChanges(
      [] { BroadcastDefaultBrowserChange(); }, &changes));
  EXPECT_EQ(
      (std::vector<std::wstring>{L"Software\\Clients\\StartMenuInternet"}),
      changes);
}

// Windows of which some never answer; each one that does not answer holds
// the sender for the whole wait it was granted.
class SilentWindowsTarget : public SettingChangeTarget {
 public:
  explicit SilentWindowsTarget(std::vector<bool> answers)
      : answers_(std::move(answers)) {}

  uint32_t GetTickCount() override { return now_; }

  std::vector<HWND> GetTopLevelWindows() override {
    std::vector<HWND> windows;
    for (size_t i = 0; i < answers_.size(); ++i)
      windows.push_back(reinterpret_cast<HWND>(i + 1));
    return windows;
  }

  bool SendSettingChange(HWND window,
                         const wchar_t* text,
                         uint32_t timeout_ms) override {
    texts.push_back(text);
    waits.push_back(timeout_ms);
    if (answers_[reinterpret_cast<size_t>(window) - 1])
      return true;
    now_ += timeout_ms;
    return false;
  }

  std::vector<std::wstring> texts;
  std::vector<uint32_t> waits;

 private:
  const std::vector<bool> answers_;
  // Near the wrap-around of the tick count.
  uint32_t now_ = 0xFFFFFFF0u;
};

// Every window gets the text, and windows that do not answer share one
// bounded wait instead of each adding its own to the end of the run.
TEST(OsOperationsTest, SettingChangeWaitsOnceForWindowsThatDoNotAnswer) {
  SilentWindowsTarget target({true, false, true, false, false});
  EXPECT_EQ(2u, BroadcastSettingChange(L"Policy", 100, &target));
  EXPECT_EQ(std::vector<std::wstring>(5, L"Policy"), target.texts);
  // The first silent window spends the budget; the rest get the least wait.
  EXPECT_EQ((std::vector<uint32_t>{100, 100, 1, 1, 1}), target.waits);

  SilentWindowsTarget all_silent(std::vector<bool>(50, false));
  EXPECT_EQ(0u, BroadcastSettingChange(L"Policy", 100, &all_silent));
  EXPECT_EQ(50u, all_silent.texts.size());
  EXPECT_EQ(100u + 49u, all_silent.GetTickCount() - 0xFFFFFFF0u);
}

struct SilentWindowThread {
  HWND window = nullptr;
  HANDLE created = nullptr;
  HANDLE release = nullptr;
};

// Makes a top-level window, then blocks without reading its messages until
// released: the window never answers while the test runs.
DWORD WINAPI RunSilentWindow(void* parameter) {
  auto* thread = static_cast<SilentWindowThread*>(parameter);
  thread->window = ::CreateWindowExW(
      0, L"STATIC", L"silent", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr,
      nullptr, ::GetModuleHandleW(nullptr), nullptr);
  ::SetEvent(thread->created);
  ::WaitForSingleObject(thread->release, INFINITE);
  if (thread->window)
    ::DestroyWindow(thread->window);
  return 0;
}

// A window that never answers does not keep the others from the change,
// nor the broadcast from ending.
TEST(OsOperationsTest, BroadcastPassesAWindowThatNeverAnswers) {
  SilentWindowThread silent;
  silent.created = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  silent.release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(silent.created && silent.release);
  HANDLE thread =
      ::CreateThread(nullptr, 0, &RunSilentWindow, &silent, 0, nullptr);
  ASSERT_TRUE(thread);
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(silent.created, 60000))
      << "the window thread did not start";
  ASSERT_TRUE(silent.window);

  std::vector<std::wstring> changes;
  EXPECT_TRUE(test::RecordSettingChanges(
      [] { BroadcastDefaultBrowserChange(); }, &changes));
  EXPECT_EQ(
      (std::vector<std::wstring>{L"Software\\Clients\\StartMenuInternet"}),
      changes);

  ::SetEvent(silent.release);
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread, 60000))
      << "the window thread did not end";
  ::CloseHandle(thread);
  ::CloseHandle(silent.created);
  ::CloseHandle(silent.release);
}

}  // namespace
}  // namespace installer
