#ifndef DESKTOP_WINDOWS_INSTALLER_OS_OPERATIONS_IMPL_H_
#define DESKTOP_WINDOWS_INSTALLER_OS_OPERATIONS_IMPL_H_

#include <windows.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "base/strings/string16.h"
#include "desktop/windows/installer/os_operations.h"

namespace installer {

// The operating-system operations of the running system. Stateless.
class OsOperationsImpl : public OsOperations {
 public:
  OsOperationsImpl() = default;
  OsOperationsImpl(const OsOperationsImpl&) = delete;
  OsOperationsImpl& operator=(const OsOperationsImpl&) = delete;
  ~OsOperationsImpl() override = default;

  void StoreDefaultBrowserSettings(const Settings& settings,
                                   const InstallationStatus* status) override;
  std::unique_ptr<RegistryKeyEnumerator> CreateRegistryKeyEnumerator(
      HKEY root, const base::string16& path, uint32_t access) override;
  bool GetAppOutput(const base::CommandLine& command_line,
                    std::string* output) override;
  std::unique_ptr<DriveEnumerator> CreateDriveInfo() override;
  base::win::ScopedHandle RunElevated(
      const base::CommandLine& command_line) override;
  uint32_t GetCurrentThreadId() override;
  uint32_t GetOsArchitecture() override;
};

// The drives of |drive_mask| (bit 0 drive A, as GetLogicalDrives gives it)
// in letter order.
std::unique_ptr<DriveEnumerator> CreateDriveEnumeratorForMask(DWORD drive_mask);

// Whether a drive is ready, given what IOCTL_STORAGE_CHECK_VERIFY2 answered
// on its opened device: success, or the last error of its failure.
bool IsDriveReadyAfterCheckVerify(bool succeeded, DWORD error);

// The parameters of an elevated launch: the items behind the program,
// quoted for the child's command-line parsing. The shell puts the program in
// front by itself; named again here, it would reach the child as a stray
// argument. False when an item can't be written so that it reads back
// unchanged.
bool GetElevatedLaunchParameters(const base::CommandLine& command_line,
                                 base::string16* parameters);

// Tells every top-level window and the shell that the registered browsers
// and associations changed, waiting a bounded time for the windows.
void BroadcastDefaultBrowserChange();

// What a settings-change broadcast needs of the system.
class SettingChangeTarget {
 public:
  virtual ~SettingChangeTarget() = default;
  // Milliseconds since some fixed point; wraps around.
  virtual uint32_t GetTickCount() = 0;
  virtual std::vector<HWND> GetTopLevelWindows() = 0;
  // Sends WM_SETTINGCHANGE with |text| to |window|, waiting at most
  // |timeout_ms| for its answer and not at all when the window is hung;
  // false when it did not answer.
  virtual bool SendSettingChange(HWND window,
                                 const wchar_t* text,
                                 uint32_t timeout_ms) = 0;
};

// Sends |text| to every top-level window of |target|; the waits for their
// answers together stay within |budget_ms| (plus a millisecond a window
// once it is spent), so that windows that do not answer cannot add up.
// Returns how many answered.
size_t BroadcastSettingChange(const wchar_t* text,
                              uint32_t budget_ms,
                              SettingChangeTarget* target);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_OS_OPERATIONS_IMPL_H_
