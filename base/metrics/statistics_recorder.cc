#include "base/metrics/statistics_recorder.h"

#include <windows.h>

#include <string>
#include <unordered_map>

#include "base/metrics/bucket_ranges.h"
#include "base/metrics/histogram_base.h"

namespace base {

namespace {

struct NameHash {
  size_t operator()(const std::string& name) const {
    uint64_t hash = 0;
    for (char c : name)
      hash = hash * 131 + static_cast<int64_t>(static_cast<signed char>(c));
    return static_cast<size_t>(hash);
  }
};

struct Registry {
  std::unordered_map<std::string, HistogramBase*, NameHash> histograms;
  std::unordered_multimap<uint32_t, const BucketRanges*> ranges;
};

SRWLOCK g_lock = SRWLOCK_INIT;

// Made on first use, never destroyed. Callers hold |g_lock|.
Registry& GetRegistry() {
  static Registry* const registry = new Registry();
  return *registry;
}

}  // namespace

// static
HistogramBase* StatisticsRecorder::RegisterOrDeleteDuplicate(
    HistogramBase* histogram) {
  ::AcquireSRWLockExclusive(&g_lock);
  auto inserted = GetRegistry().histograms.emplace(
      std::string(histogram->histogram_name()), histogram);
  HistogramBase* registered = inserted.first->second;
  ::ReleaseSRWLockExclusive(&g_lock);
  // Another thread won the race for this name; the loser is dropped.
  if (registered != histogram)
    delete histogram;
  return registered;
}

// static
const BucketRanges* StatisticsRecorder::RegisterOrDeleteDuplicateRanges(
    const BucketRanges* ranges) {
  const BucketRanges* registered = nullptr;
  ::AcquireSRWLockExclusive(&g_lock);
  auto& all_ranges = GetRegistry().ranges;
  auto range = all_ranges.equal_range(ranges->checksum());
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second->Equals(ranges)) {
      registered = it->second;
      break;
    }
  }
  if (!registered) {
    all_ranges.emplace(ranges->checksum(), ranges);
    registered = ranges;
  }
  ::ReleaseSRWLockExclusive(&g_lock);
  if (registered != ranges)
    delete ranges;
  return registered;
}

// static
HistogramBase* StatisticsRecorder::FindHistogram(StringPiece name) {
  HistogramBase* found = nullptr;
  const std::string key(name.data(), name.size());
  ::AcquireSRWLockShared(&g_lock);
  const auto& histograms = GetRegistry().histograms;
  auto it = histograms.find(key);
  if (it != histograms.end())
    found = it->second;
  ::ReleaseSRWLockShared(&g_lock);
  return found;
}

// static
std::vector<HistogramBase*> StatisticsRecorder::GetHistograms() {
  std::vector<HistogramBase*> result;
  ::AcquireSRWLockShared(&g_lock);
  for (const auto& entry : GetRegistry().histograms)
    result.push_back(entry.second);
  ::ReleaseSRWLockShared(&g_lock);
  return result;
}

}  // namespace base
