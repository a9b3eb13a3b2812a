#include "desktop/windows/installer/service/service_utils.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <string>

#include "base/base_paths.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/path_service.h"
#include "base/strings/string_util.h"
#include "base/threading/platform_thread.h"
#include "base/time/time.h"
#include "base/win/scoped_com_initializer.h"
#include "base/win/shortcut.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

base::FilePath Path(const std::wstring& text) {
  return base::FilePath(text);
}

bool WriteBytes(const base::FilePath& path, const std::string& bytes) {
  return base::WriteFile(path, bytes.data(), static_cast<int>(bytes.size())) ==
         static_cast<int>(bytes.size());
}

TEST(ServiceUtilsTest, IsValidPathName) {
  const struct {
    const wchar_t* path;
    bool is_folder;
    bool valid;
  } kCases[] = {
      {L"C:\\Program Files\\Kavor", true, true},
      {L"C:\\a\\CONFIG", true, true},
      {L"C:\\a\\COM5", false, false},
      {L"C:\\a\\COM0", false, true},
      {L"C:\\a\\lpt9.txt", false, false},
      {L"C:\\a\\COM\u00B2", false, false},
      {L"C:\\a\\.con", false, true},
      {L"C:", true, true},
      {L"C:\\\\a//b", true, true},
      {L"\\\\server\\share\\a", true, true},
      {L"", true, false},
      {L"C:\\Program Files\\CON\\x", false, false},
      {L"C:\\a\\nul.txt", false, false},
      {L"C:\\a\\Lpt3", false, false},
      {L"C:\\a\\CONIN$", false, false},
      {L"C:\\a\\conout$.txt\\b", true, false},
      {L"C:\\a\\conout", false, true},
      {L"C:\\a\\b.", true, false},
      {L"C:\\a\\b \\c", true, false},
      {L"C:\\a\\ b", true, false},
      {L"C:\\a\\b?", true, false},
      {L"C:\\a\\b:c", true, false},
      {L"C:\\a\\b\tc", true, false},
      {L"\\\\server", true, false},
      {L"\\\\server\\share", true, false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.valid, IsValidPathName(Path(c.path), c.is_folder)) << c.path;
  }
}

TEST(ServiceUtilsTest, IsValidPathNameLengthLimits) {
  auto of_length = [](size_t length) {
    return Path(L"C:\\" + std::wstring(length - 3, L'a'));
  };
  EXPECT_TRUE(IsValidPathName(of_length(247), true));
  EXPECT_FALSE(IsValidPathName(of_length(248), true));
  EXPECT_TRUE(IsValidPathName(of_length(259), false));
  EXPECT_FALSE(IsValidPathName(of_length(260), false));
}

// Front end and backend meet only when both name the object alike: base
// name first, then the folder with forward slashes.
TEST(ServiceUtilsTest, MakeKernelObjectName) {
  EXPECT_EQ(L"Global\\Kavor/Installer/C:/Kavor",
            MakeKernelObjectName(L"Kavor/Installer", Path(L"C:\\Kavor"), true));
  EXPECT_EQ(L"Global\\KavorInstaller/PackageReady/C:/Kavor",
            MakeKernelObjectName(L"KavorInstaller/PackageReady",
                                 Path(L"C:\\Kavor"), true));
  EXPECT_EQ(L"Local\\KavorInstaller/GiveInstallPermission/C:/Program Files/X",
            MakeKernelObjectName(L"KavorInstaller\\GiveInstallPermission",
                                 Path(L"C:\\Program Files\\X"), false));

  // The front end creates the event by this name and the backend opens it:
  // the system must take the name as it stands, slashes and colon included.
  base::win::ScopedHandle created(
      ::CreateEventW(nullptr, TRUE, FALSE,
                     MakeKernelObjectName(L"KavorInstaller/PackageReady",
                                          Path(L"C:\\Kavor Test"), true)
                         .c_str()));
  ASSERT_TRUE(created.IsValid());
  base::win::ScopedHandle opened(
      ::OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE,
                   L"Global\\KavorInstaller/PackageReady/C:/Kavor Test"));
  ASSERT_TRUE(opened.IsValid());
  ASSERT_TRUE(::SetEvent(opened.Get()));
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(created.Get(), 0));
}

