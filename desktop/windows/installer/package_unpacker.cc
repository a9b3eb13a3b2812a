#include "desktop/windows/installer/package_unpacker.h"

#include <utility>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/version.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/common/file_version_utils.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/installer_step_context.h"
#include "desktop/windows/installer/installer_utils.h"
#include "desktop/windows/installer/interprocess_state.h"
#include "desktop/windows/installer/os_operations.h"
#include "desktop/windows/installer/package_fetcher/signature_check.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/service/transactions/file_operations.h"
#include "desktop/windows/installer/settings.h"

namespace installer {

namespace {

const char kInstallSubfolderSwitch[] = "install-subfolder";
const wchar_t kPackageArchiveName[] = L"kavor_package";
const wchar_t kPackageVersionFileName[] = L"package_version";

}  // namespace

const char PackageUnpacker::kDirectUnpackingStepName[] = "direct_unpacking";

PackageUnpacker::PackageUnpacker(
    std::unique_ptr<FileVersionUtils> file_version_utils,
    std::unique_ptr<LzmaUtil> lzma_util,
    InstallerStepContext* context,
    PackageUnpackerDelegate* delegate,
    InterprocessState* interprocess_state)
    : file_version_utils_(std::move(file_version_utils)),
      lzma_util_(std::move(lzma_util)),
      context_(context),
      delegate_(delegate),
      interprocess_state_(interprocess_state) {}

PackageUnpacker::~PackageUnpacker() = default;

bool PackageUnpacker::PrepareInstallSubfolder(base::CommandLine* command_line) {
  const InstallerOperation operation = context_->GetSettings()->GetOperation();
  // An uninstall and a repair of resources work in the recorded subfolder.
  if (operation == OPERATION_UNINSTALL ||
      operation == OPERATION_FIX_DOWNLOADABLE_RESOURCES ||
      command_line->HasSwitch(kInstallSubfolderSwitch)) {
    return true;
  }

  const base::FilePath package_dir = context_->GetPackageDir();
  std::string version_text;
  base::Version full_version;
  base::Version internal_version;
  if (file_version_utils_->GetPackageFileVersion(
          package_dir.Append(kPackageArchiveName), &full_version,
          &internal_version, nullptr)) {
    version_text = full_version.GetString();
  } else {
    const base::FilePath version_file =
        package_dir.Append(kPackageVersionFileName);
    if (!base::PathExists(version_file)) {
      version_text = GetVersionString();
    } else if (!base::ReadFileToString(version_file, &version_text)) {
      return SetLastInstallerError(RESULT_FOLDER_CREATION_FAILED,
                                   "Cannot read the package version file");
    } else if (!base::Version(version_text).IsValid()) {
      return SetLastInstallerError(
          RESULT_FOLDER_CREATION_FAILED,
          "Invalid package version found in package folder " + version_text);
    }
  }

  // An earlier installation of the same version keeps its folder until the
  // new one is complete, so the new one takes the first free name.
  const base::FilePath install_folder = context_->GetInstallFolder();
  const base::string16 version = base::UTF8ToWide(version_text);
  base::string16 name = version;
  for (int n = 0; base::PathExists(install_folder.Append(name)); ++n)
    name = base::StringPrintf(L"%ls_%d", version.c_str(), n);

  const base::FilePath subfolder = install_folder.Append(name);
  std::string error;
  if (!ExecuteOperation(context_->GetTransaction(),
                        std::make_unique<CreateFolderOperation>(subfolder),
                        &error)) {
    LOG(ERROR) << "Cannot create " << subfolder.value() << ": " << error;
    return SetLastInstallerError(RESULT_FOLDER_CREATION_FAILED,
                                 "Cannot create the installation subfolder.",
                                 subfolder.value());
  }
  command_line->AppendSwitchPath(kInstallSubfolderSwitch, base::FilePath(name));
  return true;
}

bool PackageUnpacker::Unpack(base::CommandLine* command_line) {
  if (!PrepareInstallSubfolder(command_line))
    return AddLastInstallerErrorContext("Cannot create subfolder for package.");
  // The switch names the folder just made; the run's context may not have
  // taken it over yet.
  const base::FilePath subfolder =
      command_line->GetSwitchValuePath(kInstallSubfolderSwitch);
  const base::FilePath target =
      subfolder.empty() ? context_->GetTargetFolder()
                        : context_->GetInstallFolder().Append(subfolder);
  if (interprocess_state()->IsInsidePackage()) {
    if (!CopyUnpackedFiles(target)) {
      return AddLastInstallerErrorContext(
          "Cannot copy unpacked files to subfolder.");
    }
    return true;
  }
  if (!UnpackArchive(target))
    return AddLastInstallerErrorContext("Cannot unpack the installer");
  return true;
}

void PackageUnpacker::OnFilesToUnpackCounted(int32_t count) {
  files_to_unpack_ = count;
  delegate_->OnTotalSteps(count);
}

void PackageUnpacker::OnUnpackProgressChanged(int32_t files_done) {
  // Before the first entry nothing is finished yet.
  if (files_done > 0)
    delegate_->OnStepFinished(kDirectUnpackingStepName, files_done);
}

bool PackageUnpacker::ShouldStopExtracting() {
  return delegate_->ShouldStopUnpacking();
}

InterprocessState* PackageUnpacker::interprocess_state() {
  return interprocess_state_ ? interprocess_state_ : GetInterprocessState();
}

bool PackageUnpacker::CopyUnpackedFiles(const base::FilePath& target) {
  const base::FilePath package_dir = context_->GetPackageDir();
  // The list reader refuses entries that could reach outside the package.
  const base::FilePath files_list = package_dir.Append(L"files_list");
  std::vector<std::string> entries;
  if (!ReadFilesList(files_list, &entries))
    return AddLastInstallerErrorContext("Cannot read debug files list");
  // An empty list means a damaged package: without this check the copy
  // would succeed and the hand-over would fail later for want of the
  // package's installer, with an error that says nothing about the cause.
  if (entries.empty()) {
    SetLastInstallerError(RESULT_GENERAL_ERROR, "No files in normal files list",
                          files_list.value());
    return AddLastInstallerErrorContext("Cannot read debug files list");
  }
  std::vector<std::string> root_entries;
  if (!ReadFilesList(package_dir.Append(L"root_files_list"), &root_entries))
    return AddLastInstallerErrorContext("Cannot read debug root files list");
  entries.insert(entries.end(), root_entries.begin(), root_entries.end());
  entries.push_back("files_list");
  entries.push_back("root_files_list");
  entries.push_back("launcher.exe");
  entries.push_back(GetOsOperations()->GetOsArchitecture() != 0
                        ? "installer_helper_64.exe"
                        : "installer_helper.exe");

  delegate_->OnTotalSteps(static_cast<int>(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    // A big package takes a while; a run that is no longer wanted stops
    // here rather than after the last file.
    if (delegate_->ShouldStopUnpacking()) {
      LOG(INFO) << "Unpacking interrupted after " << i << " of "
                << entries.size() << " files";
      return SetLastInstallerError(RESULT_GENERAL_ERROR,
                                   "The unpacking was interrupted");
    }
    const base::FilePath relative(base::UTF8ToWide(entries[i]));
    std::string error;
    if (!ExecuteOperation(
            context_->GetTransaction(),
            std::make_unique<CopyFileOperation>(package_dir.Append(relative),
                                                target.Append(relative)),
            &error)) {
      return SetLastInstallerError(
          RESULT_COPY_FAILED,
          "Cannot copy package file '" + entries[i] + "'\n" + error);
    }
    delegate_->OnStepFinished(kDirectUnpackingStepName, static_cast<int>(i));
  }
  return true;
}

bool PackageUnpacker::UnpackArchive(const base::FilePath& target) {
  const base::FilePath archive =
      context_->GetPackageDir().Append(kPackageArchiveName);
  // The front end checked the package in a folder its user can write to,
  // and this process may run elevated: the archive unpacked is the one
  // checked here, held so that nobody can write, replace or delete it until
  // it has been read.
  base::win::ScopedHandle held(
      ::CreateFileW(archive.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held.IsValid()) {
    const DWORD error = ::GetLastError();
    LOG(ERROR) << "Cannot hold the package " << archive.value()
               << " against changes: " << FormatWin32Error(error);
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return SetLastInstallerError(RESULT_GENERAL_ERROR,
                                   "Unpack archive operation failed\nThe "
                                   "archive " +
                                       archive.AsUTF8Unsafe() +
                                       " does not exist.");
    }
    return SetLastInstallerError(
        RESULT_GENERAL_ERROR,
        "Cannot open the package: " + FormatWin32Error(error),
        archive.value());
  }
  if (!IsProgramSignatureAccepted(archive, "package")) {
    return SetLastInstallerError(RESULT_GENERAL_ERROR,
                                 "Signature incorrect for the package",
                                 archive.value());
  }
  files_to_unpack_ = 0;
  std::string error;
  if (!ExecuteOperation(context_->GetTransaction(),
                        std::make_unique<UnpackArchiveOperation>(
                            archive, target, lzma_util_.get(), this),
                        &error)) {
    return SetLastInstallerError(RESULT_GENERAL_ERROR,
                                 "Unpack archive operation failed\n" + error);
  }
  // The reader says nothing after its last entry: the progress reaches the
  // total only here, once every entry is on disk.
  if (files_to_unpack_ > 0)
    delegate_->OnStepFinished(kDirectUnpackingStepName, files_to_unpack_);
  return true;
}

bool IsDirectUnpackingStep(const std::string& name) {
  return name == PackageUnpacker::kDirectUnpackingStepName;
}

}  // namespace installer
