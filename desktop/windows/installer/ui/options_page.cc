#include "desktop/windows/installer/ui/options_page.h"

#include <commctrl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <utility>

#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/win/scoped_com_initializer.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/avro_stats/avro_detail_records.h"
#include "desktop/windows/installer/installation_folder_details.h"
#include "desktop/windows/installer/installer_utils.h"
#include "desktop/windows/installer/service/association_operations.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/ui/resource_ids.h"
#include "desktop/windows/installer/ui/rich_text_links.h"
#include "desktop/windows/l10n_handler/l10n_handler.h"

namespace installer {

namespace {

constexpr COLORREF kTermsLineColor = RGB(104, 104, 104);
constexpr COLORREF kWarningColor = RGB(255, 0, 0);
constexpr int kTooltipMaxWidth = 300;

// The parsing name of |item| as the desktop folder gives it, or its file
// system path when the shell cannot name it that way.
std::wstring GetFolderParsingName(PCIDLIST_ABSOLUTE item) {
  std::wstring name;
  IShellFolder* desktop = nullptr;
  if (SUCCEEDED(::SHGetDesktopFolder(&desktop)) && desktop) {
    STRRET strret = {};
    if (SUCCEEDED(desktop->GetDisplayNameOf(item, SHGDN_FORPARSING, &strret))) {
      wchar_t* text = nullptr;
      if (SUCCEEDED(::StrRetToStrW(&strret, item, &text)) && text) {
        name = text;
        ::CoTaskMemFree(text);
      }
    }
    desktop->Release();
  }
  if (name.empty()) {
    wchar_t path[MAX_PATH] = {};
    if (::SHGetPathFromIDListW(item, path))
      name = path;
  }
  return name;
}

int CALLBACK BrowseCallback(HWND window,
                            UINT message,
                            LPARAM /*param*/,
                            LPARAM data) {
  if (message == BFFM_INITIALIZED && data)
    ::SendMessageW(window, BFFM_SETSELECTIONW, TRUE, data);
  return 0;
}

// The shell's own folder browser.
class ShellFolderBrowser : public FolderBrowser {
 public:
  std::optional<base::FilePath> Browse(HWND owner,
                                       const std::wstring& caption,
                                       const base::FilePath& initial) override {
    // The new dialog style needs OLE on this thread.
    base::win::ScopedCOMInitializer com;
    const std::wstring initial_path = initial.value();
    BROWSEINFOW info = {};
    info.hwndOwner = owner;
    info.lpszTitle = caption.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE | BIF_EDITBOX;
    info.lpfn = BrowseCallback;
    info.lParam = initial_path.empty()
                      ? 0
                      : reinterpret_cast<LPARAM>(initial_path.c_str());
    PIDLIST_ABSOLUTE item = ::SHBrowseForFolderW(&info);
    if (!item)
      return std::nullopt;
    std::wstring name = GetFolderParsingName(item);
    ::CoTaskMemFree(item);
    if (name.empty()) {
      LOG(ERROR) << "The chosen folder has no file system path";
      return std::nullopt;
    }
    return base::FilePath(name);
  }
};

// Tooltips live in comctl32, which the library loads only when it runs.
void RegisterTooltipClass() {
  static bool registered = false;
  if (!registered)
    registered = InitCommonControlClasses();
}

std::wstring GetControlText(HWND control) {
  int length = ::GetWindowTextLengthW(control);
  if (length <= 0)
    return std::wstring();
  std::wstring text(length + 1, L'\0');
  length = ::GetWindowTextW(control, &text[0], length + 1);
  text.resize(length > 0 ? length : 0);
  return text;
}

std::wstring GetComboItemText(HWND combo, int index) {
  LRESULT length = ::SendMessageW(combo, CB_GETLBTEXTLEN, index, 0);
  if (length == CB_ERR)
    return std::wstring();
  std::wstring text(length + 1, L'\0');
  length = ::SendMessageW(combo, CB_GETLBTEXT, index,
                          reinterpret_cast<LPARAM>(&text[0]));
  text.resize(length == CB_ERR ? 0 : length);
  return text;
}

// The item whose text is |text| exactly (the combo box's own search
// ignores case, and folders differing in case are different texts to the
// user); -1 when there is none.
int FindExactComboItem(HWND combo, const std::wstring& text) {
  LRESULT count = ::SendMessageW(combo, CB_GETCOUNT, 0, 0);
  for (int i = 0; i < count; ++i) {
    if (GetComboItemText(combo, i) == text)
      return i;
  }
  return -1;
}

void SetShield(HWND button, bool shield) {
  if (button)
    ::SendMessageW(button, BCM_SETSHIELD, 0, shield ? TRUE : FALSE);
}

std::wstring InstallModeTooltipText() {
  return GetString(IDS_MODE_ALL_USERS_NAME) + L"\n\t" +
         GetString(IDS_MODE_ALL_USERS_EXPLANATION) + L"\n\n" +
         GetString(IDS_MODE_CURRENT_USER_NAME) + L"\n\t" +
         GetString(IDS_MODE_CURRENT_USER_EXPLANATION) + L"\n\n" +
         GetString(IDS_MODE_STANDALONE_NAME) + L"\n\t" +
         GetString(IDS_MODE_STANDALONE_EXPLANATION);
}

// Sets a flag for its lifetime and then puts the old value back.
class ScopedFlag {
 public:
  explicit ScopedFlag(bool* flag) : flag_(flag), old_(*flag) { *flag = true; }
  ~ScopedFlag() { *flag_ = old_; }

