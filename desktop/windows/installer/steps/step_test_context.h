#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_STEP_TEST_CONTEXT_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_STEP_TEST_CONTEXT_H_

#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/installer_step_context_impl.h"
#include "desktop/windows/installer/interprocess_state.h"
#include "desktop/windows/installer/test/fake_interprocess_state.h"
#include "desktop/windows/installer/test/fake_settings.h"
#include "gtest/gtest.h"

namespace installer {
namespace test {

// The package location as a test sets it; the rest answers with defaults.
// A run into |root|\install whose target folder is the subfolder
// "47.0.4127.0", with the package in |root|\package; the test says whether
// it runs from the target folder. Important events are collected.
class StepTestContext : public InstallerStepContextImpl {
 public:
  explicit StepTestContext(const base::FilePath& root)
      : InstallerStepContextImpl(&state) {
    settings.folder = root.Append(L"install");
    state.package_dir = root.Append(L"package");
    state.silent = true;
    set_settings(&settings);
    set_installation_subfolder(base::FilePath(L"47.0.4127.0"));
    set_important_event_callback(base::BindRepeating(
        [](std::vector<std::string>* events, const std::string& name) {
          events->push_back(name);
        },
        &events));
  }

  bool IsRunningFromTargetFolder() override { return from_target_folder; }

  FakeSettings settings;
  test::FakeInterprocessState state;
  bool from_target_folder = false;
  std::vector<std::string> events;
};

// A fresh folder and run for each test, or each case of a table (Reset).
class StepTest : public testing::Test {
 protected:
  void SetUp() override { Reset(); }

  void Reset() {
    context_.reset();
    if (dir_.IsValid()) {
      ASSERT_TRUE(dir_.Delete());
    }
    ASSERT_TRUE(dir_.CreateUniqueTempDir());
    context_ = std::make_unique<StepTestContext>(dir_.GetPath());
    install_ = context_->settings.folder;
    target_ = context_->GetTargetFolder();
    package_ = context_->state.package_dir;
  }

  // Writes |contents| to |folder|\|relative|, making the folders.
  static void Write(const base::FilePath& folder,
                    const std::string& relative,
                    const std::string& contents) {
    const base::FilePath path = folder.AppendASCII(relative);
    const int size = static_cast<int>(contents.size());
    ASSERT_TRUE(base::CreateDirectory(path.DirName()) &&
                base::WriteFile(path, contents.data(), size) == size);
  }

  ScopedInstallerErrorRecord error_record_;
  base::ScopedTempDir dir_;
  std::unique_ptr<StepTestContext> context_;
  base::FilePath install_;
  base::FilePath target_;
  base::FilePath package_;
};

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_STEP_TEST_CONTEXT_H_
