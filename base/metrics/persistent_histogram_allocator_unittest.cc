#include "base/metrics/persistent_histogram_allocator.h"

#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/memory_mapped_file.h"
#include "base/files/scoped_temp_dir.h"
#include "base/metrics/histogram.h"
#include "base/metrics/histogram_samples.h"
#include "base/metrics/sparse_histogram.h"
#include "base/metrics/statistics_recorder.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/test/test_child_process.h"
#include "gtest/gtest.h"

namespace base {
namespace {

using Reference = PersistentMemoryAllocator::Reference;
constexpr int32_t kUma = HistogramBase::kUmaTargetedHistogramFlag;

// Each test gets a recorder of its own and a global histogram allocator
// over a fresh segment. Segments are never freed: histograms made in them
// stay reachable from caches of the code under test.
class PersistentHistogramAllocatorTest : public testing::Test {
 protected:
  void SetUp() override {
    // Made first, on the heap, so its counts outlive every test's segment.
    results_ =
        PersistentHistogramAllocator::GetCreateHistogramResultHistogram();
    ASSERT_TRUE(results_);
    recorder_ = StatisticsRecorder::CreateTemporaryForTesting();
  }

  void TearDown() override {
    GlobalHistogramAllocator::ReleaseForTesting().release();
    recorder_.reset();
  }

  void InstallLocal(size_t size) {
    GlobalHistogramAllocator::CreateWithLocalMemory(size, 1, "TestMetrics");
    memory_ = GlobalHistogramAllocator::Get()->memory_allocator();
  }

  int Results(int result) const {
    return results_->SnapshotSamples()->GetCount(result);
  }

  // The record of the histogram |name|; 0 when none is iterable.
  Reference FindRecord(PersistentMemoryAllocator* memory,
                       const std::string& name) {
    PersistentMemoryAllocator::Iterator iter(memory);
    while (Reference ref = iter.GetNextOfType(
               PersistentHistogramAllocator::kTypeIdHistogram)) {
      const char* data = static_cast<const char*>(memory->GetBlockData(
          ref, PersistentHistogramAllocator::kTypeIdHistogram, 88));
      if (data && name == data + 80)
        return ref;
    }
    return 0;
  }

  char* RecordBytes(Reference ref) {
    return static_cast<char*>(memory_->GetBlockData(
        ref, PersistentHistogramAllocator::kTypeIdHistogram, 88));
  }

  // Writes the single-sample word of |record| as a damaged segment or a
  // foreign writer would.
  void WriteSingleSample(Reference record, uint32_t bucket, uint32_t count) {
    constexpr int kSingleSampleWord = 32 + 20;
    const uint32_t word = bucket | (count << 16);
    memcpy(RecordBytes(record) + kSingleSampleWord, &word, 4);
  }

