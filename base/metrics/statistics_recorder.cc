#include "base/metrics/statistics_recorder.h"

#include <windows.h>

#include <string.h>

#include <algorithm>
#include <atomic>

#include "base/at_exit.h"
#include "base/logging.h"
#include "base/metrics/bucket_ranges.h"
#include "base/metrics/histogram_persistence.h"

namespace base {

namespace {

// Guards the top recorder and everything in every recorder. Never destroyed:
// histograms are registered until the very end of the process.
SRWLOCK g_lock = SRWLOCK_INIT;

// The current recorder; changed only under |g_lock|.
StatisticsRecorder* g_top = nullptr;

// Whether the exit dump has been considered; under |g_lock|.
bool g_vlog_initialized = false;

std::atomic<HistogramPersistence*> g_persistence{nullptr};

class ScopedRecorderLock {
 public:
  ScopedRecorderLock() { ::AcquireSRWLockExclusive(&g_lock); }
  ~ScopedRecorderLock() { ::ReleaseSRWLockExclusive(&g_lock); }
};

// Lookups run on every factory call; they only read, so they share the lock
// and never create the recorder.
class ScopedSharedRecorderLock {
 public:
  ScopedSharedRecorderLock() { ::AcquireSRWLockShared(&g_lock); }
  ~ScopedSharedRecorderLock() { ::ReleaseSRWLockShared(&g_lock); }
};

}  // namespace

HistogramPersistence* GetHistogramPersistence() {
  return g_persistence.load(std::memory_order_acquire);
}

void SetHistogramPersistence(HistogramPersistence* persistence) {
  g_persistence.store(persistence, std::memory_order_release);
}

size_t StatisticsRecorder::NameHash::operator()(const std::string& name) const {
  uint64_t hash = 0;
  for (char c : name)
    hash = hash * 131 + static_cast<int64_t>(static_cast<signed char>(c));
  return static_cast<size_t>(hash);
}

size_t StatisticsRecorder::RangesHash::operator()(
    const BucketRanges* ranges) const {
  return ranges->checksum();
}

bool StatisticsRecorder::RangesEqual::operator()(const BucketRanges* a,
                                                 const BucketRanges* b) const {
  return a->Equals(b);
}

StatisticsRecorder::StatisticsRecorder() : previous_(g_top) {
  g_top = this;
}

StatisticsRecorder::~StatisticsRecorder() {
  ScopedRecorderLock lock;
  // Only temporary recorders are ever destroyed; the one they replaced
  // comes back.
  if (g_top == this)
    g_top = previous_;
}

// static
void StatisticsRecorder::EnsureGlobalRecorderWhileLocked() {
  if (g_top)
    return;
  new StatisticsRecorder();  // Becomes |g_top|; never freed.
  if (!g_vlog_initialized) {
    g_vlog_initialized = true;
    if (VLOG_IS_ON(1))
      AtExitManager::RegisterCallback(&DumpHistogramsToVlog, nullptr);
  }
}

// static
std::unique_ptr<StatisticsRecorder>
StatisticsRecorder::CreateTemporaryForTesting() {
  ScopedRecorderLock lock;
  return std::unique_ptr<StatisticsRecorder>(new StatisticsRecorder());
}

// static
HistogramBase* StatisticsRecorder::RegisterOrDeleteDuplicate(
    HistogramBase* histogram) {
  HistogramBase* registered;
  {
    ScopedRecorderLock lock;
    EnsureGlobalRecorderWhileLocked();
    const std::string name(histogram->histogram_name());
    auto inserted = g_top->histograms_.emplace(name, histogram);
    registered = inserted.first->second;
    if (inserted.second) {
      auto callback = g_top->callbacks_.find(name);
      if (callback != g_top->callbacks_.end()) {
        if (!callback->second.is_null())
          histogram->SetFlags(HistogramBase::kCallbackExists);
        else
          histogram->ClearFlags(HistogramBase::kCallbackExists);
      }
    }
  }
  // Another thread won the race for this name; the loser is dropped outside
  // the lock.
  if (registered != histogram)
    delete histogram;
  return registered;
}

// static
const BucketRanges* StatisticsRecorder::RegisterOrDeleteDuplicateRanges(
    const BucketRanges* ranges) {
  const BucketRanges* registered;
  {
    ScopedRecorderLock lock;
    EnsureGlobalRecorderWhileLocked();
    registered = *g_top->ranges_.insert(ranges).first;
  }
  if (registered != ranges)
    delete ranges;
  return registered;
}

// static
void StatisticsRecorder::ImportGlobalPersistentHistograms() {
  // The import registers through RegisterOrDeleteDuplicate, so the lock
  // must not be held.
  HistogramPersistence* persistence = GetHistogramPersistence();
  if (persistence)
    persistence->ImportHistogramsToStatisticsRecorder();
}

// static
HistogramBase* StatisticsRecorder::FindHistogram(StringPiece name) {
  ImportGlobalPersistentHistograms();
  const std::string key(name.data(), name.size());
  ScopedSharedRecorderLock lock;
  if (!g_top)
    return nullptr;
  auto it = g_top->histograms_.find(key);
  return it == g_top->histograms_.end() ? nullptr : it->second;
}

// static
std::vector<HistogramBase*> StatisticsRecorder::GetHistograms() {
  ImportGlobalPersistentHistograms();
  std::vector<HistogramBase*> result;
  ScopedSharedRecorderLock lock;
  if (!g_top)
    return result;
  result.reserve(g_top->histograms_.size());
  for (const auto& entry : g_top->histograms_)
    result.push_back(entry.second);
  return result;
}

// static
StatisticsRecorder::OnSampleCallback StatisticsRecorder::FindCallback(
    const std::string& name) {
  ScopedSharedRecorderLock lock;
  if (!g_top)
    return OnSampleCallback();
  auto it = g_top->callbacks_.find(name);
  return it == g_top->callbacks_.end() ? OnSampleCallback() : it->second;
}

// static
void StatisticsRecorder::SetCallback(const std::string& name,
                                     const OnSampleCallback& callback) {
  ScopedRecorderLock lock;
  EnsureGlobalRecorderWhileLocked();
  g_top->callbacks_[name] = callback;
  auto it = g_top->histograms_.find(name);
  if (it == g_top->histograms_.end())
    return;
  if (callback.is_null())
    it->second->ClearFlags(HistogramBase::kCallbackExists);
  else
    it->second->SetFlags(HistogramBase::kCallbackExists);
}

// static
void StatisticsRecorder::WriteGraph(const std::string& query,
                                    std::string* output) {
  if (query.empty()) {
    output->append("Collections of all histograms\n");
  } else {
    output->append("Collections of histograms for ");
    output->append(query);
    output->append("\n");
  }

  std::vector<HistogramBase*> histograms = GetHistograms();
  histograms.erase(std::remove_if(histograms.begin(), histograms.end(),
                                  [&query](const HistogramBase* histogram) {
                                    return strstr(histogram->histogram_name(),
                                                  query.c_str()) == nullptr;
                                  }),
                   histograms.end());
  std::sort(histograms.begin(), histograms.end(),
            [](const HistogramBase* a, const HistogramBase* b) {
              return strcmp(a->histogram_name(), b->histogram_name()) < 0;
            });
  for (const HistogramBase* histogram : histograms) {
    histogram->WriteAscii(output);
    output->append("\n");
  }
}

// static
void StatisticsRecorder::DumpHistogramsToVlog(void* unused) {
  std::string output;
  WriteGraph(std::string(), &output);
  VLOG(1) << output;
}

}  // namespace base
