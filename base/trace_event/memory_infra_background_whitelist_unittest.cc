#include "base/trace_event/memory_infra_background_whitelist.h"

#include <string>

#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

TEST(MemoryInfraBackgroundWhitelistTest, AllocatorDumpNames) {
  const struct {
    const char* name;
    bool whitelisted;
  } kCases[] = {
      // Global and shared memory ids: hexadecimal digits only, or none.
      {"global/", true},
      {"global/0123456789abcdefABCDEF", true},
      {"shared_memory/DeadBeef", true},
      {"global/12g4", false},
      {"shared_memory/0x12", false},
      {"global/malloc", false},
      // Listed names match wholly.
      {"malloc", true},
      {"malloc/allocated_objects", true},
      {"malloc/private", false},
      // A number after "0x", of any case and length, strips to "0x?".
      {"v8/isolate_0x1234ABcd/heap_spaces", true},
      {"v8/isolate_0x/heap_spaces", true},
      {"tab_restore/service_helper_0xAB12/entries/tab_0x7f", true},
      {"v8/isolate_0x12z/heap_spaces", false},
      {"v8/isolate_0X12/heap_spaces", false},
      {"v8/isolate_0x?/heap_spaces", false},
      {"malloc0x12", false},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.whitelisted, IsMemoryAllocatorDumpNameWhitelisted(c.name))
        << c.name;
  // An embedded NUL does not cut the name short.
  EXPECT_FALSE(
      IsMemoryAllocatorDumpNameWhitelisted(std::string("malloc\0x", 8)));
}

}  // namespace
}  // namespace trace_event
}  // namespace base
