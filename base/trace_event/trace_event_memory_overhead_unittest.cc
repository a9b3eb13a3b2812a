#include "base/trace_event/trace_event_memory_overhead.h"

#include <string>

#include "base/trace_event/memory_allocator_dump.h"
#include "base/trace_event/process_memory_dump.h"
#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

uint64_t EntryValue(const MemoryAllocatorDump& mad,
                    const std::string& name,
                    const std::string& units) {
  for (const MemoryAllocatorDump::Entry& entry : mad.entries()) {
    if (entry.name == name) {
      EXPECT_EQ(units, entry.units) << name;
      return entry.value_uint64;
    }
  }
  ADD_FAILURE() << "no entry " << name;
  return 0;
}

TEST(TraceEventMemoryOverheadTest, DumpIntoWritesKindsWithAllocatedBytes) {
  TraceEventMemoryOverhead overhead;
  overhead.Add(TraceEventMemoryOverhead::kTraceEvent, 100, 60);
  overhead.Add(TraceEventMemoryOverhead::kTraceEvent, 100, 60);
  overhead.Add(TraceEventMemoryOverhead::kTraceBuffer, 4096);
  // Objects, or resident bytes, without allocated bytes give no dump.
  overhead.Add(TraceEventMemoryOverhead::kStdString, 0);
  overhead.Add(TraceEventMemoryOverhead::kStdString, 0);
  overhead.Add(TraceEventMemoryOverhead::kOther, 0, 50);

  MemoryDumpArgs args;
  args.level_of_detail = MemoryDumpLevelOfDetail::DETAILED;
  ProcessMemoryDump pmd(args);
  overhead.DumpInto("tracing/main_trace_log", &pmd);

  ASSERT_EQ(2u, pmd.allocator_dumps().size());
  const MemoryAllocatorDump* events =
      pmd.GetAllocatorDump("tracing/main_trace_log/TraceEvent");
  ASSERT_NE(nullptr, events);
  ASSERT_EQ(3u, events->entries().size());
  EXPECT_EQ(200u, EntryValue(*events, "size", "bytes"));
  EXPECT_EQ(120u, EntryValue(*events, "resident_size", "bytes"));
  EXPECT_EQ(2u, EntryValue(*events, "object_count", "objects"));

  const MemoryAllocatorDump* buffer =
      pmd.GetAllocatorDump("tracing/main_trace_log/TraceBuffer");
  ASSERT_NE(nullptr, buffer);
  EXPECT_EQ(4096u, EntryValue(*buffer, "size", "bytes"));
  EXPECT_EQ(4096u, EntryValue(*buffer, "resident_size", "bytes"));
  EXPECT_EQ(1u, EntryValue(*buffer, "object_count", "objects"));
}

}  // namespace
}  // namespace trace_event
}  // namespace base
