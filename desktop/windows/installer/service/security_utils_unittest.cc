#include "desktop/windows/installer/service/security_utils.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/files/scoped_temp_dir.h"
#include "base/win/windows_version.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

const uint32_t kFolderWrite = FILE_GENERIC_WRITE | DELETE;
const uint32_t kKeyRead = 0x20019;

std::wstring SidText(PSID sid) {
  LPWSTR text = nullptr;
  if (!::ConvertSidToStringSidW(sid, &text))
    return L"?";
  std::wstring result(text);
  ::LocalFree(text);
  return result;
}

std::wstring UserSid() {
  HANDLE token = nullptr;
  BYTE buffer[256];
  DWORD size = 0;
  std::wstring sid = L"?";
  if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token) &&
      ::GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size)) {
    sid = SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
  }
  ::CloseHandle(token);
  return sid;
}

// The key's own DACL entries as sorted "D OICI 0x4 S-1-..." lines, {"null"}
// for a NULL DACL. |view| is 0 or KEY_WOW64_32KEY.
std::vector<std::wstring> KeyAces(HKEY root,
                                  const std::wstring& path,
                                  REGSAM view) {
  HKEY key = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  LONG result =
      ::RegOpenKeyExW(root, path.c_str(), 0, READ_CONTROL | view, &key);
  if (result == ERROR_SUCCESS) {
    result = ::GetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION,
                               nullptr, nullptr, &dacl, nullptr, &descriptor);
    ::RegCloseKey(key);
  }
  std::vector<std::wstring> lines;
  if (result != ERROR_SUCCESS)
    return {L"error " + std::to_wstring(result)};
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!::GetAce(dacl, i, reinterpret_cast<void**>(&header)) ||
        (header->AceFlags & INHERITED_ACE)) {
      continue;
    }
    wchar_t text[32];
    swprintf(text, 32, L"%ls %ls%ls 0x%lx ",
             header->AceType == ACCESS_DENIED_ACE_TYPE ? L"D" : L"A",
             (header->AceFlags & OBJECT_INHERIT_ACE) ? L"OI" : L"",
             (header->AceFlags & CONTAINER_INHERIT_ACE) ? L"CI" : L"",
             reinterpret_cast<ACCESS_ALLOWED_ACE*>(header)->Mask);
    lines.push_back(
        text +
        SidText(&reinterpret_cast<ACCESS_ALLOWED_ACE*>(header)->SidStart));
  }
  if (!dacl)
    lines.push_back(L"null");
  ::LocalFree(descriptor);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Sets the DACL of |sddl| ("D:..."), or a NULL DACL for an empty |sddl|.
bool SetDacl(const std::wstring& name,
             SE_OBJECT_TYPE type,
             const std::wstring& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL dacl = nullptr;
  SECURITY_INFORMATION info = DACL_SECURITY_INFORMATION;
  if (!sddl.empty()) {
    BOOL present, defaulted;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr) ||
        !::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) ||
        !::GetSecurityDescriptorControl(descriptor, &control, &revision)) {
      return false;
    }
    if (control & SE_DACL_PROTECTED)
      info |= PROTECTED_DACL_SECURITY_INFORMATION;
  }
  std::wstring writable = name;
  DWORD result = ::SetNamedSecurityInfoW(&writable[0], type, info, nullptr,
                                         nullptr, dacl, nullptr);
  ::LocalFree(descriptor);
  return result == ERROR_SUCCESS;
}

// A test key below HKCU\Software\KavorTest, removed again whatever DACL the
// test left on it.
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
    user_ = UserSid();
    ASSERT_NE(L"?", user_);
  }
  void TearDown() override {
    SetDacl(key_name_, SE_REGISTRY_KEY, L"D:(A;OICI;KA;;;BA)");
    EXPECT_EQ(ERROR_SUCCESS,
              ::RegDeleteTreeW(HKEY_CURRENT_USER, key_path_.c_str()));
  }
  std::vector<std::wstring> Aces() {
    return KeyAces(HKEY_CURRENT_USER, key_path_, 0);
  }

  SecurityUtilsImpl utils_;
  std::wstring key_path_;
  std::wstring key_name_;
  std::wstring user_;
};

// The token questions answered for a user of the test's choosing; an
// elevation type of 0 can't be read.
struct FakeTokenSecurityUtils : public SecurityUtilsImpl {
  bool GetElevationType(TOKEN_ELEVATION_TYPE* result) override {
    *result = type;
    return type != 0;
  }
  bool IsAdministratorsMember(bool linked) override {
    return linked ? linked_admin : admin;
  }
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  bool admin = false;
  bool linked_admin = false;
};

