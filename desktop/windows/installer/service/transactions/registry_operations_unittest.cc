#include "desktop/windows/installer/service/transactions/registry_operations.h"

#include <windows.h>
#include <sddl.h>

#include <string.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "desktop/windows/installer/service/transactions/file_operations.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// Everything below |path| as text: every key with its DACL in SDDL form and
// its values with type and data bytes, in the registry's enumeration order.
// "missing" when the key is not there.
std::wstring Snapshot(HKEY root, const std::wstring& path, REGSAM view) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) !=
      ERROR_SUCCESS) {
    return L"missing";
  }
  std::wstring text;
  BYTE descriptor[1024];
  DWORD size = sizeof(descriptor);
  LPWSTR sddl = nullptr;
  if (::RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor, &size) ==
          ERROR_SUCCESS &&
      ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl,
          nullptr)) {
    text += sddl;
    ::LocalFree(sddl);
  }
  text += L"\n";
  wchar_t name[256];
  BYTE data[1024];
  DWORD name_length = 256, data_length = sizeof(data), type = 0;
  for (DWORD i = 0; ::RegEnumValueW(key, i, name, &name_length, nullptr, &type,
                                    data, &data_length) == ERROR_SUCCESS;
       ++i, name_length = 256, data_length = sizeof(data)) {
    text += L"  [" + std::wstring(name, name_length) + L"] type " +
            std::to_wstring(type) + L":";
    for (DWORD b = 0; b < data_length; ++b)
      text += L" " + std::to_wstring(data[b]);
    text += L"\n";
  }
  for (DWORD i = 0; name_length = 256,
             ::RegEnumKeyExW(key, i, name, &name_length, nullptr, nullptr,
                             nullptr, nullptr) == ERROR_SUCCESS;
       ++i) {
    const std::wstring subkey(name, name_length);
    text += subkey + L": " + Snapshot(root, path + L"\\" + subkey, view);
  }
  ::RegCloseKey(key);
  return text;
}

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view) {
  return Snapshot(root, path, view) != L"missing";
}

// Creates the key when needed.
bool SetValue(const std::wstring& path,
              const wchar_t* name,
              DWORD type,
              const void* data,
              DWORD size) {
  return ::RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), name, type, data,
                           size) == ERROR_SUCCESS;
}

// Gives the HKCU key |path| the DACL of |sddl|.
bool SetDacl(const std::wstring& path, const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
    return false;
  }
  HKEY key = nullptr;
  LONG result =
      ::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, WRITE_DAC, &key);
  if (result == ERROR_SUCCESS) {
    result = ::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
    ::RegCloseKey(key);
  }
  ::LocalFree(descriptor);
  return result == ERROR_SUCCESS;
}

// A fresh key below HKCU\Software\KavorTest, removed with everything below.
class RegistryOperationsTest : public testing::Test {
 protected:
  void SetUp() override {
    base_ = L"Software\\KavorTest\\RegistryOperations-" +
            std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(::GetTickCount64());
    ASSERT_TRUE(SetValue(base_, L"", REG_NONE, nullptr, 0));
  }
  void TearDown() override {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, base_.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, base_.c_str());
  }

  std::wstring base_;
};

