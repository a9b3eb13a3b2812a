#include "desktop/windows/installer/ui/custom_message_box.h"

#include <richedit.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "desktop/windows/installer/test/window_test_util.h"
#include "desktop/windows/installer/ui/resource_ids.h"
#include "desktop/windows/installer/ui/rich_text_links.h"
#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"
#include "desktop/windows/l10n_handler/l10n_handler.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

void Record(std::vector<int>* results, int result) {
  results->push_back(result);
}

// The cases of Results act on the fixture from plain functions, so its
// members are public.
class CustomMessageBoxTest : public testing::Test {
 public:
  void SetUp() override {
    owner_ = ::CreateWindowExW(0, L"STATIC", L"owner",
                               WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 500, 300,
                               nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(owner_);
  }

  void TearDown() override {
    box_.reset();
    ::DestroyWindow(owner_);
    test::PumpMessages();
  }

  // Shows the corrupted-installer box, with or without its first button.
  void Show(bool first_button) {
    box_ = std::make_unique<CustomMessageBox>();
    ASSERT_TRUE(box_->Show(
        owner_, IDS_CORRUPTED_INSTALLER_TITLE,
        GetString(IDS_CORRUPTED_INSTALLER_TEXT),
        first_button ? static_cast<int>(IDS_CORRUPTED_INSTALLER_GO) : 0,
        IDS_CORRUPTED_INSTALLER_CANCEL,
        base::BindRepeating(&Record, &results_)));
    ASSERT_TRUE(box_->dialog());
    test::PumpMessages();
  }

  HWND Item(int id) { return ::GetDlgItem(box_->dialog(), id); }

  // The dialog's answer to the control: nonzero when it handled the click.
  LRESULT SendLinkNotification(UINT mouse_message) {
    ENLINK link = {};
    link.nmhdr.hwndFrom = Item(IDC_MESSAGE_TEXT);
    link.nmhdr.idFrom = IDC_MESSAGE_TEXT;
    link.nmhdr.code = EN_LINK;
    link.msg = mouse_message;
    return ::SendMessageW(box_->dialog(), WM_NOTIFY, IDC_MESSAGE_TEXT,
                          reinterpret_cast<LPARAM>(&link));
  }

  HWND owner_ = nullptr;
  std::unique_ptr<CustomMessageBox> box_;
  std::vector<int> results_;
};

TEST_F(CustomMessageBoxTest, ShowsTitleTextAndButtons) {
  Show(true);
  HWND dialog = box_->dialog();
  EXPECT_TRUE(::IsWindowVisible(dialog));
  EXPECT_EQ(GetString(IDS_CORRUPTED_INSTALLER_TITLE), test::WindowText(dialog));
  EXPECT_EQ(L"Kavor installer", test::WindowText(dialog));
  EXPECT_EQ(GetString(IDS_CORRUPTED_INSTALLER_GO),
            test::WindowText(Item(IDC_FIRST_BUTTON)));
  EXPECT_EQ(GetString(IDS_CORRUPTED_INSTALLER_CANCEL),
            test::WindowText(Item(IDC_SECOND_BUTTON)));
  EXPECT_TRUE(::IsWindowVisible(Item(IDC_FIRST_BUTTON)));
  EXPECT_EQ(MAKELONG(IDC_FIRST_BUTTON, DC_HASDEFID),
            ::SendMessageW(dialog, DM_GETDEFID, 0, 0));
  EXPECT_EQ(Item(IDC_FIRST_BUTTON), ::GetFocus());
  EXPECT_TRUE(::SendMessageW(dialog, WM_GETICON, ICON_BIG, 0));
  EXPECT_TRUE(::SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0));

  // The anchor became a link: no markup is left in the message.
  const std::wstring text = test::WindowText(Item(IDC_MESSAGE_TEXT));
  EXPECT_NE(std::wstring::npos, text.find(L"www.kavor.example")) << text;
  EXPECT_EQ(std::wstring::npos, text.find(L"<a ")) << text;
  EXPECT_TRUE(results_.empty());
}

TEST_F(CustomMessageBoxTest, WithoutFirstButtonTheSecondIsTheDefault) {
  Show(false);
  EXPECT_FALSE(::IsWindowVisible(Item(IDC_FIRST_BUTTON)));
  EXPECT_TRUE(::IsWindowVisible(Item(IDC_SECOND_BUTTON)));
  EXPECT_EQ(MAKELONG(IDC_SECOND_BUTTON, DC_HASDEFID),
            ::SendMessageW(box_->dialog(), DM_GETDEFID, 0, 0));
  EXPECT_EQ(Item(IDC_SECOND_BUTTON), ::GetFocus());
}

