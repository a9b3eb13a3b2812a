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
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/installation_folder_details.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/service_utils.h"
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

bool MakeSafeEntryPath(const base::string16& entry,
                       base::FilePath* relative,
                       std::string* reason) {
  base::string16 trimmed = entry;
  while (!trimmed.empty() &&
         (trimmed.back() == L'\\' || trimmed.back() == L'/')) {
    trimmed.pop_back();
  }
  return MakeSafeRelativePath(trimmed, relative, reason);
}

base::string16 PrintableEntry(const base::string16& entry) {
  base::string16 printable;
  for (const wchar_t c : entry) {
    const bool hidden = c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x200E ||
                        c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
                        (c >= 0x2066 && c <= 0x2069);
    if (!hidden)
      printable += c;
    else if (c < 0x100)
      printable += base::StringPrintf(L"\\x%02X", static_cast<unsigned>(c));
    else
      printable += base::StringPrintf(L"\\u%04X", static_cast<unsigned>(c));
  }
  return printable;
}

bool MakeSafeRelativePath(const base::string16& entry,
                          base::FilePath* relative,
                          std::string* reason) {
  std::string unused;
  if (!reason)
    reason = &unused;
  if (entry.empty()) {
    *reason = "it is empty";
    return false;
  }
  // A path ends at a NUL for the system and for FilePath alike: "..\\<NUL>x"
  // would name the parent. No file name holds another control character.
  if (std::any_of(entry.begin(), entry.end(),
                  [](wchar_t c) { return c < 0x20 || c == 0x7F; })) {
    *reason = "it holds a control character";
    return false;
  }
  base::string16 path = entry;
  std::replace(path.begin(), path.end(), L'/', L'\\');
  // A leading "\\" covers the root and UNC forms.
  if (path[0] == L'\\') {
    *reason = "it is not relative";
    return false;
  }
  // Covers the drive ("C:"), the stream (":name") and "\\?\\" forms.
  if (path.find(L':') != base::string16::npos) {
    *reason = "it names a drive or a stream";
    return false;
  }
  for (const base::string16& component : base::SplitString(
           path, L"\\", base::KEEP_WHITESPACE, base::SPLIT_WANT_ALL)) {
    // Windows drops trailing dots and blanks of a name, so "..." or ". ."
    // would reach the parent too.
    if (component.empty() ||
        component.find_first_not_of(L". ") == base::string16::npos) {
      *reason = "it has an empty, \".\" or \"..\" part";
      return false;
    }
    // What Windows opens for the name: trailing dots and blanks go, and so
    // do blanks before an extension, so "con .txt. " is the console, which
    // under Wine reaches \\.\con.
    base::string16 name =
        base::TrimString(component, L" ", base::TRIM_LEADING).as_string();
    name.erase(name.find_last_not_of(L". ") + 1);
    const size_t dot = name.find(L'.', 1);
    if (dot != base::string16::npos) {
      const size_t stem_end = name.find_last_not_of(L' ', dot - 1) + 1;
      name.erase(stem_end, dot - stem_end);
    }
    if (!IsValidPathName(base::FilePath(name), false)) {
      *reason = "it names a device or is not a valid file name";
      return false;
    }
  }
  *relative = base::FilePath(path);
  return true;
}

bool JoinRecordedPath(const base::FilePath& folder,
                      const base::FilePath& entry,
                      base::FilePath* path) {
  base::FilePath relative;
  std::string reason;
  if (!MakeSafeRelativePath(entry.value(), &relative, &reason)) {
    LOG(ERROR) << "Refusing the recorded path " << entry.value() << ": "
               << reason;
    return false;
  }
  *path = folder.Append(relative);
  return true;
}

base::FilePath GetComponentInstaller(const base::FilePath& folder,
                                     const std::string& name) {
  const wchar_t kInstallerSuffix[] = L"_installer.exe";
  const base::FilePath program =
      folder.Append(base::UTF8ToWide(name) + kInstallerSuffix);
  if (name != "suite" || base::PathExists(program))
    return program;
  const base::FilePath assistant =
      folder.Append(base::string16(L"assistant") + kInstallerSuffix);
  LOG(INFO) << "Using the assistant's installer " << assistant.value()
            << " for the missing " << program.value();
  return assistant;
}

bool GetComponentProgram(const InstallationComponent& component,
                         base::FilePath* program) {
  base::FilePath name_path;
  std::string reason;
  if (!MakeSafeRelativePath(base::UTF8ToWide(component.name), &name_path,
                            &reason)) {
    reason = "name: " + reason;
  } else if (name_path.BaseName() != name_path) {
    reason = "the name has a folder part";
  } else if (!component.path.IsAbsolute()) {
    reason = "the folder is not absolute";
  }
  if (!reason.empty()) {
    LOG(ERROR) << "Invalid component record " << component.name << " in "
               << component.path.value() << ": " << reason;
    return false;
  }
  *program = GetComponentInstaller(component.path, component.name);
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
    std::string reason;
    if (!MakeSafeRelativePath(base::UTF8ToWide(piece), &relative, &reason)) {
      const std::string message =
          "Files list entry '" +
          base::WideToUTF8(PrintableEntry(base::UTF8ToWide(piece))) +
          "' refused: " + reason;
      LOG(ERROR) << message << " (" << path.value() << ")";
      return SetLastInstallerError(RESULT_GENERAL_ERROR, message, path.value());
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
    case FOLDER_PROBLEM_INVALID_PATH: {
      const InstallationFolderDetails& details = settings->GetFolderDetails();
      const std::string& reason = details.GetInvalidPathReason();
      message += "\nThe path is invalid";
      // Only an examined folder has a reason; name the folder with it.
      base::string16 path;
      if (!reason.empty()) {
        path = details.GetPath().value();
        message += ": \"" + base::WideToUTF8(path) + "\" " + reason;
      }
      SetLastInstallerError(RESULT_INVALID_LOCATION, message, path);
      break;
    }
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

base::FilePath GetOwnProgram() {
  base::FilePath program;
  if (!base::PathService::Get(base::FILE_EXE, &program))
    LOG(ERROR) << "Cannot find own file path";
  return program;
}

}  // namespace installer
