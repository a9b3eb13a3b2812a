// A crashed crash reporter, as small as a program gets, for the tests of the
// exception-info mode: the dump of a small process stays within the size
// the mode allows. It dies of an access violation; its own filter keeps the
// exception record a reporter would keep (thread id, exception pointers,
// an empty assertion block), prints "record ADDRESS", and waits at most
// 60 s for the exception event of its process id, then prints "released"
// or "not-released". 99: it could not set up.

#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <wchar.h>

namespace {

// The reporter's exception record: thread id, padding, the address of the
// exception pointers, and the 776-byte assertion block.
struct HeldRecord {
  uint32_t thread_id;
  uint32_t padding;
  uint64_t exception_pointers;
  uint8_t assertion[776];
};
static_assert(sizeof(HeldRecord) == 792, "exception record layout");

constexpr int kSetUpFailed = 99;

HeldRecord g_record = {};

void Print(const char* line) {
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), line,
              static_cast<DWORD>(strlen(line)), &written, nullptr);
}

LONG WINAPI HoldFilter(EXCEPTION_POINTERS* pointers) {
  g_record.thread_id = ::GetCurrentThreadId();
  g_record.exception_pointers = reinterpret_cast<uintptr_t>(pointers);
  wchar_t name[64];
  swprintf(name, 64, L"KavorCrashReporterException%lu",
           ::GetCurrentProcessId());
  HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, name);
  if (!event)
    ::ExitProcess(kSetUpFailed);
  char line[64];
  snprintf(
      line, sizeof(line), "record %llu\n",
      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&g_record)));
  Print(line);
  const DWORD waited = ::WaitForSingleObject(event, 60000);
  Print(waited == WAIT_OBJECT_0 ? "released\n" : "not-released\n");
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int main() {
  ::SetUnhandledExceptionFilter(&HoldFilter);
  // Wine keeps the lowest pages mapped, so a null pointer would not do.
  auto* page = static_cast<int*>(
      ::VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS));
  if (!page)
    return kSetUpFailed;
  int* volatile target = page;
  *target = 1;
  return kSetUpFailed;
}
