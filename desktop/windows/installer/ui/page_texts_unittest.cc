// Checks of the wizard's texts in every language the host executable offers:
// each page's keyboard letters are its own, and the option texts fit their
// controls as the dialog template lays them out.

#include <windows.h>

#include <stdint.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "base/strings/string_util.h"
#include "desktop/windows/installer/ui/resource_ids.h"
#include "desktop/windows/l10n_handler/l10n_handler.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// The languages the host executable offers, without empty lines.
std::vector<std::wstring> OfferedLanguages() {
  std::vector<std::wstring> offered;
  for (const std::wstring& code : GetL10nHandler()->LoadTextResource()) {
    if (!code.empty())
      offered.push_back(code);
  }
  return offered;
}

std::wstring Text(const std::wstring& language, uint32_t id) {
  return LoadLocalizedString(LanguageCodeToLcid(language), id, {});
}

// The letter Alt presses for |text| ("&&" is a plain ampersand), upper-cased
// as the dialog manager compares it; 0 for none.
wchar_t AccessLetter(const std::wstring& text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != L'&')
      continue;
    if (text[i + 1] == L'&') {
      ++i;
      continue;
    }
    return static_cast<wchar_t>(reinterpret_cast<uintptr_t>(
        ::CharUpperW(reinterpret_cast<wchar_t*>(
            static_cast<uintptr_t>(text[i + 1])))));
  }
  return 0;
}

TEST(PageTextsTest, EveryPageHasDistinctKeyboardLetters) {
  // The texts each page shows at once; a slot with two ids is one control
  // whose text depends on the run (the accept button of an upgrade).
  using Slot = std::vector<uint32_t>;
  const struct {
    const char* page;
    std::vector<Slot> slots;
  } kPages[] = {
      {"welcome",
       {{IDS_OPTIONS}, {IDS_ACCEPT_AND_INSTALL, IDS_ACCEPT_AND_UPGRADE}}},
      {"terms", {{IDS_BACK}, {IDS_ACCEPT_AND_INSTALL, IDS_ACCEPT_AND_UPGRADE}}},
      {"options",
       {{IDS_BACK},
        {IDS_ACCEPT_AND_INSTALL, IDS_ACCEPT_AND_UPGRADE},
        {IDS_LANGUAGE_LABEL},
        {IDS_INSTALL_FOR_LABEL},
        {IDS_INSTALL_PATH_LABEL},
        {IDS_CHANGE_FOLDER},
        {IDS_MAKE_DEFAULT_BROWSER},
        {IDS_IMPORT_BROWSER_DATA},
        {IDS_SHARE_USAGE_DATA}}},
      {"error",
       {{IDS_TRY_AGAIN},
        {IDS_BACK},
        {IDS_GET_FULL_INSTALLER},
        {IDS_INSTALL_FAILED_TITLE, IDS_UNINSTALL_FAILED_TITLE}}},
      {"maintenance",
       {{IDS_REINSTALL},
        {IDS_UNINSTALL},
        {IDS_CANCEL},
        {IDS_MAINTENANCE_WELCOME},
        {IDS_DELETE_USER_DATA}}},
  };
  const std::vector<std::wstring> languages = OfferedLanguages();
  ASSERT_GE(languages.size(), 40u);
  for (const std::wstring& language : languages) {
    for (const auto& page : kPages) {
      // Every text that may show on the page, by its letter.
      std::map<wchar_t, std::vector<std::wstring>> by_letter;
      for (const Slot& slot : page.slots) {
        std::vector<wchar_t> letters;
        for (uint32_t id : slot) {
          const std::wstring text = Text(language, id);
          ASSERT_FALSE(text.empty()) << id << " in " << language;
          const wchar_t letter = AccessLetter(text);
          // One control counts once, whichever of its texts it shows.
          if (letter && std::find(letters.begin(), letters.end(), letter) ==
                            letters.end()) {
            letters.push_back(letter);
            by_letter[letter].push_back(text);
          }
        }
      }
      for (const auto& entry : by_letter) {
        EXPECT_EQ(1u, entry.second.size())
            << language << ", " << page.page << " page: Alt+"
            << std::wstring(1, entry.first) << " is taken by \""
            << base::JoinString(entry.second, L"\", \"") << "\"";
      }
    }
  }
  EXPECT_EQ(L'\x0417', AccessLetter(L"\x0417\x0430&\x0437"));
  EXPECT_EQ(0, AccessLetter(L"Fish && Chips"));
}

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG ? TRUE : FALSE;
}

