#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_STEP_TEST_CONTEXT_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_STEP_TEST_CONTEXT_H_

#include <string>
#include <vector>

#include "base/bind.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "desktop/windows/installer/installer_step_context_impl.h"
#include "desktop/windows/installer/interprocess_state.h"
#include "desktop/windows/installer/test/fake_settings.h"

namespace installer {
namespace test {

// The package location as a test sets it; the rest answers with defaults.
class FakeInterprocessState : public InterprocessState {
 public:
  base::FilePath package_dir;
  bool package_dir_known = false;
  bool outside_package = false;

  void AppendToCommandLine(base::CommandLine*) override {}
  base::FilePath GetPackageDir() override { return package_dir; }
  std::string GetSessionGuid() override { return std::string(); }
  bool IsAutoupdate() override { return false; }
  bool IsSilent() override { return true; }
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

// A run into |root|\install whose target folder is the subfolder
// "47.0.4127.0", with the package in |root|\package; the test says whether
// it runs from the target folder. Important events are collected.
class StepTestContext : public InstallerStepContextImpl {
 public:
  explicit StepTestContext(const base::FilePath& root)
      : InstallerStepContextImpl(&state) {
    settings.folder = root.Append(L"install");
    state.package_dir = root.Append(L"package");
    set_settings(&settings);
    set_installation_subfolder(base::FilePath(L"47.0.4127.0"));
    set_important_event_callback(base::BindRepeating(
        [](std::vector<std::string>* events, const std::string& name) {
          events->push_back(name);
        },
        &events));
  }

  bool IsRunningFromTargetFolder() override { return from_target_folder; }

  // Writes |contents| to |folder|\|relative|, making the folders.
  static bool WriteFile(const base::FilePath& folder,
                        const std::string& relative,
                        const std::string& contents) {
    const base::FilePath path = folder.AppendASCII(relative);
    const int size = static_cast<int>(contents.size());
    return base::CreateDirectory(path.DirName()) &&
           base::WriteFile(path, contents.data(), size) == size;
  }

  FakeSettings settings;
  FakeInterprocessState state;
  bool from_target_folder = false;
  std::vector<std::string> events;
};

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_STEP_TEST_CONTEXT_H_
