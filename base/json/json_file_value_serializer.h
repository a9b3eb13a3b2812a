#ifndef BASE_JSON_JSON_FILE_VALUE_SERIALIZER_H_
#define BASE_JSON_JSON_FILE_VALUE_SERIALIZER_H_

#include <stddef.h>

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/values.h"

namespace base {

// Reads a value from a JSON file.
class JSONFileValueDeserializer : public ValueDeserializer {
 public:
  // Failures to read the file, numbered after the parser's error codes.
  enum JsonFileError {
    kAccessDenied = 1000,
    kCannotReadFile = 1001,
    kFileLocked = 1002,
    kNoSuchFile = 1003,
  };

  // |options| are the JSONParserOptions.
  explicit JSONFileValueDeserializer(const FilePath& json_file_path,
                                     int options = 0);
  ~JSONFileValueDeserializer() override;

  // On failure the parser's code and message for bad JSON, or one of the
  // file codes above and its text when the file cannot be read.
  [[nodiscard]] std::unique_ptr<Value> Deserialize(
      int* error_code, std::string* error_message) override;

  // The text of a JsonFileError code; empty for any other code.
  static const char* GetErrorMessageForCode(int error_code);

  // Size of the text of the last successful read; 0 before one.
  size_t get_last_read_size() const { return last_read_size_; }

 private:
  // 0 on success, else a JsonFileError.
  int ReadFileToString(std::string* json_string);

  const FilePath json_file_path_;
  const int options_;
  size_t last_read_size_;

  DISALLOW_COPY_AND_ASSIGN(JSONFileValueDeserializer);
};

}  // namespace base

#endif  // BASE_JSON_JSON_FILE_VALUE_SERIALIZER_H_
