#include "base/trace_event/heap_profiler_allocation_context_tracker.h"

#include <windows.h>

#include "base/test/test_thread.h"
#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

using CaptureMode = AllocationContextTracker::CaptureMode;

TEST(AllocationContextTrackerTest, OffByDefault) {
  EXPECT_EQ(CaptureMode::DISABLED, AllocationContextTracker::capture_mode());
}

TEST(AllocationContextTrackerTest, OneTrackerPerThread) {
  AllocationContextTracker* mine =
      AllocationContextTracker::GetInstanceForCurrentThread();
  ASSERT_NE(nullptr, mine);
  EXPECT_EQ(mine, AllocationContextTracker::GetInstanceForCurrentThread());

  AllocationContextTracker* other = nullptr;
  RunOnThreadAndJoin([&other] {
    other = AllocationContextTracker::GetInstanceForCurrentThread();
  });
  EXPECT_NE(nullptr, other);
  EXPECT_NE(mine, other);
}

TEST(AllocationContextTrackerTest, StackDepthIsBounded) {
  AllocationContextTracker* tracker =
      AllocationContextTracker::GetInstanceForCurrentThread();
  static const char kFirst[] = "first";
  tracker->PushNativeStackFrame(kFirst);
  for (size_t i = 1; i < AllocationContextTracker::kMaxStackDepth; ++i)
    tracker->PushPseudoStackFrame("cat", "event");
  ASSERT_EQ(128u, tracker->tracked_stack().size());
  tracker->PushNativeStackFrame(nullptr);  // The 129th is dropped.
  EXPECT_EQ(128u, tracker->tracked_stack().size());
  EXPECT_EQ(StackFrame::Type::TRACE_EVENT_NAME,
            tracker->tracked_stack().back().type);

  for (size_t i = 1; i < AllocationContextTracker::kMaxStackDepth; ++i)
    tracker->PopPseudoStackFrame();
  ASSERT_EQ(1u, tracker->tracked_stack().size());
  EXPECT_EQ(StackFrame::Type::PROGRAM_COUNTER,
            tracker->tracked_stack()[0].type);
  EXPECT_EQ(kFirst, tracker->tracked_stack()[0].value);
  tracker->PopNativeStackFrame();
  tracker->PopNativeStackFrame();  // Popping an empty stack does nothing.
  EXPECT_TRUE(tracker->tracked_stack().empty());
}

TEST(AllocationContextTrackerTest, TaskContextDepthIsBounded) {
  AllocationContextTracker* tracker =
      AllocationContextTracker::GetInstanceForCurrentThread();
  for (size_t i = 0; i < AllocationContextTracker::kMaxTaskDepth; ++i)
    tracker->PushCurrentTaskContext("file.cc");
  tracker->PushCurrentTaskContext("seventeenth.cc");
  ASSERT_EQ(16u, tracker->task_contexts().size());
  EXPECT_STREQ("file.cc", tracker->task_contexts().back());
  for (size_t i = 0; i <= AllocationContextTracker::kMaxTaskDepth; ++i)
    tracker->PopCurrentTaskContext();
  EXPECT_TRUE(tracker->task_contexts().empty());
}

TEST(AllocationContextTrackerTest, ThreadNameOnlyWhileCapturing) {
  AllocationContextTracker* tracker =
      AllocationContextTracker::GetInstanceForCurrentThread();
  // The tracker outlives the test on this thread: start without a name, so
  // that a repeated run does not see the one the last run gave.
  AllocationContextTracker::SetCaptureMode(CaptureMode::PSEUDO_STACK);
  AllocationContextTracker::SetCurrentThreadName(nullptr);
  AllocationContextTracker::SetCaptureMode(CaptureMode::DISABLED);
  ASSERT_EQ(nullptr, tracker->thread_name());

  AllocationContextTracker::SetCurrentThreadName("ignored");
  EXPECT_EQ(nullptr, tracker->thread_name());

  AllocationContextTracker::SetCaptureMode(CaptureMode::PSEUDO_STACK);
  AllocationContextTracker::SetCurrentThreadName("named");
  AllocationContextTracker::SetCaptureMode(CaptureMode::DISABLED);
  EXPECT_STREQ("named", tracker->thread_name());
}

TEST(AllocationContextTrackerTest, NoTrackerWhileBeingBuilt) {
  RunOnThreadAndJoin([] {
    AllocationContextTracker::SetCurrentThreadBeingBuiltForTesting(true);
    EXPECT_EQ(nullptr, AllocationContextTracker::GetInstanceForCurrentThread());
    // Naming the thread meanwhile builds no second tracker.
    AllocationContextTracker::SetCaptureMode(CaptureMode::PSEUDO_STACK);
    AllocationContextTracker::SetCurrentThreadName("building");
    AllocationContextTracker::SetCaptureMode(CaptureMode::DISABLED);
    EXPECT_EQ(nullptr, AllocationContextTracker::GetInstanceForCurrentThread());
    AllocationContextTracker::SetCurrentThreadBeingBuiltForTesting(false);
    ASSERT_NE(nullptr, AllocationContextTracker::GetInstanceForCurrentThread());
  });
}

TEST(AllocationContextTrackerTest, TrackerEndsWithItsThread) {
  const size_t before =
      AllocationContextTracker::GetLiveTrackerCountForTesting();
  size_t during = 0;
  RunOnThreadAndJoin([&during] {
    AllocationContextTracker::GetInstanceForCurrentThread();
    during = AllocationContextTracker::GetLiveTrackerCountForTesting();
  });
  EXPECT_EQ(before + 1, during);
  EXPECT_EQ(before, AllocationContextTracker::GetLiveTrackerCountForTesting());
}

TEST(AllocationContextTrackerTest, IgnoreScopeOnlyWhileCapturing) {
  RunOnThreadAndJoin([] {
    const size_t before =
        AllocationContextTracker::GetLiveTrackerCountForTesting();
    {
      ScopedHeapProfilerIgnore ignore;  // Capture off: no tracker is made.
    }
    EXPECT_EQ(before,
              AllocationContextTracker::GetLiveTrackerCountForTesting());

    AllocationContextTracker* tracker =
        AllocationContextTracker::GetInstanceForCurrentThread();
    AllocationContextTracker::SetCaptureMode(CaptureMode::PSEUDO_STACK);
    {
      ScopedHeapProfilerIgnore outer;
      ScopedHeapProfilerIgnore inner;
      EXPECT_EQ(2u, tracker->ignore_scope_depth());
    }
    EXPECT_EQ(0u, tracker->ignore_scope_depth());

    // A scope opened before capture began does not take the depth below 0.
    AllocationContextTracker::SetCaptureMode(CaptureMode::DISABLED);
    {
      ScopedHeapProfilerIgnore opened_while_off;
      EXPECT_EQ(0u, tracker->ignore_scope_depth());
      AllocationContextTracker::SetCaptureMode(CaptureMode::PSEUDO_STACK);
    }
    EXPECT_EQ(0u, tracker->ignore_scope_depth());
    AllocationContextTracker::SetCaptureMode(CaptureMode::DISABLED);
  });
}

}  // namespace
}  // namespace trace_event
}  // namespace base
