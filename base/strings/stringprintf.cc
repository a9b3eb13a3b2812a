#include "base/strings/stringprintf.h"

#include <stdio.h>
#include <wchar.h>

#include <memory>

namespace base {

namespace {

// The C runtime's bounded formatters return -1 when the text does not fit
// (and then leave the buffer unterminated); the counting formatters give the
// full length without writing anything.
int FormatBounded(char* buffer, size_t count, const char* format, va_list ap) {
  return _vsnprintf(buffer, count, format, ap);
}

int FormatBounded(wchar_t* buffer,
                  size_t count,
                  const wchar_t* format,
                  va_list ap) {
  return _vsnwprintf(buffer, count, format, ap);
}

int CountFormatted(const char* format, va_list ap) {
  return _vscprintf(format, ap);
}

int CountFormatted(const wchar_t* format, va_list ap) {
  return _vscwprintf(format, ap);
}

// Formats |format| into |buffer| of |capacity| units allowing at most
// capacity - 1 units of text; returns the length of the whole text (which
// may exceed what was written) or a negative value when the formatter fails.
template <typename CharT>
int FormatOrCount(CharT* buffer,
                  size_t capacity,
                  const CharT* format,
                  va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  int result = FormatBounded(buffer, capacity - 1, format, copy);
  va_end(copy);
  if (result < 0 || static_cast<size_t>(result) > capacity - 1) {
    va_copy(copy, ap);
    result = CountFormatted(format, copy);
    va_end(copy);
  }
  return result;
}

template <typename StringType>
void StringAppendVT(StringType* dst,
                    const typename StringType::value_type* format,
                    va_list ap) {
  using CharT = typename StringType::value_type;

  CharT stack_buffer[1024];
  int length = FormatOrCount(stack_buffer, sizeof(stack_buffer) / sizeof(CharT),
                             format, ap);
  if (length < 0)
    return;
  if (static_cast<size_t>(length) < sizeof(stack_buffer) / sizeof(CharT)) {
    dst->append(stack_buffer, static_cast<size_t>(length));
    return;
  }

  // The formatter's count is trusted only as far as a second pass confirms
  // it: the arguments are read again and could format differently.
  for (;;) {
    const size_t size = static_cast<size_t>(length) + 1;
    if (size > kMaxStringPrintfSize)
      return;
    std::unique_ptr<CharT[]> heap_buffer(new CharT[size]());
    const int written = FormatOrCount(heap_buffer.get(), size, format, ap);
    if (written >= 0 && written <= length) {
      dst->append(heap_buffer.get(), static_cast<size_t>(written));
      return;
    }
    if (written < 0)
      return;
    length = written;
  }
}

}  // namespace

std::string StringPrintf(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string result;
  StringAppendV(&result, format, ap);
  va_end(ap);
  return result;
}

string16 StringPrintf(const wchar_t* format, ...) {
  va_list ap;
  va_start(ap, format);
  string16 result;
  StringAppendV(&result, format, ap);
  va_end(ap);
  return result;
}

void StringAppendF(std::string* dst, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  StringAppendV(dst, format, ap);
  va_end(ap);
}

void StringAppendF(string16* dst, const wchar_t* format, ...) {
  va_list ap;
  va_start(ap, format);
  StringAppendV(dst, format, ap);
  va_end(ap);
}

void StringAppendV(std::string* dst, const char* format, va_list ap) {
  StringAppendVT(dst, format, ap);
}

void StringAppendV(string16* dst, const wchar_t* format, va_list ap) {
  StringAppendVT(dst, format, ap);
}

}  // namespace base
