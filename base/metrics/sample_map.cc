#include "base/metrics/sample_map.h"

namespace base {

SampleMap::SampleMap(uint64_t id) : HistogramSamples(id) {}

SampleMap::~SampleMap() = default;

void SampleMap::Accumulate(Sample value, Count count) {
  sample_counts_[value] += count;
  IncreaseSumAndCount(static_cast<int64_t>(value) * count, count);
}

HistogramSamples::Count SampleMap::GetCount(Sample value) const {
  auto it = sample_counts_.find(value);
  return it == sample_counts_.end() ? 0 : it->second;
}

HistogramSamples::Count SampleMap::TotalCount() const {
  Count total = 0;
  for (const auto& entry : sample_counts_)
    total += entry.second;
  return total;
}

std::vector<HistogramSamples::Entry> SampleMap::GetEntries() const {
  std::vector<Entry> entries;
  for (const auto& entry : sample_counts_) {
    if (entry.second != 0)
      entries.push_back(
          {entry.first, static_cast<int64_t>(entry.first) + 1, entry.second});
  }
  return entries;
}

}  // namespace base