TEST_F(CustomMessageBoxTest, Results) {
  const struct {
    const char* what;
    void (*act)(CustomMessageBoxTest* test);
    int result;
  } kCases[] = {
      {"first button",
       [](CustomMessageBoxTest* test) {
         ::SendMessageW(test->Item(IDC_FIRST_BUTTON), BM_CLICK, 0, 0);
       },
       CustomMessageBox::RESULT_FIRST_BUTTON},
      {"second button",
       [](CustomMessageBoxTest* test) {
         ::SendMessageW(test->Item(IDC_SECOND_BUTTON), BM_CLICK, 0, 0);
       },
       CustomMessageBox::RESULT_SECOND_BUTTON},
      // The title bar's close button is not the second button.
      {"title bar",
       [](CustomMessageBoxTest* test) {
         ::SendMessageW(test->box_->dialog(), WM_SYSCOMMAND, SC_CLOSE, 0);
       },
       CustomMessageBox::RESULT_CLOSED},
      {"escape",
       [](CustomMessageBoxTest* test) {
         ::SendMessageW(test->box_->dialog(), WM_COMMAND, IDCANCEL, 0);
       },
       CustomMessageBox::RESULT_CLOSED},
      {"link",
       [](CustomMessageBoxTest* test) {
         // Moving over the link or pressing on it is no answer yet and
         // left to the control; the click is handled by the box, later.
         EXPECT_EQ(0, test->SendLinkNotification(WM_MOUSEMOVE));
         EXPECT_EQ(0, test->SendLinkNotification(WM_LBUTTONDOWN));
         EXPECT_EQ(1, test->SendLinkNotification(WM_LBUTTONUP));
         EXPECT_TRUE(test->results_.empty());
         test::PumpMessages();
       },
       CustomMessageBox::RESULT_LINK_ACTIVATED},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.what);
    results_.clear();
    Show(true);
    test_case.act(this);
    ASSERT_EQ(std::vector<int>{test_case.result}, results_);
    // The callback decides: the box stays until it is closed, and answers
    // again.
    EXPECT_TRUE(::IsWindow(box_->dialog()));
    ::SendMessageW(Item(IDC_SECOND_BUTTON), BM_CLICK, 0, 0);
    EXPECT_EQ((std::vector<int>{test_case.result,
                                CustomMessageBox::RESULT_SECOND_BUTTON}),
              results_);
    box_->Close();
  }
}

TEST_F(CustomMessageBoxTest, OwnerIsDisabledWhileShown) {
  Show(true);
  HWND dialog = box_->dialog();
  EXPECT_FALSE(::IsWindowEnabled(owner_));
  EXPECT_EQ(owner_, ::GetWindow(dialog, GW_OWNER));
  // While active it gets the keyboard messages of the run loop first.
  ::SetActiveWindow(dialog);
  EXPECT_EQ(dialog, Win32DialogDispatcher::GetInstance()->active_dialog());
  box_->Close();
  EXPECT_FALSE(Win32DialogDispatcher::GetInstance()->active_dialog());
  EXPECT_TRUE(::IsWindowEnabled(owner_));
  EXPECT_FALSE(::IsWindow(dialog));
  EXPECT_FALSE(box_->dialog());
  box_->Close();  // Closing twice is harmless.
  EXPECT_TRUE(results_.empty());

  // Deleting the box closes it too.
  Show(true);
  dialog = box_->dialog();
  box_.reset();
  EXPECT_TRUE(::IsWindowEnabled(owner_));
  EXPECT_FALSE(::IsWindow(dialog));
}

TEST_F(CustomMessageBoxTest, DestroyedWithItsOwner) {
  Show(true);
  ::SetActiveWindow(box_->dialog());
  ASSERT_TRUE(::DestroyWindow(owner_));
  EXPECT_FALSE(box_->dialog());
  EXPECT_FALSE(Win32DialogDispatcher::GetInstance()->active_dialog());
  EXPECT_EQ(std::vector<int>{CustomMessageBox::RESULT_CLOSED}, results_);
  box_->Close();
  box_.reset();
}

TEST_F(CustomMessageBoxTest, ShowingAgainClosesTheFirstBoxForItsCallback) {
  Show(true);
  HWND first = box_->dialog();
  std::vector<int> second;
  ASSERT_TRUE(box_->Show(owner_, IDS_CORRUPTED_INSTALLER_TITLE, L"Text", 0,
                         IDS_CORRUPTED_INSTALLER_CANCEL,
                         base::BindRepeating(&Record, &second)));
  EXPECT_FALSE(::IsWindow(first));
  EXPECT_EQ(std::vector<int>{CustomMessageBox::RESULT_CLOSED}, results_);
  EXPECT_FALSE(::IsWindowEnabled(owner_));
  ::SendMessageW(Item(IDC_SECOND_BUTTON), BM_CLICK, 0, 0);
  EXPECT_EQ(std::vector<int>{CustomMessageBox::RESULT_SECOND_BUTTON}, second);
  EXPECT_EQ(1u, results_.size());
}

