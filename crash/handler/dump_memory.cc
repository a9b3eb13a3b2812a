#include "crash/handler/dump_memory.h"

namespace crash_reporter {

namespace {

// Bytes taken on each side of the faulting instruction.
constexpr ULONG64 kInstructionMemoryReach = 128;

}  // namespace

AppMemory InstructionMemoryRange(ULONG64 region_base,
                                 ULONG64 region_end,
                                 ULONG64 pointer) {
  // A pointer outside the region has no instruction memory to give.
  if (pointer < region_base || pointer >= region_end)
    return {0, 0};
  ULONG64 begin = pointer - region_base > kInstructionMemoryReach
                      ? pointer - kInstructionMemoryReach
                      : region_base;
  ULONG64 end = region_end - pointer > kInstructionMemoryReach
                    ? pointer + kInstructionMemoryReach
                    : region_end;
  return {begin, static_cast<ULONG>(end - begin)};
}

AppMemoryCursor StartAppMemoryWalk(const AppMemoryList& list) {
  AppMemoryCursor cursor = {list.begin(), list.end()};
  if (cursor.next != cursor.end && cursor.next->address == 0)
    ++cursor.next;
  return cursor;
}

BOOL CALLBACK AppMemoryDumpCallback(PVOID context,
                                    const PMINIDUMP_CALLBACK_INPUT input,
                                    PMINIDUMP_CALLBACK_OUTPUT output) {
  switch (input->CallbackType) {
    case MemoryCallback: {
      auto* cursor = static_cast<AppMemoryCursor*>(context);
      if (cursor->next == cursor->end)
        return FALSE;
      output->MemoryBase = cursor->next->address;
      output->MemorySize = cursor->next->length;
      ++cursor->next;
      return TRUE;
    }
    case ModuleCallback:
    case ThreadCallback:
    case IncludeThreadCallback:
    case IncludeModuleCallback:
      return TRUE;
    case CancelCallback:
      output->CheckCancel = FALSE;
      output->Cancel = FALSE;
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace crash_reporter
