#ifndef BASE_TRACE_EVENT_MEMORY_ALLOCATOR_DUMP_H_
#define BASE_TRACE_EVENT_MEMORY_ALLOCATOR_DUMP_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "base/trace_event/memory_dump_provider.h"

namespace base {
namespace trace_event {

// A 64-bit id that is stable across processes: a hash of a name.
class MemoryAllocatorDumpGuid {
 public:
  MemoryAllocatorDumpGuid();
  // The first 8 bytes of the SHA-1 of |guid_str|, little-endian.
  explicit MemoryAllocatorDumpGuid(const std::string& guid_str);

  uint64_t ToUint64() const { return guid_; }
  bool operator==(const MemoryAllocatorDumpGuid& other) const {
    return guid_ == other.guid_;
  }
  bool operator!=(const MemoryAllocatorDumpGuid& other) const {
    return !(*this == other);
  }

 private:
  uint64_t guid_;
};

// One allocator's part of a process memory dump: scalar entries under a
// name whose levels are separated by "/".
class MemoryAllocatorDump {
 public:
  enum EntryType : uint32_t { kUint64 = 0, kString };

  struct Entry {
    Entry(std::string name, std::string units, uint64_t value);
    Entry(Entry&& other);
    Entry& operator=(Entry&& other);
    ~Entry();

    std::string name;
    std::string units;
    EntryType entry_type;
    uint64_t value_uint64 = 0;
    std::string value_string;
  };

  MemoryAllocatorDump(const std::string& absolute_name,
                      MemoryDumpLevelOfDetail level_of_detail,
                      const MemoryAllocatorDumpGuid& guid);
  ~MemoryAllocatorDump();

  MemoryAllocatorDump(const MemoryAllocatorDump&) = delete;
  MemoryAllocatorDump& operator=(const MemoryAllocatorDump&) = delete;

  void AddScalar(const char* name, const char* units, uint64_t value);

  const std::string& absolute_name() const { return absolute_name_; }
  const MemoryAllocatorDumpGuid& guid() const { return guid_; }
  MemoryDumpLevelOfDetail level_of_detail() const { return level_of_detail_; }
  const std::vector<Entry>& entries() const { return entries_; }

 private:
  std::string absolute_name_;
  MemoryAllocatorDumpGuid guid_;
  MemoryDumpLevelOfDetail level_of_detail_;
  uint32_t flags_ = 0;
  uint64_t cached_size_in_bytes_ = 0;
  std::vector<Entry> entries_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_MEMORY_ALLOCATOR_DUMP_H_