 private:
  bool* const flag_;
  const bool old_;
};

bool IsMainDialogControl(int id) {
  return id == IDC_MAIN_FOLDER_COMBO || id == IDC_MAIN_BROWSE_BUTTON ||
         id == IDC_DELETE_USER_DATA;
}

}  // namespace

OptionsPage::OptionsPage(Settings* settings,
                         OptionsPageHost* host,
                         FolderBrowser* folder_browser,
                         AssociationOperations* association_operations,
                         SecurityUtils* security_utils)
    : settings_(settings),
      host_(host),
      folder_browser_(folder_browser),
      association_operations_(association_operations),
      security_utils_(security_utils) {
  if (!folder_browser_) {
    shell_folder_browser_ = std::make_unique<ShellFolderBrowser>();
    folder_browser_ = shell_folder_browser_.get();
  }
}

OptionsPage::~OptionsPage() {
  Destroy();
}

bool OptionsPage::Create(HWND main_dialog) {
  HWND dialog = ::CreateDialogParamW(
      ::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_OPTIONS_PAGE),
      main_dialog, &OptionsPage::DialogProc, reinterpret_cast<LPARAM>(this));
  if (!dialog) {
    PLOG(ERROR) << "Creating the options page failed";
    return false;
  }
  dialog_ = dialog;
  return true;
}

void OptionsPage::Destroy() {
  if (dialog_ && ::IsWindow(dialog_))
    ::DestroyWindow(dialog_);
  OnDialogDestroyed();
}

void OptionsPage::OnDialogDestroyed() {
  if (tooltip_ && ::IsWindow(tooltip_))
    ::DestroyWindow(tooltip_);
  tooltip_ = nullptr;
  if (dialog_ && ::IsWindow(dialog_))
    ::SetWindowLongPtrW(dialog_, GWLP_USERDATA, 0);
  dialog_ = nullptr;
}

