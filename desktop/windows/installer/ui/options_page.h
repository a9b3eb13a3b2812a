#ifndef DESKTOP_WINDOWS_INSTALLER_UI_OPTIONS_PAGE_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_OPTIONS_PAGE_H_

#include <windows.h>
#include <stdint.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "desktop/windows/installer/settings.h"

namespace installer {

struct PageTransitionData;
class AssociationOperations;
class SecurityUtils;

// Asks the user for a folder (the shell's folder browser in the product).
class FolderBrowser {
 public:
  virtual ~FolderBrowser() = default;
  // The chosen folder, or nothing when the user cancelled.
  virtual std::optional<base::FilePath> Browse(
      HWND owner,
      const std::wstring& caption,
      const base::FilePath& initial) = 0;
};

// The window's side of the options page.
class OptionsPageHost {
 public:
  virtual ~OptionsPageHost() = default;
  virtual HWND GetMainDialog() = 0;
  // The language codes the window offers, in the order it shows them.
  virtual const std::vector<std::wstring>& GetAvailableLanguages() = 0;
  // The record of the current page, where changes are counted.
  virtual PageTransitionData* GetPageTransitionRecord() = 0;
  // Every page element updates its visibility for the current page.
  virtual void UpdatePageElements() = 0;
  // The window's 8-point bold font.
  virtual HFONT GetBoldFont() = 0;
  virtual bool IsUninstallRun() = 0;
};

// The options page (the child dialog shown as page 3) and the option
// controls of the main dialog that share its handlers. UI thread only.
class OptionsPage {
 public:
  // Null seams mean the product's own: the shell's folder browser, the
  // system's association operations and security utilities.
  OptionsPage(Settings* settings,
              OptionsPageHost* host,
              FolderBrowser* folder_browser,
              AssociationOperations* association_operations,
              SecurityUtils* security_utils);
  ~OptionsPage();

  // Makes the child dialog (template 138 of the host executable) inside
  // the main dialog; false when it cannot be made.
  bool Create(HWND main_dialog);
  void Destroy();
  HWND handle() const { return dialog_; }
  // The install-mode tooltip (null until the page is set up).
  HWND tooltip() const { return tooltip_; }

  // The page's texts in the new language: the language and install-mode
  // lists and the install-mode tooltip.
  void OnLanguageChanged();
  // Puts every option control back in line with the settings.
  void Refresh();
  // A WM_COMMAND of the main dialog or of the page; true when it was an
  // option control's.
  bool OnCommand(int id, int notification, HWND control);

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog,
                                     UINT message,
                                     WPARAM wparam,
                                     LPARAM lparam);

  // The dialog's own set-up, once its controls exist.
  void InitializePage();
  void CreateInstallModeTooltip();
  // Sends |message| (add the tool, or update its text) about the install
  // mode box's tool to the tooltip; what the tooltip answers.
  bool SendInstallModeTool(UINT message);
  void OnDialogDestroyed();
  // The control |id| of the page, or of the main dialog for the main
  // dialog's option controls.
  HWND GetControl(int id);

  void OnLanguageSelected();
  void OnInstallModeSelected();
  void OnFolderChanged(HWND combo, bool edited);
  void OnBrowse(HWND combo);
  void OnCheckBoxClicked(int id, HWND check_box);

  void FillLanguageList();
  void SelectCurrentLanguage();
  void FillInstallModeList();
  void RefillFolderCombo();
  void ShowFolderWarning(FolderProblem problem);
  // Counts one change in the current page-transition record.
  void CountChange(std::optional<int32_t> PageTransitionData::*counter);

  Settings* const settings_;
  OptionsPageHost* const host_;
  FolderBrowser* folder_browser_;
  AssociationOperations* association_operations_;
  SecurityUtils* security_utils_;
  std::unique_ptr<FolderBrowser> shell_folder_browser_;
  HWND dialog_ = nullptr;
  HWND tooltip_ = nullptr;
  // Set while the page writes to its own controls, whose notifications
  // are then no user's change.
  bool updating_controls_ = false;

  DISALLOW_COPY_AND_ASSIGN(OptionsPage);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_OPTIONS_PAGE_H_
