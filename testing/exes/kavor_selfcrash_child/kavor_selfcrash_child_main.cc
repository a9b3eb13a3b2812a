// A stand-in for a crash reporter that crashes, for the tests of the
// reporter's handling of its own crashes. The first argument picks what it
// does:
//   crash KIND      installs the reporter's own handlers, gets the
//                   relaunch ready and dies: KIND is access-violation,
//                   invalid-parameter or pure-call
//   sleep           waits 60 s (a live process to ask about)
// Started with `crash-reporter-exception-info` it is the relaunched copy
// and runs the exception-info mode. Its product's company key comes from
// KAVOR_TEST_COMPANY_KEY, the counters file from KAVOR_TEST_COUNTERS_FILE.
// 99: bad usage.

#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "crash/crash_product_info.h"
#include "crash/crash_reporter.h"
#include "crash/crash_reporter_process.h"
#include "crash/reporter_self_crash.h"
#include "crash/test/test_product.h"

namespace shapes {

class Shape {
 public:
  Shape();
  virtual ~Shape() = default;
  virtual int Sides() const = 0;
};

__attribute__((noinline)) int CountSides(const Shape* shape) {
  return shape->Sides();
}

Shape::Shape() {
  CountSides(this);
}

class Square : public Shape {
 public:
  int Sides() const override { return 4; }
};

}  // namespace shapes

namespace {

constexpr int kBadUsage = 99;

void Print(const char* format, ...) {
  char line[256];
  va_list arguments;
  va_start(arguments, format);
  int length = vsnprintf(line, sizeof(line) - 1, format, arguments);
  va_end(arguments);
  if (length < 0)
    return;
  if (length > static_cast<int>(sizeof(line)) - 2)
    length = sizeof(line) - 2;
  line[length++] = '\n';
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), line, length, &written,
              nullptr);
}

std::string Variable(const char* name) {
  char value[1024];
  DWORD length = ::GetEnvironmentVariableA(name, value, sizeof(value));
  if (length == 0 || length >= sizeof(value))
    return std::string();
  return std::string(value, length);
}

void SetUpProduct() {
  crash_reporter::CrashProductInfo info =
      crash_reporter::test::TestCrashProduct();
  info.company_registry_key =
      base::UTF8ToWide(Variable("KAVOR_TEST_COMPANY_KEY"));
  crash_reporter::SetCrashProductInfo(info);
  const std::string counters = Variable("KAVOR_TEST_COUNTERS_FILE");
  if (!counters.empty()) {
    (void)base::PathService::OverrideAndCreateIfNeeded(
        crash_reporter::kCrashCountersFileKey,
        base::FilePath(base::UTF8ToWide(counters)), true, false);
  }
}

__attribute__((noinline)) void WriteToForbiddenPage() {
  // Wine keeps the lowest pages mapped, so a null pointer would not do.
  auto* page = static_cast<int*>(
      ::VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS));
  if (!page)
    ::ExitProcess(kBadUsage);
  int* volatile target = page;
  *target = 1;
}

}  // namespace

int main() {
  base::CommandLine::Init();
  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();
  SetUpProduct();
  if (command_line.HasSwitch(
          crash_reporter::kCrashReporterExceptionInfoSwitch)) {
    crash_reporter::InstallInProcessExceptionHandlers();
    crash_reporter::RunCrashReporterWithExceptionInfo();
    return 0;
  }
  const base::CommandLine::StringVector& arguments = command_line.GetArgs();
  if (arguments.empty())
    return kBadUsage;
  const std::wstring& mode = arguments[0];
  if (mode == L"sleep") {
    ::Sleep(60000);
    return 0;
  }
  if (mode != L"crash" || arguments.size() < 2)
    return kBadUsage;
  crash_reporter::InstallInProcessExceptionHandlers();
  crash_reporter::PrepareSelfCrashLaunch();
  const std::wstring& kind = arguments[1];
  if (kind == L"access-violation") {
    WriteToForbiddenPage();
  } else if (kind == L"invalid-parameter") {
    // This compiler's runtime never calls the handler itself; call it the
    // way the runtime of the other compilers does.
    _invalid_parameter_handler report = _get_invalid_parameter_handler();
    if (!report)
      return kBadUsage;
    report(L"buffer != NULL", L"strcpy_s", L"string.c", 77, 0);
  } else if (kind == L"pure-call") {
    shapes::Square square;
    Print("square has %d sides", square.Sides());
  }
  Print("survived");
  return kBadUsage;
}
