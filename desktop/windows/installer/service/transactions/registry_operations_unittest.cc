#include "desktop/windows/installer/service/transactions/registry_operations.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
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
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  LPWSTR sddl = nullptr;
  if (::GetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION,
                        nullptr, nullptr, nullptr, nullptr,
                        &descriptor) == ERROR_SUCCESS &&
      ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl,
          nullptr)) {
    text += sddl;
    ::LocalFree(sddl);
  }
  ::LocalFree(descriptor);
  text += L"\n";
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    BYTE data[1024];
    DWORD name_length = 256, data_length = sizeof(data), type = 0;
    if (::RegEnumValueW(key, i, name, &name_length, nullptr, &type, data,
                        &data_length) != ERROR_SUCCESS) {
      break;
    }
    text += L"  [" + std::wstring(name, name_length) + L"] type " +
            std::to_wstring(type) + L":";
    for (DWORD b = 0; b < data_length; ++b)
      text += L" " + std::to_wstring(data[b]);
    text += L"\n";
  }
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD name_length = 256;
    if (::RegEnumKeyExW(key, i, name, &name_length, nullptr, nullptr, nullptr,
                        nullptr) != ERROR_SUCCESS) {
      break;
    }
    const std::wstring subkey(name, name_length);
    text += subkey + L": " + Snapshot(root, path + L"\\" + subkey, view);
  }
  ::RegCloseKey(key);
  return text;
}

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view) {
  return Snapshot(root, path, view) != L"missing";
}

