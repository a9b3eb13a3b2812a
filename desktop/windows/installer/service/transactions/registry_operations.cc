#include "desktop/windows/installer/service/transactions/registry_operations.h"

#include "desktop/windows/installer/service/security_utils.h"

// Placeholder bodies; the real ones replace this file.
namespace installer {

struct DeleteRegKeyOperation::SavedRegistryValue {};
struct DeleteRegKeyOperation::SavedRegistryKey {};

ChangeRegValueOperation::ChangeRegValueOperation(
    HKEY root,
    const base::string16& key_path,
    const base::string16& value_name,
    const void* data,
    uint32_t type,
    uint32_t size,
    uint32_t view_flags)
    : root_(root),
      key_path_(key_path),
      value_name_(value_name),
      new_type_(type),
      view_flags_(view_flags) {}
ChangeRegValueOperation::~ChangeRegValueOperation() = default;
bool ChangeRegValueOperation::Execute(Transaction* nested, std::string* error) {
  return false;
}
void ChangeRegValueOperation::Rollback() {}

CreateRegKeyOperation::CreateRegKeyOperation(HKEY root,
                                             const base::string16& key_path,
                                             uint32_t view_flags)
    : key_path_(key_path), root_(root), view_flags_(view_flags) {}
CreateRegKeyOperation::~CreateRegKeyOperation() = default;
bool CreateRegKeyOperation::Execute(Transaction* nested, std::string* error) {
  return false;
}
void CreateRegKeyOperation::Rollback() {}

DeleteRegKeyOperation::DeleteRegKeyOperation(HKEY root,
                                             const base::string16& key_path,
                                             uint32_t view_flags)
    : key_path_(key_path), root_(root), view_flags_(view_flags) {}
DeleteRegKeyOperation::~DeleteRegKeyOperation() = default;
bool DeleteRegKeyOperation::Execute(Transaction* nested, std::string* error) {
  return false;
}
void DeleteRegKeyOperation::Rollback() {}
bool DeleteRegKeyOperation::DeleteAndSaveRecursive(
    const base::string16& key_path, const base::string16& object_name) {
  return false;
}

}  // namespace installer
