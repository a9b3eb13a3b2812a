#ifndef BASE_METRICS_HISTOGRAM_PERSISTENCE_H_
#define BASE_METRICS_HISTOGRAM_PERSISTENCE_H_

#include <stdint.h>

#include <functional>
#include <memory>
#include <string>

#include "base/metrics/histogram_base.h"

namespace base {

class BucketRanges;

// What the histogram factories and the statistics recorder ask of the
// process-wide histogram allocator that places histograms in persistent
// memory. The allocator installs itself with SetHistogramPersistence; while
// none is installed (the normal case) every histogram lives on the heap.
class HistogramPersistence {
 public:
  virtual ~HistogramPersistence() = default;

  // A histogram of |type| in persistent memory, or null (the factory then
  // builds one on the heap). |ranges| is registered, null for sparse
  // histograms. |*reference| gets the record to finalize.
  virtual std::unique_ptr<HistogramBase> AllocateHistogram(
      HistogramType type,
      const std::string& name,
      HistogramBase::Sample minimum,
      HistogramBase::Sample maximum,
      const BucketRanges* ranges,
      int32_t flags,
      uint32_t* reference) = 0;

  // Called once the histogram from AllocateHistogram was offered to the
  // statistics recorder: |registered| is false when another object of that
  // name won (the allocated one has then been deleted).
  virtual void FinalizeHistogram(uint32_t reference, bool registered) = 0;

  // Registers the histograms other users of the segment have made. Called
  // without any lock of the statistics recorder held.
  virtual void ImportHistogramsToStatisticsRecorder() = 0;
};

// The installed allocator, or null.
HistogramPersistence* GetHistogramPersistence();
// Installs |persistence| (null uninstalls); the caller keeps ownership and
// must keep it alive while installed.
void SetHistogramPersistence(HistogramPersistence* persistence);

// The creation step shared by every factory: a histogram from the installed
// persistence if it gives one, else |heap_alloc|'s with kIsPersistent
// cleared from |flags|; then |fill| (may be empty), registration and the
// persistent record's finalization. Returns the registered histogram of
// |name|, which is another object when a racing thread registered first.
HistogramBase* CreateAndRegisterHistogram(
    HistogramType type,
    const std::string& name,
    HistogramBase::Sample minimum,
    HistogramBase::Sample maximum,
    const BucketRanges* ranges,
    int32_t flags,
    const std::function<std::unique_ptr<HistogramBase>()>& heap_alloc,
    const std::function<void(HistogramBase*)>& fill);

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_PERSISTENCE_H_
