#ifndef BASE_METRICS_PERSISTENT_SAMPLE_MAP_H_
#define BASE_METRICS_PERSISTENT_SAMPLE_MAP_H_

#include <stdint.h>

#include <atomic>
#include <map>
#include <memory>
#include <vector>

#include "base/metrics/histogram_base.h"
#include "base/metrics/histogram_samples.h"
#include "base/metrics/persistent_memory_allocator.h"
#include "base/synchronization/lock.h"

namespace base {

class PersistentSampleMapRecords;

// The sample records of every sparse histogram of one segment: one small
// record per (sample map, value), found by walking the segment's iteration
// queue. A record read for one sample map while looking for another's is
// kept for its owner, so each record is read from the queue only once.
class PersistentSparseHistogramDataManager {
 public:
  // |allocator| must outlive this object.
  explicit PersistentSparseHistogramDataManager(
      PersistentMemoryAllocator* allocator);
  ~PersistentSparseHistogramDataManager();

  PersistentSparseHistogramDataManager(
      const PersistentSparseHistogramDataManager&) = delete;
  PersistentSparseHistogramDataManager& operator=(
      const PersistentSparseHistogramDataManager&) = delete;

  // The records of the sample map |id|, now used by |user|, to be read
  // again from the first.
  PersistentSampleMapRecords* UseSampleMapRecords(uint64_t id,
                                                  const void* user);

  PersistentMemoryAllocator* allocator() const { return allocator_; }

 private:
  friend class PersistentSampleMapRecords;

  PersistentSampleMapRecords* GetSampleMapRecordsWhileLocked(uint64_t id);
  // Reads more records for |records|; false when none turned up.
  bool LoadRecords(PersistentSampleMapRecords* records);

  PersistentMemoryAllocator* const allocator_;
  Lock lock_;
  PersistentMemoryAllocator::Iterator record_iterator_;
  std::map<uint64_t, std::unique_ptr<PersistentSampleMapRecords>>
      sample_records_;
};

// The records of one sample map, in the order they were found.
class PersistentSampleMapRecords {
 public:
  PersistentSampleMapRecords(PersistentSparseHistogramDataManager* manager,
                             uint64_t sample_map_id);
  ~PersistentSampleMapRecords();

  PersistentSampleMapRecords(const PersistentSampleMapRecords&) = delete;
  PersistentSampleMapRecords& operator=(const PersistentSampleMapRecords&) =
      delete;

  // The next record not yet returned to the current user; 0 when there is
  // none (yet).
  PersistentMemoryAllocator::Reference GetNext();
  // A new iterable record for |value| with a count of 0; 0 on failure.
  PersistentMemoryAllocator::Reference CreateNew(HistogramBase::Sample value);
  void Release(const void* user);

  PersistentMemoryAllocator* allocator() const { return manager_->allocator(); }

 private:
  friend class PersistentSparseHistogramDataManager;

  PersistentSparseHistogramDataManager* const manager_;
  const uint64_t sample_map_id_;
  const void* user_ = nullptr;
  size_t seen_ = 0;
  std::vector<PersistentMemoryAllocator::Reference> records_;
  // Found while loading for other sample maps; moved to |records_| on the
  // next load.
  std::vector<PersistentMemoryAllocator::Reference> found_;
};

// The persistent record of one value of a sparse histogram.
struct PersistentSampleRecord {
  static constexpr uint32_t kPersistentTypeId = 0x8FE6A6A0;

  uint64_t id;  // of the owning sample map
  HistogramBase::Sample value;
  std::atomic<HistogramBase::Count> count;
};

// Makes an iterable record (|id|, |value|, count 0); 0 on failure.
PersistentMemoryAllocator::Reference CreatePersistentRecord(
    PersistentMemoryAllocator* allocator,
    uint64_t id,
    HistogramBase::Sample value);
// The next sample record of |iterator| and its owner's id; 0 when there is
// none.
PersistentMemoryAllocator::Reference GetNextPersistentRecord(
    PersistentMemoryAllocator::Iterator* iterator, uint64_t* id);

// Samples of a sparse histogram in a persistent segment: each value's count
// lives in a sample record that every process mapping the segment can find.
// Not thread-safe; the owning histogram serialises access.
class PersistentSampleMap : public HistogramSamples {
 public:
  // |manager| and |meta| must outlive this object.
  PersistentSampleMap(uint64_t id,
                      PersistentSparseHistogramDataManager* manager,
                      Metadata* meta);
  ~PersistentSampleMap() override;

  // HistogramSamples:
  void Accumulate(Sample value, Count count) override;
  Count GetCount(Sample value) const override;
  Count TotalCount() const override;
  std::unique_ptr<SampleCountIterator> Iterator() const override;

 protected:
  // Every entry must be one value wide (max = min + 1).
  bool AddSubtractImpl(SampleCountIterator* iter, Operator op) override;

 private:
  std::atomic<Count>* GetSampleCountStorage(Sample value) const;
  std::atomic<Count>* GetOrCreateSampleCountStorage(Sample value);
  PersistentSampleMapRecords* GetRecords() const;
  // Takes in the records found since the last import, up to the one for
  // |until_value| (all of them with |import_everything|); answers the count
  // of |until_value| when found.
  std::atomic<Count>* ImportSamples(Sample until_value,
                                    bool import_everything) const;

  PersistentSparseHistogramDataManager* const manager_;
  mutable PersistentSampleMapRecords* records_ = nullptr;
  mutable std::map<Sample, std::atomic<Count>*> sample_counts_;
  // Counts that could not be placed in the segment.
  std::vector<std::unique_ptr<std::atomic<Count>>> heap_counts_;
};

}  // namespace base

#endif  // BASE_METRICS_PERSISTENT_SAMPLE_MAP_H_
