#include "desktop/windows/installer/ui/options_page.h"

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/strings/string_util.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/avro_stats/avro_detail_records.h"
#include "desktop/windows/installer/test/fake_association_operations.h"
#include "desktop/windows/installer/test/fake_security_utils.h"
#include "desktop/windows/installer/test/fake_ui_settings.h"
#include "desktop/windows/installer/test/window_test_util.h"
#include "desktop/windows/installer/installation_folder_details.h"
#include "desktop/windows/installer/ui/resource_ids.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

const wchar_t kMainClass[] = L"OptionsPageTestMain";
const wchar_t kButtonClass[] = L"OptionsPageTestButton";
const wchar_t kShieldProperty[] = L"OptionsPageTestShield";

// Shield states the test buttons remember.
enum Shield { kNeverSet = 0, kShieldOff = 1, kShieldOn = 2 };

// A button that remembers the last shield request (the system buttons
// cannot be asked for it).
LRESULT CALLBACK TestButtonProc(HWND window,
                                UINT message,
                                WPARAM wparam,
                                LPARAM lparam) {
  if (message == BCM_SETSHIELD) {
    ::SetPropW(window, kShieldProperty,
               reinterpret_cast<HANDLE>(lparam ? kShieldOn : kShieldOff));
    return 1;
  }
  if (message == WM_DESTROY)
    ::RemovePropW(window, kShieldProperty);
  return ::DefWindowProcW(window, message, wparam, lparam);
}

