#ifndef BASE_TRACE_EVENT_PROCESS_MEMORY_DUMP_H_
#define BASE_TRACE_EVENT_PROCESS_MEMORY_DUMP_H_

#include <stdint.h>

#include <map>
#include <memory>
#include <string>

#include "base/trace_event/memory_allocator_dump.h"
#include "base/trace_event/memory_dump_provider.h"
#include "base/unguessable_token.h"

namespace base {
namespace trace_event {

// What the providers fill when a dump is taken: named allocator dumps.
class ProcessMemoryDump {
 public:
  using AllocatorDumpsMap =
      std::map<std::string, std::unique_ptr<MemoryAllocatorDump>>;

  explicit ProcessMemoryDump(const MemoryDumpArgs& dump_args);
  ~ProcessMemoryDump();

  ProcessMemoryDump(const ProcessMemoryDump&) = delete;
  ProcessMemoryDump& operator=(const ProcessMemoryDump&) = delete;

  // A new dump named |absolute_name|, or the one of that name already
  // there; in background mode a name off the whitelist gets a discarded
  // dump that is never part of the process dump.
  MemoryAllocatorDump* CreateAllocatorDump(const std::string& absolute_name);
  // The dump of that name, or null.
  MemoryAllocatorDump* GetAllocatorDump(const std::string& absolute_name) const;

  // The id of |absolute_name| in this process.
  MemoryAllocatorDumpGuid GetDumpId(const std::string& absolute_name) const;

  const AllocatorDumpsMap& allocator_dumps() const { return allocator_dumps_; }
  // The process token this dump was made with.
  const UnguessableToken& process_token() const { return process_token_; }

  // Tells this process's dumps apart from other processes'. Dumps made from
  // now on take |token| as their process token.
  static void SetProcessTokenForTesting(const UnguessableToken& token);

 private:
  MemoryAllocatorDump* AddAllocatorDumpInternal(
      std::unique_ptr<MemoryAllocatorDump> mad);
  // The dump that takes what background mode may not keep; made on first
  // need, never part of |allocator_dumps_|.
  MemoryAllocatorDump* GetBlackHoleMad();

  UnguessableToken process_token_;
  AllocatorDumpsMap allocator_dumps_;
  MemoryDumpArgs dump_args_;
  std::unique_ptr<MemoryAllocatorDump> black_hole_mad_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_PROCESS_MEMORY_DUMP_H_
