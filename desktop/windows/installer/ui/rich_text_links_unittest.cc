#include "desktop/windows/installer/ui/rich_text_links.h"

#include <vector>

#include "base/logging.h"
#include "base/test/scoped_log_lines.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(RichTextLinksTest, MarkLinks) {
  const struct {
    const wchar_t* text;
    const wchar_t* marked;
  } kCases[] = {
      {L"", L""},
      {L"No links here.", L"No links here."},
      {L"Accept the <a href=\"tos\">Terms</a>.", L"Accept the $1tos$2Terms$3."},
      {L"<a href=\"a\">A</a> and <a class=\"x\" href=\"b\">B</a>",
       L"$1a$2A$3 and $1b$2B$3"},
      // An anchor that is never closed stays as it is, with the rest.
      {L"Go <a href=\"x\">there and on", L"Go <a href=\"x\">there and on"},
      {L"<a href=\"a\">A</a>, <a href=\"b\">B", L"$1a$2A$3, <a href=\"b\">B"},
      // Without "<a " there is no anchor.
      {L"x <b>y</b> <a>z</a>", L"x <b>y</b> <a>z</a>"},
      {L"<a href=\"x\"", L"<a href=\"x\""},
      // A "$" of the text is escaped, so that it is never taken for a marker.
      {L"Pay $1 <a href=\"$2\">$3</a>", L"Pay $01 $1$02$2$03$3"},
  };
  for (const auto& test_case : kCases) {
    EXPECT_EQ(test_case.marked, MarkLinks(test_case.text)) << test_case.text;
  }
}

TEST(RichTextLinksTest, ReplaceLinkMarkers) {
  const std::string kRtf = "{\\rtf1 By $1tos$2Terms$3 and $1b$2B$3.\\par}";
  EXPECT_EQ(
      "{\\rtf1 By {\\field{\\*\\fldinst{HYPERLINK \"tos\"}}{\\fldrslt{\\ul "
      "Terms}}} and {\\field{\\*\\fldinst{HYPERLINK \"b\"}}{\\fldrslt{\\ul "
      "B}}}.\\par}",
      ReplaceLinkMarkers(kRtf, false));
  // Only the first link moves to a new line.
  EXPECT_EQ(
      "{\\rtf1 By \\line{\\field{\\*\\fldinst{HYPERLINK \"tos\"}}{\\fldrslt{"
      "\\ul Terms}}} and {\\field{\\*\\fldinst{HYPERLINK \"b\"}}{\\fldrslt{"
      "\\ul B}}}.\\par}",
      ReplaceLinkMarkers(kRtf, true));

  EXPECT_EQ("{\\rtf1 By {\\ul Terms} and {\\ul B}.\\par}",
            ReplaceLinkMarkersWithText(kRtf));

  const std::string kPlain = "{\\rtf1 No links.\\par}";
  EXPECT_EQ(kPlain, ReplaceLinkMarkers(kPlain, false));
  EXPECT_EQ(kPlain, ReplaceLinkMarkers(kPlain, true));
  EXPECT_EQ(kPlain, ReplaceLinkMarkersWithText(kPlain));
  // Markers that do not make a whole link are left alone, so the braces
  // stay balanced.
  EXPECT_EQ("{costs $1 or $2}", ReplaceLinkMarkers("{costs $1 or $2}", false));
  // Escaped "$" are plain text again, in the text and in links.
  EXPECT_EQ("{Pay $1 now. {\\ul $3}}",
            ReplaceLinkMarkersWithText("{Pay $01 now. $1tos$2$03$3}"));
  EXPECT_EQ("{$1 a $2 b $3}", ReplaceLinkMarkers("{$01 a $02 b $03}", false));
}

TEST(RichTextLinksTest, LinkStartsAtLineEnd) {
  EXPECT_TRUE(LinkStartsAtLineEnd(L"By clicking you accept the HYPERLINK "));
  EXPECT_TRUE(LinkStartsAtLineEnd(L"HYPERLINK "));
  EXPECT_FALSE(LinkStartsAtLineEnd(L"the HYPERLINK \"tos\" Terms"));
  EXPECT_FALSE(LinkStartsAtLineEnd(L"HYPERLINK"));
  EXPECT_FALSE(LinkStartsAtLineEnd(L""));
}

