#include "base/strings/string_number_conversions.h"

#include <ctype.h>
#include <errno.h>
#include <wctype.h>

#include <limits>
#include <type_traits>

#include "base/strings/decimal_conversion.h"

namespace base {

namespace {

template <typename StringType, typename Int>
StringType IntToStringT(Int value) {
  using Unsigned = typename std::make_unsigned<Int>::type;
  using CharT = typename StringType::value_type;
  // Enough for every digit of a 64-bit value and the sign.
  constexpr size_t kBufferSize = std::numeric_limits<Unsigned>::digits10 + 2;
  CharT buffer[kBufferSize];
  CharT* const end = buffer + kBufferSize;
  CharT* p = end;

  // Work on the magnitude as unsigned, so the most negative value is fine.
  const bool negative = value < 0;
  Unsigned magnitude = static_cast<Unsigned>(value);
  if (negative)
    magnitude = static_cast<Unsigned>(0) - magnitude;
  do {
    *--p = static_cast<CharT>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative)
    *--p = static_cast<CharT>('-');
  return StringType(p, end);
}

bool IsParserSpace(char c) {
  return isspace(static_cast<unsigned char>(c)) != 0;
}

bool IsParserSpace(wchar_t c) {
  return iswspace(c) != 0;
}

template <int kBase, typename CharT>
bool CharToDigit(CharT c, unsigned* digit) {
  if (c >= '0' && c <= '9' && c - '0' < kBase) {
    *digit = static_cast<unsigned>(c - '0');
    return true;
  }
  if (kBase > 10) {
    if (c >= 'a' && c < 'a' + kBase - 10) {
      *digit = static_cast<unsigned>(c - 'a' + 10);
      return true;
    }
    if (c >= 'A' && c < 'A' + kBase - 10) {
      *digit = static_cast<unsigned>(c - 'A' + 10);
      return true;
    }
  }
  return false;
}

template <typename Int, int kBase, typename CharT>
bool ParseInteger(const CharT* begin, const CharT* end, Int* output) {
  using Limits = std::numeric_limits<Int>;
  bool valid = true;

  // Leading white space fails the parse but not the value.
  while (begin != end && IsParserSpace(*begin)) {
    valid = false;
    ++begin;
  }

  bool negative = false;
  if (begin != end && *begin == '-') {
    if (!Limits::is_signed) {
      *output = 0;
      return false;
    }
    negative = true;
    ++begin;
  } else if (begin != end && *begin == '+') {
    ++begin;
  }

  // "0x" counts as a prefix only with a digit (or something) behind it, so
  // "0x" alone fails at the 'x'.
  if (kBase == 16 && end - begin > 2 && begin[0] == '0' &&
      (begin[1] == 'x' || begin[1] == 'X')) {
    begin += 2;
  }

  if (begin == end) {
    *output = 0;
    return false;
  }

  const Int max_before_digit = Limits::max() / kBase;
  const unsigned max_last_digit = static_cast<unsigned>(Limits::max() % kBase);
  const Int min_before_digit = Limits::min() / kBase;
  const unsigned min_last_digit =
      static_cast<unsigned>(0 - static_cast<int>(Limits::min() % kBase));

  Int value = 0;
  for (const CharT* p = begin; p != end; ++p) {
    unsigned digit;
    if (!CharToDigit<kBase>(*p, &digit)) {
      *output = value;
      return false;
    }
    if (p != begin) {
      if (!negative) {
        if (value > max_before_digit ||
            (value == max_before_digit && digit > max_last_digit)) {
          *output = Limits::max();
          return false;
        }
      } else {
        if (value < min_before_digit ||
            (value == min_before_digit && digit > min_last_digit)) {
          *output = Limits::min();
          return false;
        }
      }
    }
    // Negative numbers are accumulated downwards so the minimum is
    // reachable.
    if (!negative)
      value = static_cast<Int>(value * kBase + static_cast<Int>(digit));
    else
      value = static_cast<Int>(value * kBase - static_cast<Int>(digit));
  }
  *output = value;
  return valid;
}

template <typename Int, int kBase, typename Piece>
bool ParsePiece(Piece input, Int* output) {
  return ParseInteger<Int, kBase>(input.data(), input.data() + input.size(),
                                  output);
}

}  // namespace

std::string IntToString(int value) {
  return IntToStringT<std::string>(value);
}

string16 IntToString16(int value) {
  return IntToStringT<string16>(value);
}

std::string UintToString(unsigned int value) {
  return IntToStringT<std::string>(value);
}

string16 UintToString16(unsigned int value) {
  return IntToStringT<string16>(value);
}

std::string Int64ToString(int64_t value) {
  return IntToStringT<std::string>(value);
}

string16 Int64ToString16(int64_t value) {
  return IntToStringT<string16>(value);
}

std::string Uint64ToString(uint64_t value) {
  return IntToStringT<std::string>(value);
}

string16 Uint64ToString16(uint64_t value) {
  return IntToStringT<string16>(value);
}

std::string DoubleToString(double value) {
  char buffer[32];
  FormatShortestDouble(buffer, value);
  return std::string(buffer);
}

bool StringToInt(StringPiece input, int* output) {
  return ParsePiece<int, 10>(input, output);
}

bool StringToInt(StringPiece16 input, int* output) {
  return ParsePiece<int, 10>(input, output);
}

bool StringToUint(StringPiece input, unsigned int* output) {
  return ParsePiece<unsigned int, 10>(input, output);
}

bool StringToUint(StringPiece16 input, unsigned int* output) {
  return ParsePiece<unsigned int, 10>(input, output);
}

bool StringToInt64(StringPiece input, int64_t* output) {
  return ParsePiece<int64_t, 10>(input, output);
}

bool StringToInt64(StringPiece16 input, int64_t* output) {
  return ParsePiece<int64_t, 10>(input, output);
}

bool StringToUint64(StringPiece input, uint64_t* output) {
  return ParsePiece<uint64_t, 10>(input, output);
}

bool StringToSizeT(StringPiece input, size_t* output) {
  static_assert(sizeof(size_t) == sizeof(uint64_t), "size_t is 64-bit");
  uint64_t value = 0;
  const bool result = StringToUint64(input, &value);
  *output = static_cast<size_t>(value);
  return result;
}

bool HexStringToInt(StringPiece input, int* output) {
  return ParsePiece<int, 16>(input, output);
}

bool StringToDouble(const std::string& input, double* output) {
  // The parser reports range errors only through errno; keep the caller's
  // value unless there is one to report.
  const int saved_errno = errno;
  errno = 0;
  const char* end = nullptr;
  *output = ParseDouble(input.c_str(), &end);
  const bool valid = errno == 0 && !input.empty() &&
                     end == input.c_str() + input.size() &&
                     !IsParserSpace(input[0]);
  if (errno == 0)
    errno = saved_errno;
  return valid;
}

std::string HexEncode(const void* bytes, size_t size) {
  static const char kHexChars[] = "0123456789ABCDEF";
  const unsigned char* in = static_cast<const unsigned char*>(bytes);
  std::string result(size * 2, '\0');
  for (size_t i = 0; i < size; ++i) {
    result[2 * i] = kHexChars[in[i] >> 4];
    result[2 * i + 1] = kHexChars[in[i] & 0xf];
  }
  return result;
}

bool HexStringToBytes(StringPiece input, std::vector<uint8_t>* output) {
  const size_t count = input.size();
  if (count == 0 || count % 2 != 0)
    return false;
  for (size_t i = 0; i < count; i += 2) {
    unsigned high, low;
    if (!CharToDigit<16>(input[i], &high) ||
        !CharToDigit<16>(input[i + 1], &low)) {
      return false;
    }
    output->push_back(static_cast<uint8_t>((high << 4) | low));
  }
  return true;
}

}  // namespace base
