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
#include "base/time/time.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/installer_object_names.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/test/access_entries.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// Long enough for any wait that should end at once.
const DWORD kPatienceMs = 10000;

base::FilePath BinFile(const wchar_t* name) {
  base::FilePath bin;
  EXPECT_TRUE(base::PathService::Get(base::DIR_EXE, &bin));
  return bin.Append(name);
}

// Makes |link| a symbolic link to the folder |target|. Where the system's
// call makes nothing (Wine answers it without making a link), a link of the
// file system underneath serves: Wine shows it as the same reparse point.
bool MakeFolderLink(const base::FilePath& link, const base::FilePath& target) {
  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
  const DWORD kUnprivileged = 0x2;
  ::CreateSymbolicLinkW(link.value().c_str(), target.value().c_str(),
                        SYMBOLIC_LINK_FLAG_DIRECTORY | kUnprivileged);
  const DWORD made = ::GetFileAttributesW(link.value().c_str());
  if (made != INVALID_FILE_ATTRIBUTES)
    return (made & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  using UnixName = char*(__cdecl*)(const wchar_t*);
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  auto unix_name = reinterpret_cast<UnixName>(
      ::GetProcAddress(kernel, "wine_get_unix_file_name"));
  if (!unix_name)
    return false;
  std::string names[2];
  const base::FilePath* paths[] = {&target, &link};
  for (int i = 0; i < 2; ++i) {
    char* name = unix_name(paths[i]->value().c_str());
    if (!name)
      return false;
    names[i] = name;
    ::HeapFree(::GetProcessHeap(), 0, name);
  }
  // Wine starts a program of the file system underneath as it starts its
  // own; "Z:" is the root of that file system.
  std::wstring command = base::UTF8ToWide("ln -s \"" + names[0] + "\" \"" +
                                          names[1] + "\"");
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(L"Z:\\bin\\ln", &command[0], nullptr, nullptr, FALSE,
                        0, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  // Such a program comes without a handle to wait on: the link itself is
  // waited for.
  if (process.hThread)
    ::CloseHandle(process.hThread);
  if (process.hProcess)
    ::CloseHandle(process.hProcess);
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  const base::TimeTicks deadline =
      base::TimeTicks::Now() + base::TimeDelta::FromMinutes(1);
  while ((attributes = ::GetFileAttributesW(link.value().c_str())) ==
             INVALID_FILE_ATTRIBUTES &&
         base::TimeTicks::Now() < deadline) {
    ::Sleep(10);
  }
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, attributes)
      << "no link " << link.value() << " within a minute";
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
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
  bool TrusteeHasGrant() { return TrusteeHasGrantOn(folder_); }
  bool TrusteeHasGrantOn(const base::FilePath& folder) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(folder.value().c_str(), SE_FILE_OBJECT,
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

// The grant goes only to a folder reached directly: through a link in the
// last or in a parent component the grant would land on the link's target,
// and a missing folder would be made there. The undo is already set and the
// grant asked for is permanent, so a wrong grant stays to be seen.
TEST_F(FolderPermissionProcessTest, RefusesAFolderReachedThroughALink) {
  const base::FilePath real = temp_.GetPath().Append(L"real");
  const base::FilePath victim = real.Append(L"victim");
  ASSERT_TRUE(base::CreateDirectory(victim));
  const base::FilePath parent_link = temp_.GetPath().Append(L"parentlink");
  const base::FilePath last_link = temp_.GetPath().Append(L"lastlink");
  ASSERT_TRUE(MakeFolderLink(parent_link, real));
  ASSERT_TRUE(MakeFolderLink(last_link, victim));
  ASSERT_FALSE(TrusteeHasGrantOn(victim));
  const struct {
    const char* label;
    base::FilePath folder;
  } kCases[] = {
      {"link as the folder", last_link},
      {"link as a parent", parent_link.Append(L"victim")},
      {"missing folder below a link", parent_link.Append(L"new")},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    base::win::ScopedHandle given(::CreateEventW(
        nullptr, FALSE, FALSE,
        MakeKernelObjectName(kGivePermissionEventName, c.folder, false)
            .c_str()));
    base::win::ScopedHandle undo(::CreateEventW(
        nullptr, TRUE, TRUE,
        MakeKernelObjectName(kGivePermissionUndoEventName, c.folder, false)
            .c_str()));
    ASSERT_TRUE(given.IsValid() && undo.IsValid());
    base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
    command_line.AppendSwitchPath("set-folder-permission", c.folder);
    command_line.AppendSwitchNative("permissions-for-user", user_);
    command_line.AppendSwitch("permanent-permissions");
    RunFolderPermissionProcess(command_line, base::TimeDelta());
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(given.Get(), 0));
    EXPECT_FALSE(TrusteeHasGrantOn(victim));
    EXPECT_FALSE(base::PathExists(real.Append(L"new")));
  }
  // The same folder asked for directly is granted.
  base::win::ScopedHandle given(::CreateEventW(
      nullptr, FALSE, FALSE,
      MakeKernelObjectName(kGivePermissionEventName, victim, false).c_str()));
  base::win::ScopedHandle undo(::CreateEventW(
      nullptr, TRUE, TRUE,
      MakeKernelObjectName(kGivePermissionUndoEventName, victim, false)
          .c_str()));
  base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
  command_line.AppendSwitchPath("set-folder-permission", victim);
  command_line.AppendSwitchNative("permissions-for-user", user_);
  command_line.AppendSwitch("permanent-permissions");
  RunFolderPermissionProcess(command_line, base::TimeDelta());
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(given.Get(), 0));
  EXPECT_TRUE(TrusteeHasGrantOn(victim));
}

// A temporary grant is taken back from the folder it was given to, even when
// the folder's name leads somewhere else by then: the parent moved away and
// a link to another folder put in its place.
TEST_F(FolderPermissionProcessTest, TakesBackFromTheGrantedFolderAfterASwap) {
  ASSERT_TRUE(base::CreateDirectory(folder_));
  const base::FilePath other = temp_.GetPath().Append(L"Other");
  const base::FilePath other_folder = other.Append(L"P");
  ASSERT_TRUE(base::CreateDirectory(other_folder));
  // A grant already there on the other folder, which a DACL put back by
  // name would take away.
  {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              ::GetNamedSecurityInfoW(other_folder.value().c_str(),
                                      SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, &dacl, nullptr,
                                      &descriptor));
    PACL granted = nullptr;
    ASSERT_TRUE(MakeFolderGrantDacl(dacl, user_, &granted));
    base::string16 name = other_folder.value();
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              ::SetNamedSecurityInfoW(&name[0], SE_FILE_OBJECT,
                                      DACL_SECURITY_INFORMATION, nullptr,
                                      nullptr, granted, nullptr));
    ::LocalFree(granted);
    ::LocalFree(descriptor);
  }
  ASSERT_TRUE(TrusteeHasGrantOn(other_folder));
  StartRole(MakeCommandLine({L"v=0"}));
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(given_.Get(), kPatienceMs));
  ASSERT_TRUE(TrusteeHasGrant());
  const base::FilePath moved = temp_.GetPath().Append(L"Moved");
  // Windows keeps the parent of an open folder from moving; Wine does not,
  // and the swap can be made.
  if (!::MoveFileW(folder_.DirName().value().c_str(), moved.value().c_str()))
    GTEST_SKIP() << "the parent of the granted folder can't be moved";
  ASSERT_TRUE(MakeFolderLink(folder_.DirName(), other));
  ASSERT_TRUE(::SetEvent(undo_.Get()));
  EXPECT_TRUE(RoleEnded(kPatienceMs));
  role_.join();
  EXPECT_FALSE(TrusteeHasGrantOn(moved.Append(L"P")));
  EXPECT_TRUE(TrusteeHasGrantOn(other_folder));
}

