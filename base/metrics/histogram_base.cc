#include "base/metrics/histogram_base.h"

#include <windows.h>

#include <set>

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

// static
void HistogramBase::WriteAsciiBucketGraph(double current_size,
                                          double max_size,
                                          std::string* output) {
  const int kLineLength = 72;
  int x_count = 0;
  if (max_size > 0)
    x_count = static_cast<int>(kLineLength * (current_size / max_size) + 0.5);
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
