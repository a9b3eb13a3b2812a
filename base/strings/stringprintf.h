#ifndef BASE_STRINGS_STRINGPRINTF_H_
#define BASE_STRINGS_STRINGPRINTF_H_

#include <stdarg.h>
#include <stdio.h>

#include <string>

#include "base/strings/string16.h"

// printf-style formatting into strings, narrow and wide, with the C
// runtime's format language. Results below 1024 units are formatted on the
// stack; larger ones take one exactly sized heap buffer, up to 32 MiB units
// (terminator included). A result that cannot be produced (a formatter
// failure, or one that would be too large) leaves the destination as it was.
//
// Portable conversions only: in wide formats, wide-text arguments are
// written with the 'l' length modifier (%ls, %lc).

#if defined(__GNUC__)
#define BASE_PRINTF_FORMAT(format_param, dots_param) \
  __attribute__((format(__MINGW_PRINTF_FORMAT, format_param, dots_param)))
#else
#define BASE_PRINTF_FORMAT(format_param, dots_param)
#endif

namespace base {

// Units, terminator included, of the largest result that is produced.
constexpr size_t kMaxStringPrintfSize = 32 * 1024 * 1024;

std::string StringPrintf(const char* format, ...) BASE_PRINTF_FORMAT(1, 2);
string16 StringPrintf(const wchar_t* format, ...);

void StringAppendF(std::string* dst, const char* format, ...)
    BASE_PRINTF_FORMAT(2, 3);
void StringAppendF(string16* dst, const wchar_t* format, ...);

void StringAppendV(std::string* dst, const char* format, va_list ap)
    BASE_PRINTF_FORMAT(2, 0);
void StringAppendV(string16* dst, const wchar_t* format, va_list ap);

}  // namespace base

#endif  // BASE_STRINGS_STRINGPRINTF_H_
