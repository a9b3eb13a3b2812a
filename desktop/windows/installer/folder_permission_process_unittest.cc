#include "desktop/windows/installer/folder_permission_process.h"

#include <windows.h>
#include <aclapi.h>

#include <string>
#include <thread>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/installer_object_names.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/test/access_entries.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// Long enough for any wait that should end at once; the tests never sleep.
const DWORD kPatienceMs = 10000;

base::FilePath BinFile(const wchar_t* name) {
  base::FilePath bin;
  EXPECT_TRUE(base::PathService::Get(base::DIR_EXE, &bin));
  return bin.Append(name);
}

base::Process StartChild(const wchar_t* what) {
  return base::LaunchProcess(
      base::CommandLine({BinFile(L"kavor_test_child.exe").value(), what}),
      base::LaunchOptions());
}

class FolderPermissionProcessTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    folder_ = temp_.GetPath().Append(L"Missing").Append(L"P");
    given_ = CreateFolderEvent(kGivePermissionEventName, false, false);
    undo_ = CreateFolderEvent(kGivePermissionUndoEventName, false, false);
    ready_ = CreateFolderEvent(kPackageReadyEventName, true, true);
    interrupted_ = CreateFolderEvent(kInterruptedEventName, true, true);
  }
  void TearDown() override {
    if (role_.joinable()) {
      ::SetEvent(undo_.Get());
      role_.join();
    }
  }

  base::win::ScopedHandle CreateFolderEvent(const wchar_t* name,
                                            bool global,
                                            bool manual_reset) {
    base::win::ScopedHandle event(
        ::CreateEventW(nullptr, manual_reset, FALSE,
                       MakeKernelObjectName(name, folder_, global).c_str()));
    EXPECT_TRUE(event.IsValid());
    return event;
  }

  // The folder and the user, and |more| ("name=value" or "name").
  base::CommandLine MakeCommandLine(std::initializer_list<std::wstring> more) {
    base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
    command_line.AppendSwitchPath("set-folder-permission", folder_);
    command_line.AppendSwitchNative("permissions-for-user", user_);
    for (const std::wstring& item : more) {
      const size_t equals = item.find(L'=');
      command_line.AppendSwitchNative(
          base::WideToUTF8(item.substr(0, equals)),
          equals == std::wstring::npos ? L"" : item.substr(equals + 1));
    }
    return command_line;
  }

  // Runs the role on a thread of its own, with no pause before the undo.
  void StartRole(const base::CommandLine& command_line) {
    ended_.Set(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE ended = ended_.Get();
    role_ = std::thread([command_line, ended] {
      RunFolderPermissionProcess(command_line, base::TimeDelta());
      ::SetEvent(ended);
    });
  }
  bool RoleEnded(DWORD wait_ms) {
    return ::WaitForSingleObject(ended_.Get(), wait_ms) == WAIT_OBJECT_0;
  }

  // Whether the folder's own DACL grants the trustee everything, inherited
  // by subfolders and files.
  bool TrusteeHasGrant() {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(folder_.value().c_str(), SE_FILE_OBJECT,
                                DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
      ADD_FAILURE() << "no DACL";
      return false;
    }
    const BYTE kInherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    // Wine reads the world's full access back from the mode bits: all but
    // changing the security.
    const ACCESS_MASK kFull = FILE_ALL_ACCESS & ~(WRITE_DAC | WRITE_OWNER);
    bool found = false;
    for (const test::AccessEntry& entry : test::ReadAccessEntries(dacl)) {
      found |= entry.type == ACCESS_ALLOWED_ACE_TYPE &&
               (entry.flags & kInherit) == kInherit && entry.sid == L"S-1-1-0" &&
               ((entry.mask & GENERIC_ALL) || (entry.mask & kFull) == kFull);
    }
    ::LocalFree(descriptor);
    return found;
  }

  base::ScopedTempDir temp_;
  base::FilePath folder_;
  // Wine keeps a file's DACL as its mode bits, where the owner's entry
  // always reads back writable; the world's entry goes there and back
  // unchanged, so the grant is for Everyone here.
  const base::string16 user_ = L"Everyone";
  base::win::ScopedHandle given_, undo_, ready_, interrupted_, ended_;
  std::thread role_;
};

