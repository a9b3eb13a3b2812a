#include "desktop/windows/l10n_handler/l10n_handler.h"

#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(L10nHandlerTest, StringsWithPlaceholders) {
  EXPECT_EQ(L"Insufficient space on C:",
            GetStringF(IDS_NOT_ENOUGH_SPACE, L"C:"));
  EXPECT_EQ(L"drive D: (120 MB needed)",
            GetStringF(IDS_DRIVE_SPACE_NEEDED, L"D:", L"120"));
  // An argument that looks like a placeholder is not replaced again.
  EXPECT_EQ(L"drive $2 (7 MB needed)",
            GetStringF(IDS_DRIVE_SPACE_NEEDED, L"$2", L"7"));
  EXPECT_EQ(L"Keeps Kavor up to date.",
            GetString(IDS_AUTOUPDATE_TASK_DESCRIPTION));
  EXPECT_EQ(L"Kavor Browser", GetString(IDS_SHORTCUT_NAME));
  EXPECT_EQ(L"", GetString(12345));
}

TEST(L10nHandlerTest, EveryChoiceFallsBackToEnglish) {
  EXPECT_EQ(std::vector<std::wstring>{L"en"},
            GetL10nHandler()->GetAvailableLanguages());
  for (const wchar_t* requested : {L"", L"en", L"de", L"xx-YY"}) {
    std::wstring code = requested;
    SetUiLanguage(&code);
    EXPECT_EQ(L"en", code) << requested;
    EXPECT_EQ(L"en", GetL10nHandler()->ui_language());
  }
}

}  // namespace
}  // namespace installer
