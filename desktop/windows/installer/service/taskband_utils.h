#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TASKBAND_UTILS_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TASKBAND_UTILS_H_

#include <windows.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/strings/string16.h"

namespace base {
class Clock;
namespace win {
struct ShortcutProperties;
}  // namespace win
}  // namespace base

namespace installer {

// The periodic re-pin: limited by the taskband check time. Every other mode
// pins unconditionally.
constexpr uint32_t kTaskbandPinMode = 2;

// The waiting time between two periodic re-pins: 182 days.
constexpr int64_t kTaskbandCheckIntervalMicroseconds = 15724800000000LL;

// Reads what the taskbar-pin search needs of a shortcut: its target and app
// id. The shell answers for real shortcuts; tests give shortcuts of their
// own.
class ShortcutPropertiesReader {
 public:
  virtual ~ShortcutPropertiesReader() = default;
  // The options of |properties| tell which of the two were read.
  virtual void ReadTargetAndAppId(
      const base::FilePath& shortcut,
      base::win::ShortcutProperties* properties) = 0;
};

// The shell's reading of shortcut files.
ShortcutPropertiesReader* GetShellShortcutPropertiesReader();

// Pins the browser's shortcuts to the taskbar and takes them away again.
// Before Windows 10 the shell's pin verbs do it; from Windows 10 on, the
// package's helper program does, copied as "explorer.exe" into the
// temporary folder first.
class TaskbandUtils {
 public:
  virtual ~TaskbandUtils() = default;

  // Makes a shortcut named |shortcut_name| to |target| with |app_id| in the
  // temporary folder and pins it.
  virtual bool CreateAndPinShortcut(const base::FilePath& helper_folder,
                                    const base::FilePath& target,
                                    const base::string16& shortcut_name,
                                    const base::string16& app_id,
                                    uint32_t mode) = 0;
  virtual bool PinShortcut(const base::FilePath& helper_folder,
                           const base::FilePath& shortcut,
                           uint32_t mode) = 0;
  // Runs the helper from |helper_folder| itself on |shortcut| (its pin to
  // the Start menu).
  virtual bool PinShortcutWithHelper(const base::FilePath& helper_folder,
                                     const base::FilePath& shortcut) = 0;
  virtual bool UnpinShortcut(const base::FilePath& shortcut) = 0;
  // Appends the user's taskbar pins that lead to |executable| (by path, or
  // by file identity when |executable_info| is given) and, with an |app_id|,
  // carry an app id ending in "." + |app_id|.
  virtual void FindPinnedShortcuts(
      const base::FilePath& executable,
      const base::string16& app_id,
      const BY_HANDLE_FILE_INFORMATION* executable_info,
      std::vector<base::FilePath>* shortcuts) = 0;
};

class TaskbandUtilsImpl : public TaskbandUtils {
 public:
  // Null arguments stand for the system clock and the shell's reader.
  explicit TaskbandUtilsImpl(base::Clock* clock = nullptr,
                             ShortcutPropertiesReader* reader = nullptr);
  ~TaskbandUtilsImpl() override;

  bool CreateAndPinShortcut(const base::FilePath& helper_folder,
                            const base::FilePath& target,
                            const base::string16& shortcut_name,
                            const base::string16& app_id,
                            uint32_t mode) override;
  bool PinShortcut(const base::FilePath& helper_folder,
                   const base::FilePath& shortcut,
                   uint32_t mode) override;
  bool PinShortcutWithHelper(const base::FilePath& helper_folder,
                             const base::FilePath& shortcut) override;
  bool UnpinShortcut(const base::FilePath& shortcut) override;
  void FindPinnedShortcuts(const base::FilePath& executable,
                           const base::string16& app_id,
                           const BY_HANDLE_FILE_INFORMATION* executable_info,
                           std::vector<base::FilePath>* shortcuts) override;

  // The registry value under the company key that holds the last taskband
  // check time: the stream word + " Last Band Check".
  static base::string16 GetTaskbandCheckValueName();

 private:
  // True when the periodic re-pin is due. The first call, and one that finds
  // a stored time in the future or no usable time, only starts the clock.
  bool IsTaskbandCheckDue();
  void StoreTaskbandCheckTime();
  bool RunPinHelper(const base::FilePath& helper_folder,
                    const base::FilePath& shortcut,
                    uint32_t mode);

  base::Clock* const clock_;
  ShortcutPropertiesReader* const reader_;

  DISALLOW_COPY_AND_ASSIGN(TaskbandUtilsImpl);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TASKBAND_UTILS_H_
