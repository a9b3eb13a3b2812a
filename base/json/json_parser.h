#ifndef BASE_JSON_JSON_PARSER_H_
#define BASE_JSON_JSON_PARSER_H_

#include <stdint.h>

#include <memory>
#include <string>

#include "base/macros.h"
#include "base/strings/string_piece.h"

namespace base {

class Value;

namespace internal {

// One parse at a time over UTF-8 JSON text; JSONReader is its public face.
//
// Invariant of every Consume* function: it is entered with the position on
// the value's first character and leaves it on the value's last character,
// so the caller steps over one character before reading the next token.
//
// The error column counts bytes from the index of the last line break, so
// on every line after the first it is one more than a 1-based column.
class JSONParser {
 public:
  explicit JSONParser(int options);
  ~JSONParser();

  // Null on failure, with the error in the accessors below. A failure
  // without code (a number too large for a double) has an empty message.
  std::unique_ptr<Value> Parse(StringPiece input);

  int error_code() const { return error_code_; }
  std::string GetErrorMessage() const;
  int error_line() const { return error_line_; }
  int error_column() const { return error_column_; }

 private:
  enum Token {
    T_OBJECT_BEGIN,
    T_OBJECT_END,
    T_ARRAY_BEGIN,
    T_ARRAY_END,
    T_STRING,
    T_NUMBER,
    T_BOOL_TRUE,
    T_BOOL_FALSE,
    T_NULL,
    T_LIST_SEPARATOR,
    T_OBJECT_PAIR_SEPARATOR,
    T_END_OF_INPUT,
    T_INVALID_TOKEN,
  };

  class StringBuilder;

  // Skips whitespace and comments, then classifies the character at the
  // position without consuming it.
  Token GetNextToken();
  void EatWhitespaceAndComments();
  void Advance() {
    ++pos_;
    ++index_;
  }

  std::unique_ptr<Value> ParseToken(Token token);
  std::unique_ptr<Value> ConsumeDictionary();
  std::unique_ptr<Value> ConsumeList();
  std::unique_ptr<Value> ConsumeString();
  // Reads the string at the position (on its opening quote) into |out| and
  // leaves the position on the closing quote.
  bool ConsumeStringRaw(std::string* out);
  // Entered on the 'u' of a \u escape; appends the UTF-8 of the unit, or of
  // the surrogate pair it starts, and leaves the position on the last
  // character consumed.
  bool DecodeUTF16(std::string* dest);
  std::unique_ptr<Value> ConsumeNumber();
  // Steps over a run of digits; false when there is none, or when
  // |allow_leading_zeros| is false and a longer run starts with '0'.
  bool ReadInt(bool allow_leading_zeros);
  std::unique_ptr<Value> ConsumeLiteral();

  void ReportError(int code, int column_adjust);

  const int options_;
  const char* start_pos_ = nullptr;
  const char* pos_ = nullptr;
  const char* end_pos_ = nullptr;
  int32_t index_ = 0;
  int32_t stack_depth_ = 0;
  int32_t line_number_ = 0;
  int32_t index_last_line_ = 0;
  int32_t error_code_ = 0;
  int32_t error_line_ = 0;
  int32_t error_column_ = 0;

  DISALLOW_COPY_AND_ASSIGN(JSONParser);
};

}  // namespace internal
}  // namespace base

#endif  // BASE_JSON_JSON_PARSER_H_
