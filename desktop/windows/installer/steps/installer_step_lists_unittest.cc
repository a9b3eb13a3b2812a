#include "desktop/windows/installer/steps/installer_step_lists.h"

#include <memory>
#include <string>
#include <vector>

#include "desktop/windows/installer/steps/installer_step.h"
#include "desktop/windows/installer/steps/installer_step_scheduler.h"
#include "desktop/windows/installer/steps/step_test_context.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using Names = std::vector<std::string>;

const Names kInstallTail = {"copy_file:launcher.exe",
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

class InstallerStepListsTest : public test::StepTest {
 protected:
  // The names of the list of |operation|; empty when it fails.
  Names Build(InstallerOperation operation) {
    std::unique_ptr<InstallerStepListBuilder> lists =
        CreateInstallerStepListBuilder(&context_->state);
    InstallerStepContext* c = context_.get();
    base::string16* u = context_->uninstall_string();
    InstallerStepList steps;
    const bool ok = operation == OPERATION_INSTALL
                        ? lists->BuildInstallSteps(c, u, &steps)
                    : operation == OPERATION_UPGRADE
                        ? lists->BuildUpgradeSteps(c, u, &steps)
                    : operation == OPERATION_UNINSTALL
                        ? lists->BuildUninstallSteps(c, &steps)
                    : operation == OPERATION_REGISTER_PROTOCOL_HANDLER
                        ? lists->BuildRegisterProtocolHandlerSteps(c, &steps)
                        : lists->BuildFixResourcesSteps(c, &steps);
    Names names;
    for (const auto& step : steps)
      names.push_back(step->name());
    EXPECT_TRUE(ok || names.empty());
    return names;
  }
};

TEST_F(InstallerStepListsTest, InstallListInAndOutOfTheTargetFolder) {
  struct {
    const char* name;
    bool package_dir_known;  // the lists lie in the target folder
    bool outside_package;
    bool from_target_folder;
    Names head;
  } const kCases[] = {
      {"copies everything",
       false,
       false,
       false,
       {"verify_downloadable_resources", "verify_package_contents",
        "copy_file:a.dll", "copy_file:res\\a.pak", "copy_file:root.dll",
        "copy_file:root2.dll"}},
      {"copies the extra list, moves the root files",
       true,
       true,
       true,
       {"verify_downloadable_resources", "verify_package_contents",
        "copy_file:extra.dll", "delete_file_step", "delete_file_step",
        "move_file", "move_file"}},
      {"inside the package there is no extra list",
       true,
       false,
       true,
       {"verify_downloadable_resources", "verify_package_contents",
        "delete_file_step", "delete_file_step", "move_file", "move_file"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Reset();
    context_->state.package_dir_known = c.package_dir_known;
    context_->state.outside_package = c.outside_package;
    context_->from_target_folder = c.from_target_folder;
    const base::FilePath lists = c.package_dir_known ? target_ : package_;
    Write(lists, "files_list", "a.dll\r\nres/a.pak\r\n");
    Write(lists, "root_files_list", "root.dll\r\nroot2.dll");
    if (c.package_dir_known)
      Write(package_, "files_list", "extra.dll\r\n");
    Names expected = c.head;
    expected.insert(expected.end(), kInstallTail.begin(), kInstallTail.end());
    EXPECT_EQ(expected, Build(OPERATION_INSTALL));
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
        "copy_file:root.dll", "copy_file:launcher.exe", "install_tracking_data",
        "copy_file:pref_default_overrides", "install_helper", "clean_registry",
        "setup_registry", "update_shortcuts", "write_installer_prefs",
        "move_old_status", "install_components", "write_installation_status",
        "setup_file_and_protocol_handlers", "finalize"}},
      {OPERATION_UNINSTALL,
       {"clean_registry", "remove_shortcuts", "uninstall_finalize",
        "remove_old_files", "uninstall_components", "uninstall_cleanup"}},
      {OPERATION_REGISTER_PROTOCOL_HANDLER,
       {"register_protocol_handlers", "write_installer_prefs"}},
  };
  Write(package_, "files_list", "a.dll\r\n");
  Write(package_, "root_files_list", "root.dll\r\n");
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.operation);
    EXPECT_EQ(c.names, Build(c.operation));
  }
}

// The repair's list is the one the front end wrote of the resources it
// fetched into the package folder, not one left in the installation, and
// only what the resource digests vouch for is copied.
TEST_F(InstallerStepListsTest, RepairCopiesOnlyTheFetchedResources) {
  Write(package_, "files_list",
        "a.dll\r\nkavor_100_percent.pak\r\nlocalization\\DE.pak\r\n"
        "localization/de.pak.exe\r\n");
  Write(target_, "files_list", "kavor_200_percent.pak\r\n");
  EXPECT_EQ((Names{"verify_downloadable_resources",
                   "copy_file:kavor_100_percent.pak",
                   "copy_file:localization\\DE.pak",
                   "update_installation_status",
                   "remove_minimal_install_file"}),
            Build(OPERATION_FIX_DOWNLOADABLE_RESOURCES));
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
    if (c.files_list)
      Write(package_, "files_list", c.files_list);
    if (c.root_files_list)
      Write(package_, "root_files_list", c.root_files_list);
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
    EXPECT_EQ(package_.AppendASCII(c.list).value(), path);
  }
}

}  // namespace
}  // namespace installer
