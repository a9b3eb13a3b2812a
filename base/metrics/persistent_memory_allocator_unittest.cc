#include "base/metrics/persistent_memory_allocator.h"

#include <windows.h>

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/memory_mapped_file.h"
#include "base/files/scoped_temp_dir.h"
#include "base/path_service.h"
#include "base/base_paths.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/test/histogram_counts.h"
#include "base/test/scoped_log_lines.h"
#include "base/test/test_child_process.h"
#include "base/test/test_thread.h"
#include "base/time/time.h"
#include "gtest/gtest.h"

namespace base {
namespace {

using Reference = PersistentMemoryAllocator::Reference;

constexpr uint32_t kPageSize = 4096;
constexpr uint32_t kTypeA = 0xA1;
constexpr uint32_t kTypeB = 0xB2;
constexpr uint32_t kAllocatedCookie = 0xC8799269;

struct TestRecord {
  static constexpr uint32_t kPersistentTypeId = kTypeA;
  uint32_t owner;
  uint32_t index;
};

// A segment the test owns, zeroed and 8-byte aligned.
class Segment {
 public:
  explicit Segment(size_t size) : words_(size / 8) {}
  void* base() { return words_.data(); }
  size_t size() const { return words_.size() * 8; }
  uint32_t Word(uint32_t offset) const {
    uint32_t value;
    memcpy(&value, reinterpret_cast<const char*>(words_.data()) + offset, 4);
    return value;
  }
  void SetWord(uint32_t offset, uint32_t value) {
    memcpy(reinterpret_cast<char*>(words_.data()) + offset, &value, 4);
  }