// static
INT_PTR CALLBACK OptionsPage::DialogProc(HWND dialog,
                                         UINT message,
                                         WPARAM wparam,
                                         LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    auto* page = reinterpret_cast<OptionsPage*>(lparam);
    ::SetWindowLongPtrW(dialog, GWLP_USERDATA, lparam);
    page->dialog_ = dialog;
    if (!page->settings_->GetRunImmediately())
      page->InitializePage();
    // The page is made hidden: the focus stays where the window puts it,
    // not on a hidden list that arrow keys would change.
    return FALSE;
  }
  auto* page = reinterpret_cast<OptionsPage*>(
      ::GetWindowLongPtrW(dialog, GWLP_USERDATA));
  switch (message) {
    case WM_COMMAND:
      if (page) {
        return page->OnCommand(LOWORD(wparam), HIWORD(wparam),
                               reinterpret_cast<HWND>(lparam));
      }
      return FALSE;
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wparam);
      HWND control = reinterpret_cast<HWND>(lparam);
      ::SetBkMode(dc, TRANSPARENT);
      ::SetTextColor(dc, ::GetDlgCtrlID(control) == IDC_FOLDER_WARNING
                             ? kWarningColor
                             : RGB(0, 0, 0));
      return reinterpret_cast<INT_PTR>(::GetStockObject(WHITE_BRUSH));
    }
    case WM_CTLCOLORDLG:
      return reinterpret_cast<INT_PTR>(::GetStockObject(WHITE_BRUSH));
    case WM_DESTROY:
      // The main dialog takes its children along when it goes first.
      if (page && page->dialog_ == dialog)
        page->OnDialogDestroyed();
      return FALSE;
  }
  return FALSE;
}

