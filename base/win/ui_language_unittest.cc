#include "base/win/ui_language.h"

#include <windows.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace win {
namespace {

TEST(UILanguageTest, LanguagesFromLangId) {
  std::vector<std::wstring> languages;
  EXPECT_TRUE(internal::AppendLanguagesForLangId(
      MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), &languages));
  EXPECT_EQ((std::vector<std::wstring>{L"en-US", L"en"}), languages);

  languages.clear();
  EXPECT_TRUE(internal::AppendLanguagesForLangId(
      MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN_AUSTRIAN), &languages));
  EXPECT_EQ((std::vector<std::wstring>{L"de-AT", L"de"}), languages);

  // A neutral language names no region.
  languages = {L"kept"};
  EXPECT_TRUE(internal::AppendLanguagesForLangId(
      MAKELANGID(LANG_ENGLISH, SUBLANG_NEUTRAL), &languages));
  EXPECT_EQ((std::vector<std::wstring>{L"kept", L"en"}), languages);

  languages.clear();
  EXPECT_FALSE(internal::AppendLanguagesForLangId(0x1400, &languages));
  EXPECT_TRUE(languages.empty());
}

TEST(UILanguageTest, ThreadPreferredUILanguages) {
  std::vector<std::wstring> languages;
  ASSERT_TRUE(GetThreadPreferredUILanguageList(&languages));
  ASSERT_FALSE(languages.empty());
  for (const std::wstring& language : languages) {
    EXPECT_GE(language.size(), 2u);
    EXPECT_EQ(std::wstring::npos, language.find(L'\0'));
  }
}

}  // namespace
}  // namespace win
}  // namespace base
