#include "desktop/windows/installer/steps/installer_step_lists.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/installer_step_context.h"
#include "desktop/windows/installer/installer_utils.h"
#include "desktop/windows/installer/interprocess_state.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/service/taskband_utils.h"
#include "desktop/windows/installer/steps/copy_file_step.h"
#include "desktop/windows/installer/steps/delete_file_step.h"
#include "desktop/windows/installer/steps/downloadable_resources.h"
#include "desktop/windows/installer/steps/install_components_step.h"
#include "desktop/windows/installer/steps/install_helper_step.h"
#include "desktop/windows/installer/steps/installer_step.h"
#include "desktop/windows/installer/steps/move_file_step.h"
#include "desktop/windows/installer/steps/package_verification_steps.h"
#include "desktop/windows/installer/steps/register_protocol_handlers_step.h"
#include "desktop/windows/installer/steps/registry_steps.h"
#include "desktop/windows/installer/steps/remove_minimal_install_file_step.h"
#include "desktop/windows/installer/steps/shortcut_steps.h"
#include "desktop/windows/installer/steps/status_steps.h"
#include "desktop/windows/installer/steps/uninstall_cleanup_step.h"
#include "desktop/windows/installer/steps/uninstall_components_step.h"
#include "desktop/windows/installer/steps/write_installer_prefs_step.h"

namespace installer {

namespace {

const wchar_t kFilesList[] = L"files_list";
const wchar_t kRootFilesList[] = L"root_files_list";

using Entries = std::vector<std::string>;

struct PackageLists {
  Entries standard;
  Entries root;
  // Files to copy although the run works from the target folder: those
  // that the package brings beyond what was unpacked there.
  Entries extra;
};

enum class ListsRead { kOk, kStandardFailed, kRootFailed, kExtraFailed };

bool ReadStandardList(const base::FilePath& folder, Entries* entries) {
  const base::FilePath path = folder.Append(kFilesList);
  if (!ReadFilesList(path, entries))
    return AddLastInstallerErrorContext("Normal files list", RESULT_SUCCESS,
                                        path.value());
  if (entries->empty()) {
    LOG(ERROR) << "No files in " << path.value();
    return SetLastInstallerError(RESULT_GENERAL_ERROR,
                                 "No files in normal files list", path.value());
  }
  return true;
}

base::FilePath EntryPath(const std::string& entry) {
  return base::FilePath(base::UTF8ToWide(entry));
}

template <typename Step, typename... Args>
void Add(InstallerStepList* steps, Args&&... args) {
  steps->push_back(std::make_unique<Step>(std::forward<Args>(args)...));
}

void AddCopySteps(InstallerStepContext* context,
                  const Entries& entries,
                  InstallerStepList* steps) {
  for (const std::string& entry : entries)
    Add<PackageFileCopyStep>(steps, context, EntryPath(entry));
}

// The lists themselves are not part of the installation.
void AddListRemoval(InstallerStepContext* context, InstallerStepList* steps) {
  const base::FilePath target = context->GetTargetFolder();
  Add<DeleteFileStep>(steps, context, target.Append(kFilesList));
  Add<DeleteFileStep>(steps, context, target.Append(kRootFilesList));
}

void AddRootFileSteps(InstallerStepContext* context,
                      const Entries& root,
                      bool from_target_folder,
                      InstallerStepList* steps) {
  for (const std::string& entry : root) {
    if (from_target_folder)
      Add<MoveFileStep>(steps, context, EntryPath(entry));
    else
      Add<RootFileCopyStep>(steps, context, EntryPath(entry));
  }
}

// The launcher, tracking data, overrides and helper come in this order in
// both the install and the upgrade list.
void AddLauncherToHelper(InstallerStepContext* context,
                         InterprocessState* state,
                         InstallerStepList* steps) {
  Add<LauncherCopyStep>(steps, context);
  Add<InstallTrackingDataStep>(steps, context, state);
  Add<PrefDefaultOverridesCopyStep>(steps, context);
  Add<InstallHelperStep>(steps, context);
}

void AddWriteInstallerPrefs(InstallerStepContext* context,
                            InterprocessState* state,
                            InstallerStepList* steps) {
  Add<WriteInstallerPrefsStep>(steps, context, state,
                               base::CommandLine::ForCurrentProcess());
}

// The status, the handlers and the finalization end the install and the
// upgrade lists.
void AddStatusToFinalize(InstallerStepContext* context,
                         InstallerStepList* steps) {
  Add<WriteInstallationStatusStep>(steps, context, false);
  Add<SetupFileAndProtocolHandlersStep>(steps, context);
  Add<FinalizeStep>(steps, context);
}

void AddCleanRegistry(InstallerStepContext* context, InstallerStepList* steps) {
  // The registry entries to clean depend on the bitness of the build that
  // made them.
  const int bitness =
      GetExecutableBitness(context->GetInstallFolder().Append(L"launcher.exe"));
  VLOG(1) << "Installed launcher bitness: " << bitness;
  Add<CleanRegistryStep>(steps, context, bitness);
}

class InstallerStepListBuilderImpl : public InstallerStepListBuilder {
 public:
  explicit InstallerStepListBuilderImpl(InterprocessState* interprocess_state)
      : interprocess_state_(interprocess_state) {}

