// Drives the installer's wizard from outside, as a user would, with window
// messages: end-to-end tests run it beside an interactive installer. One
// invocation runs the commands on its command line in turn and stops at the
// first that fails.
//
//   kavor_ui_driver.exe [--timeout=SECONDS] [--process=NAME]
//                       COMMAND [ARG...] [COMMAND [ARG...]]...
//
// --timeout (default 60) bounds each waiting command, unless the command
// has a --timeout=SECONDS of its own. --process=NAME (an image name such as
// installer.exe) takes only windows of processes of that name.
//
// "The window" is a visible top-level dialog (class "#32770") with a control
// 1003 among its descendants: the wizard's main dialog, whose template
// holds every page's controls. The first command that needs it waits for
// it; wait-window does so explicitly.
//
//   wait-window [--control=ID]
//       until the window is there and enabled; with --control, a dialog
//       with control ID instead of 1003
//   wait-control ID [--visible] [--hidden] [--enabled] [--disabled]
//       until the window has control ID in the given state
//   click ID
//       waits until control ID is visible and enabled in an enabled window,
//       then posts its click (WM_COMMAND, BN_CLICKED) to its dialog. Posted,
//       since a click may open a modal box; what it does is for the next
//       command to wait for
//   close
//       posts what the title bar's close button sends (SC_CLOSE)
//   wait-messagebox
//       until a visible dialog owned by the window is there: a message box
//   answer-messagebox ANSWER
//       clicks button ANSWER (IDYES, IDNO, IDOK, IDCANCEL or a number) of
//       that box and waits until the box is gone
//   text ID
//       prints the text of control ID and a line end
//   info ID
//       prints control ID's class, state, style, place on the screen and
//       the id of the control on top at its centre
//   wait-text ID TEXT
//       until the text of control ID contains TEXT
//   screenshot NAME [--messagebox] [--shown]
//       saves the window (or the message box) as it is on screen to
//       NAME.bmp and NAME.png in the test screenshot folder
//       ($KAVOR_SCREENSHOT_DIR, else artifacts\screenshots beside the bin
//       folder) and prints the .bmp's path. With --shown it first waits
//       until every visible control lies inside, clear of its neighbours,
//       and draws the text it reads back, and fails saying which does not
//   wait-gone
//       until the window is destroyed
//
//   kavor_ui_driver.exe --test-dialog
//       shows the dialog the driver's own test drives (test_dialog.cc)
//
// Exit codes: 0 every command done; 1 a command failed or timed out (what
// it waited for is on standard error); 2 bad usage.

#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/test/window_capture.h"

int RunTestDialog();

namespace {

const int kExitFailed = 1;
const int kExitBadUsage = 2;

const int kWindowControl = 1003;
const DWORD kPollMs = 50;
const UINT kMessageTimeoutMs = 5000;
// A screenshot is taken once two captures this far apart are the same, or,
// for a page that keeps moving (a progress bar), once this many tries show
// a drawn window.
const DWORD kSettleMs = 150;
const int kMaxSettleTries = 20;

std::string Narrow(const std::wstring& text) {
  return base::WideToUTF8(text);
}

void Fail(const std::string& what) {
  fprintf(stderr, "kavor_ui_driver: %s\n", what.c_str());
  fflush(stderr);
}

bool ParseInt(const std::wstring& text, int* value) {
  return base::StringToInt(base::WideToUTF8(text), value);
}

bool ParseAnswer(const std::wstring& text, int* id) {
  static const struct {
    const wchar_t* name;
    int id;
  } kAnswers[] = {{L"IDOK", IDOK},
                  {L"IDCANCEL", IDCANCEL},
                  {L"IDYES", IDYES},
                  {L"IDNO", IDNO},
                  {L"IDRETRY", IDRETRY}};
  for (const auto& answer : kAnswers) {
    if (_wcsicmp(text.c_str(), answer.name) == 0) {
      *id = answer.id;
      return true;
    }
  }
  int value = 0;
  if (!ParseInt(text, &value) || value <= 0 || value > 0xFFFF)
    return false;
  *id = value;
  return true;
}

std::wstring ClassName(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, ARRAYSIZE(name));
  return name;
}

