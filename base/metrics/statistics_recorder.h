#ifndef BASE_METRICS_STATISTICS_RECORDER_H_
#define BASE_METRICS_STATISTICS_RECORDER_H_

#include <vector>

#include "base/strings/string_piece.h"

namespace base {

class BucketRanges;
class HistogramBase;

// The process-wide registry of histograms and of bucket layouts: one
// histogram object per name, one shared layout per distinct set of
// boundaries. Registered objects are never freed.
class StatisticsRecorder {
 public:
  StatisticsRecorder() = delete;

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
};

}  // namespace base

#endif  // BASE_METRICS_STATISTICS_RECORDER_H_
