#include "desktop/windows/l10n_handler/l10n_handler.h"

#include <iterator>

#include "base/strings/string_util.h"

namespace installer {

namespace {

constexpr wchar_t kEnglish[] = L"en";

struct StringEntry {
  int id;
  const wchar_t* text;
};

constexpr StringEntry kEnglishStrings[] = {
    {IDS_AUTOUPDATE_TASK_DESCRIPTION, L"Keeps Kavor up to date."},
    {IDS_INSTALL_ERROR,
     L"An error occurred while attempting to install Kavor!"},
    {IDS_UNINSTALL_ERROR,
     L"An error occurred while attempting to uninstall Kavor!"},
    {IDS_REINSTALL_LAUNCH_FAILED, L"Launching re-installation failed."},
    {IDS_INSTALLER_ALREADY_WORKING,
     L"Another instance of the Kavor installer is already working on this "
     L"folder. You can either cancel the installation, try again in a few "
     L"minutes, or install in a different folder."},
    {IDS_INVALID_LOCATION,
     L"The installation cannot be performed in the selected location."},
    {IDS_FOLDER_CREATION_FAILED, L"The folder $1 could not be created."},
    {IDS_INSUFFICIENT_PRIVILEGES,
     L"Insufficient privileges for installing to the desired location."},
    {IDS_ELEVATION_FAILED,
     L"Failed to obtain administrator-level execution privileges."},
    {IDS_COPY_FAILED, L"Error when copying file to $1."},
    {IDS_FILE_IN_USE,
     L"Unable to uninstall Kavor.exe. Please make sure Kavor is not running "
     L"and try again."},
    {IDS_CORRUPTED_INSTALLER_TITLE, L"Kavor Installer"},
    {IDS_CORRUPTED_INSTALLER_TEXT,
     L"This installer file is damaged and cannot be used. Please "
     L"<a>download Kavor</a> again."},
    {IDS_CORRUPTED_INSTALLER_GO, L"Go!"},
    {IDS_CORRUPTED_INSTALLER_CANCEL, L"Cancel"},
    {IDS_SHORTCUT_NAME, L"Kavor Browser"},
    {IDS_NOT_ENOUGH_SPACE, L"Insufficient space on $1"},
    {IDS_DRIVE_SPACE_NEEDED, L"drive $1 ($2 MB needed)"},
};

}  // namespace

L10nHandler::L10nHandler() : ui_language_(kEnglish) {}

L10nHandler::~L10nHandler() = default;

std::vector<std::wstring> L10nHandler::GetAvailableLanguages() const {
  return {kEnglish};
}

void L10nHandler::SetUiLanguage(std::wstring* code) {
  // English is the only language there is, so it is also what every other
  // choice falls back to.
  ui_language_ = kEnglish;
  *code = ui_language_;
}

std::wstring L10nHandler::GetString(int id) const {
  for (const StringEntry& entry : kEnglishStrings) {
    if (entry.id == id)
      return entry.text;
  }
  return std::wstring();
}

L10nHandler* GetL10nHandler() {
  static L10nHandler* const handler = new L10nHandler();
  return handler;
}

void SetUiLanguage(std::wstring* code) {
  GetL10nHandler()->SetUiLanguage(code);
}

std::wstring GetString(int id) {
  return GetL10nHandler()->GetString(id);
}

std::wstring GetStringF(int id,
                        const std::wstring& arg1,
                        const std::wstring& arg2) {
  return base::ReplaceStringPlaceholders(GetString(id), {arg1, arg2}, nullptr);
}

}  // namespace installer
