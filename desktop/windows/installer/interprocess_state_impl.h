#ifndef DESKTOP_WINDOWS_INSTALLER_INTERPROCESS_STATE_IMPL_H_
#define DESKTOP_WINDOWS_INSTALLER_INTERPROCESS_STATE_IMPL_H_

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "desktop/windows/installer/interprocess_state.h"

namespace installer {

class InterprocessStateImpl : public InterprocessState {
 public:
  // Reads the state from |command_line|, which must outlive this object:
  // the mode switches are read from it again at every call.
  InterprocessStateImpl(std::unique_ptr<TrackingDataDictionary> tracking_data,
                        const base::CommandLine* command_line);
  ~InterprocessStateImpl() override;

  void AppendToCommandLine(base::CommandLine* command_line) override;
  base::FilePath GetPackageDir() override;
  std::string GetSessionGuid() override;
  bool IsAutoupdate() override;
  bool IsSilent() override;
  bool IsUninstall() override;
  bool IsInsidePackage() override;
  bool IsOutsidePackage() override;
  void SetPackageDirPrefix(const base::FilePath& prefix) override;
  void SetPackageDir(const base::FilePath& folder) override;
  bool IsPackageDirKnown() override;
  bool IsFixDownloadableResources() override;
  uint32_t GetUiThreadId() override;
  TrackingDataDictionary* GetTrackingData() override;

 private:
  std::unique_ptr<TrackingDataDictionary> tracking_data_;
  base::FilePath package_dir_;
  base::FilePath package_dir_prefix_;
  std::string session_guid_;
  const base::CommandLine* command_line_;
  bool inside_package_;
  bool backend_;

  DISALLOW_COPY_AND_ASSIGN(InterprocessStateImpl);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INTERPROCESS_STATE_IMPL_H_
