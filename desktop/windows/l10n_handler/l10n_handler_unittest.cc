#include "desktop/windows/l10n_handler/l10n_handler.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "base/strings/string_util.h"
#include "base/test/scoped_log_lines.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// A user whose preferred UI languages are given by the test.
class PreferringHandler : public ResourceL10nHandler {
 public:
  explicit PreferringHandler(std::vector<std::wstring> preferred)
      : preferred_(std::move(preferred)) {}

 protected:
  std::vector<std::wstring> GetPreferredUILanguages() const override {
    return preferred_;
  }

 private:
  const std::vector<std::wstring> preferred_;
};

// The languages of the test executable's "TXT" 134, without empty pieces.
std::vector<std::wstring> ListedLanguages() {
  std::vector<std::wstring> listed = GetL10nHandler()->LoadTextResource();
  listed.erase(std::remove(listed.begin(), listed.end(), std::wstring()),
               listed.end());
  return listed;
}

BOOL CALLBACK
CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
  reinterpret_cast<std::vector<WORD>*>(param)->push_back(language);
  return TRUE;
}

TEST(L10nHandlerTest, ChoosesTheListedSpellingOfTheUsersLanguage) {
  struct Case {
    const wchar_t* given;
    std::vector<std::wstring> preferred;
    const wchar_t* chosen;
    uint16_t language_id;
  } const kCases[] = {
      // ISO 639 codes the tables spell otherwise.
      {L"no", {}, L"nb", 0x414},
      {L"pt", {}, L"pt-PT", 0x816},
      {L"tl", {}, L"fil", 0x464},
      {L"PT-br", {}, L"PT-br", 0x416},
      // Preferred languages, adjusted by region when not listed.
      {L"xx", {L"es-MX", L"en-US"}, L"es-419", 0x80a},
      {L"", {L"es-ES"}, L"es", 0xc0a},
      {L"", {L"zh-HK"}, L"zh-TW", 0x404},
      {L"", {L"zh-MO"}, L"zh-TW", 0x404},
      {L"", {L"zh-SG"}, L"zh-CN", 0x804},
      {L"", {L"en-AU"}, L"en-GB", 0x809},
      {L"", {L"nb-NO"}, L"nb", 0x414},
      {L"", {L"no-NO"}, L"nb", 0x414},
      {L"", {L"fil-PH"}, L"fil", 0x464},
      // "en-US" is not listed: the next preferred language is taken.
      {L"", {L"en-IN", L"de-DE"}, L"de", 0x407},
      {L"", {L"-x", L"fr"}, L"fr", 0x40c},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::wstring(c.given) + L" / " +
                 (c.preferred.empty() ? L"" : c.preferred[0]));
    PreferringHandler handler(c.preferred);
    std::wstring language = c.given;
    handler.SetLanguage(&language);
    EXPECT_EQ(c.chosen, language);
    EXPECT_EQ(c.language_id, handler.GetLanguageId());
  }
}

// The whole choice, in its order: the given language, then each preferred
// language as it stands, then that language adjusted for its region, then
// English.
TEST(L10nHandlerTest, TakesAPreferredLanguageAsItStandsBeforeItsRegion) {
  struct Case {
    const wchar_t* given;
    std::vector<std::wstring> preferred;
    const wchar_t* chosen;
    uint16_t language_id;
  } const kCases[] = {
      // The given language wins over every preferred one.
      {L"de", {L"en-GB", L"pt-BR"}, L"de", 0x407},
      // Listed variants stay themselves rather than becoming the region's
      // usual variant of the language.
      {L"", {L"en-GB", L"fr"}, L"en-GB", 0x809},
      {L"xx", {L"pt-BR"}, L"pt-BR", 0x416},
      {L"", {L"zh-TW"}, L"zh-TW", 0x404},
      {L"", {L"es-419"}, L"es-419", 0x80a},
      // A later preferred language as it stands is not taken before an
      // earlier one adjusted for its region.
      {L"", {L"zh-SG", L"zh-TW"}, L"zh-CN", 0x804},
      {L"", {L"xx-YY", L"en-NZ", L"de"}, L"en-GB", 0x809},
      // Nothing listed: English.
      {L"xx", {L"yy-ZZ", L"zz"}, L"en", 0x409},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::wstring(c.given) + L" / " +
                 base::JoinString(c.preferred, L","));
    PreferringHandler handler(c.preferred);
    std::wstring language = c.given;
    handler.SetLanguage(&language);
    EXPECT_EQ(c.chosen, language);
    EXPECT_EQ(c.language_id, handler.GetLanguageId());
  }

  base::ScopedLogLines log(base::logging::LOG_INFO, base::logging::LOG_WARNING);
  PreferringHandler handler({L"xx-YY", L"pt-BR"});
  std::wstring language = L"xx";
  handler.SetLanguage(&language);
  EXPECT_EQ(L"pt-BR", language);
  const std::vector<std::string> expected = {
      "Language not in the available languages list: xx",
      "Trying language from system preferred list: xx-YY",
      "Retrying after adjustments: xx",
      "Trying language from system preferred list: pt-BR",
  };
  EXPECT_EQ(expected, log.lines());
}

