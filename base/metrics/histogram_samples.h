#ifndef BASE_METRICS_HISTOGRAM_SAMPLES_H_
#define BASE_METRICS_HISTOGRAM_SAMPLES_H_

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <memory>
#include <vector>

#include "base/metrics/histogram_base.h"

namespace base {

class Pickle;
class PickleIterator;
class SampleCountIterator;

// A set of recorded samples: a count per bucket (or per value, for sparse
// histograms), their sum and a redundant total count used to detect
// corruption. Snapshots of histograms are returned in this form.
class HistogramSamples {
 public:
  typedef HistogramBase::Sample Sample;
  typedef HistogramBase::Count Count;

  // One word holding the only bucket used so far and its count, so that a
  // histogram that only ever sees one value needs no counts array. Low 16
  // bits the bucket index, high 16 bits the count.
  struct SingleSample {
    uint16_t bucket;
    uint16_t count;
  };

  class AtomicSingleSample {
   public:
    // Marks the word once a counts array is in use.
    static constexpr uint32_t kDisabled = 0xFFFFFFFFu;

    AtomicSingleSample() : as_atomic(0) {}

    // The current value; empty when disabled.
    SingleSample Load() const;
    // Empties or disables the word and answers what it held (empty when it
    // was disabled).
    SingleSample Extract(bool disable);
    // Adds |count| (may be negative) to |bucket|; false when the word is
    // disabled, holds another bucket or would overflow.
    bool Accumulate(size_t bucket, Count count);
    bool IsDisabled() const;

   private:
    std::atomic<uint32_t> as_atomic;
  };

  // The fixed 24-byte head of a sample set. Persistent histograms embed it
  // in their records, so its layout must not change.
  struct Metadata {
    // The histogram's name hash; 0 until set.
    uint64_t id;
    // Sum of value x count over all records (approximate under races).
    std::atomic<int64_t> sum;
    // Total number of records, kept beside the buckets.
    std::atomic<Count> redundant_count;
    AtomicSingleSample single_sample;

    Metadata() : id(0), sum(0), redundant_count(0) {}
  };

  enum Operator { ADD, SUBTRACT };

  // Reasons given to RecordNegativeSample.
  enum NegativeSampleReason {
    SAMPLES_ACCUMULATE_NEGATIVE_COUNT = 5,
    SAMPLES_ACCUMULATE_WENT_NEGATIVE = 6,
    SAMPLES_ACCUMULATE_OVERFLOW = 8,
  };

  // One non-empty bucket: the samples v with min <= v < max.
  struct Entry {
    Sample min;
    int64_t max;
    Count count;
  };

  // Owns a zeroed metadata block.
  explicit HistogramSamples(uint64_t id);
  // Uses |meta| (which must outlive this object), setting its id if unset.
  HistogramSamples(uint64_t id, Metadata* meta);
  virtual ~HistogramSamples();

  HistogramSamples(const HistogramSamples&) = delete;
  HistogramSamples& operator=(const HistogramSamples&) = delete;

  // Adds |count| samples of |value| (a negative count takes them away).
  virtual void Accumulate(Sample value, Count count) = 0;
  // The count in the bucket that holds |value|.
  virtual Count GetCount(Sample value) const = 0;
  // The sum of all bucket counts.
  virtual Count TotalCount() const = 0;

  // Adds or takes away every sample of |other|, whose buckets must fit
  // this set (a misfit stops the process).
  virtual void Add(const HistogramSamples& other);
  // The same from the pickle form; false when it cannot be read or does
  // not fit.
  virtual bool AddFromPickle(PickleIterator* iter);
  virtual void Subtract(const HistogramSamples& other);

  // The non-empty buckets in ascending order.
  virtual std::unique_ptr<SampleCountIterator> Iterator() const = 0;
  // 64-bit sum, 32-bit redundant count, then (min, max, count) triples.
  virtual void Serialize(Pickle* pickle) const;

  // The non-empty buckets as a list, from Iterator().
  std::vector<Entry> GetEntries() const;

  uint64_t id() const { return meta_->id; }
  int64_t sum() const { return meta_->sum.load(std::memory_order_relaxed); }
  // Equals TotalCount() when the set is consistent.
  Count redundant_count() const {
    return meta_->redundant_count.load(std::memory_order_relaxed);
  }

 protected:
  // Merges the entries of |iter| in; false when they do not fit.
  virtual bool AddSubtractImpl(SampleCountIterator* iter, Operator op) = 0;

  // Whether an entry of the samples v with min <= v < max can be merged
  // into this set. By default entries must be one value wide.
  virtual bool EntryFits(Sample min, int64_t max) const;

  void IncreaseSumAndCount(int64_t sum, Count count);

  // Counts an impossible sample (reason, increment) in the histograms
  // "UMA.NegativeSamples.Reason", ".Increment" and ".Histogram".
  void RecordNegativeSample(NegativeSampleReason reason, Count increment);

  AtomicSingleSample& single_sample() { return meta_->single_sample; }
  const AtomicSingleSample& single_sample() const {
    return meta_->single_sample;
  }

 private:
  std::unique_ptr<Metadata> owned_meta_;
  Metadata* const meta_;
};

// Walks the non-empty buckets of a sample set.
class SampleCountIterator {
 public:
  virtual ~SampleCountIterator();

  virtual bool Done() const = 0;
  virtual void Next() = 0;
  // The current entry: samples v with min <= v < max, and their count.
  virtual void Get(HistogramBase::Sample* min,
                   int64_t* max,
                   HistogramBase::Count* count) const = 0;
  // The bucket index of the current entry; false when the iterator has no
  // bucket indexes.
  virtual bool GetBucketIndex(size_t* index) const;
};

// Iterates a single-sample word: one entry, [range(b), range(b + 1)).
class SingleSampleIterator : public SampleCountIterator {
 public:
  SingleSampleIterator(HistogramBase::Sample min,
                       int64_t max,
                       HistogramBase::Count count,
                       size_t bucket_index);
  ~SingleSampleIterator() override;

  bool Done() const override;
  void Next() override;
  void Get(HistogramBase::Sample* min,
           int64_t* max,
           HistogramBase::Count* count) const override;
  bool GetBucketIndex(size_t* index) const override;

 private:
  const HistogramBase::Sample min_;
  const int64_t max_;
  const size_t bucket_index_;
  HistogramBase::Count count_;
};

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_SAMPLES_H_