// What a value holds after Execute, and that Rollback brings back the keys
// and values before.
TEST_F(RegistryOperationsTest, ValueChangesAndTheirRollback) {
  const DWORD five = 5, seven = 7;
  const wchar_t text[] = L"new";
  const struct {
    const wchar_t* key;  // below the test key; "M..." keys are missing
    DWORD old_type;      // kDeleteRegistryValueType: no old value
    const void* old_data;
    DWORD old_size;
    uint32_t new_type;
    const void* new_data;
    DWORD new_size;
    size_t operations;  // in the transaction after Execute
  } kCases[] = {
      // Creates the highest missing key, MA, before it; the rollback changes
      // the value back first, then deletes MA with B and C.
      {L"MA\\B\\C", kDeleteRegistryValueType, nullptr, 0, REG_SZ, text,
       sizeof(text), 2},
      // A key name may hold "/": only "\\" separates key names.
      {L"Mtext/html", kDeleteRegistryValueType, nullptr, 0, REG_SZ, text,
       sizeof(text), 2},
      // The old type and 4 bytes come back, not the new ones.
      {L"D", REG_DWORD, &five, 4, REG_SZ, text, sizeof(text), 1},
      {L"D", REG_DWORD, &five, 4, REG_DWORD, &seven, 4, 1},
      {L"N", kDeleteRegistryValueType, nullptr, 0, REG_DWORD, &seven, 4, 1},
      {L"X", REG_SZ, text, sizeof(text), kDeleteRegistryValueType, nullptr, 0,
       1},
      {L"E", kDeleteRegistryValueType, nullptr, 0, kDeleteRegistryValueType,
       nullptr, 0, 1},
      // Deleting a value of a missing key creates nothing.
      {L"Missing\\Key", kDeleteRegistryValueType, nullptr, 0,
       kDeleteRegistryValueType, nullptr, 0, 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.key << " " << c.new_type);
    const std::wstring path = base_ + L"\\" + c.key;
    if (c.old_type != kDeleteRegistryValueType) {
      ASSERT_TRUE(SetValue(path, L"v", c.old_type, c.old_data, c.old_size));
    } else if (c.key[0] != L'M') {
      ASSERT_TRUE(SetValue(path, L"other", REG_NONE, nullptr, 0));
    }
    const std::wstring before = Snapshot(HKEY_CURRENT_USER, base_, 0);
    Transaction transaction;
    ASSERT_TRUE(ExecuteOperation(&transaction,
                                 std::make_unique<ChangeRegValueOperation>(
                                     HKEY_CURRENT_USER, path, L"v", c.new_data,
                                     c.new_type, c.new_size, 0),
                                 nullptr));
    EXPECT_EQ(c.operations, transaction.size());
    BYTE data[64];
    DWORD type = 0, size = sizeof(data);
    const LONG read = ::RegGetValueW(HKEY_CURRENT_USER, path.c_str(), L"v",
                                     RRF_RT_ANY, &type, data, &size);
    if (c.new_type == kDeleteRegistryValueType) {
      EXPECT_NE(ERROR_SUCCESS, read);
    } else {
      EXPECT_EQ(ERROR_SUCCESS, read);
      EXPECT_EQ(c.new_type, type);
      EXPECT_EQ(std::string(static_cast<const char*>(c.new_data), c.new_size),
                std::string(reinterpret_cast<char*>(data), size));
    }
    RollbackOperations(&transaction);
    EXPECT_EQ(before, Snapshot(HKEY_CURRENT_USER, base_, 0));
  }
}

// Wine (8.0) creates a key with the default security whatever security
// RegCreateKeyExW is given; this puts the given DACL on afterwards, as
// Windows would have at creation.
class SecurityAtCreationOperation : public DeleteRegKeyOperation {
 public:
  using DeleteRegKeyOperation::DeleteRegKeyOperation;

 protected:
  LONG CreateKey(const base::string16& key_path,
                 SECURITY_ATTRIBUTES* attributes,
                 HKEY* key,
                 DWORD* disposition) override {
    LONG result = DeleteRegKeyOperation::CreateKey(key_path, attributes, key,
                                                   disposition);
    HKEY writable = nullptr;
    if (result == ERROR_SUCCESS && *disposition == REG_CREATED_NEW_KEY &&
        ::RegOpenKeyExW(HKEY_CURRENT_USER, key_path.c_str(), 0, WRITE_DAC,
                        &writable) == ERROR_SUCCESS) {
      result = ::RegSetKeySecurity(writable, DACL_SECURITY_INFORMATION,
                                   attributes->lpSecurityDescriptor);
      ::RegCloseKey(writable);
    }
    return result;
  }
};

// A key that refuses to go fails the operation once, instead of being found
// again as its parent's first subkey, and the rollback restores the rest.
class UndeletableKeyOperation : public DeleteRegKeyOperation {
 public:
  using DeleteRegKeyOperation::DeleteRegKeyOperation;
  static int refusals;

