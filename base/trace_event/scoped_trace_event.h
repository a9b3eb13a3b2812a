#ifndef BASE_TRACE_EVENT_SCOPED_TRACE_EVENT_H_
#define BASE_TRACE_EVENT_SCOPED_TRACE_EVENT_H_

#include <memory>

#include "base/macros.h"
#include "base/trace_event/trace_event_impl.h"

namespace base {

class Location;

namespace trace_event {

class AllocationContextTracker;

namespace internal {
const unsigned char* LookUpTaskFlowCategoryState();
}  // namespace internal

// The category that links where a task was posted to where it runs. Inline,
// so that every task posted and run pays a byte test rather than a call.
inline const unsigned char* TaskFlowCategoryState() {
  static const unsigned char* const state =
      internal::LookUpTaskFlowCategoryState();
  return state;
}

// Whether a category state byte (TraceLog::GetCategoryGroupEnabled, cached
// by the caller) has any consumer now. The byte holds nothing but consumer
// bits, so any of them set means the category is on.
inline bool IsCategoryStateEnabled(const unsigned char* category_state) {
  return *category_state != 0;
}

// What a scoped event records besides its category and name. The arrays are
// read in the constructor only.
struct TraceEventArgs {
  char phase = TRACE_EVENT_PHASE_COMPLETE;
  unsigned long long id = 0;
  unsigned long long bind_id = 0;
  unsigned int flags = TRACE_EVENT_FLAG_NONE;
  int num_args = 0;
  const char* const* arg_names = nullptr;
  const unsigned char* arg_types = nullptr;
  const unsigned long long* arg_values = nullptr;
  std::unique_ptr<ConvertableToTraceFormat>* convertable_values = nullptr;
};

// One trace event on the calling thread: a complete event spans the scope,
// any other phase is a point at its start. Nothing is recorded, and the
// arguments cost nothing, while the category is off.
class ScopedTraceEvent {
 public:
  // Inline so that the disabled path is the byte test alone.
  ScopedTraceEvent(const unsigned char* category_state,
                   const char* name,
                   const TraceEventArgs& args = TraceEventArgs())
      : category_state_(category_state), name_(name) {
    if (IsCategoryStateEnabled(category_state))
      Begin(args);
  }
  ~ScopedTraceEvent() {
    if (close_on_exit_)
      End();
  }

 private:
  void Begin(const TraceEventArgs& args);
  void End();

  const unsigned char* const category_state_;
  const char* const name_;
  bool close_on_exit_ = false;
  TraceEventHandle handle_ = {};

  DISALLOW_COPY_AND_ASSIGN(ScopedTraceEvent);
};

// Wraps the run of one posted task, wherever tasks are run: a complete
// event |name| in |category_state| with the "src_file" and "src_func" of
// |posted_from|, and, while the heap profiler captures, the task's posting
// file as the thread's task context (and the posting frame, in mixed-stack
// mode), so that the task's allocations are charged to where it came from.
class ScopedTaskRunTrace {
 public:
  ScopedTaskRunTrace(const unsigned char* category_state,
                     const char* name,
                     const Location& posted_from);
  ~ScopedTaskRunTrace();

 private:
  // The recorded arguments: pointers to the Location's texts, which are
  // literals and so outlive any trace.
  const unsigned long long source_values_[2];
  ScopedTraceEvent event_;
  AllocationContextTracker* tracker_ = nullptr;
  bool pushed_native_frame_ = false;

  DISALLOW_COPY_AND_ASSIGN(ScopedTaskRunTrace);
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_SCOPED_TRACE_EVENT_H_
