#ifndef DESKTOP_WINDOWS_INSTALLER_INTERPROCESS_STATE_H_
#define DESKTOP_WINDOWS_INSTALLER_INTERPROCESS_STATE_H_

#include <stdint.h>

#include <string>

#include "base/files/file_path.h"

namespace base {
class CommandLine;
}  // namespace base

namespace installer {

class TrackingDataDictionary;

// What the processes of one installation agree on and that is not a user
// setting: the run's mode switches, where the package lies, the session's
// identity and the server's tracking data. It travels on the command line:
// each process passes it on to the next one with AppendToCommandLine.
class InterprocessState {
 public:
  virtual ~InterprocessState() = default;

  virtual void AppendToCommandLine(base::CommandLine* command_line) = 0;
  // The package folder; when only the prefix is known, the first ready
  // folder of that name that this session's front end made.
  virtual base::FilePath GetPackageDir() = 0;
  virtual std::string GetSessionGuid() = 0;
  virtual bool IsAutoupdate() = 0;
  virtual bool IsSilent() = 0;
  virtual bool IsUninstall() = 0;
  virtual bool IsInsidePackage() = 0;
  virtual bool IsOutsidePackage() = 0;
  virtual void SetPackageDirPrefix(const base::FilePath& prefix) = 0;
  virtual void SetPackageDir(const base::FilePath& folder) = 0;
  // False only in a backend given neither package switch.
  virtual bool IsPackageDirKnown() = 0;
  virtual bool IsFixDownloadableResources() = 0;
  // 0xFFFFFFFF when absent or unparsable.
  virtual uint32_t GetUiThreadId() = 0;
  virtual TrackingDataDictionary* GetTrackingData() = 0;
};

// The process-wide state, read from the process command line on first use.
InterprocessState* GetInterprocessState();

bool IsAutoupdateRun();
bool IsSilentRun();
bool IsUninstallRun();
std::string GetSessionGuid();
TrackingDataDictionary* GetServerTrackingData();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INTERPROCESS_STATE_H_
