#include "desktop/windows/installer/os_operations_impl.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <winioctl.h>

#include <algorithm>
#include <vector>

#include "base/command_line.h"
#include "base/logging.h"
#include "base/process/launch.h"
#include "base/strings/stringprintf.h"
#include "base/win/registry.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/installation_folder_details.h"
#include "desktop/windows/installer/interprocess_state.h"
#include "desktop/windows/installer/service/association_operations.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/settings.h"

namespace installer {

namespace {

OsOperations* g_operations_for_testing = nullptr;

// The wait of the whole settings-change broadcast. A responsive window
// answers well within it; a window that does not answer still gets the
// message when it next reads its queue, so waiting longer for it would only
// hold up the end of the run. Hung windows are skipped at once.
constexpr uint32_t kBroadcastBudgetMs = 100;

// The wait each window is granted once the budget is spent: the message is
// still sent, and a window that answers at once is not counted as silent.
constexpr uint32_t kBroadcastLeastWaitMs = 1;

constexpr wchar_t kStartMenuInternetKey[] =
    L"Software\\Clients\\StartMenuInternet";

// Subkey names are at most 255 characters.
constexpr DWORD kMaxKeyNameLength = 260;

class RegistryKeyEnumeratorImpl : public RegistryKeyEnumerator {
 public:
  RegistryKeyEnumeratorImpl(HKEY root,
                            const base::string16& path,
                            uint32_t access)
      : root_(root), path_(path), access_(access) {
    // A missing key leaves the object invalid.
    (void)key_.Open(root_, path_.c_str(), access_);
  }

  bool IsValid() override { return key_.Valid(); }

  bool ReadValue(const base::string16& name, base::string16* value) override {
    return key_.ReadStringValue(name.c_str(), value) == ERROR_SUCCESS;
  }

  bool HasValue(const base::string16& name) override {
    return key_.HasValue(name.c_str());
  }

  std::unique_ptr<RegistrySubkeyEnumerator> CreateSubkeyEnumerator() override;

  base::string16 GetName() override {
    size_t separator = path_.rfind(L'\\');
    return separator == base::string16::npos ? path_
                                             : path_.substr(separator + 1);
  }

 private:
  const HKEY root_;
  const base::string16 path_;
  const uint32_t access_;
  base::win::RegKey key_;
};

class RegistrySubkeyEnumeratorImpl : public RegistrySubkeyEnumerator {
 public:
  RegistrySubkeyEnumeratorImpl(HKEY root,
                               const base::string16& path,
                               uint32_t access)
      : root_(root), path_(path), access_(access) {
    (void)key_.Open(root_, path_.c_str(), access_);
  }

  std::unique_ptr<RegistryKeyEnumerator> Next() override {
    if (!key_.Valid())
      return nullptr;
    wchar_t name[kMaxKeyNameLength] = {};
    DWORD length = kMaxKeyNameLength;
    LONG result = ::RegEnumKeyExW(key_.Handle(), index_++, name, &length,
                                  nullptr, nullptr, nullptr, nullptr);
    if (result != ERROR_SUCCESS) {
      key_.Close();
      return nullptr;
    }
    last_name_.assign(name, length);
    return std::make_unique<RegistryKeyEnumeratorImpl>(
        root_, path_ + L"\\" + last_name_, access_);
  }

 private:
  const HKEY root_;
  const base::string16 path_;
  const uint32_t access_;
  DWORD index_ = 0;
  base::string16 last_name_;
  base::win::RegKey key_;
};

std::unique_ptr<RegistrySubkeyEnumerator>
RegistryKeyEnumeratorImpl::CreateSubkeyEnumerator() {
  return std::make_unique<RegistrySubkeyEnumeratorImpl>(root_, path_, access_);
}

class DriveInfoImpl : public DriveInfo {
 public:
  explicit DriveInfoImpl(wchar_t letter) : letter_(letter) {}