TEST_F(CustomMessageBoxTest, CallbackMayDeleteTheBox) {
  auto* box = new CustomMessageBox();
  HWND dialog = nullptr;
  int result = -1;
  ASSERT_TRUE(box->Show(owner_, IDS_CORRUPTED_INSTALLER_TITLE, L"Text", 0,
                        IDS_CORRUPTED_INSTALLER_CANCEL,
                        base::BindRepeating(
                            [](CustomMessageBox* box, int* out, int result) {
                              *out = result;
                              delete box;
                            },
                            box, &result)));
  dialog = box->dialog();
  ::SendMessageW(::GetDlgItem(dialog, IDC_SECOND_BUTTON), BM_CLICK, 0, 0);
  EXPECT_EQ(CustomMessageBox::RESULT_SECOND_BUTTON, result);
  EXPECT_FALSE(::IsWindow(dialog));
  EXPECT_TRUE(::IsWindowEnabled(owner_));
}

// The click reaches the box inside the rich edit's own button handler; the
// callback runs after it, so deleting the box there is safe.
TEST_F(CustomMessageBoxTest, CallbackOfALinkClickMayDeleteTheBox) {
  auto* box = new CustomMessageBox();
  int result = -1;
  ASSERT_TRUE(box->Show(owner_, IDS_CORRUPTED_INSTALLER_TITLE,
                        L"Go <a href=\"home\">home</a> now", 0,
                        IDS_CORRUPTED_INSTALLER_CANCEL,
                        base::BindRepeating(
                            [](CustomMessageBox* box, int* out, int result) {
                              *out = result;
                              delete box;
                            },
                            box, &result)));
  HWND dialog = box->dialog();
  HWND text = ::GetDlgItem(dialog, IDC_MESSAGE_TEXT);
  POINTL point = {};
  ::SendMessageW(text, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&point), 4);
  LPARAM where = MAKELPARAM(point.x + 2, point.y + 4);
  ::SendMessageW(text, WM_LBUTTONDOWN, MK_LBUTTON, where);
  ::SendMessageW(text, WM_LBUTTONUP, 0, where);
  EXPECT_EQ(-1, result);
  EXPECT_TRUE(::IsWindow(text));
  test::PumpMessages();
  EXPECT_EQ(CustomMessageBox::RESULT_LINK_ACTIVATED, result);
  EXPECT_FALSE(::IsWindow(dialog));
  EXPECT_TRUE(::IsWindowEnabled(owner_));
}

// As the installer shows the box for a corrupted payload: without owner, in
// a run loop of the dialog dispatcher that the answer quits.
TEST_F(CustomMessageBoxTest, AnswersInsideTheDispatchersRunLoop) {
  base::MessageLoop loop(base::MessageLoop::TYPE_UI);
  base::RunLoop run_loop(Win32DialogDispatcher::GetInstance());
  box_ = std::make_unique<CustomMessageBox>();
  ASSERT_TRUE(box_->Show(nullptr, IDS_CORRUPTED_INSTALLER_TITLE,
                         GetString(IDS_CORRUPTED_INSTALLER_TEXT),
                         IDS_CORRUPTED_INSTALLER_GO,
                         IDS_CORRUPTED_INSTALLER_CANCEL,
                         base::BindRepeating(
                             [](const base::RepeatingClosure& quit,
                                std::vector<int>* results, int result) {
                               results->push_back(result);
                               quit.Run();
                             },
                             run_loop.QuitClosure(), &results_)));
  ::PostMessageW(Item(IDC_SECOND_BUTTON), BM_CLICK, 0, 0);
  run_loop.Run();
  EXPECT_EQ(std::vector<int>{CustomMessageBox::RESULT_SECOND_BUTTON}, results_);
}

// The pixels of |text| (a child of |window|) in |capture| that are clearly
// darker than the dialog's face and the white of a text box: text (grey,
// and thin and smoothed for ideographs).
size_t CountTextPixels(const test::WindowCapture& capture,
                       HWND window,
                       HWND text) {
  return test::CountPixels(
      capture, test::RectInCapture(window, text), [](uint32_t pixel) {
        const uint32_t sum =
            ((pixel >> 16) & 0xFF) + ((pixel >> 8) & 0xFF) + (pixel & 0xFF);
        return sum < 3 * 200;
      });
}

// Captures |window|, checks that it has its size, several colours and text
// in |text|, and keeps the capture as |name|.
void CaptureAndCheck(HWND window, HWND text, const std::wstring& name) {
  const test::WindowCapture capture = test::CheckAndSaveCapture(
      window, name, 8u, [&](const test::WindowCapture& shot) {
        return CountTextPixels(shot, window, text) > 100u;
      });
  EXPECT_GT(capture.width, 200);
  EXPECT_GT(capture.height, 60);
  EXPECT_GT(CountTextPixels(capture, window, text), 100u);
}