TEST(L10nHandlerTest, TriesEveryPreferredLanguageThenFallsBackToEnglish) {
  // An empty code (what the settings pass to learn the system language) is
  // never taken for a listed one.
  {
    base::ScopedLogLines log(base::logging::LOG_INFO,
                             base::logging::LOG_WARNING);
    PreferringHandler handler({L"en-IN", L"xx-YY"});
    std::wstring language;
    handler.SetLanguage(&language);
    EXPECT_EQ(L"en", language);
    EXPECT_EQ(0x409, handler.GetLanguageId());
    const std::vector<std::string> expected = {
        "Language not in the available languages list:",
        "Trying language from system preferred list: en-IN",
        "Retrying after adjustments: en-US",
        "Trying language from system preferred list: xx-YY",
        "Retrying after adjustments: xx",
        "Falling back to english",
    };
    EXPECT_EQ(expected, log.lines());
  }
  // Codes that are not listed, or not ASCII, are never chosen.
  for (const wchar_t* code : {L"xx", L"tlh", L"\x0165n", L"e\x016e"}) {
    SCOPED_TRACE(code);
    EXPECT_FALSE(IsLanguageAvailable(code));
    PreferringHandler handler({code});
    std::wstring language = code;
    handler.SetLanguage(&language);
    EXPECT_EQ(L"en", language);
    EXPECT_EQ(0x409, handler.GetLanguageId());
  }
  EXPECT_FALSE(IsLanguageAvailable(L""));
  EXPECT_TRUE(IsLanguageAvailable(L"EN-gb"));
}

TEST(L10nHandlerTest, LooksUpStringsInTheChosenLanguage) {
  // Entries 8 and 15 of block 2313, entry 0 of 2314 and entry 13 of 2316.
  EXPECT_EQ(L"Kavor Installer",
            LoadLocalizedString(0x409, IDS_INSTALLER_TITLE, {}));
  EXPECT_EQ(L"Accept and Install",
            LoadLocalizedString(0x409, IDS_ACCEPT_AND_INSTALL, {}));
  EXPECT_EQ(L"Accept and Upgrade",
            LoadLocalizedString(0x409, IDS_ACCEPT_AND_UPGRADE, {}));
  EXPECT_EQ(L"English (United States)",
            GetL10nHandler()->GetStringForLanguage(L"en", IDS_LANGUAGE_NAME));

  std::wstring language = L"en";
  SetUiLanguage(&language);
  ASSERT_EQ(0x409, GetL10nHandler()->GetLanguageId());
  // Placeholders stay without arguments and take them in order with them.
  const std::wstring drive = GetString(IDS_DRIVE_SPACE_NEEDED);
  EXPECT_EQ(L"drive $1 ($2 MB needed)", drive);
  EXPECT_EQ(L"drive C: (250 MB needed)",
            GetStringF(IDS_DRIVE_SPACE_NEEDED, L"C:", L"250"));
  EXPECT_EQ(
      L"drive 250 (C: MB needed)",
      LoadLocalizedString(0x409, IDS_DRIVE_SPACE_NEEDED, {L"250", L"C:"}));
  EXPECT_EQ(L"Welcome to Kavor $$2",
            GetString(IDS_WELCOME_HEADLINE, L"Kavor $$2"));

  // A missing block: empty, and one error line.
  base::ScopedLogLines errors(base::logging::LOG_ERROR,
                              base::logging::LOG_ERROR);
  EXPECT_EQ(L"", LoadLocalizedString(0x409, 1000, {L"x"}));
  ASSERT_EQ(1u, errors.lines().size());
  EXPECT_TRUE(base::StartsWith(errors.lines()[0], "Failed to find string",
                               base::CompareCase::SENSITIVE));
  // An unused entry of an existing block is simply empty.
  EXPECT_EQ(L"", LoadLocalizedString(0x409, IDS_INSTALLER_TITLE - 1, {}));
  EXPECT_EQ(1u, errors.lines().size());
}

TEST(L10nHandlerTest, EveryListedLanguageHasItsOwnStringTable) {
  const std::vector<std::wstring> listed = ListedLanguages();
  ASSERT_GE(listed.size(), 40u);
  std::vector<WORD> tables;
  ::EnumResourceLanguagesW(::GetModuleHandleW(nullptr), RT_STRING,
                           MAKEINTRESOURCEW(IDS_LANGUAGE_NAME / 16 + 1),
                           &CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&tables));
  for (const std::wstring& code : listed) {
    SCOPED_TRACE(code);
    const uint16_t id = LanguageCodeToLcid(code);
    EXPECT_NE(0, id);
    EXPECT_NE(tables.end(), std::find(tables.begin(), tables.end(), id));
    EXPECT_FALSE(GetL10nHandler()
                     ->GetStringForLanguage(code, IDS_LANGUAGE_NAME)
                     .empty());
  }
  // The tables hold the translations themselves, not English fallbacks or
  // text mangled on the way through the resource compiler.
  EXPECT_EQ(L"\u0420\u0443\u0441\u0441\u043a\u0438\u0439",
            GetL10nHandler()->GetStringForLanguage(L"ru", IDS_LANGUAGE_NAME));
  std::wstring german = L"de";
  SetUiLanguage(&german);
  EXPECT_EQ(L"Deutsch", GetString(IDS_LANGUAGE_NAME));
  std::wstring english = L"en";
  SetUiLanguage(&english);

  const struct {
    const char* name;
    uint32_t id;
  } kIds[] = {
#define KAVOR_STRING_ENTRY(name, id) {#name, id},
      KAVOR_INSTALLER_STRING_IDS(KAVOR_STRING_ENTRY)
#undef KAVOR_STRING_ENTRY
  };
  for (const auto& entry : kIds) {
    EXPECT_FALSE(
        GetL10nHandler()->GetStringForLanguage(L"en", entry.id).empty())
        << entry.name;
  }
}

}  // namespace
}  // namespace installer
