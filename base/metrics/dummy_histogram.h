#ifndef BASE_METRICS_DUMMY_HISTOGRAM_H_
#define BASE_METRICS_DUMMY_HISTOGRAM_H_

#include <stdint.h>

#include <memory>
#include <string>

#include "base/metrics/histogram_base.h"

namespace base {

// The histogram handed out when a factory has no histogram to give (the
// name is registered with other arguments): callers record into the result
// unchecked, so it accepts everything and keeps nothing. Never registered.
class DummyHistogram : public HistogramBase {
 public:
  static DummyHistogram* GetInstance();

  // HistogramBase:
  uint64_t name_hash() const override;
  HistogramType GetHistogramType() const override;
  bool HasConstructionArguments(Sample expected_minimum,
                                Sample expected_maximum,
                                uint32_t expected_bucket_count) const override;
  void Add(Sample value) override {}
  void AddCount(Sample value, int count) override {}
  void AddSamples(const HistogramSamples& samples) override {}
  bool AddSamplesFromPickle(PickleIterator* iter) override;
  std::unique_ptr<HistogramSamples> SnapshotSamples() const override;
  std::unique_ptr<HistogramSamples> SnapshotDelta() override;
  std::unique_ptr<HistogramSamples> SnapshotFinalDelta() const override;
  void WriteHTMLGraph(std::string* output) const override {}
  void WriteAscii(std::string* output) const override {}
  void SerializeInfoImpl(Pickle* pickle) const override {}
  void GetParameters(DictionaryValue* params) const override {}
  void GetCountAndBucketData(Count* count,
                             int64_t* sum,
                             ListValue* buckets) const override {}

 private:
  DummyHistogram();
  ~DummyHistogram() override;
};

}  // namespace base

#endif  // BASE_METRICS_DUMMY_HISTOGRAM_H_
