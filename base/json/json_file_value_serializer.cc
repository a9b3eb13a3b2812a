#include "base/json/json_file_value_serializer.h"

#include <windows.h>

#include "base/files/file_util.h"
#include "base/json/json_string_value_serializer.h"

namespace base {

namespace {

const char kAccessDeniedText[] = "Access denied.";
const char kCannotReadFileText[] = "Can't read file.";
const char kFileLockedText[] = "File locked.";
const char kNoSuchFileText[] = "File doesn't exist.";

}  // namespace

JSONFileValueDeserializer::JSONFileValueDeserializer(
    const FilePath& json_file_path, int options)
    : json_file_path_(json_file_path), options_(options), last_read_size_(0) {}

JSONFileValueDeserializer::~JSONFileValueDeserializer() = default;

int JSONFileValueDeserializer::ReadFileToString(std::string* json_string) {
  if (base::ReadFileToString(json_file_path_, json_string)) {
    last_read_size_ = json_string->size();
    return 0;
  }
  // Taken before anything else can overwrite it.
  DWORD error = ::GetLastError();
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
    return kFileLocked;
  if (error == ERROR_ACCESS_DENIED)
    return kAccessDenied;
  return PathExists(json_file_path_) ? kCannotReadFile : kNoSuchFile;
}

// static
const char* JSONFileValueDeserializer::GetErrorMessageForCode(int error_code) {
  switch (error_code) {
    case kAccessDenied:
      return kAccessDeniedText;
    case kCannotReadFile:
      return kCannotReadFileText;
    case kFileLocked:
      return kFileLockedText;
    case kNoSuchFile:
      return kNoSuchFileText;
  }
  return "";
}

std::unique_ptr<Value> JSONFileValueDeserializer::Deserialize(
    int* error_code, std::string* error_message) {
  std::string json_string;
  int read_error = ReadFileToString(&json_string);
  if (read_error != 0) {
    if (error_code)
      *error_code = read_error;
    if (error_message)
      *error_message = GetErrorMessageForCode(read_error);
    return nullptr;
  }
  JSONStringValueDeserializer deserializer(json_string, options_);
  return deserializer.Deserialize(error_code, error_message);
}

}  // namespace base
