// A child process that installs the crash handler and then dies, or asks
// for dumps, for the crash handler's tests. The first argument picks what it
// does, the second is the dump folder (the served modes: the server's pipe):
//   access-violation FOLDER   writes to a page it may not write
//   refused FOLDER            the same, with a filter that refuses the dump
//   breakpoint FOLDER         executes a breakpoint instruction
//   invalid-handle FOLDER [consume]
//                             raises an invalid-handle exception; with
//                             "consume" the handler continues it, and the
//                             child exits with 0
//   invalid-parameter FOLDER  reports an invalid parameter as the runtime
//                             does, through its installed handler
//   pure-call FOLDER          calls a pure virtual function
//   on-request FOLDER         asks for three dumps of a made-up exception,
//                             the first to a name that exists already
//   faulting-filter FOLDER    two handlers; the newer one's filter
//                             callback, which runs on its handler thread,
//                             itself writes to a page it may not write
//   newest-first OLD NEW      two handlers, dumping into OLD and NEW; then
//                             writes to a page it may not write
//   out-of-order              makes two handlers and destroys the older
//                             first
//   served-access-violation PIPE, served-invalid-parameter PIPE
//                             the same crashes with a handler registered
//                             with the server on PIPE (98 when it cannot
//                             register)
//   served-together PIPE      two threads ask the server on PIPE for two
//                             dumps each, all at once
// Lines on standard output tell the test what happened:
//   "crashing-thread ID"  the thread about to die or ask
//   "dump-thread ID succeeded 0|1 id UUID"  from the minidump callback
//   "filter"  from the filter callback
//   "previous-filter CODE"  the filter in place before the handler (it
//                           ends the process with the exception code)
//   "results A B C"  (on-request) what the three requests answered
//   "request-thread ID code CODE succeeded 0|1"  (served-together) one per
//                                                request
// 99: bad usage.

#include <windows.h>
#include <shellapi.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <memory>
#include <string>

#include "crash/crash_generation/crash_generation_client.h"
#include "crash/handler/exception_handler.h"
#include "crash/test/minidump_file.h"

void AnnounceCrash();

// Outside the anonymous namespace: a class the compiler can see every
// subclass of gets its pure virtual calls resolved to the one override.
namespace shapes {

class Shape {
 public:
  Shape();
  virtual ~Shape() = default;
  virtual int Sides() const = 0;
};

// Called from the constructor, while the object is still only a Shape.
__attribute__((noinline)) int CountSides(const Shape* shape) {
  return shape->Sides();
}

Shape::Shape() {
  AnnounceCrash();
  CountSides(this);
}

class Square : public Shape {
 public:
  int Sides() const override { return 4; }
};

}  // namespace shapes

