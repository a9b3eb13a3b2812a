#include "base/metrics/sample_map.h"

#include "base/check.h"

namespace base {

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
  return std::make_unique<SampleToCountIterator<Count>>(sample_counts_);
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
