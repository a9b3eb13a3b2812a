#include "desktop/windows/installer/service/taskband_utils.h"

#include "base/base_paths.h"
#include "base/base_paths_win.h"
#include "base/command_line.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/time/default_clock.h"
#include "base/time/time.h"
#include "base/win/registry.h"
#include "base/win/shortcut.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/os_operations.h"
#include "desktop/windows/installer/service/service_utils.h"

namespace installer {

namespace {

const wchar_t kHelper32[] = L"installer_helper.exe";
const wchar_t kHelper64[] = L"installer_helper_64.exe";
// Windows 10 lets only the shell itself pin, and recognises it by this name.
const wchar_t kHelperCopyName[] = L"explorer.exe";
const char kPinOperation[] = "2";
const char kPinWithHelperOperation[] = "1";

class ShellShortcutPropertiesReader : public ShortcutPropertiesReader {
 public:
  void ReadTargetAndAppId(const base::FilePath& shortcut,
                          base::win::ShortcutProperties* properties) override {
    if (!base::win::ResolveShortcutProperties(
            shortcut,
            base::win::ShortcutProperties::PROPERTIES_TARGET |
                base::win::ShortcutProperties::PROPERTIES_APP_ID,
            properties)) {
      VLOG(2) << "Cannot read every property of " << shortcut.value();
    }
  }
};

bool RunHelper(const base::FilePath& program,
               const char* operation,
               const base::FilePath& shortcut) {
  base::CommandLine command(program);
  command.AppendArg(operation);
  command.AppendArgPath(shortcut);
  VLOG(1) << "Running " << command.GetCommandLineString();
  base::LaunchOptions options;
  options.start_hidden = true;
  const base::Process process = base::LaunchProcess(command, options);
  if (!process.IsValid()) {
    LOG(ERROR) << "Could not launch the helper process";
    return false;
  }
  int exit_code = 0;
  if (!process.WaitForExit(&exit_code)) {
    LOG(ERROR) << "Could not wait for helper";
    return false;
  }
  if (exit_code != 0) {
    LOG(ERROR) << "The helper returned status " << exit_code;
    return false;
  }
  return true;
}

base::FilePath GetHelperPath(const base::FilePath& helper_folder) {
  return helper_folder.Append(
      GetOsOperations()->GetOsArchitecture() != 0 ? kHelper64 : kHelper32);
}

// The app id of a pin names the installation last, after a ".".
bool AppIdMatches(const base::win::ShortcutProperties& properties,
                  const base::string16& app_id) {
  if (app_id.empty())
    return true;
  if (!(properties.options & base::win::ShortcutProperties::PROPERTIES_APP_ID))
    return false;
  return base::EndsWith(properties.app_id, L"." + app_id,
                        base::CompareCase::INSENSITIVE_ASCII);
}

}  // namespace

ShortcutPropertiesReader* GetShellShortcutPropertiesReader() {
  static ShellShortcutPropertiesReader* const reader =
      new ShellShortcutPropertiesReader();
  return reader;
}

TaskbandUtilsImpl::TaskbandUtilsImpl(base::Clock* clock,
                                     ShortcutPropertiesReader* reader)
    : clock_(clock ? clock : base::DefaultClock::GetInstance()),
      reader_(reader ? reader : GetShellShortcutPropertiesReader()) {}

TaskbandUtilsImpl::~TaskbandUtilsImpl() = default;

// static
base::string16 TaskbandUtilsImpl::GetTaskbandCheckValueName() {
  return base::UTF8ToUTF16(GetChannelName()) + L" Last Band Check";
}

bool TaskbandUtilsImpl::CreateAndPinShortcut(
    const base::FilePath& helper_folder,
    const base::FilePath& target,
    const base::string16& shortcut_name,
    const base::string16& app_id,
    uint32_t mode) {
  if (mode == kTaskbandPinMode && !IsTaskbandCheckDue())
    return false;
  base::FilePath temp;
  if (!base::PathService::Get(base::DIR_TEMP, &temp)) {
    LOG(ERROR) << "Cannot get temp directory";
    return false;
  }
  const base::FilePath shortcut = temp.Append(shortcut_name);
  LOG(INFO) << "Creating master shortcut at " << shortcut.value();
  base::win::ShortcutProperties properties;
  properties.set_target(target);
  properties.set_working_dir(target.DirName());
  properties.set_app_id(app_id);
  if (!base::win::CreateOrUpdateShortcutLink(shortcut, properties,
                                             base::win::SHORTCUT_CREATE)) {
    LOG(ERROR) << "Failed to create shortcut at " << shortcut.value();
    return false;
  }
  return RunPinHelper(helper_folder, shortcut, mode);
}

bool TaskbandUtilsImpl::PinShortcut(const base::FilePath& helper_folder,
                                    const base::FilePath& shortcut,
                                    uint32_t mode) {
  if (mode == kTaskbandPinMode && !IsTaskbandCheckDue())
    return false;
  return RunPinHelper(helper_folder, shortcut, mode);
}

bool TaskbandUtilsImpl::PinShortcutWithHelper(
    const base::FilePath& helper_folder, const base::FilePath& shortcut) {
  return RunHelper(GetHelperPath(helper_folder), kPinWithHelperOperation,
                   shortcut);
}

bool TaskbandUtilsImpl::UnpinShortcut(const base::FilePath& shortcut) {
  return base::win::TaskbarUnpinShortcutLink(shortcut);
}

void TaskbandUtilsImpl::FindPinnedShortcuts(
    const base::FilePath& executable,
    const base::string16& app_id,
    const BY_HANDLE_FILE_INFORMATION* executable_info,
    std::vector<base::FilePath>* shortcuts) {
  if (base::win::GetVersion() < base::win::WIN7)
    return;
  base::FilePath pins;
  if (!base::PathService::Get(base::DIR_TASKBAR_PINS, &pins) ||
      !base::DirectoryExists(pins)) {
    return;
  }
  base::FileEnumerator enumerator(pins, false, base::FileEnumerator::FILES,
                                  L"*.lnk");
  for (base::FilePath shortcut = enumerator.Next(); !shortcut.empty();
       shortcut = enumerator.Next()) {
    base::win::ShortcutProperties properties;
    reader_->ReadTargetAndAppId(shortcut, &properties);
    if (!(properties.options &
          base::win::ShortcutProperties::PROPERTIES_TARGET)) {
      continue;
    }
    const base::FilePath target =
        GetEffectiveShortcutTarget(executable, properties.target, properties);
    if (IsSameFile(target, executable, executable_info) &&
        AppIdMatches(properties, app_id)) {
      VLOG(1) << "Pinned shortcut " << shortcut.value();
      shortcuts->push_back(shortcut);
    }
  }
}

bool TaskbandUtilsImpl::IsTaskbandCheckDue() {
  base::win::RegKey key(HKEY_CURRENT_USER, GetCompanyRegistryKey().c_str(),
                        KEY_QUERY_VALUE | KEY_SET_VALUE);
  if (!key.Valid()) {
    LOG(ERROR) << "Cannot open the company key for the taskband check";
    return false;
  }
  const base::string16 name = GetTaskbandCheckValueName();
  const base::Time now = clock_->Now();
  base::string16 text;
  int64_t stored = 0;
  if (key.ReadStringValue(name.c_str(), &text) != ERROR_SUCCESS ||
      !base::StringToInt64(text, &stored) || stored <= 0 ||
      stored > now.ToInternalValue()) {
    VLOG(1) << "Starting the taskband check clock";
    if (key.WriteStringValue(
            name.c_str(),
            base::Int64ToString16(now.ToInternalValue()).c_str()) !=
        ERROR_SUCCESS) {
      LOG(ERROR) << "Cannot store the taskband check time";
    }
    return false;
  }
  // A negative time is refused above as well: it would make the difference
  // overflow.
  return now.ToInternalValue() - stored >= kTaskbandCheckIntervalMicroseconds;
}

void TaskbandUtilsImpl::StoreTaskbandCheckTime() {
  base::win::RegKey key(HKEY_CURRENT_USER, GetCompanyRegistryKey().c_str(),
                        KEY_SET_VALUE);
  const base::string16 now =
      base::Int64ToString16(clock_->Now().ToInternalValue());
  if (!key.Valid() || key.WriteStringValue(GetTaskbandCheckValueName().c_str(),
                                           now.c_str()) != ERROR_SUCCESS) {
    LOG(ERROR) << "Cannot store the taskband check time";
  }
}

bool TaskbandUtilsImpl::RunPinHelper(const base::FilePath& helper_folder,
                                     const base::FilePath& shortcut,
                                     uint32_t mode) {
  bool pinned = false;
  if (base::win::CanPinShortcutToTaskbar()) {
    pinned = base::win::TaskbarPinShortcutLink(shortcut);
    if (!pinned) {
      LOG(ERROR) << "The shell did not pin " << shortcut.value();
      return false;
    }
  } else {
    base::FilePath temp;
    if (!base::PathService::Get(base::DIR_TEMP, &temp)) {
      LOG(ERROR) << "Cannot get temp directory";
      return false;
    }
    const base::FilePath copy = temp.Append(kHelperCopyName);
    if (base::PathExists(copy) && !base::DeleteFile(copy, false)) {
      LOG(ERROR) << "Could not delete the previous helper";
      return false;
    }
    if (!base::CopyFile(GetHelperPath(helper_folder), copy)) {
      LOG(ERROR) << "Could not copy the new helper";
      return false;
    }
    pinned = RunHelper(copy, kPinOperation, shortcut);
    if (!base::DeleteFile(copy, false))
      LOG(ERROR) << "Could not delete the helper " << copy.value();
  }
  if (pinned && mode == kTaskbandPinMode)
    StoreTaskbandCheckTime();
  return pinned;
}

}  // namespace installer
