#include "base/trace_event/trace_event_filter.h"

#include <memory>
#include <string>
#include <utility>

#include "base/test/test_thread.h"
#include "base/trace_event/category_registry.h"
#include "base/trace_event/heap_profiler_allocation_context_tracker.h"
#include "base/trace_event/trace_event_impl.h"
#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

using CaptureMode = AllocationContextTracker::CaptureMode;

// The category every test event belongs to.
const unsigned char* TestCategoryState() {
  static TraceCategory* const category = [] {
    TraceCategory* entry = new TraceCategory();
    entry->set_state(0);
    entry->set_enabled_filters(0);
    entry->set_name("filter_test");
    return entry;
  }();
  return category->state_ptr();
}

std::unique_ptr<TraceEvent> MakeEvent(char phase,
                                      const char* name,
                                      unsigned int flags) {
  auto event = std::make_unique<TraceEvent>();
  event->Initialize(1, TimeTicks(), ThreadTicks(), phase, TestCategoryState(),
                    name, nullptr, 0, 0, 0, nullptr, nullptr, nullptr, nullptr,
                    flags);
  return event;
}

// Sets the heap profiler's capture mode for one test; nothing else in the
// process ever turns it on.
class ScopedCaptureMode {
 public:
  explicit ScopedCaptureMode(CaptureMode mode) {
    AllocationContextTracker::SetCaptureMode(mode);
  }
  ~ScopedCaptureMode() {
    AllocationContextTracker::SetCaptureMode(CaptureMode::DISABLED);
  }
};

TEST(EventNameFilterTest, LetsThroughWhitelistedNamesOnly) {
  auto whitelist = std::make_unique<EventNameFilter::EventNamesWhitelist>();
  whitelist->insert("MessageLoop::RunTask");
  std::unique_ptr<TraceEventFilter> filter =
      std::make_unique<EventNameFilter>(std::move(whitelist));
  // Compared by text, not by pointer; exact and case-sensitive.
  std::string copied_name = "MessageLoop::RunTask";
  EXPECT_TRUE(filter->FilterTraceEvent(*MakeEvent(
      TRACE_EVENT_PHASE_INSTANT, copied_name.c_str(), TRACE_EVENT_FLAG_COPY)));
  EXPECT_FALSE(filter->FilterTraceEvent(
      *MakeEvent(TRACE_EVENT_PHASE_BEGIN, "messageloop::runtask", 0)));
  EXPECT_FALSE(filter->FilterTraceEvent(
      *MakeEvent(TRACE_EVENT_PHASE_BEGIN, "MessageLoop::RunTask2", 0)));
}

// Each heap-profiler case runs on a thread of its own, so that its tracker
// starts empty and goes away with it.
TEST(HeapProfilerEventFilterTest, BeginEndPairAndCopiedEvents) {
  ScopedCaptureMode capture(CaptureMode::PSEUDO_STACK);
  RunOnThreadAndJoin([] {
    HeapProfilerEventFilter filter;
    AllocationContextTracker* tracker =
        AllocationContextTracker::GetInstanceForCurrentThread();
    tracker->PushPseudoStackFrame("outer", "outer");

    static const char kName[] = "inner";
    EXPECT_TRUE(
        filter.FilterTraceEvent(*MakeEvent(TRACE_EVENT_PHASE_BEGIN, kName, 0)));
    ASSERT_EQ(2u, tracker->tracked_stack().size());
    EXPECT_EQ(kName, tracker->tracked_stack().back().value);
    EXPECT_TRUE(
        filter.FilterTraceEvent(*MakeEvent(TRACE_EVENT_PHASE_END, kName, 0)));
    ASSERT_EQ(1u, tracker->tracked_stack().size());
    EXPECT_STREQ("outer", static_cast<const char*>(
                              tracker->tracked_stack().back().value));

    // Copied strings pass without touching the stack.
    EXPECT_TRUE(filter.FilterTraceEvent(
        *MakeEvent(TRACE_EVENT_PHASE_BEGIN, "copied", TRACE_EVENT_FLAG_COPY)));
    EXPECT_TRUE(filter.FilterTraceEvent(
        *MakeEvent(TRACE_EVENT_PHASE_END, "copied", TRACE_EVENT_FLAG_COPY)));
    EXPECT_EQ(1u, tracker->tracked_stack().size());
  });
}

TEST(HeapProfilerEventFilterTest, CompleteEventIsPoppedByEndEvent) {
  ScopedCaptureMode capture(CaptureMode::MIXED_STACK);
  RunOnThreadAndJoin([] {
    HeapProfilerEventFilter filter;
    AllocationContextTracker* tracker =
        AllocationContextTracker::GetInstanceForCurrentThread();
    EXPECT_TRUE(filter.FilterTraceEvent(
        *MakeEvent(TRACE_EVENT_PHASE_COMPLETE, "complete", 0)));
    EXPECT_TRUE(filter.FilterTraceEvent(
        *MakeEvent(TRACE_EVENT_PHASE_INSTANT, "instant", 0)));
    EXPECT_EQ(1u, tracker->tracked_stack().size());
    filter.EndEvent("filter_test", "complete");
    EXPECT_TRUE(tracker->tracked_stack().empty());
  });
}

TEST(HeapProfilerEventFilterTest, NothingTrackedWhileCaptureIsOff) {
  RunOnThreadAndJoin([] {
    HeapProfilerEventFilter filter;
    const size_t trackers =
        AllocationContextTracker::GetLiveTrackerCountForTesting();
    EXPECT_TRUE(
        filter.FilterTraceEvent(*MakeEvent(TRACE_EVENT_PHASE_BEGIN, "b", 0)));
    filter.EndEvent("filter_test", "b");
    EXPECT_EQ(trackers,
              AllocationContextTracker::GetLiveTrackerCountForTesting());

    // A tracker made meanwhile is left alone as well.
    AllocationContextTracker* tracker =
        AllocationContextTracker::GetInstanceForCurrentThread();
    tracker->PushPseudoStackFrame("outer", "outer");
    filter.EndEvent("filter_test", "outer");
    EXPECT_EQ(1u, tracker->tracked_stack().size());
  });
}

TEST(HeapProfilerEventFilterTest, ThreadWhoseTrackerIsBeingBuilt) {
  ScopedCaptureMode capture(CaptureMode::PSEUDO_STACK);
  RunOnThreadAndJoin([] {
    HeapProfilerEventFilter filter;
    AllocationContextTracker::SetCurrentThreadBeingBuiltForTesting(true);
    EXPECT_TRUE(
        filter.FilterTraceEvent(*MakeEvent(TRACE_EVENT_PHASE_BEGIN, "b", 0)));
    filter.EndEvent("filter_test", "b");
    AllocationContextTracker::SetCurrentThreadBeingBuiltForTesting(false);
    // Nothing was pushed on the tracker built afterwards.
    EXPECT_TRUE(AllocationContextTracker::GetInstanceForCurrentThread()
                    ->tracked_stack()
                    .empty());
  });
}

}  // namespace
}  // namespace trace_event
}  // namespace base
