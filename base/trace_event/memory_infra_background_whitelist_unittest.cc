#include "base/trace_event/memory_infra_background_whitelist.h"

#include <string>

#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

TEST(MemoryInfraBackgroundWhitelistTest, ProviderNamesMatchExactly) {
  // On both lists, on the background list only, and on neither.
  EXPECT_TRUE(IsMemoryDumpProviderWhitelisted("Malloc"));
  EXPECT_TRUE(IsMemoryDumpProviderWhitelistedForSummary("Malloc"));
  EXPECT_TRUE(IsMemoryDumpProviderWhitelisted("Skia"));
  EXPECT_FALSE(IsMemoryDumpProviderWhitelistedForSummary("Skia"));
  // The trace log's own providers take part in neither mode.
  for (const char* name : {"TraceLog", "ThreadLocalEventBuffer"}) {
    EXPECT_FALSE(IsMemoryDumpProviderWhitelisted(name)) << name;
    EXPECT_FALSE(IsMemoryDumpProviderWhitelistedForSummary(name)) << name;
  }

  // Case, prefixes and extensions of a listed name do not count.
  for (const char* name :
       {"malloc", "MALLOC", "Mallo", "MallocX", "skia", " Skia", "", "gpu::"}) {
    EXPECT_FALSE(IsMemoryDumpProviderWhitelisted(name)) << name;
    EXPECT_FALSE(IsMemoryDumpProviderWhitelistedForSummary(name)) << name;
  }
  EXPECT_FALSE(IsMemoryDumpProviderWhitelisted(nullptr));
  EXPECT_FALSE(IsMemoryDumpProviderWhitelistedForSummary(nullptr));
}

TEST(MemoryInfraBackgroundWhitelistTest, GlobalAndSharedMemoryTakeHexIds) {
  for (const char* prefix : {"global/", "shared_memory/"}) {
    const std::string p(prefix);
    // The prefix alone, and hexadecimal digits of either case.
    EXPECT_TRUE(IsMemoryAllocatorDumpNameWhitelisted(p)) << p;
    EXPECT_TRUE(IsMemoryAllocatorDumpNameWhitelisted(p + "0123456789"));
    EXPECT_TRUE(IsMemoryAllocatorDumpNameWhitelisted(p + "abcdefABCDEF"));
    EXPECT_TRUE(IsMemoryAllocatorDumpNameWhitelisted(p + "DeadBeef42"));
    // Anything else after the prefix, and no falling back on the list.
    EXPECT_FALSE(IsMemoryAllocatorDumpNameWhitelisted(p + "12g4")) << p;
    EXPECT_FALSE(IsMemoryAllocatorDumpNameWhitelisted(p + "g")) << p;
    EXPECT_FALSE(IsMemoryAllocatorDumpNameWhitelisted(p + "0x12")) << p;
    EXPECT_FALSE(IsMemoryAllocatorDumpNameWhitelisted(p + "12/34")) << p;
    EXPECT_FALSE(IsMemoryAllocatorDumpNameWhitelisted(p + "malloc")) << p;
  }
  // The prefixes compare case-sensitively and in full.
  EXPECT_FALSE(IsMemoryAllocatorDumpNameWhitelisted("Global/12"));
  EXPECT_FALSE(IsMemoryAllocatorDumpNameWhitelisted("global"));
  EXPECT_FALSE(IsMemoryAllocatorDumpNameWhitelisted("shared_memory"));
  EXPECT_FALSE(IsMemoryAllocatorDumpNameWhitelisted("xglobal/12"));
}

TEST(MemoryInfraBackgroundWhitelistTest, ListedNamesMatchWholly) {
  EXPECT_TRUE(IsMemoryAllocatorDumpNameWhitelisted("malloc"));
  EXPECT_TRUE(IsMemoryAllocatorDumpNameWhitelisted("malloc/allocated_objects"));
  // A further level that is not on the list, or a part of an entry.
  EXPECT_FALSE(IsMemoryAllocatorDumpNameWhitelisted("malloc/private"));
  EXPECT_FALSE(IsMemoryAllocatorDumpNameWhitelisted("malloc/"));
  EXPECT_FALSE(IsMemoryAllocatorDumpNameWhitelisted("mallo"));
  EXPECT_FALSE(IsMemoryAllocatorDumpNameWhitelisted("Malloc"));
  EXPECT_FALSE(IsMemoryAllocatorDumpNameWhitelisted(""));
  // An embedded NUL does not cut the name short.
  EXPECT_FALSE(
      IsMemoryAllocatorDumpNameWhitelisted(std::string("malloc\0x", 8)));
}

TEST(MemoryInfraBackgroundWhitelistTest, HexNumbersAfter0xAreStripped) {
  // Any run of hexadecimal digits after "0x", of either case, or none.
  EXPECT_TRUE(IsMemoryAllocatorDumpNameWhitelisted(
      "v8/isolate_0x1234ABcd/heap_spaces"));
  EXPECT_TRUE(
      IsMemoryAllocatorDumpNameWhitelisted("v8/isolate_0x/heap_spaces"));
  EXPECT_TRUE(IsMemoryAllocatorDumpNameWhitelisted(
      "sync/0xdeadbeef/model_type/BOOKMARK"));
  // Every number in a name is stripped.
  EXPECT_TRUE(IsMemoryAllocatorDumpNameWhitelisted(
      "tab_restore/service_helper_0xAB12/entries/tab_0x7f"));
  EXPECT_TRUE(IsMemoryAllocatorDumpNameWhitelisted(
      "ui/resource_manager_0x1/default_resource/0xffffffffffffffff"));

  // The digit run stops at the first other character, which must then
  // match the entry.
  EXPECT_FALSE(
      IsMemoryAllocatorDumpNameWhitelisted("v8/isolate_0x12z/heap_spaces"));
  // Only "0x" starts a number: no "0X", no bare digits.
  EXPECT_FALSE(
      IsMemoryAllocatorDumpNameWhitelisted("v8/isolate_0X12/heap_spaces"));
  EXPECT_FALSE(
      IsMemoryAllocatorDumpNameWhitelisted("v8/isolate_1234/heap_spaces"));
  // A number where the entry has none, and the placeholder text itself.
  EXPECT_FALSE(IsMemoryAllocatorDumpNameWhitelisted("malloc0x12"));
  EXPECT_FALSE(
      IsMemoryAllocatorDumpNameWhitelisted("v8/isolate_0x?/heap_spaces"));
  // An entry with one number given two.
  EXPECT_FALSE(
      IsMemoryAllocatorDumpNameWhitelisted("sync/0x1/0x2/model_type/BOOKMARK"));
}

}  // namespace
}  // namespace trace_event
}  // namespace base
