#ifndef BASE_WIN_UI_LANGUAGE_H_
#define BASE_WIN_UI_LANGUAGE_H_

#include <windows.h>

#include <string>
#include <vector>

namespace base {
namespace win {

// Appends the thread's preferred user-interface languages ("en-US", ...),
// falling back on the user's default UI language. True when at least one
// language was added.
bool GetThreadPreferredUILanguageList(std::vector<std::wstring>* languages);

namespace internal {

// The fall-back of GetThreadPreferredUILanguageList for the language id
// |langid|: "ll-CC" then "ll" when the sub-language names a region, else
// "ll" alone.
bool AppendLanguagesForLangId(LANGID langid,
                              std::vector<std::wstring>* languages);

}  // namespace internal

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_UI_LANGUAGE_H_