bool SetValue(HKEY root,
              const std::wstring& path,
              const std::wstring& name,
              DWORD type,
              const void* data,
              DWORD size) {
  HKEY key = nullptr;
  if (::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG result = ::RegSetValueExW(key, name.c_str(), 0, type,
                                       static_cast<const BYTE*>(data), size);
  ::RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

bool SetString(HKEY root,
               const std::wstring& path,
               const std::wstring& name,
               const std::wstring& text) {
  return SetValue(root, path, name, REG_SZ, text.c_str(),
                  static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// Sets a protected DACL from |sddl| on the key.
bool SetKeyDacl(HKEY root, const std::wstring& path, const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
    return false;
  }
  HKEY key = nullptr;
  LONG result = ::RegOpenKeyExW(root, path.c_str(), 0, WRITE_DAC, &key);
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
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegCreateKeyExW(HKEY_CURRENT_USER, base_.c_str(), 0, nullptr,
                                0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    ::RegCloseKey(key);
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
    const wchar_t* key;        // below the test key
    DWORD old_type;            // kDeleteRegistryValueType: no old value
    const void* old_data;
    DWORD old_size;
    uint32_t new_type;
    const void* new_data;
    DWORD new_size;
    size_t operations;  // in the transaction after Execute
  } kCases[] = {
      // Creates the highest missing key, A, before it; the rollback changes
      // the value back first, then deletes A with B and C.
      {L"A\\B\\C", kDeleteRegistryValueType, nullptr, 0, REG_SZ, text,
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
      ASSERT_TRUE(SetValue(HKEY_CURRENT_USER, path, L"v", c.old_type,
                           c.old_data, c.old_size));
    } else if (c.key[0] != L'M' && c.key[0] != L'A') {
      ASSERT_TRUE(SetString(HKEY_CURRENT_USER, path, L"other", L"x"));
    }
    const std::wstring before = Snapshot(HKEY_CURRENT_USER, base_, 0);
    Transaction transaction;
    ASSERT_TRUE(ExecuteOperation(
        &transaction,
        std::make_unique<ChangeRegValueOperation>(
            HKEY_CURRENT_USER, path, L"v", c.new_data, c.new_type, c.new_size,
            0),
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
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, base_ + L"\\Missing", 0));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, base_ + L"\\A", 0));
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

// A tree with values and a DACL of its own on one key comes back; the top
// key, made again in the meantime, keeps what it holds now.
TEST_F(RegistryOperationsTest, DeletedTreeComesBackWithValuesAndSecurity) {
  const std::wstring tree = base_ + L"\\T";
  const DWORD number = 42;
  ASSERT_TRUE(SetValue(HKEY_CURRENT_USER, tree, L"n", REG_DWORD, &number, 4));
  ASSERT_TRUE(SetString(HKEY_CURRENT_USER, tree + L"\\S1\\X", L"", L"1"));
  ASSERT_TRUE(SetValue(HKEY_CURRENT_USER, tree + L"\\S1", L"empty", REG_NONE,
                       nullptr, 0));
  ASSERT_TRUE(SetString(HKEY_CURRENT_USER, tree + L"\\S2", L"s", L"2"));
  ASSERT_TRUE(SetKeyDacl(HKEY_CURRENT_USER, tree + L"\\S1",
                         L"D:P(A;OICI;KA;;;WD)(A;;KR;;;S-1-5-21-1-2-3-4000)"));
  const std::wstring s1 = Snapshot(HKEY_CURRENT_USER, tree + L"\\S1", 0);
  const std::wstring s2 = Snapshot(HKEY_CURRENT_USER, tree + L"\\S2", 0);

  Transaction transaction;
  ASSERT_TRUE(ExecuteOperation(
      &transaction,
      std::make_unique<SecurityAtCreationOperation>(HKEY_CURRENT_USER, tree,
                                                    0),
      nullptr));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, tree, 0));
  ASSERT_TRUE(SetString(HKEY_CURRENT_USER, tree, L"now", L"3"));
  const std::wstring top = Snapshot(HKEY_CURRENT_USER, tree, 0);

  RollbackOperations(&transaction);
  EXPECT_EQ(s1, Snapshot(HKEY_CURRENT_USER, tree + L"\\S1", 0));
  EXPECT_EQ(s2, Snapshot(HKEY_CURRENT_USER, tree + L"\\S2", 0));
  EXPECT_EQ(top + L"S1: " + s1 + L"S2: " + s2,
            Snapshot(HKEY_CURRENT_USER, tree, 0));
}

// A key that refuses to go fails the operation once, instead of being found
// again as its parent's first subkey, and the rollback restores the rest.
class UndeletableKeyOperation : public DeleteRegKeyOperation {
 public:
  UndeletableKeyOperation(const std::wstring& tree,
                          const std::wstring& refused,
                          int* refusals)
      : DeleteRegKeyOperation(HKEY_CURRENT_USER, tree, 0),
        refused_(refused),
        refusals_(refusals) {}

 protected:
  LONG DeleteKey(const base::string16& key_path) override {
    // Only the first attempt is refused, so that a walk that tries again
    // ends too.
    if (key_path == refused_ && ++*refusals_ == 1)
      return ERROR_ACCESS_DENIED;
    return DeleteRegKeyOperation::DeleteKey(key_path);
  }

 private:
  std::wstring refused_;
  int* refusals_;
};

TEST_F(RegistryOperationsTest, KeyThatCannotBeDeletedFailsTheOperation) {
  const std::wstring tree = base_ + L"\\T";
  ASSERT_TRUE(SetString(HKEY_CURRENT_USER, tree + L"\\A\\Sub", L"s", L"1"));
  ASSERT_TRUE(SetString(HKEY_CURRENT_USER, tree + L"\\A", L"a", L"2"));
  ASSERT_TRUE(SetString(HKEY_CURRENT_USER, tree + L"\\B", L"b", L"3"));
  const std::wstring before = Snapshot(HKEY_CURRENT_USER, base_, 0);

  int refusals = 0;
  Transaction transaction;
  EXPECT_FALSE(ExecuteOperation(
      &transaction,
      std::make_unique<UndeletableKeyOperation>(tree, tree + L"\\A",
                                                &refusals),
      nullptr));
  EXPECT_EQ(1, refusals);
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
  ASSERT_TRUE(ExecuteOperation(
      &transaction,
      std::make_unique<ChangeRegValueOperation>(HKEY_LOCAL_MACHINE,
                                                path + L"\\A", L"v", &one,
                                                REG_DWORD, 4, KEY_WOW64_32KEY),
      nullptr));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, redirected + L"\\A", 0));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY));
  const std::wstring written =
      Snapshot(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY);

  Transaction deletion;
  ASSERT_TRUE(ExecuteOperation(
      &deletion,
      std::make_unique<DeleteRegKeyOperation>(HKEY_LOCAL_MACHINE, path,
                                              KEY_WOW64_32KEY),
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

// Every file and folder below |folder| with the files' bytes, in name order.
std::string FileSnapshot(const base::FilePath& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE find = ::FindFirstFileW(folder.Append(L"*").value().c_str(), &found);
  if (find == INVALID_HANDLE_VALUE)
    return "missing";
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..")
      names.push_back(name);
  } while (::FindNextFileW(find, &found));
  ::FindClose(find);
  std::sort(names.begin(), names.end());
  std::string text;
  for (const auto& name : names) {
    const base::FilePath path = folder.Append(name);
    text += std::string(name.begin(), name.end());
    std::string contents;
    if (base::ReadFileToString(path, &contents))
      text += " = " + contents + "\n";
    else
      text += "/\n" + FileSnapshot(path) + "end\n";
  }
  return text;
}

// A run's mixed list of file and registry changes whose last operation
// fails: the rollback of the list leaves files and registry as they were.
TEST_F(RegistryOperationsTest, WholeRollbackOfMixedOperations) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const base::FilePath dir = temp.GetPath();
  const auto write = [](const base::FilePath& path, const std::string& text) {
    return base::CreateDirectory(path.DirName()) &&
           base::WriteFile(path, text.data(), static_cast<int>(text.size())) ==
               static_cast<int>(text.size());
  };
  ASSERT_TRUE(write(dir.Append(L"a\\one.txt"), "one"));
  ASSERT_TRUE(write(dir.Append(L"a\\b\\lib.dll"), "old library"));
  ASSERT_TRUE(write(dir.Append(L"a\\b\\gone.txt"), "gone"));
  ASSERT_TRUE(write(dir.Append(L"moved.txt"), "moved"));
  const DWORD five = 5, seven = 7;
  ASSERT_TRUE(SetValue(HKEY_CURRENT_USER, base_, L"n", REG_DWORD, &five, 4));
  ASSERT_TRUE(SetString(HKEY_CURRENT_USER, base_ + L"\\Tree\\Sub", L"s",
                        L"1"));
  const std::string files_before = FileSnapshot(dir);
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
      dir.Append(L"a\\b\\gone.txt"), false, true));
  operations.push_back(std::make_unique<MoveFileOperation>(
      dir.Append(L"moved.txt"), dir.Append(L"other\\moved.txt")));
  operations.push_back(std::make_unique<ChangeRegValueOperation>(
      HKEY_CURRENT_USER, base_ + L"\\X\\Y", L"v", text, REG_SZ,
      sizeof(text), 0));
  operations.push_back(std::make_unique<ChangeRegValueOperation>(
      HKEY_CURRENT_USER, base_, L"n", &seven, REG_DWORD, 4, 0));
  operations.push_back(std::make_unique<DeleteRegKeyOperation>(
      HKEY_CURRENT_USER, base_ + L"\\Tree", 0));
  operations.push_back(std::make_unique<CreateRegKeyOperation>(
      HKEY_CURRENT_USER, base_ + L"\\K\\L", 0));
  operations.push_back(std::make_unique<CopyFileOperation>(
      dir.Append(L"missing.txt"), dir.Append(L"new\\missing.txt")));

  Transaction transaction;
  bool failed = false;
  for (auto& operation : operations) {
    if (!ExecuteOperation(&transaction, std::move(operation), nullptr)) {
      failed = true;
      break;
    }
  }
  ASSERT_TRUE(failed);
  EXPECT_NE(files_before, FileSnapshot(dir));
  EXPECT_NE(registry_before, Snapshot(HKEY_CURRENT_USER, base_, 0));
  RollbackOperations(&transaction);
  EXPECT_EQ(files_before, FileSnapshot(dir));
  EXPECT_EQ(registry_before, Snapshot(HKEY_CURRENT_USER, base_, 0));
}

}  // namespace
}  // namespace installer
