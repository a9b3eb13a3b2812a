#include "desktop/windows/installer/steps/package_verification_steps.h"

#include "base/files/file.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/common/sha1_file_check.h"
#include "desktop/windows/installer/installer_step_context.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/steps/downloadable_resources.h"

namespace installer {

namespace {

// List names are UTF-8 (ASCII in every package so far) and use "\".
base::FilePath AppendListName(const base::FilePath& folder,
                              const std::string& name) {
  return folder.Append(base::UTF8ToUTF16(name));
}

bool CanOpenForReading(const base::FilePath& path) {
  base::File file(path, base::File::FLAG_OPEN | base::File::FLAG_READ);
  return file.IsValid();
}

void CollectUnopenable(const base::FilePath& folder,
                       const std::vector<std::string>& names,
                       std::vector<std::string>* missing) {
  for (const std::string& name : names) {
    if (!CanOpenForReading(AppendListName(folder, name)))
      missing->push_back(name);
  }
}

}  // namespace

VerifyDownloadableResourcesStep::VerifyDownloadableResourcesStep(
    InstallerStepContext* context)
    : InstallerStep("verify_downloadable_resources", context) {}

VerifyDownloadableResourcesStep::~VerifyDownloadableResourcesStep() = default;

void VerifyDownloadableResourcesStep::Execute(InstallerStepResult* result,
                                              int) {
  // A full package was checked as a whole when it was made; only the
  // resources fetched one by one for a minimal package can be stale or
  // tampered with.
  if (!GetContext()->IsMinimalInstall()) {
    *result = InstallerStepResult(STEP_DONE);
    return;
  }
  const base::FilePath package_dir = GetPackageDir();
  const DownloadableResource* resources = GetDownloadableResources();
  for (size_t i = 0; i < kDownloadableResourceCount; ++i) {
    const base::FilePath file = GetResourceFilePath(package_dir, resources[i]);
    // A minimal package may lack any of them; the front end fetches what
    // this machine needs.
    if (!base::PathExists(file))
      continue;
    std::string error;
    if (!VerifyFileSha1(file, resources[i].sha1_base64, &error)) {
      LOG(ERROR) << "Downloadable resource check failed: " << error;
      *result = InstallerStepResult(
          STEP_FAILED, RESULT_GENERAL_ERROR, file.value(),
          "Downloadable resource checksum validation error: " + error);
      return;
    }
  }
  *result = InstallerStepResult(STEP_DONE);
}

VerifyPackageContentsStep::VerifyPackageContentsStep(
    InstallerStepContext* context,
    const std::vector<std::string>& standard_files,
    const std::vector<std::string>& root_files,
    const std::vector<std::string>& extra_files)
    : InstallerStep("verify_package_contents", context),
      standard_files_(standard_files),
      root_files_(root_files),
      extra_files_(extra_files) {}

VerifyPackageContentsStep::~VerifyPackageContentsStep() = default;

void VerifyPackageContentsStep::Execute(InstallerStepResult* result, int) {
  InstallerStepContext* context = GetContext();
  const bool package_dir_known = context->IsPackageDirKnown();
  const base::FilePath package_dir = GetPackageDir();
  // A backend told where the package lies has unpacked it into the target
  // folder already; one told nothing runs from inside the package.
  const base::FilePath base_folder =
      package_dir_known ? GetTargetFolder() : package_dir;

  std::vector<std::string> missing;
  CollectUnopenable(base_folder, standard_files_, &missing);
  CollectUnopenable(base_folder, root_files_, &missing);
  // The extra files are used from the package and never copied.
  CollectUnopenable(package_dir, extra_files_, &missing);

  if (missing.empty()) {
    if (package_dir_known) {
      std::vector<base::FilePath>& files = GetStatusUnderConstruction()->files;
      for (const std::string& name : standard_files_)
        files.push_back(base::FilePath(base::UTF8ToUTF16(name)));
    }
    *result = InstallerStepResult(STEP_DONE);
    return;
  }

  std::string names;
  for (const std::string& name : missing) {
    if (!names.empty())
      names += ' ';
    names += name;
  }
  LOG(ERROR) << "Package files cannot be opened: " << names;
  *result = InstallerStepResult(
      STEP_FAILED, RESULT_GENERAL_ERROR, base::string16(),
      "Package verification failed, files '" + names + "' cannot be opened.");
}

}  // namespace installer
