#include "desktop/windows/installer/console_output.h"

#include <windows.h>

#include <string>

#include "gtest/gtest.h"

namespace installer {
namespace {

// A GUI program's runtime streams lead nowhere; the text must reach the
// standard handle the caller gave, such as a pipe.
TEST(ConsoleOutputTest, PrintReachesTheStandardHandle) {
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  ASSERT_TRUE(::CreatePipe(&read_end, &write_end, nullptr, 0));
  HANDLE saved = ::GetStdHandle(STD_OUTPUT_HANDLE);
  ASSERT_TRUE(::SetStdHandle(STD_OUTPUT_HANDLE, write_end));
  PrintToStdout("%s-%d", "47.0", 5);
  ::SetStdHandle(STD_OUTPUT_HANDLE, saved);
  ::CloseHandle(write_end);

  std::string text;
  char buffer[64];
  DWORD read = 0;
  while (::ReadFile(read_end, buffer, sizeof(buffer), &read, nullptr) && read)
    text.append(buffer, read);
  ::CloseHandle(read_end);
  EXPECT_EQ("47.0-5", text);
}

}  // namespace
}  // namespace installer
