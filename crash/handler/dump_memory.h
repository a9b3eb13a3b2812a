#ifndef CRASH_HANDLER_DUMP_MEMORY_H_
#define CRASH_HANDLER_DUMP_MEMORY_H_

#include <windows.h>
#include <dbghelp.h>
#include <stdint.h>

#include <vector>

namespace crash_reporter {

// A range of this process's memory that an in-process dump carries beside
// what DbgHelp picks itself.
struct AppMemory {
  ULONG64 address;
  ULONG length;
};
using AppMemoryList = std::vector<AppMemory>;

// The memory around the faulting instruction, for a reader who wants to
// disassemble it: up to 128 bytes on either side of |pointer|, but never
// outside the committed region [region_base, region_end) that holds it,
// since reading past the region would fail the whole range.
AppMemory InstructionMemoryRange(ULONG64 region_base,
                                 ULONG64 region_end,
                                 ULONG64 pointer);

// What the dump callback walks: the ranges from |next| to the list's end.
struct AppMemoryCursor {
  AppMemoryList::const_iterator next;
  AppMemoryList::const_iterator end;
};

// The walk over |list| for one dump. The first entry is reserved for the
// instruction range and is skipped while it holds nothing.
AppMemoryCursor StartAppMemoryWalk(const AppMemoryList& list);

// The MiniDumpWriteDump callback of in-process dumps; |context| is an
// AppMemoryCursor. Modules and threads are all included, memory ranges come
// from the cursor, and the dump is never cancelled.
BOOL CALLBACK AppMemoryDumpCallback(PVOID context,
                                    const PMINIDUMP_CALLBACK_INPUT input,
                                    PMINIDUMP_CALLBACK_OUTPUT output);

}  // namespace crash_reporter

#endif  // CRASH_HANDLER_DUMP_MEMORY_H_