TEST(ServiceUtilsTest, FormatWin32Error) {
  std::string text = FormatWin32Error(ERROR_ACCESS_DENIED);
  ASSERT_GT(text.size(), 7u);
  EXPECT_EQ(". (0x5)", text.substr(text.size() - 7));
  EXPECT_EQ(std::string::npos, text.find_first_of("\r\n")) << text;
  // A code without a system message.
  EXPECT_EQ("Error (0x13D) while retrieving error. (0xDEADBEEF)",
            FormatWin32Error(0xDEADBEEF));
}

TEST(ServiceUtilsTest, GetExecutableBitness) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  base::FilePath exe;
  ASSERT_TRUE(base::PathService::Get(base::FILE_EXE, &exe));
  EXPECT_EQ(EXECUTABLE_OTHER, GetExecutableBitness(exe));

  // A DOS header whose offset at byte 60 points at "PE\0\0" and a machine.
  std::string x86(0x46, '\0');
  x86.replace(0, 2, "MZ").replace(0x40, 2, "PE").replace(0x44, 2, "\x4c\x01");
  x86[60] = 0x40;
  std::string past_end = x86;
  past_end.replace(60, 4, "\xf0\xff\xff\xff");
  const struct {
    const char* name;
    std::string bytes;
    int bitness;
  } kCases[] = {
      {"x86", x86, EXECUTABLE_X86},
      {"text", std::string(80, 't'), EXECUTABLE_NONE},
      {"machine cut off", x86.substr(0, 0x45), EXECUTABLE_NONE},
      {"header offset past the end", past_end, EXECUTABLE_NONE},
      {"empty", "", EXECUTABLE_NONE},
  };
  for (const auto& c : kCases) {
    base::FilePath file = temp.GetPath().AppendASCII(c.name);
    ASSERT_TRUE(WriteBytes(file, c.bytes));
    EXPECT_EQ(c.bitness, GetExecutableBitness(file)) << c.name;
  }
  EXPECT_EQ(EXECUTABLE_NONE,
            GetExecutableBitness(temp.GetPath().Append(L"missing.exe")));
}

// Another spelling of the same file matches only through its identity.
TEST(ServiceUtilsTest, IsShortcutToTarget) {
  base::win::ScopedCOMInitializer com;
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const base::FilePath target = temp.GetPath().Append(L"Kavor.exe");
  const base::FilePath other = temp.GetPath().Append(L"other.exe");
  ASSERT_TRUE(WriteBytes(target, "x") && WriteBytes(other, "y"));
  const base::FilePath shortcut = temp.GetPath().Append(L"Kavor.lnk");
  base::win::ShortcutProperties properties;
  properties.set_target(target);
  ASSERT_TRUE(base::win::CreateOrUpdateShortcutLink(
      shortcut, properties, base::win::SHORTCUT_CREATE));

  EXPECT_TRUE(IsShortcutToTarget(
      shortcut, Path(base::ToUpperASCII(target.value())), nullptr));
  EXPECT_FALSE(IsShortcutToTarget(temp.GetPath().Append(L"missing.lnk"), target,
                                  nullptr));

  const base::FilePath respelt = temp.GetPath().Append(L".\\Kavor.exe");
  BY_HANDLE_FILE_INFORMATION info = {};
  ASSERT_TRUE(GetFileInformationByPath(respelt, &info));
  EXPECT_TRUE(IsShortcutToTarget(shortcut, respelt, &info));
  EXPECT_FALSE(IsShortcutToTarget(shortcut, respelt, nullptr));
  ASSERT_TRUE(GetFileInformationByPath(other, &info));
  EXPECT_FALSE(IsShortcutToTarget(shortcut, other, &info));
  EXPECT_FALSE(
      GetFileInformationByPath(temp.GetPath().Append(L"missing"), &info));
}

TEST(ServiceUtilsTest, IsParentPathIgnoreCase) {
  EXPECT_TRUE(
      IsParentPathIgnoreCase(Path(L"C:\\KAVOR"), Path(L"c:\\kavor\\a")));
  EXPECT_FALSE(IsParentPathIgnoreCase(Path(L"C:\\Kavor"), Path(L"C:\\Kavor2")));
}

