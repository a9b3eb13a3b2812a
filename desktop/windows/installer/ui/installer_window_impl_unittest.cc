#include "desktop/windows/installer/ui/installer_window_impl.h"

#include <commctrl.h>

#include <algorithm>
#include <map>
#include <memory>
#include <sstream>
#include <utility>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/files/scoped_temp_dir.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/test_task_runner.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/time/time.h"
#include "desktop/windows/installer/avro_stats/avro_codec.h"
#include "desktop/windows/installer/avro_stats/avro_stats_sender.h"
#include "desktop/windows/installer/avro_stats/statistics_schema.h"
#include "desktop/windows/installer/test/fake_ui_settings.h"
#include "desktop/windows/installer/test/window_test_util.h"
#include "desktop/windows/installer/ui/resource_ids.h"
#include "desktop/windows/installer/ui/rich_text_links.h"
#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"
#include "desktop/windows/l10n_handler/l10n_handler.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// One "page_transition" event as sent, read back through the schema.
struct Transition {
  int page_type = -1000;
  std::string navigation_action;
  std::string language_counter;
  std::string error_displayed;
  std::string failure_reason;
};

std::string Member(AvroDatum* record, const std::string& name) {
  AvroDatum* value = record ? record->FieldByName(name) : nullptr;
  if (value && value->schema()->type() == AVRO_UNION)
    value = value->branch_index() == 1 ? value->GetBranch() : nullptr;
  if (!value)
    return "null";
  if (value->schema()->type() == AVRO_INT)
    return std::to_string(value->GetInt());
  return value->GetString();
}

class RecordingSender : public AvroStatsSender {
 public:
  explicit RecordingSender(std::vector<Transition>* transitions)
      : transitions_(transitions) {}
  void SetTrafficAllowed(bool allowed) override {}
  void Send(std::unique_ptr<AvroStatsMessage> message) override {
    if (message->GetName() != "page_transition")
      return;
    AvroDatum root(GetStatisticsSchema());
    message->FillDatum(&root);
    AvroDatum* page = root.FieldByPath("installer_event.page_transitions");
    Transition transition;
    const std::string type = Member(page, "page_type");
    if (type != "null")
      transition.page_type = std::stoi(type);
    transition.navigation_action = Member(page, "navigation_action");
    transition.language_counter = Member(page, "changed_language_counter");
    transition.error_displayed = Member(page, "error_displayed");
    transition.failure_reason = Member(page, "failure_reason");
    transitions_->push_back(transition);
  }
  void SendPendingAndShutdown(base::OnceClosure reply) override {}

 private:
  std::vector<Transition>* transitions_;
};

class FakeCalculator : public ProgressCalculator {
 public:
  void SetObserver(ProgressObserver* value) override { observer = value; }
  uint32_t GetMaximum() const override { return 1000; }
  uint32_t GetProgress() const override { return 0; }
  ProgressObserver* observer = nullptr;
};

class RecordingDelegate : public InstallerWindowDelegate {
 public:
  void Accept() override {
    ++accepts;
    if (on_call)
      on_call.Run();
  }
  void Cancel() override {
    ++cancels;
    if (on_call)
      on_call.Run();
  }
  base::RepeatingClosure on_call;
  void Retry() override { ++retries; }
  void ObtainFullPackage() override { ++full_packages; }
  int accepts = 0;
  int cancels = 0;
  int retries = 0;
  int full_packages = 0;
};

// Answers the system message boxes of this thread as a user would, and
// notes what they said.
struct BoxAnswers {
  int answer = IDNO;
  int shown = 0;
  std::wstring text;
  std::wstring yes_button;
  // When set, the first box is left open and this runs as a task inside its
  // loop; |box| is the box.
  base::OnceClosure hold;
  HWND box = nullptr;
};
thread_local BoxAnswers* g_answers = nullptr;
thread_local HHOOK g_test_hook = nullptr;

BOOL CALLBACK CollectText(HWND child, LPARAM text) {
  wchar_t class_name[32] = {};
  ::GetClassNameW(child, class_name, ARRAYSIZE(class_name));
  if (base::ToLowerASCII(std::wstring(class_name)) == L"static") {
    *reinterpret_cast<std::wstring*>(text) += test::WindowText(child);
  }
  return TRUE;
}

LRESULT CALLBACK AnsweringHook(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_ACTIVATE && g_answers && g_answers->box)
    return ::CallNextHookEx(g_test_hook, code, wparam, lparam);
  if (code == HCBT_ACTIVATE && g_answers && g_answers->hold) {
    g_answers->box = reinterpret_cast<HWND>(wparam);
    ++g_answers->shown;
    base::ThreadTaskRunnerHandle::Get()->PostTask(FROM_HERE,
                                                  std::move(g_answers->hold));
  } else if (code == HCBT_ACTIVATE && g_answers) {
    HWND box = reinterpret_cast<HWND>(wparam);
    HWND button = ::GetDlgItem(box, g_answers->answer);
    if (button && (::GetDlgItem(box, IDYES) || ::GetDlgItem(box, IDOK))) {
      ++g_answers->shown;
      g_answers->text.clear();
      ::EnumChildWindows(box, &CollectText,
                         reinterpret_cast<LPARAM>(&g_answers->text));
      wchar_t yes[64] = {};
      ::GetDlgItemTextW(box, IDYES, yes, ARRAYSIZE(yes));
      g_answers->yes_button = yes;
      ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(g_answers->answer, BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
    }
  }
  return ::CallNextHookEx(g_test_hook, code, wparam, lparam);
}

class ScopedBoxAnswers {
 public:
  explicit ScopedBoxAnswers(int answer) {
    answers_.answer = answer;
    g_answers = &answers_;
    g_test_hook = ::SetWindowsHookExW(WH_CBT, &AnsweringHook, nullptr,
                                      ::GetCurrentThreadId());
  }
  ~ScopedBoxAnswers() {
    ::UnhookWindowsHookEx(g_test_hook);
    g_test_hook = nullptr;
    g_answers = nullptr;
  }
  const BoxAnswers& answers() const { return answers_; }
  BoxAnswers* mutable_answers() { return &answers_; }

 private:
  BoxAnswers answers_;
};

// Visible controls that show a text but show none, or have no room.
struct EmptyTextCheck {
  std::vector<std::wstring> problems;
};

