// Checks of the wizard's texts in every language the host executable offers:
// each page's keyboard letters are its own.

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

}  // namespace
}  // namespace installer
