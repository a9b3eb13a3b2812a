#include "base/json/json_parser.h"

#include <errno.h>
#include <limits.h>
#include <string.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "base/json/json_reader.h"
#include "base/json/string_escape.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf8_reader.h"
#include "base/strings/utf_string_conversion_utils.h"
#include "base/values.h"

namespace base {
namespace internal {

namespace {

const char kReplacementUTF8[] = "\xEF\xBF\xBD";

// Keeps the depth count balanced on every way out of a container.
class DepthScope {
 public:
  explicit DepthScope(int32_t* depth) : depth_(depth) { ++*depth_; }
  ~DepthScope() { --*depth_; }

 private:
  int32_t* depth_;
};

}  // namespace

// Most strings in JSON documents are plain ASCII without escapes: those stay
// a view into the input and are copied once, at their end. The first escape
// or non-ASCII character turns the view into an owned copy.
class JSONParser::StringBuilder {
 public:
  explicit StringBuilder(const char* start) : start_(start) {}

  // |c| must be the input character right behind the view, unless the
  // builder owns its text already.
  void Append(char c) {
    if (owned_)
      string_.push_back(c);
    else
      ++length_;
  }

  void Convert() {
    if (owned_)
      return;
    string_.assign(start_, length_);
    owned_ = true;
  }

  // Requires Convert() first.
  std::string* owned() { return &string_; }

  std::string Take() {
    if (owned_)
      return std::move(string_);
    return std::string(start_, length_);
  }