 protected:
  // Only the first attempt on T\A is refused, so that a walk that tries
  // again ends too.
  LONG DeleteKey(const base::string16& key_path) override {
    if (base::EndsWith(key_path, L"\\T\\A", base::CompareCase::SENSITIVE) &&
        ++refusals == 1) {
      return ERROR_ACCESS_DENIED;
    }
    return DeleteRegKeyOperation::DeleteKey(key_path);
  }
};
int UndeletableKeyOperation::refusals = 0;

TEST_F(RegistryOperationsTest, KeyThatCannotBeDeletedFailsTheOperation) {
  const std::wstring tree = base_ + L"\\T";
  ASSERT_TRUE(SetValue(tree + L"\\A\\Sub", L"s", REG_SZ, L"1", 4));
  ASSERT_TRUE(SetValue(tree + L"\\A", L"a", REG_SZ, L"2", 4));
  ASSERT_TRUE(SetValue(tree + L"\\B", L"b", REG_SZ, L"3", 4));
  const std::wstring before = Snapshot(HKEY_CURRENT_USER, base_, 0);

  UndeletableKeyOperation::refusals = 0;
  Transaction transaction;
  EXPECT_FALSE(ExecuteOperation(
      &transaction,
      std::make_unique<UndeletableKeyOperation>(HKEY_CURRENT_USER, tree, 0),
      nullptr));
  EXPECT_EQ(1, UndeletableKeyOperation::refusals);
  EXPECT_TRUE(transaction.empty());
  EXPECT_EQ(before, Snapshot(HKEY_CURRENT_USER, base_, 0));
}

// The 32-bit view under HKLM: value, key creation and tree deletion land in
// Wow6432Node and leave the native key of the same name alone.
TEST(RegistryOperations32BitTest, MachineKeysInThe32BitView) {
  const std::wstring path = L"Software\\KavorTest\\RegistryOperations32-" +
                            std::to_wstring(::GetCurrentProcessId());
  const std::wstring redirected =
      L"Software\\Wow6432Node\\KavorTest\\RegistryOperations32-" +
      std::to_wstring(::GetCurrentProcessId());
  const DWORD one = 1;
  Transaction transaction;
  ASSERT_TRUE(ExecuteOperation(&transaction,
                               std::make_unique<ChangeRegValueOperation>(
                                   HKEY_LOCAL_MACHINE, path + L"\\A", L"v",
                                   &one, REG_DWORD, 4, KEY_WOW64_32KEY),
                               nullptr));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, redirected + L"\\A", 0));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY));
  const std::wstring written =
      Snapshot(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY);

  Transaction deletion;
  ASSERT_TRUE(ExecuteOperation(&deletion,
                               std::make_unique<DeleteRegKeyOperation>(
                                   HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY),
                               nullptr));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, redirected, 0));
  RollbackOperations(&deletion);
  EXPECT_EQ(written, Snapshot(HKEY_LOCAL_MACHINE, redirected, 0));

  RollbackOperations(&transaction);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, redirected, 0));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY));
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, redirected.c_str());
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, redirected.c_str());
}

