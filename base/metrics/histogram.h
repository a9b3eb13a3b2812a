#ifndef BASE_METRICS_HISTOGRAM_H_
#define BASE_METRICS_HISTOGRAM_H_

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>

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

  ~Histogram() override;

  // Null only when a histogram of this name exists with other arguments.
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
  std::unique_ptr<HistogramSamples> SnapshotSamples() const override;
  std::unique_ptr<HistogramSamples> SnapshotDelta() override;
  std::unique_ptr<HistogramSamples> SnapshotFinalDelta() const override;

  virtual Sample ranges(size_t i) const;
  virtual uint32_t bucket_count() const;

  const BucketRanges* bucket_ranges() const { return bucket_ranges_; }
  // Boundary 1 and the boundary at index bucket_count - 1.
  Sample declared_min() const;
  Sample declared_max() const;

 protected:
  Histogram(const char* name, const BucketRanges* ranges);

  // Builds or finds the histogram of |name| of |type|. For linear and
  // boolean layouts |type| selects the boundary rule.
  static HistogramBase* FactoryGetWithType(const std::string& name,
                                           HistogramType type,
                                           Sample minimum,
                                           Sample maximum,
                                           uint32_t bucket_count,
                                           int32_t flags);

 private:
  std::unique_ptr<SampleVector> CopySamples(const SampleVector& from) const;

  const BucketRanges* const bucket_ranges_;
  std::unique_ptr<SampleVector> unlogged_samples_;
  std::unique_ptr<SampleVector> logged_samples_;
};

// Buckets of equal width.
class LinearHistogram : public Histogram {
 public:
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

  HistogramType GetHistogramType() const override;

 protected:
  friend class Histogram;
  LinearHistogram(const char* name, const BucketRanges* ranges);
};

// Two buckets, for false and true.
class BooleanHistogram : public LinearHistogram {
 public:
  ~BooleanHistogram() override;

  static HistogramBase* FactoryGet(const std::string& name, int32_t flags);
  static HistogramBase* FactoryGet(const char* name, int32_t flags);

  HistogramType GetHistogramType() const override;

 private:
  friend class Histogram;
  BooleanHistogram(const char* name, const BucketRanges* ranges);
};

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_H_
