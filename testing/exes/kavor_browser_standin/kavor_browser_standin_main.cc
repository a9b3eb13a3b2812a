// Stands in for the browser in test packages, where it becomes kavor.exe:
// it carries the browser's version resource, and `--version` prints that
// version the way the browser does. `--stay-until=PATH` is a browser that
// the user keeps open: it writes "running" and a line end to standard
// output and stays until PATH exists (a test that wants it gone creates
// the file), then exits with 0. Anything else exits with 0.

#include <windows.h>

#include <string.h>

namespace {

const char kVersion[] = "47.0.4127.0";
const char kStayUntil[] = "--stay-until=";

void Print(const char* text) {
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text,
              static_cast<DWORD>(strlen(text)), &written, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--version") == 0) {
      Print(kVersion);
      return 0;
    }
    if (strncmp(argv[i], kStayUntil, strlen(kStayUntil)) == 0) {
      const char* stop = argv[i] + strlen(kStayUntil);
      Print("running\n");
      while (::GetFileAttributesA(stop) == INVALID_FILE_ATTRIBUTES)
        ::Sleep(50);
      return 0;
    }
  }
  return 0;
}