// A run's mixed list of file and registry changes whose last operation
// fails: the rollback of the list leaves files and registry as they were,
// the deleted tree with its values and security.
// The value changed inside Tree before Tree's deletion comes back although
// the handle it was written through is the deleted key's.
TEST_F(RegistryOperationsTest, WholeRollbackOfMixedOperations) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const base::FilePath dir = temp.GetPath();
  const auto files = [&dir]() {
    std::map<base::FilePath, std::string> found;  // directories hold "/"
    base::FileEnumerator all(
        dir, true,
        base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES);
    for (base::FilePath path = all.Next(); !path.empty(); path = all.Next()) {
      if (!base::ReadFileToString(path, &found[path]))
        found[path] = "/";
    }
    return found;
  };
  const struct {
    const wchar_t* name;
    const char* text;
  } kFiles[] = {{L"a\\one.txt", "one"},
                {L"a\\b\\lib.dll", "old library"},
                {L"a\\b\\gone.txt", "gone"},
                {L"moved.txt", "moved"}};
  for (const auto& file : kFiles) {
    const base::FilePath path = dir.Append(file.name);
    const int size = static_cast<int>(strlen(file.text));
    ASSERT_TRUE(base::CreateDirectory(path.DirName()));
    ASSERT_EQ(size, base::WriteFile(path, file.text, size));
  }
  const DWORD five = 5, seven = 7;
  ASSERT_TRUE(SetValue(base_ + L"\\Tree", L"n", REG_DWORD, &five, 4));
  ASSERT_TRUE(SetValue(base_ + L"\\Tree\\Sub", L"s", REG_SZ, L"1", 4));
  ASSERT_TRUE(SetValue(base_ + L"\\Tree\\Sub\\X", L"", REG_NONE, nullptr, 0));
  // A DACL of its own that the deleted tree must get back.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:P(A;OICI;KA;;;WD)(A;;KR;;;S-1-5-21-1-2-3-4000)", SDDL_REVISION_1,
      &descriptor, nullptr));
  HKEY sub = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            ::RegOpenKeyExW(HKEY_CURRENT_USER, (base_ + L"\\Tree\\Sub").c_str(),
                            0, WRITE_DAC, &sub));
  EXPECT_EQ(ERROR_SUCCESS,
            ::RegSetKeySecurity(sub, DACL_SECURITY_INFORMATION, descriptor));
  ::RegCloseKey(sub);
  ::LocalFree(descriptor);
  const auto files_before = files();
  const std::wstring registry_before = Snapshot(HKEY_CURRENT_USER, base_, 0);

  const wchar_t text[] = L"text";
  std::vector<std::unique_ptr<TransactionOperation>> operations;
  operations.push_back(
      std::make_unique<CreateFolderOperation>(dir.Append(L"new\\deep")));
  operations.push_back(std::make_unique<CopyFileOperation>(
      dir.Append(L"a\\one.txt"), dir.Append(L"new\\deep\\copy.txt")));
  operations.push_back(std::make_unique<CopyFileOperation>(
      dir.Append(L"a\\one.txt"), dir.Append(L"a\\b\\lib.dll")));
  operations.push_back(std::make_unique<DeleteFileOperation>(
      dir.Append(L"a\\b\\gone.txt"), false, true, dir));
  operations.push_back(std::make_unique<MoveFileOperation>(
      dir.Append(L"moved.txt"), dir.Append(L"other\\moved.txt"), dir));
  operations.push_back(std::make_unique<ChangeRegValueOperation>(
      HKEY_CURRENT_USER, base_ + L"\\X\\Y", L"v", text, REG_SZ, sizeof(text),
      0));
  operations.push_back(std::make_unique<ChangeRegValueOperation>(
      HKEY_CURRENT_USER, base_ + L"\\Tree", L"n", &seven, REG_DWORD, 4, 0));
  operations.push_back(std::make_unique<SecurityAtCreationOperation>(
      HKEY_CURRENT_USER, base_ + L"\\Tree", 0));
  operations.push_back(std::make_unique<CreateRegKeyOperation>(
      HKEY_CURRENT_USER, base_ + L"\\K\\L", 0));
  operations.push_back(std::make_unique<CopyFileOperation>(
      dir.Append(L"missing.txt"), dir.Append(L"new\\missing.txt")));

  Transaction transaction;
  size_t executed = 0;
  while (executed < operations.size() &&
         ExecuteOperation(&transaction, std::move(operations[executed]),
                          nullptr)) {
    ++executed;
  }
  ASSERT_EQ(operations.size() - 1, executed);
  EXPECT_NE(files_before, files());
  EXPECT_NE(registry_before, Snapshot(HKEY_CURRENT_USER, base_, 0));
  RollbackOperations(&transaction);
  EXPECT_EQ(files_before, files());
  EXPECT_EQ(registry_before, Snapshot(HKEY_CURRENT_USER, base_, 0));
}

