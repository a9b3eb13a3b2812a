#include "desktop/windows/installer/installer_utils.h"

#include <algorithm>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/installation_folder_details.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/l10n_handler/l10n_handler.h"

namespace installer {
namespace {

InstallerUtils* g_testing_utils = nullptr;

}  // namespace

InstallerUtils* GetInstallerUtils() {
  if (g_testing_utils)
    return g_testing_utils;
  static InstallerUtils* utils = new InstallerUtilsImpl();
  return utils;
}

void SetInstallerUtilsForTesting(InstallerUtils* utils) {
  g_testing_utils = utils;
}

bool IsInsidePackage() {
  return GetInstallerUtils()->IsInsidePackage();
}

bool ReadFilesList(const base::FilePath& path,
                   std::vector<std::string>* lines) {
  return GetInstallerUtils()->ReadFilesList(path, lines);
}

bool MakeSafeRelativePath(const base::string16& entry,
                          base::FilePath* relative) {
  base::string16 path = entry;
  std::replace(path.begin(), path.end(), L'/', L'\\');
  // Covers the drive ("C:"), the stream (":name") and "\\?\\" forms, and a
  // leading "\\" the root and UNC forms.
  if (path.empty() || path[0] == L'\\' ||
      path.find(L':') != base::string16::npos) {
    return false;
  }
  for (const base::string16& component : base::SplitString(
           path, L"\\", base::KEEP_WHITESPACE, base::SPLIT_WANT_ALL)) {
    // Windows drops trailing dots and blanks of a name, so "..." or ". ."
    // would reach the parent too.
    if (component.empty() ||
        component.find_first_not_of(L". ") == base::string16::npos) {
      return false;
    }
  }
  *relative = base::FilePath(path);
  return true;
}

base::string16 FormatDriveSpaceList(
    const std::vector<LowSpaceVolume>& volumes) {
  return GetInstallerUtils()->FormatDriveSpaceList(volumes);
}

bool ValidateSettings(Settings* settings) {
  return GetInstallerUtils()->ValidateSettings(settings);
}

bool InstallerUtilsImpl::IsInsidePackage() {
  base::FilePath folder;
  base::FilePath executable;
  if (!base::PathService::Get(base::DIR_EXE, &folder) ||
      !base::PathService::Get(base::FILE_EXE, &executable)) {
    return false;
  }
  base::FilePath browser =
      folder.Append(base::UTF8ToWide(GetProductShortName() + ".exe"));
  if (base::CommandLine::ForCurrentProcess()->HasSwitch("uninstall")) {
    if (base::PathExists(browser))
      return true;
    LOG(ERROR) << "Requested to uninstall, but we are not in a valid "
               << "installation folder";
    return false;
  }
  return base::PathExists(browser) &&
         base::PathExists(folder.Append(L"files_list")) &&
         executable.BaseName().value() != L"installer.exe";
}

bool InstallerUtilsImpl::ReadFilesList(const base::FilePath& path,
                                       std::vector<std::string>* lines) {
  VLOG(1) << "Reading files list : " << path.BaseName().value();
  std::string contents;
  if (!base::ReadFileToString(path, &contents))
    return SetLastInstallerError(RESULT_GENERAL_ERROR,
                                 "Cannot read files list to string");
  std::vector<std::string> pieces = base::SplitString(
      contents, "\r\n", base::KEEP_WHITESPACE, base::SPLIT_WANT_NONEMPTY);
  for (std::string& piece : pieces) {
    base::FilePath relative;
    if (!MakeSafeRelativePath(base::UTF8ToWide(piece), &relative)) {
      LOG(ERROR) << "Refusing files list entry '" << piece << "'";
      return SetLastInstallerError(
          RESULT_GENERAL_ERROR,
          "Files list entry outside the package: '" + piece + "'",
          path.value());
    }
    piece = base::WideToUTF8(relative.value());
  }
  lines->insert(lines->begin(), pieces.begin(), pieces.end());
  return true;
}

base::string16 InstallerUtilsImpl::FormatDriveSpaceList(
    const std::vector<LowSpaceVolume>& volumes) {
  std::vector<base::string16> pieces;
  for (const LowSpaceVolume& volume : volumes) {
    pieces.push_back(GetStringF(IDS_DRIVE_SPACE_NEEDED, volume.volume.value(),
                                base::Uint64ToString16(volume.required_mb)));
  }
  return base::JoinString(pieces, L", ");
}

bool InstallerUtilsImpl::ValidateSettings(Settings* settings) {
  const FolderProblem problem = settings->GetFolderProblem();
  // Valid: the folder was examined and an operation chosen for it.
  if (problem == FOLDER_PROBLEM_NONE &&
      settings->GetOperation() != OPERATION_NONE) {
    return true;
  }
  std::string message =
      "Attempting to start installation with invalid settings";
  switch (problem) {
    case FOLDER_PROBLEM_INVALID_PATH:
      SetLastInstallerError(RESULT_INVALID_LOCATION,
                            message + "\nThe path is invalid");
      break;
    case FOLDER_PROBLEM_NO_INSTALLATION:
      SetLastInstallerError(RESULT_UNINSTALL_ERROR,
                            message + "\nInstallation does not exist");
      break;
    case FOLDER_PROBLEM_NOT_ENOUGH_SPACE:
      SetLastInstallerError(
          RESULT_NOT_ENOUGH_DISK_SPACE,
          message + "\nNot enough disk space: " +
              base::WideToUTF8(FormatDriveSpaceList(
                  settings->GetFolderDetails().GetLowSpaceVolumes())));
      break;
    default:
      break;
  }
  return false;
}

}  // namespace installer
