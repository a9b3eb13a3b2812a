#ifndef BASE_ENVIRONMENT_H_
#define BASE_ENVIRONMENT_H_

#include <memory>
#include <string>

#include "base/strings/string_piece.h"

namespace base {

// The variables of the process environment. Names and values are UTF-8.
class Environment {
 public:
  virtual ~Environment();

  static std::unique_ptr<Environment> Create();

  // True when the variable exists; its value goes to |result| when that is
  // not null. A name that is not found as given is looked up once more with
  // its letters' case flipped by its first letter (lower-case first letter:
  // all upper; upper-case first letter: all lower).
  [[nodiscard]] virtual bool GetVar(StringPiece variable_name,
                                    std::string* result) = 0;

  virtual bool HasVar(StringPiece variable_name);

  [[nodiscard]] virtual bool SetVar(StringPiece variable_name,
                                    const std::string& new_value) = 0;

  [[nodiscard]] virtual bool UnSetVar(StringPiece variable_name) = 0;
};

}  // namespace base

#endif  // BASE_ENVIRONMENT_H_
