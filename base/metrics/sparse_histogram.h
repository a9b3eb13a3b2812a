#ifndef BASE_METRICS_SPARSE_HISTOGRAM_H_
#define BASE_METRICS_SPARSE_HISTOGRAM_H_

#include <windows.h>

#include <memory>
#include <string>

#include "base/metrics/histogram_base.h"
#include "base/metrics/sample_map.h"

namespace base {

// Counts arbitrary 32-bit values, each value its own bucket: for data with
// few but unpredictable values, such as error codes.
class SparseHistogram : public HistogramBase {
 public:
  // The registered histogram of |name|, made on first request.
  static HistogramBase* FactoryGet(const std::string& name, int32_t flags);

  ~SparseHistogram() override;

  // HistogramBase:
  uint64_t name_hash() const override;
  HistogramType GetHistogramType() const override;
  bool HasConstructionArguments(Sample expected_minimum,
                                Sample expected_maximum,
                                uint32_t expected_bucket_count) const override;
  void Add(Sample value) override;
  void AddCount(Sample value, int count) override;
  std::unique_ptr<HistogramSamples> SnapshotSamples() const override;
  std::unique_ptr<HistogramSamples> SnapshotDelta() override;
  std::unique_ptr<HistogramSamples> SnapshotFinalDelta() const override;

 private:
  explicit SparseHistogram(const char* name);

  // Guards both sample maps.
  mutable SRWLOCK lock_ = SRWLOCK_INIT;
  mutable bool final_delta_created_ = false;
  std::unique_ptr<SampleMap> unlogged_samples_;
  std::unique_ptr<SampleMap> logged_samples_;
};

}  // namespace base

#endif  // BASE_METRICS_SPARSE_HISTOGRAM_H_
