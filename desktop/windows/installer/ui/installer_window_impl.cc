#include "desktop/windows/installer/ui/installer_window_impl.h"

#include <commctrl.h>
#include <richedit.h>
#include <uxtheme.h>

#include <algorithm>
#include <utility>

#include "base/bind.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/win/resource_util.h"
#include "base/win/system_library.h"
#include "desktop/windows/installer/avro_stats/avro_events.h"
#include "desktop/windows/installer/avro_stats/avro_stats_sender.h"
#include "desktop/windows/installer/interprocess_state.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/ui/image_loader.h"
#include "desktop/windows/installer/ui/resource_ids.h"
#include "desktop/windows/installer/ui/rich_text_links.h"
#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"
#include "desktop/windows/l10n_handler/l10n_handler.h"

namespace installer {

namespace {

const COLORREF kHeadlineColor = RGB(255, 27, 44);
const COLORREF kWarningColor = RGB(255, 0, 0);
// Status updates closer together than this are merged into the latest.
constexpr base::TimeDelta kStatusUpdateInterval =
    base::TimeDelta::FromMilliseconds(100);
// The bar jumps when it is this far behind, and steps when it is closer.
const int kMaxProgressSteps = 10;
// Where the error badge sits beyond the logo's bottom-right corner.
const int kBadgeOffset = 10;

// The control that takes the focus when each page shows; 0 for none.
const int kFocusControls[] = {IDC_ACCEPT_BUTTON,
                              IDC_REINSTALL_BUTTON,
                              IDC_ACCEPT_BUTTON,
                              IDC_ACCEPT_BUTTON,
                              0,
                              IDC_TRY_AGAIN_BUTTON};

struct ControlText {
  int control;
  uint32_t string_id;
};

const ControlText kUninstallTexts[] = {
    {IDC_BACK_BUTTON, IDS_BACK},
    {IDC_INSTALL_ERROR_TITLE, IDS_UNINSTALL_FAILED_TITLE},
    {IDC_UNINSTALL_ERROR_TITLE, IDS_UNINSTALL_FAILED_TITLE},
    {IDC_TRY_AGAIN_BUTTON, IDS_TRY_AGAIN},
    {IDC_CANCEL_BUTTON, IDS_CANCEL},
    {IDC_REINSTALL_BUTTON, IDS_REINSTALL},
    {IDC_UNINSTALL_BUTTON, IDS_UNINSTALL},
    {IDC_MAINTENANCE_TEXT, IDS_MAINTENANCE_WELCOME},
    {IDC_DELETE_USER_DATA, IDS_DELETE_USER_DATA},
};

const ControlText kInstallTexts[] = {
    {IDC_OPTIONS_BUTTON, IDS_OPTIONS},
    {IDC_BACK_BUTTON, IDS_BACK},
    {IDC_PROGRESS_TITLE, IDS_THANK_YOU},
    {IDC_INSTALL_ERROR_TITLE, IDS_INSTALL_FAILED_TITLE},
    {IDC_TRY_AGAIN_BUTTON, IDS_TRY_AGAIN},
    {IDC_FULL_PACKAGE_BUTTON, IDS_GET_FULL_INSTALLER},
    {IDC_CANCEL_BUTTON, IDS_CANCEL},
};

// Renames the buttons of the window's message boxes into the wizard's
// language while one is shown on this thread.
thread_local HHOOK g_message_box_hook = nullptr;
thread_local HWND g_message_box_owner = nullptr;
thread_local HWND g_renamed_box = nullptr;

LRESULT CALLBACK MessageBoxHookProc(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_ACTIVATE) {
    HWND box = reinterpret_cast<HWND>(wparam);
    wchar_t class_name[16] = {};
    ::GetClassNameW(box, class_name, ARRAYSIZE(class_name));
    // Other dialogs activated while the box is up keep their texts, and the
    // box is renamed once.
    if (std::wstring(class_name) == L"#32770" && !g_renamed_box &&
        ::GetWindow(box, GW_OWNER) == g_message_box_owner) {
      g_renamed_box = box;
      const struct {
        int button;
        uint32_t string_id;
      } kButtons[] = {{IDYES, IDS_YES}, {IDNO, IDS_NO}, {IDOK, IDS_OK}};
      for (const auto& button : kButtons) {
        if (HWND control = ::GetDlgItem(box, button.button))
          ::SetWindowTextW(control, GetString(button.string_id).c_str());
      }
    }
  }
  return ::CallNextHookEx(g_message_box_hook, code, wparam, lparam);
}

class ScopedMessageBoxHook {
 public:
  explicit ScopedMessageBoxHook(HWND owner) {
    if (!g_message_box_hook) {
      g_message_box_hook = ::SetWindowsHookExW(WH_CBT, &MessageBoxHookProc,
                                               nullptr, ::GetCurrentThreadId());
      owner_ = g_message_box_hook != nullptr;
      g_message_box_owner = owner;
      g_renamed_box = nullptr;
    }
  }
  ~ScopedMessageBoxHook() {
    if (owner_) {
      ::UnhookWindowsHookEx(g_message_box_hook);
      g_message_box_hook = nullptr;
      g_message_box_owner = nullptr;
      g_renamed_box = nullptr;
    }
  }

 private:
  bool owner_ = false;
  DISALLOW_COPY_AND_ASSIGN(ScopedMessageBoxHook);
};

HFONT MakeFont(HDC dc,
               const wchar_t* face,
               int points,
               int weight,
               DWORD quality,
               DWORD pitch) {
  const int height = -::MulDiv(points, ::GetDeviceCaps(dc, LOGPIXELSY), 72);
  return ::CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_OUTLINE_PRECIS, CLIP_DEFAULT_PRECIS,
                       quality, pitch, face);
}

SIZE GetBitmapSize(HBITMAP bitmap) {
  BITMAP info = {};
  if (!bitmap || !::GetObjectW(bitmap, sizeof(info), &info))
    return SIZE{0, 0};
  return SIZE{info.bmWidth, info.bmHeight};
}

bool AreThemesActive() {
  static HMODULE uxtheme = base::win::LoadSystemLibrary(L"uxtheme.dll");
  if (!uxtheme)
    return false;
  using IsThemeActiveFunction = BOOL(WINAPI*)();
  auto is_theme_active = reinterpret_cast<IsThemeActiveFunction>(
      ::GetProcAddress(uxtheme, "IsThemeActive"));
  return is_theme_active && is_theme_active();
}

// The control's rectangle in its parent's client coordinates.
RECT GetRectInParent(HWND control) {
  RECT rect = {};
  ::GetWindowRect(control, &rect);
  ::MapWindowPoints(nullptr, ::GetParent(control),
                    reinterpret_cast<POINT*>(&rect), 2);
  // A mirrored parent maps the corners swapped.
  if (rect.left > rect.right)
    std::swap(rect.left, rect.right);
  return rect;
}

