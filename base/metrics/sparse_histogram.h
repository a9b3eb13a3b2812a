#ifndef BASE_METRICS_SPARSE_HISTOGRAM_H_
#define BASE_METRICS_SPARSE_HISTOGRAM_H_

#include <stdint.h>

#include <memory>
#include <string>

#include "base/metrics/histogram_base.h"
#include "base/metrics/histogram_samples.h"
#include "base/synchronization/lock.h"

namespace base {

// Counts arbitrary 32-bit values, each value its own bucket: for data with
// few but unpredictable values, such as error codes. Its own lock guards
// both sample sets.
class SparseHistogram : public HistogramBase {
 public:
  // The registered histogram of |name|, made on first request.
  static HistogramBase* FactoryGet(const std::string& name, int32_t flags);

  // Over sample sets made elsewhere (persistent memory); |name| must be
  // permanent. The unlogged samples' id is the histogram's name hash.
  static std::unique_ptr<HistogramBase> PersistentCreate(
      const char* name,
      std::unique_ptr<HistogramSamples> unlogged_samples,
      std::unique_ptr<HistogramSamples> logged_samples);

  ~SparseHistogram() override;

  // HistogramBase:
  uint64_t name_hash() const override;
  HistogramType GetHistogramType() const override;
  bool HasConstructionArguments(Sample expected_minimum,
                                Sample expected_maximum,
                                uint32_t expected_bucket_count) const override;
  void Add(Sample value) override;
  void AddCount(Sample value, int count) override;
  void AddSamples(const HistogramSamples& samples) override;
  bool AddSamplesFromPickle(PickleIterator* iter) override;
  std::unique_ptr<HistogramSamples> SnapshotSamples() const override;
  std::unique_ptr<HistogramSamples> SnapshotDelta() override;
  std::unique_ptr<HistogramSamples> SnapshotFinalDelta() const override;
  void SerializeInfoImpl(Pickle* pickle) const override;
  void GetParameters(DictionaryValue* params) const override;
  void GetCountAndBucketData(Count* count,
                             int64_t* sum,
                             ListValue* buckets) const override;

 private:
  explicit SparseHistogram(const char* name);
  SparseHistogram(const char* name,
                  std::unique_ptr<HistogramSamples> unlogged_samples,
                  std::unique_ptr<HistogramSamples> logged_samples);

  void WriteAsciiImpl(const std::string& newline,
                      std::string* output) const override;

  mutable Lock lock_;
  mutable bool final_delta_created_ = false;
  std::unique_ptr<HistogramSamples> unlogged_samples_;
  std::unique_ptr<HistogramSamples> logged_samples_;
};

}  // namespace base

#endif  // BASE_METRICS_SPARSE_HISTOGRAM_H_
