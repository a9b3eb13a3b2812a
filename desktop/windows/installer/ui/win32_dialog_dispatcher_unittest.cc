#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"

#include <windows.h>

#include <vector>

#include "desktop/windows/installer/ui/resource_ids.h"
#include "desktop/windows/installer/ui/rich_text_links.h"
#include "gtest/gtest.h"

namespace installer {

class Win32DialogDispatcherTest : public testing::Test {
 protected:
  ~Win32DialogDispatcherTest() override {
    for (HWND window : windows_)
      ::DestroyWindow(window);
  }

  // The installer's message box (a modeless dialog whose tab stops are its
  // two buttons), shown.
  HWND CreateDialogWithTwoButtons() {
    // The message text is a rich edit.
    InitRichEdit();
    HWND window = ::CreateDialogParamW(
        ::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MESSAGE_BOX), nullptr,
        [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
    if (window) {
      ::ShowWindow(window, SW_SHOW);
      windows_.push_back(window);
    }
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
  HWND first = ::GetDlgItem(dialog, IDC_FIRST_BUTTON);
  HWND second = ::GetDlgItem(dialog, IDC_SECOND_BUTTON);
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
  EXPECT_EQ(kDefault,
            dispatcher_.Dispatch(Message(::GetDlgItem(other, IDC_FIRST_BUTTON),
                                         WM_KEYDOWN, VK_TAB)));

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