// The grant is in place when "given" comes. A temporary one goes again on
// the undo signal, or when the backend that asked ends without giving it;
// a permanent one stays and the role ends at once. A missing folder is
// created first.
TEST_F(FolderPermissionProcessTest, GrantsAndTakesBack) {
  enum End { UNDO, BACKEND_ENDS, PERMANENT };
  const struct {
    End end;
    bool existing;
  } kCases[] = {
      {UNDO, true},
      {BACKEND_ENDS, true},
      {PERMANENT, true},
      {PERMANENT, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.end << c.existing);
    ASSERT_TRUE(base::DeleteFile(folder_.DirName(), true));
    if (c.existing) {
      ASSERT_TRUE(base::CreateDirectory(folder_));
      ASSERT_FALSE(TrusteeHasGrant());
    }
    base::Process backend = StartChild(L"sleep");
    ASSERT_TRUE(backend.IsValid());
    StartRole(MakeCommandLine(
        {L"parent-pid=" + base::UintToString16(backend.Pid()),
         c.end == PERMANENT ? L"permanent-permissions" : L"v=0"}));
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(given_.Get(), kPatienceMs));
    EXPECT_TRUE(TrusteeHasGrant());
    EXPECT_TRUE(c.end == PERMANENT || !RoleEnded(0)) << "did not wait";
    if (c.end == UNDO) {
      ASSERT_TRUE(::SetEvent(undo_.Get()));
    } else if (c.end == BACKEND_ENDS) {
      EXPECT_TRUE(backend.Terminate(0, true));
    }
    EXPECT_TRUE(RoleEnded(kPatienceMs));
    ::SetEvent(undo_.Get());
    role_.join();
    EXPECT_EQ(c.end == PERMANENT, TrusteeHasGrant());
    EXPECT_TRUE(backend.Terminate(0, true));
    ::ResetEvent(undo_.Get());
  }
}

// Makes |folder| the current folder while it lives.
class ScopedCurrentFolder {
 public:
  explicit ScopedCurrentFolder(const base::FilePath& folder) {
    EXPECT_TRUE(base::GetCurrentDirectory(&saved_));
    EXPECT_TRUE(base::SetCurrentDirectory(folder));
  }
  ~ScopedCurrentFolder() { EXPECT_TRUE(base::SetCurrentDirectory(saved_)); }

 private:
  base::FilePath saved_;
};

// Nothing is granted or created where the role has nothing to do or was
// given something it can't use. Each case has the events of the folder it
// names, and the undo is already set, so a role that wrongly grants comes
// back at once, with the folder created or "given" set.
TEST_F(FolderPermissionProcessTest, RefusesWithoutChange) {
  base::Process gone = StartChild(L"silent");
  int exit_code = -1;
  ASSERT_TRUE(gone.WaitForExit(&exit_code));
  const base::string16 gone_pid = base::UintToString16(gone.Pid());
  gone.Close();
  // "Missing\P" names the folder below the current one.
  ScopedCurrentFolder current(temp_.GetPath());
  const base::string16 missing = temp_.GetPath().Append(L"Missing").value();
  const struct {
    const char* label;
    base::string16 folder;
    std::wstring more;
    bool with_user;
  } kCases[] = {
      {"no user", folder_.value(), L"v=0", false},
      {"relative folder", L"Missing\\P", L"v=0", true},
      {"parent reference", missing + L"\\X\\..\\P", L"v=0", true},
      {"current folder reference", missing + L"\\.\\P", L"v=0", true},
      {"long-path prefix", L"\\\\?\\" + folder_.value(), L"v=0", true},
      {"device prefix", L"\\\\.\\" + folder_.value(), L"v=0", true},
      {"drive root", folder_.value().substr(0, 3), L"v=0", true},
      {"backend pid not a number", folder_.value(), L"parent-pid=12x", true},
      {"backend already gone", folder_.value(), L"parent-pid=" + gone_pid,
       true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    const base::FilePath folder(c.folder);
    base::win::ScopedHandle given(::CreateEventW(
        nullptr, FALSE, FALSE,
        MakeKernelObjectName(kGivePermissionEventName, folder, false).c_str()));
    base::win::ScopedHandle undo(::CreateEventW(
        nullptr, FALSE, TRUE,
        MakeKernelObjectName(kGivePermissionUndoEventName, folder, false)
            .c_str()));
    ASSERT_TRUE(given.IsValid() && undo.IsValid());
    ASSERT_TRUE(::SetEvent(undo.Get()));
    base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
    command_line.AppendSwitchPath("set-folder-permission", folder);
    if (c.with_user)
      command_line.AppendSwitchNative("permissions-for-user", user_);
    const size_t equals = c.more.find(L'=');
    command_line.AppendSwitchNative(base::WideToUTF8(c.more.substr(0, equals)),
                                    c.more.substr(equals + 1));
    RunFolderPermissionProcess(command_line, base::TimeDelta());
    EXPECT_FALSE(base::PathExists(folder_.DirName()));
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(given.Get(), 0));
    ASSERT_TRUE(::ResetEvent(undo.Get()));
    base::DeleteFile(folder_.DirName(), true);
  }
  // Without the events of its folder the role doesn't start either.
  undo_.Close();
  RunFolderPermissionProcess(MakeCommandLine({}), base::TimeDelta());
  EXPECT_FALSE(base::PathExists(folder_.DirName()));
}

// The backend that asked counts as gone only when it is known to be: an
// administrator's process may be refused the handle of a user's process
// that is very much alive.
TEST(FolderPermissionBackendTest, IsBackendAlive) {
  const struct {
    bool opened;
    DWORD open_error;
    bool ended;
    bool alive;
  } kCases[] = {
      {true, ERROR_SUCCESS, false, true},
      {true, ERROR_SUCCESS, true, false},
      {false, ERROR_ACCESS_DENIED, false, true},
      {false, ERROR_INVALID_PARAMETER, false, false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.alive, IsBackendAlive(c.opened, c.open_error, c.ended))
        << c.opened << " " << c.open_error << " " << c.ended;
  }
}