// What |text| needs in |control| drawn with the control's font: the text
// lies beside the check mark, wraps at word ends in a multi-line control and
// stays on one line otherwise. Empty when it fits, else what is wrong.
std::wstring CheckTextFits(HWND control, const std::wstring& text) {
  RECT client = {};
  ::GetClientRect(control, &client);
  HDC dc = ::GetDC(control);
  HGDIOBJ old_font = ::SelectObject(
      dc, reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)));
  TEXTMETRICW metrics = {};
  ::GetTextMetricsW(dc, &metrics);
  // The check mark and the gap after it, as the button draws them.
  const int text_left =
      ::GetSystemMetrics(SM_CXMENUCHECK) + metrics.tmAveCharWidth;
  const LONG_PTR style = ::GetWindowLongPtrW(control, GWL_STYLE);
  const bool multiline = (style & BS_MULTILINE) != 0;
  RECT needed = {0, 0, client.right - text_left, 0};
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &needed,
              DT_CALCRECT | (multiline ? DT_WORDBREAK : DT_SINGLELINE));
  ::SelectObject(dc, old_font);
  ::ReleaseDC(control, dc);
  std::wstring problem;
  if (needed.right > client.right - text_left) {
    problem = L"needs " + std::to_wstring(needed.right) + L" pixels across, " +
              L"has " + std::to_wstring(client.right - text_left);
  } else if (needed.bottom > client.bottom) {
    problem = L"needs " + std::to_wstring(needed.bottom) + L" pixels down, " +
              L"has " + std::to_wstring(client.bottom);
  }
  return problem;
}

TEST(PageTextsTest, OptionTextsFitTheirCheckBoxesInEveryLanguage) {
  HWND owner = ::CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 800, 600,
                                 nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(owner);
  HWND page = ::CreateDialogParamW(::GetModuleHandleW(nullptr),
                                   MAKEINTRESOURCEW(IDD_OPTIONS_PAGE), owner,
                                   &PlainDialogProc, 0);
  ASSERT_TRUE(page) << ::GetLastError();
  const struct {
    int control;
    uint32_t string_id;
  } kChecks[] = {
      {IDC_DEFAULT_BROWSER_CHECK, IDS_MAKE_DEFAULT_BROWSER},
      {IDC_IMPORT_DATA_CHECK, IDS_IMPORT_BROWSER_DATA},
      {IDC_SHARE_USAGE_CHECK, IDS_SHARE_USAGE_DATA},
  };
  RECT page_rect = {};
  ::GetClientRect(page, &page_rect);
  const std::vector<std::wstring> languages = OfferedLanguages();
  ASSERT_GE(languages.size(), 40u);
  for (const auto& check : kChecks) {
    HWND control = ::GetDlgItem(page, check.control);
    ASSERT_TRUE(control) << check.control;
    // The control itself lies on the page.
    RECT rect = {};
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_TRUE(rect.left >= 0 && rect.top >= 0 &&
                rect.right <= page_rect.right &&
                rect.bottom <= page_rect.bottom)
        << check.control;
    for (const std::wstring& language : languages) {
      const std::wstring text = Text(language, check.string_id);
      ASSERT_FALSE(text.empty()) << check.string_id << " in " << language;
      const std::wstring problem = CheckTextFits(control, text);
      EXPECT_TRUE(problem.empty())
          << language << ": \"" << text << "\" is clipped in " << check.control
          << ": " << problem;
    }
  }
  // The measure tells a clipped text: the English text doubled cannot fit.
  HWND control = ::GetDlgItem(page, IDC_SHARE_USAGE_CHECK);
  const std::wstring english = Text(L"en", IDS_SHARE_USAGE_DATA);
  EXPECT_TRUE(CheckTextFits(control, english).empty());
  EXPECT_FALSE(
      CheckTextFits(control, english + L" " + english + L" " + english).empty());
  ::DestroyWindow(page);
  ::DestroyWindow(owner);
}

}  // namespace
}  // namespace installer
