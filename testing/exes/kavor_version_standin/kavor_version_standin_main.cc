// Stands in for the installer of an old package, which carries no version
// resource: `--version` and `--stream` print, without a line end, what the
// installer would. The answers come from a text file beside the program
// named like it with the extension "txt" (installer.exe reads
// installer.txt): the version on the first line, the stream on the second
// and, optionally, on the third the name of a file that must lie beside the
// program, as a library the real installer loads would. Without that file
// the answers are "47.0.4127.0" and "developer". When the named file is
// missing, or with any other switch, nothing is printed and the exit code
// is 2.

#include <windows.h>

#include <string.h>

#include <string>

#include "testing/exes/standin_calls.h"

namespace {

const char kDefaultVersion[] = "47.0.4127.0";
const char kDefaultStream[] = "developer";

void Print(const std::string& text) {
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(),
              static_cast<DWORD>(text.size()), &written, nullptr);
}

bool ReadFileText(const std::wstring& path, std::string* text) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read)
    text->append(buffer, read);
  ::CloseHandle(file);
  return true;
}

// Line |index| (from 0) of |text| without its line end; empty past the end.
std::string Line(const std::string& text, int index) {
  size_t start = 0;
  for (int i = 0; i < index; ++i) {
    start = text.find('\n', start);
    if (start == std::string::npos)
      return std::string();
    ++start;
  }
  std::string line = text.substr(start, text.find('\n', start) - start);
  if (!line.empty() && line.back() == '\r')
    line.pop_back();
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2)
    return 2;
  std::wstring own;
  if (!standin::GetOwnPath(&own))
    return 2;
  const size_t dot = own.rfind(L'.');
  const size_t slash = own.rfind(L'\\');
  if (dot == std::wstring::npos ||
      (slash != std::wstring::npos && dot < slash)) {
    return 2;
  }
  std::string version = kDefaultVersion;
  std::string stream = kDefaultStream;
  std::string answers;
  if (ReadFileText(own.substr(0, dot) + L".txt", &answers)) {
    version = Line(answers, 0);
    stream = Line(answers, 1);
    const std::string required = Line(answers, 2);
    if (!required.empty()) {
      const std::wstring sibling =
          own.substr(0, slash + 1) +
          std::wstring(required.begin(), required.end());
      if (::GetFileAttributesW(sibling.c_str()) == INVALID_FILE_ATTRIBUTES)
        return 2;
    }
  }
  if (strcmp(argv[1], "--version") == 0) {
    Print(version);
    return 0;
  }
  if (strcmp(argv[1], "--stream") == 0) {
    Print(stream);
    return 0;
  }
  return 2;
}