TEST(SecurityUtilsAdminTest, AdministratorAndElevationByUser) {
  const TOKEN_ELEVATION_TYPE kUnreadable = static_cast<TOKEN_ELEVATION_TYPE>(0);
  const struct {
    const char* user;
    base::win::Version version;
    TOKEN_ELEVATION_TYPE type;
    bool token_admin, linked_admin;
    bool admin_with_linked, admin;
    // NeedsElevation(all users, writable), (current user, writable) and
    // (current user, not writable).
    bool needs[3];
  } kCases[] = {
      // clang-format off
      {"standard user", base::win::WIN7, TokenElevationTypeDefault,
       false, false, false, false, {true, false, true}},
      {"administrator, UAC off", base::win::WIN7, TokenElevationTypeDefault,
       true, false, true, true, {false, false, false}},
      {"filtered administrator", base::win::WIN7, TokenElevationTypeLimited,
       false, true, true, false, {true, false, true}},
      {"elevated administrator", base::win::WIN10, TokenElevationTypeFull,
       true, false, true, true, {false, false, false}},
      {"filtered token before Vista", base::win::XP, TokenElevationTypeLimited,
       false, true, false, false, {true, false, true}},
      {"elevation type unreadable", base::win::WIN7, kUnreadable,
       true, true, false, true, {false, false, false}},
      // clang-format on
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.user);
    base::win::OSInfo::Record record;
    record.version = c.version;
    base::win::ScopedOSInfoOverride version(record);
    FakeTokenSecurityUtils utils;
    utils.type = c.type;
    utils.admin = c.token_admin;
    utils.linked_admin = c.linked_admin;
    EXPECT_EQ(c.admin_with_linked, utils.IsUserAdmin(true));
    EXPECT_EQ(c.admin, utils.IsUserAdmin(false));
    EXPECT_EQ(c.needs[0], utils.NeedsElevation(true, true));
    EXPECT_EQ(c.needs[1], utils.NeedsElevation(false, true));
    EXPECT_EQ(c.needs[2], utils.NeedsElevation(false, false));
  }
}

// The test host runs as an elevated administrator, which the real token
// questions must see both ways; only such a user can take ownership.
TEST(SecurityUtilsAdminTest, RealTokenOfElevatedHost) {
  SecurityUtilsImpl utils;
  EXPECT_TRUE(utils.IsUserAdmin(true));
  EXPECT_TRUE(utils.IsUserAdmin(false));
  EXPECT_FALSE(utils.NeedsElevation(true, false));
  EXPECT_TRUE(utils.SetPrivilege(L"SeTakeOwnershipPrivilege", true));
  EXPECT_TRUE(utils.SetPrivilege(L"SeTakeOwnershipPrivilege", false));
  EXPECT_FALSE(utils.SetPrivilege(L"SeNoSuchPrivilege", true));
}

TEST(SecurityUtilsAdminTest, TestInstanceReplacesTheProcessWideOne) {
  SecurityUtils* real = SecurityUtilsImpl::GetInstance();
  ASSERT_NE(nullptr, real);
  EXPECT_EQ(real, SecurityUtilsImpl::GetInstance());
  FakeTokenSecurityUtils fake;
  SecurityUtilsImpl::SetInstanceForTesting(&fake);
  EXPECT_EQ(&fake, SecurityUtilsImpl::GetInstance());
  SecurityUtilsImpl::SetInstanceForTesting(nullptr);
  EXPECT_EQ(real, SecurityUtilsImpl::GetInstance());
}

// A folder's write access through a deny, a grant and the restore of the
// DACL read first. A file system may keep a file's DACL only as it maps onto
// its own permissions (Wine keeps Unix mode bits) and so lose deny entries:
// what a grant does to the entries is read back on keys below.
TEST_F(SecurityUtilsTest, FolderWriteAccessFollowsDenyGrantAndRestore) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const std::wstring folder = temp.GetPath().value();
  const std::wstring deny_write =
      L"D:P(D;OICI;0x130116;;;" + user_ + L")(A;OICI;FA;;;" + user_ + L")";
  EXPECT_TRUE(utils_.HasAccess(folder, SE_FILE_OBJECT, kFolderWrite));
  // Only files, keys and 32-bit keys are answered.
  EXPECT_FALSE(utils_.HasAccess(folder, SE_SERVICE, FILE_GENERIC_READ));

  std::unique_ptr<SavedSecurityDescriptor> original, saved;
  ASSERT_TRUE(utils_.GrantAccess(folder, SE_FILE_OBJECT, FILE_GENERIC_READ,
                                 false, &original));
  ASSERT_TRUE(SetDacl(folder, SE_FILE_OBJECT, deny_write));
  EXPECT_FALSE(utils_.HasAccess(folder, SE_FILE_OBJECT, kFolderWrite));
  EXPECT_TRUE(utils_.HasAccess(folder, SE_FILE_OBJECT, FILE_GENERIC_READ));
  EXPECT_TRUE(
      utils_.GrantAccess(folder, SE_FILE_OBJECT, kFolderWrite, false, &saved));
  EXPECT_TRUE(utils_.HasAccess(folder, SE_FILE_OBJECT, kFolderWrite));

  ASSERT_TRUE(SetDacl(folder, SE_FILE_OBJECT, deny_write));
  EXPECT_TRUE(utils_.RestoreSecurity(&original));
  EXPECT_FALSE(original);
  EXPECT_TRUE(utils_.HasAccess(folder, SE_FILE_OBJECT, kFolderWrite));
  EXPECT_FALSE(utils_.RestoreSecurity(&original));
}

