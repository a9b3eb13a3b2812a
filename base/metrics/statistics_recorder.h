#ifndef BASE_METRICS_STATISTICS_RECORDER_H_
#define BASE_METRICS_STATISTICS_RECORDER_H_

#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/callback.h"
#include "base/metrics/histogram_base.h"
#include "base/strings/string_piece.h"

namespace base {

class BucketRanges;

// The process-wide registry of histograms and of bucket layouts: one
// histogram object per name, one shared layout per distinct set of
// boundaries. Registered objects are never freed. All operations are static
// and act on the current ("top") recorder, made on first use.
class StatisticsRecorder {
 public:
  typedef RepeatingCallback<void(HistogramBase::Sample)> OnSampleCallback;

  ~StatisticsRecorder();

  // Registers |histogram| unless one of its name is already registered, in
  // which case |histogram| is deleted. Returns the registered one.
  static HistogramBase* RegisterOrDeleteDuplicate(HistogramBase* histogram);

  // The same for a layout: returns the registered equal one.
  static const BucketRanges* RegisterOrDeleteDuplicateRanges(
      const BucketRanges* ranges);

  // The histogram registered under |name|, or null.
  static HistogramBase* FindHistogram(StringPiece name);

  // Every registered histogram, in no particular order.
  static std::vector<HistogramBase*> GetHistograms();

  // The callback run for every sample of |name|; empty when none.
  static OnSampleCallback FindCallback(const std::string& name);
  // Sets (or, with an empty callback, clears) the callback of |name|.
  static void SetCallback(const std::string& name,
                          const OnSampleCallback& callback);

  // Appends the ASCII graphs of the histograms whose names contain |query|
  // (all for an empty query), sorted by name.
  static void WriteGraph(const std::string& query, std::string* output);

  // Writes every histogram to the verbose log (level 1); run at exit.
  static void DumpHistogramsToVlog(void* unused);

  // Makes a fresh, empty recorder the top one until the result is
  // destroyed; the histograms it registers are leaked. For tests.
  static std::unique_ptr<StatisticsRecorder> CreateTemporaryForTesting();

 private:
  struct NameHash {
    size_t operator()(const std::string& name) const;
  };
  struct RangesHash {
    size_t operator()(const BucketRanges* ranges) const;
  };
  struct RangesEqual {
    bool operator()(const BucketRanges* a, const BucketRanges* b) const;
  };

  StatisticsRecorder();

  // Makes the top recorder when there is none; the global lock is held.
  static void EnsureGlobalRecorderWhileLocked();
  static void ImportGlobalPersistentHistograms();

  std::unordered_map<std::string, HistogramBase*, NameHash> histograms_;
  std::unordered_map<std::string, OnSampleCallback, NameHash> callbacks_;
  std::unordered_set<const BucketRanges*, RangesHash, RangesEqual> ranges_;
  StatisticsRecorder* const previous_;
};

}  // namespace base

#endif  // BASE_METRICS_STATISTICS_RECORDER_H_
