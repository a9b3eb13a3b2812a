#include "base/trace_event/process_memory_dump.h"

#include <string>

#include "base/trace_event/memory_allocator_dump.h"
#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

MemoryDumpArgs ArgsFor(MemoryDumpLevelOfDetail level) {
  MemoryDumpArgs args;
  args.level_of_detail = level;
  return args;
}

TEST(MemoryAllocatorDumpGuidTest, FirstEightDigestBytesLittleEndian) {
  // SHA-1("abc") = a9993e36 4706816a ..., SHA-1("") = da39a3ee 5e6b4b0d ...
  EXPECT_EQ(0x6A810647363E99A9ull,
            MemoryAllocatorDumpGuid(std::string("abc")).ToUint64());
  EXPECT_EQ(0x0D4B6B5EEEA339DAull,
            MemoryAllocatorDumpGuid(std::string()).ToUint64());
}

TEST(ProcessMemoryDumpTest, DumpIdHashesProcessTokenAndName) {
  const UnguessableToken saved =
      ProcessMemoryDump(MemoryDumpArgs()).process_token();
  ProcessMemoryDump::SetProcessTokenForTesting(
      UnguessableToken::Deserialize(0x0123456789ABCDEFull, 0x2Aull));
  ProcessMemoryDump pmd(ArgsFor(MemoryDumpLevelOfDetail::DETAILED));
  ProcessMemoryDump same_process(ArgsFor(MemoryDumpLevelOfDetail::LIGHT));
  ProcessMemoryDump::SetProcessTokenForTesting(
      UnguessableToken::Deserialize(0x0123456789ABCDEFull, 0x2Bull));
  ProcessMemoryDump other_process(ArgsFor(MemoryDumpLevelOfDetail::DETAILED));
  ProcessMemoryDump::SetProcessTokenForTesting(saved);

  // Each half in upper-case hexadecimal, at least 8 digits wide: the high
  // half loses its leading zero, the low one is padded.
  EXPECT_EQ(
      MemoryAllocatorDumpGuid(std::string("123456789ABCDEF0000002A:malloc")),
      pmd.GetDumpId("malloc"));
  EXPECT_EQ(pmd.GetDumpId("malloc"), pmd.CreateAllocatorDump("malloc")->guid());
  EXPECT_EQ(pmd.GetDumpId("malloc"), same_process.GetDumpId("malloc"));
  EXPECT_NE(pmd.GetDumpId("malloc"), other_process.GetDumpId("malloc"));
}

TEST(ProcessMemoryDumpTest, OnlyBackgroundModeDiscardsNamesOffTheWhitelist) {
  ProcessMemoryDump pmd(ArgsFor(MemoryDumpLevelOfDetail::BACKGROUND));
  MemoryAllocatorDump* kept = pmd.CreateAllocatorDump("malloc");
  EXPECT_EQ(kept, pmd.CreateAllocatorDump("malloc"));
  MemoryAllocatorDump* discarded = pmd.CreateAllocatorDump("private/cache");
  EXPECT_NE(kept, discarded);
  EXPECT_EQ("discarded", discarded->absolute_name());
  EXPECT_EQ(pmd.GetDumpId("discarded"), discarded->guid());
  EXPECT_EQ(discarded, pmd.CreateAllocatorDump("discarded"));
  EXPECT_EQ(1u, pmd.allocator_dumps().size());

  for (MemoryDumpLevelOfDetail level :
       {MemoryDumpLevelOfDetail::LIGHT, MemoryDumpLevelOfDetail::DETAILED}) {
    ProcessMemoryDump full(ArgsFor(level));
    MemoryAllocatorDump* mad = full.CreateAllocatorDump("private/cache");
    EXPECT_EQ(mad, full.GetAllocatorDump("private/cache"));
  }
}

}  // namespace
}  // namespace trace_event
}  // namespace base
