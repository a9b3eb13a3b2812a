#ifndef BASE_METRICS_HISTOGRAM_BASE_H_
#define BASE_METRICS_HISTOGRAM_BASE_H_

#include <stdint.h>

#include <atomic>
#include <limits>
#include <memory>
#include <string>

#include "base/strings/string_piece.h"

namespace base {

class DictionaryValue;
class HistogramSamples;
class ListValue;
class Pickle;
class PickleIterator;
class TimeDelta;

// Stored in persistent records as well, so the values are fixed.
enum HistogramType : int32_t {
  HISTOGRAM = 0,
  LINEAR_HISTOGRAM = 1,
  BOOLEAN_HISTOGRAM = 2,
  CUSTOM_HISTOGRAM = 3,
  SPARSE_HISTOGRAM = 4,
};

// "HISTOGRAM", "LINEAR_HISTOGRAM", ... and "UNKNOWN" for any other value.
std::string HistogramTypeToString(HistogramType type);

// A permanent copy of |name|: the returned string lives until the process
// ends, and equal names give the same pointer.
const char* GetPermanentName(const std::string& name);

// The interface of every histogram. A histogram is made once per name by a
// factory, registered with the statistics recorder and never destroyed.
class HistogramBase {
 public:
  typedef int32_t Sample;
  typedef int32_t Count;

  static constexpr Sample kSampleType_MAX = std::numeric_limits<Sample>::max();

  enum Flags : int32_t {
    kNoFlags = 0,
    kUmaTargetedHistogramFlag = 0x1,
    kCallbackExists = 0x20,
    kIsPersistent = 0x40,
  };

  // Bits of FindCorruption.
  enum Inconsistency : uint32_t {
    NO_INCONSISTENCIES = 0x0,
    RANGE_CHECKSUM_ERROR = 0x1,
    BUCKET_ORDER_ERROR = 0x2,
    COUNT_HIGH_ERROR = 0x4,
    COUNT_LOW_ERROR = 0x8,
  };

  // |name| must be permanent (see GetPermanentName).
  explicit HistogramBase(const char* name);
  virtual ~HistogramBase();

  HistogramBase(const HistogramBase&) = delete;
  HistogramBase& operator=(const HistogramBase&) = delete;

  const char* histogram_name() const { return histogram_name_; }

  int32_t flags() const { return flags_.load(std::memory_order_relaxed); }
  void SetFlags(int32_t flags);
  void ClearFlags(int32_t flags);

  // The 64-bit id of this histogram (the metric hash of its name).
  virtual uint64_t name_hash() const = 0;
  virtual HistogramType GetHistogramType() const = 0;
  // Whether this histogram was built with exactly these arguments.
  virtual bool HasConstructionArguments(
      Sample expected_minimum,
      Sample expected_maximum,
      uint32_t expected_bucket_count) const = 0;

  virtual void Add(Sample value) = 0;
  // Adds |count| samples of |value|; a count below 1 is ignored.
  virtual void AddCount(Sample value, int count) = 0;

  // Adds another sample set to what has not been logged yet.
  virtual void AddSamples(const HistogramSamples& samples) = 0;
  // The same from the pickle form of a sample set; false when it is
  // malformed.
  virtual bool AddSamplesFromPickle(PickleIterator* iter) = 0;

  // A set of Inconsistency bits describing |samples| (a snapshot of this
  // histogram); 0 when nothing is wrong.
  virtual uint32_t FindCorruption(const HistogramSamples& samples) const;

  // Everything recorded so far.
  virtual std::unique_ptr<HistogramSamples> SnapshotSamples() const = 0;
  // What was recorded since the last delta; marks it as logged.
  virtual std::unique_ptr<HistogramSamples> SnapshotDelta() = 0;
  // What has not been logged yet, changing nothing.
  virtual std::unique_ptr<HistogramSamples> SnapshotFinalDelta() const = 0;

  // The graph of the samples as text: HTML (inside <PRE>) or plain ASCII;
  // both are the lines of WriteAsciiImpl.
  virtual void WriteHTMLGraph(std::string* output) const;
  virtual void WriteAscii(std::string* output) const;

  // Checks the object's own fields; an invalid histogram with
  // |crash_if_invalid| stops the process.
  virtual bool ValidateHistogramContents(bool crash_if_invalid,
                                         int identifier) const;

  // Writes the construction parameters; see SerializeInfo.
  virtual void SerializeInfoImpl(Pickle* pickle) const = 0;
  // "type", "min", "max", "bucket_count" (as far as the kind has them).
  virtual void GetParameters(DictionaryValue* params) const = 0;
  // Count, sum and one dictionary per non-empty bucket.
  virtual void GetCountAndBucketData(Count* count,
                                     int64_t* sum,
                                     ListValue* buckets) const = 0;

  void SerializeInfo(Pickle* pickle) const { SerializeInfoImpl(pickle); }

  // Adds a time span as its whole milliseconds (truncated to 32 bits).
  void AddTime(const TimeDelta& time);

  void AddBoolean(bool value);

 protected:
  // Runs the sample callback registered for this name, if any.
  void FindAndRunCallback(Sample sample) const;

  // The header line and the graph, each line ended by |newline|. Kinds
  // without a graph write nothing.
  virtual void WriteAsciiImpl(const std::string& newline,
                              std::string* output) const;

  // "Histogram: NAME recorded N samples", the mean when |with_mean| and
  // there are samples, the flags when set, then |newline|.
  void WriteAsciiHeader(const HistogramSamples& snapshot,
                        bool with_mean,
                        const std::string& newline,
                        std::string* output) const;

  // A bucket's label, padded with spaces to |print_width| + 1 columns.
  static void WriteAsciiBucketLabel(const std::string& label,
                                    size_t print_width,
                                    std::string* output);

  // The bar of an ASCII graph: 72 columns, |current_size| against
  // |max_size|.
  static void WriteAsciiBucketGraph(double current_size,
                                    double max_size,
                                    std::string* output);

  // " (%d = %3.1f%%)".
  static void WriteAsciiBucketValue(Count current,
                                    double scaled_sum,
                                    std::string* output);

 private:
  const char* const histogram_name_;
  std::atomic<int32_t> flags_{0};
};

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_BASE_H_
