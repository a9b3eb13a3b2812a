#ifndef BASE_TRACE_EVENT_TRACE_EVENT_MEMORY_OVERHEAD_H_
#define BASE_TRACE_EVENT_TRACE_EVENT_MEMORY_OVERHEAD_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace base {
namespace trace_event {

class ProcessMemoryDump;

// How much memory the tracing machinery holds, per kind of object: counts,
// allocated bytes and resident bytes.
class TraceEventMemoryOverhead {
 public:
  enum ObjectType : uint32_t {
    kOther = 0,
    kTraceBuffer,
    kTraceBufferChunk,
    kTraceEvent,
    kUnusedTraceEvent,
    kTracedValue,
    kConvertableToTraceFormat,
    kHeapProfilerAllocationRegister,
    kHeapProfilerTypeNameDeduplicator,
    kHeapProfilerStackFrameDeduplicator,
    kStdString,
    kBaseValue,
    kTraceEventMemoryOverhead,
    kLast
  };

  TraceEventMemoryOverhead();
  ~TraceEventMemoryOverhead();

  TraceEventMemoryOverhead(const TraceEventMemoryOverhead&) = delete;
  TraceEventMemoryOverhead& operator=(const TraceEventMemoryOverhead&) = delete;

  // One object of |object_type| holding |size| bytes, all resident.
  void Add(ObjectType object_type, size_t size);
  void Add(ObjectType object_type,
           size_t allocated_size_in_bytes,
           size_t resident_size_in_bytes);

  // A string's heap buffer, under kStdString.
  void AddString(const std::string& str);

  // This account's own size, under kTraceEventMemoryOverhead.
  void AddSelf();

  // Adds every kind of |other| to this account.
  void Update(const TraceEventMemoryOverhead& other);

  // A kind at or past kLast stops the process.
  size_t GetCount(ObjectType object_type) const;
  size_t GetAllocated(ObjectType object_type) const;
  size_t GetResident(ObjectType object_type) const;

  // The label a kind is dumped under: "(Other)", "TraceBuffer", ...
  static const char* ObjectTypeToString(ObjectType object_type);

  // Writes one allocator dump "<base_name>/<label>" per kind with allocated
  // bytes, holding "size", "resident_size" and "object_count".
  void DumpInto(const char* base_name, ProcessMemoryDump* pmd) const;

 private:
  struct ObjectCountAndSize {
    size_t count = 0;
    size_t allocated_size_in_bytes = 0;
    size_t resident_size_in_bytes = 0;
  };
  ObjectCountAndSize allocated_objects_[kLast];
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_EVENT_MEMORY_OVERHEAD_H_
