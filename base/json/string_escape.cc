#include "base/json/string_escape.h"

#include <limits.h>

#include "base/check.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf8_reader.h"
#include "base/strings/utf_string_conversion_utils.h"

namespace base {

namespace {

constexpr int32_t kReplacementCharacter = 0xFFFD;

// Appends the escape for |code_point| when it needs one; false otherwise.
bool EscapeSpecialCodePoint(int32_t code_point, std::string* dest) {
  switch (code_point) {
    case '\b':
      dest->append("\\b");
      return true;
    case '\f':
      dest->append("\\f");
      return true;
    case '\n':
      dest->append("\\n");
      return true;
    case '\r':
      dest->append("\\r");
      return true;
    case '\t':
      dest->append("\\t");
      return true;
    case '"':
      dest->append("\\\"");
      return true;
    case '\\':
      dest->append("\\\\");
      return true;
    case '<':
      // Keeps "</script>" from ending an enclosing script block.
      dest->append("\\u003C");
      return true;
    case 0x2028:
      dest->append("\\u2028");
      return true;
    case 0x2029:
      dest->append("\\u2029");
      return true;
  }
  if (code_point < 0x20) {
    StringAppendF(dest, "\\u%04X", static_cast<unsigned>(code_point));
    return true;
  }
  return false;
}

}  // namespace

bool EscapeJSONString(StringPiece str, bool put_in_quotes, std::string* dest) {
  CHECK(str.size() <= static_cast<size_t>(INT_MAX));
  bool did_replacement = false;
  if (put_in_quotes)
    dest->push_back('"');

  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(str.data());
  const int32_t length = static_cast<int32_t>(str.size());
  int32_t index = 0;
  while (index < length) {
    int32_t code_point = ReadUTF8CodePoint(bytes, &index, length);
    if (!internal::IsValidJSONCharacter(code_point)) {
      code_point = kReplacementCharacter;
      did_replacement = true;
    }
    if (!EscapeSpecialCodePoint(code_point, dest))
      WriteUnicodeCharacter(static_cast<uint32_t>(code_point), dest);
  }

  if (put_in_quotes)
    dest->push_back('"');
  return !did_replacement;
}

std::string GetQuotedJSONString(StringPiece str) {
  std::string dest;
  EscapeJSONString(str, true, &dest);
  return dest;
}

}  // namespace base
