#include "base/trace_event/memory_allocator_dump.h"

#include <utility>

#include "base/sha1.h"

namespace base {
namespace trace_event {

MemoryAllocatorDumpGuid::MemoryAllocatorDumpGuid() : guid_(0) {}

MemoryAllocatorDumpGuid::MemoryAllocatorDumpGuid(const std::string& guid_str)
    : guid_(0) {
  unsigned char digest[kSHA1Length];
  SHA1HashBytes(reinterpret_cast<const unsigned char*>(guid_str.data()),
                guid_str.size(), digest);
  // Little-endian whatever the host, so that every process agrees.
  for (int i = 7; i >= 0; --i)
    guid_ = (guid_ << 8) | digest[i];
}

MemoryAllocatorDump::Entry::Entry(std::string name,
                                  std::string units,
                                  uint64_t value)
    : name(std::move(name)),
      units(std::move(units)),
      entry_type(kUint64),
      value_uint64(value) {}

MemoryAllocatorDump::Entry::Entry(Entry&& other) = default;
MemoryAllocatorDump::Entry& MemoryAllocatorDump::Entry::operator=(
    Entry&& other) = default;
MemoryAllocatorDump::Entry::~Entry() = default;

MemoryAllocatorDump::MemoryAllocatorDump(
    const std::string& absolute_name,
    MemoryDumpLevelOfDetail level_of_detail,
    const MemoryAllocatorDumpGuid& guid)
    : absolute_name_(absolute_name),
      guid_(guid),
      level_of_detail_(level_of_detail) {}

MemoryAllocatorDump::~MemoryAllocatorDump() = default;

void MemoryAllocatorDump::AddScalar(const char* name,
                                    const char* units,
                                    uint64_t value) {
  entries_.emplace_back(name, units, value);
}

}  // namespace trace_event
}  // namespace base