// The main dialog: hands its commands to the page as the window does.
LRESULT CALLBACK MainProc(HWND window,
                          UINT message,
                          WPARAM wparam,
                          LPARAM lparam) {
  if (message == WM_COMMAND) {
    auto* page = reinterpret_cast<OptionsPage*>(
        ::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (page) {
      page->OnCommand(LOWORD(wparam), HIWORD(wparam),
                      reinterpret_cast<HWND>(lparam));
    }
    return 0;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

void RegisterClasses() {
  static bool registered = false;
  if (registered)
    return;
  WNDCLASSW main_class = {};
  main_class.lpfnWndProc = MainProc;
  main_class.hInstance = ::GetModuleHandleW(nullptr);
  main_class.lpszClassName = kMainClass;
  main_class.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
  ::RegisterClassW(&main_class);
  WNDCLASSW button_class = {};
  button_class.lpfnWndProc = TestButtonProc;
  button_class.hInstance = ::GetModuleHandleW(nullptr);
  button_class.lpszClassName = kButtonClass;
  ::RegisterClassW(&button_class);
  registered = true;
}

Shield GetShield(HWND button) {
  return static_cast<Shield>(
      reinterpret_cast<INT_PTR>(::GetPropW(button, kShieldProperty)));
}

// What the folder details report of the settings' folder.
class TestFolderDetails : public test::FakeFolderDetails {
 public:
  using test::FakeFolderDetails::FakeFolderDetails;

  bool HasWriteAccess() const override { return write_access; }
  bool HasExistingInstallation() const override { return existing; }
  std::vector<LowSpaceVolume> GetLowSpaceVolumes() const override {
    return low_space;
  }

  bool write_access = true;
  bool existing = false;
  std::vector<LowSpaceVolume> low_space;
};

class TestSettings : public test::FakeUiSettings {
 public:
  const InstallationFolderDetails& GetFolderDetails() const override {
    return details;
  }

  TestFolderDetails details{&folder};
};

class FakeFolderBrowser : public FolderBrowser {
 public:
  std::optional<base::FilePath> Browse(HWND owner,
                                       const std::wstring& caption,
                                       const base::FilePath& initial) override {
    ++calls;
    this->owner = owner;
    this->caption = caption;
    this->initial = initial;
    return answer;
  }

  std::optional<base::FilePath> answer;
  int calls = 0;
  HWND owner = nullptr;
  std::wstring caption;
  base::FilePath initial;
};

// The window's side: a plain top-level window with the main dialog's
// controls the page touches, refreshing the page on every settings
// notification as the window does.
class FakeHost : public OptionsPageHost, public SettingsObserver {
 public:
  FakeHost() {
    RegisterClasses();
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    // Hidden: showing a top-level window costs seconds under Xvfb, and
    // only the screenshot needs it on screen.
    main_ = ::CreateWindowExW(0, kMainClass, L"Options test",
                              WS_POPUP | WS_CLIPCHILDREN, 0, 0, 640, 420,
                              nullptr, nullptr, instance, nullptr);
    int y = 300;
    for (int id :
         {IDC_ACCEPT_BUTTON, IDC_TRY_AGAIN_BUTTON, IDC_TERMS_LINE,
          IDC_BACK_BUTTON, IDC_UNINSTALL_BUTTON, IDC_REINSTALL_BUTTON}) {
      ::CreateWindowExW(0, kButtonClass, L"", WS_CHILD, 10, y, 80, 20, main_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                        instance, nullptr);
    }
    ::CreateWindowExW(
        0, L"Button", L"Browse", WS_CHILD | WS_VISIBLE, 450, 300, 80, 20, main_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_MAIN_BROWSE_BUTTON)),
        instance, nullptr);
    ::CreateWindowExW(
        0, L"Button", L"Delete", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, 100,
        300, 120, 20, main_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_DELETE_USER_DATA)),
        instance, nullptr);
    ::CreateWindowExW(
        0, L"ComboBox", L"",
        WS_CHILD | WS_VISIBLE | CBS_DROPDOWN | CBS_AUTOHSCROLL, 240, 300, 200,
        200, main_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_MAIN_FOLDER_COMBO)),
        instance, nullptr);
    LOGFONTW font = {};
    font.lfHeight = -11;
    font.lfWeight = FW_BOLD;
    wcscpy(font.lfFaceName, L"MS Shell Dlg");
    bold_font_ = ::CreateFontIndirectW(&font);
  }
  ~FakeHost() override {
    ::DestroyWindow(main_);
    ::DeleteObject(bold_font_);
  }

  void Attach(OptionsPage* page, Settings* settings) {
    page_ = page;
    settings_ = settings;
    ::SetWindowLongPtrW(main_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(page));
  }
  HWND Control(int id) { return ::GetDlgItem(main_, id); }

  // OptionsPageHost:
  HWND GetMainDialog() override { return main_; }
  const std::vector<std::wstring>& GetAvailableLanguages() override {
    return languages;
  }
  PageTransitionData* GetPageTransitionRecord() override { return &record; }
  // As the window's warning element: shown only for a known folder
  // problem.
  void UpdatePageElements() override {
    ++page_element_updates;
    if (page_ && settings_) {
      ::ShowWindow(::GetDlgItem(page_->handle(), IDC_FOLDER_WARNING),
                   !settings_->IsFetchingFolderDetails() &&
                           settings_->GetFolderProblem() != FOLDER_PROBLEM_NONE
                       ? SW_SHOWNA
                       : SW_HIDE);
    }
  }
  HFONT GetBoldFont() override { return bold_font_; }
  bool IsUninstallRun() override { return uninstall_run; }

  // SettingsObserver:
  void OnSettingsChanged() override { page_->Refresh(); }
  void OnLanguageChanged() override {
    page_->OnLanguageChanged();
    page_->Refresh();
  }
  void OnPathChanged() override { page_->Refresh(); }

  std::vector<std::wstring> languages = {L"en", L"de", L"fr"};
  PageTransitionData record;
  int page_element_updates = 0;
  bool uninstall_run = false;
  HFONT bold_font_ = nullptr;

 private:
  HWND main_ = nullptr;
  OptionsPage* page_ = nullptr;
  Settings* settings_ = nullptr;
};

base::win::OSInfo::Record VersionRecord(base::win::Version version) {
  base::win::OSInfo::Record record;
  record.version = version;
  return record;
}

