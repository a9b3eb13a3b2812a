#ifndef BASE_JSON_JSON_READER_H_
#define BASE_JSON_JSON_READER_H_

#include <memory>
#include <string>

#include "base/macros.h"
#include "base/strings/string_piece.h"

namespace base {

namespace internal {
class JSONParser;
}

class Value;

// Parser options, a bit set. 0 is the strict default.
enum JSONParserOptions {
  // A ',' directly before '}' or ']' is accepted.
  kAllowTrailingCommas = 1 << 0,
  // Invalid UTF-8 in strings, and \u escapes of non-characters, become
  // U+FFFD instead of failing.
  kReplaceInvalidCharacters = 1 << 1,
};

// Reads UTF-8 JSON text into a Value tree. Besides standard JSON it accepts
// // and /* */ comments, and the escapes \v and \xHH in strings.
class JSONReader {
 public:
  enum JsonParseError {
    kNoError = 0,
    kInvalidEscape = 1,
    kSyntaxError = 2,
    kUnexpectedToken = 3,
    kTrailingComma = 4,
    kTooMuchNesting = 5,
    kUnexpectedDataAfterRoot = 6,
    kUnsupportedEncoding = 7,
    kUnquotedDictionaryKey = 8,
    kParseErrorCount,
  };

  // At most this many lists and dictionaries may be open at once.
  static const int kStackMaxDepth = 199;

  // Parses with options 0.
  JSONReader();
  ~JSONReader();

  // Null on any error.
  [[nodiscard]] static std::unique_ptr<Value> Read(StringPiece json);
  // On failure returns null and fills each given out place; on success they
  // are left untouched.
  [[nodiscard]] static std::unique_ptr<Value> ReadAndReturnError(
      StringPiece json,
      int options,
      int* error_code_out,
      std::string* error_msg_out,
      int* error_line_out = nullptr,
      int* error_column_out = nullptr);

  static std::string ErrorCodeToString(int error_code);

  // Parses with this reader's parser, which keeps the error for the
  // accessors below.
  [[nodiscard]] std::unique_ptr<Value> ReadToValue(StringPiece json);
  int error_code() const;
  std::string GetErrorMessage() const;

 private:
  std::unique_ptr<internal::JSONParser> parser_;

  DISALLOW_COPY_AND_ASSIGN(JSONReader);
};

}  // namespace base

#endif  // BASE_JSON_JSON_READER_H_
