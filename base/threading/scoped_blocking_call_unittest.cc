#include "base/threading/scoped_blocking_call.h"

#include <windows.h>

#include <vector>

#include "base/test/test_thread.h"
#include "gtest/gtest.h"

namespace base {

namespace {

enum class Event { STARTED_MAY, STARTED_WILL, UPGRADED, ENDED };

class RecordingObserver : public BlockingObserver {
 public:
  void BlockingStarted(BlockingType blocking_type) override {
    events.push_back(blocking_type == BlockingType::MAY_BLOCK
                         ? Event::STARTED_MAY
                         : Event::STARTED_WILL);
  }
  void BlockingTypeUpgraded() override { events.push_back(Event::UPGRADED); }
  void BlockingEnded() override { events.push_back(Event::ENDED); }

  std::vector<Event> events;
};

class ScopedBlockingCallTest : public testing::Test {
 protected:
  void SetUp() override { SetBlockingObserverForCurrentThread(&observer_); }
  void TearDown() override { SetBlockingObserverForCurrentThread(nullptr); }

  RecordingObserver observer_;
};

TEST_F(ScopedBlockingCallTest, NestedScopesStartAndEndOnce) {
  {
    ScopedBlockingCall outer(BlockingType::MAY_BLOCK);
    EXPECT_EQ(std::vector<Event>({Event::STARTED_MAY}), observer_.events);
    {
      ScopedBlockingCall inner(BlockingType::MAY_BLOCK);
      ScopedBlockingCall innermost(BlockingType::MAY_BLOCK);
    }
    EXPECT_EQ(std::vector<Event>({Event::STARTED_MAY}), observer_.events);
  }
  EXPECT_EQ(std::vector<Event>({Event::STARTED_MAY, Event::ENDED}),
            observer_.events);

  // The chain is back to empty: the next scope is an outermost one again.
  { ScopedBlockingCall again(BlockingType::WILL_BLOCK); }
  EXPECT_EQ(std::vector<Event>({Event::STARTED_MAY, Event::ENDED,
                                Event::STARTED_WILL, Event::ENDED}),
            observer_.events);
}

TEST_F(ScopedBlockingCallTest, WillBlockInsideMayBlockUpgradesOnce) {
  {
    ScopedBlockingCall outer(BlockingType::MAY_BLOCK);
    {
      ScopedBlockingCall will(BlockingType::WILL_BLOCK);
      // Everything inside a will-block scope is will-block already.
      ScopedBlockingCall may_inside(BlockingType::MAY_BLOCK);
      ScopedBlockingCall will_inside(BlockingType::WILL_BLOCK);
    }
    EXPECT_EQ(std::vector<Event>({Event::STARTED_MAY, Event::UPGRADED}),
              observer_.events);
  }
  EXPECT_EQ(
      std::vector<Event>({Event::STARTED_MAY, Event::UPGRADED, Event::ENDED}),
      observer_.events);
}

TEST_F(ScopedBlockingCallTest, MayBlockInsideWillBlockCallsNothing) {
  {
    ScopedBlockingCall outer(BlockingType::WILL_BLOCK);
    ScopedBlockingCall inner(BlockingType::MAY_BLOCK);
    EXPECT_EQ(std::vector<Event>({Event::STARTED_WILL}), observer_.events);
  }
  EXPECT_EQ(std::vector<Event>({Event::STARTED_WILL, Event::ENDED}),
            observer_.events);
}

void BlockOnOtherThread() {
  // This thread has no observer: its scopes only keep their chain.
  ScopedBlockingCall outer(BlockingType::MAY_BLOCK);
  ScopedBlockingCall inner(BlockingType::WILL_BLOCK);
}

TEST_F(ScopedBlockingCallTest, ObserverBelongsToItsThread) {
  RunOnThreadAndJoin(&BlockOnOtherThread);
  EXPECT_TRUE(observer_.events.empty());
}

TEST_F(ScopedBlockingCallTest, ScopesWithoutObserverKeepTheChain) {
  SetBlockingObserverForCurrentThread(nullptr);
  {
    ScopedBlockingCall outer(BlockingType::MAY_BLOCK);
    SetBlockingObserverForCurrentThread(&observer_);
    // Not the outermost scope, so the newly installed observer is not told
    // that blocking starts; it is told of the upgrade.
    ScopedBlockingCall inner(BlockingType::WILL_BLOCK);
  }
  EXPECT_EQ(std::vector<Event>({Event::UPGRADED}), observer_.events);
  { ScopedBlockingCall alone(BlockingType::MAY_BLOCK); }
  EXPECT_EQ(std::vector<Event>(
                {Event::UPGRADED, Event::STARTED_MAY, Event::ENDED}),
            observer_.events);
}

}  // namespace

}  // namespace base