 private:
  std::vector<uint64_t> words_;
};

TEST(PersistentMemoryAllocatorTest, BlockSizesAlignmentAndPages) {
  Segment segment(8 * kPageSize);
  PersistentMemoryAllocator allocator(segment.base(), segment.size(), kPageSize,
                                      7, "", false);
  ASSERT_FALSE(allocator.IsCorrupt());
  EXPECT_EQ(7u, allocator.Id());
  EXPECT_EQ(64u, allocator.used());

  // An empty request would make a block of only a header.
  EXPECT_EQ(0u, allocator.Allocate(0, kTypeA));
  // One byte makes a 24-byte block right after the segment header.
  const Reference one = allocator.Allocate(1, kTypeA);
  EXPECT_EQ(64u, one);
  EXPECT_EQ(8u, allocator.GetAllocSize(one));
  EXPECT_EQ(24u, segment.Word(one));
  EXPECT_EQ(kAllocatedCookie, segment.Word(one + 4));
  EXPECT_EQ(kTypeA, segment.Word(one + 8));
  EXPECT_EQ(0u, segment.Word(one + 12));
  const Reference nine = allocator.Allocate(9, kTypeB);
  EXPECT_EQ(88u, nine);
  EXPECT_EQ(16u, allocator.GetAllocSize(nine));
  EXPECT_EQ(
      0u,
      reinterpret_cast<uintptr_t>(allocator.GetBlockData(nine, kTypeB, 9)) % 8);

  // 4000 bytes do not fit in the rest of the first page: the rest becomes a
  // wasted block and the request starts the second page.
  const Reference big = allocator.Allocate(4000, kTypeA);
  EXPECT_EQ(kPageSize, big);
  EXPECT_EQ(kPageSize - 120, segment.Word(120));
  EXPECT_EQ(0xFFFFFFFFu, segment.Word(124));
  EXPECT_EQ(nullptr, allocator.GetBlockData(
                         120, PersistentMemoryAllocator::kTypeIdAny, 1));
  // The block ends 80 bytes before the page does; a 64-byte block would
  // leave 16, too few for any block, so it takes all 80.
  const Reference absorbing = allocator.Allocate(48, kTypeA);
  EXPECT_EQ(kPageSize + 4016, absorbing);
  EXPECT_EQ(64u, allocator.GetAllocSize(absorbing));
  EXPECT_EQ(2 * kPageSize, allocator.Allocate(1, kTypeA));

  // Requests beyond a page, or beyond the largest request, fail without
  // marking anything.
  EXPECT_EQ(0u, allocator.Allocate(kPageSize - 15, kTypeA));
  EXPECT_EQ(0u, allocator.Allocate(0x40000000, kTypeA));
  EXPECT_NE(0u, allocator.Allocate(kPageSize - 16, kTypeA));
  EXPECT_FALSE(allocator.IsCorrupt());
  EXPECT_FALSE(allocator.IsFull());
}

TEST(PersistentMemoryAllocatorTest, FillsUpWithoutCorruption) {
  Segment segment(1024);
  PersistentMemoryAllocator allocator(segment.base(), segment.size(), 0, 1,
                                      "small", false);
  EXPECT_STREQ("small", allocator.Name());
  int made = 0;
  while (allocator.Allocate(100, kTypeA))
    ++made;
  EXPECT_GT(made, 5);
  EXPECT_TRUE(allocator.IsFull());
  EXPECT_FALSE(allocator.IsCorrupt());
  // A smaller request may still fit the rest.
  EXPECT_NE(0u, allocator.Allocate(8, kTypeA));
}

TEST(PersistentMemoryAllocatorTest, LookupsCheckTypeSizeAndPlace) {
  Segment segment(kPageSize);
  PersistentMemoryAllocator allocator(segment.base(), segment.size(), 0, 1, "",
                                      false);
  const Reference ref = allocator.Allocate(sizeof(TestRecord), kTypeA);
  TestRecord* record = allocator.GetAsObject<TestRecord>(ref);
  ASSERT_TRUE(record);
  EXPECT_EQ(ref, allocator.GetAsReference(record, kTypeA));
  EXPECT_EQ(ref, allocator.GetAsReference(record, 0));
  EXPECT_EQ(0u, allocator.GetAsReference(record, kTypeB));
  EXPECT_EQ(0u, allocator.GetAsReference(&record->index, kTypeA));
  EXPECT_EQ(0u, allocator.GetAsReference(&ref, kTypeA));
  EXPECT_TRUE(allocator.GetAsArray<uint32_t>(ref, kTypeA, 2));
  EXPECT_FALSE(allocator.GetAsArray<uint32_t>(ref, kTypeA, 3));
  EXPECT_TRUE(allocator.GetAsArray<uint32_t>(
      ref, kTypeA, PersistentMemoryAllocator::kSizeAny));
  EXPECT_FALSE(allocator.GetAsArray<uint32_t>(ref, kTypeB, 1));
  // References that are no block's: none of them marks corruption.
  for (Reference bad : {0u, 48u, 60u, ref + 4, ref + 8, 4096u, 0xFFFFFFF8u})
    EXPECT_FALSE(allocator.GetBlockData(bad, 0, 1)) << bad;
  EXPECT_EQ(0u, allocator.GetAllocSize(ref + 8));
  EXPECT_FALSE(allocator.IsCorrupt());

  // Retyping: a plain exchange, or one that clears the data in between.
  record->owner = 5;
  EXPECT_FALSE(allocator.ChangeType(ref, kTypeB, kTypeB, false));
  EXPECT_TRUE(allocator.ChangeType(ref, kTypeB, kTypeA, false));
  EXPECT_EQ(kTypeB, allocator.GetType(ref));
  EXPECT_EQ(5u, record->owner);
  EXPECT_TRUE(allocator.ChangeType(ref, kTypeA, kTypeB, true));
  EXPECT_EQ(0u, record->owner);
  EXPECT_TRUE(allocator.ChangeType(
      ref, PersistentMemoryAllocator::kTypeIdTransitioning, kTypeA, true));
  EXPECT_EQ(PersistentMemoryAllocator::kTypeIdTransitioning,
            allocator.GetType(ref));
}

// A reference near the end of the segment names a block only when its
// header and the data asked for both end inside it. The segment is followed
// by a page that cannot be read, so a header looked at past the end stops
// the test rather than reading whatever lies there.
TEST(PersistentMemoryAllocatorTest, BlocksReachingPastTheEndAreRefused) {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  const uint32_t page = info.dwPageSize;
  char* region = static_cast<char*>(::VirtualAlloc(
      nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_TRUE(region) << ::GetLastError();
  DWORD old_protection;
  ASSERT_TRUE(
      ::VirtualProtect(region + page, page, PAGE_NOACCESS, &old_protection))
      << ::GetLastError();
  {
    PersistentMemoryAllocator allocator(region, page, 0, 1, "", false);
    ASSERT_FALSE(allocator.IsCorrupt());
    Reference last = 0;
    while (Reference ref = allocator.Allocate(8, kTypeA))
      last = ref;
    ASSERT_TRUE(allocator.IsFull());
    // The last block ends exactly at the end of the segment.
    const size_t last_size = allocator.GetAllocSize(last);
    ASSERT_EQ(page, last + 16 + last_size);
    EXPECT_TRUE(allocator.GetBlockData(last, kTypeA, last_size));
    EXPECT_FALSE(allocator.GetBlockData(last, kTypeA, last_size + 1));

    // Whose header would start at, or straddle, the end of the segment.
    for (Reference ref : {page, page - 8}) {
      EXPECT_EQ(0u, allocator.GetAllocSize(ref)) << ref;
      EXPECT_EQ(0u, allocator.GetType(ref)) << ref;
      EXPECT_FALSE(allocator.ChangeType(ref, kTypeB, 0, false)) << ref;
      EXPECT_FALSE(allocator.GetBlockData(ref, 0, 1)) << ref;
      allocator.MakeIterable(ref);
    }
    EXPECT_FALSE(allocator.IsCorrupt());
  }
  ::VirtualFree(region, 0, MEM_RELEASE);
}

TEST(PersistentMemoryAllocatorTest, IterationQueue) {
  Segment segment(kPageSize);
  PersistentMemoryAllocator allocator(segment.base(), segment.size(), 0, 1, "",
                                      false);
  PersistentMemoryAllocator::Iterator iter(&allocator);
  uint32_t type = 0;
  EXPECT_EQ(0u, iter.GetNext(&type));
  EXPECT_EQ(0u, iter.GetLast());

  const Reference a = allocator.Allocate(8, kTypeA);
  const Reference b = allocator.Allocate(8, kTypeB);
  const Reference c = allocator.Allocate(8, kTypeA);
  allocator.MakeIterable(b);
  allocator.MakeIterable(a);
  allocator.MakeIterable(b);  // already in: stays where it is
  EXPECT_EQ(b, iter.GetNext(&type));
  EXPECT_EQ(kTypeB, type);
  EXPECT_EQ(a, iter.GetNext(&type));
  EXPECT_EQ(0u, iter.GetNext(&type));
  EXPECT_EQ(a, iter.GetLast());
  // A block appended later is found by an iterator that reached the end.
  allocator.MakeIterable(c);
  EXPECT_EQ(c, iter.GetNext(&type));
  iter.Reset();
  EXPECT_EQ(a, iter.GetNextOfType(kTypeA));
  EXPECT_EQ(c, iter.GetNextOfType(kTypeA));
  EXPECT_EQ(0u, iter.GetNextOfType(kTypeA));
  EXPECT_FALSE(allocator.IsCorrupt());
}

TEST(PersistentMemoryAllocatorTest, LoopingQueueIsCorruption) {
  Segment segment(kPageSize);
  PersistentMemoryAllocator allocator(segment.base(), segment.size(), 0, 1, "",
                                      false);
  std::vector<Reference> refs;
  for (int i = 0; i < 3; ++i) {
    refs.push_back(allocator.Allocate(8, kTypeA));
    allocator.MakeIterable(refs.back());
  }
  // The last block points back at the first.
  segment.SetWord(refs[2] + 12, refs[0]);

  ScopedLogLines log(logging::LOG_ERROR, logging::LOG_ERROR);
  PersistentMemoryAllocator::Iterator iter(&allocator);
  int returned = 0;
  while (iter.GetNext(nullptr) && returned < 1000)
    ++returned;
  EXPECT_LT(returned, 1000);
  EXPECT_TRUE(allocator.IsCorrupt());
  EXPECT_EQ(0x1u, segment.Word(36) & 0x1);
  ASSERT_EQ(1u, log.lines().size());
  EXPECT_EQ("Corruption detected in shared-memory segment.", log.lines()[0]);

  // Another allocator over the segment sees the mark, makes nothing and
  // says nothing more.
  PersistentMemoryAllocator other(segment.base(), segment.size(), 0, 0, "",
                                  false);
  EXPECT_TRUE(other.IsCorrupt());
  EXPECT_EQ(0u, other.Allocate(8, kTypeA));
  EXPECT_EQ(1u, log.lines().size());
}

TEST(PersistentMemoryAllocatorTest, AppendingToLoopingQueueEnds) {
  Segment segment(kPageSize);
  PersistentMemoryAllocator allocator(segment.base(), segment.size(), 0, 1, "",
                                      false);
  const Reference a = allocator.Allocate(8, kTypeA);
  const Reference b = allocator.Allocate(8, kTypeA);
  const Reference c = allocator.Allocate(8, kTypeA);
  allocator.MakeIterable(a);
  allocator.MakeIterable(b);
  segment.SetWord(b + 12, a);  // the tail points back: no end to append to
  ScopedLogLines log(logging::LOG_ERROR, logging::LOG_ERROR);
  allocator.MakeIterable(c);
  EXPECT_TRUE(allocator.IsCorrupt());
}

TEST(PersistentMemoryAllocatorTest, WritesOutsideBlocksAreCorruption) {
  ScopedLogLines log(logging::LOG_ERROR, logging::LOG_ERROR);
  {
    // Something wrote into space no block has taken yet.
    Segment segment(kPageSize);
    PersistentMemoryAllocator allocator(segment.base(), segment.size(), 0, 1,
                                        "", false);
    segment.SetWord(64 + 8, 0x1234);
    EXPECT_EQ(0u, allocator.Allocate(8, kTypeA));
    EXPECT_TRUE(allocator.IsCorrupt());
    EXPECT_EQ(0u, allocator.Allocate(8, kTypeA));
  }
  {
    // A free pointer that is no place for a block.
    Segment segment(kPageSize);
    PersistentMemoryAllocator allocator(segment.base(), segment.size(), 0, 1,
                                        "", false);
    segment.SetWord(40, 67);
    EXPECT_EQ(0u, allocator.Allocate(8, kTypeA));
    EXPECT_TRUE(allocator.IsCorrupt());
  }
  {
    // A header that describes a segment larger than the memory.
    Segment segment(kPageSize);
    {
      PersistentMemoryAllocator(segment.base(), segment.size(), 0, 1, "",
                                false);
    }
    PersistentMemoryAllocator small(segment.base(), 2048, 0, 1, "", false);
    EXPECT_TRUE(small.IsCorrupt());
    EXPECT_EQ(0u, small.Allocate(8, kTypeA));
  }
  EXPECT_EQ(3u, log.lines().size());
}

TEST(PersistentMemoryAllocatorTest, SecondMappingAndReadOnly) {
  Segment segment(kPageSize);
  PersistentMemoryAllocator writer(segment.base(), segment.size(), 0, 42,
                                   "writer", false);
  const Reference ref = writer.Allocate(sizeof(TestRecord), kTypeA);
  writer.GetAsObject<TestRecord>(ref)->index = 9;
  writer.MakeIterable(ref);

  // The second mapping keeps the segment's own id and name.
  PersistentMemoryAllocator reader(segment.base(), segment.size(), 0, 1,
                                   "other", true);
  EXPECT_EQ(42u, reader.Id());
  EXPECT_STREQ("writer", reader.Name());
  PersistentMemoryAllocator::Iterator iter(&reader);
  EXPECT_EQ(ref, iter.GetNextOfType(kTypeA));
  EXPECT_EQ(9u, reader.GetAsObject<TestRecord>(ref)->index);
  const size_t used = reader.used();
  EXPECT_EQ(0u, reader.Allocate(8, kTypeA));
  EXPECT_FALSE(reader.ChangeType(ref, kTypeB, kTypeA, false));
  EXPECT_EQ(used, writer.used());
  EXPECT_EQ(kTypeA, writer.GetType(ref));
}

TEST(PersistentMemoryAllocatorTest, TrackingHistograms) {
  Segment segment(1024);
  PersistentMemoryAllocator allocator(segment.base(), segment.size(), 0, 1, "",
                                      false);
  allocator.CreateTrackingHistograms("TestTracking");
  const std::string allocs = "UMA.PersistentAllocator.TestTracking.Allocs";
  const std::string errors = "UMA.PersistentAllocator.TestTracking.Errors";
  const int made_before = HistogramSampleCount(allocs, 100);
  const int failed_before = HistogramSampleCount(allocs, 0);
  const int errors_before = HistogramTotalCount(errors);
  allocator.Allocate(100, kTypeA);
  allocator.Allocate(2000, kTypeA);
  EXPECT_EQ(made_before + 1, HistogramSampleCount(allocs, 100));
  EXPECT_EQ(failed_before + 1, HistogramSampleCount(allocs, 0));
  ScopedLogLines log(logging::LOG_ERROR, logging::LOG_ERROR);
  allocator.SetCorrupt();
  allocator.SetCorrupt();
  EXPECT_EQ(errors_before + 1, HistogramTotalCount(errors));
}

TEST(PersistentMemoryAllocatorTest, DelayedAllocationSharesOneBlock) {
  Segment segment(kPageSize);
  PersistentMemoryAllocator allocator(segment.base(), segment.size(), 0, 1, "",
                                      false);
  const Reference holder = allocator.Allocate(8, kTypeB);
  auto* slot = static_cast<std::atomic<Reference>*>(
      allocator.GetBlockData(holder, kTypeB, sizeof(Reference)));
  ASSERT_TRUE(slot);
  DelayedPersistentAllocation first(&allocator, slot, kTypeA, 64, 0, true);
  DelayedPersistentAllocation second(&allocator, slot, kTypeA, 64, 32, true);
  EXPECT_EQ(0u, first.reference());
  char* second_part = static_cast<char*>(second.Get());
  ASSERT_TRUE(second_part);
  const Reference made = slot->load();
  EXPECT_NE(0u, made);
  EXPECT_EQ(second_part - 32, first.Get());
  EXPECT_EQ(made, first.reference());
  PersistentMemoryAllocator::Iterator iter(&allocator);
  EXPECT_EQ(made, iter.GetNext(nullptr));
  EXPECT_EQ(0u, iter.GetNext(nullptr));

  // Threads racing for an empty slot all end up with the winner's block.
  std::atomic<Reference> race_slot{0};
  std::vector<void*> got(8);
  std::vector<std::unique_ptr<TestThread>> threads;
  for (int i = 0; i < 8; ++i) {
    threads.push_back(std::make_unique<TestThread>([&, i] {
      DelayedPersistentAllocation mine(&allocator, &race_slot, kTypeB, 16, 0,
                                       false);
      got[i] = mine.Get();
    }));
  }
  for (auto& thread : threads)
    thread->Join();
  EXPECT_TRUE(got[0]);
  EXPECT_EQ(8, std::count(got.begin(), got.end(), got[0]));
}

// Blocks of one thread or process, checked after the others were made too.
struct Made {
  Reference ref;
  uint32_t size;
  uint32_t owner;
  uint32_t index;
};

// Fills a block with its owner and index, so overlapping blocks show.
void FillBlock(PersistentMemoryAllocator* allocator, const Made& made) {
  uint32_t* words = static_cast<uint32_t*>(
      allocator->GetBlockData(made.ref, kTypeA, made.size));
  for (uint32_t i = 0; i < made.size / 4; ++i)
    words[i] = i % 2 ? made.index : made.owner;
}

bool BlockIntact(PersistentMemoryAllocator* allocator, const Made& made) {
  const uint32_t* words = static_cast<const uint32_t*>(
      allocator->GetBlockData(made.ref, kTypeA, made.size));
  if (!words)
    return false;
  for (uint32_t i = 0; i < made.size / 4; ++i) {
    if (words[i] != (i % 2 ? made.index : made.owner))
      return false;
  }
  return true;
}

TEST(PersistentMemoryAllocatorTest, EightThreadsAllocateDistinctBlocks) {
  constexpr int kThreads = 8;
  constexpr uint32_t kPerThread = 400;
  Segment segment(256 * kPageSize);
  PersistentMemoryAllocator allocator(segment.base(), segment.size(), kPageSize,
                                      1, "threads", false);
  std::vector<std::vector<Made>> made(kThreads);
  std::atomic<int> ready{0};
  std::vector<std::unique_ptr<TestThread>> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.push_back(std::make_unique<TestThread>([&, t] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) {
      }
      for (uint32_t i = 0; i < kPerThread; ++i) {
        const uint32_t size = 8 + (i * 37 + t * 11) % 300 / 8 * 8;
        const Made block = {allocator.Allocate(size, kTypeA), size,
                            static_cast<uint32_t>(t + 1), i};
        if (!block.ref)
          return;
        FillBlock(&allocator, block);
        allocator.MakeIterable(block.ref);
        made[t].push_back(block);
      }
    }));
  }
  for (auto& thread : threads)
    thread->Join();
  ASSERT_FALSE(allocator.IsCorrupt());