TEST(RichTextLinksTest, LinkTargetOfRangeText) {
  EXPECT_EQ(L"tos", LinkTargetOfRangeText(L"HYPERLINK \"tos\"Terms"));
  EXPECT_EQ(L"https://x.example/a b",
            LinkTargetOfRangeText(L" HYPERLINK \"https://x.example/a b\" x"));
  // An automatically detected URL is its own target, as is an unclosed one.
  EXPECT_EQ(L"https://x.example/",
            LinkTargetOfRangeText(L"https://x.example/"));
  EXPECT_EQ(L"HYPERLINK \"tos", LinkTargetOfRangeText(L"HYPERLINK \"tos"));
}

// A visible parent that records the link notifications of its children.
class RichTextWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    InitRichEdit();
    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = &ParentProc;
    window_class.hInstance = ::GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"KavorRichTextTestParent";
    window_class.hbrBackground =
        reinterpret_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    ::RegisterClassW(&window_class);
    parent_ = ::CreateWindowExW(0, window_class.lpszClassName, L"",
                                WS_POPUP | WS_VISIBLE, 0, 0, 420, 120, nullptr,
                                nullptr, window_class.hInstance, nullptr);
    ASSERT_TRUE(parent_);
    control_ = ::CreateWindowExW(
        0, L"RICHEDIT50W", L"",
        WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_READONLY, 10, 10, 400, 100,
        parent_, nullptr, window_class.hInstance, nullptr);
    ASSERT_TRUE(control_);
    ::SendMessageW(control_, EM_SETEVENTMASK, 0, ENM_LINK);
    links_.clear();
  }

  void TearDown() override {
    if (parent_)
      ::DestroyWindow(parent_);
  }

  static LRESULT CALLBACK ParentProc(HWND window,
                                     UINT message,
                                     WPARAM wparam,
                                     LPARAM lparam) {
    if (message == WM_NOTIFY) {
      const NMHDR* header = reinterpret_cast<const NMHDR*>(lparam);
      if (header->code == EN_LINK) {
        const ENLINK* link = reinterpret_cast<const ENLINK*>(lparam);
        if (link->msg == WM_LBUTTONUP)
          links_.push_back(GetLinkTarget(header->hwndFrom, link));
      }
    }
    return ::DefWindowProcW(window, message, wparam, lparam);
  }

  // The control's text, one character per character position.
  std::wstring Text() {
    wchar_t text[512] = {};
    GETTEXTEX query = {sizeof(text), GT_DEFAULT, 1200, nullptr, nullptr};
    ::SendMessageW(control_, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&query),
                   reinterpret_cast<LPARAM>(text));
    return text;
  }

  COLORREF ColorAt(LONG position) {
    ::SendMessageW(control_, EM_SETSEL, position, position + 1);
    CHARFORMATW format = {};
    format.cbSize = sizeof(format);
    ::SendMessageW(control_, EM_GETCHARFORMAT, SCF_SELECTION,
                   reinterpret_cast<LPARAM>(&format));
    return format.crTextColor;
  }

  // Releases the left button over character |position| of the control.
  void ClickAt(LONG position) {
    POINTL point = {};
    ::SendMessageW(control_, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&point),
                   position);
    LPARAM where = MAKELPARAM(point.x + 2, point.y + 4);
    ::SendMessageW(control_, WM_LBUTTONDOWN, MK_LBUTTON, where);
    ::SendMessageW(control_, WM_LBUTTONUP, 0, where);
  }

  HWND parent_ = nullptr;
  HWND control_ = nullptr;
  static std::vector<std::wstring> links_;
};

std::vector<std::wstring> RichTextWindowTest::links_;