// Started before the package was there, the role hands the grant to the
// package's installer once the package is ready, and only then.
TEST_F(FolderPermissionProcessTest, HandsOverToThePackage) {
  const base::FilePath package = temp_.GetPath().Append(L"package");
  const base::FilePath calls = package.Append(L"installer_calls.txt");
  ASSERT_TRUE(base::CreateDirectory(package));
  ASSERT_TRUE(base::CopyFile(BinFile(L"kavor_launcher_standin.exe"),
                             package.Append(L"installer.exe")));
  base::Process ended = StartChild(L"silent");
  int exit_code = -1;
  ASSERT_TRUE(ended.WaitForExit(&exit_code));
  const base::string16 own_pid = base::UintToString16(::GetCurrentProcessId());
  // The installer found there runs elevated: a package folder given
  // relative to the current one, or through "..", is refused.
  ScopedCurrentFolder current(temp_.GetPath());
  const struct {
    const char* label;
    bool ready, interrupted;
    base::string16 initial_pid;
    bool launch;
    base::string16 package;
  } kCases[] = {
      {"package ready", true, false, own_pid, true, package.value()},
      {"interrupted", false, true, own_pid, false, package.value()},
      {"ready but interrupted", true, true, own_pid, false, package.value()},
      {"front end ended", false, false, base::UintToString16(ended.Pid()),
       false, package.value()},
      {"no initial process", true, false, L"", false, package.value()},
      {"relative package", true, false, own_pid, false, L"package"},
      {"package through a parent", true, false, own_pid, false,
       package.value() + L"\\..\\package"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    base::DeleteFile(calls, false);
    (c.ready ? ::SetEvent : ::ResetEvent)(ready_.Get());
    (c.interrupted ? ::SetEvent : ::ResetEvent)(interrupted_.Get());
    base::CommandLine command_line = MakeCommandLine(
        {L"wait-for-package=" + c.package, L"crash-reporter-pid=77",
         L"permanent-permissions", L"parent-pid=55", L"v=1"});
    if (!c.initial_pid.empty())
      command_line.AppendSwitchNative("initial-pid", c.initial_pid);
    RunFolderPermissionProcess(command_line, base::TimeDelta());
    std::string line;
    EXPECT_EQ(c.launch, base::ReadFileToString(calls, &line));
    if (!c.launch)
      continue;
    base::CommandLine launched(base::CommandLine::NO_PROGRAM);
    launched.ParseFromString(base::UTF8ToWide(line.substr(0, line.find('\r'))));
    EXPECT_EQ(package.Append(L"installer.exe"), launched.GetProgram());
    EXPECT_EQ(folder_, launched.GetSwitchValuePath("set-folder-permission"));
    EXPECT_EQ(user_, launched.GetSwitchValueNative("permissions-for-user"));
    EXPECT_EQ("77", launched.GetSwitchValueASCII("crash-reporter-pid"));
    EXPECT_EQ("55", launched.GetSwitchValueASCII("parent-pid"));
    EXPECT_TRUE(launched.HasSwitch("permanent-permissions"));
    EXPECT_EQ(5u, launched.GetSwitches().size()) << line;
  }
  EXPECT_FALSE(base::PathExists(folder_.DirName()));
}

// The uninstall's batch file starts when it is there; nothing else does.
// It runs outside the install folder, so that it can remove the folder
// that the uninstaller was started in.
TEST_F(FolderPermissionProcessTest, RunsTheUninstallBatchWhenPresent) {
  const base::FilePath install = temp_.GetPath().Append(L"install");
  ASSERT_TRUE(base::CreateDirectory(install.Append(L"sub")));
  const base::FilePath done = temp_.GetPath().Append(L"ran.txt");
  const std::string batch =
      "@echo %CD%>\"" + base::WideToUTF8(done.value()) + "\"\r\n";
  ASSERT_EQ(static_cast<int>(batch.size()),
            base::WriteFile(install.Append(L"k.bat"), batch.data(),
                            static_cast<int>(batch.size())));
  {
    ScopedCurrentFolder current(install.Append(L"sub"));
    RunUninstallBatch(install.Append(L"none"));
    RunUninstallBatch(base::FilePath());
    RunUninstallBatch(install);
  }
  std::string ran;
  // The line is whole once its line feed is there.
  for (int i = 0; i < 500 && (!base::ReadFileToString(done, &ran) ||
                              ran.find('\n') == std::string::npos);
       ++i) {
    ::Sleep(20);
  }
  base::TrimWhitespaceASCII(ran, base::TRIM_ALL, &ran);
  EXPECT_TRUE(base::EqualsCaseInsensitiveASCII(
      base::WideToUTF8(temp_.GetPath().value()), ran))
      << ran;
}

}  // namespace
}  // namespace installer
