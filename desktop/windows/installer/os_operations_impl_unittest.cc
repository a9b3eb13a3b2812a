#include "desktop/windows/installer/os_operations_impl.h"

#include <windows.h>

#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/guid.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/common/installer_error.h"
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

std::vector<std::wstring>* g_setting_changes = nullptr;

LRESULT CALLBACK RecordSettingChange(HWND window,
                                     UINT message,
                                     WPARAM wparam,
                                     LPARAM lparam) {
  if (message == WM_SETTINGCHANGE && g_setting_changes && lparam)
    g_setting_changes->push_back(reinterpret_cast<const wchar_t*>(lparam));
  return ::DefWindowProcW(window, message, wparam, lparam);
}

// A posted notification cannot carry the text: the system refused it and no
// window ever heard of the change.
TEST(OsOperationsTest, BroadcastReachesTopLevelWindowsWithTheText) {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = &RecordSettingChange;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"KavorSettingChangeRecorder";
  ::RegisterClassW(&window_class);
  HWND window = ::CreateWindowExW(0, window_class.lpszClassName, L"",
                                  WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr,
                                  nullptr, window_class.hInstance, nullptr);
  ASSERT_NE(nullptr, window);
  std::vector<std::wstring> changes;
  g_setting_changes = &changes;
  BroadcastDefaultBrowserChange();
  g_setting_changes = nullptr;
  ::DestroyWindow(window);
  EXPECT_EQ(
      (std::vector<std::wstring>{L"Software\\Clients\\StartMenuInternet"}),
      changes);
}

}  // namespace
}  // namespace installer
