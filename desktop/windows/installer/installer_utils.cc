#include "desktop/windows/installer/installer_utils.h"

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_split.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/common/product_constants.h"

namespace installer {

bool IsInsidePackage() {
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

bool ReadFilesList(const base::FilePath& path,
                   std::vector<std::string>* lines) {
  VLOG(1) << "Reading files list : " << path.BaseName().value();
  std::string contents;
  if (!base::ReadFileToString(path, &contents))
    return SetLastInstallerError(RESULT_GENERAL_ERROR,
                                 "Cannot read files list to string");
  std::vector<std::string> pieces = base::SplitString(
      contents, "\r\n", base::KEEP_WHITESPACE, base::SPLIT_WANT_NONEMPTY);
  lines->insert(lines->begin(), pieces.begin(), pieces.end());
  return true;
}

}  // namespace installer
