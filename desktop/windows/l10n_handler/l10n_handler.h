#ifndef DESKTOP_WINDOWS_L10N_HANDLER_L10N_HANDLER_H_
#define DESKTOP_WINDOWS_L10N_HANDLER_L10N_HANDLER_H_

#include <string>
#include <vector>

#include "base/macros.h"

namespace installer {

// String ids of the installer's user-facing texts.
enum StringId {
  IDS_AUTOUPDATE_TASK_DESCRIPTION = 37054,
  IDS_INSTALL_ERROR = 37057,
  IDS_UNINSTALL_ERROR = 37058,
  IDS_REINSTALL_LAUNCH_FAILED = 37059,
  IDS_INSTALLER_ALREADY_WORKING = 37060,
  IDS_INVALID_LOCATION = 37061,
  IDS_FOLDER_CREATION_FAILED = 37062,
  IDS_INSUFFICIENT_PRIVILEGES = 37063,
  IDS_ELEVATION_FAILED = 37064,
  IDS_COPY_FAILED = 37065,
  IDS_FILE_IN_USE = 37066,
  IDS_CORRUPTED_INSTALLER_TITLE = 37069,
  IDS_CORRUPTED_INSTALLER_TEXT = 37070,
  IDS_CORRUPTED_INSTALLER_GO = 37071,
  IDS_CORRUPTED_INSTALLER_CANCEL = 37072,
  IDS_SHORTCUT_NAME = 37073,
  IDS_NOT_ENOUGH_SPACE = 37074,
  IDS_DRIVE_SPACE_NEEDED = 37075,
};

// The installer's texts in the UI language.
//
// Only English texts are part of this build; other languages come with the
// installer's user interface.
class L10nHandler {
 public:
  L10nHandler();
  ~L10nHandler();

  // The language codes the UI can be shown in.
  std::vector<std::wstring> GetAvailableLanguages() const;

  // Picks the UI language for |code| (empty: the system's language), falling
  // back when it is not available, and writes the chosen code back.
  void SetUiLanguage(std::wstring* code);
  const std::wstring& ui_language() const { return ui_language_; }

  // The text of |id|; empty for an unknown id.
  std::wstring GetString(int id) const;

 private:
  std::wstring ui_language_;

  DISALLOW_COPY_AND_ASSIGN(L10nHandler);
};

// The process-wide handler, made on first use.
L10nHandler* GetL10nHandler();

// Shorthands on the process-wide handler.
void SetUiLanguage(std::wstring* code);
std::wstring GetString(int id);
// GetString with "$1" and "$2" replaced by |arg1| and |arg2|.
std::wstring GetStringF(int id,
                        const std::wstring& arg1,
                        const std::wstring& arg2 = std::wstring());

}  // namespace installer

#endif  // DESKTOP_WINDOWS_L10N_HANDLER_L10N_HANDLER_H_