  bool IsReady() override {
    base::string16 device = base::StringPrintf(L"\\\\.\\%lc:", letter_);
    base::win::ScopedHandle handle(
        ::CreateFileW(device.c_str(), FILE_READ_ATTRIBUTES,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, 0, nullptr));
    if (!handle.IsValid())
      return false;
    DWORD returned = 0;
    bool succeeded =
        ::DeviceIoControl(handle.Get(), IOCTL_STORAGE_CHECK_VERIFY2, nullptr, 0,
                          nullptr, 0, &returned, nullptr) != FALSE;
    return IsDriveReadyAfterCheckVerify(succeeded,
                                        succeeded ? 0 : ::GetLastError());
  }

  uint32_t GetType() override { return ::GetDriveTypeW(GetRootPath().c_str()); }

  base::string16 GetRootPath() override {
    return base::StringPrintf(L"%lc:\\", letter_);
  }

 private:
  const wchar_t letter_;
};

class DriveEnumeratorImpl : public DriveEnumerator {
 public:
  explicit DriveEnumeratorImpl(DWORD mask) : mask_(mask) {}

  std::unique_ptr<DriveInfo> Next() override {
    while (next_index_ < 26) {
      int index = next_index_++;
      if (mask_ & (1u << index))
        return std::make_unique<DriveInfoImpl>(L'A' + index);
    }
    return nullptr;
  }

 private:
  const DWORD mask_;
  int next_index_ = 0;
};

}  // namespace

void OsOperationsImpl::StoreDefaultBrowserSettings(
    const Settings& settings, const InstallationStatus* status) {
  if (settings.GetCopyOnly())
    return;

  // Where the browser cannot make itself the default, the user is sent to
  // the Settings app; a silent run must not do that, nor must a run for an
  // installation that already handles the web.
  if (base::win::GetVersion() >= base::win::WIN10 &&
      !GetAssociationOperations()->CanSetDefaultBrowserDirectly() &&
      (IsSilentRun() || settings.GetFolderDetails().IsHttpHandler())) {
    return;
  }

  const base::FilePath folder = settings.GetInstallFolder();
  std::unique_ptr<InstallationImpl> installation =
      status ? std::make_unique<InstallationImpl>(
                   folder, std::make_unique<InstallationStatus>(*status))
             : std::make_unique<InstallationImpl>(folder);
  if (settings.GetDefaultBrowser()) {
    if (settings.GetAllUsers()) {
      VLOG(1) << "Storing old default browser settings for all users";
      installation->SavePreviousDefaultBrowser(true);
      installation->SetAsDefaultBrowser(true);
    }
    VLOG(1) << "Storing old default browser settings for current users";
    installation->SavePreviousDefaultBrowser(false);
    installation->SetAsDefaultBrowser(false);
  } else {
    LOG(INFO) << "Setting up file handlers for the current user.";
    installation->RegisterProgId(false);
  }

  BroadcastDefaultBrowserChange();
}

std::unique_ptr<RegistryKeyEnumerator>
OsOperationsImpl::CreateRegistryKeyEnumerator(HKEY root,
                                              const base::string16& path,
                                              uint32_t access) {
  return std::make_unique<RegistryKeyEnumeratorImpl>(root, path, access);
}

bool OsOperationsImpl::GetAppOutput(const base::CommandLine& command_line,
                                    std::string* output) {
  return base::GetAppOutput(command_line, output);
}

std::unique_ptr<DriveEnumerator> OsOperationsImpl::CreateDriveInfo() {
  return CreateDriveEnumeratorForMask(::GetLogicalDrives());
}

base::win::ScopedHandle OsOperationsImpl::RunElevated(
    const base::CommandLine& command_line) {
  const base::string16 program = command_line.GetProgram().value();
  base::string16 parameters;
  if (!GetElevatedLaunchParameters(command_line, &parameters)) {
    SetLastInstallerError(RESULT_ELEVATION_FAILED,
                          "Failed to run the elevated process: its command "
                          "line cannot be written");
    return base::win::ScopedHandle();
  }
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  // The caller reports a failure itself; the shell's own message box would
  // only stall an unattended run.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"runas";
  info.lpFile = program.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_SHOW;
  if (!::ShellExecuteExW(&info) || !info.hProcess) {
    const DWORD error = ::GetLastError();
    SetLastInstallerError(
        RESULT_ELEVATION_FAILED,
        "Failed to run the elevated process: " + FormatWin32Error(error));
    return base::win::ScopedHandle();
  }
  return base::win::ScopedHandle(info.hProcess);
}

uint32_t OsOperationsImpl::GetCurrentThreadId() {
  return ::GetCurrentThreadId();
}

uint32_t OsOperationsImpl::GetOsArchitecture() {
  return static_cast<uint32_t>(
      base::win::OSInfo::GetInstance()->architecture());
}

std::unique_ptr<DriveEnumerator> CreateDriveEnumeratorForMask(
    DWORD drive_mask) {
  return std::make_unique<DriveEnumeratorImpl>(drive_mask);
}

bool GetElevatedLaunchParameters(const base::CommandLine& command_line,
                                 base::string16* parameters) {
  *parameters = command_line.GetArgumentsString();
  // Empty text for items that exist means they were refused.
  return !parameters->empty() || command_line.argv().size() <= 1;
}

bool IsDriveReadyAfterCheckVerify(bool succeeded, DWORD error) {
  // A changed medium is in the drive and can be read.
  return succeeded || error == ERROR_MEDIA_CHANGED;
}

namespace {

class SystemSettingChangeTarget : public SettingChangeTarget {
 public:
  uint32_t GetTickCount() override { return ::GetTickCount(); }

