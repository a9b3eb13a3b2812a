#include "desktop/windows/installer/service/security_utils.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/files/scoped_temp_dir.h"
#include "base/test/test_thread.h"
#include "base/win/windows_version.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

const uint32_t kFolderWrite = FILE_GENERIC_WRITE | DELETE;  // 0x130116
const uint32_t kKeyRead = 0x20019;

std::wstring SidString(PSID sid) {
  LPWSTR text = nullptr;
  if (!::ConvertSidToStringSidW(sid, &text))
    return L"?";
  std::wstring result(text);
  ::LocalFree(text);
  return result;
}

std::wstring CurrentUserSid() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
    return L"?";
  BYTE buffer[256];
  DWORD size = 0;
  std::wstring sid = L"?";
  if (::GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size))
    sid = SidString(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
  ::CloseHandle(token);
  return sid;
}

// The DACL as sorted "D OICI 0x4 S-1-..." lines (inherited entries left
// out), or {"null"} for a NULL DACL; {"error N"} when it can't be read.
std::vector<std::wstring> AceLines(PACL dacl) {
  if (!dacl)
    return {L"null"};
  std::vector<std::wstring> lines;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!::GetAce(dacl, i, reinterpret_cast<void**>(&header)) ||
        (header->AceFlags & INHERITED_ACE)) {
      continue;
    }
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    wchar_t text[64];
    swprintf(text, 64, L"%ls %ls%ls 0x%lx ",
             header->AceType == ACCESS_DENIED_ACE_TYPE ? L"D" : L"A",
             (header->AceFlags & OBJECT_INHERIT_ACE) ? L"OI" : L"",
             (header->AceFlags & CONTAINER_INHERIT_ACE) ? L"CI" : L"",
             ace->Mask);
    lines.push_back(text + SidString(&ace->SidStart));
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

// |view| is 0 or KEY_WOW64_32KEY.
std::vector<std::wstring> KeyAces(HKEY root, const std::wstring& path,
                                  REGSAM view) {
  HKEY key = nullptr;
  LONG result =
      ::RegOpenKeyExW(root, path.c_str(), 0, READ_CONTROL | view, &key);
  if (result != ERROR_SUCCESS)
    return {L"error " + std::to_wstring(result)};
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  result = ::GetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION,
                             nullptr, nullptr, &dacl, nullptr, &descriptor);
  ::RegCloseKey(key);
  if (result != ERROR_SUCCESS)
    return {L"error " + std::to_wstring(result)};
  std::vector<std::wstring> lines = AceLines(dacl);
  ::LocalFree(descriptor);
  return lines;
}

// Sets the DACL of |sddl| ("D:..."); an empty |sddl| sets a NULL DACL.
bool SetKeyDacl(HKEY root, const std::wstring& path, const std::wstring& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!sddl.empty() &&
      !::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    return false;
  }
  PACL dacl = nullptr;
  SECURITY_INFORMATION info = DACL_SECURITY_INFORMATION;
  if (descriptor) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    ::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ::GetSecurityDescriptorControl(descriptor, &control, &revision);
    if (control & SE_DACL_PROTECTED)
      info |= PROTECTED_DACL_SECURITY_INFORMATION;
  }
  HKEY key = nullptr;
  LONG result = ::RegOpenKeyExW(root, path.c_str(), 0, WRITE_DAC, &key);
  if (result == ERROR_SUCCESS) {
    result = ::SetSecurityInfo(key, SE_REGISTRY_KEY, info, nullptr, nullptr,
                               dacl, nullptr);
    ::RegCloseKey(key);
  }
  if (descriptor)
    ::LocalFree(descriptor);
  return result == ERROR_SUCCESS;
}

bool SetFileDacl(const std::wstring& path, const std::wstring& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    return false;
  }
  BOOL ok = ::SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION,
                               descriptor);
  ::LocalFree(descriptor);
  return ok != FALSE;
}

class SecurityUtilsTest : public testing::Test {
 protected:
  void SetUp() override {
    key_path_ = L"Software\\KavorTest\\SecurityUtilsTest-" +
                std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::to_wstring(::GetTickCount64());
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegCreateKeyExW(HKEY_CURRENT_USER, key_path_.c_str(), 0,
                                nullptr, 0, KEY_READ, nullptr, &key, nullptr));
    ::RegCloseKey(key);
    key_name_ = L"CURRENT_USER\\" + key_path_;
    user_ = CurrentUserSid();
    ASSERT_NE(L"?", user_);
  }
  void TearDown() override {
    // A test that stopped half-way may have left a DACL that denies it.
    SetKeyDacl(HKEY_CURRENT_USER, key_path_, L"D:(A;OICI;KA;;;BA)");
    EXPECT_EQ(ERROR_SUCCESS,
              ::RegDeleteTreeW(HKEY_CURRENT_USER, key_path_.c_str()));
  }

  SecurityUtilsImpl utils_;
  std::wstring key_path_;
  std::wstring key_name_;
  std::wstring user_;
};

