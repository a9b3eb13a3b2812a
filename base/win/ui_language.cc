#include "base/win/ui_language.h"

#include <windows.h>

namespace base {
namespace win {

namespace {

// Values of the Windows headers, spelled out so that they do not depend on
// the headers' target version.
constexpr LANGID kCustomUiDefault = 0x1400;  // LOCALE_CUSTOM_UI_DEFAULT
constexpr DWORD kMuiLanguageName = 0x8;      // MUI_LANGUAGE_NAME
constexpr DWORD kMuiMergeFallbacks = 0x30;   // MUI_MERGE_{SYSTEM,USER}_FALLBACK

FARPROC GetKernel32Function(const char* name) {
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  return kernel32 ? GetProcAddress(kernel32, name) : nullptr;
}

}  // namespace

namespace internal {

bool AppendLanguagesForLangId(LANGID langid,
                              std::vector<std::wstring>* languages) {
  if (langid == kCustomUiDefault)
    return false;
  const LCID lcid = MAKELCID(langid, SORT_DEFAULT);
  wchar_t language[9] = {};
  if (GetLocaleInfoW(lcid, LOCALE_SISO639LANGNAME, language, 9) < 2)
    return false;
  // Sub-language bits set: the id names a region too.
  if (langid >= 0x400) {
    wchar_t region[9] = {};
    if (GetLocaleInfoW(lcid, LOCALE_SISO3166CTRYNAME, region, 9) < 2)
      return false;
    languages->push_back(std::wstring(language) + L"-" + region);
  }
  languages->push_back(language);
  return true;
}

}  // namespace internal

bool GetThreadPreferredUILanguageList(std::vector<std::wstring>* languages) {
  // The four preferred-language lists, by scope; this list is the thread's.
  static const char* const kFunctionNames[] = {
      "GetSystemPreferredUILanguages", "GetUserPreferredUILanguages",
      "GetProcessPreferredUILanguages", "GetThreadPreferredUILanguages"};
  constexpr size_t kThreadFunction = 3;
  using GetLanguagesFunction = BOOL(WINAPI*)(DWORD, PULONG, PWSTR, PULONG);
  auto get_languages = reinterpret_cast<GetLanguagesFunction>(
      GetKernel32Function(kFunctionNames[kThreadFunction]));
  const DWORD flags = kMuiMergeFallbacks | kMuiLanguageName;

  if (get_languages) {
    ULONG count = 0;
    ULONG buffer_length = 0;
    if (get_languages(flags, &count, nullptr, &buffer_length) &&
        buffer_length != 0) {
      std::vector<wchar_t> buffer(buffer_length);
      if (get_languages(flags, &count, buffer.data(), &buffer_length) &&
          count != 0) {
        // A list of NUL-terminated names ending with an empty one; never
        // read past the buffer even if the final NUL were missing.
        const wchar_t* position = buffer.data();
        const wchar_t* end = buffer.data() + buffer.size();
        while (position < end && *position) {
          const wchar_t* name_end = position;
          while (name_end < end && *name_end)
            ++name_end;
          languages->emplace_back(position, name_end);
          position = name_end + 1;
        }
        return true;
      }
    }
  }
  return internal::AppendLanguagesForLangId(GetUserDefaultUILanguage(),
                                            languages);
}

}  // namespace win
}  // namespace base