  bool BuildInstallSteps(InstallerStepContext* context,
                         base::string16* uninstall_string,
                         InstallerStepList* steps) override {
    PackageLists lists;
    switch (ReadLists(context, &lists)) {
      case ListsRead::kOk:
        break;
      case ListsRead::kStandardFailed:
        return AddLastInstallerErrorContext("Cannot read standard files list");
      case ListsRead::kRootFailed:
        return AddLastInstallerErrorContext("Cannot read root files list");
      case ListsRead::kExtraFailed:
        return false;
    }
    const bool from_target_folder = context->IsRunningFromTargetFolder();
    VLOG(1) << "Install steps, from the target folder: " << from_target_folder;
    Add<VerifyDownloadableResourcesStep>(steps, context);
    Add<VerifyPackageContentsStep>(steps, context, lists.standard, lists.root,
                                   lists.extra);
    AddCopySteps(context, from_target_folder ? lists.extra : lists.standard,
                 steps);
    if (from_target_folder)
      AddListRemoval(context, steps);
    AddRootFileSteps(context, lists.root, from_target_folder, steps);
    AddLauncherToHelper(context, interprocess_state(), steps);
    Add<SetupRegistryStep>(steps, context, uninstall_string);
    Add<InstallShortcutsStep>(steps, context, interprocess_state(),
                              std::make_unique<TaskbandUtilsImpl>());
    AddWriteInstallerPrefs(context, interprocess_state(), steps);
    Add<InstallComponentsStep>(steps, context,
                               base::CommandLine::ForCurrentProcess());
    AddStatusToFinalize(context, steps);
    return true;
  }

  bool BuildUpgradeSteps(InstallerStepContext* context,
                         base::string16* uninstall_string,
                         InstallerStepList* steps) override {
    PackageLists lists;
    switch (ReadLists(context, &lists)) {
      case ListsRead::kOk:
        break;
      case ListsRead::kStandardFailed:
      case ListsRead::kRootFailed:
        return AddLastInstallerErrorContext("Schedule upgrade steps");
      case ListsRead::kExtraFailed:
        return false;
    }
    const bool from_target_folder = context->IsRunningFromTargetFolder();
    VLOG(1) << "Upgrade steps, from the target folder: " << from_target_folder;
    Add<VerifyDownloadableResourcesStep>(steps, context);
    Add<VerifyPackageContentsStep>(steps, context, lists.standard, lists.root,
                                   lists.extra);
    Add<RemoveOldFilesStep>(steps, context);
    AddCopySteps(context, from_target_folder ? lists.extra : lists.standard,
                 steps);
    if (from_target_folder)
      AddListRemoval(context, steps);
    Add<RemoveOldRootFilesStep>(steps, context);
    AddRootFileSteps(context, lists.root, from_target_folder, steps);
    AddLauncherToHelper(context, interprocess_state(), steps);
    AddCleanRegistry(context, steps);
    Add<SetupRegistryStep>(steps, context, uninstall_string);
    Add<UpdateShortcutsStep>(steps, context, interprocess_state(),
                             std::make_unique<TaskbandUtilsImpl>());
    AddWriteInstallerPrefs(context, interprocess_state(), steps);
    Add<MoveOldStatusStep>(steps, context);
    Add<InstallComponentsStep>(steps, context,
                               base::CommandLine::ForCurrentProcess());
    AddStatusToFinalize(context, steps);
    return true;
  }

