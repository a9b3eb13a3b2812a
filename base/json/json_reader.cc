#include "base/json/json_reader.h"

#include "base/json/json_parser.h"
#include "base/values.h"

namespace base {

JSONReader::JSONReader() : parser_(new internal::JSONParser(0)) {}

JSONReader::~JSONReader() = default;

// static
std::unique_ptr<Value> JSONReader::Read(StringPiece json) {
  internal::JSONParser parser(0);
  return parser.Parse(json);
}

// static
std::unique_ptr<Value> JSONReader::ReadAndReturnError(
    StringPiece json,
    int options,
    int* error_code_out,
    std::string* error_msg_out,
    int* error_line_out,
    int* error_column_out) {
  internal::JSONParser parser(options);
  std::unique_ptr<Value> root = parser.Parse(json);
  if (root)
    return root;
  if (error_code_out)
    *error_code_out = parser.error_code();
  if (error_msg_out)
    *error_msg_out = parser.GetErrorMessage();
  if (error_line_out)
    *error_line_out = parser.error_line();
  if (error_column_out)
    *error_column_out = parser.error_column();
  return nullptr;
}

// static
std::string JSONReader::ErrorCodeToString(int error_code) {
  switch (error_code) {
    case kNoError:
      return std::string();
    case kInvalidEscape:
      return "Invalid escape sequence.";
    case kSyntaxError:
      return "Syntax error.";
    case kUnexpectedToken:
      return "Unexpected token.";
    case kTrailingComma:
      return "Trailing comma not allowed.";
    case kTooMuchNesting:
      return "Too much nesting.";
    case kUnexpectedDataAfterRoot:
      return "Unexpected data after root element.";
    case kUnsupportedEncoding:
      return "Unsupported encoding. JSON must be UTF-8.";
    case kUnquotedDictionaryKey:
      return "Dictionary keys must be quoted.";
  }
  return std::string();
}

std::unique_ptr<Value> JSONReader::ReadToValue(StringPiece json) {
  return parser_->Parse(json);
}

int JSONReader::error_code() const {
  return parser_->error_code();
}

std::string JSONReader::GetErrorMessage() const {
  return parser_->GetErrorMessage();
}

}  // namespace base
