#include "base/debug/activity_tracker.h"

#include <windows.h>

#include "gtest/gtest.h"

namespace base {
namespace debug {
namespace {

TEST(ActivityTrackerTest, ScopedActivitiesAreEmptyWhileOff) {
  EXPECT_EQ(nullptr, GlobalActivityTracker::Get());
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

}  // namespace
}  // namespace debug
}  // namespace base
