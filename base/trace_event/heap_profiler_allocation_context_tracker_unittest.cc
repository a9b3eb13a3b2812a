#include "base/trace_event/heap_profiler_allocation_context_tracker.h"

#include "base/test/test_thread.h"
#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

using Tracker = AllocationContextTracker;
using CaptureMode = Tracker::CaptureMode;

// Each case runs on a thread of its own: its tracker starts empty and is
// observed alone, whatever other threads of the process do.
TEST(AllocationContextTrackerTest, DepthLimits) {
  RunOnThreadAndJoin([] {
    Tracker* tracker = Tracker::GetInstanceForCurrentThread();
    for (size_t i = 0; i < 128; ++i)
      tracker->PushNativeStackFrame(&i);
    tracker->PushPseudoStackFrame("cat", "event");  // The 129th is ignored.
    ASSERT_EQ(128u, tracker->tracked_stack().size());
    EXPECT_EQ(StackFrame::Type::PROGRAM_COUNTER,
              tracker->tracked_stack().back().type);
    for (size_t i = 0; i <= 128; ++i)  // A pop too many does nothing.
      tracker->PopPseudoStackFrame();
    EXPECT_TRUE(tracker->tracked_stack().empty());

    for (size_t i = 0; i < 16; ++i)
      tracker->PushCurrentTaskContext("file.cc");
    tracker->PushCurrentTaskContext("seventeenth.cc");  // Ignored.
    ASSERT_EQ(16u, tracker->task_contexts().size());
    EXPECT_STREQ("file.cc", tracker->task_contexts().back());
    for (size_t i = 0; i <= 16; ++i)
      tracker->PopCurrentTaskContext();
    EXPECT_TRUE(tracker->task_contexts().empty());
  });
}

TEST(AllocationContextTrackerTest, OneTrackerPerThreadEndingWithIt) {
  Tracker* mine = Tracker::GetInstanceForCurrentThread();
  bool destroyed = false;
  RunOnThreadAndJoin([mine, &destroyed] {
    Tracker* other = Tracker::GetInstanceForCurrentThread();
    EXPECT_NE(mine, other);
    EXPECT_EQ(other, Tracker::GetInstanceForCurrentThread());
    other->SetDestroyedFlagForTesting(&destroyed);
  });
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(mine, Tracker::GetInstanceForCurrentThread());
}

TEST(AllocationContextTrackerTest, NoTrackerWhileBeingBuilt) {
  RunOnThreadAndJoin([] {
    Tracker::SetCurrentThreadBeingBuiltForTesting(true);
    // Naming the thread meanwhile builds no second tracker.
    Tracker::SetCaptureMode(CaptureMode::PSEUDO_STACK);
    Tracker::SetCurrentThreadName("building");
    Tracker::SetCaptureMode(CaptureMode::DISABLED);
    EXPECT_EQ(nullptr, Tracker::GetInstanceForCurrentThread());
    Tracker::SetCurrentThreadBeingBuiltForTesting(false);
    EXPECT_NE(nullptr, Tracker::GetInstanceForCurrentThread());
  });
}

TEST(AllocationContextTrackerTest, NameAndIgnoreScopeOnlyWhileCapturing) {
  RunOnThreadAndJoin([] {
    // Capture off: nothing is stored and no tracker is made.
    Tracker::SetCurrentThreadName("ignored");
    { ScopedHeapProfilerIgnore ignore; }
    EXPECT_EQ(nullptr, Tracker::PeekInstanceForCurrentThreadForTesting());

    Tracker::SetCaptureMode(CaptureMode::PSEUDO_STACK);
    Tracker::SetCurrentThreadName("named");
    Tracker* tracker = Tracker::GetInstanceForCurrentThread();
    EXPECT_STREQ("named", tracker->thread_name());
    {
      ScopedHeapProfilerIgnore outer;
      ScopedHeapProfilerIgnore inner;
      EXPECT_EQ(2u, tracker->ignore_scope_depth());
    }
    EXPECT_EQ(0u, tracker->ignore_scope_depth());

    // A scope opened before capture began does not take the depth below 0.
    Tracker::SetCaptureMode(CaptureMode::DISABLED);
    {
      ScopedHeapProfilerIgnore opened_while_off;
      Tracker::SetCaptureMode(CaptureMode::PSEUDO_STACK);
    }
    EXPECT_EQ(0u, tracker->ignore_scope_depth());
    Tracker::SetCaptureMode(CaptureMode::DISABLED);
  });
}

}  // namespace
}  // namespace trace_event
}  // namespace base
