#ifndef BASE_JSON_JSON_WRITER_H_
#define BASE_JSON_JSON_WRITER_H_

#include <stddef.h>

#include <string>

#include "base/macros.h"

namespace base {

class Value;

// Prints a Value tree as JSON text.
class JSONWriter {
 public:
  enum Options {
    // Binary values and their keys are skipped instead of failing the write.
    kOmitBinaryValues = 1 << 0,
    // A double without fractional part is written as an integer. Without
    // this, doubles always carry a '.' or an exponent, so that they read
    // back as doubles.
    kOmitDoubleTypePreservation = 1 << 1,
    // Line breaks ("\r\n") and indentation (three spaces per level).
    kPrettyPrint = 1 << 2,
  };

  // WriteWithOptions with options 0.
  static bool Write(const Value& node, std::string* json);
  // Replaces |json|. False when a binary value was met without
  // kOmitBinaryValues; everything else is written all the same.
  static bool WriteWithOptions(const Value& node,
                               int options,
                               std::string* json);

 private:
  JSONWriter(int options, std::string* json);

  bool BuildJSONString(const Value& node, size_t depth);
  void IndentLine(size_t depth);

  const bool omit_binary_values_;
  const bool omit_double_type_preservation_;
  const bool pretty_print_;
  std::string* json_string_;

  DISALLOW_COPY_AND_ASSIGN(JSONWriter);
};

}  // namespace base

#endif  // BASE_JSON_JSON_WRITER_H_