// The token questions answered for a user of the test's choosing.
class FakeTokenSecurityUtils : public SecurityUtilsImpl {
 public:
  FakeTokenSecurityUtils(bool type_known,
                         TOKEN_ELEVATION_TYPE type,
                         bool process_admin,
                         bool linked_admin)
      : type_known_(type_known),
        type_(type),
        process_admin_(process_admin),
        linked_admin_(linked_admin) {}

 protected:
  bool GetElevationType(TOKEN_ELEVATION_TYPE* type) override {
    *type = type_;
    return type_known_;
  }
  bool IsAdministratorsMember(bool linked) override {
    return linked ? linked_admin_ : process_admin_;
  }

 private:
  bool type_known_;
  TOKEN_ELEVATION_TYPE type_;
  bool process_admin_;
  bool linked_admin_;
};

TEST(SecurityUtilsAdminTest, AdministratorAndElevationByUser) {
  const struct {
    const char* user;
    base::win::Version version;
    bool type_known;
    TOKEN_ELEVATION_TYPE type;
    bool process_admin;
    bool linked_admin;
    bool admin_with_linked;
    bool admin;
    // NeedsElevation for (all users, writable), (current user, writable),
    // (current user, not writable).
    bool needs[3];
  } kCases[] = {
      {"standard user", base::win::WIN7, true, TokenElevationTypeDefault,
       false, false, false, false, {true, false, true}},
      {"administrator, UAC off", base::win::WIN7, true,
       TokenElevationTypeDefault, true, false, true, true,
       {false, false, false}},
      {"filtered administrator", base::win::WIN7, true,
       TokenElevationTypeLimited, false, true, true, false,
       {true, false, true}},
      {"elevated administrator", base::win::WIN10, true,
       TokenElevationTypeFull, true, false, true, true, {false, false, false}},
      {"filtered token before Vista", base::win::XP, true,
       TokenElevationTypeLimited, false, true, false, false,
       {true, false, true}},
      {"elevation type unreadable", base::win::WIN7, false,
       TokenElevationTypeLimited, true, true, false, true,
       {false, false, false}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.user);
    base::win::OSInfo::Record record;
    record.version = c.version;
    base::win::ScopedOSInfoOverride version(record);
    FakeTokenSecurityUtils utils(c.type_known, c.type, c.process_admin,
                                 c.linked_admin);
    EXPECT_EQ(c.admin_with_linked, utils.IsUserAdmin(true));
    EXPECT_EQ(c.admin, utils.IsUserAdmin(false));
    EXPECT_EQ(c.needs[0], utils.NeedsElevation(true, true));
    EXPECT_EQ(c.needs[1], utils.NeedsElevation(false, true));
    EXPECT_EQ(c.needs[2], utils.NeedsElevation(false, false));
  }
}

// The test host runs as an elevated administrator: the real token questions
// must say so both ways.
TEST(SecurityUtilsAdminTest, ElevatedHostIsAdministrator) {
  SecurityUtilsImpl utils;
  EXPECT_TRUE(utils.IsUserAdmin(true));
  EXPECT_TRUE(utils.IsUserAdmin(false));
  EXPECT_FALSE(utils.NeedsElevation(true, false));
}

TEST(SecurityUtilsAdminTest, SetPrivilege) {
  SecurityUtilsImpl utils;
  EXPECT_FALSE(utils.SetPrivilege(L"SeNoSuchPrivilege", true));
  EXPECT_TRUE(utils.SetPrivilege(L"SeTakeOwnershipPrivilege", true));
  EXPECT_TRUE(utils.SetPrivilege(L"SeTakeOwnershipPrivilege", false));
}

TEST(SecurityUtilsAdminTest, OneInstanceUnlessATestInstallsItsOwn) {
  SecurityUtils* first = SecurityUtilsImpl::GetInstance();
  ASSERT_NE(nullptr, first);
  SecurityUtils* others[4] = {};
  {
    std::vector<std::unique_ptr<base::TestThread>> threads;
    for (auto& other : others) {
      threads.push_back(std::make_unique<base::TestThread>(
          [&other] { other = SecurityUtilsImpl::GetInstance(); }));
    }
  }
  for (SecurityUtils* other : others)
    EXPECT_EQ(first, other);

  FakeTokenSecurityUtils fake(true, TokenElevationTypeDefault, false, false);
  SecurityUtilsImpl::SetInstanceForTesting(&fake);
  EXPECT_EQ(&fake, SecurityUtilsImpl::GetInstance());
  SecurityUtilsImpl::SetInstanceForTesting(nullptr);
  EXPECT_EQ(first, SecurityUtilsImpl::GetInstance());
}

