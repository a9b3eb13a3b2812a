#include "base/trace_event/trace_event_memory_overhead.h"

#include <string>

#include "base/trace_event/memory_allocator_dump.h"
#include "base/trace_event/process_memory_dump.h"
#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

TEST(TraceEventMemoryOverheadTest, DumpIntoWritesKindsWithAllocatedBytes) {
  TraceEventMemoryOverhead overhead;
  overhead.Add(TraceEventMemoryOverhead::kTraceEvent, 100, 60);
  overhead.Add(TraceEventMemoryOverhead::kTraceEvent, 100, 60);
  // Objects, or resident bytes, without allocated bytes give no dump.
  overhead.Add(TraceEventMemoryOverhead::kStdString, 0);
  overhead.Add(TraceEventMemoryOverhead::kOther, 0, 50);

  ProcessMemoryDump pmd(MemoryDumpArgs{MemoryDumpLevelOfDetail::DETAILED});
  overhead.DumpInto("tracing/main_trace_log", &pmd);
  ASSERT_EQ(1u, pmd.allocator_dumps().size());
  const MemoryAllocatorDump* mad =
      pmd.GetAllocatorDump("tracing/main_trace_log/TraceEvent");
  ASSERT_NE(nullptr, mad);
  std::string entries;
  for (const MemoryAllocatorDump::Entry& entry : mad->entries()) {
    entries += entry.name + " " + entry.units + " " +
               std::to_string(entry.value_uint64) + ";";
  }
  EXPECT_EQ("size bytes 200;resident_size bytes 120;object_count objects 2;",
            entries);
}

}  // namespace
}  // namespace trace_event
}  // namespace base
