#include "base/json/json_string_value_serializer.h"

#include "base/json/json_reader.h"
#include "base/json/json_writer.h"

namespace base {

JSONStringValueSerializer::JSONStringValueSerializer(std::string* json_string)
    : json_string_(json_string), pretty_print_(false) {}

JSONStringValueSerializer::~JSONStringValueSerializer() = default;

bool JSONStringValueSerializer::Serialize(const Value& root) {
  if (!json_string_)
    return false;
  int options = pretty_print_ ? JSONWriter::kPrettyPrint : 0;
  return JSONWriter::WriteWithOptions(root, options, json_string_);
}

JSONStringValueDeserializer::JSONStringValueDeserializer(
    StringPiece json_string, int options)
    : json_string_(json_string), options_(options) {}

JSONStringValueDeserializer::~JSONStringValueDeserializer() = default;

std::unique_ptr<Value> JSONStringValueDeserializer::Deserialize(
    int* error_code, std::string* error_message) {
  return JSONReader::ReadAndReturnError(json_string_, options_, error_code,
                                        error_message);
}

}  // namespace base
