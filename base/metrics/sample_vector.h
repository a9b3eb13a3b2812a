#ifndef BASE_METRICS_SAMPLE_VECTOR_H_
#define BASE_METRICS_SAMPLE_VECTOR_H_

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <memory>

#include "base/metrics/bucket_ranges.h"
#include "base/metrics/histogram_samples.h"

namespace base {

// Samples of a bucketed histogram over a shared layout. A vector starts with
// the single-sample word and mounts its counts array (one atomic count per
// bucket) only when a second bucket is hit, so recording takes no lock. The
// kinds differ only in where the counts array lives: SampleVector keeps it
// on the heap, the persistent kind in a shared segment.
class SampleVectorBase : public HistogramSamples {
 public:
  ~SampleVectorBase() override;

  // HistogramSamples:
  void Accumulate(Sample value, Count count) override;
  Count GetCount(Sample value) const override;
  Count TotalCount() const override;
  std::unique_ptr<SampleCountIterator> Iterator() const override;

  // The count of bucket |bucket_index|.
  Count GetCountAtIndex(size_t bucket_index) const;

  const BucketRanges* bucket_ranges() const { return bucket_ranges_; }

 protected:
  // |bucket_ranges| (at least 2 boundaries) must outlive this object;
  // registered layouts are never freed. |meta| null: owned metadata.
  SampleVectorBase(uint64_t id,
                   Metadata* meta,
                   const BucketRanges* bucket_ranges);

  bool AddSubtractImpl(SampleCountIterator* iter, Operator op) override;
  // An entry fits when it is exactly one bucket of this layout.
  bool EntryFits(Sample min, int64_t max) const override;

  // The index of the bucket that holds |value|, which must lie in
  // [range(0), last range).
  virtual size_t GetBucketIndex(Sample value) const;

  // Mounts a counts array that already exists elsewhere (for instance made
  // by another process) through set_counts; false when there is none.
  virtual bool MountExistingCountsStorage() const = 0;
  // Makes the counts array (bucket_count zeroed counts); called under the
  // process-wide mounting lock, never null.
  virtual Count* CreateCountsStorageWhileLocked() = 0;

  // Mounts the counts array (creating it when needed) and moves the single
  // sample into it.
  void MountCountsStorageAndMoveSingleSample();

  // Moves a single sample that arrived while the array was being mounted.
  void MoveSingleSampleToCounts();

  // Told when the single-sample word names a bucket this layout lacks, which
  // only a damaged or foreign writer of shared metadata can cause. The word
  // is then treated as empty.
  virtual void OnCorruptSingleSample() const {}

  std::atomic<Count>* counts() const {
    return counts_.load(std::memory_order_acquire);
  }
  void set_counts(Count* counts) const;
  size_t counts_size() const { return bucket_ranges_->bucket_count(); }

 private:
  std::atomic<Count>* GetOrMountCounts() const;
  // The single sample, empty when its bucket lies outside the layout.
  SingleSample LoadSingleSample() const;
  // Whether |sample| may be used: empty, or of a bucket of this layout.
  bool IsSingleSampleSound(const SingleSample& sample) const;
  // GetBucketIndex for values from outside: counts_size() when |value|
  // lies outside the layout.
  size_t GetBucketIndexChecked(Sample value) const;
  // Whether bucket |index| exists and spans exactly [min, max).
  bool IsBucketAt(size_t index, Sample min, int64_t max) const;

  // Null until mounted; mounting may happen in const readers.
  mutable std::atomic<std::atomic<Count>*> counts_{nullptr};
  const BucketRanges* const bucket_ranges_;
};

// The heap kind: owns its metadata and its counts array.
class SampleVector : public SampleVectorBase {
 public:
  SampleVector(uint64_t id, const BucketRanges* bucket_ranges);
  ~SampleVector() override;

  // Whether the counts array has been made (for tests and size checks).
  bool HasCountsStorage() const { return counts() != nullptr; }

  using SampleVectorBase::GetBucketIndex;

 private:
  bool MountExistingCountsStorage() const override;
  Count* CreateCountsStorageWhileLocked() override;

  std::unique_ptr<std::atomic<Count>[]> local_counts_;
};

// Iterates a counts array, skipping empty buckets; has bucket indexes.
class SampleVectorIterator : public SampleCountIterator {
 public:
  SampleVectorIterator(const std::atomic<HistogramBase::Count>* counts,
                       size_t counts_size,
                       const BucketRanges* bucket_ranges);
  ~SampleVectorIterator() override;

  bool Done() const override;
  void Next() override;
  void Get(HistogramBase::Sample* min,
           int64_t* max,
           HistogramBase::Count* count) const override;
  bool GetBucketIndex(size_t* index) const override;

 private:
  void SkipEmptyBuckets();

  const std::atomic<HistogramBase::Count>* const counts_;
  const size_t counts_size_;
  const BucketRanges* const bucket_ranges_;
  size_t index_ = 0;
};

}  // namespace base

#endif  // BASE_METRICS_SAMPLE_VECTOR_H_
