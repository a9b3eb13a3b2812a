#include "base/strings/utf_string_conversions.h"

#include <stdint.h>

#include <ostream>

#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversion_utils.h"

namespace base {

namespace {

// ASCII text needs no decoding: each unit is copied as it is into a result
// reserved to exactly the input length.
template <typename SrcChar, typename DestString>
void CopyASCII(const SrcChar* src, size_t src_len, DestString* output) {
  output->clear();
  output->reserve(src_len);
  for (size_t i = 0; i < src_len; ++i)
    output->push_back(static_cast<typename DestString::value_type>(src[i]));
}

template <typename SrcChar, typename DestString>
bool ConvertUnicode(const SrcChar* src, size_t src_len, DestString* output) {
  const int32_t src_len32 = static_cast<int32_t>(src_len);
  bool well_formed = true;
  for (int32_t i = 0; i < src_len32; ++i) {
    uint32_t code_point;
    if (ReadUnicodeCharacter(src, src_len32, &i, &code_point)) {
      WriteUnicodeCharacter(code_point, output);
    } else {
      WriteUnicodeCharacter(0xFFFDu, output);
      well_formed = false;
    }
  }
  return well_formed;
}

bool UTF8ToWideImpl(const char* src, size_t src_len, std::wstring* output) {
  if (IsStringASCII(StringPiece(src, src_len))) {
    CopyASCII(src, src_len, output);
    return true;
  }
  PrepareForUTF16Or32Output(src, src_len, output);
  return ConvertUnicode(src, src_len, output);
}

bool WideToUTF8Impl(const wchar_t* src, size_t src_len, std::string* output) {
  if (IsStringASCII(StringPiece16(src, src_len))) {
    CopyASCII(src, src_len, output);
    return true;
  }
  PrepareForUTF8Output(src, src_len, output);
  return ConvertUnicode(src, src_len, output);
}

}  // namespace

bool UTF8ToWide(const char* src, size_t src_len, std::wstring* output) {
  return UTF8ToWideImpl(src, src_len, output);
}

std::wstring UTF8ToWide(StringPiece utf8) {
  std::wstring ret;
  UTF8ToWideImpl(utf8.data(), utf8.length(), &ret);
  return ret;
}

bool UTF8ToUTF16(const char* src, size_t src_len, std::wstring* output) {
  return UTF8ToWideImpl(src, src_len, output);
}

std::wstring UTF8ToUTF16(StringPiece utf8) {
  return UTF8ToWide(utf8);
}

bool WideToUTF8(const wchar_t* src, size_t src_len, std::string* output) {
  return WideToUTF8Impl(src, src_len, output);
}

std::string WideToUTF8(const std::wstring& wide) {
  std::string ret;
  WideToUTF8Impl(wide.data(), wide.length(), &ret);
  return ret;
}

bool UTF16ToUTF8(const wchar_t* src, size_t src_len, std::string* output) {
  return WideToUTF8Impl(src, src_len, output);
}

std::string UTF16ToUTF8(StringPiece16 utf16) {
  std::string ret;
  WideToUTF8Impl(utf16.data(), utf16.length(), &ret);
  return ret;
}

std::wstring ASCIIToUTF16(StringPiece ascii) {
  std::wstring ret;
  ret.reserve(ascii.size());
  for (char c : ascii) {
    ret.push_back(
        static_cast<wchar_t>(static_cast<int16_t>(static_cast<int8_t>(c))));
  }
  return ret;
}

std::wstring ASCIIToWide(StringPiece ascii) {
  return ASCIIToUTF16(ascii);
}

std::string UTF16ToASCII(StringPiece16 utf16) {
  std::string ret;
  ret.reserve(utf16.size());
  for (wchar_t c : utf16)
    ret.push_back(static_cast<char>(c & 0xFF));
  return ret;
}

std::string WideToASCII(StringPiece16 wide) {
  return UTF16ToASCII(wide);
}

// Declared with the views; defined here because it needs the conversion.
std::ostream& operator<<(std::ostream& o, const StringPiece16& piece) {
  return o << UTF16ToUTF8(piece);
}

}  // namespace base