std::wstring ProcessName(HWND window) {
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process)
    return std::wstring();
  wchar_t path[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  const BOOL ok = ::QueryFullProcessImageNameW(process, 0, path, &size);
  ::CloseHandle(process);
  if (!ok)
    return std::wstring();
  const wchar_t* slash = wcsrchr(path, L'\\');
  return slash ? slash + 1 : path;
}

// The descendant of |parent| with id |id|; the options page is a dialog
// inside the window, and its controls are the page's children.
HWND FindControl(HWND parent, int id) {
  if (HWND direct = ::GetDlgItem(parent, id))
    return direct;
  struct Search {
    int id;
    HWND found;
  } search = {id, nullptr};
  ::EnumChildWindows(
      parent,
      [](HWND child, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        if (::GetDlgCtrlID(child) == s->id) {
          s->found = child;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// A control's text, asked of its own thread: rich-edit and edit controls
// keep theirs where only WM_GETTEXT reaches.
bool ControlText(HWND control, std::wstring* text) {
  DWORD_PTR length = 0;
  if (!::SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_BLOCK,
                             kMessageTimeoutMs, &length)) {
    return false;
  }
  std::vector<wchar_t> buffer(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!::SendMessageTimeoutW(control, WM_GETTEXT, buffer.size(),
                             reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_BLOCK, kMessageTimeoutMs, &copied)) {
    return false;
  }
  text->assign(buffer.data(), std::min<size_t>(copied, length));
  return true;
}

class Driver {
 public:
  explicit Driver(std::wstring process) : process_(std::move(process)) {}

  // The commands; each returns false after saying why.
  bool WaitWindow(int control, DWORD timeout_ms);
  bool WaitControl(int id,
                   const std::vector<std::wstring>& states,
                   DWORD timeout_ms);
  bool Click(int id, DWORD timeout_ms);
  bool Close(DWORD timeout_ms);
  bool WaitMessageBox(DWORD timeout_ms);
  bool AnswerMessageBox(int answer, DWORD timeout_ms);
  bool PrintText(int id, DWORD timeout_ms);
  bool PrintInfo(int id, DWORD timeout_ms);
  bool WaitText(int id, const std::wstring& text, DWORD timeout_ms);
  bool Screenshot(const std::wstring& name,
                  bool box,
                  bool shown,
                  DWORD timeout_ms);
  bool WaitGone(DWORD timeout_ms);

 private:
  // Polls |done| until it holds or |timeout_ms| passes.
  template <typename Predicate>
  bool WaitFor(DWORD timeout_ms, Predicate done) {
    const ULONGLONG end = ::GetTickCount64() + timeout_ms;
    for (;;) {
      if (done())
        return true;
      if (::GetTickCount64() >= end)
        return false;
      ::Sleep(kPollMs);
    }
  }

  HWND FindWindowWithControl(int control) const;
  HWND FindMessageBox() const;
  bool EnsureWindow(DWORD timeout_ms);

  const std::wstring process_;
  int window_control_ = kWindowControl;
  HWND window_ = nullptr;
  HWND box_ = nullptr;
};

HWND Driver::FindWindowWithControl(int control) const {
  struct Search {
    const Driver* driver;
    int control;
    HWND found;
  } search = {this, control, nullptr};
  ::EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        if (!::IsWindowVisible(window) || ClassName(window) != L"#32770" ||
            !FindControl(window, s->control)) {
          return TRUE;
        }
        if (!s->driver->process_.empty() &&
            _wcsicmp(ProcessName(window).c_str(),
                     s->driver->process_.c_str()) != 0) {
          return TRUE;
        }
        s->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND Driver::FindMessageBox() const {
  struct Search {
    HWND owner;
    HWND found;
  } search = {window_, nullptr};
  ::EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        if (::IsWindowVisible(window) && ClassName(window) == L"#32770" &&
            ::GetWindow(window, GW_OWNER) == s->owner) {
          s->found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool Driver::EnsureWindow(DWORD timeout_ms) {
  if (window_ && ::IsWindow(window_))
    return true;
  // The window an earlier command of this run worked on has gone (closed
  // faster than the next command began): that is the answer, not a reason
  // to wait for another one. Only wait-window looks for a window anew.
  if (window_) {
    Fail("the window is gone");
    return false;
  }
  if (WaitFor(timeout_ms, [&] {
        window_ = FindWindowWithControl(window_control_);
        return window_ != nullptr;
      })) {
    return true;
  }
  Fail("timed out after " + std::to_string(timeout_ms / 1000) +
       " s waiting for a visible dialog with control " +
       std::to_string(window_control_) +
       (process_.empty() ? std::string() : " of " + Narrow(process_)));
  return false;
}

bool Driver::WaitWindow(int control, DWORD timeout_ms) {
  window_control_ = control;
  window_ = nullptr;
  box_ = nullptr;
  const ULONGLONG start = ::GetTickCount64();
  if (!EnsureWindow(timeout_ms))
    return false;
  const DWORD left = static_cast<DWORD>(
      timeout_ms - std::min<ULONGLONG>(timeout_ms, ::GetTickCount64() - start));
  if (!WaitFor(left, [&] { return ::IsWindowEnabled(window_) != FALSE; })) {
    Fail("timed out waiting for the dialog with control " +
         std::to_string(control) + " to be enabled");
    return false;
  }
  std::wstring title;
  ControlText(window_, &title);
  printf("window \"%s\" of %s\n", Narrow(title).c_str(),
         Narrow(ProcessName(window_)).c_str());
  return true;
}

bool Driver::WaitControl(int id,
                         const std::vector<std::wstring>& states,
                         DWORD timeout_ms) {
  if (!EnsureWindow(timeout_ms))
    return false;
  // A window that is gone will not change any more.
  bool gone = false;
  auto matches = [&] {
    if (!::IsWindow(window_)) {
      gone = true;
      return true;
    }
    HWND control = FindControl(window_, id);
    if (!control)
      return false;
    for (const std::wstring& state : states) {
      const bool visible = ::IsWindowVisible(control) != FALSE;
      const bool enabled = ::IsWindowEnabled(control) != FALSE;
      if ((state == L"--visible" && !visible) ||
          (state == L"--hidden" && visible) ||
          (state == L"--enabled" && !enabled) ||
          (state == L"--disabled" && enabled)) {
        return false;
      }
    }
    return true;
  };
  if (WaitFor(timeout_ms, matches) && !gone)
    return true;
  std::string wanted;
  for (const std::wstring& state : states)
    wanted += " " + Narrow(state.substr(2));
  Fail((gone ? "the window is gone while waiting for control "
             : "timed out waiting for control ") +
       std::to_string(id) +
       (wanted.empty() ? std::string(" to exist") : " to be" + wanted));
  return false;
}

bool Driver::Click(int id, DWORD timeout_ms) {
  if (!WaitControl(id, {L"--visible", L"--enabled"}, timeout_ms))
    return false;
  // A user cannot click into a window that a modal box has disabled.
  if (!WaitFor(timeout_ms,
               [&] { return ::IsWindowEnabled(window_) != FALSE; })) {
    Fail("cannot click " + std::to_string(id) +
         ": the window stays disabled (a modal box is up?)");
    return false;
  }
  HWND control = FindControl(window_, id);
  if (!control || !::PostMessageW(::GetParent(control), WM_COMMAND,
                                  MAKEWPARAM(id, BN_CLICKED),
                                  reinterpret_cast<LPARAM>(control))) {
    Fail("cannot post the click of " + std::to_string(id));
    return false;
  }
  return true;
}

bool Driver::Close(DWORD timeout_ms) {
  if (!EnsureWindow(timeout_ms))
    return false;
  if (!::PostMessageW(window_, WM_SYSCOMMAND, SC_CLOSE, 0)) {
    Fail("cannot post the close of the window");
    return false;
  }
  return true;
}

bool Driver::WaitMessageBox(DWORD timeout_ms) {
  if (!EnsureWindow(timeout_ms))
    return false;
  box_ = nullptr;
  if (WaitFor(timeout_ms, [&] {
        box_ = FindMessageBox();
        return box_ != nullptr;
      })) {
    std::wstring text;
    HWND message = ::GetDlgItem(box_, 0xFFFF);
    if (message)
      ControlText(message, &text);
    printf("message box \"%s\"\n", Narrow(text).c_str());
    return true;
  }
  Fail("timed out waiting for a message box owned by the window" +
       std::string(::IsWindow(window_) ? "" : " (the window is gone)"));
  return false;
}

bool Driver::AnswerMessageBox(int answer, DWORD timeout_ms) {
  if (!box_ || !::IsWindow(box_)) {
    if (!WaitMessageBox(timeout_ms))
      return false;
  }
  HWND button = ::GetDlgItem(box_, answer);
  if (!button || !::IsWindowVisible(button) || !::IsWindowEnabled(button)) {
    Fail("the message box has no usable button " + std::to_string(answer));
    return false;
  }
  if (!::PostMessageW(box_, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                      reinterpret_cast<LPARAM>(button))) {
    Fail("cannot post the answer " + std::to_string(answer));
    return false;
  }
  const HWND box = box_;
  box_ = nullptr;
  if (WaitFor(timeout_ms, [&] { return !::IsWindow(box); }))
    return true;
  Fail("the message box stays after answer " + std::to_string(answer));
  return false;
}

bool Driver::PrintText(int id, DWORD timeout_ms) {
  if (!WaitControl(id, {}, timeout_ms))
    return false;
  std::wstring text;
  if (!ControlText(FindControl(window_, id), &text)) {
    Fail("cannot read the text of control " + std::to_string(id));
    return false;
  }
  printf("%s\n", Narrow(text).c_str());
  return true;
}

bool Driver::PrintInfo(int id, DWORD timeout_ms) {
  if (!WaitControl(id, {}, timeout_ms))
    return false;
  HWND control = FindControl(window_, id);
  RECT rect = {};
  ::GetWindowRect(control, &rect);
  // What a click on the control's centre would reach: another control
  // there covers it.
  HWND parent = ::GetParent(control);
  POINT centre = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
  ::ScreenToClient(parent, &centre);
  HWND top = ::ChildWindowFromPointEx(parent, centre, CWP_SKIPINVISIBLE);
  printf("%d %s%s%s style=%08lx rect=%ld,%ld-%ld,%ld on_top=%d\n", id,
         Narrow(ClassName(control)).c_str(),
         ::IsWindowVisible(control) ? " visible" : " hidden",
         ::IsWindowEnabled(control) ? " enabled" : " disabled",
         static_cast<unsigned long>(::GetWindowLongW(control, GWL_STYLE)),
         rect.left, rect.top, rect.right, rect.bottom,
         top ? ::GetDlgCtrlID(top) : 0);
  return true;
}

bool Driver::WaitText(int id, const std::wstring& wanted, DWORD timeout_ms) {
  if (!WaitControl(id, {}, timeout_ms))
    return false;
  std::wstring text;
  if (WaitFor(timeout_ms, [&] {
        HWND control = FindControl(window_, id);
        return control && ControlText(control, &text) &&
               text.find(wanted) != std::wstring::npos;
      })) {
    return true;
  }
  Fail("timed out waiting for control " + std::to_string(id) + " to read \"" +
       Narrow(wanted) + "\" (it reads \"" + Narrow(text) + "\")");
  return false;
}

bool Driver::Screenshot(const std::wstring& name,
                        bool box,
                        bool shown,
                        DWORD timeout_ms) {
  if (!EnsureWindow(timeout_ms))
    return false;
  if (box && (!box_ || !::IsWindow(box_)) && !WaitMessageBox(timeout_ms))
    return false;
  HWND target = box ? box_ : window_;
  // The screen is read, so nothing may cover the window.
  ::SetForegroundWindow(target);
  ::SetWindowPos(target, HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  // Wine puts what a window drew on the screen a little later, from the
  // window's own message loop: capture until the picture holds still.
  installer::test::WindowCapture capture, previous;
  std::vector<std::wstring> problems;
  int drawn = 0;
  bool gone = false;
  const bool settled = WaitFor(timeout_ms, [&] {
    if (!::IsWindow(target)) {
      gone = true;
      return true;
    }
    capture = installer::test::CaptureWindow(target);
    if (capture.width <= 0 || capture.CountColors() <= 2) {
      ::Sleep(kSettleMs);
      return false;
    }
    if (capture.pixels == previous.pixels || ++drawn >= kMaxSettleTries) {
      if (!shown)
        return true;
      problems = installer::test::CheckShownControls(target, capture);
      if (problems.empty())
        return true;
      drawn = 0;
    }
    previous = capture;
    ::Sleep(kSettleMs);
    return false;
  });
  const std::string what = box ? "message box" : "window";
  if (gone) {
    Fail("the " + what + " is gone before screenshot " + Narrow(name));
    return false;
  }
  if (!settled && !problems.empty()) {
    std::wstring all;
    for (const std::wstring& problem : problems)
      all += (all.empty() ? L"" : L"; ") + problem;
    installer::test::SaveCapture(capture, name);
    Fail("timed out waiting for the " + what + " to show its controls for " +
         "screenshot " + Narrow(name) + ": " + Narrow(all));
    return false;
  }
  if (!settled) {
    Fail("timed out waiting for the " + what + " to be drawn for screenshot " +
         Narrow(name) + " (" + std::to_string(capture.CountColors()) +
         " colours)");
    return false;
  }
  const base::FilePath path = installer::test::SaveCapture(capture, name);
  if (path.empty()) {
    Fail("cannot save screenshot " + Narrow(name));
    return false;
  }
  printf("screenshot %s (%dx%d, %zu colours)\n", Narrow(path.value()).c_str(),
         capture.width, capture.height, capture.CountColors());
  return true;
}

bool Driver::WaitGone(DWORD timeout_ms) {
  if (window_) {
    if (WaitFor(timeout_ms, [&] { return !::IsWindow(window_); }))
      return true;
  } else if (WaitFor(timeout_ms, [&] {
               return FindWindowWithControl(window_control_) == nullptr;
             })) {
    return true;
  }
  Fail("timed out after " + std::to_string(timeout_ms / 1000) +
       " s waiting for the window to close");
  return false;
}

// A command with its arguments checked, to run once the commands before it
// are done.
using Action = std::function<bool(Driver* driver, DWORD timeout_ms)>;

// The arguments of one command: --options and the plain words.
struct Args {
  std::vector<std::wstring> options, plain;
  // The first plain word as a control id, when there is exactly one.
  bool OnlyId(int* id) const {
    return plain.size() == 1 && options.empty() && ParseInt(plain[0], id) &&
           *id > 0;
  }
};

// Each parser makes the action of valid arguments, or leaves it empty.
struct Command {
  const wchar_t* name;
  const char* usage;
  Action (*parse)(const Args& args);
};

const Command kCommands[] = {
    {L"wait-window", "takes only --control=ID",
     [](const Args& args) -> Action {
       int control = kWindowControl;
       for (const std::wstring& option : args.options) {
         if (option.compare(0, 10, L"--control=") != 0 ||
             !ParseInt(option.substr(10), &control)) {
           return nullptr;
         }
       }
       if (!args.plain.empty())
         return nullptr;
       return
           [control](Driver* d, DWORD t) { return d->WaitWindow(control, t); };
     }},
    {L"wait-control",
     "takes a control id and --visible, --hidden, "
     "--enabled, --disabled",
     [](const Args& args) -> Action {
       int id = 0;
       if (args.plain.size() != 1 || !ParseInt(args.plain[0], &id) || id <= 0)
         return nullptr;
       for (const std::wstring& option : args.options) {
         if (option != L"--visible" && option != L"--hidden" &&
             option != L"--enabled" && option != L"--disabled") {
           return nullptr;
         }
       }
       const std::vector<std::wstring> states = args.options;
       return [id, states](Driver* d, DWORD t) {
         return d->WaitControl(id, states, t);
       };
     }},
    {L"click", "takes a control id",
     [](const Args& args) -> Action {
       int id = 0;
       if (!args.OnlyId(&id))
         return nullptr;
       return [id](Driver* d, DWORD t) { return d->Click(id, t); };
     }},
    {L"close", "takes nothing",
     [](const Args& args) -> Action {
       if (!args.plain.empty() || !args.options.empty())
         return nullptr;
       return [](Driver* d, DWORD t) { return d->Close(t); };
     }},
    {L"wait-messagebox", "takes nothing",
     [](const Args& args) -> Action {
       if (!args.plain.empty() || !args.options.empty())
         return nullptr;
       return [](Driver* d, DWORD t) { return d->WaitMessageBox(t); };
     }},
    {L"answer-messagebox", "takes IDYES, IDNO, IDOK, IDCANCEL or a button id",
     [](const Args& args) -> Action {
       int answer = 0;
       if (args.plain.size() != 1 || !args.options.empty() ||
           !ParseAnswer(args.plain[0], &answer)) {
         return nullptr;
       }
       return [answer](Driver* d, DWORD t) {
         return d->AnswerMessageBox(answer, t);
       };
     }},
    {L"text", "takes a control id",
     [](const Args& args) -> Action {
       int id = 0;
       if (!args.OnlyId(&id))
         return nullptr;
       return [id](Driver* d, DWORD t) { return d->PrintText(id, t); };
     }},
    {L"info", "takes a control id",
     [](const Args& args) -> Action {
       int id = 0;
       if (!args.OnlyId(&id))
         return nullptr;
       return [id](Driver* d, DWORD t) { return d->PrintInfo(id, t); };
     }},
    {L"wait-text", "takes a control id and a text",
     [](const Args& args) -> Action {
       int id = 0;
       if (args.plain.size() != 2 || !args.options.empty() ||
           !ParseInt(args.plain[0], &id) || id <= 0) {
         return nullptr;
       }
       const std::wstring text = args.plain[1];
       return
           [id, text](Driver* d, DWORD t) { return d->WaitText(id, text, t); };
     }},
    {L"screenshot", "takes a name and optionally --messagebox and --shown",
     [](const Args& args) -> Action {
       if (args.plain.size() != 1)
         return nullptr;
       bool box = false;
       bool shown = false;
       for (const std::wstring& option : args.options) {
         if (option == L"--messagebox" && !box)
           box = true;
         else if (option == L"--shown" && !shown)
           shown = true;
         else
           return nullptr;
       }
       const std::wstring name = args.plain[0];
       return [name, box, shown](Driver* d, DWORD t) {
         return d->Screenshot(name, box, shown, t);
       };
     }},
    {L"wait-gone", "takes nothing",
     [](const Args& args) -> Action {
       if (!args.plain.empty() || !args.options.empty())
         return nullptr;
       return [](Driver* d, DWORD t) { return d->WaitGone(t); };
     }},
};

const Command* FindCommand(const std::wstring& word) {
  for (const Command& command : kCommands) {
    if (word == command.name)
      return &command;
  }
  return nullptr;
}

bool ParseTimeout(const std::wstring& option, DWORD* timeout_ms) {
  int seconds = 0;
  if (option.compare(0, 10, L"--timeout=") != 0 ||
      !ParseInt(option.substr(10), &seconds) || seconds <= 0 ||
      seconds > 3600) {
    return false;
  }
  *timeout_ms = static_cast<DWORD>(seconds) * 1000;
  return true;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv)
    return kExitBadUsage;
  std::vector<std::wstring> words(argv + 1, argv + argc);
  ::LocalFree(argv);
  if (words.size() == 1 && words[0] == L"--test-dialog")
    return RunTestDialog();

  DWORD timeout_ms = 60 * 1000;
  std::wstring process;
  size_t next = 0;
  for (; next < words.size() && words[next].compare(0, 2, L"--") == 0; ++next) {
    if (words[next].compare(0, 10, L"--process=") == 0) {
      process = words[next].substr(10);
    } else if (!ParseTimeout(words[next], &timeout_ms)) {
      Fail("unknown option " + Narrow(words[next]));
      return kExitBadUsage;
    }
  }
  if (next >= words.size()) {
    Fail(
        "no command; usage: kavor_ui_driver.exe [--timeout=S] "
        "[--process=NAME] COMMAND [ARG...]...");
    return kExitBadUsage;
  }

  // Every command is checked before the first runs: bad usage late in the
  // list must not leave the wizard half driven.
  struct Step {
    Action action;
    DWORD timeout_ms;
  };
  std::vector<Step> steps;
  while (next < words.size()) {
    const std::wstring name = words[next++];
    const Command* command = FindCommand(name);
    if (!command) {
      Fail("no command " + Narrow(name));
      return kExitBadUsage;
    }
    Args args;
    DWORD command_timeout_ms = timeout_ms;
    for (; next < words.size() && !FindCommand(words[next]); ++next) {
      const std::wstring& word = words[next];
      if (word.compare(0, 10, L"--timeout=") == 0) {
        if (!ParseTimeout(word, &command_timeout_ms)) {
          Fail("bad " + Narrow(word));
          return kExitBadUsage;
        }
      } else {
        (word.compare(0, 2, L"--") == 0 ? args.options : args.plain)
            .push_back(word);
      }
    }
    Action action = command->parse(args);
    if (!action) {
      Fail(Narrow(name) + ": " + command->usage);
      return kExitBadUsage;
    }
    steps.push_back({std::move(action), command_timeout_ms});
  }

  Driver driver(process);
  for (const Step& step : steps) {
    if (!step.action(&driver, step.timeout_ms))
      return kExitFailed;
    fflush(stdout);
  }
  return 0;
}
