#include "base/trace_event/scoped_trace_event.h"

#include "base/location.h"
#include "base/trace_event/heap_profiler_allocation_context_tracker.h"
#include "base/trace_event/trace_log.h"
#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

// Every place that runs tasks relies on this: while the heap profiler
// captures, a task's allocations are charged to its posting file (and, in
// mixed-stack mode, its posting frame), and nothing is left behind after.
TEST(ScopedTaskRunTraceTest, TaskContextLastsForTheScope) {
  static const struct {
    AllocationContextTracker::CaptureMode mode;
    size_t frames_inside;
  } kCases[] = {
      {AllocationContextTracker::CaptureMode::DISABLED, 0},
      {AllocationContextTracker::CaptureMode::PSEUDO_STACK, 0},
      {AllocationContextTracker::CaptureMode::MIXED_STACK, 1},
  };
  static const char kFile[] = "poster.cc";
  static const int kProgramCounter = 0;
  const Location posted_from("PostIt", kFile, 7, &kProgramCounter);
  const unsigned char* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  AllocationContextTracker* tracker =
      AllocationContextTracker::GetInstanceForCurrentThread();
  ASSERT_TRUE(tracker);
  for (const auto& c : kCases) {
    AllocationContextTracker::SetCaptureMode(c.mode);
    const bool capturing =
        c.mode != AllocationContextTracker::CaptureMode::DISABLED;
    {
      ScopedTaskRunTrace trace(category, "Test::RunTask", posted_from);
      ASSERT_EQ(capturing ? 1u : 0u, tracker->task_contexts().size());
      if (capturing) {
        EXPECT_EQ(kFile, tracker->task_contexts().back());
      }
      ASSERT_EQ(c.frames_inside, tracker->tracked_stack().size());
      if (c.frames_inside) {
        EXPECT_EQ(&kProgramCounter, tracker->tracked_stack().back().value);
      }
    }
    EXPECT_TRUE(tracker->task_contexts().empty());
    EXPECT_TRUE(tracker->tracked_stack().empty());
  }
  AllocationContextTracker::SetCaptureMode(
      AllocationContextTracker::CaptureMode::DISABLED);
}

}  // namespace
}  // namespace trace_event
}  // namespace base