void OptionsPage::InitializePage() {
  HWND default_browser = ::GetDlgItem(dialog_, IDC_DEFAULT_BROWSER_CHECK);
  base::win::Version version = base::win::GetVersion();
  bool offer_default_browser;
  if (version < base::win::WIN8) {
    offer_default_browser = true;
  } else if (version < base::win::WIN10) {
    // Windows 8 lets only the user pick the default browser.
    offer_default_browser = false;
  } else {
    AssociationOperations* operations = association_operations_
                                            ? association_operations_
                                            : GetAssociationOperations();
    offer_default_browser =
        operations && operations->CanSetDefaultBrowserDirectly();
  }
  ::ShowWindow(default_browser, offer_default_browser ? SW_SHOWNA : SW_HIDE);

  if (HFONT bold = host_->GetBoldFont()) {
    ::SendDlgItemMessageW(dialog_, IDC_FOLDER_WARNING, WM_SETFONT,
                          reinterpret_cast<WPARAM>(bold), TRUE);
  }

  // The browse button lines up with the folder combo's edit field.
  RECT combo_rect;
  RECT button_rect;
  HWND browse = ::GetDlgItem(dialog_, IDC_BROWSE_BUTTON);
  if (::GetWindowRect(::GetDlgItem(dialog_, IDC_FOLDER_COMBO), &combo_rect) &&
      ::GetWindowRect(browse, &button_rect)) {
    ::SetWindowPos(browse, nullptr, 0, 0, button_rect.right - button_rect.left,
                   combo_rect.bottom - combo_rect.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  CreateInstallModeTooltip();
}

void OptionsPage::CreateInstallModeTooltip() {
  RegisterTooltipClass();
  tooltip_ =
      ::CreateWindowExW(WS_EX_TOPMOST, L"tooltips_class32", nullptr,
                        WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog_,
                        nullptr, ::GetModuleHandleW(nullptr), nullptr);
  if (!tooltip_) {
    PLOG(ERROR) << "Creating the install mode tooltip failed";
    return;
  }
  if (!SendInstallModeTool(TTM_ADDTOOLW))
    LOG(ERROR) << "Attaching the install mode tooltip failed";
  ::SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, kTooltipMaxWidth);
}

bool OptionsPage::SendInstallModeTool(UINT message) {
  std::wstring text = InstallModeTooltipText();
  TOOLINFOW tool = {};
  // The older structure size, which every version of the common controls
  // accepts.
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.uFlags = TTF_SUBCLASS | TTF_IDISHWND;
  tool.hwnd = dialog_;
  tool.uId =
      reinterpret_cast<UINT_PTR>(::GetDlgItem(dialog_, IDC_INSTALL_MODE_COMBO));
  tool.lpszText = &text[0];
  return ::SendMessageW(tooltip_, message, 0,
                        reinterpret_cast<LPARAM>(&tool)) != 0;
}

HWND OptionsPage::GetControl(int id) {
  return ::GetDlgItem(
      IsMainDialogControl(id) ? host_->GetMainDialog() : dialog_, id);
}

void OptionsPage::OnLanguageChanged() {
  if (!dialog_)
    return;
  ScopedFlag updating(&updating_controls_);
  static const struct {
    int control;
    int string;
  } kTexts[] = {
      {IDC_LANGUAGE_LABEL, IDS_LANGUAGE_LABEL},
      {IDC_INSTALL_MODE_LABEL, IDS_INSTALL_FOR_LABEL},
      {IDC_FOLDER_LABEL, IDS_INSTALL_PATH_LABEL},
      {IDC_BROWSE_BUTTON, IDS_CHANGE_FOLDER},
      {IDC_DEFAULT_BROWSER_CHECK, IDS_MAKE_DEFAULT_BROWSER},
      {IDC_IMPORT_DATA_CHECK, IDS_IMPORT_BROWSER_DATA},
      {IDC_SHARE_USAGE_CHECK, IDS_SHARE_USAGE_DATA},
  };
  for (const auto& entry : kTexts)
    ::SetDlgItemTextW(dialog_, entry.control, GetString(entry.string).c_str());

  FillLanguageList();
  FillInstallModeList();
  if (tooltip_)
    SendInstallModeTool(TTM_UPDATETIPTEXTW);
}

void OptionsPage::FillLanguageList() {
  HWND list = ::GetDlgItem(dialog_, IDC_LANGUAGE_COMBO);
  ::SendMessageW(list, CB_RESETCONTENT, 0, 0);
  const std::vector<std::wstring>& languages = host_->GetAvailableLanguages();
  for (size_t i = 0; i < languages.size(); ++i) {
    std::wstring name =
        GetL10nHandler()->GetStringForLanguage(languages[i], IDS_LANGUAGE_NAME);
    LRESULT item = ::SendMessageW(list, CB_ADDSTRING, 0,
                                  reinterpret_cast<LPARAM>(name.c_str()));
    if (item < 0 || ::SendMessageW(list, CB_SETITEMDATA, item,
                                   static_cast<LPARAM>(i)) == CB_ERR) {
      LOG(ERROR) << "Adding item #" << i << " to the language dropdown failed";
    }
  }
  SelectCurrentLanguage();
}

void OptionsPage::SelectCurrentLanguage() {
  const std::vector<std::wstring>& languages = host_->GetAvailableLanguages();
  const std::wstring& current = settings_->GetLanguage();
  int selected = 0;
  for (size_t i = 0; i < languages.size(); ++i) {
    if (base::EqualsCaseInsensitiveASCII(languages[i], current)) {
      selected = static_cast<int>(i);
      break;
    }
  }
  ::SendDlgItemMessageW(dialog_, IDC_LANGUAGE_COMBO, CB_SETCURSEL, selected, 0);
}

void OptionsPage::FillInstallModeList() {
  HWND list = ::GetDlgItem(dialog_, IDC_INSTALL_MODE_COMBO);
  LRESULT selected = ::SendMessageW(list, CB_GETCURSEL, 0, 0);
  ::SendMessageW(list, CB_RESETCONTENT, 0, 0);
  for (int id :
       {IDS_MODE_ALL_USERS, IDS_MODE_CURRENT_USER, IDS_MODE_STANDALONE}) {
    std::wstring text = GetString(id);
    ::SendMessageW(list, CB_ADDSTRING, 0,
                   reinterpret_cast<LPARAM>(text.c_str()));
  }
  ::SendMessageW(list, CB_SETCURSEL, selected == CB_ERR ? 0 : selected, 0);
}

bool OptionsPage::OnCommand(int id, int notification, HWND control) {
  if (!control)
    control = GetControl(id);
  switch (id) {
    case IDC_LANGUAGE_COMBO:
      if (notification == CBN_SELCHANGE && !updating_controls_)
        OnLanguageSelected();
      return true;
    case IDC_INSTALL_MODE_COMBO:
      if (notification == CBN_SELCHANGE && !updating_controls_)
        OnInstallModeSelected();
      return true;
    case IDC_FOLDER_COMBO:
    case IDC_MAIN_FOLDER_COMBO:
      if ((notification == CBN_SELCHANGE || notification == CBN_EDITCHANGE) &&
          !updating_controls_) {
        OnFolderChanged(control, notification == CBN_EDITCHANGE);
      }
      return true;
    case IDC_BROWSE_BUTTON:
    case IDC_MAIN_BROWSE_BUTTON:
      if (notification == BN_CLICKED) {
        OnBrowse(GetControl(id == IDC_BROWSE_BUTTON ? IDC_FOLDER_COMBO
                                                    : IDC_MAIN_FOLDER_COMBO));
      }
      return true;
    case IDC_DEFAULT_BROWSER_CHECK:
    case IDC_IMPORT_DATA_CHECK:
    case IDC_SHARE_USAGE_CHECK:
    case IDC_DELETE_USER_DATA:
      if (notification == BN_CLICKED && !updating_controls_)
        OnCheckBoxClicked(id, control);
      return true;
  }
  return false;
}

void OptionsPage::OnLanguageSelected() {
  if (!settings_->IsEditable()) {
    Refresh();
    // The refresh leaves the language list alone.
    ScopedFlag updating(&updating_controls_);
    SelectCurrentLanguage();
    return;
  }
  LRESULT index =
      ::SendDlgItemMessageW(dialog_, IDC_LANGUAGE_COMBO, CB_GETCURSEL, 0, 0);
  const std::vector<std::wstring>& languages = host_->GetAvailableLanguages();
  if (index < 0 || static_cast<size_t>(index) >= languages.size())
    return;
  CountChange(&PageTransitionData::changed_language_counter);
  // A copy: the new language refills the list the host keeps.
  std::wstring language = languages[index];
  settings_->SetLanguage(language);
}

void OptionsPage::OnInstallModeSelected() {
  if (!settings_->IsEditable()) {
    Refresh();
    return;
  }
  LRESULT index = ::SendDlgItemMessageW(dialog_, IDC_INSTALL_MODE_COMBO,
                                        CB_GETCURSEL, 0, 0);
  if (index < INSTALL_MODE_ALL_USERS || index > INSTALL_MODE_STANDALONE)
    return;
  CountChange(&PageTransitionData::changed_install_mode_counter);
  if (!settings_->SetMode(static_cast<InstallMode>(index)))
    Refresh();
}

void OptionsPage::OnFolderChanged(HWND combo, bool edited) {
  if (!settings_->IsEditable()) {
    Refresh();
    return;
  }
  // While the user types, the list's selection is stale; the edit field
  // holds what the user wants.
  std::wstring folder;
  LRESULT selected = ::SendMessageW(combo, CB_GETCURSEL, 0, 0);
  if (!edited && selected != CB_ERR)
    folder = GetComboItemText(combo, static_cast<int>(selected));
  else
    folder = GetControlText(combo);
  CountChange(edited ? &PageTransitionData::edited_install_path_counter
                     : &PageTransitionData::changed_install_path_counter);
  settings_->SetInstallFolder(folder);
}

void OptionsPage::OnBrowse(HWND combo) {
  if (!settings_->IsEditable()) {
    Refresh();
    return;
  }
  std::optional<base::FilePath> chosen = folder_browser_->Browse(
      host_->GetMainDialog(), GetString(IDS_BROWSE_FOR_FOLDER),
      base::FilePath(GetControlText(combo)));
  if (!chosen)
    return;
  const std::wstring& folder = chosen->value();
  {
    ScopedFlag updating(&updating_controls_);
    int item = FindExactComboItem(combo, folder);
    if (item >= 0) {
      ::SendMessageW(combo, CB_SETCURSEL, item, 0);
    } else {
      ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
      ::SetWindowTextW(combo, folder.c_str());
    }
  }
  OnFolderChanged(combo, false);
}

void OptionsPage::OnCheckBoxClicked(int id, HWND check_box) {
  if (!settings_->IsEditable()) {
    Refresh();
    return;
  }
  bool checked = ::SendMessageW(check_box, BM_GETCHECK, 0, 0) == BST_CHECKED;
  bool accepted = false;
  switch (id) {
    case IDC_DEFAULT_BROWSER_CHECK:
      CountChange(&PageTransitionData::changed_make_default_browser_counter);
      accepted = settings_->SetDefaultBrowser(checked);
      break;
    case IDC_IMPORT_DATA_CHECK:
      CountChange(&PageTransitionData::changed_import_data_counter);
      accepted = settings_->SetImportBrowserData(checked);
      break;
    case IDC_SHARE_USAGE_CHECK:
      // Both the installer's and the browser's statistics.
      CountChange(&PageTransitionData::changed_enable_stats_counter);
      accepted = settings_->SetEnableStats(checked);
      break;
    case IDC_DELETE_USER_DATA:
      CountChange(&PageTransitionData::changed_delete_profile_counter);
      accepted = settings_->SetDeleteProfile(checked);
      break;
  }
  if (!accepted)
    Refresh();
}

void OptionsPage::CountChange(
    std::optional<int32_t> PageTransitionData::*counter) {
  PageTransitionData* record = host_->GetPageTransitionRecord();
  if (!record)
    return;
  std::optional<int32_t>& value = record->*counter;
  value = value ? *value + 1 : 1;
}

void OptionsPage::Refresh() {
  ScopedFlag updating(&updating_controls_);
  HWND main_dialog = host_->GetMainDialog();
  const FolderProblem problem = settings_->GetFolderProblem();
  bool shield = false;
  if (problem == FOLDER_PROBLEM_NONE) {
    SecurityUtils* security =
        security_utils_ ? security_utils_ : SecurityUtilsImpl::GetInstance();
    shield = security->NeedsElevation(
        settings_->GetAllUsers(),
        settings_->GetFolderDetails().HasWriteAccess());
  }
  const bool vista_or_later = base::win::GetVersion() >= base::win::VISTA;

  if (host_->IsUninstallRun()) {
    if (vista_or_later) {
      SetShield(::GetDlgItem(main_dialog, IDC_UNINSTALL_BUTTON), shield);
      SetShield(::GetDlgItem(main_dialog, IDC_REINSTALL_BUTTON), shield);
    }
    host_->UpdatePageElements();
    ::CheckDlgButton(
        main_dialog, IDC_DELETE_USER_DATA,
        settings_->GetDeleteProfile() ? BST_CHECKED : BST_UNCHECKED);
    return;
  }

  HWND install_mode = ::GetDlgItem(dialog_, IDC_INSTALL_MODE_COMBO);
  ::EnableWindow(install_mode, settings_->GetOperation() == OPERATION_INSTALL);
  int mode = settings_->GetInstallMode();
  ::SendMessageW(install_mode, CB_SETCURSEL,
                 mode == INSTALL_MODE_ALL_USERS      ? 0
                 : mode == INSTALL_MODE_CURRENT_USER ? 1
                                                     : 2,
                 0);

  std::wstring accept_text =
      GetString(settings_->GetFolderDetails().HasExistingInstallation()
                    ? IDS_ACCEPT_AND_UPGRADE
                    : IDS_ACCEPT_AND_INSTALL);
  ::SetDlgItemTextW(main_dialog, IDC_ACCEPT_BUTTON, accept_text.c_str());
  if (HWND terms = ::GetDlgItem(main_dialog, IDC_TERMS_LINE)) {
    SetRichTextWithLinks(terms, GetString(IDS_TERMS_LINE, accept_text),
                         kTermsLineColor);
  }

  if (vista_or_later) {
    SetShield(::GetDlgItem(main_dialog, IDC_ACCEPT_BUTTON), shield);
    SetShield(::GetDlgItem(main_dialog, IDC_TRY_AGAIN_BUTTON), shield);
  }

  ::EnableWindow(::GetDlgItem(dialog_, IDC_DEFAULT_BROWSER_CHECK),
                 !settings_->GetCopyOnly());
  ::CheckDlgButton(
      dialog_, IDC_DEFAULT_BROWSER_CHECK,
      settings_->GetDefaultBrowser() ? BST_CHECKED : BST_UNCHECKED);
  ::CheckDlgButton(
      dialog_, IDC_IMPORT_DATA_CHECK,
      settings_->GetImportBrowserData() ? BST_CHECKED : BST_UNCHECKED);
  ::CheckDlgButton(
      dialog_, IDC_SHARE_USAGE_CHECK,
      settings_->GetEnableKavorStats() || settings_->GetEnableInstallerStats()
          ? BST_CHECKED
          : BST_UNCHECKED);

  RefillFolderCombo();

  ::EnableWindow(::GetDlgItem(main_dialog, IDC_ACCEPT_BUTTON),
                 problem == FOLDER_PROBLEM_NONE);
  ::EnableWindow(::GetDlgItem(main_dialog, IDC_BACK_BUTTON),
                 problem == FOLDER_PROBLEM_NONE);

  host_->UpdatePageElements();
  ShowFolderWarning(problem);
}

void OptionsPage::RefillFolderCombo() {
  HWND combo = ::GetDlgItem(dialog_, IDC_FOLDER_COMBO);
  if (!combo)
    return;
  // Refreshes come while the user types; what was typed and where the
  // caret stood survive when the folder is the text already shown.
  const std::wstring shown = GetControlText(combo);
  const LRESULT edit_selection = ::SendMessageW(combo, CB_GETEDITSEL, 0, 0);

  const base::FilePath folder = settings_->GetInstallFolder();
  ::SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  int selected = -1;
  for (const base::FilePath& suggested :
       settings_->GetDefaultInstallFolders()) {
    LRESULT item =
        ::SendMessageW(combo, CB_ADDSTRING, 0,
                       reinterpret_cast<LPARAM>(suggested.value().c_str()));
    if (selected < 0 && item >= 0 && suggested == folder)
      selected = static_cast<int>(item);
  }
  if (selected < 0)
    selected = FindExactComboItem(combo, folder.value());
  if (selected >= 0) {
    ::SendMessageW(combo, CB_SETCURSEL, selected, 0);
  } else {
    ::SetWindowTextW(combo, folder.value().c_str());
  }
  // Selecting an item writes the item's own spelling of the folder and
  // selects all of it; a folder typed in another case ("c:\...") is the
  // same folder and keeps the typing as it was.
  if (GetControlText(combo) != shown && !shown.empty() &&
      base::FilePath(shown) == folder) {
    ::SetWindowTextW(combo, shown.c_str());
  }
  if (GetControlText(combo) == shown && edit_selection != CB_ERR) {
    ::SendMessageW(combo, CB_SETEDITSEL, 0,
                   MAKELPARAM(LOWORD(edit_selection), HIWORD(edit_selection)));
  }
}

void OptionsPage::ShowFolderWarning(FolderProblem problem) {
  HWND warning = ::GetDlgItem(dialog_, IDC_FOLDER_WARNING);
  if (!warning)
    return;
  if (!ShowsFolderWarning(problem))
    return;
  const std::wstring text =
      problem == FOLDER_PROBLEM_INVALID_PATH
          ? GetString(IDS_INVALID_PATH)
          : GetString(IDS_NOT_ENOUGH_SPACE,
                      FormatDriveSpaceList(
                          settings_->GetFolderDetails().GetLowSpaceVolumes()));
  ::SetWindowTextW(warning, text.c_str());
  // The text is drawn transparently: the page under it is repainted too.
  RECT rect;
  if (::GetWindowRect(warning, &rect)) {
    ::MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&rect), 2);
    ::InvalidateRect(dialog_, &rect, TRUE);
  }
}

}  // namespace installer
