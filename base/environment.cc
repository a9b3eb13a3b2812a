#include "base/environment.h"

#include <windows.h>

#include <memory>

#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"

namespace base {

namespace {

class EnvironmentImpl : public Environment {
 public:
  bool GetVar(StringPiece variable_name, std::string* result) override {
    if (GetVarImpl(variable_name, result))
      return true;
    if (variable_name.empty())
      return false;
    const char first = variable_name[0];
    if (first >= 'a' && first <= 'z')
      return GetVarImpl(ToUpperASCII(variable_name), result);
    if (first >= 'A' && first <= 'Z')
      return GetVarImpl(ToLowerASCII(variable_name), result);
    return false;
  }

  bool SetVar(StringPiece variable_name,
              const std::string& new_value) override {
    return !!::SetEnvironmentVariableW(UTF8ToWide(variable_name).c_str(),
                                       UTF8ToWide(new_value).c_str());
  }

  bool UnSetVar(StringPiece variable_name) override {
    return !!::SetEnvironmentVariableW(UTF8ToWide(variable_name).c_str(),
                                       nullptr);
  }

 private:
  static bool GetVarImpl(StringPiece variable_name, std::string* result) {
    const std::wstring name = UTF8ToWide(variable_name);
    DWORD size = ::GetEnvironmentVariableW(name.c_str(), nullptr, 0);
    if (size == 0)
      return false;
    if (!result)
      return true;
    // The variable may grow between the two calls; then the second call
    // asks for a bigger buffer and we try again rather than read garbage.
    for (int attempt = 0; attempt < 3; ++attempt) {
      std::unique_ptr<wchar_t[]> buffer(new wchar_t[size]);
      // An empty value also returns 0; only the error tells them apart.
      ::SetLastError(ERROR_SUCCESS);
      DWORD got = ::GetEnvironmentVariableW(name.c_str(), buffer.get(), size);
      if (got == 0 && ::GetLastError() == ERROR_ENVVAR_NOT_FOUND)
        return false;
      if (got < size) {
        *result = WideToUTF8(std::wstring(buffer.get(), got));
        return true;
      }
      size = got;
    }
    return false;
  }
};

}  // namespace

Environment::~Environment() = default;

// static
std::unique_ptr<Environment> Environment::Create() {
  return std::make_unique<EnvironmentImpl>();
}

bool Environment::HasVar(StringPiece variable_name) {
  return GetVar(variable_name, nullptr);
}

}  // namespace base