// The folder's write access through a deny, the grant and the restore. The
// file system may keep a file's DACL only as it maps onto its own
// permissions (Wine keeps Unix mode bits), which loses deny entries: what a
// grant does to the entries themselves is read back on keys below.
TEST_F(SecurityUtilsTest, FolderWriteAccessFollowsDenyGrantAndRestore) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const std::wstring folder = temp.GetPath().value();
  ASSERT_TRUE(utils_.HasAccess(folder, SE_FILE_OBJECT, kFolderWrite));
  // Only files, keys and 32-bit keys are answered.
  EXPECT_FALSE(utils_.HasAccess(folder, SE_SERVICE, FILE_GENERIC_READ));

  std::unique_ptr<SavedSecurityDescriptor> original;
  ASSERT_TRUE(utils_.GrantAccess(folder, SE_FILE_OBJECT, FILE_GENERIC_READ,
                                 false, &original));
  ASSERT_TRUE(SetFileDacl(folder, L"D:P(D;OICI;0x130116;;;" + user_ +
                                      L")(A;OICI;FA;;;" + user_ + L")"));
  EXPECT_FALSE(utils_.HasAccess(folder, SE_FILE_OBJECT, kFolderWrite));
  EXPECT_TRUE(utils_.HasAccess(folder, SE_FILE_OBJECT, FILE_GENERIC_READ));

  std::unique_ptr<SavedSecurityDescriptor> saved;
  ASSERT_TRUE(utils_.GrantAccess(folder, SE_FILE_OBJECT, kFolderWrite, false,
                                 &saved));
  ASSERT_TRUE(saved);
  EXPECT_TRUE(utils_.HasAccess(folder, SE_FILE_OBJECT, kFolderWrite));
  saved.reset();

  ASSERT_TRUE(SetFileDacl(folder, L"D:P(D;OICI;0x130116;;;" + user_ +
                                      L")(A;OICI;FA;;;" + user_ + L")"));
  EXPECT_TRUE(utils_.RestoreSecurity(&original));
  EXPECT_FALSE(original);
  EXPECT_TRUE(utils_.HasAccess(folder, SE_FILE_OBJECT, kFolderWrite));
  EXPECT_FALSE(utils_.RestoreSecurity(&original));
}

// The grant lifts exactly the requested bits from what denies them to this
// user, leaves other trustees' entries alone and adds an inheritable grant;
// the restore brings back the DACL read before. Keys keep their DACL as
// set, so it is read back entry by entry.
TEST_F(SecurityUtilsTest, GrantLiftsRequestedBitsAndRestoreUndoesIt) {
  const std::wstring stranger = L"S-1-5-21-1-2-3-4000";
  ASSERT_TRUE(SetKeyDacl(HKEY_CURRENT_USER, key_path_,
                         L"D:P(D;OICI;0x6;;;" + user_ + L")(D;;0x6;;;" +
                             stranger + L")(A;;KA;;;BA)"));
  const std::vector<std::wstring> before =
      KeyAces(HKEY_CURRENT_USER, key_path_, 0);
  EXPECT_FALSE(utils_.HasAccess(key_name_, SE_REGISTRY_KEY, KEY_SET_VALUE));
  EXPECT_TRUE(utils_.HasAccess(key_name_, SE_REGISTRY_KEY, kKeyRead));

  std::unique_ptr<SavedSecurityDescriptor> saved;
  ASSERT_TRUE(utils_.GrantAccess(key_name_, SE_REGISTRY_KEY, KEY_SET_VALUE,
                                 false, &saved));
  std::vector<std::wstring> expected = {
      L"A  0xf003f S-1-5-32-544",
      L"A OICI 0x2 " + user_,
      L"D  0x6 " + stranger,
      L"D OICI 0x4 " + user_,
  };
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, KeyAces(HKEY_CURRENT_USER, key_path_, 0));
  EXPECT_TRUE(utils_.HasAccess(key_name_, SE_REGISTRY_KEY, KEY_SET_VALUE));

  ASSERT_TRUE(saved);
  EXPECT_EQ(key_name_, saved->object_name());
  EXPECT_TRUE(utils_.RestoreSecurity(&saved));
  EXPECT_EQ(before, KeyAces(HKEY_CURRENT_USER, key_path_, 0));
  EXPECT_FALSE(utils_.HasAccess(key_name_, SE_REGISTRY_KEY, KEY_SET_VALUE));
  EXPECT_FALSE(utils_.RestoreSecurity(&saved));
}