TEST_F(RichTextWindowTest, TextWithoutLinksIsShownUnchangedInItsColour) {
  SetRichTextWithLinks(control_, L"Just $ text, {braces} and \\ too.",
                       RGB(104, 104, 104));
  EXPECT_EQ(L"Just $ text, {braces} and \\ too.", Text());
  EXPECT_EQ(RGB(104, 104, 104), ColorAt(0));
  EXPECT_EQ(RGB(104, 104, 104), ColorAt(20));
  EXPECT_EQ(L"Just $ text, {braces} and \\ too.", GetFirstLineText(control_));
}

TEST_F(RichTextWindowTest, LinkShowsItsTextAndClickGivesItsTarget) {
  SetRichTextWithLinks(control_,
                       L"By clicking you accept the <a href=\"tos\">Terms</a>.",
                       RGB(10, 20, 30));
  const std::wstring text = Text();
  const size_t terms = text.find(L"Terms");
  ASSERT_NE(std::wstring::npos, terms) << text;
  EXPECT_EQ(std::wstring::npos, text.find(L"<a ")) << text;
  EXPECT_EQ(std::wstring::npos, text.find(L"$1")) << text;
  EXPECT_EQ(RGB(10, 20, 30), ColorAt(0));

  ClickAt(static_cast<LONG>(terms) + 1);
  ASSERT_EQ(1u, links_.size());
  EXPECT_EQ(L"tos", links_[0]);
  // Text beside the link is no link.
  ClickAt(2);
  EXPECT_EQ(1u, links_.size());
}

TEST_F(RichTextWindowTest, DollarsOfTheTextAreNoMarkers) {
  SetRichTextWithLinks(control_, L"$1 a $2 b $3", RGB(0, 0, 0));
  EXPECT_EQ(L"$1 a $2 b $3", Text());
  ClickAt(6);
  EXPECT_TRUE(links_.empty());

  SetRichTextWithLinks(control_, L"Pay $1 now. <a href=\"tos\">Terms</a>",
                       RGB(0, 0, 0));
  EXPECT_EQ(L"Pay $1 now. Terms", Text());
  ClickAt(3);
  ClickAt(14);
  EXPECT_EQ(std::vector<std::wstring>{L"tos"}, links_);
}

// A control that takes no rich text shows the words and logs why.
TEST_F(RichTextWindowTest, FailedStreamingIsLoggedAndShowsTheWords) {
  HWND edit = ::CreateWindowExW(0, L"EDIT", L"", WS_CHILD, 0, 0, 100, 20,
                                parent_, nullptr, nullptr, nullptr);
  ASSERT_TRUE(edit);
  base::ScopedLogLines log(base::logging::LOG_ERROR, base::logging::LOG_ERROR);
  SetRichTextWithLinks(edit, L"Pay $1 <a href=\"tos\">Terms</a>.", 0);
  wchar_t text[64] = {};
  ::GetWindowTextW(edit, text, 64);
  EXPECT_EQ(std::wstring(L"Pay $1 Terms."), text);
  EXPECT_NE(std::string::npos, log.text().find("Streaming")) << log.text();
}

TEST_F(RichTextWindowTest, EachLinkGivesItsOwnTarget) {
  SetRichTextWithLinks(control_,
                       L"Terms first\r\nthen <a href=\"tos\">Terms</a> and "
                       L"<a href=\"https://x.example/\">privacy</a>",
                       RGB(0, 0, 0));
  const std::wstring text = Text();
  const size_t plain = text.find(L"Terms");
  const size_t link = text.find(L"Terms", plain + 1);
  const size_t privacy = text.find(L"privacy");
  ASSERT_NE(std::wstring::npos, link) << text;
  ASSERT_NE(std::wstring::npos, privacy) << text;
  // The same word before the link is plain text.
  ClickAt(static_cast<LONG>(plain) + 1);
  EXPECT_TRUE(links_.empty());
  ClickAt(static_cast<LONG>(privacy) + 1);
  ClickAt(static_cast<LONG>(link) + 1);
  EXPECT_EQ((std::vector<std::wstring>{L"https://x.example/", L"tos"}), links_);
  EXPECT_EQ(L"Terms first", GetFirstLineText(control_));
}

}  // namespace
}  // namespace installer
