#include "base/strings/sys_string_conversions.h"

#include <windows.h>

namespace base {

namespace {
constexpr uint32_t kCodePageUTF8 = CP_UTF8;
}  // namespace

std::string SysWideToUTF8(const std::wstring& wide) {
  return SysWideToMultiByte(wide, kCodePageUTF8);
}

std::wstring SysUTF8ToWide(StringPiece utf8) {
  return SysMultiByteToWide(utf8, kCodePageUTF8);
}

std::string SysWideToMultiByte(const std::wstring& wide, uint32_t code_page) {
  const int wide_length = static_cast<int>(wide.length());
  if (wide_length == 0)
    return std::string();

  // The first call measures, the second converts.
  const int charcount = WideCharToMultiByte(
      code_page, 0, wide.data(), wide_length, nullptr, 0, nullptr, nullptr);
  if (charcount == 0)
    return std::string();

  std::string mb;
  mb.resize(static_cast<size_t>(charcount));
  WideCharToMultiByte(code_page, 0, wide.data(), wide_length, &mb[0], charcount,
                      nullptr, nullptr);
  return mb;
}

std::wstring SysMultiByteToWide(StringPiece mb, uint32_t code_page) {
  const int mb_length = static_cast<int>(mb.length());
  if (mb_length == 0)
    return std::wstring();

  const int charcount =
      MultiByteToWideChar(code_page, 0, mb.data(), mb_length, nullptr, 0);
  if (charcount == 0)
    return std::wstring();

  std::wstring wide;
  wide.resize(static_cast<size_t>(charcount));
  MultiByteToWideChar(code_page, 0, mb.data(), mb_length, &wide[0], charcount);
  return wide;
}

}  // namespace base
