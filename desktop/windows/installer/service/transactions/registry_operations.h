#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_REGISTRY_OPERATIONS_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_REGISTRY_OPERATIONS_H_

#include <windows.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "base/macros.h"
#include "base/strings/string16.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/service/transactions/transaction_operation.h"

namespace installer {

class SavedSecurityDescriptor;

// A value type that deletes the value instead of writing it.
constexpr uint32_t kDeleteRegistryValueType = 0xFFFFFFFF;

// Registry changes as transaction operations. |view_flags| is 0,
// KEY_WOW64_64KEY or KEY_WOW64_32KEY and goes into every access the
// operation asks for. Where the current user lacks access to a key, the
// operation widens it and, for the value and key-creation operations, puts
// the old security back when it is destroyed. They report through the log
// only, never through Execute's error text.

// Writes one value (or deletes it, with kDeleteRegistryValueType), creating
// the key first when it is missing.
class ChangeRegValueOperation : public TransactionOperation {
 public:
  // Copies |size| bytes of |data|. An empty |value_name| is the key's
  // default value.
  ChangeRegValueOperation(HKEY root,
                          const base::string16& key_path,
                          const base::string16& value_name,
                          const void* data,
                          uint32_t type,
                          uint32_t size,
                          uint32_t view_flags);
  ~ChangeRegValueOperation() override;

  bool Execute(Transaction* nested, std::string* error) override;
  void Rollback() override;

 private:
  HKEY root_;
  base::string16 key_path_;
  base::string16 value_name_;
  base::win::RegKey key_;
  uint32_t old_type_ = kDeleteRegistryValueType;
  uint32_t new_type_;
  std::vector<uint8_t> old_data_;
  std::vector<uint8_t> new_data_;
  bool changed_ = false;
  std::unique_ptr<SavedSecurityDescriptor> saved_security_;
  uint32_t view_flags_;

  DISALLOW_COPY_AND_ASSIGN(ChangeRegValueOperation);
};

// Creates a key and its missing ancestors; rollback deletes the highest key
// it created, with everything below it.
class CreateRegKeyOperation : public TransactionOperation {
 public:
  CreateRegKeyOperation(HKEY root,
                        const base::string16& key_path,
                        uint32_t view_flags);
  ~CreateRegKeyOperation() override;

  bool Execute(Transaction* nested, std::string* error) override;
  void Rollback() override;

 private:
  base::string16 key_path_;
  HKEY root_;
  base::string16 created_key_path_;
  std::unique_ptr<SavedSecurityDescriptor> saved_security_;
  uint32_t view_flags_;

  DISALLOW_COPY_AND_ASSIGN(CreateRegKeyOperation);
};

// Deletes a key tree after saving its keys, values and security; rollback
// re-creates what is missing.
class DeleteRegKeyOperation : public TransactionOperation {
 public:
  DeleteRegKeyOperation(HKEY root,
                        const base::string16& key_path,
                        uint32_t view_flags);
  ~DeleteRegKeyOperation() override;

  bool Execute(Transaction* nested, std::string* error) override;
  void Rollback() override;

 protected:
  // RegDeleteKeyExW of one key of the tree in the operation's view; apart so
  // that tests can have a key refuse to go.
  virtual LONG DeleteKey(const base::string16& key_path);
  // RegCreateKeyExW of one saved key in the operation's view, with its saved
  // security; apart because not every registry implementation applies
  // security given at creation, and tests there stand in for it.
  virtual LONG CreateKey(const base::string16& key_path,
                         SECURITY_ATTRIBUTES* attributes,
                         HKEY* key,
                         DWORD* disposition);

 private:
  struct SavedRegistryValue;
  struct SavedRegistryKey;

  bool DeleteAndSaveRecursive(const base::string16& key_path,
                              const base::string16& object_name);

  base::string16 key_path_;
  HKEY root_;
  // Parents before their subkeys.
  std::vector<std::unique_ptr<SavedRegistryKey>> saved_keys_;
  uint32_t view_flags_;

  DISALLOW_COPY_AND_ASSIGN(DeleteRegKeyOperation);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_REGISTRY_OPERATIONS_H_
