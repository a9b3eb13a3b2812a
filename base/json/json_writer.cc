#include "base/json/json_writer.h"

#include <stdint.h>

#include <cmath>

#include "base/json/string_escape.h"
#include "base/strings/string_number_conversions.h"
#include "base/values.h"

namespace base {

namespace {

const char kPrettyPrintLineEnding[] = "\r\n";
const size_t kIndentWidth = 3;
// Small documents are written without a reallocation.
const size_t kInitialCapacity = 1024;

}  // namespace

// static
bool JSONWriter::Write(const Value& node, std::string* json) {
  return WriteWithOptions(node, 0, json);
}

// static
bool JSONWriter::WriteWithOptions(const Value& node,
                                  int options,
                                  std::string* json) {
  json->clear();
  if (json->capacity() < kInitialCapacity)
    json->reserve(kInitialCapacity);

  JSONWriter writer(options, json);
  bool result = writer.BuildJSONString(node, 0);
  if (options & kPrettyPrint)
    json->append(kPrettyPrintLineEnding);
  return result;
}

JSONWriter::JSONWriter(int options, std::string* json)
    : omit_binary_values_((options & kOmitBinaryValues) != 0),
      omit_double_type_preservation_((options & kOmitDoubleTypePreservation) !=
                                     0),
      pretty_print_((options & kPrettyPrint) != 0),
      json_string_(json) {}

void JSONWriter::IndentLine(size_t depth) {
  json_string_->append(depth * kIndentWidth, ' ');
}

bool JSONWriter::BuildJSONString(const Value& node, size_t depth) {
  switch (node.type()) {
    case Value::Type::NONE:
      json_string_->append("null");
      return true;

    case Value::Type::BOOLEAN:
      json_string_->append(node.GetBool() ? "true" : "false");
      return true;

    case Value::Type::INTEGER:
      json_string_->append(IntToString(node.GetInt()));
      return true;

    case Value::Type::DOUBLE: {
      double value = node.GetDouble();
      // 2^63 itself is out of range: it must not wrap to a negative number.
      if (omit_double_type_preservation_ && value == std::floor(value) &&
          value >= -9223372036854775808.0 && value < 9223372036854775808.0) {
        json_string_->append(Int64ToString(static_cast<int64_t>(value)));
        return true;
      }
      std::string real = DoubleToString(value);
      // Keep the value a double when it is read back.
      if (real.find_first_of(".eE") == std::string::npos)
        real.append(".0");
      // JSON numbers may not start with a bare '.'.
      if (real[0] == '.')
        real.insert(0, 1, '0');
      else if (real.size() > 1 && real[0] == '-' && real[1] == '.')
        real.insert(1, 1, '0');
      json_string_->append(real);
      return true;
    }

    case Value::Type::STRING:
      EscapeJSONString(node.GetString(), true, json_string_);
      return true;

    case Value::Type::BINARY:
      return omit_binary_values_;

    case Value::Type::DICTIONARY: {
      json_string_->push_back('{');
      if (pretty_print_)
        json_string_->append(kPrettyPrintLineEnding);

      bool result = true;
      bool first_value_has_been_output = false;
      for (const auto& entry : node.dict_storage()) {
        const Value& child = *entry.second;
        if (omit_binary_values_ && child.is_blob())
          continue;

        if (first_value_has_been_output) {
          json_string_->push_back(',');
          if (pretty_print_)
            json_string_->append(kPrettyPrintLineEnding);
        }
        if (pretty_print_)
          IndentLine(depth + 1);

        EscapeJSONString(entry.first, true, json_string_);
        json_string_->push_back(':');
        if (pretty_print_)
          json_string_->push_back(' ');

        if (!BuildJSONString(child, depth + 1))
          result = false;
        first_value_has_been_output = true;
      }

      if (pretty_print_) {
        json_string_->append(kPrettyPrintLineEnding);
        IndentLine(depth);
      }
      json_string_->push_back('}');
      return result;
    }

    case Value::Type::LIST: {
      json_string_->push_back('[');
      if (pretty_print_)
        json_string_->push_back(' ');

      bool result = true;
      bool first_value_has_been_output = false;
      for (const auto& owned : node.list_storage()) {
        const Value& element = *owned;
        if (omit_binary_values_ && element.is_blob())
          continue;
        if (first_value_has_been_output) {
          json_string_->push_back(',');
          if (pretty_print_)
            json_string_->push_back(' ');
        }
        if (!BuildJSONString(element, depth))
          result = false;
        first_value_has_been_output = true;
      }

      if (pretty_print_)
        json_string_->push_back(' ');
      json_string_->push_back(']');
      return result;
    }
  }
  return false;
}

}  // namespace base