// Keeps an erase of |dialog|'s background off its visible push buttons and
// progress bar: they paint the whole of their area themselves, and one that
// painted before the erase would be wiped with nothing to paint it again.
// The texts and check boxes draw over the background and need it under them.
void ExcludeOpaqueControls(HWND dialog, HDC dc) {
  for (HWND child = ::GetWindow(dialog, GW_CHILD); child;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (!::IsWindowVisible(child))
      continue;
    wchar_t class_name[32] = {};
    ::GetClassNameW(child, class_name, ARRAYSIZE(class_name));
    const LONG type = ::GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK;
    const bool push_button =
        _wcsicmp(class_name, WC_BUTTONW) == 0 &&
        (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON);
    if (!push_button && _wcsicmp(class_name, PROGRESS_CLASSW) != 0)
      continue;
    const RECT rect = GetRectInParent(child);
    ::ExcludeClipRect(dc, rect.left, rect.top, rect.right, rect.bottom);
  }
}

// Where a subclassed rich-text control keeps its own procedure.
const wchar_t kRichTextProcProperty[] = L"KavorRichTextProc";

void SetLayoutStyle(HWND window, bool right_to_left) {
  const LONG style = ::GetWindowLongW(window, GWL_EXSTYLE);
  const LONG wanted =
      right_to_left ? style | WS_EX_LAYOUTRTL : style & ~WS_EX_LAYOUTRTL;
  if (wanted != style)
    ::SetWindowLongW(window, GWL_EXSTYLE, wanted);
}

// Mirrors |parent| and everything inside it, or takes the mirroring away.
// Children keep their place on the screen when the parent's layout flips,
// so each is put back at its place counted from the parent's new leading
// edge, as if the window had been made in that direction. Children that do
// not inherit the layout keep theirs.
void SetTreeLayout(HWND parent, bool right_to_left) {
  struct Placed {
    HWND child;
    RECT rect;
  };
  std::vector<Placed> children;
  for (HWND child = ::GetWindow(parent, GW_CHILD); child;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    children.push_back({child, GetRectInParent(child)});
  }
  SetLayoutStyle(parent, right_to_left);
  const bool inherit =
      !(::GetWindowLongW(parent, GWL_EXSTYLE) & WS_EX_NOINHERITLAYOUT);
  for (const Placed& placed : children) {
    ::SetWindowPos(placed.child, nullptr, placed.rect.left, placed.rect.top, 0,
                   0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (inherit)
      SetTreeLayout(placed.child, right_to_left);
  }
}

// A 32-bit top-down picture of |width| x |height| to draw on, with the
// given layout.
class Canvas {
 public:
  Canvas(HDC reference, int width, int height, DWORD layout) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bitmap_ =
        ::CreateDIBSection(reference, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    dc_ = ::CreateCompatibleDC(reference);
    if (!bitmap_ || !dc_ || !bits)
      return;
    old_ = ::SelectObject(dc_, bitmap_);
    ::SetLayout(dc_, layout);
    pixels_ = static_cast<uint32_t*>(bits);
  }
  ~Canvas() {
    if (old_)
      ::SelectObject(dc_, old_);
    if (dc_)
      ::DeleteDC(dc_);
    if (bitmap_)
      ::DeleteObject(bitmap_);
  }
  HDC dc() const { return dc_; }
  uint32_t* pixels() const { return pixels_; }

 private:
  HBITMAP bitmap_ = nullptr;
  HDC dc_ = nullptr;
  HGDIOBJ old_ = nullptr;
  uint32_t* pixels_ = nullptr;
  DISALLOW_COPY_AND_ASSIGN(Canvas);
};

}  // namespace

std::wstring GetStageStatusText(int stage,
                                std::optional<int> remaining,
                                bool uninstall_run,
                                InstallMode mode,
                                const std::wstring& user_name) {
  const std::wstring count =
      remaining ? base::IntToString16(*remaining) : std::wstring();
  switch (stage) {
    case PROGRESS_STAGE_DOWNLOAD_ANNOUNCED:
      return GetString(IDS_DOWNLOADING);
    case PROGRESS_STAGE_DOWNLOADING:
      return remaining ? GetString(IDS_DOWNLOADING_REMAINING, count)
                       : GetString(IDS_DOWNLOADING);
    case PROGRESS_STAGE_UNPACKING:
      return remaining ? GetString(IDS_EXTRACTING_REMAINING, count)
                       : GetString(IDS_EXTRACTING);
    case PROGRESS_STAGE_WAITING_TO_RETRY:
      return remaining ? GetString(IDS_RETRYING_DOWNLOAD, count)
                       : std::wstring();
    default:
      if (uninstall_run)
        return GetString(IDS_UNINSTALLING);
      if (mode == INSTALL_MODE_CURRENT_USER)
        return GetString(IDS_INSTALLING_FOR_USER, user_name);
      return remaining ? GetString(IDS_INSTALLING_REMAINING, count)
                       : GetString(IDS_INSTALLING);
  }
}

bool IsRightToLeftLanguage(const std::wstring& language) {
  const std::wstring primary =
      base::ToLowerASCII(language.substr(0, language.find_first_of(L"-_")));
  return primary == L"ar" || primary == L"he" || primary == L"fa" ||
         primary == L"ur";
}

// A control shown on some pages only.
class InstallerWindowImpl::PageElement {
 public:
  PageElement(HWND control, std::vector<int> pages)
      : control_(control), pages_(std::move(pages)) {}
  virtual ~PageElement() = default;

  void UpdateVisibility(int page) {
    ::ShowWindow(control_, IsVisibleOnPage(page) ? SW_SHOWNA : SW_HIDE);
  }
  virtual bool IsVisibleOnPage(int page) const {
    return std::find(pages_.begin(), pages_.end(), page) != pages_.end();
  }
  HWND control() const { return control_; }

 private:
  HWND control_;
  std::vector<int> pages_;
  DISALLOW_COPY_AND_ASSIGN(PageElement);
};

class InstallerWindowImpl::BackButtonElement : public PageElement {
 public:
  BackButtonElement(HWND control, const InstallerWindowImpl* window)
      : PageElement(control, {PAGE_TERMS, PAGE_OPTIONS, PAGE_ERROR}),
        window_(window) {}
  bool IsVisibleOnPage(int page) const override {
    return !window_->uninstall_run_ && !window_->run_immediately_ &&
           PageElement::IsVisibleOnPage(page);
  }

 private:
  const InstallerWindowImpl* window_;
};

class InstallerWindowImpl::FullPackageElement : public PageElement {
 public:
  FullPackageElement(HWND control, const InstallerWindowImpl* window)
      : PageElement(control, {PAGE_ERROR}), window_(window) {}
  bool IsVisibleOnPage(int page) const override {
    return window_->full_package_offered_ && PageElement::IsVisibleOnPage(page);
  }

 private:
  const InstallerWindowImpl* window_;
};

class InstallerWindowImpl::FolderWarningElement : public PageElement {
 public:
  FolderWarningElement(HWND control, const Settings* settings)
      : PageElement(control, {PAGE_OPTIONS}), settings_(settings) {}
  bool IsVisibleOnPage(int page) const override {
    return !settings_->IsFetchingFolderDetails() &&
           ShowsFolderWarning(settings_->GetFolderProblem()) &&
           PageElement::IsVisibleOnPage(page);
  }

