#ifndef BASE_METRICS_SAMPLE_MAP_H_
#define BASE_METRICS_SAMPLE_MAP_H_

#include <atomic>
#include <map>
#include <memory>

#include "base/check.h"

#include "base/metrics/histogram_samples.h"

namespace base {

// Walks a map from value to count (a count, or a pointer to one held
// elsewhere), skipping values whose count is 0; each value is an entry one
// value wide. The map must not change while the iterator lives.
template <typename CountHolder>
class SampleToCountIterator : public SampleCountIterator {
 public:
  using Map = std::map<HistogramBase::Sample, CountHolder>;

  explicit SampleToCountIterator(const Map& sample_counts)
      : iter_(sample_counts.begin()), end_(sample_counts.end()) {
    SkipEmptyBuckets();
  }
  ~SampleToCountIterator() override = default;

  bool Done() const override { return iter_ == end_; }
  void Next() override {
    CHECK(!Done());
    ++iter_;
    SkipEmptyBuckets();
  }
  void Get(HistogramBase::Sample* min,
           int64_t* max,
           HistogramBase::Count* count) const override {
    CHECK(!Done());
    *min = iter_->first;
    *max = int64_t{iter_->first} + 1;
    *count = CountOf(iter_->second);
  }

 private:
  static HistogramBase::Count CountOf(HistogramBase::Count count) {
    return count;
  }
  static HistogramBase::Count CountOf(
      const std::atomic<HistogramBase::Count>* count) {
    return count->load(std::memory_order_relaxed);
  }

  void SkipEmptyBuckets() {
    while (!Done() && CountOf(iter_->second) == 0)
      ++iter_;
  }

  typename Map::const_iterator iter_;
  const typename Map::const_iterator end_;
};

// Samples of a sparse histogram on the heap: a count per distinct value. Not
// thread-safe; the owning histogram serialises access.
class SampleMap : public HistogramSamples {
 public:
  explicit SampleMap(uint64_t id);
  ~SampleMap() override;

  // HistogramSamples:
  void Accumulate(Sample value, Count count) override;
  Count GetCount(Sample value) const override;
  Count TotalCount() const override;
  std::unique_ptr<SampleCountIterator> Iterator() const override;

 protected:
  // Every entry must be one value wide (max = min + 1).
  bool AddSubtractImpl(SampleCountIterator* iter, Operator op) override;

 private:
  std::map<Sample, Count> sample_counts_;
};

}  // namespace base

#endif  // BASE_METRICS_SAMPLE_MAP_H_
