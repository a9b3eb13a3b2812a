// Stands in for the browser in test packages, where it becomes kavor.exe:
// it carries the browser's version resource, and `--version` prints that
// version the way the browser does. Anything else exits with 0.

#include <windows.h>

#include <string.h>

namespace {

const char kVersion[] = "47.0.4127.0";

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--version") == 0) {
      DWORD written = 0;
      ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), kVersion,
                  static_cast<DWORD>(strlen(kVersion)), &written, nullptr);
      return 0;
    }
  }
  return 0;
}
