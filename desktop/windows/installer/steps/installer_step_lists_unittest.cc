#include "desktop/windows/installer/steps/installer_step_lists.h"

#include <memory>
#include <string>
#include <vector>

#include "base/files/scoped_temp_dir.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/steps/installer_step.h"
#include "desktop/windows/installer/steps/installer_step_scheduler.h"
#include "desktop/windows/installer/steps/step_test_context.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using Names = std::vector<std::string>;

const char kTarget[] = "install\\47.0.4127.0";
const char kPackage[] = "package";

// The steps every install list ends with, from the launcher on.
Names InstallTail() {
  return {"copy_file:launcher.exe",
          "install_tracking_data",
          "copy_file:pref_default_overrides",
          "install_helper",
          "setup_registry",
          "install_shortcuts",
          "write_installer_prefs",
          "install_components",
          "write_installation_status",
          "setup_file_and_protocol_handlers",
          "finalize"};
}

Names Concat(Names head, const Names& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

class InstallerStepListsTest : public testing::Test {
 protected:
  void SetUp() override { Reset(); }

  // A fresh folder and run for each case of a table.
  void Reset() {
    context_.reset();
    if (dir_.IsValid()) {
      ASSERT_TRUE(dir_.Delete());
    }
    ASSERT_TRUE(dir_.CreateUniqueTempDir());
    context_ = std::make_unique<test::StepTestContext>(dir_.GetPath());
  }

  void Write(const std::string& folder,
             const char* name,
             const char* contents) {
    if (contents) {
      ASSERT_TRUE(test::StepTestContext::WriteFile(
          dir_.GetPath().AppendASCII(folder), name, contents));
    }
  }

  // The names of the list of |operation|; empty when it fails.
  Names Build(InstallerOperation operation) {
    std::unique_ptr<InstallerStepListBuilder> builder =
        CreateInstallerStepListBuilder(&context_->state);
    InstallerStepList steps;
    bool ok = false;
    switch (operation) {
      case OPERATION_INSTALL:
        ok = builder->BuildInstallSteps(context_.get(),
                                        context_->uninstall_string(), &steps);
        break;
      case OPERATION_UPGRADE:
        ok = builder->BuildUpgradeSteps(context_.get(),
                                        context_->uninstall_string(), &steps);
        break;
      case OPERATION_UNINSTALL:
        ok = builder->BuildUninstallSteps(context_.get(), &steps);
        break;
      case OPERATION_REGISTER_PROTOCOL_HANDLER:
        ok = builder->BuildRegisterProtocolHandlerSteps(context_.get(),
                                                        &steps);
        break;
      default:
        ok = builder->BuildFixResourcesSteps(context_.get(), &steps);
        break;
    }
    Names names;
    for (const auto& step : steps)
      names.push_back(step->name());
    EXPECT_TRUE(ok || names.empty());
    return names;
  }

  ScopedInstallerErrorRecord error_record_;
  base::ScopedTempDir dir_;
  std::unique_ptr<test::StepTestContext> context_;
};

TEST_F(InstallerStepListsTest, InstallListInAndOutOfTheTargetFolder) {
  struct {
    const char* name;
    // Where the lists lie: the package folder until the package was
    // unpacked into the target folder.
    const char* list_folder;
    bool package_dir_known;
    bool outside_package;
    bool from_target_folder;
    Names head;
  } const kCases[] = {
      {"copies everything", kPackage, false, false, false,
       {"verify_downloadable_resources", "verify_package_contents",
        "copy_file:a.dll", "copy_file:res\\a.pak", "copy_file:root.dll",
        "copy_file:root2.dll"}},
      {"copies the extra list, moves the root files", kTarget, true, true,
       true,
       {"verify_downloadable_resources", "verify_package_contents",
        "copy_file:extra.dll", "delete_file_step", "delete_file_step",
        "move_file", "move_file"}},
      {"inside the package there is no extra list", kTarget, true, false, true,
       {"verify_downloadable_resources", "verify_package_contents",
        "delete_file_step", "delete_file_step", "move_file", "move_file"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Reset();
    context_->state.package_dir_known = c.package_dir_known;
    context_->state.outside_package = c.outside_package;
    context_->from_target_folder = c.from_target_folder;
    Write(c.list_folder, "files_list", "a.dll\r\nres/a.pak\r\n");
    Write(c.list_folder, "root_files_list", "root.dll\r\nroot2.dll");
    if (c.list_folder != kPackage)
      Write(kPackage, "files_list", "extra.dll\r\n");
    EXPECT_EQ(Concat(c.head, InstallTail()), Build(OPERATION_INSTALL));
  }
}

TEST_F(InstallerStepListsTest, OtherListsByOperation) {
  struct {
    InstallerOperation operation;
    Names names;
  } const kCases[] = {
      {OPERATION_UPGRADE,
       {"verify_downloadable_resources", "verify_package_contents",
        "remove_old_files", "copy_file:a.dll", "remove_old_root_files",
        "copy_file:root.dll", "copy_file:launcher.exe",
        "install_tracking_data", "copy_file:pref_default_overrides",
        "install_helper", "clean_registry", "setup_registry",
        "update_shortcuts", "write_installer_prefs", "move_old_status",
        "install_components", "write_installation_status",
        "setup_file_and_protocol_handlers", "finalize"}},
      {OPERATION_UNINSTALL,
       {"clean_registry", "remove_shortcuts", "uninstall_finalize",
        "remove_old_files", "uninstall_components", "uninstall_cleanup"}},
      {OPERATION_REGISTER_PROTOCOL_HANDLER,
       {"register_protocol_handlers", "write_installer_prefs"}},
      {OPERATION_FIX_DOWNLOADABLE_RESOURCES,
       {"verify_downloadable_resources", "copy_file:a.dll",
        "update_installation_status", "remove_minimal_install_file"}},
  };
  // The repair reads the list of the installation, the others that of the
  // package.
  Write(kPackage, "files_list", "a.dll\r\n");
  Write(kPackage, "root_files_list", "root.dll\r\n");
  Write(kTarget, "files_list", "a.dll\r\n");
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.operation);
    EXPECT_EQ(c.names, Build(c.operation));
  }
}

TEST_F(InstallerStepListsTest, UnreadableListFailsBeforeAnyStep) {
  struct {
    InstallerOperation operation;
    const char* files_list;  // null: missing
    const char* root_files_list;
    const char* list;  // the list the record's path names
    const char* message;
  } const kCases[] = {
      {OPERATION_INSTALL, "", "", "files_list",
       "No files in normal files list\nCannot read standard files list\n"
       "Cannot schedule install steps"},
      {OPERATION_INSTALL, "a.dll\r\n..\\evil.dll\r\n", "", "files_list",
       "Files list entry outside the package: '..\\evil.dll'\n"
       "Normal files list\nCannot read standard files list\n"
       "Cannot schedule install steps"},
      {OPERATION_INSTALL, "a.dll\r\n", nullptr, "root_files_list",
       "Cannot read files list to string\nRoot files list\n"
       "Cannot read root files list\nCannot schedule install steps"},
      {OPERATION_UPGRADE, "", "", "files_list",
       "No files in normal files list\nSchedule upgrade steps\n"
       "Cannot schedule upgrade steps"},
      {OPERATION_FIX_DOWNLOADABLE_RESOURCES, nullptr, "", "files_list",
       "Cannot read files list to string\nNormal files list\n"
       "Schedule fix downloadable resources failed\n"
       "Cannot schedule fix resources steps"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.message);
    Reset();
    // The repair reads the installation's list.
    const char* folder =
        c.operation == OPERATION_FIX_DOWNLOADABLE_RESOURCES ? kTarget : kPackage;
    Write(folder, "files_list", c.files_list);
    Write(folder, "root_files_list", c.root_files_list);
    context_->settings.operation = c.operation;
    InstallerStepSchedulerImpl scheduler(
        CreateInstallerStepListBuilder(&context_->state));
    uint32_t step_count = 99;
    EXPECT_FALSE(scheduler.Schedule(context_.get(),
                                    context_->uninstall_string(), &step_count));
    EXPECT_EQ(99u, step_count);
    InstallerResult code;
    std::string message;
    std::wstring path;
    GetLastInstallerError(&code, &message, &path);
    EXPECT_EQ(RESULT_GENERAL_ERROR, code);
    EXPECT_EQ(c.message, message);
    EXPECT_EQ(dir_.GetPath().AppendASCII(folder).AppendASCII(c.list).value(),
              path);
  }
}

}  // namespace
}  // namespace installer
