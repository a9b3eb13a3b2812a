#ifndef BASE_STRINGS_STRING16_H_
#define BASE_STRINGS_STRING16_H_

#include <string>

namespace base {

// wchar_t is a 16-bit UTF-16 unit on Windows, so the platform's wide string
// is the project's UTF-16 string.
using char16 = wchar_t;
using string16 = std::wstring;

static_assert(sizeof(char16) == 2, "wide text is UTF-16");

}  // namespace base

#endif  // BASE_STRINGS_STRING16_H_
