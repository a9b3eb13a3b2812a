#include "base/debug/activity_tracker.h"

#include <windows.h>

#include "gtest/gtest.h"

namespace base {
namespace debug {
namespace {

TEST(ActivityTrackerTest, OffByDefault) {
  EXPECT_EQ(nullptr, GlobalActivityTracker::Get());
}

TEST(ActivityTrackerTest, ScopedActivitiesAreEmptyWhileOff) {
  int lock = 0;
  int event = 0;
  {
    ScopedLockAcquireActivity lock_activity(nullptr, &lock);
    ScopedEventWaitActivity event_activity(nullptr, &event);
    ScopedThreadJoinActivity join_activity(nullptr, ::GetCurrentThread());
    EXPECT_FALSE(lock_activity.is_recorded());
    EXPECT_FALSE(event_activity.is_recorded());
    EXPECT_FALSE(join_activity.is_recorded());
  }
  EXPECT_EQ(nullptr, GlobalActivityTracker::Get());
}

TEST(ActivityTrackerTest, ActivityTypeValues) {
  // Stored in persistent records read by other tools.
  EXPECT_EQ(32, ACT_LOCK_ACQUIRE);
  EXPECT_EQ(48, ACT_EVENT_WAIT);
  EXPECT_EQ(65, ACT_THREAD_JOIN);
  EXPECT_EQ(81, ACT_PROCESS_WAIT);
}

}  // namespace
}  // namespace debug
}  // namespace base
