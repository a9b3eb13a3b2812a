#include "base/trace_event/trace_event_memory_overhead.h"

#include "base/check.h"
#include "base/strings/stringprintf.h"
#include "base/trace_event/memory_allocator_dump.h"
#include "base/trace_event/memory_usage_estimator.h"
#include "base/trace_event/process_memory_dump.h"

namespace base {
namespace trace_event {

TraceEventMemoryOverhead::TraceEventMemoryOverhead() = default;
TraceEventMemoryOverhead::~TraceEventMemoryOverhead() = default;

void TraceEventMemoryOverhead::Add(ObjectType object_type, size_t size) {
  Add(object_type, size, size);
}

void TraceEventMemoryOverhead::Add(ObjectType object_type,
                                   size_t allocated_size_in_bytes,
                                   size_t resident_size_in_bytes) {
  CHECK_LT(object_type, kLast);
  ObjectCountAndSize& entry = allocated_objects_[object_type];
  entry.count++;
  entry.allocated_size_in_bytes += allocated_size_in_bytes;
  entry.resident_size_in_bytes += resident_size_in_bytes;
}

void TraceEventMemoryOverhead::AddString(const std::string& str) {
  Add(kStdString, EstimateMemoryUsage(str));
}

void TraceEventMemoryOverhead::AddSelf() {
  Add(kTraceEventMemoryOverhead, sizeof(*this));
}

void TraceEventMemoryOverhead::Update(const TraceEventMemoryOverhead& other) {
  for (uint32_t i = 0; i < kLast; i++) {
    const ObjectCountAndSize& theirs = other.allocated_objects_[i];
    ObjectCountAndSize& ours = allocated_objects_[i];
    ours.count += theirs.count;
    ours.allocated_size_in_bytes += theirs.allocated_size_in_bytes;
    ours.resident_size_in_bytes += theirs.resident_size_in_bytes;
  }
}

size_t TraceEventMemoryOverhead::GetCount(ObjectType object_type) const {
  CHECK_LT(object_type, kLast);
  return allocated_objects_[object_type].count;
}

size_t TraceEventMemoryOverhead::GetAllocated(ObjectType object_type) const {
  CHECK_LT(object_type, kLast);
  return allocated_objects_[object_type].allocated_size_in_bytes;
}

size_t TraceEventMemoryOverhead::GetResident(ObjectType object_type) const {
  CHECK_LT(object_type, kLast);
  return allocated_objects_[object_type].resident_size_in_bytes;
}

// static
const char* TraceEventMemoryOverhead::ObjectTypeToString(
    ObjectType object_type) {
  static const char* const kLabels[kLast] = {
      "(Other)",
      "TraceBuffer",
      "TraceBufferChunk",
      "TraceEvent",
      "TraceEvent(Unused)",
      "TracedValue",
      "ConvertableToTraceFormat",
      "AllocationRegister",
      "TypeNameDeduplicator",
      "StackFrameDeduplicator",
      "std::string",
      "base::Value",
      "TraceEventMemoryOverhead",
  };
  CHECK_LT(object_type, kLast);
  return kLabels[object_type];
}

void TraceEventMemoryOverhead::DumpInto(const char* base_name,
                                        ProcessMemoryDump* pmd) const {
  for (uint32_t i = 0; i < kLast; i++) {
    const ObjectCountAndSize& entry = allocated_objects_[i];
    // Kinds that hold nothing would only clutter the dump.
    if (entry.allocated_size_in_bytes == 0)
      continue;
    MemoryAllocatorDump* mad = pmd->CreateAllocatorDump(StringPrintf(
        "%s/%s", base_name, ObjectTypeToString(static_cast<ObjectType>(i))));
    mad->AddScalar("size", "bytes", entry.allocated_size_in_bytes);
    mad->AddScalar("resident_size", "bytes", entry.resident_size_in_bytes);
    mad->AddScalar("object_count", "objects", entry.count);
  }
}

}  // namespace trace_event
}  // namespace base
