#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_INTERPROCESS_STATE_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_INTERPROCESS_STATE_H_

#include <stdint.h>

#include <string>

#include "base/files/file_path.h"
#include "desktop/windows/installer/interprocess_state.h"

namespace installer {
namespace test {

// The shared state of a run as a test sets it: plain fields, nothing read
// from a command line.
class FakeInterprocessState : public InterprocessState {
 public:
  base::FilePath package_dir;
  bool package_dir_known = false;
  bool outside_package = false;
  bool autoupdate = false;
  bool silent = false;

  void AppendToCommandLine(base::CommandLine*) override {}
  base::FilePath GetPackageDir() override { return package_dir; }
  std::string GetSessionGuid() override { return std::string(); }
  bool IsAutoupdate() override { return autoupdate; }
  bool IsSilent() override { return silent; }
  bool IsUninstall() override { return false; }
  bool IsInsidePackage() override { return !outside_package; }
  bool IsOutsidePackage() override { return outside_package; }
  void SetPackageDirPrefix(const base::FilePath&) override {}
  void SetPackageDir(const base::FilePath& folder) override {
    package_dir = folder;
  }
  bool IsPackageDirKnown() override { return package_dir_known; }
  bool IsFixDownloadableResources() override { return false; }
  uint32_t GetUiThreadId() override { return 0xFFFFFFFF; }
  TrackingDataDictionary* GetTrackingData() override { return nullptr; }
};

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_INTERPROCESS_STATE_H_
