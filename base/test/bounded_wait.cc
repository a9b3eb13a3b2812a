#include "base/test/bounded_wait.h"

#include <stdio.h>
#include <stdlib.h>

#include "base/bind.h"
#include "base/location.h"
#include "base/memory/weak_ptr.h"
#include "base/run_loop.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/platform_thread.h"
#include "base/threading/thread.h"
#include "base/threading/thread_task_runner_handle.h"

namespace base {

namespace {

testing::AssertionResult TimedOut(const char* what, TimeDelta limit) {
  return testing::AssertionFailure()
         << "bounded wait: gave up after " << limit.InMilliseconds()
         << " ms waiting for " << what;
}

// Quits a run that went on too long; dropped unfired when the run ends in
// time.
class RunTimeout {
 public:
  explicit RunTimeout(RunLoop* run_loop) : run_loop_(run_loop) {}

  void Fire() {
    fired_ = true;
    run_loop_->Quit();
  }

  bool fired() const { return fired_; }
  WeakPtr<RunTimeout> GetWeakPtr() { return weak_factory_.GetWeakPtr(); }

 private:
  RunLoop* const run_loop_;
  bool fired_ = false;
  WeakPtrFactory<RunTimeout> weak_factory_{this};
};

}  // namespace

testing::AssertionResult WaitWithin(WaitableEvent* event,
                                    const char* what,
                                    TimeDelta limit) {
  if (event->TimedWait(limit))
    return testing::AssertionSuccess();
  return TimedOut(what, limit);
}

testing::AssertionResult WaitUntil(const std::function<bool()>& condition,
                                   const char* what,
                                   TimeDelta limit) {
  const TimeTicks end = TimeTicks::Now() + limit;
  while (!condition()) {
    if (TimeTicks::Now() >= end)
      return TimedOut(what, limit);
    PlatformThread::Sleep(TimeDelta::FromMilliseconds(1));
  }
  return testing::AssertionSuccess();
}

testing::AssertionResult RunWithin(RunLoop* run_loop,
                                   const char* what,
                                   TimeDelta limit) {
  RunTimeout timeout(run_loop);
  ThreadTaskRunnerHandle::Get()->PostDelayedTask(
      FROM_HERE, BindOnce(&RunTimeout::Fire, timeout.GetWeakPtr()), limit);
  run_loop->Run();
  if (!timeout.fired())
    return testing::AssertionSuccess();
  return TimedOut(what, limit);
}

void StopWithin(Thread* thread, const char* what, TimeDelta limit) {
  thread->StopSoon();
  testing::AssertionResult ended =
      WaitUntil([thread] { return !thread->IsRunning(); }, what, limit);
  if (!ended) {
    ADD_FAILURE() << ended.message()
                  << " (the thread's loop never woke for the stop); ending "
                     "the test executable";
    fflush(stdout);
    fflush(stderr);
    _exit(1);
  }
  // Only the join is left.
  thread->Stop();
}

}  // namespace base
