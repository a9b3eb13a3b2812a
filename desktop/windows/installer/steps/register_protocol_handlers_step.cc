#include "desktop/windows/installer/steps/register_protocol_handlers_step.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/installer_step_context.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/transactions/registry_operations.h"

namespace installer {

namespace {

const char kProtocolSwitch[] = "register-kavor-as-protocol-handler";

// The text of a refused value for the log, its control characters shown as
// "?" so that it cannot forge log lines.
std::string Printable(const base::string16& text) {
  base::string16 printable = text;
  for (wchar_t& c : printable) {
    if (c < 0x20 || c == 0x7F)
      c = L'?';
  }
  return base::WideToUTF8(printable);
}

}  // namespace

bool IsValidProtocolName(const base::string16& protocol) {
  if (protocol.empty() || !base::IsAsciiAlpha(protocol[0]))
    return false;
  for (wchar_t c : protocol) {
    if (!base::IsAsciiAlpha(c) && !base::IsAsciiDigit(c) && c != L'+' &&
        c != L'-' && c != L'.') {
      return false;
    }
  }
  return true;
}

RegisterProtocolHandlersStep::RegisterProtocolHandlersStep(
    InstallerStepContext* context, const base::CommandLine* command_line)
    : InstallerStep("register_protocol_handlers", context),
      command_line_(command_line) {}

RegisterProtocolHandlersStep::~RegisterProtocolHandlersStep() = default;

void RegisterProtocolHandlersStep::Execute(InstallerStepResult* result,
                                           int attempt) {
  *result = InstallerStepResult(STEP_DONE);
  if (!GetContext()->HasExistingInstallation())
    return;
  const base::string16 protocol =
      command_line_->GetSwitchValueNative(kProtocolSwitch);
  // The value becomes a registry value name and a key below the classes.
  if (!IsValidProtocolName(protocol)) {
    LOG(ERROR) << "Refusing to register a handler for the protocol \""
               << Printable(protocol) << "\": not a URL scheme";
    return;
  }
  const base::string16 capability =
      base::UTF8ToWide(GetProductName() + GetChannelName());
  const base::string16 key_path = L"SOFTWARE\\Clients\\StartMenuInternet\\" +
                                  capability +
                                  L"\\Capabilities\\URLAssociations";
  // The registration wrote the browser's URL associations under the
  // installation's own root: the user's for a per-user installation, which
  // must never reach the machine's keys, the machine's for all users.
  const InstallationStatus& existing =
      GetContext()->GetExistingInstallationStatus();
  const HKEY root = existing.all_users ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  const std::vector<RegistryKeyRecord>& keys =
      existing.all_users ? existing.hklm_keys : existing.hkcu_keys;
  const std::string wanted = base::ToLowerASCII(base::WideToUTF8(key_path));
  bool recorded = false;
  for (const RegistryKeyRecord& key : keys) {
    if (base::ToLowerASCII(key.path) == wanted) {
      recorded = true;
      break;
    }
  }
  if (!recorded) {
    VLOG(1) << "The installation has no URL associations to add "
            << Printable(protocol) << " to";
    return;
  }
  const uint32_t size =
      static_cast<uint32_t>((capability.size() + 1) * sizeof(wchar_t));
  std::string error;
  if (!ExecuteOperation(GetContext()->GetTransaction(),
                        std::make_unique<ChangeRegValueOperation>(
                            root, key_path, protocol,
                            capability.c_str(), REG_SZ, size, 0),
                        &error)) {
    LOG(ERROR) << "Cannot register the protocol " << protocol << ": " << error;
    return;
  }
  LOG(INFO) << "Registered the protocol " << protocol;
  Installation::GetCurrent()->SetAsDefaultHandler(protocol, false);
}

}  // namespace installer
