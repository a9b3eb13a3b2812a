#include "base/trace_event/heap_profiler_allocation_context_tracker.h"

#include "base/check.h"

namespace base {
namespace trace_event {

namespace {

// Marks the slot of a thread whose tracker is being constructed, so that an
// allocation made by the construction itself gets no tracker instead of
// recursing.
AllocationContextTracker* const kInitializingSentinel =
    reinterpret_cast<AllocationContextTracker*>(~static_cast<uintptr_t>(0));

}  // namespace

// static
void AllocationContextTracker::DestructTracker(void* value) {
  // A thread that ends while its tracker is being built has nothing to free.
  if (value == kInitializingSentinel)
    return;
  delete static_cast<AllocationContextTracker*>(value);
}

// static
ThreadLocalStorage::Slot& AllocationContextTracker::TrackerSlot() {
  // Leaky: threads may still end, and run the slot's destructor, while the
  // process shuts down.
  static ThreadLocalStorage::Slot* const slot =
      new ThreadLocalStorage::Slot(&AllocationContextTracker::DestructTracker);
  return *slot;
}

std::atomic<int32_t> AllocationContextTracker::g_capture_mode_{0};

// static
void AllocationContextTracker::SetCaptureMode(CaptureMode mode) {
  g_capture_mode_.store(static_cast<int32_t>(mode), std::memory_order_relaxed);
}

// static
AllocationContextTracker*
AllocationContextTracker::GetInstanceForCurrentThread() {
  ThreadLocalStorage::Slot& slot = TrackerSlot();
  AllocationContextTracker* tracker =
      static_cast<AllocationContextTracker*>(slot.Get());
  if (tracker == kInitializingSentinel)
    return nullptr;
  if (tracker)
    return tracker;
  slot.Set(kInitializingSentinel);
  // Freed by the slot's destructor when the thread ends.
  tracker = new AllocationContextTracker();
  slot.Set(tracker);
  return tracker;
}

// static
AllocationContextTracker*
AllocationContextTracker::PeekInstanceForCurrentThreadForTesting() {
  void* value = TrackerSlot().Get();
  return value == kInitializingSentinel
             ? nullptr
             : static_cast<AllocationContextTracker*>(value);
}

// static
void AllocationContextTracker::SetCurrentThreadBeingBuiltForTesting(
    bool being_built) {
  ThreadLocalStorage::Slot& slot = TrackerSlot();
  // Only for a thread without a tracker of its own, which would be lost.
  DCHECK(!slot.Get() || slot.Get() == kInitializingSentinel);
  slot.Set(being_built ? kInitializingSentinel : nullptr);
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

AllocationContextTracker::~AllocationContextTracker() {
  if (destroyed_flag_for_testing_)
    *destroyed_flag_for_testing_ = true;
}

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
