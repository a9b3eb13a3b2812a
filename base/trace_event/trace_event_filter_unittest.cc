#include "base/trace_event/trace_event_filter.h"

#include <functional>
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

using Tracker = AllocationContextTracker;
using CaptureMode = Tracker::CaptureMode;

TraceCategory g_test_category = {0, 0, "filter_test"};

std::unique_ptr<TraceEvent> MakeEvent(char phase,
                                      const char* name,
                                      unsigned int flags = 0) {
  auto event = std::make_unique<TraceEvent>();
  event->Initialize(1, TimeTicks(), ThreadTicks(), phase,
                    g_test_category.state_ptr(), name, nullptr, 0, 0, 0,
                    nullptr, nullptr, nullptr, nullptr, flags);
  return event;
}

// Runs |body| on a thread of its own, whose tracker starts empty, with the
// heap profiler capturing in |mode|; nothing else in the process turns it on.
void RunCapturing(CaptureMode mode, std::function<void()> body) {
  Tracker::SetCaptureMode(mode);
  RunOnThreadAndJoin(std::move(body));
  Tracker::SetCaptureMode(CaptureMode::DISABLED);
}

const char* TopName(Tracker* tracker) {
  return static_cast<const char*>(tracker->tracked_stack().back().value);
}

TEST(EventNameFilterTest, LetsThroughWhitelistedNamesOnly) {
  auto whitelist = std::make_unique<EventNameFilter::EventNamesWhitelist>();
  whitelist->insert("MessageLoop::RunTask");
  EventNameFilter filter(std::move(whitelist));
  // Compared by text, exact and case-sensitive.
  std::string name = "MessageLoop::RunTask";
  EXPECT_TRUE(filter.FilterTraceEvent(*MakeEvent('I', name.c_str())));
  EXPECT_FALSE(
      filter.FilterTraceEvent(*MakeEvent('B', "messageloop::runtask")));
}

TEST(HeapProfilerEventFilterTest, BeginEndCompleteAndCopiedEvents) {
  RunCapturing(CaptureMode::PSEUDO_STACK, [] {
    HeapProfilerEventFilter filter;
    Tracker* tracker = Tracker::GetInstanceForCurrentThread();
    static const char kOuter[] = "outer";
    static const char kComplete[] = "complete";
    tracker->PushPseudoStackFrame("cat", kOuter);

    EXPECT_TRUE(filter.FilterTraceEvent(*MakeEvent('B', "inner")));
    EXPECT_STREQ("inner", TopName(tracker));
    EXPECT_TRUE(filter.FilterTraceEvent(*MakeEvent('E', "inner")));
    EXPECT_TRUE(filter.FilterTraceEvent(*MakeEvent('X', kComplete)));
    EXPECT_TRUE(filter.FilterTraceEvent(*MakeEvent('I', "instant")));
    EXPECT_EQ(2u, tracker->tracked_stack().size());
    filter.EndEvent("filter_test", kComplete);
    ASSERT_EQ(1u, tracker->tracked_stack().size());

    // A copied event passes untouched; its end, as it pushed nothing,
    // leaves the enclosing frame in place.
    static const char kCopied[] = "copied_x";
    EXPECT_TRUE(filter.FilterTraceEvent(
        *MakeEvent('X', kCopied, TRACE_EVENT_FLAG_COPY)));
    EXPECT_EQ(1u, tracker->tracked_stack().size());
    filter.EndEvent("filter_test", kCopied);
    ASSERT_EQ(1u, tracker->tracked_stack().size());
    EXPECT_EQ(kOuter, TopName(tracker));
  });
}

TEST(HeapProfilerEventFilterTest, NothingTrackedWhileCaptureIsOff) {
  RunCapturing(CaptureMode::DISABLED, [] {
    HeapProfilerEventFilter filter;
    EXPECT_TRUE(filter.FilterTraceEvent(*MakeEvent('B', "b")));
    filter.EndEvent("filter_test", "b");
    EXPECT_EQ(nullptr, Tracker::PeekInstanceForCurrentThreadForTesting());
  });
}

TEST(HeapProfilerEventFilterTest, ThreadWhoseTrackerIsBeingBuilt) {
  RunCapturing(CaptureMode::MIXED_STACK, [] {
    HeapProfilerEventFilter filter;
    Tracker::SetCurrentThreadBeingBuiltForTesting(true);
    static const char kName[] = "x";
    EXPECT_TRUE(filter.FilterTraceEvent(*MakeEvent('X', kName)));
    // No tracker was made behind the construction's back.
    EXPECT_EQ(nullptr, Tracker::PeekInstanceForCurrentThreadForTesting());
    EXPECT_EQ(nullptr, Tracker::GetInstanceForCurrentThread());
    Tracker::SetCurrentThreadBeingBuiltForTesting(false);

    // The event, never pushed, ends once the tracker exists: the frame of
    // the event around it stays.
    Tracker* tracker = Tracker::GetInstanceForCurrentThread();
    tracker->PushPseudoStackFrame("cat", "outer");
    filter.EndEvent("filter_test", kName);
    EXPECT_EQ(1u, tracker->tracked_stack().size());
  });
}

}  // namespace
}  // namespace trace_event
}  // namespace base
