#include "desktop/windows/installer/avro_stats/request_deadline.h"

#include <atomic>

#include "base/bind.h"
#include "base/synchronization/waitable_event.h"
#include "base/test/bounded_wait.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

struct CancelLog {
  std::atomic<int> runs{0};
  base::WaitableEvent ran{base::WaitableEvent::ResetPolicy::MANUAL,
                          base::WaitableEvent::InitialState::NOT_SIGNALED};
};

base::OnceClosure Cancel(CancelLog* log) {
  return base::BindOnce(
      [](CancelLog* log) {
        ++log->runs;
        log->ran.Signal();
      },
      log);
}

TEST(RequestDeadlineTest, PassingDeadlineCancelsOnce) {
  CancelLog log;
  RequestDeadline deadline(base::TimeDelta::FromMilliseconds(50), Cancel(&log));
  ASSERT_TRUE(base::WaitWithin(&log.ran, "the cancel at the deadline",
                               base::TimeDelta::FromMinutes(1)));
  deadline.CancelNow();
  EXPECT_TRUE(deadline.Disarm());
  EXPECT_EQ(1, log.runs.load());
}

TEST(RequestDeadlineTest, DisarmedDeadlineNeverCancels) {
  CancelLog log;
  {
    RequestDeadline deadline(base::TimeDelta::FromMinutes(1), Cancel(&log));
    EXPECT_FALSE(deadline.Disarm());
    deadline.CancelNow();
    EXPECT_FALSE(deadline.Disarm());
  }
  EXPECT_EQ(0, log.runs.load());
}

// The shutdown cancels the request under way before its own deadline.
TEST(RequestDeadlineTest, CancelNowRunsAtOnceAndOnlyOnce) {
  CancelLog log;
  RequestDeadline deadline(base::TimeDelta::FromMinutes(1), Cancel(&log));
  deadline.CancelNow();
  EXPECT_TRUE(log.ran.IsSignaled());
  deadline.CancelNow();
  EXPECT_TRUE(deadline.Disarm());
  EXPECT_EQ(1, log.runs.load());
}

}  // namespace
}  // namespace installer
