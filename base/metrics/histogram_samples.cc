#include "base/metrics/histogram_samples.h"

#include <limits>

#include "base/check.h"
#include "base/metrics/histogram.h"
#include "base/metrics/histogram_functions.h"
#include "base/pickle.h"

namespace base {

namespace {

static_assert(sizeof(HistogramSamples::Metadata) == 24,
              "the metadata is embedded in persistent records");
static_assert(sizeof(HistogramSamples::AtomicSingleSample) == 4,
              "the single sample is one word");

constexpr uint32_t kEmptyWord = 0;

uint32_t ToWord(HistogramSamples::SingleSample sample) {
  return static_cast<uint32_t>(sample.bucket) |
         (static_cast<uint32_t>(sample.count) << 16);
}

HistogramSamples::SingleSample FromWord(uint32_t word) {
  HistogramSamples::SingleSample sample;
  sample.bucket = static_cast<uint16_t>(word & 0xFFFF);
  sample.count = static_cast<uint16_t>(word >> 16);
  return sample;
}

// Walks entries already read and checked.
class EntryListIterator : public SampleCountIterator {
 public:
  explicit EntryListIterator(const std::vector<HistogramSamples::Entry>& list)
      : list_(list) {}
  ~EntryListIterator() override = default;

  bool Done() const override { return index_ >= list_.size(); }
  void Next() override {
    CHECK(!Done());
    ++index_;
  }
  void Get(HistogramBase::Sample* min,
           int64_t* max,
           HistogramBase::Count* count) const override {
    CHECK(!Done());
    *min = list_[index_].min;
    *max = list_[index_].max;
    *count = list_[index_].count;
  }