// The grant reaches what is made in the folder afterwards: a file and a
// subfolder get the trustee's full access from the folder's DACL. (Wine
// keeps a DACL as mode bits and makes new files from those, so the list the
// role sets is read as Windows' inheritance rules read it.)
TEST(FolderGrantDaclTest, ReachesFilesAndFoldersMadeInside) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  PACL old_dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            ::GetNamedSecurityInfoW(temp.GetPath().value().c_str(),
                                    SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, &old_dacl, nullptr,
                                    &descriptor));
  PACL dacl = nullptr;
  ASSERT_TRUE(MakeFolderGrantDacl(old_dacl, L"Everyone", &dacl));
  // What a new child gets from the folder's entries for the world: files
  // take the object-inherited entries, folders the container-inherited
  // ones; an inherit-only entry of the folder still passes on.
  const ACCESS_MASK kFull = FILE_ALL_ACCESS;
  for (const bool is_folder : {false, true}) {
    SCOPED_TRACE(is_folder ? "subfolder" : "file");
    const BYTE kPassesOn =
        is_folder ? CONTAINER_INHERIT_ACE : OBJECT_INHERIT_ACE;
    ACCESS_MASK inherited = 0;
    for (const test::AccessEntry& entry : test::ReadAccessEntries(dacl)) {
      if (entry.type != ACCESS_ALLOWED_ACE_TYPE || entry.sid != L"S-1-1-0" ||
          !(entry.flags & kPassesOn)) {
        continue;
      }
      ACCESS_MASK mask = entry.mask;
      if (mask & GENERIC_ALL)
        mask |= kFull;
      inherited |= mask;
    }
    EXPECT_EQ(kFull, inherited & kFull);
  }
  ::LocalFree(dacl);
  ::LocalFree(descriptor);
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