  HistogramBase* results_ = nullptr;
  std::unique_ptr<StatisticsRecorder> recorder_;
  PersistentMemoryAllocator* memory_ = nullptr;
};

// A second reader of the segment (another allocator over the same memory,
// as another process would have) builds the same histograms and shares
// their samples both ways.
TEST_F(PersistentHistogramAllocatorTest, SecondReaderSharesSamples) {
  InstallLocal(1 << 20);
  HistogramBase* exponential =
      Histogram::FactoryGet("Test.Persistent.Exp", 1, 1000, 10, kUma);
  HistogramBase* sparse =
      SparseHistogram::FactoryGet("Test.Persistent.Sparse", kUma);
  EXPECT_EQ(kUma | HistogramBase::kIsPersistent, exponential->flags());
  EXPECT_EQ(kUma | HistogramBase::kIsPersistent, sparse->flags());
  exponential->Add(5);
  sparse->Add(-5);
  sparse->Add(7);
  sparse->Add(7);

  PersistentHistogramAllocator reader(
      std::make_unique<PersistentMemoryAllocator>(
          const_cast<void*>(memory_->data()), memory_->size(), 0, 0, "",
          false));
  std::unique_ptr<HistogramBase> exp_copy = reader.GetHistogram(
      FindRecord(reader.memory_allocator(), "Test.Persistent.Exp"));
  std::unique_ptr<HistogramBase> sparse_copy = reader.GetHistogram(
      FindRecord(reader.memory_allocator(), "Test.Persistent.Sparse"));
  ASSERT_TRUE(exp_copy && sparse_copy);
  EXPECT_STREQ("Test.Persistent.Exp", exp_copy->histogram_name());
  EXPECT_TRUE(exp_copy->HasConstructionArguments(1, 1000, 10));
  EXPECT_EQ(1, exp_copy->SnapshotSamples()->GetCount(5));
  EXPECT_EQ(1, sparse_copy->SnapshotSamples()->GetCount(-5));
  EXPECT_EQ(2, sparse_copy->SnapshotSamples()->GetCount(7));

  // A second bucket moves the samples to a counts array the first object
  // must find; a new sparse value is a record it must find.
  exp_copy->Add(700);
  exp_copy->Add(5);
  sparse_copy->Add(7);
  sparse_copy->Add(1000000);
  std::unique_ptr<HistogramSamples> exp_samples =
      exponential->SnapshotSamples();
  EXPECT_EQ(2, exp_samples->GetCount(5));
  EXPECT_EQ(1, exp_samples->GetCount(700));
  EXPECT_EQ(3, exp_samples->TotalCount());
  EXPECT_EQ(710, exp_samples->sum());
  std::unique_ptr<HistogramSamples> sparse_samples = sparse->SnapshotSamples();
  EXPECT_EQ(3, sparse_samples->GetCount(7));
  EXPECT_EQ(1, sparse_samples->GetCount(1000000));
  EXPECT_EQ(5, sparse_samples->TotalCount());

  // Deltas are shared too: what one logged, the other sees as logged.
  EXPECT_EQ(5, sparse->SnapshotDelta()->TotalCount());
  EXPECT_EQ(0, sparse_copy->SnapshotFinalDelta()->TotalCount());
  EXPECT_EQ(5, sparse_copy->SnapshotSamples()->TotalCount());
}

// The statistics recorder takes in what other users of the segment made,
// and asking for a name again answers the imported object.
TEST_F(PersistentHistogramAllocatorTest, ImportRegistersOthersHistograms) {
  InstallLocal(1 << 20);
  PersistentHistogramAllocator other(
      std::make_unique<PersistentMemoryAllocator>(
          const_cast<void*>(memory_->data()), memory_->size(), 0, 0, "",
          false));
  const BucketRanges* ranges = nullptr;
  {
    // Borrow a registered layout for the other user's histogram.
    ranges = static_cast<Histogram*>(
                 Histogram::FactoryGet("Test.Persistent.Layout", 1, 100, 10, 0))
                 ->bucket_ranges();
  }
  uint32_t ref = 0;
  std::unique_ptr<HistogramBase> made = other.AllocateHistogram(
      HISTOGRAM, "Test.Persistent.Other", 1, 100, ranges, kUma, &ref);
  ASSERT_TRUE(made);
  other.FinalizeHistogram(ref, true);
  made->Add(50);

  HistogramBase* found =
      StatisticsRecorder::FindHistogram("Test.Persistent.Other");
  ASSERT_TRUE(found);
  EXPECT_EQ(1, found->SnapshotSamples()->GetCount(50));
  EXPECT_EQ(found,
            Histogram::FactoryGet("Test.Persistent.Other", 1, 100, 10, kUma));

  // A duplicate that lost registration leaves no record to be found.
  std::unique_ptr<HistogramBase> loser = other.AllocateHistogram(
      HISTOGRAM, "Test.Persistent.Other", 1, 100, ranges, kUma, &ref);
  ASSERT_TRUE(loser);
  other.FinalizeHistogram(ref, false);
  EXPECT_EQ(0u, memory_->GetType(ref));
}

// Two users that made the same histogram both keep recording; every later
// reader builds the record that joined the queue first.
TEST_F(PersistentHistogramAllocatorTest, FirstIterableRecordWins) {
  InstallLocal(1 << 20);
  const BucketRanges* ranges =
      static_cast<Histogram*>(
          Histogram::FactoryGet("Test.Persistent.Layout", 1, 100, 10, 0))
          ->bucket_ranges();
  auto attach = [&] {
    return std::make_unique<PersistentHistogramAllocator>(
        std::make_unique<PersistentMemoryAllocator>(
            const_cast<void*>(memory_->data()), memory_->size(), 0, 0, "",
            false));
  };
  std::unique_ptr<PersistentHistogramAllocator> first = attach();
  std::unique_ptr<PersistentHistogramAllocator> second = attach();
  uint32_t first_ref = 0;
  uint32_t second_ref = 0;
  std::unique_ptr<HistogramBase> from_first = first->AllocateHistogram(
      HISTOGRAM, "Test.Persistent.Twice", 1, 100, ranges, kUma, &first_ref);
  std::unique_ptr<HistogramBase> from_second = second->AllocateHistogram(
      HISTOGRAM, "Test.Persistent.Twice", 1, 100, ranges, kUma, &second_ref);
  ASSERT_TRUE(from_first && from_second);
  second->FinalizeHistogram(second_ref, true);
  first->FinalizeHistogram(first_ref, true);
  from_first->Add(1);
  from_second->Add(2);

  HistogramBase* found =
      StatisticsRecorder::FindHistogram("Test.Persistent.Twice");
  ASSERT_TRUE(found);
  EXPECT_EQ(1, found->SnapshotSamples()->GetCount(2));
  EXPECT_EQ(0, found->SnapshotSamples()->GetCount(1));
}

TEST_F(PersistentHistogramAllocatorTest, DamagedRecordsAreRefused) {
  InstallLocal(1 << 20);
  for (const char* name :
       {"Test.Damaged.Name", "Test.Damaged.Order", "Test.Damaged.Counts",
        "Test.Damaged.Type", "Test.Damaged.Cover"}) {
    Histogram::FactoryGet(name, 1, 1000, 10, kUma)->Add(3);
  }
  PersistentHistogramAllocator reader(
      std::make_unique<PersistentMemoryAllocator>(
          const_cast<void*>(memory_->data()), memory_->size(), 0, 0, "",
          false));
  auto refuses = [&](const char* name, int result) {
    const Reference ref = FindRecord(memory_, name);
    const int before = Results(result);
    EXPECT_FALSE(reader.GetHistogram(ref)) << name;
    EXPECT_EQ(before + 1, Results(result)) << name;
  };

  // A name cut short no longer hashes to the id of its samples.
  Reference ref = FindRecord(memory_, "Test.Damaged.Name");
  RecordBytes(ref)[80 + 12] = '\0';
  refuses("Test.Damaged", PersistentHistogramAllocator::kCreateInvalidRecord);
  RecordBytes(ref)[80 + 12] = '.';
  ASSERT_TRUE(reader.GetHistogram(ref));

  // Boundaries out of order (the checksum would tell as well).
  int32_t* boundaries = static_cast<int32_t*>(memory_->GetBlockData(
      *reinterpret_cast<uint32_t*>(
          RecordBytes(FindRecord(memory_, "Test.Damaged.Order")) + 20),
      PersistentHistogramAllocator::kTypeIdRangesArray, 44));
  ASSERT_TRUE(boundaries);
  // The layout is shared by all five; copy the record's reference away.
  const Reference shared_ranges =
      memory_->Allocate(44, PersistentHistogramAllocator::kTypeIdRangesArray);
  int32_t* reordered = static_cast<int32_t*>(memory_->GetBlockData(
      shared_ranges, PersistentHistogramAllocator::kTypeIdRangesArray, 44));
  memcpy(reordered, boundaries, 44);
  std::swap(reordered[3], reordered[4]);
  memcpy(RecordBytes(FindRecord(memory_, "Test.Damaged.Order")) + 20,
         &shared_ranges, 4);
  refuses("Test.Damaged.Order",
          PersistentHistogramAllocator::kCreateInvalidBoundaries);

  // Boundaries in order with a matching checksum, but not covering every
  // value a histogram accepts.
  const Reference narrow_ref =
      memory_->Allocate(44, PersistentHistogramAllocator::kTypeIdRangesArray);
  int32_t* narrow = static_cast<int32_t*>(memory_->GetBlockData(
      narrow_ref, PersistentHistogramAllocator::kTypeIdRangesArray, 44));
  BucketRanges layout(11);
  for (int i = 0; i <= 10; ++i)
    layout.set_range(i, narrow[i] = 10 + i);
  layout.ResetChecksum();
  char* cover = RecordBytes(FindRecord(memory_, "Test.Damaged.Cover"));
  memcpy(cover + 20, &narrow_ref, 4);
  const uint32_t checksum = layout.checksum();
  memcpy(cover + 24, &checksum, 4);
  refuses("Test.Damaged.Cover",
          PersistentHistogramAllocator::kCreateInvalidBoundaries);

  // A counts block too small for two halves of ten buckets.
  const Reference small_counts =
      memory_->Allocate(40, PersistentHistogramAllocator::kTypeIdCountsArray);
  memcpy(RecordBytes(FindRecord(memory_, "Test.Damaged.Counts")) + 28,
         &small_counts, 4);
  refuses("Test.Damaged.Counts",
          PersistentHistogramAllocator::kCreateInvalidCounts);

  const int32_t unknown_type = 9;
  memcpy(RecordBytes(FindRecord(memory_, "Test.Damaged.Type")), &unknown_type,
         4);
  refuses("Test.Damaged.Type",
          PersistentHistogramAllocator::kCreateUnknownType);
}

// The single-sample word of a record names a bucket by index. A word naming
// a bucket the layout lacks (a damaged segment, a foreign writer) is never
// used as an index: a reader refuses the record and marks the segment
// corrupt, and objects already built ignore the word.
TEST_F(PersistentHistogramAllocatorTest, SingleSampleOutsideTheLayout) {
  InstallLocal(1 << 20);
  PersistentHistogramAllocator reader(
      std::make_unique<PersistentMemoryAllocator>(
          const_cast<void*>(memory_->data()), memory_->size(), 0, 0, "",
          false));

  // Both made while the segment is sound.
  HistogramBase* rendered =
      Histogram::FactoryGet("Test.Single.Rendered", 1, 1000, 10, kUma);
  rendered->Add(3);

  // Another user's object was built while the word was sound; the counts
  // array is then made by this one, and a block lies behind it.
  HistogramBase* made =
      Histogram::FactoryGet("Test.Single.Moved", 1, 1000, 10, kUma);
  made->Add(3);
  const Reference moved = FindRecord(memory_, "Test.Single.Moved");
  std::unique_ptr<HistogramBase> other = reader.GetHistogram(moved);
  ASSERT_TRUE(other);
  made->Add(500);
  uint32_t counts_ref;
  memcpy(&counts_ref, RecordBytes(moved) + 28, 4);
  const char* counts = static_cast<const char*>(memory_->GetBlockData(
      counts_ref, PersistentHistogramAllocator::kTypeIdCountsArray, 80));
  ASSERT_TRUE(counts);
  const Reference sentinel_ref = memory_->Allocate(4, 0x5E47);
  int32_t* sentinel = static_cast<int32_t*>(
      memory_->GetBlockData(sentinel_ref, 0x5E47, 4));
  ASSERT_TRUE(sentinel);
  *sentinel = 1000;
  const uint32_t sentinel_bucket =
      static_cast<uint32_t>(reinterpret_cast<const char*>(sentinel) - counts) /
      4;
  ASSERT_LT(sentinel_bucket, 0x10000u);

  // The other object moves its single sample out on its next sample into
  // another bucket: the damaged word must not carry its count behind the
  // counts array.
  WriteSingleSample(moved, sentinel_bucket, 7);
  other->Add(50);
  EXPECT_EQ(1000, *sentinel);
  EXPECT_TRUE(memory_->IsCorrupt());
  std::unique_ptr<HistogramSamples> samples = other->SnapshotSamples();
  EXPECT_EQ(1, samples->GetCount(3));
  EXPECT_EQ(1, samples->GetCount(50));
  EXPECT_EQ(1, samples->GetCount(500));

  // A record whose word is damaged before anyone reads it: built objects
  // render and snapshot without the word, readers refuse the record.
  const Reference record = FindRecord(memory_, "Test.Single.Rendered");
  WriteSingleSample(record, 0xFFFF, 7);
  std::string text;
  rendered->WriteAscii(&text);
  EXPECT_NE(std::string::npos, text.find("recorded 0 samples")) << text;
  EXPECT_EQ(0, rendered->SnapshotSamples()->TotalCount());
  const int before =
      Results(PersistentHistogramAllocator::kCreateInvalidRecord);
  EXPECT_FALSE(reader.GetHistogram(record));
  EXPECT_EQ(before + 1,
            Results(PersistentHistogramAllocator::kCreateInvalidRecord));
  EXPECT_TRUE(reader.memory_allocator()->IsCorrupt());
}

// The edge of the layout: the last bucket is one a word may name, the
// bucket just past it is not.
TEST_F(PersistentHistogramAllocatorTest, SingleSampleAtTheLayoutsEnd) {
  InstallLocal(1 << 20);
  constexpr uint32_t kBuckets = 10;
  PersistentHistogramAllocator reader(
      std::make_unique<PersistentMemoryAllocator>(
          const_cast<void*>(memory_->data()), memory_->size(), 0, 0, "",
          false));
  // Both made while the segment is sound: nothing can be allocated in it
  // once it is marked corrupt.
  Histogram::FactoryGet("Test.Edge.Last", 1, 1000, kBuckets, kUma);
  Histogram::FactoryGet("Test.Edge.Past", 1, 1000, kBuckets, kUma);
  const Reference last = FindRecord(memory_, "Test.Edge.Last");
  const Reference past = FindRecord(memory_, "Test.Edge.Past");
  ASSERT_TRUE(last && past);

  // The last bucket holds every value from the declared maximum up.
  WriteSingleSample(last, kBuckets - 1, 7);
  std::unique_ptr<HistogramBase> last_copy = reader.GetHistogram(last);
  ASSERT_TRUE(last_copy);
  EXPECT_FALSE(memory_->IsCorrupt());
  std::unique_ptr<HistogramSamples> samples = last_copy->SnapshotSamples();
  EXPECT_EQ(7, samples->TotalCount());
  EXPECT_EQ(7, samples->GetCount(1000000));

  const int before =
      Results(PersistentHistogramAllocator::kCreateInvalidRecord);
  WriteSingleSample(past, kBuckets, 7);
  EXPECT_FALSE(reader.GetHistogram(past));
  EXPECT_EQ(before + 1,
            Results(PersistentHistogramAllocator::kCreateInvalidRecord));
  EXPECT_TRUE(memory_->IsCorrupt());
}

TEST_F(PersistentHistogramAllocatorTest, FullSegmentFallsBackToHeap) {
  InstallLocal(8192);
  while (memory_->Allocate(64, 1)) {
  }
  ASSERT_TRUE(memory_->IsFull());
  const int before =
      Results(PersistentHistogramAllocator::kCreateAllocatorFull);
  HistogramBase* histogram =
      Histogram::FactoryGet("Test.Persistent.Full", 1, 1000, 10, kUma);
  EXPECT_EQ(kUma, histogram->flags());
  histogram->Add(4);
  histogram->Add(400);
  EXPECT_EQ(2, histogram->SnapshotSamples()->TotalCount());
  HistogramBase* sparse =
      SparseHistogram::FactoryGet("Test.Persistent.FullSparse", kUma);
  EXPECT_EQ(kUma, sparse->flags());
  sparse->Add(3);
  EXPECT_EQ(1, sparse->SnapshotSamples()->GetCount(3));
  EXPECT_EQ(before + 2,
            Results(PersistentHistogramAllocator::kCreateAllocatorFull));
}

// Another process installs the same segment file as its histogram
// allocator: it finds this process's histograms with their samples, and
// this process sees what it adds. The child is kavor_persistent_child.exe.
TEST_F(PersistentHistogramAllocatorTest, TwoProcessesShareHistograms) {
  ScopedTempDir dir;
  ASSERT_TRUE(dir.CreateUniqueTempDir());
  const FilePath path = dir.GetPath().Append(L"histograms.pma");
  const std::string zeros(1 << 20, '\0');
  ASSERT_EQ(static_cast<int>(zeros.size()),
            WriteFile(path, zeros.data(), static_cast<int>(zeros.size())));
  auto file = std::make_unique<MemoryMappedFile>();
  ASSERT_TRUE(file->Initialize(path, MemoryMappedFile::READ_WRITE));
  GlobalHistogramAllocator::CreateWithAllocator(
      std::make_unique<FilePersistentMemoryAllocator>(std::move(file), 0, 2,
                                                      "Shared", false));
  HistogramBase* exponential =
      Histogram::FactoryGet("Test.Shared.Exp", 1, 1000, 10, kUma);
  HistogramBase* sparse =
      SparseHistogram::FactoryGet("Test.Shared.Sparse", kUma);
  exponential->AddCount(5, 3);
  sparse->AddCount(42, 2);

  FilePath exe_dir;
  ASSERT_TRUE(PathService::Get(DIR_EXE, &exe_dir));
  CommandLine command(exe_dir.Append(L"kavor_persistent_child.exe"));
  command.AppendArg("histograms");
  command.AppendArgNative(path.value());
  LaunchOptions options;
  options.start_hidden = true;
  int exit_code = -1;
  ASSERT_TRUE(RunTestChild(command, options,
                           "the child adding to the shared histograms",
                           &exit_code));
  ASSERT_EQ(0, exit_code);

  std::unique_ptr<HistogramSamples> exp_samples =
      exponential->SnapshotSamples();
  EXPECT_EQ(3, exp_samples->GetCount(5));
  EXPECT_EQ(2, exp_samples->GetCount(500));
  std::unique_ptr<HistogramSamples> sparse_samples = sparse->SnapshotSamples();
  EXPECT_EQ(3, sparse_samples->GetCount(42));
  EXPECT_EQ(1, sparse_samples->GetCount(-7));
  EXPECT_EQ(4, sparse_samples->TotalCount());
  EXPECT_FALSE(
      GlobalHistogramAllocator::Get()->memory_allocator()->IsCorrupt());
}

}  // namespace
}  // namespace base
