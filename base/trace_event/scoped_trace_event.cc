#include "base/trace_event/scoped_trace_event.h"

#include <stdint.h>

#include "base/location.h"
#include "base/threading/platform_thread.h"
#include "base/time/time.h"
#include "base/trace_event/heap_profiler_allocation_context_tracker.h"
#include "base/trace_event/trace_log.h"

namespace base {
namespace trace_event {

namespace {

TraceEventArgs SourceArgs(const char* const* names,
                          const unsigned char* types,
                          const unsigned long long* values) {
  TraceEventArgs args;
  args.num_args = 2;
  args.arg_names = names;
  args.arg_types = types;
  args.arg_values = values;
  return args;
}

const char* OrEmpty(const char* text) {
  return text ? text : "";
}

}  // namespace

namespace internal {

const unsigned char* LookUpTaskFlowCategoryState() {
  return TraceLog::GetCategoryGroupEnabled("disabled-by-default-toplevel.flow");
}

}  // namespace internal

void ScopedTraceEvent::Begin(const TraceEventArgs& args) {
  handle_ = TraceLog::GetInstance()->AddTraceEvent(
      args.phase, category_state_, name_, nullptr, args.id, args.bind_id,
      static_cast<int>(PlatformThread::CurrentId()), TimeTicks::Now(),
      args.num_args, args.arg_names, args.arg_types, args.arg_values,
      args.convertable_values, args.flags);
  close_on_exit_ = args.phase == TRACE_EVENT_PHASE_COMPLETE;
}

void ScopedTraceEvent::End() {
  TraceLog::GetInstance()->UpdateTraceEventDuration(category_state_, name_,
                                                    handle_);
}

namespace {

constexpr const char* kSourceArgNames[2] = {"src_file", "src_func"};
constexpr unsigned char kSourceArgTypes[2] = {TRACE_VALUE_TYPE_STRING,
                                              TRACE_VALUE_TYPE_STRING};

}  // namespace

ScopedTaskRunTrace::ScopedTaskRunTrace(const unsigned char* category_state,
                                       const char* name,
                                       const Location& posted_from)
    : source_values_{reinterpret_cast<uintptr_t>(
                         OrEmpty(posted_from.file_name())),
                     reinterpret_cast<uintptr_t>(
                         OrEmpty(posted_from.function_name()))},
      event_(category_state,
             name,
             SourceArgs(kSourceArgNames, kSourceArgTypes, source_values_)) {
  const AllocationContextTracker::CaptureMode mode =
      AllocationContextTracker::capture_mode();
  if (mode == AllocationContextTracker::CaptureMode::DISABLED)
    return;
  tracker_ = AllocationContextTracker::GetInstanceForCurrentThread();
  if (!tracker_)
    return;
  tracker_->PushCurrentTaskContext(OrEmpty(posted_from.file_name()));
  if (mode == AllocationContextTracker::CaptureMode::MIXED_STACK) {
    tracker_->PushNativeStackFrame(posted_from.program_counter());
    pushed_native_frame_ = true;
  }
}

ScopedTaskRunTrace::~ScopedTaskRunTrace() {
  if (!tracker_)
    return;
  if (pushed_native_frame_)
    tracker_->PopNativeStackFrame();
  tracker_->PopCurrentTaskContext();
}

}  // namespace trace_event
}  // namespace base
