#ifndef BASE_METRICS_BUCKET_RANGES_H_
#define BASE_METRICS_BUCKET_RANGES_H_

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <vector>

namespace base {

// The ascending boundaries of a bucketed histogram: bucket i holds the
// samples v with range(i) <= v < range(i + 1). Boundary 0 is 0 and the last
// is 0x7FFFFFFF. Equal layouts are shared through the statistics recorder,
// and the checksum tells corrupted or different layouts apart.
class BucketRanges {
 public:
  typedef int32_t Sample;

  explicit BucketRanges(size_t num_ranges);
  ~BucketRanges();

  BucketRanges(const BucketRanges&) = delete;
  BucketRanges& operator=(const BucketRanges&) = delete;

  size_t size() const { return ranges_.size(); }
  size_t bucket_count() const { return ranges_.size() - 1; }
  Sample range(size_t i) const { return ranges_[i]; }
  void set_range(size_t i, Sample value) { ranges_[i] = value; }

  uint32_t checksum() const { return checksum_; }
  uint32_t CalculateChecksum() const;
  void ResetChecksum() { checksum_ = CalculateChecksum(); }
  bool HasValidChecksum() const { return CalculateChecksum() == checksum_; }

  // Same checksum, same size and same boundaries.
  bool Equals(const BucketRanges* other) const;

  // All boundaries, size() of them.
  const Sample* data() const { return ranges_.data(); }

  // The reference of a copy of the boundaries in the persistent histogram
  // segment; 0 when there is none. Set once, from any thread.
  uint32_t persistent_reference() const {
    return persistent_reference_.load(std::memory_order_acquire);
  }
  void set_persistent_reference(uint32_t reference) const {
    persistent_reference_.store(reference, std::memory_order_release);
  }

  // Layouts of the three bucketed kinds, from (already adjusted) minimum,
  // maximum and bucket count. Each resets the checksum.
  static void InitializeExponential(Sample minimum,
                                    Sample maximum,
                                    BucketRanges* ranges);
  static void InitializeLinear(Sample minimum,
                               Sample maximum,
                               BucketRanges* ranges);

 private:
  std::vector<Sample> ranges_;
  uint32_t checksum_ = 0;
  mutable std::atomic<uint32_t> persistent_reference_{0};
};

}  // namespace base

#endif  // BASE_METRICS_BUCKET_RANGES_H_