// Whether two different ideographs look different in the dialog font (when
// no font has them, both are the same empty box).
bool DrawsIdeographs(HWND window) {
  HFONT font =
      reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0));
  std::vector<uint32_t> drawn[2];
  const wchar_t* kIdeographs[] = {L"\u4e2d", L"\u6587"};
  for (int i = 0; i < 2; ++i) {
    HDC screen = ::GetDC(nullptr);
    HDC canvas = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, 32, 32);
    ::ReleaseDC(nullptr, screen);
    HGDIOBJ old_bitmap = ::SelectObject(canvas, bitmap);
    HGDIOBJ old_font = ::SelectObject(canvas, font);
    RECT rect = {0, 0, 32, 32};
    ::FillRect(canvas, &rect,
               reinterpret_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    ::TextOutW(canvas, 2, 2, kIdeographs[i], 1);
    for (int y = 0; y < 32; ++y) {
      for (int x = 0; x < 32; ++x)
        drawn[i].push_back(::GetPixel(canvas, x, y));
    }
    ::SelectObject(canvas, old_font);
    ::SelectObject(canvas, old_bitmap);
    ::DeleteObject(bitmap);
    ::DeleteDC(canvas);
  }
  return drawn[0] != drawn[1];
}

class ScopedUiLanguage {
 public:
  explicit ScopedUiLanguage(const std::wstring& language) {
    std::wstring code = language;
    SetUiLanguage(&code);
  }
  ~ScopedUiLanguage() {
    std::wstring english = L"en";
    SetUiLanguage(&english);
  }
};

TEST(CustomMessageBoxScreenshotTest, CorruptedInstallerBox) {
  for (const wchar_t* language : {L"en", L"de", L"zh-cn"}) {
    SCOPED_TRACE(language);
    ScopedUiLanguage scoped_language(language);
    CustomMessageBox box;
    ASSERT_TRUE(box.Show(
        nullptr, IDS_CORRUPTED_INSTALLER_TITLE,
        GetString(IDS_CORRUPTED_INSTALLER_TEXT), IDS_CORRUPTED_INSTALLER_GO,
        IDS_CORRUPTED_INSTALLER_CANCEL, base::BindRepeating([](int) {})));
    ::SetWindowPos(box.dialog(), HWND_TOPMOST, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE);
    test::PumpMessages();
    CaptureAndCheck(box.dialog(), ::GetDlgItem(box.dialog(), IDC_MESSAGE_TEXT),
                    std::wstring(L"message_box_") + language);
  }
}

// A rich-text line with a link, as the wizard shows the terms line, with a
// sentence of the language's own script beside it.
TEST(CustomMessageBoxScreenshotTest, RichTextLink) {
  const struct {
    const wchar_t* language;
    const wchar_t* sample;
  } kCases[] = {
      {L"en", L"English"},
      {L"de", L"Deutsch: \u00c4nderungen f\u00fcr \u00dcbersicht."},
      {L"zh-cn", L"\u4e2d\u6587\uff1a\u5b89\u88c5\u7a0b\u5e8f\u3002"},
  };
  InitRichEdit();
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.language);
    ScopedUiLanguage scoped_language(test_case.language);
    HWND window = ::CreateWindowExW(
        WS_EX_TOPMOST, L"STATIC", L"", WS_POPUP | WS_VISIBLE | WS_BORDER, 100,
        100, 440, 90, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(window);
    HWND control =
        ::CreateWindowExW(0, L"RICHEDIT50W", L"",
                          WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_READONLY,
                          10, 10, 420, 70, window, nullptr, nullptr, nullptr);
    ASSERT_TRUE(control);
    ::SendMessageW(control, WM_SETFONT,
                   reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)),
                   FALSE);
    ::SendMessageW(control, EM_SETEVENTMASK, 0, ENM_LINK);
    std::wstring button = GetString(IDS_ACCEPT_AND_INSTALL);
    button.erase(std::remove(button.begin(), button.end(), L'&'), button.end());
    SetRichTextWithLinks(
        control, GetString(IDS_TERMS_LINE, button) + L"\n" + test_case.sample,
        RGB(104, 104, 104));
    test::PumpMessages();
    CaptureAndCheck(window, control,
                    std::wstring(L"rich_text_link_") + test_case.language);
    if (std::wstring(test_case.language) == L"zh-cn") {
      EXPECT_TRUE(DrawsIdeographs(control));
    }
    ::DestroyWindow(window);
  }
}

}  // namespace
}  // namespace installer
