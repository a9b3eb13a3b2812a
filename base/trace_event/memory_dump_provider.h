#ifndef BASE_TRACE_EVENT_MEMORY_DUMP_PROVIDER_H_
#define BASE_TRACE_EVENT_MEMORY_DUMP_PROVIDER_H_

#include <stdint.h>

namespace base {
namespace trace_event {

class ProcessMemoryDump;

// How much a dump asks for.
enum class MemoryDumpLevelOfDetail : uint32_t {
  BACKGROUND = 0,
  LIGHT = 1,
  DETAILED = 2,
};

struct MemoryDumpArgs {
  MemoryDumpLevelOfDetail level_of_detail = MemoryDumpLevelOfDetail::DETAILED;
};

// A component that can describe its memory use into a process memory dump.
class MemoryDumpProvider {
 public:
  // What a provider says of itself when it registers.
  struct Options {
    // Called on the single-thread task runner it registered with.
    bool dumps_on_single_thread_task_runner = false;
    // PollFastMemoryTotal is cheap enough for the peak detector.
    bool is_fast_polling_supported = false;
    // Wants OnHeapProfilingEnabled.
    bool supports_heap_profiling = false;
  };

  virtual ~MemoryDumpProvider() = default;

  // Adds the provider's allocator dumps to |pmd|; false when it failed.
  virtual bool OnMemoryDump(const MemoryDumpArgs& args,
                            ProcessMemoryDump* pmd) = 0;
  virtual void OnHeapProfilingEnabled(bool enabled) {}
  // The provider's total in bytes, for peak detection.
  virtual void PollFastMemoryTotal(uint64_t* memory_total) {}

 protected:
  MemoryDumpProvider() = default;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_MEMORY_DUMP_PROVIDER_H_