 private:
  const Settings* settings_;
};

class InstallerWindowImpl::DeleteUserDataElement : public PageElement {
 public:
  DeleteUserDataElement(HWND control, const Settings* settings)
      : PageElement(control, {PAGE_MAINTENANCE}), settings_(settings) {}
  bool IsVisibleOnPage(int page) const override {
    return settings_->OffersDeleteProfile() &&
           PageElement::IsVisibleOnPage(page);
  }

 private:
  const Settings* settings_;
};

InstallerWindowImpl::Environment::Environment() = default;

InstallerWindowImpl::InstallerWindowImpl(Settings* settings,
                                         InstallerProgressNotifier* notifier,
                                         ProgressCalculator* calculator,
                                         const Environment& environment)
    : settings_(settings),
      notifier_(notifier),
      calculator_(calculator),
      uninstall_run_(environment.uninstall_run),
      run_immediately_(settings->GetRunImmediately()),
      options_page_(
          std::make_unique<OptionsPage>(settings,
                                        this,
                                        environment.folder_browser,
                                        environment.association_operations,
                                        environment.security_utils)),
      languages_(GetL10nHandler()->LoadTextResource()),
      task_runner_(environment.task_runner
                       ? environment.task_runner
                       : base::ThreadTaskRunnerHandle::Get()),
      now_(environment.now ? environment.now
                           : base::BindRepeating(&base::TimeTicks::Now)),
      message_box_(environment.message_box),
      status_weak_factory_(this),
      weak_factory_(this) {
  if (!run_immediately_)
    settings_->AddObserver(this);
  calculator_->SetObserver(this);
  notifier_->AddObserver(this);
}

InstallerWindowImpl::~InstallerWindowImpl() {
  notifier_->RemoveObserver(this);
  calculator_->SetObserver(nullptr);
  if (main_dialog_) {
    record_.page_type = settings_->GetFlag14() ? PAGE_TYPE_CLOSED_FOR_REINSTALL
                                               : PAGE_TYPE_CLOSED;
    SendPageTransition(record_);
  }
  if (!run_immediately_)
    settings_->RemoveObserver(this);
  // The options page takes its tooltip with it.
  options_page_->Destroy();
  if (main_dialog_) {
    Win32DialogDispatcher::GetInstance()->ClearActiveDialog(main_dialog_);
    ::SetWindowLongPtrW(main_dialog_, GWLP_USERDATA, 0);
    ::DestroyWindow(main_dialog_);
    main_dialog_ = nullptr;
  }
  for (HFONT font : {default_font_, bold_font_, title_font_, headline_font_}) {
    if (font)
      ::DeleteObject(font);
  }
  for (HBITMAP bitmap : {logo_bitmap_, badge_bitmap_, background_image_}) {
    if (bitmap)
      ::DeleteObject(bitmap);
  }
  FreeBackground();
}

bool InstallerWindowImpl::Create() {
  right_to_left_ = IsRightToLeftLanguage(settings_->GetLanguage());
  // Top-level windows take their layout from the process default; the
  // children of a mirrored dialog inherit it.
  const bool set_layout =
      right_to_left_ && ::SetProcessDefaultLayout(LAYOUT_RTL);
  main_dialog_ = ::CreateDialogParamW(::GetModuleHandleW(nullptr),
                                      MAKEINTRESOURCEW(IDD_INSTALLER_WINDOW),
                                      nullptr, &InstallerWindowImpl::DialogProc,
                                      reinterpret_cast<LPARAM>(this));
  const DWORD create_error = ::GetLastError();
  if (set_layout)
    ::SetProcessDefaultLayout(0);
  if (!main_dialog_ || !options_page_->Create(main_dialog_)) {
    const DWORD error = main_dialog_ ? ::GetLastError() : create_error;
    LOG(ERROR) << "Window creation failed. "
               << base::logging::SystemErrorCodeToString(error);
    if (main_dialog_) {
      ::SetWindowLongPtrW(main_dialog_, GWLP_USERDATA, 0);
      ::DestroyWindow(main_dialog_);
      main_dialog_ = nullptr;
    }
    return false;
  }

  // The options page sits centred above the main dialog's buttons.
  RECT place = {0, 8, 0, 0};
  ::MapDialogRect(main_dialog_, &place);
  RECT client = {};
  ::GetClientRect(main_dialog_, &client);
  RECT page = {};
  ::GetWindowRect(options_page_->handle(), &page);
  place.left = std::max<LONG>(0, (client.right - (page.right - page.left)) / 2);
  ::SetWindowPos(options_page_->handle(), HWND_TOP, place.left, place.top, 0, 0,
                 SWP_NOSIZE | SWP_NOACTIVATE);

  BuildPageElements();
  InstallerPage first_page = uninstall_run_ ? PAGE_MAINTENANCE : PAGE_WELCOME;
  // A run that asks to start at once never shows the choices.
  if (run_immediately_)
    first_page = PAGE_PROGRESS;
  // Only a shown window's controls take the focus.
  ::ShowWindow(main_dialog_, SW_SHOW);
  ShowPage(first_page);
  // Naming the controls refreshes the options page once; the folder only
  // decides the page here.
  OnLanguageChanged();
  if (!settings_->IsFetchingFolderDetails())
    ShowOptionsOnFolderProblem();
  OnPhaseEntered(PROGRESS_STAGE_DOWNLOAD_ANNOUNCED);
  return true;
}

HWND InstallerWindowImpl::GetWindowHandle() {
  return main_dialog_;
}

void InstallerWindowImpl::ShowProgressPage() {
  // A retry starts the status line afresh.
  last_remaining_.reset();
  ShowPage(PAGE_PROGRESS);
  HWND bar = ::GetDlgItem(main_dialog_, IDC_PROGRESS_BAR);
  ::SendMessageW(bar, PBM_SETSTEP, 1, 0);
  ::SendMessageW(bar, PBM_SETPOS, 0, 0);
  ::SendMessageW(bar, PBM_SETRANGE32, 0, calculator_->GetMaximum());
}

void InstallerWindowImpl::DisplayError(
    const std::wstring& text,
    bool offer_full_package,
    const std::optional<std::string>& detail) {
  full_package_offered_ = offer_full_package;
  ShowPage(PAGE_ERROR);
  // The flag may change while the error page is already shown.
  UpdatePageElements();
  LOG(INFO) << "Displaying error: \"" << text << "\" and "
            << (offer_full_package ? "" : "don't ") << "offer full package";
  // A status update still on its way must not overwrite the error.
  status_weak_factory_.InvalidateWeakPtrs();
  ShowStatusText(text);
  error_text_ = text;
  error_detail_ = detail;
}

void InstallerWindowImpl::ShowErrorMessageBox(const std::wstring& text) {
  base::WeakPtr<InstallerWindowImpl> alive = weak_factory_.GetWeakPtr();
  ShowMessageBox(text, MB_OK | MB_ICONERROR);
  if (!alive)
    return;
  error_text_ = text;
  NotifyDelegates(&InstallerWindowDelegate::Cancel);
}