// Deleted values come back with their own sizes and types, whatever the
// largest value of their key; a key that was made again meanwhile keeps what
// it holds now, while its missing subkeys come back.
TEST_F(RegistryOperationsTest, DeletedTreeComesBackAsItWasOrAsItIsAgain) {
  const std::wstring tree = base_ + L"\\T";
  const BYTE one_byte = 7;
  const DWORD number = 0x01020304;
  const wchar_t text[] = L"a longer text value";
  const auto fill = [&]() {
    for (const std::wstring& path : {tree, tree + L"\\Sub"}) {
      if (!SetValue(path, L"b", REG_BINARY, &one_byte, 1) ||
          !SetValue(path, L"d", REG_DWORD, &number, 4) ||
          !SetValue(path, L"s", REG_SZ, text, sizeof(text)) ||
          !SetValue(path, L"n", REG_NONE, nullptr, 0)) {
        return false;
      }
    }
    return true;
  };
  ASSERT_TRUE(fill());
  const std::wstring before = Snapshot(HKEY_CURRENT_USER, base_, 0);
  for (bool made_again : {false, true}) {
    SCOPED_TRACE(made_again ? "made again" : "as it was");
    Transaction transaction;
    ASSERT_TRUE(ExecuteOperation(
        &transaction,
        std::make_unique<DeleteRegKeyOperation>(HKEY_CURRENT_USER, tree, 0),
        nullptr));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, tree, 0)) << "deleted tree";
    std::wstring expected = before;
    if (made_again) {
      const DWORD other = 9;
      ASSERT_TRUE(SetValue(tree, L"d", REG_DWORD, &other, 4));
      ASSERT_TRUE(SetValue(tree, L"new", REG_NONE, nullptr, 0));
      // The key as it is now, with the subkey the rollback brings back.
      const std::wstring now = Snapshot(HKEY_CURRENT_USER, tree, 0);
      expected = Snapshot(HKEY_CURRENT_USER, base_, 0);
      expected = expected.substr(0, expected.size() - now.size()) + now +
                 L"Sub: " +
                 before.substr(before.rfind(L"Sub: ") + wcslen(L"Sub: "));
    }
    RollbackOperations(&transaction);
    EXPECT_EQ(expected, Snapshot(HKEY_CURRENT_USER, base_, 0))
        << "tree after rollback";
    ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteTreeW(HKEY_CURRENT_USER, tree.c_str()));
    ASSERT_TRUE(fill());
  }
}

// Answers that the current user lacks access to every key, so that each
// deletion widens the key's DACL through the real grant first.
class NoKeyAccessSecurityUtils : public SecurityUtilsImpl {
 public:
  bool HasAccess(const base::string16&, SE_OBJECT_TYPE, uint32_t) override {
    return false;
  }
};

// A key that refuses to go, after its access was widened for the deletion.
class GuardedUndeletableKeyOperation : public SecurityAtCreationOperation {
 public:
  using SecurityAtCreationOperation::SecurityAtCreationOperation;

 protected:
  LONG DeleteKey(const base::string16& key_path) override {
    return ERROR_ACCESS_DENIED;
  }
};

