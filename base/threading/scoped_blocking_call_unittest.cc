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

// Opens a scope of each of |types|, nested in that order, and returns what
// the observer had heard inside the innermost one.
std::vector<Event> NestScopes(const std::vector<BlockingType>& types,
                              size_t index,
                              const RecordingObserver& observer) {
  if (index == types.size())
    return observer.events;
  ScopedBlockingCall scope(types[index]);
  return NestScopes(types, index + 1, observer);
}

TEST_F(ScopedBlockingCallTest, OnlyTheOutermostScopeStartsAndEnds) {
  constexpr BlockingType MAY = BlockingType::MAY_BLOCK;
  constexpr BlockingType WILL = BlockingType::WILL_BLOCK;
  const struct {
    std::vector<BlockingType> types;
    std::vector<Event> inside;
  } kCases[] = {
      {{MAY, MAY, MAY}, {Event::STARTED_MAY}},
      {{WILL}, {Event::STARTED_WILL}},
      // Once upgraded, everything inside is will-block already.
      {{MAY, WILL, MAY, WILL}, {Event::STARTED_MAY, Event::UPGRADED}},
      {{WILL, MAY}, {Event::STARTED_WILL}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.types.size());
    observer_.events.clear();
    EXPECT_EQ(c.inside, NestScopes(c.types, 0, observer_));
    // Ended once; the chain is empty again for the next case.
    std::vector<Event> after = c.inside;
    after.push_back(Event::ENDED);
    EXPECT_EQ(after, observer_.events);
  }
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
  EXPECT_EQ(
      std::vector<Event>({Event::UPGRADED, Event::STARTED_MAY, Event::ENDED}),
      observer_.events);
}

}  // namespace

}  // namespace base
