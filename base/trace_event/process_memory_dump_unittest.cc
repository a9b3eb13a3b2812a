#include "base/trace_event/process_memory_dump.h"

#include <string.h>

#include <string>

#include "base/sha1.h"
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

// Puts the process token back after a test that replaced it.
class ScopedProcessToken {
 public:
  explicit ScopedProcessToken(const UnguessableToken& token)
      : saved_(ProcessMemoryDump(MemoryDumpArgs()).process_token()) {
    ProcessMemoryDump::SetProcessTokenForTesting(token);
  }
  ~ScopedProcessToken() {
    ProcessMemoryDump::SetProcessTokenForTesting(saved_);
  }

 private:
  const UnguessableToken saved_;
};

TEST(MemoryAllocatorDumpGuidTest, FirstEightDigestBytesLittleEndian) {
  // SHA-1("abc") = a9993e36 4706816a ba3e2571 ...
  EXPECT_EQ(0x6A810647363E99A9ull,
            MemoryAllocatorDumpGuid(std::string("abc")).ToUint64());

  for (const std::string& text :
       {std::string(), std::string("malloc"), std::string("a\0b", 3)}) {
    unsigned char digest[kSHA1Length];
    SHA1HashBytes(reinterpret_cast<const unsigned char*>(text.data()),
                  text.size(), digest);
    uint64_t expected = 0;
    for (int i = 0; i < 8; ++i)
      expected |= static_cast<uint64_t>(digest[i]) << (8 * i);
    EXPECT_EQ(expected, MemoryAllocatorDumpGuid(text).ToUint64()) << text;
  }
  EXPECT_TRUE(MemoryAllocatorDumpGuid().empty());
  EXPECT_EQ(MemoryAllocatorDumpGuid(42u), MemoryAllocatorDumpGuid(42u));
}

TEST(ProcessMemoryDumpTest, DumpIdHashesProcessTokenAndName) {
  ScopedProcessToken token(
      UnguessableToken::Deserialize(0x0123456789ABCDEFull, 0x2Aull));
  ProcessMemoryDump pmd(ArgsFor(MemoryDumpLevelOfDetail::DETAILED));
  // Each half in upper-case hexadecimal, at least 8 digits wide: the high
  // half loses its leading zero, the low one is padded.
  EXPECT_EQ(
      MemoryAllocatorDumpGuid(std::string("123456789ABCDEF0000002A:malloc")),
      pmd.GetDumpId("malloc"));
  MemoryAllocatorDump* mad = pmd.CreateAllocatorDump("malloc");
  EXPECT_EQ(pmd.GetDumpId("malloc"), mad->guid());
  EXPECT_NE(pmd.GetDumpId("malloc"), pmd.GetDumpId("malloc/x"));

  // The same token and name give the same id in another dump...
  ProcessMemoryDump same_process(ArgsFor(MemoryDumpLevelOfDetail::LIGHT));
  EXPECT_EQ(pmd.GetDumpId("malloc"), same_process.GetDumpId("malloc"));
  // ...and another process's token another id.
  ProcessMemoryDump::SetProcessTokenForTesting(
      UnguessableToken::Deserialize(0x0123456789ABCDEFull, 0x2Bull));
  ProcessMemoryDump other_process(ArgsFor(MemoryDumpLevelOfDetail::DETAILED));
  EXPECT_NE(pmd.GetDumpId("malloc"), other_process.GetDumpId("malloc"));
  // A dump keeps the token it was made with.
  EXPECT_EQ(pmd.GetDumpId("malloc"), same_process.GetDumpId("malloc"));
}

TEST(ProcessMemoryDumpTest, ProcessTokenIsMadeOnce) {
  ProcessMemoryDump first(MemoryDumpArgs{});
  ProcessMemoryDump second(MemoryDumpArgs{});
  EXPECT_FALSE(first.process_token().is_empty());
  EXPECT_EQ(first.process_token(), second.process_token());
}

TEST(ProcessMemoryDumpTest, OnlyBackgroundModeDiscardsNamesOffTheWhitelist) {
  ProcessMemoryDump pmd(ArgsFor(MemoryDumpLevelOfDetail::BACKGROUND));
  MemoryAllocatorDump* kept = pmd.CreateAllocatorDump("malloc");
  ASSERT_NE(nullptr, kept);
  EXPECT_EQ(kept, pmd.GetAllocatorDump("malloc"));
  EXPECT_EQ(MemoryDumpLevelOfDetail::BACKGROUND, kept->level_of_detail());

  MemoryAllocatorDump* discarded = pmd.CreateAllocatorDump("private/cache");
  ASSERT_NE(nullptr, discarded);
  EXPECT_NE(kept, discarded);
  EXPECT_EQ("discarded", discarded->absolute_name());
  EXPECT_EQ(pmd.GetDumpId("discarded"), discarded->guid());
  EXPECT_EQ(MemoryDumpLevelOfDetail::BACKGROUND, discarded->level_of_detail());
  // Writing into it is harmless, and it never shows in the dump.
  discarded->AddScalar("size", "bytes", 1);
  EXPECT_EQ(nullptr, pmd.GetAllocatorDump("private/cache"));
  EXPECT_EQ(nullptr, pmd.GetAllocatorDump("discarded"));
  EXPECT_EQ(discarded, pmd.CreateAllocatorDump("other/private"));
  EXPECT_EQ(discarded, pmd.CreateAllocatorDump("discarded"));
  EXPECT_EQ(1u, pmd.allocator_dumps().size());

  // Light and detailed dumps keep every name.
  for (MemoryDumpLevelOfDetail level :
       {MemoryDumpLevelOfDetail::LIGHT, MemoryDumpLevelOfDetail::DETAILED}) {
    ProcessMemoryDump full(ArgsFor(level));
    MemoryAllocatorDump* mad = full.CreateAllocatorDump("private/cache");
    EXPECT_EQ("private/cache", mad->absolute_name());
    EXPECT_EQ(level, mad->level_of_detail());
    EXPECT_EQ(mad, full.GetAllocatorDump("private/cache"));
  }
}

TEST(ProcessMemoryDumpTest, ExistingNameKeepsItsDump) {
  ProcessMemoryDump pmd(ArgsFor(MemoryDumpLevelOfDetail::DETAILED));
  MemoryAllocatorDump* first = pmd.CreateAllocatorDump("tracing/a");
  first->AddScalar("size", "bytes", 7);
  first->AddString("kind", "", "text");
  MemoryAllocatorDump* again = pmd.CreateAllocatorDump("tracing/a");
  EXPECT_EQ(first, again);
  ASSERT_EQ(2u, again->entries().size());

  const MemoryAllocatorDump::Entry& scalar = again->entries()[0];
  EXPECT_EQ("size", scalar.name);
  EXPECT_EQ("bytes", scalar.units);
  EXPECT_EQ(MemoryAllocatorDump::kUint64, scalar.entry_type);
  EXPECT_EQ(7u, scalar.value_uint64);
  EXPECT_TRUE(scalar.value_string.empty());
  const MemoryAllocatorDump::Entry& text = again->entries()[1];
  EXPECT_EQ(MemoryAllocatorDump::kString, text.entry_type);
  EXPECT_EQ("text", text.value_string);
  EXPECT_EQ(1u, pmd.allocator_dumps().size());
}

}  // namespace
}  // namespace trace_event
}  // namespace base
