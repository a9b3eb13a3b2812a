#include "base/metrics/sample_map.h"

#include "base/check.h"

namespace base {

namespace {

// Walks a map's entries, skipping zero counts; entries are one value wide.
class SampleMapIterator : public SampleCountIterator {
 public:
  typedef std::map<HistogramBase::Sample, HistogramBase::Count> SampleToCount;

  explicit SampleMapIterator(const SampleToCount& sample_counts)
      : iter_(sample_counts.begin()), end_(sample_counts.end()) {
    SkipEmptyBuckets();
  }
  ~SampleMapIterator() override = default;

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
    *max = static_cast<int64_t>(iter_->first) + 1;
    *count = iter_->second;
  }

 private:
  void SkipEmptyBuckets() {
    while (!Done() && iter_->second == 0)
      ++iter_;
  }

  SampleToCount::const_iterator iter_;
  const SampleToCount::const_iterator end_;
};

}  // namespace

SampleMap::SampleMap(uint64_t id) : HistogramSamples(id) {}

SampleMap::~SampleMap() = default;

void SampleMap::Accumulate(Sample value, Count count) {
  sample_counts_[value] += count;
  IncreaseSumAndCount(static_cast<int64_t>(value) * count, count);
}

HistogramBase::Count SampleMap::GetCount(Sample value) const {
  auto it = sample_counts_.find(value);
  return it == sample_counts_.end() ? 0 : it->second;
}

HistogramBase::Count SampleMap::TotalCount() const {
  Count count = 0;
  for (const auto& entry : sample_counts_)
    count += entry.second;
  return count;
}

std::unique_ptr<SampleCountIterator> SampleMap::Iterator() const {
  return std::make_unique<SampleMapIterator>(sample_counts_);
}

bool SampleMap::AddSubtractImpl(SampleCountIterator* iter, Operator op) {
  Sample min;
  int64_t max;
  Count count;
  for (; !iter->Done(); iter->Next()) {
    iter->Get(&min, &max, &count);
    if (static_cast<int64_t>(min) + 1 != max)
      return false;
    sample_counts_[min] += (op == ADD) ? count : -count;
  }
  return true;
}

}  // namespace base
