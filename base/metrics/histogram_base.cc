#include "base/metrics/histogram_base.h"

#include <windows.h>

#include <set>

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

void HistogramBase::AddTime(const TimeDelta& time) {
  Add(static_cast<Sample>(time.InMilliseconds()));
}

void HistogramBase::AddBoolean(bool value) {
  Add(value ? 1 : 0);
}

}  // namespace base
