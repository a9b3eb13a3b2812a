#ifndef BASE_TRACE_EVENT_HEAP_PROFILER_ALLOCATION_CONTEXT_TRACKER_H_
#define BASE_TRACE_EVENT_HEAP_PROFILER_ALLOCATION_CONTEXT_TRACKER_H_

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <vector>

#include "base/threading/thread_local_storage.h"

namespace base {
namespace trace_event {

// One frame of the tracked allocation context.
struct StackFrame {
  enum class Type : uint32_t {
    TRACE_EVENT_NAME = 0,
    PROGRAM_COUNTER = 2,
  };
  Type type;
  const void* value;
};

// The per-thread context in which heap allocations happen: a stack of
// pseudo (trace event) and native (program counter) frames, the thread's
// name and the source files of the tasks being run. Nothing is tracked while
// the capture mode is DISABLED, which is the mode unless heap profiling is
// switched on.
class AllocationContextTracker {
 public:
  enum class CaptureMode : int32_t {
    DISABLED = 0,
    PSEUDO_STACK = 1,
    MIXED_STACK = 2,
  };

  static constexpr size_t kMaxStackDepth = 128;
  static constexpr size_t kMaxTaskDepth = 16;

  // Read without a lock before every task.
  static CaptureMode capture_mode() {
    return static_cast<CaptureMode>(
        g_capture_mode_.load(std::memory_order_relaxed));
  }
  static void SetCaptureMode(CaptureMode mode);

  // The calling thread's tracker, made on first use and freed when the
  // thread ends; null while that very tracker is being made (an allocation
  // made by its own construction).
  static AllocationContextTracker* GetInstanceForCurrentThread();

  // The calling thread's tracker if it has one; never makes one, and null
  // while it is being built.
  static AllocationContextTracker* PeekInstanceForCurrentThreadForTesting();
  // |*destroyed| becomes true when this tracker is destroyed.
  void SetDestroyedFlagForTesting(bool* destroyed) {
    destroyed_flag_for_testing_ = destroyed;
  }
  // Marks the calling thread, which has no tracker, as building one (or
  // clears the mark), as its own construction would.
  static void SetCurrentThreadBeingBuiltForTesting(bool being_built);

  // Stores |name|, which must live for the rest of the process, as the
  // calling thread's name while capturing; else does nothing.
  static void SetCurrentThreadName(const char* name);

  void PushPseudoStackFrame(const char* category, const char* event_name);
  void PopPseudoStackFrame();
  void PushNativeStackFrame(const void* program_counter);
  void PopNativeStackFrame();
  void PushCurrentTaskContext(const char* context);
  void PopCurrentTaskContext();

  const std::vector<StackFrame>& tracked_stack() const {
    return tracked_stack_;
  }
  const std::vector<const char*>& task_contexts() const {
    return task_contexts_;
  }
  const char* thread_name() const { return thread_name_; }
  uint32_t ignore_scope_depth() const { return ignore_scope_depth_; }

  AllocationContextTracker(const AllocationContextTracker&) = delete;
  AllocationContextTracker& operator=(const AllocationContextTracker&) = delete;

 private:
  AllocationContextTracker();
  ~AllocationContextTracker();

  // The slot's destructor, run when a thread ends.
  static void DestructTracker(void* value);
  static ThreadLocalStorage::Slot& TrackerSlot();

  static std::atomic<int32_t> g_capture_mode_;

  std::vector<StackFrame> tracked_stack_;
  const char* thread_name_ = nullptr;
  std::vector<const char*> task_contexts_;
  uint32_t ignore_scope_depth_ = 0;
  bool* destroyed_flag_for_testing_ = nullptr;

  friend class ScopedHeapProfilerIgnore;
};

// Allocations made inside this scope on the calling thread are not charged
// to the traced code (the tracing machinery's own bookkeeping). Costs one
// load while the capture mode is DISABLED.
class ScopedHeapProfilerIgnore {
 public:
  ScopedHeapProfilerIgnore();
  ~ScopedHeapProfilerIgnore();

  ScopedHeapProfilerIgnore(const ScopedHeapProfilerIgnore&) = delete;
  ScopedHeapProfilerIgnore& operator=(const ScopedHeapProfilerIgnore&) = delete;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_HEAP_PROFILER_ALLOCATION_CONTEXT_TRACKER_H_
