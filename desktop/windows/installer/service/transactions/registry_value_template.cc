#include "desktop/windows/installer/service/transactions/registry_value_template.h"

#include <string.h>

#include <string>

#include "base/logging.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/installer_step_context.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/transactions/registry_operations.h"

namespace installer {

RegistryValueTemplate::RegistryValueTemplate(
    const RegistryValueTemplateEntry& entry, TemplateVariables* variables)
    : entry_(entry), variables_(variables) {}

base::string16 RegistryValueTemplate::ExpandVariables(
    const wchar_t* text) const {
  if (!text)
    return base::string16();
  base::string16 result(text);
  size_t from = 0;
  for (;;) {
    const size_t open = result.find(L'{', from);
    if (open == base::string16::npos)
      break;
    const size_t close = result.find(L'}', open);
    if (close == base::string16::npos)
      break;
    const base::string16 value =
        variables_->GetVariable(result.substr(open + 1, close - open - 1));
    result.replace(open, close - open + 1, value);
    // Values such as a folder the user chose may hold braces themselves;
    // scanning on after the value keeps them literal and the loop finite.
    from = open + value.size();
  }
  return result;
}

void RegistryValueTemplate::ExpandVariables(base::string16* key,
                                            base::string16* value_name) const {
  *key = ExpandVariables(entry_.key);
  *value_name = ExpandVariables(entry_.value_name);
}

bool RegistryValueTemplate::CreateOperation(
    HKEY root, std::unique_ptr<TransactionOperation>* operation) {
  operation->reset();
  if (static_cast<int32_t>(base::win::GetVersion()) <
          entry_.min_windows_version ||
      (entry_.root && entry_.root != root) ||
      entry_.min_stream > GetChannelId()) {
    return true;
  }

  base::string16 key;
  base::string16 value_name;
  ExpandVariables(&key, &value_name);
  if (entry_.type == kDeleteRegistryKeyType) {
    *operation =
        std::make_unique<DeleteRegKeyOperation>(root, key, entry_.view_flags);
    return true;
  }

  base::string16 text;
  uint32_t number = 0;
  const void* data = nullptr;
  uint32_t size = 0;
  switch (entry_.type) {
    case kDeleteRegistryValueType:
    case REG_NONE:
      break;
    case REG_SZ:
    case REG_EXPAND_SZ:
      text = ExpandVariables(entry_.data.text);
      data = text.c_str();
      // With its terminator; an empty text is an empty value.
      size = text.empty()
                 ? 0
                 : static_cast<uint32_t>((text.size() + 1) * sizeof(wchar_t));
      break;
    case REG_BINARY:
      data = entry_.data.bytes;
      size = entry_.data.bytes
                 ? static_cast<uint32_t>(strlen(entry_.data.bytes))
                 : 0;
      break;
    case REG_DWORD:
      number = entry_.data.number;
      data = &number;
      size = sizeof(number);
      break;
    default:
      return false;
  }

  *operation = std::make_unique<ChangeRegValueOperation>(
      root, key, value_name, data, entry_.type, size, entry_.view_flags);
  std::vector<RegistryKeyRecord>* records =
      variables_->GetRecordedRegistryValues(root);
  if (records) {
    AddRegistryValueToStatus(records, key, value_name, data,
                             static_cast<int>(entry_.type), size,
                             entry_.clean_mode);
  }
  return true;
}

}  // namespace installer
