#include "base/location.h"

#include <stdint.h>
#include <stdio.h>

namespace base {

Location::Location() = default;

Location::Location(const char* function_name,
                   const char* file_name,
                   int line_number,
                   const void* program_counter)
    : function_name_(function_name),
      file_name_(file_name),
      line_number_(line_number),
      program_counter_(program_counter) {}

Location::Location(const Location& other) = default;

Location& Location::operator=(const Location& other) = default;

Location::~Location() = default;

// Must stay a real call: its return address is the posting site.
__attribute__((noinline)) Location Location::CreateFromHere(
    const char* function_name, const char* file_name, int line_number) {
  return Location(function_name, file_name, line_number,
                  __builtin_extract_return_addr(__builtin_return_address(0)));
}

std::string Location::ToString() const {
  if (has_source_info()) {
    return std::string(function_name_) + "@" + file_name_ + ":" +
           std::to_string(line_number_);
  }
  char buffer[3 + 16 + 1];
  snprintf(buffer, sizeof(buffer), "pc:%llx",
           static_cast<unsigned long long>(
               reinterpret_cast<uintptr_t>(program_counter_)));
  return buffer;
}

__attribute__((noinline)) const void* GetProgramCounter() {
  return __builtin_extract_return_addr(__builtin_return_address(0));
}

}  // namespace base
