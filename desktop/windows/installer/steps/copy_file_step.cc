#include "desktop/windows/installer/steps/copy_file_step.h"

#include <memory>

#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "desktop/windows/installer/installer_step_context.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/transactions/file_operations.h"

namespace installer {

namespace {

const wchar_t kLauncherName[] = L"launcher.exe";
const wchar_t kPrefDefaultOverridesName[] = L"pref_default_overrides";

std::string StepName(const base::FilePath& relative_path) {
  return "copy_file:" + relative_path.AsUTF8Unsafe();
}

}  // namespace

bool IsCopyFileStepName(const std::string& name) {
  return name.find("copy_file") != std::string::npos;
}

CopyFileStep::CopyFileStep(InstallerStepContext* context,
                           const base::FilePath& relative_path)
    : InstallerStep(StepName(relative_path), context),
      relative_path_(relative_path) {}

CopyFileStep::~CopyFileStep() = default;

void CopyFileStep::Execute(InstallerStepResult* result, int attempt) {
  if (attempt > 0)
    GetContext()->OnImportantEvent("file_copy_retry");
  Copy(result);
  if (result->status == STEP_DONE)
    OnCopied();
}

void CopyFileStep::Copy(InstallerStepResult* result) {
  LOG(INFO) << "Copying file " << relative_path_.value();
  base::FilePath source;
  GetSourceFolder(&source);
  source = source.Append(relative_path_);
  base::FilePath destination;
  GetDestinationFolder(&destination);
  base::FilePath name;
  GetDestinationName(&name);
  destination = destination.Append(name);

  if (CheckSource(source) == SKIP_SOURCE) {
    VLOG(1) << "Not copying " << source.value();
    *result = InstallerStepResult(STEP_DONE);
    return;
  }
  error_.clear();
  if (ExecuteOperation(GetContext()->GetTransaction(),
                       std::make_unique<CopyFileOperation>(source, destination),
                       &error_)) {
    *result = InstallerStepResult(STEP_DONE);
    return;
  }
  const std::string message =
      "Failed copying " + relative_path_.AsUTF8Unsafe() + " to " +
      destination.AsUTF8Unsafe() + " because of error: " + error_;
  LOG(ERROR) << message;
  *result = InstallerStepResult(
      IsRequired() ? STEP_RETRY_THEN_FAIL : STEP_RETRY_THEN_CONTINUE,
      RESULT_COPY_FAILED, destination.value(), message);
}

void CopyFileStep::OnCopied() {}

bool CopyFileStep::IsRequired() {
  return true;
}

int CopyFileStep::CheckSource(const base::FilePath& source) {
  return COPY_SOURCE;
}

void CopyFileStep::GetDestinationName(base::FilePath* name) {
  *name = relative_path_;
}

void CopyFileStep::GetSourceFolder(base::FilePath* folder) {
  *folder = GetPackageDir();
}

PackageFileCopyStep::PackageFileCopyStep(InstallerStepContext* context,
                                         const base::FilePath& relative_path)
    : CopyFileStep(context, relative_path) {}

void PackageFileCopyStep::OnCopied() {
  GetStatusUnderConstruction()->files.push_back(relative_path());
}

void PackageFileCopyStep::GetDestinationFolder(base::FilePath* folder) {
  *folder = GetTargetFolder();
}

RootFileCopyStep::RootFileCopyStep(InstallerStepContext* context,
                                   const base::FilePath& relative_path)
    : CopyFileStep(context, relative_path) {}

void RootFileCopyStep::OnCopied() {
  GetStatusUnderConstruction()->root_files.push_back(relative_path());
}

void RootFileCopyStep::GetDestinationFolder(base::FilePath* folder) {
  *folder = GetContext()->GetInstallFolder();
}

LauncherCopyStep::LauncherCopyStep(InstallerStepContext* context)
    : CopyFileStep(context, base::FilePath(kLauncherName)) {}

void LauncherCopyStep::OnCopied() {
  if (!GetContext()->IsPackageDirKnown())
    return;
  // Only the install folder's launcher is used; a second one in the version
  // folder would just be a stale copy after the next update.
  std::string error;
  if (!ExecuteOperation(
          GetContext()->GetTransaction(),
          std::make_unique<DeleteFileOperation>(
              GetTargetFolder().Append(kLauncherName), false, false),
          &error)) {
    VLOG(1) << "Leaving the launcher in the target folder: " << error;
  }
}

void LauncherCopyStep::GetSourceFolder(base::FilePath* folder) {
  *folder =
      GetContext()->IsPackageDirKnown() ? GetTargetFolder() : GetPackageDir();
}

void LauncherCopyStep::GetDestinationFolder(base::FilePath* folder) {
  *folder = GetContext()->GetInstallFolder();
}

PrefDefaultOverridesCopyStep::PrefDefaultOverridesCopyStep(
    InstallerStepContext* context)
    : CopyFileStep(context, base::FilePath(kPrefDefaultOverridesName)) {}

bool PrefDefaultOverridesCopyStep::IsRequired() {
  return false;
}

int PrefDefaultOverridesCopyStep::CheckSource(const base::FilePath& source) {
  std::string contents;
  if (!base::ReadFileToString(source, &contents)) {
    VLOG(1) << "No pref default overrides to copy";
    return SKIP_SOURCE;
  }
  if (!base::JSONReader::Read(contents)) {
    LOG(ERROR) << "The pref default overrides are not JSON; not copying them";
    return SKIP_SOURCE;
  }
  return COPY_SOURCE;
}

void PrefDefaultOverridesCopyStep::GetDestinationFolder(
    base::FilePath* folder) {
  *folder = GetContext()->GetInstallFolder();
}

}  // namespace installer
