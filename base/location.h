#ifndef BASE_LOCATION_H_
#define BASE_LOCATION_H_

#include <string>

namespace base {

// Where a task was posted from: travels with every task so that a hang or a
// crash inside it can be traced back to the code that asked for it. The
// names point at static strings that are never copied or owned.
class Location {
 public:
  // No source information: both names null, line -1.
  Location();
  Location(const char* function_name,
           const char* file_name,
           int line_number,
           const void* program_counter);
  Location(const Location& other);
  Location& operator=(const Location& other);
  ~Location();

  // The program counter recorded is the return address of this call, an
  // address inside the posting function.
  static Location CreateFromHere(const char* function_name,
                                 const char* file_name,
                                 int line_number);

  bool has_source_info() const { return function_name_ && file_name_; }

  const char* function_name() const { return function_name_; }
  const char* file_name() const { return file_name_; }
  int line_number() const { return line_number_; }
  const void* program_counter() const { return program_counter_; }

  // "function@file:line", or the program counter in hex when there is no
  // source information.
  std::string ToString() const;

 private:
  const char* function_name_ = nullptr;
  const char* file_name_ = nullptr;
  int line_number_ = -1;
  const void* program_counter_ = nullptr;
};

// The code address just after the call site of this function.
const void* GetProgramCounter();

}  // namespace base

#define FROM_HERE FROM_HERE_WITH_EXPLICIT_FUNCTION(__func__)

#define FROM_HERE_WITH_EXPLICIT_FUNCTION(function_name) \
  ::base::Location::CreateFromHere(function_name, __FILE__, __LINE__)

#endif  // BASE_LOCATION_H_
