#ifndef BASE_METRICS_PERSISTENT_HISTOGRAM_ALLOCATOR_H_
#define BASE_METRICS_PERSISTENT_HISTOGRAM_ALLOCATOR_H_

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <memory>
#include <string>

#include "base/metrics/histogram_base.h"
#include "base/metrics/histogram_persistence.h"
#include "base/metrics/persistent_memory_allocator.h"
#include "base/metrics/persistent_sample_map.h"
#include "base/metrics/sample_vector.h"
#include "base/strings/string_piece.h"

namespace base {

class BucketRanges;

// Samples of a bucketed histogram whose counts array lives in a persistent
// segment, made there on first need (and shared by every process that
// builds the histogram from the same record).
class PersistentSampleVector : public SampleVectorBase {
 public:
  // |ranges| and |meta| must outlive this object.
  PersistentSampleVector(uint64_t id,
                         const BucketRanges* ranges,
                         Metadata* meta,
                         const DelayedPersistentAllocation& counts);
  ~PersistentSampleVector() override;

 private:
  bool MountExistingCountsStorage() const override;
  Count* CreateCountsStorageWhileLocked() override;
  // The segment is marked corrupt, as for any other damage found in it.
  void OnCorruptSingleSample() const override;

  DelayedPersistentAllocation persistent_counts_;
  // Used only when the segment could not give the counts array.
  std::unique_ptr<std::atomic<Count>[]> heap_counts_;
};

// Places histograms in a persistent segment, so that other processes and
// later readers of the segment can find and read them. Each histogram is a
// record with its parameters, its sample metadata and its name; its
// boundaries and counts are further blocks.
class PersistentHistogramAllocator : public HistogramPersistence {
 public:
  // Block type ids of the records kept here.
  static constexpr uint32_t kTypeIdHistogram = 0xF1645913;
  static constexpr uint32_t kTypeIdRangesArray = 0xBCEA225B;
  static constexpr uint32_t kTypeIdCountsArray = 0x53215531;

  // Outcomes of making a histogram, counted in
  // "UMA.CreatePersistentHistogram.Result".
  enum CreateHistogramResult {
    kCreateSuccess = 0,
    kCreateMissingRecord = 1,
    kCreateInvalidRecord = 2,
    kCreateInvalidBoundaries = 3,
    kCreateInvalidCounts = 4,
    kCreateAllocatorCorrupt = 5,
    kCreateAllocatorFull = 6,
    kCreateAllocatorError = 7,
    kCreateUnknownType = 8,
    kCreateAllocatorNewlyCorrupt = 9,
  };

  explicit PersistentHistogramAllocator(
      std::unique_ptr<PersistentMemoryAllocator> memory);
  ~PersistentHistogramAllocator() override;

  PersistentHistogramAllocator(const PersistentHistogramAllocator&) = delete;
  PersistentHistogramAllocator& operator=(const PersistentHistogramAllocator&) =
      delete;

  PersistentMemoryAllocator* memory_allocator() { return memory_.get(); }

  // "UMA.CreatePersistentHistogram.Result", made on first use.
  static HistogramBase* GetCreateHistogramResultHistogram();

  // A histogram built over an existing record, or null (counted as an
  // invalid record) when the record does not hold up.
  std::unique_ptr<HistogramBase> GetHistogram(
      PersistentMemoryAllocator::Reference ref);

  // HistogramPersistence: a new record for the histogram, or null. The
  // histogram's name is made permanent.
  std::unique_ptr<HistogramBase> AllocateHistogram(
      HistogramType type,
      const std::string& name,
      HistogramBase::Sample minimum,
      HistogramBase::Sample maximum,
      const BucketRanges* ranges,
      int32_t flags,
      uint32_t* reference) override;
  // A registered histogram's record joins the iteration queue; a losing
  // duplicate's record is retyped to 0 and so never found.
  void FinalizeHistogram(uint32_t reference, bool registered) override;
  // Registers the histograms of the segment's records that are not yet
  // registered; stops at the first record that does not hold up.
  void ImportHistogramsToStatisticsRecorder() override;

  // The records of sparse histograms' samples.
  PersistentSampleMapRecords* UseSampleMapRecords(uint64_t id,
                                                  const void* user);

 private:
  struct PersistentHistogramData;

  // A histogram over |data|, a record block of |capacity| bytes or more.
  std::unique_ptr<HistogramBase> CreateHistogram(PersistentHistogramData* data,
                                                 size_t capacity);
  // A boundaries block of this segment holding |ranges|; 0 on failure.
  PersistentMemoryAllocator::Reference GetOrMakeRangesArray(
      const BucketRanges* ranges);

  const std::unique_ptr<PersistentMemoryAllocator> memory_;
  PersistentSparseHistogramDataManager sparse_data_manager_;
  std::atomic<PersistentMemoryAllocator::Reference> last_created_{0};
  PersistentMemoryAllocator::Iterator import_iterator_;
};

// The process-wide histogram allocator that the histogram factories ask
// and from which the statistics recorder imports. Nothing installs one in
// normal operation: every histogram then lives on the heap.
class GlobalHistogramAllocator : public PersistentHistogramAllocator {
 public:
  ~GlobalHistogramAllocator() override;

  // Install a new global allocator over the given memory; none may be
  // installed already.
  static void CreateWithPersistentMemory(
      void* base, size_t size, size_t page_size, uint64_t id, StringPiece name);
  static void CreateWithLocalMemory(size_t size, uint64_t id, StringPiece name);
  // Over a memory allocator made by the caller (a mapped file, say).
  static void CreateWithAllocator(
      std::unique_ptr<PersistentMemoryAllocator> memory);

  // The installed allocator, or null.
  static GlobalHistogramAllocator* Get();

  // Uninstalls and hands back the global allocator. Histograms made in it
  // stay registered and keep pointing into its segment, so the caller keeps
  // it alive as long as they may be used.
  static std::unique_ptr<GlobalHistogramAllocator> ReleaseForTesting();

 private:
  explicit GlobalHistogramAllocator(
      std::unique_ptr<PersistentMemoryAllocator> memory);
};

}  // namespace base

#endif  // BASE_METRICS_PERSISTENT_HISTOGRAM_ALLOCATOR_H_
