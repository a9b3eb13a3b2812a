#include "desktop/windows/installer/service/installation.h"

#include <memory>
#include <string>

#include "base/base_paths.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/service/transactions/registry_operations.h"
#include "desktop/windows/installer/service/transactions/transaction_operation.h"

namespace installer {
namespace {

const wchar_t kLauncherExe[] = L"launcher.exe";
const wchar_t kStrayProgIdKey[] = L"Software\\Classes\\ProgID";

base::FilePath GetCurrentInstallationFolder() {
  base::FilePath folder;
  if (!base::PathService::Get(base::DIR_EXE, &folder))
    return base::FilePath();
  if (!base::PathExists(folder.Append(kLauncherExe)) &&
      base::PathExists(folder.DirName().Append(kLauncherExe))) {
    return folder.DirName();
  }
  return folder;
}

}  // namespace

Installation::Installation() : folder_(GetCurrentInstallationFolder()) {}

Installation::Installation(const base::FilePath& folder) : folder_(folder) {}

Installation::~Installation() = default;

// static
Installation* Installation::GetCurrent() {
  // Never destroyed: code running at exit may still ask for it.
  static Installation* current = new Installation();
  return current;
}

const base::FilePath& Installation::GetFolder() const {
  return folder_;
}

void Installation::RemoveStrayProgIdKey(bool all_users) {
  const HKEY root = all_users ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  std::wstring name;
  {
    base::win::RegKey key;
    if (key.Open(root, kStrayProgIdKey, KEY_READ) != ERROR_SUCCESS ||
        key.ReadStringValue(L"FriendlyTypeName", &name) != ERROR_SUCCESS) {
      return;
    }
  }
  // Anyone may name a class "ProgID"; only the browser's own goes.
  if (name.size() < 5 ||
      name.find(base::ASCIIToUTF16(GetProductName())) == std::wstring::npos) {
    return;
  }
  VLOG(1) << "Removing the stray class key " << kStrayProgIdKey;
  Transaction transaction;
  ExecuteOperation(
      &transaction,
      std::make_unique<DeleteRegKeyOperation>(root, kStrayProgIdKey, 0),
      nullptr);
  CommitOperations(&transaction);
}

}  // namespace installer
