#include "base/metrics/sample_vector.h"

#include <windows.h>

#include "base/check.h"
#include "base/logging.h"

namespace base {

namespace {

// One lock for all sample vectors of the process: it is taken only on the
// step from the single sample to a counts array, which happens once per
// vector at most.
SRWLOCK g_counts_lock = SRWLOCK_INIT;

}  // namespace

SampleVectorBase::SampleVectorBase(uint64_t id,
                                   Metadata* meta,
                                   const BucketRanges* bucket_ranges)
    : HistogramSamples(id, meta), bucket_ranges_(bucket_ranges) {
  CHECK(bucket_ranges_->size() >= 2);
}

SampleVectorBase::~SampleVectorBase() = default;

void SampleVectorBase::set_counts(Count* counts) const {
  // The counts are accessed only through atomics; the layout of
  // std::atomic<int32_t> is that of int32_t.
  static_assert(sizeof(std::atomic<Count>) == sizeof(Count),
                "counts arrays are shared as plain words");
  counts_.store(reinterpret_cast<std::atomic<Count>*>(counts),
                std::memory_order_release);
}

std::atomic<HistogramBase::Count>* SampleVectorBase::GetOrMountCounts() const {
  std::atomic<Count>* counts = this->counts();
  if (counts)
    return counts;
  if (MountExistingCountsStorage())
    return this->counts();
  return nullptr;
}

bool SampleVectorBase::IsSingleSampleSound(const SingleSample& sample) const {
  if (sample.count == 0 || sample.bucket < counts_size())
    return true;
  LOG(ERROR) << "Single sample of bucket " << sample.bucket
             << " in a layout of " << counts_size()
             << " buckets; the sample is ignored.";
  OnCorruptSingleSample();
  return false;
}

HistogramSamples::SingleSample SampleVectorBase::LoadSingleSample() const {
  const SingleSample sample = single_sample().Load();
  if (IsSingleSampleSound(sample))
    return sample;
  return SingleSample{0, 0};
}

void SampleVectorBase::Accumulate(Sample value, Count count) {
  const size_t bucket_index = GetBucketIndex(value);

  if (!counts()) {
    if (single_sample().Accumulate(bucket_index, count)) {
      IncreaseSumAndCount(static_cast<int64_t>(value) * count, count);
      // Another thread may have mounted the array between the check above
      // and the update; the sample must not stay behind in the word.
      if (counts())
        MoveSingleSampleToCounts();
      return;
    }
    MountCountsStorageAndMoveSingleSample();
  }

  std::atomic<Count>* counts = this->counts();
  const Count old_count =
      counts[bucket_index].fetch_add(count, std::memory_order_relaxed);
  IncreaseSumAndCount(static_cast<int64_t>(value) * count, count);
  const Count new_count = static_cast<Count>(static_cast<uint32_t>(old_count) +
                                             static_cast<uint32_t>(count));
  if (count > 0 && (old_count < 0) != (new_count < 0))
    RecordNegativeSample(SAMPLES_ACCUMULATE_OVERFLOW, count);
}

HistogramBase::Count SampleVectorBase::GetCount(Sample value) const {
  return GetCountAtIndex(GetBucketIndex(value));
}

HistogramBase::Count SampleVectorBase::GetCountAtIndex(
    size_t bucket_index) const {
  CHECK(bucket_index < counts_size());
  const SingleSample sample = LoadSingleSample();
  if (sample.count != 0)
    return sample.bucket == bucket_index ? sample.count : 0;
  std::atomic<Count>* counts = GetOrMountCounts();
  if (!counts)
    return 0;
  return counts[bucket_index].load(std::memory_order_relaxed);
}

HistogramBase::Count SampleVectorBase::TotalCount() const {
  const SingleSample sample = LoadSingleSample();
  if (sample.count != 0)
    return sample.count;
  std::atomic<Count>* counts = GetOrMountCounts();
  if (!counts)
    return 0;
  Count total = 0;
  for (size_t i = 0; i < counts_size(); ++i)
    total += counts[i].load(std::memory_order_relaxed);
  return total;
}

std::unique_ptr<SampleCountIterator> SampleVectorBase::Iterator() const {
  const SingleSample sample = LoadSingleSample();
  if (sample.count != 0) {
    return std::make_unique<SingleSampleIterator>(
        bucket_ranges_->range(sample.bucket),
        bucket_ranges_->range(sample.bucket + 1), sample.count, sample.bucket);
  }
  std::atomic<Count>* counts = GetOrMountCounts();
  return std::make_unique<SampleVectorIterator>(
      counts, counts ? counts_size() : 0, bucket_ranges_);
}

bool SampleVectorBase::AddSubtractImpl(SampleCountIterator* iter, Operator op) {
  if (iter->Done())
    return true;

  Sample min;
  int64_t max;
  Count count;
  iter->Get(&min, &max, &count);
  size_t dest_index = GetBucketIndexChecked(min);
  // Checked before the single sample below: an entry of another layout must
  // not slip into it.
  if (!IsBucketAt(dest_index, min, max))
    return false;
  // Iterators over the same layout report their own indexes, which saves a
  // search per entry.
  size_t iter_index;
  size_t index_offset = 0;
  if (iter->GetBucketIndex(&iter_index))
    index_offset = dest_index - iter_index;
  iter->Next();

  if (!counts()) {
    if (iter->Done()) {
      if (single_sample().Accumulate(dest_index, op == ADD ? count : -count)) {
        if (counts())
          MoveSingleSampleToCounts();
        return true;
      }
    }
    MountCountsStorageAndMoveSingleSample();
  }

  std::atomic<Count>* counts = this->counts();
  while (true) {
    counts[dest_index].fetch_add(op == ADD ? count : -count,
                                 std::memory_order_relaxed);
    if (iter->Done())
      return true;
    iter->Get(&min, &max, &count);
    if (iter->GetBucketIndex(&iter_index))
      dest_index = iter_index + index_offset;
    else
      dest_index = GetBucketIndexChecked(min);
    if (!IsBucketAt(dest_index, min, max))
      return false;
    iter->Next();
  }
}

bool SampleVectorBase::EntryFits(Sample min, int64_t max) const {
  return IsBucketAt(GetBucketIndexChecked(min), min, max);
}

bool SampleVectorBase::IsBucketAt(size_t index, Sample min, int64_t max) const {
  return index < counts_size() && min == bucket_ranges_->range(index) &&
         max == bucket_ranges_->range(index + 1);
}

size_t SampleVectorBase::GetBucketIndexChecked(Sample value) const {
  // Entries from a pickle or another layout may lie anywhere; they must
  // fail the merge rather than stop the process.
  if (value < bucket_ranges_->range(0) ||
      value >= bucket_ranges_->range(bucket_ranges_->bucket_count())) {
    return counts_size();
  }
  return GetBucketIndex(value);
}

size_t SampleVectorBase::GetBucketIndex(Sample value) const {
  const size_t bucket_count = bucket_ranges_->bucket_count();
  CHECK(value >= bucket_ranges_->range(0));
  CHECK(value < bucket_ranges_->range(bucket_count));

  size_t under = 0;
  size_t over = bucket_count;
  size_t mid;
  do {
    mid = under + (over - under) / 2;
    if (mid == under)
      break;
    if (bucket_ranges_->range(mid) <= value)
      under = mid;
    else
      over = mid;
  } while (true);
  return mid;
}

void SampleVectorBase::MountCountsStorageAndMoveSingleSample() {
  if (!counts()) {
    ::AcquireSRWLockExclusive(&g_counts_lock);
    if (!counts()) {
      Count* counts = CreateCountsStorageWhileLocked();
      CHECK(counts);
      set_counts(counts);
    }
    ::ReleaseSRWLockExclusive(&g_counts_lock);
  }
  MoveSingleSampleToCounts();
}

void SampleVectorBase::MoveSingleSampleToCounts() {
  std::atomic<Count>* counts = this->counts();
  const SingleSample sample = single_sample().Extract(/*disable=*/true);
  // The sum and the redundant count already include it. A bucket beyond
  // the array would move the count into whatever lies behind it.
  if (sample.count != 0 && IsSingleSampleSound(sample)) {
    counts[sample.bucket].fetch_add(sample.count, std::memory_order_relaxed);
  }
}

SampleVector::SampleVector(uint64_t id, const BucketRanges* bucket_ranges)
    : SampleVectorBase(id, nullptr, bucket_ranges) {}

SampleVector::~SampleVector() = default;

bool SampleVector::MountExistingCountsStorage() const {
  // The heap array is only ever made by this object, which mounts it at
  // once.
  return counts() != nullptr;
}

HistogramBase::Count* SampleVector::CreateCountsStorageWhileLocked() {
  local_counts_.reset(new std::atomic<Count>[counts_size()]);
  for (size_t i = 0; i < counts_size(); ++i)
    local_counts_[i].store(0, std::memory_order_relaxed);
  return reinterpret_cast<Count*>(local_counts_.get());
}

SampleVectorIterator::SampleVectorIterator(
    const std::atomic<HistogramBase::Count>* counts,
    size_t counts_size,
    const BucketRanges* bucket_ranges)
    : counts_(counts),
      counts_size_(counts_size),
      bucket_ranges_(bucket_ranges) {
  SkipEmptyBuckets();
}

SampleVectorIterator::~SampleVectorIterator() = default;

bool SampleVectorIterator::Done() const {
  return index_ >= counts_size_;
}

void SampleVectorIterator::Next() {
  CHECK(!Done());
  ++index_;
  SkipEmptyBuckets();
}

void SampleVectorIterator::Get(HistogramBase::Sample* min,
                               int64_t* max,
                               HistogramBase::Count* count) const {
  CHECK(!Done());
  *min = bucket_ranges_->range(index_);
  *max = bucket_ranges_->range(index_ + 1);
  *count = counts_[index_].load(std::memory_order_relaxed);
}

bool SampleVectorIterator::GetBucketIndex(size_t* index) const {
  CHECK(!Done());
  *index = index_;
  return true;
}

void SampleVectorIterator::SkipEmptyBuckets() {
  while (index_ < counts_size_ &&
         counts_[index_].load(std::memory_order_relaxed) == 0) {
    ++index_;
  }
}

}  // namespace base