  bool BuildUninstallSteps(InstallerStepContext* context,
                           InstallerStepList* steps) override {
    AddCleanRegistry(context, steps);
    Add<RemoveShortcutsStep>(steps, context, interprocess_state(),
                             std::make_unique<TaskbandUtilsImpl>());
    Add<UninstallFinalizeStep>(steps, context);
    Add<RemoveOldFilesStep>(steps, context);
    Add<UninstallComponentsStep>(steps, context);
    Add<UninstallCleanupStep>(steps, context,
                              base::CommandLine::ForCurrentProcess());
    return true;
  }

  bool BuildRegisterProtocolHandlerSteps(InstallerStepContext* context,
                                         InstallerStepList* steps) override {
    Add<RegisterProtocolHandlersStep>(steps, context,
                                      base::CommandLine::ForCurrentProcess());
    AddWriteInstallerPrefs(context, interprocess_state(), steps);
    return true;
  }

  bool BuildFixResourcesSteps(InstallerStepContext* context,
                              InstallerStepList* steps) override {
    // The list is the one of the resources the front end fetched into the
    // package folder: the installation keeps no list of its own.
    Entries standard;
    if (!ReadStandardList(context->GetPackageDir(), &standard))
      return AddLastInstallerErrorContext(
          "Schedule fix downloadable resources failed");
    // Only what the digests vouch for reaches the installation; anything
    // else in the download folder's list stays there.
    Entries resources;
    for (const std::string& entry : standard) {
      if (IsDownloadableResourcePath(entry))
        resources.push_back(entry);
      else
        LOG(WARNING) << "Not copying " << entry << ": no downloadable resource";
    }
    Add<VerifyDownloadableResourcesStep>(steps, context);
    AddCopySteps(context, resources, steps);
    Add<WriteInstallationStatusStep>(steps, context, true);
    Add<RemoveMinimalInstallFileStep>(steps, context);
    return true;
  }

 private:
  InterprocessState* interprocess_state() {
    return interprocess_state_ ? interprocess_state_ : GetInterprocessState();
  }

  ListsRead ReadLists(InstallerStepContext* context, PackageLists* lists) {
    const bool package_dir_known = context->IsPackageDirKnown();
    // Once the package was unpacked into the target folder, its lists are
    // read from there.
    const base::FilePath folder = package_dir_known ? context->GetTargetFolder()
                                                    : context->GetPackageDir();
    if (!ReadStandardList(folder, &lists->standard))
      return ListsRead::kStandardFailed;
    const base::FilePath root = folder.Append(kRootFilesList);
    if (!ReadFilesList(root, &lists->root)) {
      AddLastInstallerErrorContext("Root files list", RESULT_SUCCESS,
                                   root.value());
      return ListsRead::kRootFailed;
    }
    if (!package_dir_known || !interprocess_state()->IsOutsidePackage())
      return ListsRead::kOk;
    const base::FilePath extra = context->GetPackageDir().Append(kFilesList);
    if (!base::PathExists(extra))
      return ListsRead::kOk;
    if (!ReadFilesList(extra, &lists->extra)) {
      AddLastInstallerErrorContext("Cannot read extra files list",
                                   RESULT_SUCCESS, extra.value());
      return ListsRead::kExtraFailed;
    }
    VLOG(1) << lists->extra.size() << " extra files in " << extra.value();
    return ListsRead::kOk;
  }

  InterprocessState* const interprocess_state_;
};

}  // namespace

std::unique_ptr<InstallerStepListBuilder> CreateInstallerStepListBuilder(
    InterprocessState* interprocess_state) {
  return std::make_unique<InstallerStepListBuilderImpl>(interprocess_state);
}

}  // namespace installer