  std::vector<HWND> GetTopLevelWindows() override {
    std::vector<HWND> windows;
    if (!::EnumWindows(&AddWindow, reinterpret_cast<LPARAM>(&windows)))
      PLOG(ERROR) << "Cannot list the top-level windows";
    return windows;
  }

  bool SendSettingChange(HWND window,
                         const wchar_t* text,
                         uint32_t timeout_ms) override {
    // A notification cannot carry a pointer to another process, and the
    // system refuses one (ERROR_MESSAGE_SYNC_ONLY): the text needs a sent
    // message. The text must outlive the send: a window of this process
    // that answers late reads it after the sender moved on.
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutW(window, WM_SETTINGCHANGE, 0,
                                 reinterpret_cast<LPARAM>(text),
                                 SMTO_ABORTIFHUNG, timeout_ms, &result) != 0;
  }

 private:
  static BOOL CALLBACK AddWindow(HWND window, LPARAM windows) {
    reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
  }
};

}  // namespace

size_t BroadcastSettingChange(const wchar_t* text,
                              uint32_t budget_ms,
                              SettingChangeTarget* target) {
  // Sent window by window rather than to HWND_BROADCAST: there the time-out
  // counts for each window, so every window that does not answer would add
  // its own wait to the run.
  const std::vector<HWND> windows = target->GetTopLevelWindows();
  const uint32_t start = target->GetTickCount();
  size_t answered = 0;
  for (HWND window : windows) {
    const uint32_t spent = target->GetTickCount() - start;
    const uint32_t wait = spent < budget_ms
                              ? std::max(budget_ms - spent,
                                         kBroadcastLeastWaitMs)
                              : kBroadcastLeastWaitMs;
    if (target->SendSettingChange(window, text, wait))
      ++answered;
  }
  if (answered < windows.size()) {
    LOG(WARNING) << "The settings change was sent to " << windows.size()
                 << " top-level windows; " << windows.size() - answered
                 << " did not answer in time and get it when they next read "
                    "their messages";
  }
  return answered;
}

void BroadcastDefaultBrowserChange() {
  SystemSettingChangeTarget target;
  BroadcastSettingChange(kStartMenuInternetKey, kBroadcastBudgetMs, &target);
  ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

OsOperations* GetOsOperations() {
  if (g_operations_for_testing)
    return g_operations_for_testing;
  // Kept until the library unloads.
  static OsOperationsImpl* const operations = new OsOperationsImpl();
  return operations;
}

void SetOsOperationsForTesting(OsOperations* operations) {
  g_operations_for_testing = operations;
}

}  // namespace installer
