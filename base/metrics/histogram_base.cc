#include "base/metrics/histogram_base.h"

#include <windows.h>

#include <set>

#include "base/metrics/histogram_persistence.h"
#include "base/metrics/histogram_samples.h"
#include "base/metrics/statistics_recorder.h"
#include "base/strings/stringprintf.h"
#include "base/time/time.h"

namespace base {

std::string HistogramTypeToString(HistogramType type) {
  switch (type) {
    case HISTOGRAM:
      return "HISTOGRAM";
    case LINEAR_HISTOGRAM:
      return "LINEAR_HISTOGRAM";
    case BOOLEAN_HISTOGRAM:
      return "BOOLEAN_HISTOGRAM";
    case CUSTOM_HISTOGRAM:
      return "CUSTOM_HISTOGRAM";
    case SPARSE_HISTOGRAM:
      return "SPARSE_HISTOGRAM";
  }
  return "UNKNOWN";
}

HistogramBase* CreateAndRegisterHistogram(
    HistogramType type,
    const std::string& name,
    HistogramBase::Sample minimum,
    HistogramBase::Sample maximum,
    const BucketRanges* ranges,
    int32_t flags,
    const std::function<std::unique_ptr<HistogramBase>()>& heap_alloc,
    const std::function<void(HistogramBase*)>& fill) {
  std::unique_ptr<HistogramBase> tentative;
  uint32_t reference = 0;
  HistogramPersistence* persistence = GetHistogramPersistence();
  if (persistence) {
    tentative = persistence->AllocateHistogram(type, name, minimum, maximum,
                                               ranges, flags, &reference);
  }
  if (!tentative) {
    reference = 0;
    tentative = heap_alloc();
    tentative->SetFlags(flags & ~HistogramBase::kIsPersistent);
  }
  if (fill)
    fill(tentative.get());

  HistogramBase* const tentative_histogram = tentative.get();
  HistogramBase* const histogram =
      StatisticsRecorder::RegisterOrDeleteDuplicate(tentative.release());
  if (reference)
    persistence->FinalizeHistogram(reference, histogram == tentative_histogram);
  return histogram;
}

const char* GetPermanentName(const std::string& name) {
  // Neither the set nor its lock is ever destroyed: histograms keep the
  // pointers until the process ends.
  static SRWLOCK lock = SRWLOCK_INIT;
  static std::set<std::string>* const permanent_names =
      new std::set<std::string>();
  ::AcquireSRWLockExclusive(&lock);
  const char* result = permanent_names->insert(name).first->c_str();
  ::ReleaseSRWLockExclusive(&lock);
  return result;
}

HistogramBase::HistogramBase(const char* name) : histogram_name_(name) {}

HistogramBase::~HistogramBase() = default;

void HistogramBase::SetFlags(int32_t flags) {
  flags_.fetch_or(flags, std::memory_order_relaxed);
}

void HistogramBase::ClearFlags(int32_t flags) {
  flags_.fetch_and(~flags, std::memory_order_relaxed);
}

uint32_t HistogramBase::FindCorruption(const HistogramSamples& samples) const {
  return NO_INCONSISTENCIES;
}

bool HistogramBase::ValidateHistogramContents(bool crash_if_invalid,
                                              int identifier) const {
  return true;
}

void HistogramBase::AddTime(const TimeDelta& time) {
  Add(static_cast<Sample>(time.InMilliseconds()));
}

void HistogramBase::AddBoolean(bool value) {
  Add(value ? 1 : 0);
}

void HistogramBase::FindAndRunCallback(Sample sample) const {
  StatisticsRecorder::OnSampleCallback callback =
      StatisticsRecorder::FindCallback(histogram_name());
  if (!callback.is_null())
    callback.Run(sample);
}

void HistogramBase::WriteHTMLGraph(std::string* output) const {
  output->append("<PRE>");
  WriteAsciiImpl("<br>", output);
  output->append("</PRE>");
}

void HistogramBase::WriteAscii(std::string* output) const {
  WriteAsciiImpl("\n", output);
}

void HistogramBase::WriteAsciiImpl(const std::string& newline,
                                   std::string* output) const {}

void HistogramBase::WriteAsciiHeader(const HistogramSamples& snapshot,
                                     bool with_mean,
                                     const std::string& newline,
                                     std::string* output) const {
  const Count sample_count = snapshot.TotalCount();
  StringAppendF(output, "Histogram: %s recorded %d samples", histogram_name(),
                sample_count);
  if (with_mean && sample_count != 0) {
    const float mean = static_cast<float>(snapshot.sum()) / sample_count;
    StringAppendF(output, ", mean = %.1f", mean);
  }
  if (flags())
    StringAppendF(output, " (flags = 0x%x)", flags());
  output->append(newline);
}

// static
void HistogramBase::WriteAsciiBucketLabel(const std::string& label,
                                          size_t print_width,
                                          std::string* output) {
  output->append(label);
  for (size_t j = label.size(); j < print_width + 1; ++j)
    output->push_back(' ');
}

// static
void HistogramBase::WriteAsciiBucketGraph(double current_size,
                                          double max_size,
                                          std::string* output) {
  const int kLineLength = 72;
  // Counts are signed and arrive from pickles and shared segments, so the
  // ratio may be negative or beyond 1: the bar stays within the line.
  double x = 0;
  if (max_size > 0)
    x = kLineLength * (current_size / max_size) + 0.5;
  int x_count = 0;
  if (x >= kLineLength)
    x_count = kLineLength;
  else if (x > 0)
    x_count = static_cast<int>(x);
  int x_remainder = kLineLength - x_count;
  while (0 < x_count--)
    output->push_back('-');
  output->push_back('O');
  while (0 < x_remainder--)
    output->push_back(' ');
}

// static
void HistogramBase::WriteAsciiBucketValue(Count current,
                                          double scaled_sum,
                                          std::string* output) {
  StringAppendF(output, " (%d = %3.1f%%)", current, current / scaled_sum);
}

}  // namespace base