 private:
  const char* start_;
  size_t length_ = 0;
  bool owned_ = false;
  std::string string_;
};

JSONParser::JSONParser(int options) : options_(options) {}

JSONParser::~JSONParser() = default;

std::unique_ptr<Value> JSONParser::Parse(StringPiece input) {
  start_pos_ = input.data();
  pos_ = start_pos_;
  end_pos_ = start_pos_ + input.size();
  index_ = 0;
  stack_depth_ = 0;
  line_number_ = 1;
  index_last_line_ = 0;
  error_code_ = 0;
  error_line_ = 0;
  error_column_ = 0;

  // Indexes are 32-bit.
  if (input.size() > static_cast<size_t>(INT_MAX)) {
    end_pos_ = start_pos_;
    ReportError(JSONReader::kSyntaxError, 1);
    return nullptr;
  }

  if (input.size() >= 3 && static_cast<uint8_t>(input[0]) == 0xEF &&
      static_cast<uint8_t>(input[1]) == 0xBB &&
      static_cast<uint8_t>(input[2]) == 0xBF) {
    pos_ += 3;
    index_ = 3;
  }

  std::unique_ptr<Value> root = ParseToken(GetNextToken());
  if (!root)
    return nullptr;

  // The position is on the root's last character: step over it, then only
  // whitespace and comments may follow.
  if (GetNextToken() != T_END_OF_INPUT) {
    Advance();
    if (GetNextToken() != T_END_OF_INPUT) {
      ReportError(JSONReader::kUnexpectedDataAfterRoot, 1);
      return nullptr;
    }
  }
  return root;
}

std::string JSONParser::GetErrorMessage() const {
  std::string description = JSONReader::ErrorCodeToString(error_code_);
  if (error_line_ || error_column_) {
    return StringPrintf("Line: %i, column: %i, %s", error_line_, error_column_,
                        description.c_str());
  }
  return description;
}

JSONParser::Token JSONParser::GetNextToken() {
  EatWhitespaceAndComments();
  if (pos_ >= end_pos_)
    return T_END_OF_INPUT;
  switch (*pos_) {
    case '{':
      return T_OBJECT_BEGIN;
    case '}':
      return T_OBJECT_END;
    case '[':
      return T_ARRAY_BEGIN;
    case ']':
      return T_ARRAY_END;
    case '"':
      return T_STRING;
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
      return T_NUMBER;
    case 't':
      return T_BOOL_TRUE;
    case 'f':
      return T_BOOL_FALSE;
    case 'n':
      return T_NULL;
    case ',':
      return T_LIST_SEPARATOR;
    case ':':
      return T_OBJECT_PAIR_SEPARATOR;
    default:
      return T_INVALID_TOKEN;
  }
}

void JSONParser::EatWhitespaceAndComments() {
  while (pos_ < end_pos_) {
    switch (*pos_) {
      case '\r':
      case '\n':
        index_last_line_ = index_;
        // "\r\n" is one line break.
        if (!(*pos_ == '\n' && pos_ > start_pos_ && pos_[-1] == '\r'))
          ++line_number_;
        Advance();
        break;
      case ' ':
      case '\t':
        Advance();
        break;
      case '/': {
        if (pos_ + 1 >= end_pos_) {
          Advance();
          return;
        }
        char next = pos_[1];
        if (next == '/') {
          Advance();
          Advance();
          // The line break that ends the comment is counted by the loop.
          while (pos_ < end_pos_ && *pos_ != '\r' && *pos_ != '\n')
            Advance();
        } else if (next == '*') {
          Advance();
          Advance();
          // The opening star counts, so "/*/" is a whole comment.
          char previous = '*';
          while (pos_ < end_pos_) {
            char c = *pos_;
            Advance();
            if (previous == '*' && c == '/')
              break;
            previous = c;
          }
        } else {
          // A lone '/' is dropped; the character behind it is the token.
          Advance();
          return;
        }
        break;
      }
      default:
        return;
    }
  }
}

std::unique_ptr<Value> JSONParser::ParseToken(Token token) {
  switch (token) {
    case T_OBJECT_BEGIN:
      return ConsumeDictionary();
    case T_ARRAY_BEGIN:
      return ConsumeList();
    case T_STRING:
      return ConsumeString();
    case T_NUMBER:
      return ConsumeNumber();
    case T_BOOL_TRUE:
    case T_BOOL_FALSE:
    case T_NULL:
      return ConsumeLiteral();
    default:
      ReportError(JSONReader::kUnexpectedToken, 1);
      return nullptr;
  }
}

std::unique_ptr<Value> JSONParser::ConsumeDictionary() {
  if (stack_depth_ >= JSONReader::kStackMaxDepth) {
    ReportError(JSONReader::kTooMuchNesting, 1);
    return nullptr;
  }
  DepthScope depth(&stack_depth_);

  // Collected first and sorted once, instead of inserting each pair into
  // the sorted storage.
  Value::DictStorage pairs;
  Advance();
  Token token = GetNextToken();
  while (token == T_STRING) {
    std::string key;
    if (!ConsumeStringRaw(&key))
      return nullptr;
    Advance();
    if (GetNextToken() != T_OBJECT_PAIR_SEPARATOR) {
      ReportError(JSONReader::kSyntaxError, 1);
      return nullptr;
    }
    Advance();
    std::unique_ptr<Value> value = ParseToken(GetNextToken());
    if (!value)
      return nullptr;
    pairs.emplace_back(std::move(key), std::move(value));

    Advance();
    token = GetNextToken();
    if (token == T_OBJECT_END)
      break;
    if (token != T_LIST_SEPARATOR) {
      ReportError(JSONReader::kSyntaxError, 0);
      return nullptr;
    }
    Advance();
    token = GetNextToken();
    if (token == T_OBJECT_END && !(options_ & kAllowTrailingCommas)) {
      ReportError(JSONReader::kTrailingComma, 1);
      return nullptr;
    }
  }
  if (token != T_OBJECT_END) {
    ReportError(JSONReader::kUnquotedDictionaryKey, 1);
    return nullptr;
  }

  // Into the order a dictionary keeps (unsigned bytes, a prefix first);
  // stable, so that of equal keys the one written last is kept.
  std::stable_sort(pairs.begin(), pairs.end(),
                   [](const Value::DictEntry& a, const Value::DictEntry& b) {
                     return StringPiece(a.first) < StringPiece(b.first);
                   });
  Value::DictStorage storage;
  storage.reserve(pairs.size());
  for (size_t i = 0; i < pairs.size(); ++i) {
    if (i + 1 < pairs.size() && pairs[i].first == pairs[i + 1].first)
      continue;
    storage.push_back(std::move(pairs[i]));
  }
  return Value::ToUniquePtrValue(Value(std::move(storage)));
}

std::unique_ptr<Value> JSONParser::ConsumeList() {
  if (stack_depth_ >= JSONReader::kStackMaxDepth) {
    ReportError(JSONReader::kTooMuchNesting, 1);
    return nullptr;
  }
  DepthScope depth(&stack_depth_);

  Value::ListStorage list;
  Advance();
  Token token = GetNextToken();
  while (token != T_ARRAY_END) {
    std::unique_ptr<Value> item = ParseToken(token);
    if (!item)
      return nullptr;
    list.push_back(std::move(item));

    Advance();
    token = GetNextToken();
    if (token == T_LIST_SEPARATOR) {
      Advance();
      token = GetNextToken();
      if (token == T_ARRAY_END && !(options_ & kAllowTrailingCommas)) {
        ReportError(JSONReader::kTrailingComma, 1);
        return nullptr;
      }
    } else if (token != T_ARRAY_END) {
      ReportError(JSONReader::kSyntaxError, 1);
      return nullptr;
    }
  }
  return Value::ToUniquePtrValue(Value(std::move(list)));
}

std::unique_ptr<Value> JSONParser::ConsumeString() {
  std::string text;
  if (!ConsumeStringRaw(&text))
    return nullptr;
  return std::make_unique<Value>(std::move(text));
}

bool JSONParser::ConsumeStringRaw(std::string* out) {
  if (pos_ + 1 >= end_pos_) {
    ReportError(JSONReader::kSyntaxError, 1);
    return false;
  }
  Advance();
  if (*pos_ == '"') {
    out->clear();
    return true;
  }

  // From here |index_| runs ahead of |pos_|: |pos_| is on the character
  // being examined and |index_| past it, which is where errors point.
  StringBuilder string(pos_);
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(start_pos_);
  const int32_t length = static_cast<int32_t>(end_pos_ - start_pos_);
  while (index_ < length) {
    pos_ = start_pos_ + index_;
    const int32_t char_start = index_;
    int32_t code_point = ReadUTF8CodePoint(bytes, &index_, length);
    if (!IsValidJSONCharacter(code_point)) {
      if (!(options_ & kReplaceInvalidCharacters)) {
        ReportError(JSONReader::kUnsupportedEncoding, 1);
        return false;
      }
      string.Convert();
      string.owned()->append(kReplacementUTF8);
      continue;
    }

    if (code_point == '"') {
      --index_;
      *out = string.Take();
      return true;
    }

    if (code_point != '\\') {
      if (code_point < 0x80) {
        string.Append(static_cast<char>(code_point));
      } else {
        string.Convert();
        string.owned()->append(start_pos_ + char_start, index_ - char_start);
      }
      continue;
    }

    // An escape: the text differs from the input from here on.
    string.Convert();
    std::string* dest = string.owned();
    Advance();  // |pos_| on the escape letter, |index_| past it.
    if (pos_ >= end_pos_) {
      ReportError(JSONReader::kInvalidEscape, 0);
      return false;
    }
    switch (*pos_) {
      case 'x': {
        if (end_pos_ - pos_ < 3) {
          ReportError(JSONReader::kInvalidEscape, 1);
          return false;
        }
        Advance();
        int value = 0;
        if (!HexStringToInt(StringPiece(pos_, 2), &value) || value < 0) {
          ReportError(JSONReader::kInvalidEscape, -1);
          return false;
        }
        Advance();
        if (value < 0x80)
          dest->push_back(static_cast<char>(value));
        else
          WriteUnicodeCharacter(static_cast<uint32_t>(value), dest);
        break;
      }
      case 'u': {
        if (end_pos_ - pos_ < 5) {
          ReportError(JSONReader::kInvalidEscape, 0);
          return false;
        }
        if (!DecodeUTF16(dest)) {
          ReportError(JSONReader::kInvalidEscape, -1);
          return false;
        }
        break;
      }
      case '"':
      case '\\':
      case '/':
        dest->push_back(*pos_);
        break;
      case 'b':
        dest->push_back('\b');
        break;
      case 'f':
        dest->push_back('\f');
        break;
      case 'n':
        dest->push_back('\n');
        break;
      case 'r':
        dest->push_back('\r');
        break;
      case 't':
        dest->push_back('\t');
        break;
      case 'v':
        dest->push_back('\v');
        break;
      default:
        ReportError(JSONReader::kInvalidEscape, 0);
        return false;
    }
  }

  ReportError(JSONReader::kSyntaxError, 0);
  return false;
}

bool JSONParser::DecodeUTF16(std::string* dest) {
  Advance();  // On the first of the four characters.
  int unit = 0;
  if (!HexStringToInt(StringPiece(pos_, 4), &unit))
    return false;
  pos_ += 3;
  index_ += 3;

  if (unit >= 0xD800 && unit <= 0xDFFF) {
    // Only a lead surrogate directly followed by an escaped trail surrogate
    // makes a character.
    if (unit >= 0xDC00)
      return false;
    if (end_pos_ - pos_ < 7)
      return false;
    Advance();
    if (*pos_ != '\\')
      return false;
    Advance();
    if (*pos_ != 'u')
      return false;
    Advance();
    int trail = 0;
    if (!HexStringToInt(StringPiece(pos_, 4), &trail))
      return false;
    pos_ += 3;
    index_ += 3;
    if (trail < 0xDC00 || trail > 0xDFFF)
      return false;
    int32_t code_point = 0x10000 + ((unit - 0xD800) << 10) + (trail - 0xDC00);
    if (!IsValidJSONCharacter(code_point))
      return false;
    WriteUnicodeCharacter(static_cast<uint32_t>(code_point), dest);
    return true;
  }

  if (!IsValidJSONCharacter(unit)) {
    if (!(options_ & kReplaceInvalidCharacters))
      return false;
    dest->append(kReplacementUTF8);
    return true;
  }
  WriteUnicodeCharacter(static_cast<uint32_t>(unit), dest);
  return true;
}

bool JSONParser::ReadInt(bool allow_leading_zeros) {
  char first = 0;
  int length = 0;
  while (pos_ < end_pos_ && IsAsciiDigit(*pos_)) {
    if (length == 0)
      first = *pos_;
    ++length;
    Advance();
  }
  if (length == 0)
    return false;
  return allow_leading_zeros || length == 1 || first != '0';
}

std::unique_ptr<Value> JSONParser::ConsumeNumber() {
  const char* num_start = pos_;
  const int32_t start_index = index_;
  int32_t end_index = start_index;

  if (*pos_ == '-')
    Advance();
  if (!ReadInt(false)) {
    ReportError(JSONReader::kSyntaxError, 1);
    return nullptr;
  }
  end_index = index_;

  if (pos_ < end_pos_ && *pos_ == '.') {
    Advance();
    if (!ReadInt(true)) {
      ReportError(JSONReader::kSyntaxError, 1);
      return nullptr;
    }
    end_index = index_;
  }

  if (pos_ < end_pos_ && (*pos_ == 'e' || *pos_ == 'E')) {
    Advance();
    if (pos_ < end_pos_ && (*pos_ == '-' || *pos_ == '+'))
      Advance();
    if (!ReadInt(true)) {
      ReportError(JSONReader::kSyntaxError, 1);
      return nullptr;
    }
    end_index = index_;
  }

  // A number has no closing character, so what follows it must be checked
  // here; then the position goes back to the number's last character. Line
  // breaks seen by this look-ahead are counted again on the way forward.
  const char* exit_pos = pos_ - 1;
  const int32_t exit_index = index_ - 1;
  switch (GetNextToken()) {
    case T_OBJECT_END:
    case T_ARRAY_END:
    case T_LIST_SEPARATOR:
    case T_END_OF_INPUT:
      break;
    default:
      ReportError(JSONReader::kSyntaxError, 1);
      return nullptr;
  }
  pos_ = exit_pos;
  index_ = exit_index;

  StringPiece number(num_start, static_cast<size_t>(end_index - start_index));
  int int_value;
  if (StringToInt(number, &int_value))
    return std::make_unique<Value>(int_value);
  // The conversion calls a result below the normal range an underflow, but
  // such a subnormal is still the nearest double to the text, and the writer
  // writes these (5e-324), so they are read back. Only a result that fell to
  // zero or grew past the largest double is refused. The grammar was checked
  // above, so a range error is the only way the conversion can fail here.
  const int saved_errno = errno;
  errno = 0;
  double double_value;
  bool converted = StringToDouble(number.as_string(), &double_value);
  if (!converted && errno == ERANGE && double_value != 0)
    converted = true;
  errno = saved_errno;
  if (converted && std::isfinite(double_value))
    return std::make_unique<Value>(double_value);
  // Not representable: a failure without an error code.
  return nullptr;
}

std::unique_ptr<Value> JSONParser::ConsumeLiteral() {
  struct Literal {
    const char* text;
    size_t length;
  };
  static const Literal kTrue = {"true", 4};
  static const Literal kFalse = {"false", 5};
  static const Literal kNull = {"null", 4};
  const Literal* literal = *pos_ == 't'   ? &kTrue
                           : *pos_ == 'f' ? &kFalse
                                          : &kNull;
  if (static_cast<size_t>(end_pos_ - pos_) < literal->length ||
      memcmp(pos_, literal->text, literal->length) != 0) {
    ReportError(JSONReader::kSyntaxError, 1);
    return nullptr;
  }
  pos_ += literal->length - 1;
  index_ += static_cast<int32_t>(literal->length - 1);
  if (literal == &kNull)
    return std::make_unique<Value>();
  return std::make_unique<Value>(literal == &kTrue);
}

void JSONParser::ReportError(int code, int column_adjust) {
  error_code_ = code;
  error_line_ = line_number_;
  error_column_ = index_ + column_adjust - index_last_line_;
}

}  // namespace internal
}  // namespace base