void InstallerWindowImpl::AddObserver(InstallerWindowDelegate* delegate) {
  delegates_.AddObserver(delegate);
}

void InstallerWindowImpl::RemoveObserver(InstallerWindowDelegate* delegate) {
  delegates_.RemoveObserver(delegate);
}

void InstallerWindowImpl::OnSettingsChanged() {
  if (main_dialog_)
    options_page_->Refresh();
}

void InstallerWindowImpl::OnLanguageChanged() {
  if (!main_dialog_)
    return;
  const bool right_to_left = IsRightToLeftLanguage(settings_->GetLanguage());
  if (right_to_left != right_to_left_)
    ApplyReadingDirection(right_to_left);
  if (uninstall_run_) {
    for (const ControlText& text : kUninstallTexts)
      SetControlText(text.control, text.string_id);
  } else {
    for (const ControlText& text : kInstallTexts)
      SetControlText(text.control, text.string_id);
  }
  HWND headline = ::GetDlgItem(main_dialog_, IDC_HEADLINE);
  ::SetWindowTextW(headline, GetString(IDS_WELCOME_HEADLINE,
                                       GetString(IDS_WELCOME_HEADLINE_NAME))
                                 .c_str());
  SetRichTextColor(headline, kHeadlineColor);
  ::SetWindowTextW(main_dialog_, GetString(IDS_INSTALLER_TITLE).c_str());
  options_page_->OnLanguageChanged();
  options_page_->Refresh();
}

void InstallerWindowImpl::ApplyReadingDirection(bool right_to_left) {
  LOG(INFO) << "The wizard now reads "
            << (right_to_left ? "right to left" : "left to right");
  right_to_left_ = right_to_left;
  SetTreeLayout(main_dialog_, right_to_left);
  // The window's frame and every control draw again in the new direction,
  // on a background made afresh.
  FreeBackground();
  ::SetWindowPos(main_dialog_, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE |
                     SWP_FRAMECHANGED);
  ::RedrawWindow(main_dialog_, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

void InstallerWindowImpl::OnPathChanged() {
  // Settings may report before the dialogs exist; creation catches up.
  if (!main_dialog_)
    return;
  ShowOptionsOnFolderProblem();
  options_page_->Refresh();
}

void InstallerWindowImpl::ShowOptionsOnFolderProblem() {
  // A run that starts at once has no choices to show.
  if (!run_immediately_ && ShowsFolderWarning(settings_->GetFolderProblem()))
    ShowPage(PAGE_OPTIONS);
}

void InstallerWindowImpl::OnProgressChanged(uint32_t progress,
                                            std::optional<int> remaining) {
  if (!main_dialog_)
    return;
  HWND bar = ::GetDlgItem(main_dialog_, IDC_PROGRESS_BAR);
  const int position = static_cast<int>(::SendMessageW(bar, PBM_GETPOS, 0, 0));
  const int target = static_cast<int>(progress);
  if (target > position + kMaxProgressSteps) {
    ::SendMessageW(bar, PBM_SETPOS, target, 0);
  } else {
    for (int step = position; step < target; ++step)
      ::SendMessageW(bar, PBM_STEPIT, 0, 0);
  }

  if (!remaining || remaining == last_remaining_ ||
      current_page_ != PAGE_PROGRESS) {
    return;
  }
  last_remaining_ = remaining;
  const std::wstring text = GetStageStatusText(
      notifier_->GetCurrentPhase(), remaining, uninstall_run_,
      settings_->GetInstallMode(), CurrentUserDisplayName());
  const base::TimeDelta since_last = now_.Run() - last_status_update_;
  // Only the latest of updates that come close together is shown.
  status_weak_factory_.InvalidateWeakPtrs();
  if (since_last >= kStatusUpdateInterval || since_last < base::TimeDelta()) {
    ShowStatusText(text);
    return;
  }
  task_runner_->PostDelayedTask(
      FROM_HERE,
      base::BindOnce(&InstallerWindowImpl::ShowStatusText,
                     status_weak_factory_.GetWeakPtr(), text),
      kStatusUpdateInterval - since_last);
}

void InstallerWindowImpl::OnPhaseEntered(int phase) {
  // What was said of the previous stage is stale now, and the same remaining
  // count means something new in this one.
  status_weak_factory_.InvalidateWeakPtrs();
  last_remaining_.reset();
  if (current_page_ != PAGE_PROGRESS)
    return;
  const std::wstring text =
      GetStageStatusText(phase, std::nullopt, uninstall_run_,
                         settings_->GetInstallMode(), CurrentUserDisplayName());
  if (text.empty())
    return;
  ShowStatusText(text);
}

void InstallerWindowImpl::OnTotalSteps(int total) {}

void InstallerWindowImpl::OnStepFinished(int finished_count) {}

HWND InstallerWindowImpl::GetMainDialog() {
  return main_dialog_;
}

const std::vector<std::wstring>& InstallerWindowImpl::GetAvailableLanguages() {
  return languages_;
}

PageTransitionData* InstallerWindowImpl::GetPageTransitionRecord() {
  return &record_;
}

void InstallerWindowImpl::UpdatePageElements() {
  for (const auto& element : elements_)
    element->UpdateVisibility(current_page_);
}

HFONT InstallerWindowImpl::GetBoldFont() {
  return bold_font_;
}

bool InstallerWindowImpl::IsUninstallRun() {
  return uninstall_run_;
}

void InstallerWindowImpl::OnLinkClicked(const std::wstring& target) {
  record_.navigation_action = "TOS";
  if (target == L"tos")
    ShowPage(PAGE_TERMS);
}

HWND InstallerWindowImpl::options_dialog() const {
  return options_page_->handle();
}

// static
INT_PTR CALLBACK InstallerWindowImpl::DialogProc(HWND dialog,
                                                 UINT message,
                                                 WPARAM wparam,
                                                 LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrW(dialog, GWLP_USERDATA, lparam);
    auto* window = reinterpret_cast<InstallerWindowImpl*>(lparam);
    window->main_dialog_ = dialog;
    window->InitDialog();
    return TRUE;
  }
  auto* window = reinterpret_cast<InstallerWindowImpl*>(
      ::GetWindowLongPtrW(dialog, GWLP_USERDATA));
  if (!window)
    return FALSE;
  return window->HandleMessage(message, wparam, lparam);
}

INT_PTR InstallerWindowImpl::HandleMessage(UINT message,
                                           WPARAM wparam,
                                           LPARAM lparam) {
  switch (message) {
    case WM_ACTIVATE:
      if (LOWORD(wparam) == WA_INACTIVE)
        Win32DialogDispatcher::GetInstance()->ClearActiveDialog(main_dialog_);
      else
        Win32DialogDispatcher::GetInstance()->SetActiveDialog(main_dialog_);
      return FALSE;
    case WM_CLOSE:
      CloseFlow("CANCEL");
      return TRUE;
    case WM_ERASEBKGND:
      if (!EraseBackground(reinterpret_cast<HDC>(wparam)))
        return FALSE;
      ::SetWindowLongPtrW(main_dialog_, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_WINDOWPOSCHANGED: {
      const auto* position = reinterpret_cast<const WINDOWPOS*>(lparam);
      if (!(position->flags & SWP_NOMOVE) || !(position->flags & SWP_NOSIZE))
        FreeBackground();
      return FALSE;
    }
    case WM_THEMECHANGED:
      FreeBackground();
      ::InvalidateRect(main_dialog_, nullptr, TRUE);
      return FALSE;
    case WM_NOTIFY:
      OnLinkNotification(reinterpret_cast<const NMHDR*>(lparam));
      return FALSE;
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam), reinterpret_cast<HWND>(lparam));
      return TRUE;
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
      return OnControlColor(message, reinterpret_cast<HDC>(wparam),
                            reinterpret_cast<HWND>(lparam));
  }
  return FALSE;
}

