#ifndef BASE_METRICS_HISTOGRAM_H_
#define BASE_METRICS_HISTOGRAM_H_

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/metrics/bucket_ranges.h"
#include "base/metrics/histogram_base.h"
#include "base/metrics/sample_vector.h"
#include "base/strings/string_piece.h"
#include "base/time/time.h"

namespace base {

// A histogram with exponentially growing buckets. Factories return the
// process-wide histogram of the name, made on first request; recording is
// lock-free.
class Histogram : public HistogramBase {
 public:
  // Largest bucket count accepted (exclusive).
  static constexpr uint32_t kBucketCount_MAX = 16384u;

  // Set at construction and never changed; a different value means the
  // object was overwritten.
  static constexpr uint64_t kDummyValidationGuard = 0xFEEDC0DEDEADBEEFull;

  ~Histogram() override;

  // Never null: a request whose arguments differ from those of the
  // registered histogram of the name gets a histogram that records nothing.
  static HistogramBase* FactoryGet(const std::string& name,
                                   Sample minimum,
                                   Sample maximum,
                                   uint32_t bucket_count,
                                   int32_t flags);
  static HistogramBase* FactoryGetByCString(const char* name,
                                            Sample minimum,
                                            Sample maximum,
                                            uint32_t bucket_count,
                                            int32_t flags);

  // Time histograms record milliseconds.
  static HistogramBase* FactoryTimeGet(const std::string& name,
                                       TimeDelta minimum,
                                       TimeDelta maximum,
                                       uint32_t bucket_count,
                                       int32_t flags);
  static HistogramBase* FactoryTimeGetByCString(const char* name,
                                                TimeDelta minimum,
                                                TimeDelta maximum,
                                                uint32_t bucket_count,
                                                int32_t flags);

  // Over sample vectors made elsewhere (persistent memory); |name| must be
  // permanent and both vectors must use the same registered bucket ranges.
  static std::unique_ptr<HistogramBase> PersistentCreate(
      const char* name,
      std::unique_ptr<SampleVectorBase> unlogged_samples,
      std::unique_ptr<SampleVectorBase> logged_samples);

  // Brings out-of-range arguments into range. Returns false when the request
  // was bad (not merely clamped at the type's limits).
  static bool InspectConstructionArguments(StringPiece name,
                                           Sample* minimum,
                                           Sample* maximum,
                                           uint32_t* bucket_count);

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
  uint32_t FindCorruption(const HistogramSamples& samples) const override;
  std::unique_ptr<HistogramSamples> SnapshotSamples() const override;
  std::unique_ptr<HistogramSamples> SnapshotDelta() override;
  std::unique_ptr<HistogramSamples> SnapshotFinalDelta() const override;
  bool ValidateHistogramContents(bool crash_if_invalid,
                                 int identifier) const override;
  void SerializeInfoImpl(Pickle* pickle) const override;
  void GetParameters(DictionaryValue* params) const override;
  void GetCountAndBucketData(Count* count,
                             int64_t* sum,
                             ListValue* buckets) const override;

  virtual Sample ranges(size_t i) const;
  virtual uint32_t bucket_count() const;

  const BucketRanges* bucket_ranges() const;
  // Boundary 1 and the boundary at index bucket_count - 1; -1 when there
  // are fewer than two buckets.
  Sample declared_min() const;
  Sample declared_max() const;

 protected:
  // Heap histogram: both sample vectors get the name's hash as id.
  Histogram(const char* name, const BucketRanges* ranges);
  Histogram(const char* name,
            std::unique_ptr<SampleVectorBase> unlogged_samples,
            std::unique_ptr<SampleVectorBase> logged_samples);

  // Whether an empty bucket is printed in the ASCII graph.
  virtual bool PrintEmptyBucket(uint32_t index) const;
  // The height of a bucket's bar before scaling.
  virtual double GetBucketSize(Count current, uint32_t i) const;
  // The label of bucket |i| in the ASCII graph.
  virtual const std::string GetAsciiBucketRange(uint32_t i) const;