TEST_F(SecurityUtilsTest, DoNotSaveLeavesSavedEmpty) {
  ASSERT_TRUE(SetKeyDacl(HKEY_CURRENT_USER, key_path_, L"D:P(A;;KA;;;BA)"));
  auto saved = std::make_unique<SavedSecurityDescriptor>(
      L"stale", SE_FILE_OBJECT, nullptr, nullptr);
  ASSERT_TRUE(utils_.GrantAccess(key_name_, SE_REGISTRY_KEY, kKeyRead, true,
                                 &saved));
  EXPECT_FALSE(saved);
  std::vector<std::wstring> expected = {L"A  0xf003f S-1-5-32-544",
                                        L"A OICI 0x20019 " + user_};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, KeyAces(HKEY_CURRENT_USER, key_path_, 0));
}

// A NULL DACL lets everyone in and has no entries: the grant replaces it,
// the restore brings it back.
TEST_F(SecurityUtilsTest, GrantOnNullDacl) {
  ASSERT_TRUE(SetKeyDacl(HKEY_CURRENT_USER, key_path_, L""));
  ASSERT_EQ(std::vector<std::wstring>{L"null"},
            KeyAces(HKEY_CURRENT_USER, key_path_, 0));
  EXPECT_TRUE(utils_.HasAccess(key_name_, SE_REGISTRY_KEY, KEY_ALL_ACCESS));

  std::unique_ptr<SavedSecurityDescriptor> saved;
  ASSERT_TRUE(utils_.GrantAccess(key_name_, SE_REGISTRY_KEY, kKeyRead, false,
                                 &saved));
  EXPECT_EQ(std::vector<std::wstring>{L"A OICI 0x20019 " + user_},
            KeyAces(HKEY_CURRENT_USER, key_path_, 0));
  EXPECT_TRUE(utils_.RestoreSecurity(&saved));
  EXPECT_EQ(std::vector<std::wstring>{L"null"},
            KeyAces(HKEY_CURRENT_USER, key_path_, 0));
}

TEST_F(SecurityUtilsTest, UnknownKeyRootOrMissingKeyIsNoAccess) {
  std::unique_ptr<SavedSecurityDescriptor> saved;
  for (const std::wstring& name :
       {L"NOWHERE\\" + key_path_, key_name_ + L"\\Missing",
        L"CURRENT_USERS\\" + key_path_}) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    EXPECT_FALSE(utils_.HasAccess(name, SE_REGISTRY_KEY, kKeyRead));
    EXPECT_FALSE(
        utils_.GrantAccess(name, SE_REGISTRY_KEY, kKeyRead, false, &saved));
    EXPECT_FALSE(saved);
  }
  EXPECT_TRUE(utils_.HasAccess(L"current_user\\" + key_path_, SE_REGISTRY_KEY,
                               kKeyRead));
}

// The uninstall key in the 32-bit view: its own DACL changes, the 64-bit
// key's does not. A prefix without 32-bit support lacks the key; it is made
// for the test then and removed again.
TEST(SecurityUtils32BitKeyTest, UninstallKeyIn32BitView) {
  const std::wstring path =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
  const std::wstring name = L"MACHINE\\" + path;
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(ERROR_SUCCESS,
            ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                              KEY_READ | KEY_WOW64_32KEY, nullptr, &key,
                              &disposition));
  ::RegCloseKey(key);
  const std::wstring user = CurrentUserSid();
  const std::vector<std::wstring> before32 =
      KeyAces(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY);
  const std::vector<std::wstring> before64 =
      KeyAces(HKEY_LOCAL_MACHINE, path, 0);
  const std::wstring grant = L"A OICI 0x30019 " + user;
  EXPECT_EQ(before32.end(),
            std::find(before32.begin(), before32.end(), grant));

  SecurityUtilsImpl utils;
  EXPECT_TRUE(utils.HasAccess(name, SE_REGISTRY_WOW64_32KEY, 0x30019));
  std::unique_ptr<SavedSecurityDescriptor> saved;
  EXPECT_TRUE(utils.GrantAccess(name, SE_REGISTRY_WOW64_32KEY, 0x30019, false,
                                &saved));
  const std::vector<std::wstring> granted32 =
      KeyAces(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY);
  EXPECT_NE(granted32.end(),
            std::find(granted32.begin(), granted32.end(), grant));
  EXPECT_EQ(before64, KeyAces(HKEY_LOCAL_MACHINE, path, 0));
  EXPECT_TRUE(utils.RestoreSecurity(&saved));
  EXPECT_EQ(before32, KeyAces(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY));

  if (disposition == REG_CREATED_NEW_KEY) {
    EXPECT_EQ(ERROR_SUCCESS,
              ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(),
                                KEY_WOW64_32KEY, 0));
  }
}

}  // namespace
}  // namespace installer