void InstallerWindowImpl::InitDialog() {
  logo_bitmap_ = LoadPngBitmap(IDR_LOGO_IMAGE);
  badge_bitmap_ = LoadPngBitmap(IDR_ERROR_BADGE_IMAGE);
  background_image_ = LoadPngBitmap(IDR_BACKGROUND_IMAGE);
  CreateFonts();

  SetInstallerIcons(main_dialog_);

  HWND picture = ::GetDlgItem(main_dialog_, IDC_PICTURE);
  ::SetWindowLongPtrW(picture, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  picture_proc_ = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
      picture, GWLP_WNDPROC,
      reinterpret_cast<LONG_PTR>(&InstallerWindowImpl::PictureProc)));

  const struct {
    int control;
    HFONT font;
  } kFonts[] = {{IDC_MAINTENANCE_TEXT, bold_font_},
                {IDC_PROGRESS_TITLE, title_font_},
                {IDC_INSTALL_ERROR_TITLE, title_font_},
                {IDC_UNINSTALL_ERROR_TITLE, title_font_},
                {IDC_HEADLINE, headline_font_}};
  for (const auto& entry : kFonts) {
    ::SendDlgItemMessageW(main_dialog_, entry.control, WM_SETFONT,
                          reinterpret_cast<WPARAM>(entry.font), FALSE);
  }

  for (int id : {IDC_TERMS_LINE, IDC_HEADLINE}) {
    HWND control = ::GetDlgItem(main_dialog_, id);
    ::SendMessageW(control, EM_SETEVENTMASK, 0, ENM_LINK);
    SuppressCaret(control);
    SubclassRichText(control);
  }

  if (!run_immediately_ && !uninstall_run_)
    LoadTermsText();
}

void InstallerWindowImpl::CreateFonts() {
  HDC dc = ::GetDC(main_dialog_);
  default_font_ =
      MakeFont(dc, L"MS Shell Dlg", 8, 378, DEFAULT_QUALITY, DEFAULT_PITCH);
  bold_font_ = MakeFont(dc, L"MS Shell Dlg", 8, FW_BOLD, ANTIALIASED_QUALITY,
                        VARIABLE_PITCH);
  title_font_ = MakeFont(dc, L"MS Shell Dlg 2", 14, FW_MEDIUM,
                         ANTIALIASED_QUALITY, VARIABLE_PITCH);
  headline_font_ = MakeFont(dc, L"Segoe UI", 22, FW_HEAVY, ANTIALIASED_QUALITY,
                            VARIABLE_PITCH);
  ::ReleaseDC(main_dialog_, dc);
}

void InstallerWindowImpl::LoadTermsText() {
  const base::StringPiece data =
      base::win::GetHostResource(IDR_TERMS_TEXT, L"TXT");
  if (data.empty()) {
    LOG(ERROR) << "The terms text is missing from the executable.";
    return;
  }
  std::string text = data.as_string();
  base::ReplaceSubstringsAfterOffset(&text, 0, "\r\n", "\n");
  ::SetDlgItemTextW(main_dialog_, IDC_TERMS_TEXT,
                    base::UTF8ToWide(text).c_str());
}

void InstallerWindowImpl::BuildPageElements() {
  auto plain = [this](int id, std::vector<int> pages) {
    AddElement(std::make_unique<PageElement>(::GetDlgItem(main_dialog_, id),
                                             std::move(pages)));
  };
  plain(IDC_PICTURE,
        {PAGE_WELCOME, PAGE_MAINTENANCE, PAGE_PROGRESS, PAGE_ERROR});
  plain(IDC_TERMS_TEXT, {PAGE_TERMS});
  plain(IDC_HEADLINE, {PAGE_WELCOME});
  plain(IDC_TERMS_LINE, {PAGE_WELCOME});
  plain(IDC_OPTIONS_BUTTON, {PAGE_WELCOME});
  plain(IDC_ACCEPT_BUTTON, {PAGE_WELCOME, PAGE_TERMS, PAGE_OPTIONS});
  plain(IDC_STATUS_TEXT, {PAGE_PROGRESS, PAGE_ERROR});
  plain(IDC_PROGRESS_BAR, {PAGE_PROGRESS});
  plain(IDC_TRY_AGAIN_BUTTON, {PAGE_ERROR});
  plain(IDC_CANCEL_BUTTON, {PAGE_MAINTENANCE});
  AddElement(std::make_unique<BackButtonElement>(
      ::GetDlgItem(main_dialog_, IDC_BACK_BUTTON), this));
  AddElement(std::make_unique<FullPackageElement>(
      ::GetDlgItem(main_dialog_, IDC_FULL_PACKAGE_BUTTON), this));
  if (uninstall_run_) {
    plain(IDC_UNINSTALL_ERROR_TITLE, {PAGE_ERROR});
    plain(IDC_REINSTALL_BUTTON, {PAGE_MAINTENANCE});
    plain(IDC_UNINSTALL_BUTTON, {PAGE_MAINTENANCE});
    plain(IDC_MAINTENANCE_TEXT, {PAGE_MAINTENANCE});
    AddElement(std::make_unique<DeleteUserDataElement>(
        ::GetDlgItem(main_dialog_, IDC_DELETE_USER_DATA), settings_));
  } else {
    plain(IDC_PROGRESS_TITLE, {PAGE_PROGRESS});
    plain(IDC_INSTALL_ERROR_TITLE, {PAGE_ERROR});
  }
  AddElement(std::make_unique<PageElement>(options_page_->handle(),
                                           std::vector<int>{PAGE_OPTIONS}));
  AddElement(std::make_unique<FolderWarningElement>(
      ::GetDlgItem(options_page_->handle(), IDC_FOLDER_WARNING), settings_));
}

void InstallerWindowImpl::AddElement(std::unique_ptr<PageElement> element) {
  if (!element->control())
    return;
  // The template marks several buttons as default; the page chooses one.
  if (::SendMessageW(element->control(), WM_GETDLGCODE, 0, 0) &
      DLGC_DEFPUSHBUTTON) {
    ::SendMessageW(element->control(), BM_SETSTYLE, BS_PUSHBUTTON, FALSE);
  }
  element->UpdateVisibility(current_page_);
  elements_.push_back(std::move(element));
}