  std::map<Reference, Made> all;
  for (const auto& list : made) {
    ASSERT_EQ(kPerThread, list.size());
    for (const Made& block : list) {
      EXPECT_TRUE(all.emplace(block.ref, block).second) << block.ref;
      EXPECT_TRUE(BlockIntact(&allocator, block)) << block.ref;
      // No block crosses a page.
      EXPECT_EQ(block.ref / kPageSize,
                (block.ref + 16 + block.size - 1) / kPageSize);
    }
  }
  // Blocks do not overlap.
  Reference end = 64;
  for (const auto& entry : all) {
    EXPECT_LE(end, entry.first);
    end = entry.first + 16 + allocator.GetAllocSize(entry.first);
  }

  // The queue holds every block once, each thread's in its own order, and
  // threads sharing one iterator get each block once between them.
  PersistentMemoryAllocator::Iterator iter(&allocator);
  std::vector<std::vector<Reference>> seen(kThreads);
  threads.clear();
  for (int t = 0; t < kThreads; ++t) {
    threads.push_back(std::make_unique<TestThread>([&, t] {
      while (Reference ref = iter.GetNext(nullptr))
        seen[t].push_back(ref);
    }));
  }
  for (auto& thread : threads)
    thread->Join();
  std::set<Reference> seen_once;
  for (const auto& list : seen) {
    for (Reference ref : list)
      EXPECT_TRUE(seen_once.insert(ref).second) << ref;
  }
  EXPECT_EQ(all.size(), seen_once.size());
  iter.Reset();
  std::vector<uint32_t> next_index(kThreads + 1, 0);
  while (Reference ref = iter.GetNext(nullptr)) {
    const Made& block = all[ref];
    EXPECT_EQ(next_index[block.owner]++, block.index);
  }
  EXPECT_FALSE(allocator.IsCorrupt());
}

// Another process maps the same file and allocates while this one does;
// each sees the other's blocks. The child is kavor_persistent_child.exe.
TEST(PersistentMemoryAllocatorTest, TwoProcessesShareOneFile) {
  ScopedTempDir dir;
  ASSERT_TRUE(dir.CreateUniqueTempDir());
  const FilePath path = dir.GetPath().Append(L"segment.pma");
  const std::string zeros(4 << 20, '\0');
  ASSERT_EQ(static_cast<int>(zeros.size()),
            WriteFile(path, zeros.data(), static_cast<int>(zeros.size())));
  auto file = std::make_unique<MemoryMappedFile>();
  ASSERT_TRUE(file->Initialize(path, MemoryMappedFile::READ_WRITE));
  FilePersistentMemoryAllocator allocator(std::move(file), 0, 3, "shared",
                                          false);
  ASSERT_FALSE(allocator.IsCorrupt());
  constexpr uint32_t kParentOwner = 1;
  constexpr uint32_t kChildOwner = 2;
  constexpr uint32_t kChildBlocks = 5000;
  constexpr uint32_t kMaxParentBlocks = 50000;
  auto make_parent_block = [&](uint32_t index) {
    const Made block = {allocator.Allocate(24, kTypeA), 24, kParentOwner,
                        index};
    ASSERT_NE(0u, block.ref);
    FillBlock(&allocator, block);
    allocator.MakeIterable(block.ref);
  };
  for (uint32_t i = 0; i < 10; ++i)
    make_parent_block(i);

  // The child expects our first 10 blocks, then adds its own while we go
  // on adding ours until it has ended.
  FilePath exe_dir;
  ASSERT_TRUE(PathService::Get(DIR_EXE, &exe_dir));
  CommandLine command(exe_dir.Append(L"kavor_persistent_child.exe"));
  command.AppendArg("allocate");
  command.AppendArgNative(path.value());
  command.AppendArg(std::to_string(kChildOwner));
  command.AppendArg(std::to_string(kChildBlocks));
  LaunchOptions options;
  options.start_hidden = true;
  Process child;
  ASSERT_TRUE(StartTestChild(command, options, &child));
  uint32_t parent_blocks = 10;
  int exit_code = -1;
  while (!child.WaitForExitWithTimeout(TimeDelta(), &exit_code) &&
         parent_blocks < kMaxParentBlocks) {
    make_parent_block(parent_blocks++);
  }
  ASSERT_TRUE(WaitForTestChild(&child, "the child allocating in the file",
                               &exit_code));
  EXPECT_EQ(0, exit_code);

  std::map<uint32_t, uint32_t> next_index;
  std::set<Reference> refs;
  PersistentMemoryAllocator::Iterator iter(&allocator);
  while (Reference ref = iter.GetNextOfType(kTypeA)) {
    const uint32_t* words =
        static_cast<const uint32_t*>(allocator.GetBlockData(ref, kTypeA, 24));
    ASSERT_TRUE(words);
    const Made block = {ref, 24, words[0], words[1]};
    EXPECT_TRUE(BlockIntact(&allocator, block));
    EXPECT_EQ(next_index[block.owner]++, block.index);
    EXPECT_TRUE(refs.insert(ref).second);
  }
  EXPECT_EQ(parent_blocks, next_index[kParentOwner]);
  EXPECT_EQ(kChildBlocks, next_index[kChildOwner]);
  EXPECT_FALSE(allocator.IsCorrupt());
}

}  // namespace
}  // namespace base