BOOL CALLBACK CheckChildText(HWND child, LPARAM param) {
  auto* check = reinterpret_cast<EmptyTextCheck*>(param);
  if (!::IsWindowVisible(child))
    return TRUE;
  wchar_t class_name[64] = {};
  ::GetClassNameW(child, class_name, ARRAYSIZE(class_name));
  wchar_t parent_class[64] = {};
  ::GetClassNameW(::GetParent(child), parent_class, ARRAYSIZE(parent_class));
  const std::wstring kind = base::ToLowerASCII(std::wstring(class_name));
  // Pictures, bars, lists and dialogs carry no text of their own.
  if (kind == L"combobox" || kind == L"msctls_progress32" ||
      kind == L"#32770" || kind == L"tooltips_class32" ||
      kind == L"comboboxex32" ||
      base::ToLowerASCII(std::wstring(parent_class)) == L"combobox" ||
      ::GetDlgCtrlID(child) == IDC_PICTURE) {
    return TRUE;
  }
  RECT client = {};
  ::GetClientRect(child, &client);
  const std::wstring name =
      std::to_wstring(::GetDlgCtrlID(child)) + L" (" + class_name + L")";
  if (client.right <= 0 || client.bottom <= 0)
    check->problems.push_back(name + L" has no room");
  if (::GetWindowTextLengthW(child) <= 0)
    check->problems.push_back(name + L" shows no text");
  return TRUE;
}

class InstallerWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    settings_.folder = temp_.GetPath().Append(L"Kavor");
    settings_.suggested_folders = {settings_.folder};
    SetAvroStatsSenderForTesting(
        std::make_unique<RecordingSender>(&transitions_));
    InitRichEdit();
    SetLanguage(L"en");
  }

  void TearDown() override {
    window_.reset();
    SetAvroStatsSenderForTesting(std::make_unique<NullAvroStatsSender>());
    SetLanguage(L"en");
  }

  void SetLanguage(const std::wstring& code) {
    std::wstring language = code;
    SetUiLanguage(&language);
    settings_.language = language;
  }

  void MakeWindow(bool uninstall_run = false) {
    InstallerWindowImpl::Environment environment;
    environment.uninstall_run = uninstall_run;
    environment.task_runner = runner_;
    environment.now =
        base::BindRepeating(&base::TestTaskRunner::NowTicks, runner_);
    environment.message_box = message_box_;
    window_ = std::make_unique<InstallerWindowImpl>(&settings_, &notifier_,
                                                    &calculator_, environment);
    ASSERT_TRUE(window_->Create());
    window_->AddObserver(&delegate_);
    ::SetForegroundWindow(window_->GetWindowHandle());
    test::PumpMessages();
  }

  HWND Item(int id) { return ::GetDlgItem(window_->GetWindowHandle(), id); }
  bool Visible(int id) { return ::IsWindowVisible(Item(id)) != FALSE; }
  void Click(int id) {
    ::SendMessageW(window_->GetWindowHandle(), WM_COMMAND,
                   MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(Item(id)));
  }

  // Saves the window as it is shown and checks that it shows something, that
  // each of |drawn_ids| shows (a button's dark text, the progress bar's fill
  // in the highlight colour) and that every visible control lies in the
  // window, clear of its neighbours, and draws the text it reads back.
  void Screenshot(const std::wstring& name,
                  const std::vector<int>& drawn_ids = {}) {
    HWND window = window_->GetWindowHandle();
    ::SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    auto dark_pixels = [](const test::WindowCapture& capture,
                          const RECT& rect) {
      return test::CountPixels(capture, rect, [](uint32_t pixel) {
        return (pixel & 0xFF) < 0x60 && ((pixel >> 8) & 0xFF) < 0x60 &&
               ((pixel >> 16) & 0xFF) < 0x60;
      });
    };
    const COLORREF highlight = ::GetSysColor(COLOR_HIGHLIGHT);
    const uint32_t fill = (GetRValue(highlight) << 16) |
                          (GetGValue(highlight) << 8) | GetBValue(highlight);
    auto control_drawn = [&](const test::WindowCapture& capture, int id) {
      const RECT rect = test::RectInCapture(window, Item(id));
      if (id == IDC_PROGRESS_BAR) {
        return test::CountPixels(capture, rect, [&](uint32_t pixel) {
                 return pixel == fill;
               }) > 20u;
      }
      return dark_pixels(capture, rect) > 20u;
    };
    // A window just shown may still be painting its first frame under Xvfb.
    const test::WindowCapture capture = test::CheckAndSaveCapture(
        window, name, 4u, [&](const test::WindowCapture& shot) {
          for (int id : drawn_ids) {
            if (!control_drawn(shot, id))
              return false;
          }
          return dark_pixels(shot, test::WholeCapture(shot)) > 20u &&
                 test::CheckShownControls(window, shot).empty();
        });
    EXPECT_GT(dark_pixels(capture, test::WholeCapture(capture)), 20u)
        << name << ": no text drawn";
    for (int id : drawn_ids) {
      EXPECT_TRUE(Visible(id)) << name << ": " << id;
      EXPECT_TRUE(control_drawn(capture, id))
          << name << ": control " << id << " is not drawn";
    }
    const std::vector<std::wstring> shown =
        test::CheckShownControls(window, capture);
    EXPECT_TRUE(shown.empty())
        << name << ": " << base::JoinString(shown, L"; ");
    // Letters the dialog's font lacks show as boxes, all alike. Rich-text
    // controls keep their fonts in their character formats instead.
    for (const test::ShownControl& control : test::ShownControls(window)) {
      HFONT font = reinterpret_cast<HFONT>(
          ::SendMessageW(control.window, WM_GETFONT, 0, 0));
      std::wstring same;
      EXPECT_TRUE(!font ||
                  test::DrawsDistinctLetters(font, control.text, &same))
          << name << ": " << control.id << " draws " << same << " alike";
    }
    EmptyTextCheck check;
    ::EnumChildWindows(window, &CheckChildText,
                       reinterpret_cast<LPARAM>(&check));
    EXPECT_TRUE(check.problems.empty())
        << name << ": " << base::JoinString(check.problems, L"; ");
  }

  base::MessageLoopForUI loop_;
  base::ScopedTempDir temp_;
  test::FakeUiSettings settings_;
  InstallerProgressNotifier notifier_;
  FakeCalculator calculator_;
  base::scoped_refptr<base::TestTaskRunner> runner_ =
      base::MakeRefCounted<base::TestTaskRunner>();
  RecordingDelegate delegate_;
  std::vector<Transition> transitions_;
  // The message boxes' seam for windows made from now on; null shows the
  // system's boxes.
  base::RepeatingCallback<int(
      HWND, const std::wstring&, const std::wstring&, UINT)>
      message_box_;
  std::unique_ptr<InstallerWindowImpl> window_;
};