class OptionsPageTest : public testing::Test {
 protected:
  void SetUp() override {
    settings_.folder = base::FilePath(L"C:\\Kavor");
    settings_.suggested_folders = {base::FilePath(L"C:\\Kavor"),
                                   base::FilePath(L"D:\\Apps\\Kavor")};
  }

  void TearDown() override {
    if (page_)
      settings_.RemoveObserver(&host_);
    page_.reset();
    os_.reset();
  }

  // Makes the page as the window does: create, texts, refresh.
  void CreatePage(base::win::Version version = base::win::WIN10) {
    os_ = std::make_unique<base::win::ScopedOSInfoOverride>(
        VersionRecord(version));
    page_ = std::make_unique<OptionsPage>(&settings_, &host_, &browser_,
                                          &associations_, &security_);
    host_.Attach(page_.get(), &settings_);
    ASSERT_TRUE(page_->Create(host_.GetMainDialog()));
    settings_.AddObserver(&host_);
    ::ShowWindow(page_->handle(), SW_SHOWNA);
    page_->OnLanguageChanged();
    page_->Refresh();
  }

  HWND Item(int id) { return ::GetDlgItem(page_->handle(), id); }
  bool IsChecked(HWND check_box) {
    return ::SendMessageW(check_box, BM_GETCHECK, 0, 0) == BST_CHECKED;
  }
  void Click(HWND button) { ::SendMessageW(button, BM_CLICK, 0, 0); }
  // Selects |index| as the user does: the list changes, then the parent
  // hears of it.
  void Select(HWND combo, int index) {
    ::SendMessageW(combo, CB_SETCURSEL, index, 0);
    ::SendMessageW(::GetParent(combo), WM_COMMAND,
                   MAKEWPARAM(::GetDlgCtrlID(combo), CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(combo));
  }
  // Types |text| at the end of the combo box's edit field.
  void Type(HWND combo, const std::wstring& text) {
    HWND edit = ::FindWindowExW(combo, nullptr, L"Edit", nullptr);
    ASSERT_TRUE(edit);
    for (wchar_t c : text) {
      ::SendMessageW(edit, EM_SETSEL, 0x7FFF, 0x7FFF);
      ::SendMessageW(edit, WM_CHAR, c, 1);
    }
  }
  int Selection(HWND combo) {
    return static_cast<int>(::SendMessageW(combo, CB_GETCURSEL, 0, 0));
  }
  bool IsShown(HWND control) {
    return (::GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0;
  }

  TestSettings settings_;
  FakeHost host_;
  FakeFolderBrowser browser_;
  test::FakeAssociationOperations associations_;
  test::FakeSecurityUtils security_{/*admin=*/true};
  std::unique_ptr<base::win::ScopedOSInfoOverride> os_;
  std::unique_ptr<OptionsPage> page_;
};

TEST_F(OptionsPageTest, CheckBoxesWriteTheirFlagsAndCountEachChange) {
  CreatePage();
  PageTransitionData& record = host_.record;

  Click(Item(IDC_DEFAULT_BROWSER_CHECK));
  EXPECT_TRUE(settings_.default_browser);
  Click(Item(IDC_DEFAULT_BROWSER_CHECK));
  EXPECT_FALSE(settings_.default_browser);
  EXPECT_EQ(2, record.changed_make_default_browser_counter);

  Click(Item(IDC_IMPORT_DATA_CHECK));
  EXPECT_TRUE(settings_.import_browser_data);
  EXPECT_EQ(1, record.changed_import_data_counter);

  Click(Item(IDC_SHARE_USAGE_CHECK));
  EXPECT_TRUE(settings_.enable_installer_stats);
  EXPECT_TRUE(settings_.enable_kavor_stats);
  EXPECT_TRUE(IsChecked(Item(IDC_SHARE_USAGE_CHECK)));
  EXPECT_EQ(1, record.changed_enable_stats_counter);

  // The main dialog's check box goes through the same handler.
  Click(host_.Control(IDC_DELETE_USER_DATA));
  EXPECT_TRUE(settings_.delete_profile);
  EXPECT_EQ(1, record.changed_delete_profile_counter);

  EXPECT_FALSE(record.changed_install_mode_counter);
  EXPECT_FALSE(record.changed_install_path_counter);
}

TEST_F(OptionsPageTest, RefreshShowsTheStoredChoices) {
  settings_.default_browser = true;
  settings_.enable_kavor_stats = true;
  settings_.mode = INSTALL_MODE_STANDALONE;
  CreatePage();
  EXPECT_TRUE(IsChecked(Item(IDC_DEFAULT_BROWSER_CHECK)));
  EXPECT_FALSE(IsChecked(Item(IDC_IMPORT_DATA_CHECK)));
  // Either statistics flag checks the one box.
  EXPECT_TRUE(IsChecked(Item(IDC_SHARE_USAGE_CHECK)));
  EXPECT_EQ(2, Selection(Item(IDC_INSTALL_MODE_COMBO)));
  EXPECT_TRUE(::IsWindowEnabled(Item(IDC_DEFAULT_BROWSER_CHECK)));
  EXPECT_GE(host_.page_element_updates, 1);

  settings_.copy_only = true;
  settings_.mode = INSTALL_MODE_CURRENT_USER;
  page_->Refresh();
  EXPECT_FALSE(::IsWindowEnabled(Item(IDC_DEFAULT_BROWSER_CHECK)));
  EXPECT_EQ(1, Selection(Item(IDC_INSTALL_MODE_COMBO)));
}

TEST_F(OptionsPageTest, InstallModeAndAcceptTextFollowTheOperation) {
  CreatePage();
  EXPECT_TRUE(::IsWindowEnabled(Item(IDC_INSTALL_MODE_COMBO)));
  EXPECT_EQ(L"Accept and Install",
            test::WindowText(host_.Control(IDC_ACCEPT_BUTTON)));
  for (InstallerOperation operation :
       {OPERATION_NONE, OPERATION_UPGRADE, OPERATION_UNINSTALL}) {
    settings_.operation = operation;
    page_->Refresh();
    EXPECT_FALSE(::IsWindowEnabled(Item(IDC_INSTALL_MODE_COMBO)));
  }
  settings_.details.existing = true;
  page_->Refresh();
  EXPECT_EQ(L"Accept and Upgrade",
            test::WindowText(host_.Control(IDC_ACCEPT_BUTTON)));
}

TEST_F(OptionsPageTest, RefusedChangesAreUndoneOnScreen) {
  CreatePage();
  settings_.editable = false;

  Click(Item(IDC_DEFAULT_BROWSER_CHECK));
  EXPECT_FALSE(IsChecked(Item(IDC_DEFAULT_BROWSER_CHECK)));
  EXPECT_FALSE(settings_.default_browser);

  Select(Item(IDC_INSTALL_MODE_COMBO), 2);
  EXPECT_EQ(0, Selection(Item(IDC_INSTALL_MODE_COMBO)));
  EXPECT_EQ(INSTALL_MODE_ALL_USERS, settings_.mode);

  Type(Item(IDC_FOLDER_COMBO), L"X");
  EXPECT_EQ(L"C:\\Kavor", test::WindowText(Item(IDC_FOLDER_COMBO)));
  EXPECT_EQ(L"C:\\Kavor", settings_.folder.value());

  Select(Item(IDC_LANGUAGE_COMBO), 2);
  EXPECT_EQ(0, Selection(Item(IDC_LANGUAGE_COMBO)));
  EXPECT_EQ(L"en", settings_.language);

  browser_.answer = base::FilePath(L"E:\\Other");
  Click(Item(IDC_BROWSE_BUTTON));
  EXPECT_EQ(0, browser_.calls);

  // Nothing the settings refused is counted.
  const PageTransitionData& record = host_.record;
  EXPECT_FALSE(record.changed_make_default_browser_counter);
  EXPECT_FALSE(record.changed_install_mode_counter);
  EXPECT_FALSE(record.edited_install_path_counter);
  EXPECT_FALSE(record.changed_language_counter);
}

TEST_F(OptionsPageTest, TypingIsAnEditAndPickingIsAChange) {
  CreatePage();
  HWND combo = Item(IDC_FOLDER_COMBO);
  ASSERT_EQ(2, ::SendMessageW(combo, CB_GETCOUNT, 0, 0));
  EXPECT_EQ(0, Selection(combo));

  Select(combo, 1);
  EXPECT_EQ(L"D:\\Apps\\Kavor", settings_.folder.value());
  EXPECT_EQ(1, host_.record.changed_install_path_counter);
  EXPECT_FALSE(host_.record.edited_install_path_counter);

  // Each key sets the folder; the refresh after it keeps the text and the
  // caret, so the next key lands at the end.
  Type(combo, L"2");
  EXPECT_EQ(L"D:\\Apps\\Kavor2", settings_.folder.value());
  ::SendMessageW(::FindWindowExW(combo, nullptr, L"Edit", nullptr), WM_CHAR,
                 L'3', 1);
  EXPECT_EQ(L"D:\\Apps\\Kavor23", settings_.folder.value());
  EXPECT_EQ(L"D:\\Apps\\Kavor23", test::WindowText(combo));
  EXPECT_EQ(2, host_.record.edited_install_path_counter);
  EXPECT_EQ(1, host_.record.changed_install_path_counter);
}

TEST_F(OptionsPageTest, TypingAFolderInAnotherCaseKeepsTheTyping) {
  CreatePage();
  HWND combo = Item(IDC_FOLDER_COMBO);
  HWND edit = ::FindWindowExW(combo, nullptr, L"Edit", nullptr);
  ASSERT_TRUE(edit);
  ::SetWindowTextW(combo, L"");
  // The last key makes the text the second suggestion in other case.
  Type(combo, L"d:\\Apps\\Kavor");
  EXPECT_EQ(L"d:\\Apps\\Kavor", test::WindowText(combo));
  // The next key goes where the caret was, not over a selected item text.
  ::SendMessageW(edit, WM_CHAR, L'\\', 1);
  EXPECT_EQ(L"d:\\Apps\\Kavor\\", test::WindowText(combo));
  EXPECT_EQ(L"d:\\Apps\\Kavor\\", settings_.folder.value());
}

TEST_F(OptionsPageTest, RefillSelectsTheCurrentFolderOrWritesIt) {
  settings_.folder = base::FilePath(L"E:\\Elsewhere");
  CreatePage();
  HWND combo = Item(IDC_FOLDER_COMBO);
  EXPECT_EQ(CB_ERR, Selection(combo));
  EXPECT_EQ(L"E:\\Elsewhere", test::WindowText(combo));

  // A drive letter in another case is the same folder.
  settings_.folder = base::FilePath(L"d:\\Apps\\Kavor");
  page_->Refresh();
  EXPECT_EQ(1, Selection(combo));
  EXPECT_EQ(2, ::SendMessageW(combo, CB_GETCOUNT, 0, 0));
}

TEST_F(OptionsPageTest, BrowseSelectsAnEqualItemOrWritesTheFolder) {
  CreatePage();
  HWND combo = Item(IDC_FOLDER_COMBO);

  browser_.answer = base::FilePath(L"D:\\Apps\\Kavor");
  Click(Item(IDC_BROWSE_BUTTON));
  EXPECT_EQ(1, browser_.calls);
  EXPECT_EQ(host_.GetMainDialog(), browser_.owner);
  EXPECT_EQ(L"Browse for folder", browser_.caption);
  EXPECT_EQ(L"C:\\Kavor", browser_.initial.value());
  EXPECT_EQ(1, Selection(combo));
  EXPECT_EQ(L"D:\\Apps\\Kavor", settings_.folder.value());
  EXPECT_EQ(1, host_.record.changed_install_path_counter);

  // Only an exact match is selected: an item differing in case is not.
  browser_.answer = base::FilePath(L"D:\\apps\\kavor");
  Click(Item(IDC_BROWSE_BUTTON));
  EXPECT_EQ(L"D:\\Apps\\Kavor", browser_.initial.value());
  EXPECT_EQ(L"D:\\apps\\kavor", settings_.folder.value());
  EXPECT_EQ(L"D:\\apps\\kavor", test::WindowText(combo));
  EXPECT_EQ(CB_ERR, Selection(combo));

  // Cancelling changes nothing.
  browser_.answer.reset();
  Click(Item(IDC_BROWSE_BUTTON));
  EXPECT_EQ(L"D:\\apps\\kavor", settings_.folder.value());
  EXPECT_EQ(2, host_.record.changed_install_path_counter);

  // The main dialog's browse button fills the main dialog's combo.
  browser_.answer = base::FilePath(L"F:\\Main");
  Click(host_.Control(IDC_MAIN_BROWSE_BUTTON));
  EXPECT_EQ(L"F:\\Main",
            test::WindowText(host_.Control(IDC_MAIN_FOLDER_COMBO)));
  EXPECT_EQ(L"F:\\Main", settings_.folder.value());
}

TEST_F(OptionsPageTest, LanguageListAndSelection) {
  settings_.language = L"FR";
  CreatePage();
  HWND list = Item(IDC_LANGUAGE_COMBO);
  ASSERT_EQ(3, ::SendMessageW(list, CB_GETCOUNT, 0, 0));
  EXPECT_EQ(2, Selection(list));
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(i, ::SendMessageW(list, CB_GETITEMDATA, i, 0));
  wchar_t name[100] = {};
  ::SendMessageW(list, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(name));
  EXPECT_EQ(std::wstring(L"English (United States)"), name);

  Select(list, 1);
  EXPECT_EQ(L"de", settings_.language);
  EXPECT_EQ(1, host_.record.changed_language_counter);
  // The language change refilled the list around the new language.
  EXPECT_EQ(1, Selection(list));

  settings_.language = L"xx";
  page_->OnLanguageChanged();
  EXPECT_EQ(0, Selection(list));
}

TEST_F(OptionsPageTest, LanguageSelectionWithoutValidItemChangesNothing) {
  settings_.language = L"de";
  CreatePage();
  HWND list = Item(IDC_LANGUAGE_COMBO);

  Select(list, -1);
  EXPECT_EQ(L"de", settings_.language);

  // The window's list shrank after the page was filled.
  host_.languages = {L"en"};
  Select(list, 2);
  EXPECT_EQ(L"de", settings_.language);
  EXPECT_FALSE(host_.record.changed_language_counter);
}

TEST_F(OptionsPageTest, InstallModeListKeepsItsSelectionAcrossLanguages) {
  CreatePage();
  HWND list = Item(IDC_INSTALL_MODE_COMBO);
  Select(list, 1);
  EXPECT_EQ(INSTALL_MODE_CURRENT_USER, settings_.mode);
  EXPECT_EQ(1, host_.record.changed_install_mode_counter);

  page_->OnLanguageChanged();
  EXPECT_EQ(3, ::SendMessageW(list, CB_GETCOUNT, 0, 0));
  EXPECT_EQ(1, Selection(list));
}

TEST_F(OptionsPageTest, InstallModeTooltipExplainsEachMode) {
  CreatePage();
  HWND tooltip = page_->tooltip();
  ASSERT_TRUE(tooltip);
  EXPECT_EQ(1, ::SendMessageW(tooltip, TTM_GETTOOLCOUNT, 0, 0));
  EXPECT_EQ(300, ::SendMessageW(tooltip, TTM_GETMAXTIPWIDTH, 0, 0));

  wchar_t text[1024] = {};
  TOOLINFOW tool = {};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.hwnd = page_->handle();
  tool.uId = reinterpret_cast<UINT_PTR>(Item(IDC_INSTALL_MODE_COMBO));
  tool.lpszText = text;
  ::SendMessageW(tooltip, TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(&tool));
  std::wstring shown = text;
  EXPECT_EQ(0u, shown.find(L"All users\n\tKavor is installed for everyone"));
  EXPECT_NE(std::wstring::npos,
            shown.find(L"\n\nCurrent user\n\tKavor is installed only for you"));
  EXPECT_NE(std::wstring::npos,
            shown.find(L"\n\nStand-alone installation\n\tKavor keeps"));
}

TEST_F(OptionsPageTest, FolderWarnings) {
  CreatePage();
  HWND warning = Item(IDC_FOLDER_WARNING);
  EXPECT_TRUE(::IsWindowEnabled(host_.Control(IDC_ACCEPT_BUTTON)));
  EXPECT_TRUE(::IsWindowEnabled(host_.Control(IDC_BACK_BUTTON)));

  settings_.folder_problem = FOLDER_PROBLEM_INVALID_PATH;
  page_->Refresh();
  EXPECT_EQ(L"The install path is invalid", test::WindowText(warning));
  EXPECT_FALSE(::IsWindowEnabled(host_.Control(IDC_ACCEPT_BUTTON)));
  EXPECT_FALSE(::IsWindowEnabled(host_.Control(IDC_BACK_BUTTON)));

  settings_.folder_problem = FOLDER_PROBLEM_NOT_ENOUGH_SPACE;
  settings_.details.low_space = {{base::FilePath(L"C:"), 500},
                                 {base::FilePath(L"D:"), 20}};
  page_->Refresh();
  EXPECT_EQ(
      L"Insufficient space on drive C: (500 MB needed), drive D: (20 MB "
      L"needed)",
      test::WindowText(warning));

  settings_.folder_problem = FOLDER_PROBLEM_NONE;
  page_->Refresh();
  EXPECT_TRUE(::IsWindowEnabled(host_.Control(IDC_ACCEPT_BUTTON)));
}

TEST_F(OptionsPageTest, DefaultBrowserCheckBoxByWindowsVersion) {
  struct {
    base::win::Version version;
    bool can_set_directly;
    bool shown;
  } cases[] = {
      {base::win::WIN7, false, true},   {base::win::WIN8, true, false},
      {base::win::WIN8_1, true, false}, {base::win::WIN10, true, true},
      {base::win::WIN10, false, false}, {base::win::WIN10_RS2, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version);
    associations_.can_set_directly = c.can_set_directly;
    CreatePage(c.version);
    EXPECT_EQ(c.shown, IsShown(Item(IDC_DEFAULT_BROWSER_CHECK)));
    settings_.RemoveObserver(&host_);
    page_.reset();
    os_.reset();
  }
}

TEST_F(OptionsPageTest, SetUpGivesTheWarningFontAndTheButtonHeight) {
  CreatePage();
  EXPECT_EQ(host_.bold_font_, reinterpret_cast<HFONT>(::SendMessageW(
                                  Item(IDC_FOLDER_WARNING), WM_GETFONT, 0, 0)));
  RECT combo;
  RECT button;
  ::GetWindowRect(Item(IDC_FOLDER_COMBO), &combo);
  ::GetWindowRect(Item(IDC_BROWSE_BUTTON), &button);
  EXPECT_EQ(combo.bottom - combo.top, button.bottom - button.top);
}

TEST_F(OptionsPageTest, NothingIsSetUpWhenTheSettingsRunImmediately) {
  settings_.run_immediately = true;
  associations_.can_set_directly = false;
  CreatePage(base::win::WIN10);
  EXPECT_FALSE(page_->tooltip());
  EXPECT_TRUE(IsShown(Item(IDC_DEFAULT_BROWSER_CHECK)));
}

TEST_F(OptionsPageTest, ShieldFollowsTheNeedForElevation) {
  security_.admin = false;
  settings_.all_users = true;
  CreatePage(base::win::WIN7);
  EXPECT_EQ(kShieldOn, GetShield(host_.Control(IDC_ACCEPT_BUTTON)));
  EXPECT_EQ(kShieldOn, GetShield(host_.Control(IDC_TRY_AGAIN_BUTTON)));

  // A per-user install into a folder the user cannot write needs it too.
  settings_.all_users = false;
  settings_.details.write_access = false;
  page_->Refresh();
  EXPECT_EQ(kShieldOn, GetShield(host_.Control(IDC_ACCEPT_BUTTON)));
  settings_.details.write_access = true;
  page_->Refresh();
  EXPECT_EQ(kShieldOff, GetShield(host_.Control(IDC_ACCEPT_BUTTON)));

  // A folder with a problem cannot be installed into at all.
  settings_.all_users = true;
  settings_.folder_problem = FOLDER_PROBLEM_INVALID_PATH;
  page_->Refresh();
  EXPECT_EQ(kShieldOff, GetShield(host_.Control(IDC_ACCEPT_BUTTON)));

  settings_.folder_problem = FOLDER_PROBLEM_NONE;
  security_.admin = true;
  page_->Refresh();
  EXPECT_EQ(kShieldOff, GetShield(host_.Control(IDC_ACCEPT_BUTTON)));
  // Buttons of the uninstall run are not touched in an install run.
  EXPECT_EQ(kNeverSet, GetShield(host_.Control(IDC_UNINSTALL_BUTTON)));

  // Systems before Vista know no shield.
  security_.admin = false;
  settings_.RemoveObserver(&host_);
  page_.reset();
  os_.reset();
  ::RemovePropW(host_.Control(IDC_ACCEPT_BUTTON), kShieldProperty);
  CreatePage(base::win::XP);
  EXPECT_EQ(kNeverSet, GetShield(host_.Control(IDC_ACCEPT_BUTTON)));
}

TEST_F(OptionsPageTest, UninstallRunUpdatesOnlyItsOwnControls) {
  security_.admin = false;
  settings_.all_users = true;
  settings_.delete_profile = true;
  host_.uninstall_run = true;
  CreatePage();
  EXPECT_EQ(kShieldOn, GetShield(host_.Control(IDC_UNINSTALL_BUTTON)));
  EXPECT_EQ(kShieldOn, GetShield(host_.Control(IDC_REINSTALL_BUTTON)));
  EXPECT_EQ(kNeverSet, GetShield(host_.Control(IDC_ACCEPT_BUTTON)));
  EXPECT_TRUE(IsChecked(host_.Control(IDC_DELETE_USER_DATA)));
  EXPECT_EQ(L"", test::WindowText(host_.Control(IDC_ACCEPT_BUTTON)));
  EXPECT_GE(host_.page_element_updates, 1);
}

TEST_F(OptionsPageTest, Screenshot) {
  settings_.folder_problem = FOLDER_PROBLEM_INVALID_PATH;
  settings_.default_browser = true;
  associations_.can_set_directly = true;
  CreatePage();
  ::ShowWindow(host_.GetMainDialog(), SW_SHOW);
  auto red_pixels = [](const test::WindowCapture& capture) {
    return test::CountPixels(
        capture, test::WholeCapture(capture), [](uint32_t pixel) {
          return ((pixel >> 16) & 0xFF) > 200 && ((pixel >> 8) & 0xFF) < 80 &&
                 (pixel & 0xFF) < 80;
        });
  };
  const test::WindowCapture capture = test::CheckAndSaveCapture(
      page_->handle(), L"options_page", 3u,
      [&](const test::WindowCapture& shot) {
        return red_pixels(shot) > 10u &&
               test::CheckShownControls(page_->handle(), shot).empty();
      });
  // The warning is drawn in red, and every control shows its text whole.
  EXPECT_GT(red_pixels(capture), 10u);
  const std::vector<std::wstring> problems =
      test::CheckShownControls(page_->handle(), capture);
  EXPECT_TRUE(problems.empty()) << base::JoinString(problems, L"; ");
}

}  // namespace
}  // namespace installer
