#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_REGISTRY_VALUE_TEMPLATE_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_REGISTRY_VALUE_TEMPLATE_H_

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include <memory>

#include "base/strings/string16.h"
#include "desktop/windows/installer/service/transactions/transaction_operation.h"

namespace installer {

class TemplateVariables;

// A template type that deletes the whole key (kDeleteRegistryValueType, of
// registry_operations.h, deletes one value).
constexpr uint32_t kDeleteRegistryKeyType = 0xFFFFFFFE;

// The data of a template entry; the entry's type says which member holds it.
// A number is written `32u` so that it does not read as a null text.
union RegistryTemplateData {
  constexpr RegistryTemplateData() : number(0) {}
  constexpr RegistryTemplateData(std::nullptr_t) : number(0) {}
  constexpr RegistryTemplateData(const wchar_t* text) : text(text) {}
  constexpr RegistryTemplateData(const char* bytes) : bytes(bytes) {}
  constexpr RegistryTemplateData(uint32_t number) : number(number) {}

  const wchar_t* text;  // REG_SZ, REG_EXPAND_SZ: a template; null is empty
  const char* bytes;    // REG_BINARY: the bytes before the terminator
  uint32_t number;      // REG_DWORD
};

// One registry value (or key) that the installer writes or removes, as a
// constant record with placeholders in braces ("{InstallFolder}").
struct RegistryValueTemplateEntry {
  const wchar_t* key;
  const wchar_t* value_name;  // null: the key's default value
  // A registry value type, kDeleteRegistryValueType or
  // kDeleteRegistryKeyType.
  uint32_t type;
  RegistryTemplateData data;
  // The entry applies from this base::win::Version on,
  int32_t min_windows_version;
  // to this root only (null: any root),
  HKEY root;
  // and to builds whose stream id is at least this (0: any stream).
  int32_t min_stream;
  // Recorded with the written value in the installation status.
  uint32_t clean_mode;
  // 0, KEY_WOW64_64KEY or KEY_WOW64_32KEY.
  uint32_t view_flags;
};

// A template entry bound to the variables of a run.
class RegistryValueTemplate {
 public:
  // Copies |entry|; |variables| must outlive this object.
  RegistryValueTemplate(const RegistryValueTemplateEntry& entry,
                        TemplateVariables* variables);

  const RegistryValueTemplateEntry& entry() const { return entry_; }

  // Replaces every "{name}" with the variable's value; the inserted value is
  // taken as it is, never expanded again. A "{" without a "}" after it stays.
  // A null |text| gives "".
  base::string16 ExpandVariables(const wchar_t* text) const;
  // The entry's key and value name, expanded.
  void ExpandVariables(base::string16* key, base::string16* value_name) const;

  // Makes the entry's operation for |root| (not yet executed) and records a
  // written value where the variables collect them. An entry that does not
  // apply to this system, root or stream gives true and no operation; only
  // an unsupported value type gives false.
  bool CreateOperation(HKEY root,
                       std::unique_ptr<TransactionOperation>* operation);

 private:
  RegistryValueTemplateEntry entry_;
  TemplateVariables* variables_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_REGISTRY_VALUE_TEMPLATE_H_