TEST(ServiceUtilsTest, IsVersionFolderName) {
  const struct {
    const wchar_t* path;
    bool is_version;
    uint32_t major;
  } kCases[] = {
      {L"C:\\Kavor\\47.0.4127.0", true, 47}, {L"47.0.4127.0.1", true, 47},
      {L"47. 0 ..4127.0_1", true, 47},       {L"47.0.4127", false, 0},
      {L"47.0.4127.0.1.2", false, 0},        {L"47.0.4127.0b", false, 0},
      {L"4_7.0.4127.0", false, 0},
  };
  for (const auto& c : kCases) {
    uint32_t major = 0;
    EXPECT_EQ(c.is_version, IsVersionFolderName(Path(c.path), &major))
        << c.path;
    EXPECT_EQ(c.major, major) << c.path;
  }
  EXPECT_TRUE(IsVersionFolderName(Path(L"1.2.3.4"), nullptr));
}

TEST(ServiceUtilsTest, UnknownStreamNumberGivesTheChannelWord) {
  EXPECT_EQ(GetChannelName(), GetStreamName(7));
}

TEST(ServiceUtilsTest, GetKnownFolderPath) {
  base::FilePath path;
  ASSERT_TRUE(GetKnownFolderPath(FOLDERID_LocalAppData, CSIDL_LOCAL_APPDATA,
                                 &path, false));
  EXPECT_TRUE(base::DirectoryExists(path)) << path.value();

  // An id the system does not know fails without touching the out path.
  const KNOWNFOLDERID kUnknown = {
      0x1234abcd, 0x1, 0x2, {0, 1, 2, 3, 4, 5, 6, 7}};
  base::FilePath untouched = Path(L"untouched");
  EXPECT_FALSE(
      GetKnownFolderPath(kUnknown, CSIDL_LOCAL_APPDATA, &untouched, true));
  EXPECT_EQ(L"untouched", untouched.value());
}

TEST(ServiceUtilsTest, SamCompatibleUserNameEndsWithTheUserName) {
  base::string16 user;
  base::string16 sam;
  ASSERT_TRUE(GetCurrentUserName(&user));
  ASSERT_TRUE(GetSamCompatibleUserName(&sam));
  ASSERT_FALSE(user.empty());
  EXPECT_TRUE(
      base::EndsWith(sam, L"\\" + user, base::CompareCase::INSENSITIVE_ASCII))
      << sam;
}

// A service's state changes in its own process and nothing signals it here:
// the state is read until it is |state| or a minute passed.
bool WaitForServiceState(SC_HANDLE service, DWORD state) {
  const base::TimeTicks deadline =
      base::TimeTicks::Now() + base::TimeDelta::FromMinutes(1);
  SERVICE_STATUS status = {};
  while (::QueryServiceStatus(service, &status)) {
    if (status.dwCurrentState == state)
      return true;
    if (base::TimeTicks::Now() > deadline)
      break;
    base::PlatformThread::Sleep(base::TimeDelta::FromMilliseconds(20));
  }
  ADD_FAILURE() << "The service is in state " << status.dwCurrentState
                << ", not " << state;
  return false;
}

// The still-image service: one that exists on every system and may be
// stopped, unlike the task service under Wine.
TEST(StartServiceIfStoppedTest, StartsAStoppedServiceAndLeavesARunningOne) {
  const wchar_t kName[] = L"StiSvc";
  SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  ASSERT_TRUE(manager);
  SC_HANDLE service = ::OpenServiceW(
      manager, kName, SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP);
  ASSERT_TRUE(service);
  SERVICE_STATUS status = {};
  ASSERT_TRUE(::QueryServiceStatus(service, &status));
  if (status.dwCurrentState != SERVICE_STOPPED) {
    ASSERT_TRUE(WaitForServiceState(service, SERVICE_RUNNING));
    ASSERT_TRUE(::ControlService(service, SERVICE_CONTROL_STOP, &status));
    ASSERT_TRUE(WaitForServiceState(service, SERVICE_STOPPED));
  }

  EXPECT_TRUE(StartServiceIfStopped(kName));
  EXPECT_TRUE(WaitForServiceState(service, SERVICE_RUNNING));
  EXPECT_TRUE(StartServiceIfStopped(kName));
  EXPECT_TRUE(WaitForServiceState(service, SERVICE_RUNNING));
  EXPECT_FALSE(StartServiceIfStopped(L"KavorNoSuchService"));

  if (::ControlService(service, SERVICE_CONTROL_STOP, &status))
    WaitForServiceState(service, SERVICE_STOPPED);
  ::CloseServiceHandle(service);
  ::CloseServiceHandle(manager);
}

}  // namespace
}  // namespace installer