  // Builds or finds the histogram of |name| for |factory|; see
  // Histogram::Factory in histogram.cc.
  class Factory;

 private:
  std::unique_ptr<SampleVector> CopyUnloggedSamples() const;
  // Unlogged and logged samples together, with access by bucket index.
  std::unique_ptr<SampleVector> SnapshotAllSamples() const;
  void WriteAsciiImpl(const std::string& newline,
                      std::string* output) const override;

  std::unique_ptr<SampleVectorBase> unlogged_samples_;
  std::unique_ptr<SampleVectorBase> logged_samples_;
  const uint64_t dummy_field_ = kDummyValidationGuard;
};

// Buckets of equal width, optionally described by labels.
class LinearHistogram : public Histogram {
 public:
  // A label for the bucket starting at |sample|; lists end with a null
  // description.
  struct DescriptionPair {
    Sample sample;
    const char* description;
  };

  ~LinearHistogram() override;

  static HistogramBase* FactoryGet(const std::string& name,
                                   Sample minimum,
                                   Sample maximum,
                                   uint32_t bucket_count,
                                   int32_t flags);
  static HistogramBase* FactoryGet(const char* name,
                                   Sample minimum,
                                   Sample maximum,
                                   uint32_t bucket_count,
                                   int32_t flags);
  // With labels for some buckets (may be null).
  static HistogramBase* FactoryGetWithRangeDescription(
      const std::string& name,
      Sample minimum,
      Sample maximum,
      uint32_t bucket_count,
      int32_t flags,
      const DescriptionPair descriptions[]);

  static std::unique_ptr<HistogramBase> PersistentCreate(
      const char* name,
      std::unique_ptr<SampleVectorBase> unlogged_samples,
      std::unique_ptr<SampleVectorBase> logged_samples);

  HistogramType GetHistogramType() const override;

 protected:
  class Factory;

  LinearHistogram(const char* name, const BucketRanges* ranges);
  LinearHistogram(const char* name,
                  std::unique_ptr<SampleVectorBase> unlogged_samples,
                  std::unique_ptr<SampleVectorBase> logged_samples);

  bool PrintEmptyBucket(uint32_t index) const override;
  double GetBucketSize(Count current, uint32_t i) const override;
  const std::string GetAsciiBucketRange(uint32_t i) const override;

 private:
  // Labels by the lower boundary of their bucket.
  std::map<Sample, std::string> bucket_description_;
};

// Two buckets, for false and true.
class BooleanHistogram : public LinearHistogram {
 public:
  ~BooleanHistogram() override;

  static HistogramBase* FactoryGet(const std::string& name, int32_t flags);
  static HistogramBase* FactoryGet(const char* name, int32_t flags);

  static std::unique_ptr<HistogramBase> PersistentCreate(
      const char* name,
      std::unique_ptr<SampleVectorBase> unlogged_samples,
      std::unique_ptr<SampleVectorBase> logged_samples);

  HistogramType GetHistogramType() const override;

 private:
  class Factory;

  BooleanHistogram(const char* name, const BucketRanges* ranges);
  BooleanHistogram(const char* name,
                   std::unique_ptr<SampleVectorBase> unlogged_samples,
                   std::unique_ptr<SampleVectorBase> logged_samples);
};

// Buckets with boundaries given from outside: only built from persistent
// records, whose layout is supplied already registered.
class CustomHistogram : public Histogram {
 public:
  ~CustomHistogram() override;

  static std::unique_ptr<HistogramBase> PersistentCreate(
      const char* name,
      std::unique_ptr<SampleVectorBase> unlogged_samples,
      std::unique_ptr<SampleVectorBase> logged_samples);

  HistogramType GetHistogramType() const override;
  // Common fields, then the inner boundaries.
  void SerializeInfoImpl(Pickle* pickle) const override;

 protected:
  double GetBucketSize(Count current, uint32_t i) const override;

 private:
  CustomHistogram(const char* name,
                  std::unique_ptr<SampleVectorBase> unlogged_samples,
                  std::unique_ptr<SampleVectorBase> logged_samples);
};

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_H_