void InstallerWindowImpl::ShowPage(InstallerPage page) {
  if (page == current_page_)
    return;
  record_.page_type = page;
  SendPageTransition(record_);
  // A fresh record for the page now shown.
  record_ = PageTransitionData();
  current_page_ = page;
  UpdatePageElements();
  // Enter presses the page's own button, or none.
  const int focus_id = page < PAGE_NONE ? kFocusControls[page] : 0;
  ::SendMessageW(main_dialog_, DM_SETDEFID, focus_id, 0);
  // The control must be visible to take the focus.
  if (focus_id) {
    HWND focus = ::GetDlgItem(main_dialog_, focus_id);
    if (focus && ::IsWindowVisible(focus))
      ::SendMessageW(main_dialog_, WM_NEXTDLGCTL,
                     reinterpret_cast<WPARAM>(focus), TRUE);
  }
  ::RedrawWindow(main_dialog_, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void InstallerWindowImpl::OnCommand(int id, int notification, HWND control) {
  switch (id) {
    case IDC_MAIN_FOLDER_COMBO:
    case IDC_MAIN_BROWSE_BUTTON:
    case IDC_DELETE_USER_DATA:
      options_page_->OnCommand(id, notification, control);
      return;
    case IDC_TERMS_TEXT:
      if (notification == EN_SETFOCUS)
        ::SendMessageW(control, EM_SETSEL, static_cast<WPARAM>(-1), 0);
      return;
  }
  if (notification != BN_CLICKED)
    return;
  // Enter and mnemonics reach hidden buttons too.
  if (id != IDCANCEL && !IsShownOnPage(id))
    return;
  switch (id) {
    case IDC_OPTIONS_BUTTON:
      record_.navigation_action = "OPTIONS";
      ShowPage(PAGE_OPTIONS);
      break;
    case IDCANCEL:
    case IDC_CANCEL_BUTTON:
      CloseFlow("CANCEL");
      break;
    case IDC_ACCEPT_BUTTON:
    case IDC_UNINSTALL_BUTTON:
      AcceptFlow();
      break;
    case IDC_FULL_PACKAGE_BUTTON:
      record_.navigation_action = "FULL_PACKAGE";
      NotifyDelegates(&InstallerWindowDelegate::ObtainFullPackage);
      break;
    case IDC_TRY_AGAIN_BUTTON:
      record_.navigation_action = "RETRY";
      NotifyDelegates(&InstallerWindowDelegate::Retry);
      break;
    case IDC_REINSTALL_BUTTON:
      settings_->SetFlag14(true);
      CloseFlow("REINSTALL");
      break;
    case IDC_BACK_BUTTON:
      record_.navigation_action = "BACK";
      ShowPage(PAGE_WELCOME);
      break;
  }
}

bool InstallerWindowImpl::IsShownOnPage(int id) const {
  HWND control = ::GetDlgItem(main_dialog_, id);
  for (const auto& element : elements_) {
    if (control && element->control() == control)
      return element->IsVisibleOnPage(current_page_);
  }
  return false;
}

void InstallerWindowImpl::OnLinkNotification(const NMHDR* header) {
  if (header->code != EN_LINK || header->idFrom != IDC_TERMS_LINE)
    return;
  const auto* link = reinterpret_cast<const ENLINK*>(header);
  if (link->msg != WM_LBUTTONUP)
    return;
  OnLinkClicked(GetLinkTarget(header->hwndFrom, link));
}

void InstallerWindowImpl::CloseFlow(const char* navigation_action) {
  // The window may be gone when the box returns.
  base::WeakPtr<InstallerWindowImpl> alive = weak_factory_.GetWeakPtr();
  if (!uninstall_run_) {
    const int answer =
        ShowMessageBox(GetString(IDS_CONFIRM_QUIT), MB_YESNO | MB_ICONQUESTION);
    if (!alive || answer != IDYES)
      return;
  }
  record_.navigation_action = navigation_action;
  NotifyDelegates(&InstallerWindowDelegate::Cancel);
}

void InstallerWindowImpl::AcceptFlow() {
  if (uninstall_run_) {
    const uint32_t warning = settings_->GetDeleteProfile()
                                 ? IDS_UNINSTALL_WARNING_DELETE_DATA
                                 : IDS_UNINSTALL_WARNING;
    base::WeakPtr<InstallerWindowImpl> alive = weak_factory_.GetWeakPtr();
    const bool confirmed =
        ShowMessageBox(GetString(warning),
                       MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
    if (!alive)
      return;
    PageTransitionData answer;
    answer.page_type = PAGE_TYPE_UNINSTALL_WARNING;
    answer.navigation_action = confirmed ? "WARNING YES" : "WARNING NO";
    SendPageTransition(answer);
    if (!confirmed) {
      CloseFlow("CANCEL");
      return;
    }
  }
  record_.navigation_action = uninstall_run_ ? "UNINSTALL" : "ACCEPT";
  NotifyDelegates(&InstallerWindowDelegate::Accept);
}

int InstallerWindowImpl::ShowMessageBox(const std::wstring& text, UINT type) {
  if (right_to_left_)
    type |= MB_RTLREADING | MB_RIGHT;
  ScopedMessageBoxHook hook(main_dialog_);
  const std::wstring title = GetString(IDS_INSTALLER_TITLE);
  if (message_box_)
    return message_box_.Run(main_dialog_, text, title, type);
  return ::MessageBoxW(main_dialog_, text.c_str(), title.c_str(), type);
}

void InstallerWindowImpl::SendPageTransition(PageTransitionData record) {
  // The error shown on the page being left describes that page.
  if (error_text_)
    record.error_displayed = base::WideToUTF8(*error_text_);
  if (error_detail_)
    record.failure_reason = *error_detail_;
  error_text_.reset();
  error_detail_.reset();
  GetAvroStatsSender()->Send(std::make_unique<PageTransitionEvent>(record));
}

template <typename Method>
void InstallerWindowImpl::NotifyDelegates(Method method) {
  // A delegate may destroy the window, and the list with it.
  std::vector<InstallerWindowDelegate*> delegates;
  for (InstallerWindowDelegate& delegate : delegates_)
    delegates.push_back(&delegate);
  base::WeakPtr<InstallerWindowImpl> alive = weak_factory_.GetWeakPtr();
  for (InstallerWindowDelegate* delegate : delegates) {
    if (!alive || !delegates_.HasObserver(delegate))
      return;
    (delegate->*method)();
  }
}

void InstallerWindowImpl::SetControlText(int id, uint32_t string_id) {
  if (HWND control = ::GetDlgItem(main_dialog_, id))
    ::SetWindowTextW(control, GetString(string_id).c_str());
}

const std::wstring& InstallerWindowImpl::CurrentUserDisplayName() {
  // The name does not change while the wizard runs; asking for it is slow.
  if (!user_display_name_) {
    base::string16 name;
    if (!GetUserDisplayName(&name) || name.empty()) {
      name.clear();
      GetCurrentUserName(&name);
    }
    user_display_name_ = std::move(name);
  }
  return *user_display_name_;
}

void InstallerWindowImpl::ShowStatusText(const std::wstring& text) {
  HWND status = ::GetDlgItem(main_dialog_, IDC_STATUS_TEXT);
  ::SetWindowTextW(status, text.c_str());
  last_status_update_ = now_.Run();
  // The line paints the whole of its place itself; erasing the dialog
  // under it would show it empty for a moment.
  ::RedrawWindow(status, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

void InstallerWindowImpl::RebuildBackground() {
  FreeBackground();
  RECT client = {};
  ::GetClientRect(main_dialog_, &client);
  if (client.right <= 0 || client.bottom <= 0)
    return;
  HDC window_dc = ::GetDC(main_dialog_);
  HDC dc = ::CreateCompatibleDC(window_dc);
  background_ =
      ::CreateCompatibleBitmap(window_dc, client.right, client.bottom);
  HGDIOBJ old = ::SelectObject(dc, background_);
  ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_BTNFACE));
  const SIZE image = GetBitmapSize(background_image_);
  if (image.cx > 0 && image.cy > 0) {
    const RECT source = {0, 0, image.cx, image.cy};
    AlphaBlendBitmap(dc, client, background_image_, source);
  }
  ::SelectObject(dc, old);
  ::DeleteDC(dc);
  ::ReleaseDC(main_dialog_, window_dc);
  background_brush_ = ::CreatePatternBrush(background_);
}

void InstallerWindowImpl::FreeBackground() {
  if (background_brush_)
    ::DeleteObject(background_brush_);
  if (background_)
    ::DeleteObject(background_);
  background_brush_ = nullptr;
  background_ = nullptr;
}

bool InstallerWindowImpl::EraseBackground(HDC dc) {
  if (current_page_ == PAGE_OPTIONS)
    return false;
  if (!background_)
    RebuildBackground();
  if (!background_)
    return false;
  RECT client = {};
  ::GetClientRect(main_dialog_, &client);
  const int saved = ::SaveDC(dc);
  ExcludeOpaqueControls(main_dialog_, dc);
  HDC memory = ::CreateCompatibleDC(dc);
  HGDIOBJ old = ::SelectObject(memory, background_);
  ::BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
  ::SelectObject(memory, old);
  ::DeleteDC(memory);
  // The status line and the error message sit on white; on the pages
  // without them the background shows whole.
  HWND status = ::GetDlgItem(main_dialog_, IDC_STATUS_TEXT);
  if (::IsWindowVisible(status)) {
    RECT rect = GetRectInParent(status);
    ::FillRect(dc, &rect, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  }
  ::RestoreDC(dc, saved);
  return true;
}

// static
LRESULT CALLBACK InstallerWindowImpl::PictureProc(HWND control,
                                                  UINT message,
                                                  WPARAM wparam,
                                                  LPARAM lparam) {
  auto* window = reinterpret_cast<InstallerWindowImpl*>(
      ::GetWindowLongPtrW(control, GWLP_USERDATA));
  if (!window)
    return ::DefWindowProcW(control, message, wparam, lparam);
  switch (message) {
    case WM_ERASEBKGND:
      return TRUE;
    case WM_PAINT:
      window->PaintPicture(control);
      return 0;
  }
  return ::CallWindowProcW(window->picture_proc_, control, message, wparam,
                           lparam);
}

void InstallerWindowImpl::SubclassRichText(HWND control) {
  if (!control || ::GetPropW(control, kRichTextProcProperty))
    return;
  const LONG_PTR old_proc = ::GetWindowLongPtrW(control, GWLP_WNDPROC);
  if (!old_proc)
    return;
  ::SetPropW(control, kRichTextProcProperty,
             reinterpret_cast<HANDLE>(old_proc));
  ::SetWindowLongPtrW(
      control, GWLP_WNDPROC,
      reinterpret_cast<LONG_PTR>(&InstallerWindowImpl::RichTextProc));
}

// static
LRESULT CALLBACK InstallerWindowImpl::RichTextProc(HWND control,
                                                   UINT message,
                                                   WPARAM wparam,
                                                   LPARAM lparam) {
  const WNDPROC old_proc =
      reinterpret_cast<WNDPROC>(::GetPropW(control, kRichTextProcProperty));
  if (!old_proc)
    return ::DefWindowProcW(control, message, wparam, lparam);
  // The dialog stops naming the window when the window goes.
  auto* window = reinterpret_cast<InstallerWindowImpl*>(
      ::GetWindowLongPtrW(::GetParent(control), GWLP_USERDATA));
  const bool terms_line = ::GetDlgCtrlID(control) == IDC_TERMS_LINE;
  const bool open_key = wparam == VK_RETURN || wparam == VK_SPACE;
  switch (message) {
    case WM_NCDESTROY:
      ::SetWindowLongPtrW(control, GWLP_WNDPROC,
                          reinterpret_cast<LONG_PTR>(old_proc));
      ::RemovePropW(control, kRichTextProcProperty);
      break;
    case WM_ERASEBKGND:
      if (window)
        return TRUE;
      break;
    case WM_PAINT:
      if (window && window->PaintRichText(control, old_proc))
        return 0;
      break;
    case WM_GETDLGCODE: {
      // Read-only texts keep none of the dialog's keys (the rich edit would
      // keep Tab), except that the terms line opens its link on Enter and
      // Space.
      const MSG* msg = reinterpret_cast<const MSG*>(lparam);
      if (terms_line && msg &&
          (msg->message == WM_KEYDOWN || msg->message == WM_CHAR) &&
          (msg->wParam == VK_RETURN || msg->wParam == VK_SPACE)) {
        return DLGC_WANTMESSAGE;
      }
      return 0;
    }
    case WM_KEYDOWN:
      if (window && terms_line && open_key) {
        window->OpenTermsLink();
        return 0;
      }
      break;
    case WM_CHAR:
      if (terms_line && open_key)
        return 0;
      break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      // The focus is shown around the text.
      ::InvalidateRect(control, nullptr, FALSE);
      break;
  }
  return ::CallWindowProcW(old_proc, control, message, wparam, lparam);
}

bool InstallerWindowImpl::PaintRichText(HWND control, WNDPROC control_proc) {
  RECT client = {};
  ::GetClientRect(control, &client);
  if (!background_)
    RebuildBackground();
  if (!background_ || client.right <= 0 || client.bottom <= 0)
    return false;
  PAINTSTRUCT paint = {};
  HDC dc = ::BeginPaint(control, &paint);
  DWORD layout = ::GetLayout(dc);
  if (layout == GDI_ERROR)
    layout = 0;
  const int width = client.right;
  const int height = client.bottom;
  // The rich edit paints a background of its own colour under its text.
  // Drawn once on black and once on white, each pixel tells in each colour
  // how much of what lies under the control shows through: the text is laid
  // over the page's background with its smoothed edges intact.
  Canvas on_black(dc, width, height, layout);
  Canvas on_white(dc, width, height, layout);
  Canvas page(dc, width, height, layout);
  const bool drawn = on_black.pixels() && on_white.pixels() && page.pixels();
  if (drawn) {
    for (const Canvas* canvas : {&on_black, &on_white}) {
      const COLORREF color =
          canvas == &on_black ? RGB(0, 0, 0) : RGB(255, 255, 255);
      HBRUSH brush = static_cast<HBRUSH>(
          ::GetStockObject(canvas == &on_black ? BLACK_BRUSH : WHITE_BRUSH));
      ::FillRect(canvas->dc(), &client, brush);
      ::CallWindowProcW(control_proc, control, EM_SETBKGNDCOLOR, 0, color);
      ::CallWindowProcW(control_proc, control, WM_PRINTCLIENT,
                        reinterpret_cast<WPARAM>(canvas->dc()), PRF_CLIENT);
    }
    const RECT place = GetRectInParent(control);
    HDC memory = ::CreateCompatibleDC(dc);
    HGDIOBJ old = ::SelectObject(memory, background_);
    ::BitBlt(page.dc(), 0, 0, width, height, memory, place.left, place.top,
             SRCCOPY);
    ::SelectObject(memory, old);
    ::DeleteDC(memory);
    ::GdiFlush();
    const size_t count = static_cast<size_t>(width) * height;
    for (size_t i = 0; i < count; ++i) {
      const uint32_t black = on_black.pixels()[i];
      const uint32_t white = on_white.pixels()[i];
      const uint32_t under = page.pixels()[i];
      uint32_t result = 0;
      for (int shift = 0; shift < 24; shift += 8) {
        const int text = (black >> shift) & 0xFF;
        const int through = std::max(0, int((white >> shift) & 0xFF) - text);
        const int value = text + ((under >> shift) & 0xFF) * through / 255;
        result |= static_cast<uint32_t>(std::min(value, 255)) << shift;
      }
      page.pixels()[i] = result;
    }
    // The pictures hold the pixels as they appear; copy them unmirrored.
    ::SetLayout(page.dc(), 0);
    ::SetLayout(dc, 0);
    ::BitBlt(dc, 0, 0, width, height, page.dc(), 0, 0, SRCCOPY);
    ::SetLayout(dc, layout);
    if (::GetFocus() == control) {
      RECT focus = client;
      ::InflateRect(&focus, -1, -1);
      ::DrawFocusRect(dc, &focus);
    }
  }
  if (!drawn) {
    LOG(ERROR) << "Drawing a text over the page's background failed.";
    ::CallWindowProcW(control_proc, control, WM_PRINTCLIENT,
                      reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  }
  ::EndPaint(control, &paint);
  // Changing the control's colour asked for another paint; this one is it.
  ::ValidateRect(control, nullptr);
  return true;
}

void InstallerWindowImpl::OpenTermsLink() {
  const std::wstring target =
      GetFirstLinkTarget(::GetDlgItem(main_dialog_, IDC_TERMS_LINE));
  if (target.empty()) {
    LOG(ERROR) << "The terms line shows no link to open.";
    return;
  }
  OnLinkClicked(target);
}

void InstallerWindowImpl::PaintPicture(HWND control) {
  PAINTSTRUCT paint = {};
  HDC dc = ::BeginPaint(control, &paint);
  RECT client = {};
  ::GetClientRect(control, &client);
  // The dialog's background shows around the logo.
  if (!background_)
    RebuildBackground();
  if (background_) {
    const RECT place = GetRectInParent(control);
    HDC memory = ::CreateCompatibleDC(dc);
    HGDIOBJ old = ::SelectObject(memory, background_);
    ::BitBlt(dc, 0, 0, client.right, client.bottom, memory, place.left,
             place.top, SRCCOPY);
    ::SelectObject(memory, old);
    ::DeleteDC(memory);
  }
  // The background follows the window's mirroring; the artwork must not.
  if (::GetLayout(dc) & LAYOUT_RTL)
    ::SetLayout(dc, LAYOUT_RTL | LAYOUT_BITMAPORIENTATIONPRESERVED);
  const SIZE logo = GetBitmapSize(logo_bitmap_);
  if (logo.cx > 0 && logo.cy > 0) {
    RECT target;
    target.left = (client.right - logo.cx) / 2;
    target.top = (client.bottom - logo.cy) / 2;
    target.right = target.left + logo.cx;
    target.bottom = target.top + logo.cy;
    AlphaBlendBitmap(dc, target, logo_bitmap_, RECT{0, 0, logo.cx, logo.cy});
    const SIZE badge = GetBitmapSize(badge_bitmap_);
    if (current_page_ == PAGE_ERROR && badge.cx > 0 && badge.cy > 0) {
      RECT corner;
      corner.right = target.right + kBadgeOffset;
      corner.bottom = target.bottom + kBadgeOffset;
      corner.left = corner.right - badge.cx;
      corner.top = corner.bottom - badge.cy;
      AlphaBlendBitmap(dc, corner, badge_bitmap_,
                       RECT{0, 0, badge.cx, badge.cy});
    }
  }
  ::EndPaint(control, &paint);
}

INT_PTR InstallerWindowImpl::OnControlColor(UINT message,
                                            HDC dc,
                                            HWND control) {
  if (message != WM_CTLCOLORSTATIC)
    return reinterpret_cast<INT_PTR>(::GetStockObject(WHITE_BRUSH));
  const int id = ::GetDlgCtrlID(control);
  if (id == IDC_TERMS_TEXT)
    return reinterpret_cast<INT_PTR>(::GetSysColorBrush(COLOR_WINDOW));
  if (id == IDC_STATUS_TEXT) {
    // The line sits on white and paints all of it, so that a new text
    // replaces the old one instead of being drawn over it.
    ::SetBkColor(dc, RGB(255, 255, 255));
    ::SetTextColor(dc, RGB(0, 0, 0));
    return reinterpret_cast<INT_PTR>(::GetStockObject(WHITE_BRUSH));
  }
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, id == IDC_RED_TEXT ? kWarningColor : RGB(0, 0, 0));
  // A mirrored window would have to mirror the brush too; there the check
  // box is simply drawn transparently.
  if (id == IDC_DELETE_USER_DATA && !right_to_left_ && AreThemesActive()) {
    // The check box draws over the background as if it were transparent.
    if (!background_)
      RebuildBackground();
    if (background_brush_) {
      const RECT place = GetRectInParent(control);
      ::SetBrushOrgEx(dc, -place.left, -place.top, nullptr);
      return reinterpret_cast<INT_PTR>(background_brush_);
    }
  }
  return reinterpret_cast<INT_PTR>(::GetStockObject(NULL_BRUSH));
}

std::unique_ptr<InstallerWindow> CreateInstallerWindow(
    Settings* settings,
    InstallerProgressNotifier* notifier,
    ProgressCalculator* calculator) {
  InitRichEdit();
  InstallerWindowImpl::Environment environment;
  environment.uninstall_run = IsUninstallRun();
  auto window = std::make_unique<InstallerWindowImpl>(settings, notifier,
                                                      calculator, environment);
  if (!window->Create())
    return nullptr;
  return window;
}

}  // namespace installer