// What erasing the dialog's background paints, on a client-sized canvas
// first filled with |marker|.
test::WindowCapture EraseOnCanvas(HWND dialog, uint32_t marker) {
  RECT client = {};
  ::GetClientRect(dialog, &client);
  return test::DrawOnCanvas(client.right, client.bottom, marker, [&](HDC dc) {
    ::SendMessageW(dialog, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  });
}

// The push buttons and the progress bar paint all of their place; a
// background erased after one of them painted must not wipe it (nothing
// would paint it again), while the texts that draw over the background get
// it under them.
TEST_F(InstallerWindowTest, BackgroundEraseSparesButtonsAndProgressBar) {
  MakeWindow();
  HWND dialog = window_->GetWindowHandle();
  const uint32_t kMarker = 0xFF00FF;
  auto marked_in = [&](const test::WindowCapture& canvas, int id) {
    const RECT rect = test::RectInCapture(dialog, Item(id), true);
    const size_t total =
        test::CountPixels(canvas, rect, [](uint32_t) { return true; });
    return total > 0 && test::CountPixels(canvas, rect, [&](uint32_t pixel) {
                          return pixel == kMarker;
                        }) == total;
  };
  auto erased_in = [&](const test::WindowCapture& canvas, int id) {
    const RECT rect = test::RectInCapture(dialog, Item(id), true);
    const RECT centre = {
        (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2,
        (rect.left + rect.right) / 2 + 1, (rect.top + rect.bottom) / 2 + 1};
    return test::CountPixels(canvas, centre, [&](uint32_t pixel) {
             return pixel != kMarker;
           }) == 1;
  };

  test::WindowCapture canvas = EraseOnCanvas(dialog, kMarker);
  ASSERT_FALSE(canvas.pixels.empty());
  EXPECT_TRUE(marked_in(canvas, IDC_ACCEPT_BUTTON));
  EXPECT_TRUE(marked_in(canvas, IDC_OPTIONS_BUTTON));
  EXPECT_TRUE(erased_in(canvas, IDC_HEADLINE));
  EXPECT_TRUE(erased_in(canvas, IDC_TERMS_LINE));
  // A hidden button's place is background.
  EXPECT_TRUE(erased_in(canvas, IDC_BACK_BUTTON));

  window_->ShowProgressPage();
  canvas = EraseOnCanvas(dialog, kMarker);
  EXPECT_TRUE(marked_in(canvas, IDC_PROGRESS_BAR));
  EXPECT_TRUE(erased_in(canvas, IDC_STATUS_TEXT));
  EXPECT_TRUE(erased_in(canvas, IDC_PROGRESS_TITLE));
  EXPECT_TRUE(erased_in(canvas, IDC_ACCEPT_BUTTON));
}

TEST_F(InstallerWindowTest, PagesShowTheirControls) {
  MakeWindow();
  EXPECT_EQ(PAGE_WELCOME, window_->current_page());
  EXPECT_TRUE(Visible(IDC_ACCEPT_BUTTON));
  EXPECT_TRUE(Visible(IDC_OPTIONS_BUTTON));
  EXPECT_TRUE(Visible(IDC_HEADLINE));
  EXPECT_FALSE(Visible(IDC_BACK_BUTTON));
  EXPECT_FALSE(Visible(IDC_REINSTALL_BUTTON));
  EXPECT_FALSE(::IsWindowVisible(window_->options_dialog()));
  EXPECT_EQ(L"Kavor Installer", test::WindowText(window_->GetWindowHandle()));
  // The tests run with version 6 of the common controls, as the host does:
  // only its buttons know their ideal size (and show the shield).
  SIZE ideal = {};
  EXPECT_TRUE(::SendMessageW(Item(IDC_ACCEPT_BUTTON), BCM_GETIDEALSIZE, 0,
                             reinterpret_cast<LPARAM>(&ideal)));
  EXPECT_EQ(L"Welcome to Kavor", test::WindowText(Item(IDC_HEADLINE)));
  EXPECT_GT(::GetWindowTextLengthW(Item(IDC_TERMS_TEXT)), 0);
  EXPECT_EQ(std::wstring::npos,
            test::WindowText(Item(IDC_TERMS_TEXT)).find(L'\r'));

  Click(IDC_OPTIONS_BUTTON);
  EXPECT_EQ(PAGE_OPTIONS, window_->current_page());
  EXPECT_TRUE(::IsWindowVisible(window_->options_dialog()));
  EXPECT_TRUE(Visible(IDC_BACK_BUTTON));
  EXPECT_TRUE(Visible(IDC_ACCEPT_BUTTON));
  EXPECT_FALSE(Visible(IDC_PICTURE));
  EXPECT_EQ(L"&Language", test::WindowText(::GetDlgItem(
                              window_->options_dialog(), IDC_LANGUAGE_LABEL)));

  Click(IDC_BACK_BUTTON);
  EXPECT_EQ(PAGE_WELCOME, window_->current_page());
  window_->OnLinkClicked(L"tos");
  EXPECT_EQ(PAGE_TERMS, window_->current_page());
  EXPECT_TRUE(Visible(IDC_TERMS_TEXT));
  EXPECT_FALSE(Visible(IDC_HEADLINE));

  window_->ShowProgressPage();
  EXPECT_TRUE(Visible(IDC_PROGRESS_BAR));
  EXPECT_TRUE(Visible(IDC_PROGRESS_TITLE));
  EXPECT_FALSE(Visible(IDC_ACCEPT_BUTTON));
  EXPECT_FALSE(Visible(IDC_BACK_BUTTON));
  int low = -1;
  int high = -1;
  PBRANGE range = {};
  ::SendMessageW(Item(IDC_PROGRESS_BAR), PBM_GETRANGE, FALSE,
                 reinterpret_cast<LPARAM>(&range));
  low = range.iLow;
  high = range.iHigh;
  EXPECT_EQ(0, low);
  EXPECT_EQ(1000, high);

  window_->DisplayError(L"The download failed.", false, std::string("net"));
  EXPECT_EQ(PAGE_ERROR, window_->current_page());
  EXPECT_TRUE(Visible(IDC_TRY_AGAIN_BUTTON));
  EXPECT_TRUE(Visible(IDC_INSTALL_ERROR_TITLE));
  EXPECT_FALSE(Visible(IDC_UNINSTALL_ERROR_TITLE));
  EXPECT_FALSE(Visible(IDC_FULL_PACKAGE_BUTTON));
  EXPECT_EQ(L"The download failed.", test::WindowText(Item(IDC_STATUS_TEXT)));
  Click(IDC_TRY_AGAIN_BUTTON);
  EXPECT_EQ(1, delegate_.retries);
}

// The full-package button shows on the error page only, and only while the
// error offers the package.
TEST_F(InstallerWindowTest, FullPackageButtonOnlyWhenOffered) {
  MakeWindow();
  window_->DisplayError(L"Broken.", true, std::nullopt);
  EXPECT_TRUE(Visible(IDC_FULL_PACKAGE_BUTTON));
  Click(IDC_FULL_PACKAGE_BUTTON);
  EXPECT_EQ(1, delegate_.full_packages);
  window_->ShowProgressPage();
  EXPECT_FALSE(Visible(IDC_FULL_PACKAGE_BUTTON));
  window_->DisplayError(L"Broken again.", false, std::nullopt);
  EXPECT_FALSE(Visible(IDC_FULL_PACKAGE_BUTTON));
  // A second error on the error page withdraws the offer at once.
  window_->DisplayError(L"Broken.", true, std::nullopt);
  window_->DisplayError(L"Broken.", false, std::nullopt);
  EXPECT_FALSE(Visible(IDC_FULL_PACKAGE_BUTTON));
}

// A click on the terms link of the welcome page opens the terms.
TEST_F(InstallerWindowTest, TermsLinkClickShowsTerms) {
  MakeWindow();
  HWND line = Item(IDC_TERMS_LINE);
  const std::wstring text = test::WindowText(line);
  const size_t link = text.find(L"Terms of Service");
  ASSERT_NE(std::wstring::npos, link) << text;
  POINTL point = {};
  ::SendMessageW(line, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&point),
                 static_cast<LPARAM>(link + 3));
  const LPARAM where = MAKELPARAM(point.x + 2, point.y + 4);
  ::SendMessageW(line, WM_LBUTTONDOWN, MK_LBUTTON, where);
  ::SendMessageW(line, WM_LBUTTONUP, 0, where);
  test::PumpMessages();
  EXPECT_EQ(PAGE_TERMS, window_->current_page());
  EXPECT_EQ("TOS", transitions_.back().navigation_action);
}

TEST_F(InstallerWindowTest, RunImmediatelyOpensOnProgressWithoutBack) {
  settings_.run_immediately = true;
  // Even a folder problem shows no options in a run that starts at once.
  settings_.folder_problem = FOLDER_PROBLEM_INVALID_PATH;
  MakeWindow();
  EXPECT_EQ(PAGE_PROGRESS, window_->current_page());
  EXPECT_FALSE(::IsWindowVisible(window_->options_dialog()));
  EXPECT_FALSE(settings_.HasObserver(window_.get()));
  window_->DisplayError(L"Failed.", false, std::nullopt);
  EXPECT_FALSE(Visible(IDC_BACK_BUTTON));
}

TEST_F(InstallerWindowTest, FolderProblemShowsOptionsWithWarning) {
  MakeWindow();
  EXPECT_FALSE(::IsWindowVisible(
      ::GetDlgItem(window_->options_dialog(), IDC_FOLDER_WARNING)));
  settings_.folder_problem = FOLDER_PROBLEM_INVALID_PATH;
  settings_.NotifyPathChanged();
  EXPECT_EQ(PAGE_OPTIONS, window_->current_page());
  EXPECT_TRUE(::IsWindowVisible(
      ::GetDlgItem(window_->options_dialog(), IDC_FOLDER_WARNING)));
}

TEST_F(InstallerWindowTest, LanguageChangeReloadsTexts) {
  MakeWindow();
  ::SetWindowTextW(Item(IDC_OPTIONS_BUTTON), L"stale");
  ::SetWindowTextW(Item(IDC_PROGRESS_TITLE), L"stale");
  ::SetWindowTextW(window_->GetWindowHandle(), L"stale");
  SetLanguage(L"de");
  settings_.SetLanguage(settings_.language);
  EXPECT_EQ(GetString(IDS_OPTIONS), test::WindowText(Item(IDC_OPTIONS_BUTTON)));
  EXPECT_EQ(GetString(IDS_THANK_YOU),
            test::WindowText(Item(IDC_PROGRESS_TITLE)));
  EXPECT_EQ(L"Vielen Dank",
            test::WindowText(Item(IDC_PROGRESS_TITLE)).substr(0, 11));
  EXPECT_EQ(GetString(IDS_INSTALLER_TITLE),
            test::WindowText(window_->GetWindowHandle()));
  EXPECT_NE(L"stale", test::WindowText(Item(IDC_OPTIONS_BUTTON)));
}

// Where every control of the window lies on the screen, from the window's
// corner, and whether it is mirrored; keyed by its parent's id and its own.
struct ControlPlace {
  RECT rect;
  bool mirrored;
  bool operator==(const ControlPlace& other) const {
    return ::EqualRect(&rect, &other.rect) && mirrored == other.mirrored;
  }
};
typedef std::map<std::pair<int, int>, ControlPlace> WindowLayout;

std::string Describe(const WindowLayout& layout) {
  std::ostringstream out;
  for (const auto& entry : layout) {
    out << entry.first.first << "/" << entry.first.second << ": "
        << entry.second.rect.left << ".." << entry.second.rect.right
        << (entry.second.mirrored ? " mirrored" : "") << "; ";
  }
  return out.str();
}

BOOL CALLBACK AddControlPlace(HWND child, LPARAM param) {
  auto* layout = reinterpret_cast<std::pair<HWND, WindowLayout>*>(param);
  RECT outer = {};
  ::GetWindowRect(layout->first, &outer);
  ControlPlace place = {};
  ::GetWindowRect(child, &place.rect);
  ::OffsetRect(&place.rect, -outer.left, -outer.top);
  place.mirrored =
      (::GetWindowLongW(child, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
  layout->second[{::GetDlgCtrlID(::GetParent(child)), ::GetDlgCtrlID(child)}] =
      place;
  return TRUE;
}

WindowLayout GetWindowLayout(HWND window) {
  std::pair<HWND, WindowLayout> layout(window, WindowLayout());
  ControlPlace own = {};
  own.mirrored = (::GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
  layout.second[{-1, -1}] = own;
  ::EnumChildWindows(window, &AddControlPlace,
                     reinterpret_cast<LPARAM>(&layout));
  return layout.second;
}

// A change of language that changes the reading direction lays the window
// out as one made in the new language, and its message boxes follow.
TEST_F(InstallerWindowTest, LanguageChangeMirrorsWindow) {
  std::vector<UINT> box_types;
  message_box_ = base::BindRepeating(
      [](std::vector<UINT>* types, HWND, const std::wstring&,
         const std::wstring&, UINT type) {
        types->push_back(type);
        return IDNO;
      },
      &box_types);
  SetLanguage(L"he");
  MakeWindow();
  const WindowLayout right_to_left =
      GetWindowLayout(window_->GetWindowHandle());
  window_.reset();
  SetLanguage(L"en");
  MakeWindow();
  const WindowLayout left_to_right =
      GetWindowLayout(window_->GetWindowHandle());
  ASSERT_TRUE(right_to_left.at({-1, -1}).mirrored);
  ASSERT_FALSE(left_to_right.at({-1, -1}).mirrored);
  ASSERT_FALSE(right_to_left == left_to_right);

  const struct {
    const wchar_t* language;
    const WindowLayout* layout;
    bool box_right_to_left;
  } kSteps[] = {{L"he", &right_to_left, true},
                {L"en", &left_to_right, false},
                {L"ar", &right_to_left, true},
                {L"de", &left_to_right, false}};
  for (const auto& step : kSteps) {
    SetLanguage(step.language);
    settings_.SetLanguage(settings_.language);
    const WindowLayout layout = GetWindowLayout(window_->GetWindowHandle());
    EXPECT_TRUE(*step.layout == layout)
        << step.language << "\nwanted: " << Describe(*step.layout)
        << "\nshown:  " << Describe(layout);
    Screenshot(std::wstring(L"window_switched_to_") + step.language,
               {IDC_ACCEPT_BUTTON, IDC_OPTIONS_BUTTON});
    ::SendMessageW(window_->GetWindowHandle(), WM_CLOSE, 0, 0);
    ASSERT_FALSE(box_types.empty());
    EXPECT_EQ(step.box_right_to_left,
              (box_types.back() & MB_RTLREADING) == MB_RTLREADING)
        << step.language;
    EXPECT_EQ(step.box_right_to_left, (box_types.back() & MB_RIGHT) == MB_RIGHT)
        << step.language;
  }
  EXPECT_EQ(4u, box_types.size());
  EXPECT_EQ(0, delegate_.cancels);
}

// The terms link is reached with Tab and opened with Enter or Space, without
// pressing the page's default button.
TEST_F(InstallerWindowTest, TermsLinkOpensFromKeyboard) {
  MakeWindow();
  HWND dialog = window_->GetWindowHandle();
  auto press = [&](WPARAM key) {
    MSG down = {::GetFocus(), WM_KEYDOWN, key, 0};
    if (!::IsDialogMessageW(dialog, &down)) {
      ::TranslateMessage(&down);
      ::DispatchMessageW(&down);
    }
    test::PumpMessages();
  };
  for (WPARAM key : {WPARAM(VK_RETURN), WPARAM(VK_SPACE)}) {
    ASSERT_EQ(PAGE_WELCOME, window_->current_page());
    // Each control of the page once at most.
    for (int tab = 0; tab < 8 && ::GetFocus() != Item(IDC_TERMS_LINE); ++tab)
      press(VK_TAB);
    ASSERT_EQ(Item(IDC_TERMS_LINE), ::GetFocus()) << "Tab never reaches it";
    press(key);
    EXPECT_EQ(PAGE_TERMS, window_->current_page()) << key;
    EXPECT_EQ("TOS", transitions_.back().navigation_action);
    Click(IDC_BACK_BUTTON);
  }
  EXPECT_EQ(0, delegate_.accepts);
}

// The status line paints all of its place, so that a new text never shows
// over the old one; the headline and the terms line show the page's
// background around their texts.
TEST_F(InstallerWindowTest, TextsDrawnOnPageBackground) {
  MakeWindow();
  HWND dialog = window_->GetWindowHandle();
  const uint32_t kMarker = 0x102030;
  auto same = [](uint32_t a, uint32_t b) {
    for (int shift = 0; shift < 24; shift += 8) {
      if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > 3)
        return false;
    }
    return true;
  };
  // Points beside the centred texts, down both ends of each control.
  std::vector<std::pair<POINT, POINT>> points;  // In the capture, the client.
  for (int id : {IDC_HEADLINE, IDC_TERMS_LINE}) {
    const RECT shown = test::RectInCapture(dialog, Item(id));
    const RECT client = test::RectInCapture(dialog, Item(id), true);
    for (int y = 1; y < shown.bottom - shown.top - 1; y += 2) {
      for (int x : {1, int(shown.right - shown.left) - 2}) {
        points.push_back({POINT{shown.left + x, shown.top + y},
                          POINT{client.left + x, client.top + y}});
      }
    }
  }
  const test::WindowCapture page = EraseOnCanvas(dialog, kMarker);
  ASSERT_FALSE(page.pixels.empty());
  std::wstring mismatch;
  auto on_background = [&](const test::WindowCapture& shot) {
    for (const auto& point : points) {
      const uint32_t shown =
          shot.pixels[point.first.y * shot.width + point.first.x] & 0xFFFFFF;
      const uint32_t under =
          page.pixels[point.second.y * page.width + point.second.x] & 0xFFFFFF;
      if (!same(shown, under)) {
        mismatch =
            base::StringPrintf(L"(%ld, %ld): %06x, background %06x",
                               point.second.x, point.second.y, shown, under);
        return false;
      }
    }
    return true;
  };
  const test::WindowCapture shot = test::CheckAndSaveCapture(
      dialog, L"window_texts_on_background", 4u, on_background);
  EXPECT_TRUE(on_background(shot)) << mismatch;

  window_->ShowProgressPage();
  notifier_.OnEnteringPhase(PROGRESS_STAGE_DOWNLOADING);
  HWND status = Item(IDC_STATUS_TEXT);
  RECT client = {};
  ::GetClientRect(status, &client);
  const test::WindowCapture line =
      test::DrawOnCanvas(client.right, client.bottom, kMarker, [&](HDC dc) {
        ::SendMessageW(status, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc),
                       PRF_CLIENT);
      });
  ASSERT_FALSE(line.pixels.empty());
  EXPECT_EQ(0u, test::CountPixels(line, test::WholeCapture(line),
                                  [&](uint32_t pixel) {
                                    return (pixel & 0xFFFFFF) == kMarker;
                                  }));
  EXPECT_GT(test::CountPixels(
                line, test::WholeCapture(line),
                [&](uint32_t pixel) { return (pixel & 0xFFFFFF) == 0xFFFFFF; }),
            0u);
}

TEST_F(InstallerWindowTest, ProgressBarNeverMovesBackwards) {
  MakeWindow();
  window_->ShowProgressPage();
  HWND bar = Item(IDC_PROGRESS_BAR);
  calculator_.observer->OnProgressChanged(300, std::nullopt);
  EXPECT_EQ(300, ::SendMessageW(bar, PBM_GETPOS, 0, 0));
  // Close steps are stepped one by one and arrive at the same place.
  calculator_.observer->OnProgressChanged(305, std::nullopt);
  EXPECT_EQ(305, ::SendMessageW(bar, PBM_GETPOS, 0, 0));
  // A retry wait reports less; the bar stays.
  calculator_.observer->OnProgressChanged(120, std::nullopt);
  EXPECT_EQ(305, ::SendMessageW(bar, PBM_GETPOS, 0, 0));
  calculator_.observer->OnProgressChanged(0, std::nullopt);
  EXPECT_EQ(305, ::SendMessageW(bar, PBM_GETPOS, 0, 0));
  calculator_.observer->OnProgressChanged(1000, std::nullopt);
  EXPECT_EQ(1000, ::SendMessageW(bar, PBM_GETPOS, 0, 0));
}

// Records every text the status line is given.
std::vector<std::wstring>* g_status_texts = nullptr;
WNDPROC g_status_proc = nullptr;
LRESULT CALLBACK StatusProc(HWND control,
                            UINT message,
                            WPARAM wparam,
                            LPARAM lparam) {
  if (message == WM_SETTEXT && g_status_texts)
    g_status_texts->push_back(reinterpret_cast<const wchar_t*>(lparam));
  return ::CallWindowProcW(g_status_proc, control, message, wparam, lparam);
}

class InstallerWindowStatusTest : public InstallerWindowTest {
 protected:
  void SetUp() override {
    InstallerWindowTest::SetUp();
    MakeWindow();
    window_->ShowProgressPage();
    g_status_texts = &texts_;
    g_status_proc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(Item(IDC_STATUS_TEXT), GWLP_WNDPROC,
                            reinterpret_cast<LONG_PTR>(&StatusProc)));
  }
  void TearDown() override {
    ::SetWindowLongPtrW(Item(IDC_STATUS_TEXT), GWLP_WNDPROC,
                        reinterpret_cast<LONG_PTR>(g_status_proc));
    g_status_texts = nullptr;
    InstallerWindowTest::TearDown();
  }
  std::wstring Status() { return test::WindowText(Item(IDC_STATUS_TEXT)); }
  static std::wstring Downloading(const wchar_t* count) {
    return GetString(IDS_DOWNLOADING_REMAINING, count);
  }
  std::vector<std::wstring> texts_;
};

TEST_F(InstallerWindowStatusTest, UpdatesCloseTogetherAreMerged) {
  const auto ms = [](int count) {
    return base::TimeDelta::FromMilliseconds(count);
  };
  notifier_.OnEnteringPhase(PROGRESS_STAGE_DOWNLOADING);
  ASSERT_EQ(1u, texts_.size());
  EXPECT_EQ(GetString(IDS_DOWNLOADING), texts_[0]);
  runner_->AdvanceClock(ms(40));
  calculator_.observer->OnProgressChanged(10, 30);
  runner_->AdvanceClock(ms(30));
  calculator_.observer->OnProgressChanged(20, 20);
  // Both came within 100 ms of the stage's text: only the latest is shown,
  // at the 100 ms point.
  runner_->FastForwardBy(ms(29));
  EXPECT_EQ(GetString(IDS_DOWNLOADING), Status());
  runner_->FastForwardBy(ms(1));
  EXPECT_EQ(Downloading(L"20"), Status());
  runner_->FastForwardBy(ms(500));
  EXPECT_EQ(std::vector<std::wstring>(
                {GetString(IDS_DOWNLOADING), Downloading(L"20")}),
            texts_);
  // Later, an update shows at once; the same count again changes nothing.
  calculator_.observer->OnProgressChanged(30, 10);
  EXPECT_EQ(Downloading(L"10"), Status());
  calculator_.observer->OnProgressChanged(40, 10);
  runner_->FastForwardBy(ms(500));
  EXPECT_EQ(3u, texts_.size());
}

// A stage change drops the update still waiting, and a count is news again
// in a new stage or on a new progress page.
TEST_F(InstallerWindowStatusTest, StageChangeDropsStaleUpdates) {
  notifier_.OnEnteringPhase(PROGRESS_STAGE_DOWNLOADING);
  calculator_.observer->OnProgressChanged(10, 20);
  ASSERT_EQ(GetString(IDS_DOWNLOADING), Status());
  // The retry wait says nothing until it knows its count.
  notifier_.OnEnteringPhase(PROGRESS_STAGE_WAITING_TO_RETRY);
  runner_->FastForwardBy(base::TimeDelta::FromSeconds(1));
  EXPECT_EQ(GetString(IDS_DOWNLOADING), Status());
  calculator_.observer->OnProgressChanged(10, 20);
  EXPECT_EQ(GetString(IDS_RETRYING_DOWNLOAD, L"20"), Status());

  notifier_.OnEnteringPhase(PROGRESS_STAGE_DOWNLOADING);
  runner_->FastForwardBy(base::TimeDelta::FromSeconds(1));
  calculator_.observer->OnProgressChanged(10, 5);
  ASSERT_EQ(Downloading(L"5"), Status());
  window_->DisplayError(L"Lost.", false, std::nullopt);
  window_->ShowProgressPage();
  runner_->FastForwardBy(base::TimeDelta::FromSeconds(1));
  calculator_.observer->OnProgressChanged(10, 5);
  EXPECT_EQ(Downloading(L"5"), Status());
}

// The stages whose texts depend on more than the remaining value.
TEST_F(InstallerWindowTest, StatusTextsByStage) {
  EXPECT_EQ(L"", GetStageStatusText(8, std::nullopt, false,
                                    INSTALL_MODE_ALL_USERS, L"u"));
  EXPECT_EQ(GetString(IDS_UNINSTALLING),
            GetStageStatusText(7, 3, true, INSTALL_MODE_CURRENT_USER, L"u"));
  EXPECT_EQ(GetString(IDS_INSTALLING_FOR_USER, L"Ann"),
            GetStageStatusText(7, 3, false, INSTALL_MODE_CURRENT_USER, L"Ann"));
  EXPECT_EQ(
      GetString(IDS_INSTALLING),
      GetStageStatusText(4, std::nullopt, false, INSTALL_MODE_ALL_USERS, L"u"));
  EXPECT_TRUE(IsRightToLeftLanguage(L"AR-eg"));
  EXPECT_FALSE(IsRightToLeftLanguage(L"hr"));
}

TEST_F(InstallerWindowTest, CloseAsksUnlessUninstalling) {
  MakeWindow();
  {
    ScopedBoxAnswers no(IDNO);
    ::SendMessageW(window_->GetWindowHandle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(1, no.answers().shown);
    EXPECT_NE(std::wstring::npos,
              no.answers().text.find(L"Are you sure you want to quit"));
    EXPECT_EQ(GetString(IDS_YES), no.answers().yes_button);
  }
  EXPECT_EQ(0, delegate_.cancels);
  {
    // The box's buttons speak the wizard's language, not the system's.
    SetLanguage(L"de");
    ScopedBoxAnswers yes(IDYES);
    ::SendMessageW(window_->GetWindowHandle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(1, yes.answers().shown);
    EXPECT_EQ(L"&Ja", yes.answers().yes_button);
    SetLanguage(L"en");
  }
  EXPECT_EQ(1, delegate_.cancels);
  ASSERT_FALSE(transitions_.empty());
  window_.reset();
  EXPECT_EQ(PAGE_TYPE_CLOSED, transitions_.back().page_type);
  EXPECT_EQ("CANCEL", transitions_.back().navigation_action);

  MakeWindow(true);
  EXPECT_EQ(PAGE_MAINTENANCE, window_->current_page());
  ScopedBoxAnswers none(IDNO);
  Click(IDC_CANCEL_BUTTON);
  EXPECT_EQ(0, none.answers().shown);
  EXPECT_EQ(2, delegate_.cancels);
}

// Enter presses only the shown page's button: on the progress page of an
// uninstall run it must not ask again, nor cancel the run on No.
TEST_F(InstallerWindowTest, EnterOnProgressPageDoesNothing) {
  MakeWindow(true);
  window_->ShowProgressPage();
  test::PumpMessages();
  ScopedBoxAnswers no(IDNO);
  HWND dialog = window_->GetWindowHandle();
  MSG enter = {dialog, WM_KEYDOWN, VK_RETURN, 0};
  Win32DialogDispatcher::GetInstance()->SetActiveDialog(dialog);
  Win32DialogDispatcher::GetInstance()->Dispatch(enter);
  ::IsDialogMessageW(dialog, &enter);
  test::PumpMessages();
  EXPECT_EQ(0, no.answers().shown);
  EXPECT_EQ(0, delegate_.accepts);
  EXPECT_EQ(0, delegate_.cancels);
  // A hidden button's click is ignored as well.
  Click(IDC_ACCEPT_BUTTON);
  Click(IDC_REINSTALL_BUTTON);
  EXPECT_EQ(0, no.answers().shown);
  EXPECT_FALSE(settings_.flag14);
}

TEST_F(InstallerWindowTest, FirstPageTakesFocus) {
  MakeWindow();
  EXPECT_EQ(IDC_ACCEPT_BUTTON, ::GetDlgCtrlID(::GetFocus()));
  EXPECT_EQ(MAKELONG(IDC_ACCEPT_BUTTON, DC_HASDEFID),
            ::SendMessageW(window_->GetWindowHandle(), DM_GETDEFID, 0, 0));
  window_.reset();
  MakeWindow(true);
  EXPECT_EQ(IDC_REINSTALL_BUTTON, ::GetDlgCtrlID(::GetFocus()));
}

InstallerWindowImpl* g_error_box_window = nullptr;
void CALLBACK ShowErrorBoxOnTimer(HWND, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  g_error_box_window->ShowErrorMessageBox(L"Broken.");
}

// A task run inside the box's loop may destroy the window; the flow that
// showed the box stops there.
TEST_F(InstallerWindowTest, WindowDestroyedWhileBoxIsOpen) {
  const struct {
    bool uninstall_run;
    int answer;
  } kCases[] = {{false, IDYES}, {true, IDYES}, {false, IDOK}};
  for (size_t index = 0; index < ARRAYSIZE(kCases); ++index) {
    MakeWindow(kCases[index].uninstall_run);
    HWND dialog = window_->GetWindowHandle();
    ScopedBoxAnswers held(kCases[index].answer);
    base::RunLoop run_loop;
    held.mutable_answers()->hold = base::BindOnce(
        [](std::unique_ptr<InstallerWindowImpl>* window, BoxAnswers* answers,
           int answer, base::RunLoop* run_loop) {
          window->reset();
          if (::IsWindow(answers->box))
            ::PostMessageW(answers->box, WM_COMMAND,
                           MAKEWPARAM(answer, BN_CLICKED), 0);
          run_loop->QuitWhenIdle();
        },
        &window_, held.mutable_answers(), kCases[index].answer, &run_loop);
    if (index == 2) {
      // Off a native message too: a task could run no other inside the box.
      g_error_box_window = window_.get();
      ::SetTimer(nullptr, 0, 0, &ShowErrorBoxOnTimer);
    } else {
      // As a click comes: a native message, not a task.
      ::PostMessageW(dialog,
                     kCases[index].uninstall_run ? WM_COMMAND : WM_CLOSE,
                     kCases[index].uninstall_run
                         ? MAKEWPARAM(IDC_UNINSTALL_BUTTON, BN_CLICKED)
                         : 0,
                     0);
    }
    run_loop.Run();
    EXPECT_EQ(1, held.answers().shown) << index;
    EXPECT_FALSE(window_) << index;
    EXPECT_EQ(0, delegate_.accepts) << index;
    EXPECT_EQ(0, delegate_.cancels) << index;
  }
}

// Only the wizard's own box speaks the wizard's language.
TEST_F(InstallerWindowTest, OtherDialogsKeepTheirButtons) {
  MakeWindow();
  std::wstring other_yes;
  ScopedBoxAnswers held(IDNO);
  base::RunLoop run_loop;
  held.mutable_answers()->hold = base::BindOnce(
      [](BoxAnswers* answers, std::wstring* other_yes,
         base::RunLoop* run_loop) {
        HWND other =
            ::CreateWindowExW(0, L"#32770", L"other", WS_POPUP, 0, 0, 100, 100,
                              answers->box, nullptr, nullptr, nullptr);
        ::CreateWindowExW(0, L"BUTTON", L"keep", WS_CHILD | WS_VISIBLE, 0, 0,
                          50, 20, other, reinterpret_cast<HMENU>(IDYES),
                          nullptr, nullptr);
        ::ShowWindow(other, SW_SHOW);
        ::SetActiveWindow(other);
        wchar_t text[64] = {};
        ::GetDlgItemTextW(other, IDYES, text, ARRAYSIZE(text));
        *other_yes = text;
        ::DestroyWindow(other);
        ::PostMessageW(answers->box, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED),
                       0);
        run_loop->QuitWhenIdle();
      },
      held.mutable_answers(), &other_yes, &run_loop);
  ::PostMessageW(window_->GetWindowHandle(), WM_CLOSE, 0, 0);
  run_loop.Run();
  EXPECT_EQ(1, held.answers().shown);
  EXPECT_EQ(L"keep", other_yes);
  EXPECT_EQ(0, delegate_.cancels);
}

// A delegate may destroy the window; the delegates after it are not told.
TEST_F(InstallerWindowTest, DelegateDestroysWindow) {
  for (bool accept : {true, false}) {
    MakeWindow();
    RecordingDelegate later;
    window_->AddObserver(&later);
    delegate_.on_call = base::BindRepeating(
        [](std::unique_ptr<InstallerWindowImpl>* window) { window->reset(); },
        &window_);
    window_->OnLinkClicked(L"tos");
    ASSERT_FALSE(transitions_.empty());
    EXPECT_EQ(PAGE_TERMS, transitions_.back().page_type);
    EXPECT_EQ("TOS", transitions_.back().navigation_action);
    ScopedBoxAnswers yes(IDYES);
    Click(accept ? IDC_ACCEPT_BUTTON : IDCANCEL);
    EXPECT_FALSE(window_);
    EXPECT_EQ(0, later.accepts + later.cancels);
    EXPECT_EQ(accept ? "ACCEPT" : "CANCEL",
              transitions_.back().navigation_action);
    EXPECT_EQ(PAGE_TYPE_CLOSED, transitions_.back().page_type);
  }
  EXPECT_EQ(1, delegate_.accepts);
  EXPECT_EQ(1, delegate_.cancels);
}

TEST_F(InstallerWindowTest, UninstallWarnings) {
  MakeWindow(true);
  EXPECT_TRUE(Visible(IDC_UNINSTALL_BUTTON));
  EXPECT_TRUE(Visible(IDC_REINSTALL_BUTTON));
  EXPECT_FALSE(Visible(IDC_DELETE_USER_DATA));
  EXPECT_FALSE(Visible(IDC_OPTIONS_BUTTON));
  {
    ScopedBoxAnswers no(IDNO);
    Click(IDC_UNINSTALL_BUTTON);
    EXPECT_EQ(1, no.answers().shown);
    EXPECT_NE(std::wstring::npos,
              no.answers().text.find(GetString(IDS_UNINSTALL_WARNING)));
  }
  // No closes the wizard without a further question.
  EXPECT_EQ(0, delegate_.accepts);
  EXPECT_EQ(1, delegate_.cancels);
  ASSERT_FALSE(transitions_.empty());
  EXPECT_EQ(PAGE_TYPE_UNINSTALL_WARNING, transitions_.back().page_type);
  EXPECT_EQ("WARNING NO", transitions_.back().navigation_action);

  settings_.delete_profile = true;
  {
    ScopedBoxAnswers yes(IDYES);
    Click(IDC_UNINSTALL_BUTTON);
    EXPECT_NE(
        std::wstring::npos,
        yes.answers().text.find(GetString(IDS_UNINSTALL_WARNING_DELETE_DATA)));
  }
  EXPECT_EQ(1, delegate_.accepts);
  EXPECT_EQ("WARNING YES", transitions_.back().navigation_action);
  window_.reset();
  EXPECT_EQ("UNINSTALL", transitions_.back().navigation_action);

  settings_.offers_delete_profile = true;
  MakeWindow(true);
  EXPECT_TRUE(Visible(IDC_DELETE_USER_DATA));
  Click(IDC_REINSTALL_BUTTON);
  EXPECT_TRUE(settings_.flag14);
  window_.reset();
  EXPECT_EQ(PAGE_TYPE_CLOSED_FOR_REINSTALL, transitions_.back().page_type);
  EXPECT_EQ("REINSTALL", transitions_.back().navigation_action);
}

TEST_F(InstallerWindowTest, PageTransitionStatistics) {
  MakeWindow();
  ASSERT_EQ(1u, transitions_.size());
  EXPECT_EQ(PAGE_WELCOME, transitions_[0].page_type);
  Click(IDC_OPTIONS_BUTTON);
  ASSERT_EQ(2u, transitions_.size());
  EXPECT_EQ(PAGE_OPTIONS, transitions_[1].page_type);
  EXPECT_EQ("OPTIONS", transitions_[1].navigation_action);
  // The options page counts its changes in the current record.
  window_->GetPageTransitionRecord()->changed_language_counter = 2;
  Click(IDC_BACK_BUTTON);
  ASSERT_EQ(3u, transitions_.size());
  EXPECT_EQ(PAGE_WELCOME, transitions_[2].page_type);
  EXPECT_EQ("BACK", transitions_[2].navigation_action);
  EXPECT_EQ("2", transitions_[2].language_counter);
  // Counters start afresh on each page.
  window_->OnLinkClicked(L"tos");
  ASSERT_EQ(4u, transitions_.size());
  EXPECT_EQ("TOS", transitions_[3].navigation_action);
  EXPECT_EQ("null", transitions_[3].language_counter);
  // Another link counts as a link click but leaves the page.
  window_->OnLinkClicked(L"privacy");
  EXPECT_EQ(4u, transitions_.size());
  Click(IDC_ACCEPT_BUTTON);
  EXPECT_EQ(1, delegate_.accepts);
  window_->ShowProgressPage();
  EXPECT_EQ("ACCEPT", transitions_.back().navigation_action);
  window_->DisplayError(L"Disk full.", false, std::string("disk"));
  Click(IDC_TRY_AGAIN_BUTTON);
  window_->ShowProgressPage();
  // The error shown goes with the record of the error page.
  EXPECT_EQ("RETRY", transitions_.back().navigation_action);
  EXPECT_EQ("Disk full.", transitions_.back().error_displayed);
  EXPECT_EQ("disk", transitions_.back().failure_reason);
  // Showing the shown page again records nothing.
  const size_t count = transitions_.size();
  window_->ShowProgressPage();
  EXPECT_EQ(count, transitions_.size());
}

class InstallerWindowScreenshotTest
    : public InstallerWindowTest,
      public testing::WithParamInterface<const wchar_t*> {};

TEST_P(InstallerWindowScreenshotTest, EveryPage) {
  const std::wstring language = GetParam();
  SetLanguage(language);
  MakeWindow();
  const bool mirrored =
      (::GetWindowLongW(window_->GetWindowHandle(), GWL_EXSTYLE) &
       WS_EX_LAYOUTRTL) != 0;
  EXPECT_EQ(IsRightToLeftLanguage(language), mirrored);
  const std::wstring suffix = L"_" + language;
  // The buttons of the first page shown, and the progress bar, paint before
  // the dialog's background does; the background must not wipe them.
  Screenshot(L"window_welcome" + suffix,
             {IDC_ACCEPT_BUTTON, IDC_OPTIONS_BUTTON});
  Click(IDC_OPTIONS_BUTTON);
  Screenshot(L"window_options" + suffix);
  window_->OnLinkClicked(L"tos");
  Screenshot(L"window_terms" + suffix);
  window_->ShowProgressPage();
  notifier_.OnEnteringPhase(PROGRESS_STAGE_DOWNLOADING);
  calculator_.observer->OnProgressChanged(400, std::nullopt);
  Screenshot(L"window_progress" + suffix, {IDC_PROGRESS_BAR});
  window_->DisplayError(GetString(IDS_FETCH_NETWORK_ERROR), true, std::nullopt);
  Screenshot(L"window_error" + suffix);
  window_.reset();

  settings_.offers_delete_profile = true;
  MakeWindow(true);
  Screenshot(L"window_maintenance" + suffix,
             {IDC_REINSTALL_BUTTON, IDC_UNINSTALL_BUTTON, IDC_CANCEL_BUTTON});
  window_->DisplayError(GetString(IDS_UNINSTALL_ERROR), false, std::nullopt);
  Screenshot(L"window_uninstall_error" + suffix);
}

// The check for letters drawn as boxes tells them: no font has letters of
// its own for characters of the private use area.
TEST(WindowScreenshotCheckTest, TellsLettersDrawnAsBoxes) {
  HFONT font = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  std::wstring same;
  EXPECT_TRUE(test::DrawsDistinctLetters(
      font, L"\x05e9\x05e4\x05d4 \x0627\x0644", &same));
  EXPECT_FALSE(test::DrawsDistinctLetters(font, L"\xe001\xe002\xe003", &same));
  EXPECT_EQ(L"\xe001 and \xe002", same);
}

INSTANTIATE_TEST_SUITE_P(InstallerWindow,
                         InstallerWindowScreenshotTest,
                         testing::Values(L"en", L"ar", L"he", L"ja", L"fil"));

}  // namespace
}  // namespace installer
