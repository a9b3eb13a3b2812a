#ifndef BASE_METRICS_HISTOGRAM_SAMPLES_H_
#define BASE_METRICS_HISTOGRAM_SAMPLES_H_

#include <stdint.h>

#include <atomic>
#include <vector>

namespace base {

// A set of recorded samples: a count per bucket (or per value, for sparse
// histograms), their sum and their total count. Snapshots of histograms are
// returned in this form, which is also how tests read what was recorded.
class HistogramSamples {
 public:
  typedef int32_t Sample;
  typedef int32_t Count;

  // One non-empty bucket: the samples v with min <= v < max.
  struct Entry {
    Sample min;
    int64_t max;
    Count count;
  };

  explicit HistogramSamples(uint64_t id);
  virtual ~HistogramSamples();

  HistogramSamples(const HistogramSamples&) = delete;
  HistogramSamples& operator=(const HistogramSamples&) = delete;

  // Adds |count| samples of |value| (a negative count takes them away).
  virtual void Accumulate(Sample value, Count count) = 0;

  // The count in the bucket that holds |value|.
  virtual Count GetCount(Sample value) const = 0;

  // The sum of all bucket counts.
  virtual Count TotalCount() const = 0;

  // The non-empty buckets in ascending order.
  virtual std::vector<Entry> GetEntries() const = 0;

  // Adds or takes away every sample of |other|, whose buckets must fit
  // this set.
  void Add(const HistogramSamples& other);
  void Subtract(const HistogramSamples& other);

  uint64_t id() const { return id_; }
  int64_t sum() const { return sum_.load(std::memory_order_relaxed); }
  // Kept beside the buckets to detect torn or corrupted counts: equals
  // TotalCount() when the set is consistent.
  Count redundant_count() const {
    return redundant_count_.load(std::memory_order_relaxed);
  }

 protected:
  // Updates the sum and the redundant count; subclasses call it for every
  // accumulation.
  void IncreaseSumAndCount(int64_t sum, Count count);

 private:
  void AddEntries(const HistogramSamples& other, int sign);

  const uint64_t id_;
  std::atomic<int64_t> sum_{0};
  std::atomic<Count> redundant_count_{0};
};

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_SAMPLES_H_
