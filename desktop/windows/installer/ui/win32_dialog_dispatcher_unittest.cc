#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"

#include <windows.h>

#include <vector>

#include "gtest/gtest.h"

namespace installer {

class Win32DialogDispatcherTest : public testing::Test {
 protected:
  ~Win32DialogDispatcherTest() override {
    for (HWND window : windows_)
      ::DestroyWindow(window);
  }

  // A modeless dialog with two tab-stop buttons, ids 1 and 2.
  HWND CreateDialogWithTwoButtons() {
    alignas(DWORD) WORD data[128] = {};
    auto* dialog = reinterpret_cast<DLGTEMPLATE*>(data);
    dialog->style = WS_POPUP | WS_CAPTION | WS_VISIBLE;
    dialog->cdit = 2;
    dialog->cx = 120;
    dialog->cy = 40;
    // No menu, default class, empty title.
    WORD* cursor = reinterpret_cast<WORD*>(dialog + 1) + 3;
    for (WORD id = 1; id <= 2; ++id) {
      cursor = reinterpret_cast<WORD*>(
          (reinterpret_cast<uintptr_t>(cursor) + 3) & ~uintptr_t{3});
      auto* item = reinterpret_cast<DLGITEMTEMPLATE*>(cursor);
      item->style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
      item->x = static_cast<short>(5 + (id - 1) * 55);
      item->y = 5;
      item->cx = 50;
      item->cy = 14;
      item->id = id;
      cursor = reinterpret_cast<WORD*>(item + 1);
      *cursor++ = 0xFFFF;  // Button class.
      *cursor++ = 0x0080;
      *cursor++ = L'B';
      *cursor++ = 0;
      *cursor++ = 0;  // No creation data.
    }
    HWND window = ::CreateDialogIndirectParamW(
        ::GetModuleHandleW(nullptr), dialog, nullptr,
        [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
    if (window)
      windows_.push_back(window);
    return window;
  }

  static MSG Message(HWND window, UINT message, WPARAM wparam) {
    MSG msg = {};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wparam;
    return msg;
  }

  Win32DialogDispatcher dispatcher_;
  std::vector<HWND> windows_;
};

namespace {

constexpr uint32_t kDefault =
    base::MessagePumpDispatcher::POST_DISPATCH_PERFORM_DEFAULT;
constexpr uint32_t kHandled = base::MessagePumpDispatcher::POST_DISPATCH_NONE;

TEST_F(Win32DialogDispatcherTest, OffersMessagesToTheActiveDialogOnly) {
  HWND dialog = CreateDialogWithTwoButtons();
  HWND other = CreateDialogWithTwoButtons();
  ASSERT_TRUE(dialog);
  ASSERT_TRUE(other);
  HWND first = ::GetDlgItem(dialog, 1);
  HWND second = ::GetDlgItem(dialog, 2);
  ::SetForegroundWindow(dialog);
  ::SetFocus(first);
  ASSERT_EQ(first, ::GetFocus());

  // No dialog active: the loop handles everything itself.
  EXPECT_EQ(kDefault, dispatcher_.Dispatch(Message(first, WM_KEYDOWN, VK_TAB)));
  EXPECT_EQ(first, ::GetFocus());

  dispatcher_.SetActiveDialog(dialog);
  EXPECT_EQ(kHandled, dispatcher_.Dispatch(Message(first, WM_KEYDOWN, VK_TAB)));
  EXPECT_EQ(second, ::GetFocus());
  // A message for a window outside the dialog is left to the loop.
  EXPECT_EQ(kDefault, dispatcher_.Dispatch(
                          Message(::GetDlgItem(other, 1), WM_KEYDOWN, VK_TAB)));

  // Deactivating a dialog that is not the active one keeps the active one.
  dispatcher_.ClearActiveDialog(other);
  EXPECT_EQ(dialog, dispatcher_.active_dialog());
  dispatcher_.ClearActiveDialog(dialog);
  EXPECT_EQ(nullptr, dispatcher_.active_dialog());
  EXPECT_EQ(kDefault,
            dispatcher_.Dispatch(Message(second, WM_KEYDOWN, VK_TAB)));
  EXPECT_EQ(second, ::GetFocus());
}

}  // namespace
}  // namespace installer
