#include "base/trace_event/trace_event_filter.h"

#include <utility>

#include "base/trace_event/heap_profiler_allocation_context_tracker.h"
#include "base/trace_event/trace_event_impl.h"

namespace base {
namespace trace_event {

namespace {

bool IsPseudoStackCaptureOn() {
  const AllocationContextTracker::CaptureMode mode =
      AllocationContextTracker::capture_mode();
  return mode == AllocationContextTracker::CaptureMode::PSEUDO_STACK ||
         mode == AllocationContextTracker::CaptureMode::MIXED_STACK;
}

}  // namespace

// static
const char EventNameFilter::kName[] = "event_whitelist_predicate";

EventNameFilter::EventNameFilter(
    std::unique_ptr<EventNamesWhitelist> event_names_whitelist)
    : event_names_whitelist_(std::move(event_names_whitelist)) {}

EventNameFilter::~EventNameFilter() = default;

bool EventNameFilter::FilterTraceEvent(const TraceEvent& trace_event) const {
  // Only reads the set, so concurrent recording threads need no lock.
  const char* name = trace_event.name();
  if (!name || !event_names_whitelist_)
    return false;
  return event_names_whitelist_->count(name) != 0;
}

// static
const char HeapProfilerEventFilter::kName[] = "heap_profiler_predicate";

HeapProfilerEventFilter::HeapProfilerEventFilter() = default;

HeapProfilerEventFilter::~HeapProfilerEventFilter() = default;

bool HeapProfilerEventFilter::FilterTraceEvent(
    const TraceEvent& trace_event) const {
  if (!IsPseudoStackCaptureOn())
    return true;

  // Copied names live only as long as the event's own storage, too short
  // for a frame that outlives the event.
  if (trace_event.flags() & TRACE_EVENT_FLAG_COPY)
    return true;

  const char phase = trace_event.phase();
  if (phase != TRACE_EVENT_PHASE_BEGIN && phase != TRACE_EVENT_PHASE_COMPLETE &&
      phase != TRACE_EVENT_PHASE_END) {
    return true;
  }

  // Null while the thread's tracker is being built.
  AllocationContextTracker* tracker =
      AllocationContextTracker::GetInstanceForCurrentThread();
  if (!tracker)
    return true;

  if (phase == TRACE_EVENT_PHASE_END) {
    tracker->PopPseudoStackFrame();
  } else {
    // A complete event's frame is popped by EndEvent when its duration is
    // closed.
    tracker->PushPseudoStackFrame(trace_event.category_group_name(),
                                  trace_event.name());
  }
  return true;
}

void HeapProfilerEventFilter::EndEvent(const char* category_name,
                                       const char* event_name) const {
  if (!IsPseudoStackCaptureOn())
    return;
  AllocationContextTracker* tracker =
      AllocationContextTracker::GetInstanceForCurrentThread();
  if (!tracker || tracker->tracked_stack().empty())
    return;
  // Only the frame this event pushed is taken off. A complete event that
  // pushed none (copied strings, or seen while the tracker was being built)
  // must not pop the frame of the event around it.
  //
  // The match is by name pointer alone, so an event nested in another of
  // the same name that pushed nothing (copied strings, or a stack already
  // at its depth limit) still pops the outer one's frame. That is accepted:
  // EndEvent is given no handle, and telling the two apart would need a
  // per-thread record of which events pushed, in a filter that is shared
  // by all threads without a lock. The cost is the pseudo stack losing that
  // frame early, so allocations are charged to the context around it; no
  // trace event is lost, and a stack at its limit is already incomplete.
  const StackFrame& top = tracker->tracked_stack().back();
  if (top.type == StackFrame::Type::TRACE_EVENT_NAME &&
      top.value == event_name) {
    tracker->PopPseudoStackFrame();
  }
}

}  // namespace trace_event
}  // namespace base