// The access widened for a deletion never stays: a deleted tree comes back
// with the security it had before the grant, and a key that refuses to go
// has the grant taken back at once.
TEST_F(RegistryOperationsTest, KeysKeepTheirSecurityFromBeforeAGrant) {
  const std::wstring tree = base_ + L"\\Guarded";
  for (bool key_stays : {false, true}) {
    SCOPED_TRACE(key_stays ? "the key stays" : "deleted and rolled back");
    ASSERT_TRUE(SetValue(tree, L"v", REG_SZ, L"1", 4));
    ASSERT_TRUE(
        SetDacl(tree, L"D:P(A;;KA;;;WD)(A;;KR;;;S-1-5-21-1-2-3-4000)"));
    const std::wstring before = Snapshot(HKEY_CURRENT_USER, base_, 0);
    NoKeyAccessSecurityUtils security;
    SecurityUtilsImpl::SetInstanceForTesting(&security);
    Transaction transaction;
    std::unique_ptr<TransactionOperation> operation;
    if (key_stays) {
      operation = std::make_unique<GuardedUndeletableKeyOperation>(
          HKEY_CURRENT_USER, tree, 0);
    } else {
      operation = std::make_unique<SecurityAtCreationOperation>(
          HKEY_CURRENT_USER, tree, 0);
    }
    const bool deleted =
        ExecuteOperation(&transaction, std::move(operation), nullptr);
    SecurityUtilsImpl::SetInstanceForTesting(nullptr);
    EXPECT_EQ(!key_stays, deleted);
    RollbackOperations(&transaction);
    std::wstring expected = before;
    std::wstring now = Snapshot(HKEY_CURRENT_USER, base_, 0);
    if (key_stays) {
      // Wine's SetSecurityInfo neither keeps nor sets a key's DACL
      // protection (the grant drops the "P", a restore's PROTECTED_DACL
      // request is not heeded), so there only the entries are compared.
      base::ReplaceSubstringsAfterOffset(&expected, 0, L"D:P(", L"D:(");
      base::ReplaceSubstringsAfterOffset(&now, 0, L"D:P(", L"D:(");
    }
    EXPECT_EQ(expected, now) << "the key's security";
    ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteTreeW(HKEY_CURRENT_USER, tree.c_str()));
  }
}

// Re-creates keys with a handle that may not set values, as a key whose
// security refuses its values would.
class ValuesRefusedOperation : public SecurityAtCreationOperation {
 public:
  using SecurityAtCreationOperation::SecurityAtCreationOperation;

 protected:
  LONG CreateKey(const base::string16& key_path,
                 SECURITY_ATTRIBUTES* attributes,
                 HKEY* key,
                 DWORD* disposition) override {
    LONG result = SecurityAtCreationOperation::CreateKey(key_path, attributes,
                                                         key, disposition);
    if (result != ERROR_SUCCESS)
      return result;
    ::RegCloseKey(*key);
    return ::RegOpenKeyExW(HKEY_CURRENT_USER, key_path.c_str(), 0,
                           KEY_QUERY_VALUE, key);
  }
};

// Values that cannot be written back make the rollback report itself
// incomplete in the thread's last-error record, under the failure before it
// or as a failure of its own.
TEST_F(RegistryOperationsTest, RollbackThatCannotRestoreValuesSaysSo) {
  const std::wstring tree = base_ + L"\\T";
  ASSERT_TRUE(SetValue(tree, L"v", REG_SZ, L"1", 4));
  for (bool earlier_failure : {false, true}) {
    SCOPED_TRACE(earlier_failure ? "after a failure" : "alone");
    ScopedInstallerErrorRecord record;
    if (earlier_failure)
      SetLastInstallerError(RESULT_COPY_FAILED, "copy failed");
    Transaction transaction;
    ASSERT_TRUE(ExecuteOperation(
        &transaction,
        std::make_unique<ValuesRefusedOperation>(HKEY_CURRENT_USER, tree, 0),
        nullptr));
    RollbackOperations(&transaction);
    InstallerResult code = RESULT_SUCCESS;
    std::string message;
    GetLastInstallerError(&code, &message, nullptr);
    EXPECT_EQ(earlier_failure ? RESULT_COPY_FAILED : RESULT_GENERAL_ERROR, code)
        << "code of the record";
    const std::string expected =
        "Rollback of the deleted registry key "
        "CURRENT_USER\\" +
        base::WideToUTF8(tree) + " is incomplete";
    EXPECT_EQ(earlier_failure ? "copy failed\n" + expected : expected, message)
        << "message of the record";
    ASSERT_TRUE(SetValue(tree, L"v", REG_SZ, L"1", 4));
  }
}

}  // namespace
}  // namespace installer