// The grant lifts exactly the requested bits from what denies them to this
// user (directly or through a group), leaves other trustees' entries alone
// and adds an inheritable grant; the restore brings back the DACL before.
TEST_F(SecurityUtilsTest, GrantLiftsRequestedBitsAndRestoreUndoesIt) {
  const std::wstring stranger = L"S-1-5-21-1-2-3-4000";
  ASSERT_TRUE(SetDacl(key_name_, SE_REGISTRY_KEY,
                      L"D:P(D;OICI;0x6;;;" + user_ +
                          L")(D;;0x6;;;WD)(D;;0x6;;;" + stranger +
                          L")(A;;KA;;;BA)"));
  const std::vector<std::wstring> before = Aces();
  EXPECT_FALSE(utils_.HasAccess(key_name_, SE_REGISTRY_KEY, KEY_SET_VALUE));
  EXPECT_TRUE(utils_.HasAccess(key_name_, SE_REGISTRY_KEY, kKeyRead));
  EXPECT_FALSE(utils_.HasAccess(L"CURRENT_USERS\\" + key_path_, SE_REGISTRY_KEY,
                                kKeyRead));

  std::unique_ptr<SavedSecurityDescriptor> saved;
  ASSERT_TRUE(utils_.GrantAccess(key_name_, SE_REGISTRY_KEY, KEY_SET_VALUE,
                                 false, &saved));
  std::vector<std::wstring> expected = {
      L"A  0xf003f S-1-5-32-544", L"A OICI 0x2 " + user_, L"D  0x4 S-1-1-0",
      L"D  0x6 " + stranger,      L"D OICI 0x4 " + user_,
  };
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, Aces());
  EXPECT_TRUE(utils_.HasAccess(key_name_, SE_REGISTRY_KEY, KEY_SET_VALUE));

  ASSERT_TRUE(saved);
  EXPECT_EQ(key_name_, saved->object_name());
  EXPECT_TRUE(utils_.RestoreSecurity(&saved));
  EXPECT_EQ(before, Aces());
  EXPECT_FALSE(utils_.HasAccess(key_name_, SE_REGISTRY_KEY, KEY_SET_VALUE));
  EXPECT_FALSE(utils_.RestoreSecurity(&saved));
}

// A NULL DACL lets everyone in and has no entries: the grant replaces it,
// the restore brings it back.
TEST_F(SecurityUtilsTest, GrantOnNullDacl) {
  ASSERT_TRUE(SetDacl(key_name_, SE_REGISTRY_KEY, L""));
  ASSERT_EQ(std::vector<std::wstring>{L"null"}, Aces());
  EXPECT_TRUE(utils_.HasAccess(key_name_, SE_REGISTRY_KEY, KEY_ALL_ACCESS));

  std::unique_ptr<SavedSecurityDescriptor> saved;
  ASSERT_TRUE(
      utils_.GrantAccess(key_name_, SE_REGISTRY_KEY, kKeyRead, false, &saved));
  EXPECT_EQ(std::vector<std::wstring>{L"A OICI 0x20019 " + user_}, Aces());
  EXPECT_TRUE(utils_.RestoreSecurity(&saved));
  EXPECT_EQ(std::vector<std::wstring>{L"null"}, Aces());

  // Not saving leaves the saved out empty, whatever it held.
  saved = std::make_unique<SavedSecurityDescriptor>(L"stale", SE_FILE_OBJECT,
                                                    nullptr, nullptr);
  ASSERT_TRUE(
      utils_.GrantAccess(key_name_, SE_REGISTRY_KEY, kKeyRead, true, &saved));
  EXPECT_FALSE(saved);
  EXPECT_EQ(std::vector<std::wstring>{L"A OICI 0x20019 " + user_}, Aces());
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
  const auto before32 = KeyAces(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY);
  const auto before64 = KeyAces(HKEY_LOCAL_MACHINE, path, 0);
  const std::wstring grant = L"A OICI 0x30019 " + UserSid();
  EXPECT_EQ(0, std::count(before32.begin(), before32.end(), grant));

  SecurityUtilsImpl utils;
  EXPECT_TRUE(utils.HasAccess(name, SE_REGISTRY_WOW64_32KEY, 0x30019));
  std::unique_ptr<SavedSecurityDescriptor> saved;
  EXPECT_TRUE(
      utils.GrantAccess(name, SE_REGISTRY_WOW64_32KEY, 0x30019, false, &saved));
  const auto granted32 = KeyAces(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY);
  EXPECT_EQ(1, std::count(granted32.begin(), granted32.end(), grant));
  EXPECT_EQ(before64, KeyAces(HKEY_LOCAL_MACHINE, path, 0));
  EXPECT_TRUE(utils.RestoreSecurity(&saved));
  EXPECT_EQ(before32, KeyAces(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY));

  if (disposition == REG_CREATED_NEW_KEY) {
    EXPECT_EQ(ERROR_SUCCESS, ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(),
                                               KEY_WOW64_32KEY, 0));
  }
}

}  // namespace
}  // namespace installer
