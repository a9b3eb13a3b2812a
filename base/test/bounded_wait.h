#ifndef BASE_TEST_BOUNDED_WAIT_H_
#define BASE_TEST_BOUNDED_WAIT_H_

#include <functional>

#include "base/time/time.h"
#include "gtest/gtest.h"

namespace base {

class RunLoop;
class Thread;
class WaitableEvent;

// Waits in tests are bounded, so that a lost wake-up fails the test that
// lost it, with a message naming what never happened, instead of hanging
// the whole executable until an outer time-out. The limit is generous for a
// loaded machine; a passing test never comes near it.
//
//   ASSERT_TRUE(WaitWithin(&done, "the posted task"));
constexpr TimeDelta kBoundedWaitLimit = TimeDelta::FromSeconds(60);

// Waits until |event| is signalled, at most |limit|.
[[nodiscard]] testing::AssertionResult WaitWithin(
    WaitableEvent* event,
    const char* what,
    TimeDelta limit = kBoundedWaitLimit);

// Polls |condition|, yielding in between, until it holds, at most |limit|.
[[nodiscard]] testing::AssertionResult WaitUntil(
    const std::function<bool()>& condition,
    const char* what,
    TimeDelta limit = kBoundedWaitLimit);

// Runs |run_loop| on the calling thread's message loop until it quits, at
// most |limit|; when the limit ends it, the run is quit and this fails.
[[nodiscard]] testing::AssertionResult RunWithin(
    RunLoop* run_loop, const char* what, TimeDelta limit = kBoundedWaitLimit);

// Stops |thread| as Thread::Stop does, but waits at most |limit| for it to
// end. A thread whose loop never wakes for the stop can be neither joined
// nor destroyed, and its test can't go on: the failure is reported, naming
// |what|, and the test process ends at once rather than hanging in the
// join until an outer time-out.
void StopWithin(Thread* thread,
                const char* what,
                TimeDelta limit = kBoundedWaitLimit);

}  // namespace base

#endif  // BASE_TEST_BOUNDED_WAIT_H_
