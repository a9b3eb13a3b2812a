#ifndef BASE_JSON_JSON_STRING_VALUE_SERIALIZER_H_
#define BASE_JSON_JSON_STRING_VALUE_SERIALIZER_H_

#include <memory>
#include <string>

#include "base/macros.h"
#include "base/strings/string_piece.h"
#include "base/values.h"

namespace base {

// Writes values as JSON into a string owned by the caller.
class JSONStringValueSerializer : public ValueSerializer {
 public:
  // |json_string| is not owned and must outlive the serializer.
  explicit JSONStringValueSerializer(std::string* json_string);
  ~JSONStringValueSerializer() override;

  // False when there is no destination or a binary value was met.
  bool Serialize(const Value& root) override;

  void set_pretty_print(bool new_value) { pretty_print_ = new_value; }
  bool pretty_print() const { return pretty_print_; }

 private:
  std::string* json_string_;
  bool pretty_print_;

  DISALLOW_COPY_AND_ASSIGN(JSONStringValueSerializer);
};

// Reads a value from JSON text owned by the caller.
class JSONStringValueDeserializer : public ValueDeserializer {
 public:
  // |json_string| is not copied and must outlive the deserializer.
  // |options| are the JSONParserOptions.
  JSONStringValueDeserializer(StringPiece json_string, int options = 0);
  ~JSONStringValueDeserializer() override;

  // On failure the parser's code (0 to 8) and message.
  [[nodiscard]] std::unique_ptr<Value> Deserialize(
      int* error_code, std::string* error_message) override;

 private:
  StringPiece json_string_;
  int options_;

  DISALLOW_COPY_AND_ASSIGN(JSONStringValueDeserializer);
};

}  // namespace base

#endif  // BASE_JSON_JSON_STRING_VALUE_SERIALIZER_H_
