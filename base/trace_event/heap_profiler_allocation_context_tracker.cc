#include "base/trace_event/heap_profiler_allocation_context_tracker.h"

namespace base {
namespace trace_event {

namespace {

// Marks the slot of a thread whose tracker is being constructed, so that an
// allocation made by the construction itself gets no tracker instead of
// recursing.
AllocationContextTracker* const kInitializingSentinel =
    reinterpret_cast<AllocationContextTracker*>(~static_cast<uintptr_t>(0));

thread_local AllocationContextTracker* t_tracker = nullptr;

}  // namespace

std::atomic<int32_t> AllocationContextTracker::g_capture_mode_{0};

// static
void AllocationContextTracker::SetCaptureMode(CaptureMode mode) {
  g_capture_mode_.store(static_cast<int32_t>(mode), std::memory_order_relaxed);
}

// static
AllocationContextTracker*
AllocationContextTracker::GetInstanceForCurrentThread() {
  AllocationContextTracker* tracker = t_tracker;
  if (tracker == kInitializingSentinel)
    return nullptr;
  if (tracker)
    return tracker;
  t_tracker = kInitializingSentinel;
  // Lives as long as the thread's slot; threads that tracked allocations
  // keep their tracker until the process ends.
  tracker = new AllocationContextTracker();
  t_tracker = tracker;
  return tracker;
}

// static
void AllocationContextTracker::SetCurrentThreadName(const char* name) {
  if (capture_mode() == CaptureMode::DISABLED)
    return;
  if (AllocationContextTracker* tracker = GetInstanceForCurrentThread())
    tracker->thread_name_ = name;
}

AllocationContextTracker::AllocationContextTracker() {
  tracked_stack_.reserve(kMaxStackDepth);
  task_contexts_.reserve(kMaxTaskDepth);
}

AllocationContextTracker::~AllocationContextTracker() = default;

void AllocationContextTracker::PushPseudoStackFrame(const char* category,
                                                    const char* event_name) {
  // Unbalanced pushes beyond the limit are dropped rather than growing the
  // stack without bound.
  if (tracked_stack_.size() < kMaxStackDepth)
    tracked_stack_.push_back({StackFrame::Type::TRACE_EVENT_NAME, event_name});
}

void AllocationContextTracker::PopPseudoStackFrame() {
  if (!tracked_stack_.empty())
    tracked_stack_.pop_back();
}

void AllocationContextTracker::PushNativeStackFrame(
    const void* program_counter) {
  if (tracked_stack_.size() < kMaxStackDepth)
    tracked_stack_.push_back(
        {StackFrame::Type::PROGRAM_COUNTER, program_counter});
}

void AllocationContextTracker::PopNativeStackFrame() {
  if (!tracked_stack_.empty())
    tracked_stack_.pop_back();
}

void AllocationContextTracker::PushCurrentTaskContext(const char* context) {
  if (task_contexts_.size() < kMaxTaskDepth)
    task_contexts_.push_back(context);
}

void AllocationContextTracker::PopCurrentTaskContext() {
  if (!task_contexts_.empty())
    task_contexts_.pop_back();
}

ScopedHeapProfilerIgnore::ScopedHeapProfilerIgnore() {
  if (AllocationContextTracker::capture_mode() ==
      AllocationContextTracker::CaptureMode::DISABLED) {
    return;
  }
  if (AllocationContextTracker* tracker =
          AllocationContextTracker::GetInstanceForCurrentThread()) {
    tracker->ignore_scope_depth_++;
  }
}

ScopedHeapProfilerIgnore::~ScopedHeapProfilerIgnore() {
  if (AllocationContextTracker::capture_mode() ==
      AllocationContextTracker::CaptureMode::DISABLED) {
    return;
  }
  AllocationContextTracker* tracker =
      AllocationContextTracker::GetInstanceForCurrentThread();
  if (tracker && tracker->ignore_scope_depth_ > 0)
    tracker->ignore_scope_depth_--;
}

}  // namespace trace_event
}  // namespace base