 private:
  const std::vector<HistogramSamples::Entry>& list_;
  size_t index_ = 0;
};

}  // namespace

HistogramSamples::SingleSample HistogramSamples::AtomicSingleSample::Load()
    const {
  uint32_t word = as_atomic.load(std::memory_order_relaxed);
  if (word == kDisabled)
    word = kEmptyWord;
  return FromWord(word);
}

HistogramSamples::SingleSample HistogramSamples::AtomicSingleSample::Extract(
    bool disable) {
  uint32_t word = as_atomic.exchange(disable ? kDisabled : kEmptyWord,
                                     std::memory_order_acq_rel);
  if (word == kDisabled)
    word = kEmptyWord;
  return FromWord(word);
}

bool HistogramSamples::AtomicSingleSample::Accumulate(size_t bucket,
                                                      Count count) {
  if (count == 0)
    return true;
  if (bucket > std::numeric_limits<uint16_t>::max())
    return false;
  const bool subtract = count < 0;
  const uint32_t magnitude = subtract ? 0u - static_cast<uint32_t>(count)
                                      : static_cast<uint32_t>(count);
  if (magnitude > std::numeric_limits<uint16_t>::max())
    return false;

  uint32_t original = as_atomic.load(std::memory_order_relaxed);
  while (true) {
    if (original == kDisabled)
      return false;
    SingleSample sample = FromWord(original);
    if (original == kEmptyWord)
      sample.bucket = static_cast<uint16_t>(bucket);
    else if (sample.bucket != bucket)
      return false;
    uint32_t new_count;
    if (subtract) {
      if (magnitude > sample.count)
        return false;
      new_count = sample.count - magnitude;
    } else {
      new_count = sample.count + magnitude;
      if (new_count > std::numeric_limits<uint16_t>::max())
        return false;
    }
    sample.count = static_cast<uint16_t>(new_count);
    const uint32_t word = ToWord(sample);
    if (word == kDisabled)
      return false;
    if (as_atomic.compare_exchange_weak(original, word,
                                        std::memory_order_acq_rel,
                                        std::memory_order_relaxed)) {
      return true;
    }
  }
}

bool HistogramSamples::AtomicSingleSample::IsDisabled() const {
  return as_atomic.load(std::memory_order_relaxed) == kDisabled;
}

HistogramSamples::HistogramSamples(uint64_t id)
    : HistogramSamples(id, nullptr) {}

HistogramSamples::HistogramSamples(uint64_t id, Metadata* meta)
    : owned_meta_(meta ? nullptr : new Metadata()),
      meta_(meta ? meta : owned_meta_.get()) {
  // Persistent metadata may already carry the id of an earlier user.
  if (meta_->id == 0)
    meta_->id = id;
}

HistogramSamples::~HistogramSamples() = default;

void HistogramSamples::Add(const HistogramSamples& other) {
  IncreaseSumAndCount(other.sum(), other.redundant_count());
  std::unique_ptr<SampleCountIterator> it = other.Iterator();
  const bool success = AddSubtractImpl(it.get(), ADD);
  CHECK(success);
}

bool HistogramSamples::AddFromPickle(PickleIterator* iter) {
  int64_t sum;
  Count redundant_count;
  if (!iter->ReadInt64(&sum) || !iter->ReadInt(&redundant_count))
    return false;
  // A misfit entry anywhere must leave this set as it was, so every triple
  // is read and checked before anything is added.
  std::vector<Entry> entries;
  Entry entry;
  while (iter->ReadInt(&entry.min) && iter->ReadInt64(&entry.max) &&
         iter->ReadInt(&entry.count)) {
    if (!EntryFits(entry.min, entry.max))
      return false;
    entries.push_back(entry);
  }
  IncreaseSumAndCount(sum, redundant_count);
  EntryListIterator list_iter(entries);
  return AddSubtractImpl(&list_iter, ADD);
}

bool HistogramSamples::EntryFits(Sample min, int64_t max) const {
  return static_cast<int64_t>(min) + 1 == max;
}

void HistogramSamples::Subtract(const HistogramSamples& other) {
  IncreaseSumAndCount(-other.sum(), -other.redundant_count());
  std::unique_ptr<SampleCountIterator> it = other.Iterator();
  const bool success = AddSubtractImpl(it.get(), SUBTRACT);
  CHECK(success);
}

void HistogramSamples::Serialize(Pickle* pickle) const {
  pickle->WriteInt64(sum());
  pickle->WriteInt(redundant_count());
  Sample min;
  int64_t max;
  Count count;
  for (std::unique_ptr<SampleCountIterator> it = Iterator(); !it->Done();
       it->Next()) {
    it->Get(&min, &max, &count);
    pickle->WriteInt(min);
    pickle->WriteInt64(max);
    pickle->WriteInt(count);
  }
}

std::vector<HistogramSamples::Entry> HistogramSamples::GetEntries() const {
  std::vector<Entry> entries;
  for (std::unique_ptr<SampleCountIterator> it = Iterator(); !it->Done();
       it->Next()) {
    Entry entry;
    it->Get(&entry.min, &entry.max, &entry.count);
    entries.push_back(entry);
  }
  return entries;
}

void HistogramSamples::IncreaseSumAndCount(int64_t sum, Count count) {
  meta_->sum.fetch_add(sum, std::memory_order_relaxed);
  // Atomic arithmetic wraps rather than overflowing: a wrapped count is
  // the corruption this count exists to reveal.
  meta_->redundant_count.fetch_add(count, std::memory_order_relaxed);
}

void HistogramSamples::RecordNegativeSample(NegativeSampleReason reason,
                                            Count increment) {
  static HistogramBase* const reason_histogram =
      LinearHistogram::FactoryGet("UMA.NegativeSamples.Reason", 1, 9, 10,
                                  HistogramBase::kUmaTargetedHistogramFlag);
  static HistogramBase* const increment_histogram =
      Histogram::FactoryGet("UMA.NegativeSamples.Increment", 1, 1 << 30, 100,
                            HistogramBase::kUmaTargetedHistogramFlag);
  reason_histogram->Add(reason);
  increment_histogram->Add(increment);
  UmaHistogramSparse("UMA.NegativeSamples.Histogram",
                     static_cast<int32_t>(id()));
}

SampleCountIterator::~SampleCountIterator() = default;

bool SampleCountIterator::GetBucketIndex(size_t* index) const {
  return false;
}

SingleSampleIterator::SingleSampleIterator(HistogramBase::Sample min,
                                           int64_t max,
                                           HistogramBase::Count count,
                                           size_t bucket_index)
    : min_(min), max_(max), bucket_index_(bucket_index), count_(count) {}

SingleSampleIterator::~SingleSampleIterator() = default;

bool SingleSampleIterator::Done() const {
  return count_ == 0;
}

void SingleSampleIterator::Next() {
  CHECK(!Done());
  count_ = 0;
}

void SingleSampleIterator::Get(HistogramBase::Sample* min,
                               int64_t* max,
                               HistogramBase::Count* count) const {
  CHECK(!Done());
  *min = min_;
  *max = max_;
  *count = count_;
}

bool SingleSampleIterator::GetBucketIndex(size_t* index) const {
  CHECK(!Done());
  *index = bucket_index_;
  return true;
}

}  // namespace base
