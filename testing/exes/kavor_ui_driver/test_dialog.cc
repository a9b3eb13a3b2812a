// A small wizard-like dialog that the driver's own test drives: the same
// kinds of windows and flows as the installer's, without an installer.
//
//   kavor_ui_driver.exe --test-dialog
//
// A top-level dialog titled "Driver test" with
//   1001 "Options": hides itself and shows 1201 "Back", status "options"
//   1201 "Back" (hidden at first): the reverse, status "welcome"
//   1003 "Accept": a Yes/No message box owned by the dialog; Yes prints
//        "accepted" and ends with 0, No sets the status to "declined"
//   1005 "Never" (always disabled)
//   1100 the status text, "welcome" at first
// Closing the dialog prints "closed" and ends with 3.

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

const int kExitClosed = 3;

class TemplateBuilder {
 public:
  TemplateBuilder(const wchar_t* title, short cx, short cy) {
    const DWORD style = DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION |
                        WS_SYSMENU | WS_VISIBLE;
    AddDword(style);
    AddDword(0);
    count_at_ = data_.size();
    Add(0);  // Items, counted as they come.
    Add(10);
    Add(10);
    Add(cx);
    Add(cy);
    Add(0);  // No menu.
    Add(0);  // The dialog class.
    AddString(title);
    Add(8);
    AddString(L"MS Shell Dlg");
  }

  // |kind| 0x0080 a button, 0x0082 a static text.
  void AddItem(WORD kind,
               int id,
               const wchar_t* text,
               DWORD style,
               short x,
               short y,
               short cx,
               short cy) {
    if (data_.size() % 2)
      Add(0);
    AddDword(WS_CHILD | style);
    AddDword(0);
    Add(x);
    Add(y);
    Add(cx);
    Add(cy);
    Add(static_cast<WORD>(id));
    Add(0xFFFF);
    Add(kind);
    AddString(text);
    Add(0);
    ++data_[count_at_];
  }

  const DLGTEMPLATE* get() const {
    return reinterpret_cast<const DLGTEMPLATE*>(data_.data());
  }

 private:
  void Add(WORD word) { data_.push_back(word); }
  void AddDword(DWORD value) {
    Add(LOWORD(value));
    Add(HIWORD(value));
  }
  void AddString(const wchar_t* text) {
    for (; *text; ++text)
      Add(*text);
    Add(0);
  }

  // DWORD-aligned storage: items start on DWORD boundaries.
  std::vector<WORD> data_;
  size_t count_at_ = 0;
};

void Say(const char* text) {
  printf("%s\n", text);
  fflush(stdout);
}

void ShowOptions(HWND dialog, bool options) {
  ::ShowWindow(::GetDlgItem(dialog, 1001), options ? SW_HIDE : SW_SHOW);
  ::ShowWindow(::GetDlgItem(dialog, 1201), options ? SW_SHOW : SW_HIDE);
  ::SetDlgItemTextW(dialog, 1100, options ? L"options" : L"welcome");
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_CLOSE:
      Say("closed");
      ::EndDialog(dialog, kExitClosed);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case 1001:
          ShowOptions(dialog, true);
          return TRUE;
        case 1201:
          ShowOptions(dialog, false);
          return TRUE;
        case 1003:
          if (::MessageBoxW(dialog, L"Really accept?", L"Driver test",
                            MB_YESNO | MB_ICONQUESTION) == IDYES) {
            Say("accepted");
            ::EndDialog(dialog, 0);
          } else {
            ::SetDlgItemTextW(dialog, 1100, L"declined");
          }
          return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}

}  // namespace

int RunTestDialog() {
  TemplateBuilder builder(L"Driver test", 200, 100);
  builder.AddItem(0x0080, 1001, L"Options", WS_VISIBLE | WS_TABSTOP, 10, 70, 50,
                  14);
  builder.AddItem(0x0080, 1201, L"Back", WS_TABSTOP, 10, 70, 50, 14);
  builder.AddItem(0x0080, 1003, L"Accept", WS_VISIBLE | WS_TABSTOP, 140, 70, 50,
                  14);
  builder.AddItem(0x0080, 1005, L"Never", WS_VISIBLE | WS_DISABLED, 75, 70, 50,
                  14);
  builder.AddItem(0x0082, 1100, L"welcome", WS_VISIBLE, 10, 10, 180, 40);
  return static_cast<int>(::DialogBoxIndirectParamW(
      ::GetModuleHandleW(nullptr), builder.get(), nullptr, &DialogProc, 0));
}