namespace {

using crash_reporter::AssertionInfo;
using crash_reporter::ExceptionHandler;

constexpr int kNotRegistered = 98;
constexpr int kBadUsage = 99;
// A pipe nobody serves: registration fails and the dumps are written here.
constexpr wchar_t kNoServerPipe[] = L"\\\\.\\pipe\\KavorCrashReporter0";

void Print(const char* format, ...) {
  char line[512];
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

std::string Narrow(const wchar_t* text) {
  std::string narrow;
  for (; text && *text; ++text)
    narrow.push_back(static_cast<char>(*text));
  return narrow;
}

bool OnDump(const wchar_t* dump_folder,
            const wchar_t* dump_id,
            void* context,
            EXCEPTION_POINTERS* exinfo,
            AssertionInfo* assertion,
            bool succeeded) {
  Print("dump-thread %lu succeeded %d id %s", ::GetCurrentThreadId(),
        succeeded ? 1 : 0, Narrow(dump_id).c_str());
  return succeeded;
}

bool RefuseDump(void* context,
                EXCEPTION_POINTERS* exinfo,
                AssertionInfo* assertion) {
  Print("filter");
  return false;
}

bool FaultingFilter(void* context,
                    EXCEPTION_POINTERS* exinfo,
                    AssertionInfo* assertion) {
  Print("filter-thread %lu", ::GetCurrentThreadId());
  int* volatile target = static_cast<int*>(
      ::VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS));
  *target = 1;
  return true;
}

LONG WINAPI PreviousFilter(EXCEPTION_POINTERS* exinfo) {
  Print("previous-filter %08lx", exinfo->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

std::unique_ptr<ExceptionHandler> MakeHandler(
    const wchar_t* folder,
    ExceptionHandler::FilterCallback filter = nullptr,
    int handler_types = ExceptionHandler::HANDLER_ALL,
    const wchar_t* pipe = kNoServerPipe) {
  return std::make_unique<ExceptionHandler>(folder, filter, &OnDump, nullptr,
                                            handler_types, MiniDumpNormal, pipe,
                                            nullptr);
}

void ReportInvalidParameter() {
  // The runtime of this compiler never calls the handler itself; call it
  // the way the runtime of the other compilers does.
  _invalid_parameter_handler report = _get_invalid_parameter_handler();
  if (!report)
    ::ExitProcess(kBadUsage);
  AnnounceCrash();
  report(L"buffer != NULL", L"strcpy_s", L"string.c", 77, 0);
}

}  // namespace

void AnnounceCrash() {
  Print("crashing-thread %lu", ::GetCurrentThreadId());
}

namespace {

__attribute__((noinline)) void WriteToForbiddenPage() {
  // Wine keeps the lowest pages mapped, so a null pointer would not do.
  auto* page = static_cast<int*>(
      ::VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS));
  if (!page)
    ::ExitProcess(kBadUsage);
  AnnounceCrash();
  int* volatile target = page;
  *target = 1;
}

DWORD WINAPI RaiseInvalidHandle(void*) {
  AnnounceCrash();
  // Windows raises this only for a process that checks its handles
  // strictly or runs under a debugger; raise it as the system would.
  ::RaiseException(STATUS_INVALID_HANDLE, 0, 0, nullptr);
  Print("continued");
  return 0;
}

int RequestThreeDumps(const wchar_t* folder) {
  auto handler = MakeHandler(folder, nullptr, ExceptionHandler::HANDLER_NONE);
  // Someone else's file, at the name the next dump would take.
  std::wstring taken =
      std::wstring(folder) + L"\\" + handler->next_dump_id() + L".dmp";
  HANDLE file = ::CreateFileW(taken.c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return kBadUsage;
  DWORD written = 0;
  ::WriteFile(file, "kept", 4, &written, nullptr);
  ::CloseHandle(file);

  CONTEXT context;
  ::RtlCaptureContext(&context);
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = 0xE0000001;
  record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
  EXCEPTION_POINTERS pointers = {&record, &context};
  AnnounceCrash();
  bool first = handler->WriteMinidumpForException(&pointers);
  bool second = handler->WriteMinidumpForException(&pointers);
  bool third = handler->WriteMinidumpForException(&pointers);
  Print("results %d %d %d", first, second, third);
  return 0;
}

struct TogetherRequest {
  ExceptionHandler* handler;
  HANDLE go;
  DWORD code;
};

DWORD WINAPI RequestTwoDumps(void* parameter) {
  auto* request = static_cast<TogetherRequest*>(parameter);
  ::WaitForSingleObject(request->go, INFINITE);
  for (int i = 0; i < 2; ++i) {
    CONTEXT context;
    ::RtlCaptureContext(&context);
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = request->code;
    record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
    EXCEPTION_POINTERS pointers = {&record, &context};
    bool succeeded = request->handler->WriteMinidumpForException(&pointers);
    Print("request-thread %lu code %lu succeeded %d", ::GetCurrentThreadId(),
          request->code, succeeded ? 1 : 0);
  }
  return 0;
}

int RequestDumpsTogether(const wchar_t* pipe) {
  auto served = MakeHandler(L"", nullptr, ExceptionHandler::HANDLER_NONE, pipe);
  if (!served->IsOutOfProcess())
    return kNotRegistered;
  HANDLE go = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  constexpr int kThreads = 2;
  TogetherRequest requests[kThreads];
  HANDLE threads[kThreads];
  for (int i = 0; i < kThreads; ++i) {
    requests[i] = {served.get(), go, 0xE0000100u + i};
    threads[i] =
        ::CreateThread(nullptr, 0, &RequestTwoDumps, &requests[i], 0, nullptr);
    if (!go || !threads[i])
      return kBadUsage;
  }
  ::SetEvent(go);
  ::WaitForMultipleObjects(kThreads, threads, TRUE, INFINITE);
  for (HANDLE thread : threads)
    ::CloseHandle(thread);
  ::CloseHandle(go);
  return 0;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv || argc < 2)
    return kBadUsage;
  crash_reporter::test::SkipDebugInfoWhileDumping();
  // A loaded machine may take the server many seconds for a dump: the
  // tests wait for the outcome, not for the usual time.
  crash_reporter::CrashGenerationClient::SetDumpWaitForTesting(60000);
  std::wstring mode = argv[1];
  if (mode == L"out-of-order") {
    auto older = MakeHandler(L".");
    auto newer = MakeHandler(L".");
    older.reset();
    newer.reset();
    return 0;
  }
  if (argc < 3)
    return kBadUsage;
  const wchar_t* folder = argv[2];

  if (mode == L"on-request")
    return RequestThreeDumps(folder);
  if (mode == L"served-together")
    return RequestDumpsTogether(argv[2]);

  if (mode == L"served-access-violation" ||
      mode == L"served-invalid-parameter") {
    auto served =
        MakeHandler(L"", nullptr, ExceptionHandler::HANDLER_ALL, argv[2]);
    if (!served->IsOutOfProcess())
      return kNotRegistered;
    if (mode == L"served-access-violation")
      WriteToForbiddenPage();
    else
      ReportInvalidParameter();
    Print("survived");
    return 0;
  }

  ::SetUnhandledExceptionFilter(&PreviousFilter);
  // An older handler, whose filter the newer one's handling puts back.
  std::unique_ptr<ExceptionHandler> older;
  if (mode == L"newest-first") {
    if (argc < 4)
      return kBadUsage;
    older = MakeHandler(folder);
    folder = argv[3];
  } else if (mode == L"faulting-filter") {
    older = MakeHandler(folder);
  }
  ExceptionHandler::FilterCallback filter = nullptr;
  if (mode == L"refused")
    filter = &RefuseDump;
  else if (mode == L"faulting-filter")
    filter = &FaultingFilter;
  auto handler = MakeHandler(folder, filter);
  if (handler->IsOutOfProcess())
    return kBadUsage;

  if (mode == L"access-violation" || mode == L"refused" ||
      mode == L"faulting-filter" || mode == L"newest-first") {
    WriteToForbiddenPage();
  } else if (mode == L"breakpoint") {
    AnnounceCrash();
    __debugbreak();
  } else if (mode == L"invalid-handle") {
    handler->set_consume_invalid_handle_exceptions(
        argc > 3 && wcscmp(argv[3], L"consume") == 0);
    // The start-up code around main continues invalid-handle exceptions
    // itself; on a thread of its own the exception reaches the handler.
    HANDLE thread =
        ::CreateThread(nullptr, 0, &RaiseInvalidHandle, nullptr, 0, nullptr);
    if (!thread)
      return kBadUsage;
    ::WaitForSingleObject(thread, INFINITE);
    return 0;
  } else if (mode == L"invalid-parameter") {
    ReportInvalidParameter();
  } else if (mode == L"pure-call") {
    shapes::Square square;
    Print("square has %d sides", square.Sides());
  } else {
    return kBadUsage;
  }
  Print("survived");
  return 0;
}
