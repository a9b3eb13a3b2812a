#include "base/metrics/histogram_samples.h"

namespace base {

HistogramSamples::HistogramSamples(uint64_t id) : id_(id) {}

HistogramSamples::~HistogramSamples() = default;

void HistogramSamples::Add(const HistogramSamples& other) {
  AddEntries(other, 1);
}

void HistogramSamples::Subtract(const HistogramSamples& other) {
  AddEntries(other, -1);
}

void HistogramSamples::AddEntries(const HistogramSamples& other, int sign) {
  // The bucket counts carry their own share of the sum and count; the rest
  // of |other|'s sum is carried over so the total stays exact.
  int64_t added_sum = 0;
  Count added_count = 0;
  for (const Entry& entry : other.GetEntries()) {
    Accumulate(entry.min, sign * entry.count);
    added_sum += static_cast<int64_t>(entry.min) * sign * entry.count;
    added_count += sign * entry.count;
  }
  IncreaseSumAndCount(sign * other.sum() - added_sum,
                      sign * other.redundant_count() - added_count);
}

void HistogramSamples::IncreaseSumAndCount(int64_t sum, Count count) {
  sum_.fetch_add(sum, std::memory_order_relaxed);
  redundant_count_.fetch_add(count, std::memory_order_relaxed);
}

}  // namespace base
