#include "base/callback.h"

#include <memory>
#include <utility>

#include "base/bind.h"
#include "base/test/flag_on_destroy.h"
#include "gtest/gtest.h"

namespace base {
namespace {

void Nothing(FlagOnDestroy*) {}

RepeatingClosure MakeTracked(bool* dead) {
  return BindRepeating(&Nothing, Owned(new FlagOnDestroy(dead)));
}

TEST(CallbackTest, MoveLeavesSourceNullAndReleasesOldState) {
  bool first_dead = false;
  bool second_dead = false;
  RepeatingClosure first = MakeTracked(&first_dead);
  RepeatingClosure moved(std::move(first));
  EXPECT_TRUE(first.is_null());
  EXPECT_FALSE(moved.is_null());

  RepeatingClosure second = MakeTracked(&second_dead);
  moved = std::move(second);
  EXPECT_TRUE(second.is_null());
  EXPECT_TRUE(first_dead);
  EXPECT_FALSE(second_dead);

  OnceClosure once = std::move(moved);
  EXPECT_TRUE(moved.is_null());
  EXPECT_FALSE(second_dead);
  OnceClosure other;
  other = std::move(once);
  EXPECT_TRUE(once.is_null());
  other = OnceClosure();
  EXPECT_TRUE(second_dead);
}

TEST(CallbackTest, CopiesShareOneState) {
  bool dead = false;
  RepeatingClosure a = MakeTracked(&dead);
  RepeatingClosure b = a;
  EXPECT_TRUE(a == b);
  RepeatingClosure c;
  c = b;
  a.Reset();
  b.Reset();
  EXPECT_FALSE(dead);
  EXPECT_FALSE(c.is_null());
  c.Reset();
  EXPECT_TRUE(dead);

  // Copying a null callback gives a null callback.
  RepeatingClosure null_source;
  RepeatingClosure null_copy(null_source);
  EXPECT_TRUE(null_copy.is_null());
}

TEST(CallbackTest, SelfAssignmentAndSelfMoveKeepStateAlive) {
  bool dead = false;
  RepeatingClosure only = MakeTracked(&dead);
  RepeatingClosure& alias = only;
  only = alias;
  EXPECT_FALSE(dead);
  ASSERT_FALSE(only.is_null());
  only.Run();
  only = std::move(alias);
  EXPECT_FALSE(dead);
  ASSERT_FALSE(only.is_null());
  only.Reset();
  EXPECT_TRUE(dead);
}

void RecordAndCheckNull(int* runs, OnceClosure* self) {
  ++*runs;
  EXPECT_TRUE(self->is_null());
}

TEST(CallbackTest, RunningAOnceCallbackConsumesIt) {
  int runs = 0;
  OnceClosure once;
  once = BindOnce(&RecordAndCheckNull, &runs, &once);
  std::move(once).Run();
  EXPECT_EQ(1, runs);
  EXPECT_TRUE(once.is_null());

  // The callback may be refilled while it runs (as a task that posts the
  // next task would); the new state survives the end of the run.
  OnceClosure slot;
  bool next_dead = false;
  slot = BindOnce([](OnceClosure* slot,
                     bool* next_dead) { *slot = MakeTracked(next_dead); },
                  &slot, &next_dead);
  std::move(slot).Run();
  EXPECT_FALSE(slot.is_null());
  EXPECT_FALSE(next_dead);
  slot.Reset();
  EXPECT_TRUE(next_dead);
}

TEST(CallbackTest, RepeatingRunLeavesStateInPlace) {
  int count = 0;
  RepeatingClosure cb = BindRepeating([](int* count) { ++*count; }, &count);
  cb.Run();
  cb.Run();
  EXPECT_EQ(2, count);
  EXPECT_FALSE(cb.is_null());

  // Running an rvalue consumes it.
  std::move(cb).Run();
  EXPECT_EQ(3, count);
  EXPECT_TRUE(cb.is_null());
}

// The function resets the very callback that runs it: the run's own
// reference keeps the bound state (and the flag it owns) alive until the
// function returns.
void ResetSelf(RepeatingClosure* self,
               FlagOnDestroy* flag,
               bool* dead,
               bool* dead_during_run) {
  self->Reset();
  *dead_during_run = *dead;
}

TEST(CallbackTest, RepeatingCallbackMayDestroyItselfWhileRunning) {
  bool dead = false;
  bool dead_during_run = true;
  RepeatingClosure cb;
  cb = BindRepeating(&ResetSelf, &cb, Owned(new FlagOnDestroy(&dead)), &dead,
                     &dead_during_run);
  cb.Run();
  EXPECT_FALSE(dead_during_run);
  EXPECT_TRUE(dead);
  EXPECT_TRUE(cb.is_null());
}

// The state's destruction reaches back to the callback being reset, which
// must already be null.
struct ChecksCallbackOnDestruction {
  explicit ChecksCallbackOnDestruction(OnceClosure* watched, bool* was_null)
      : watched(watched), was_null(was_null) {}
  ~ChecksCallbackOnDestruction() { *was_null = watched->is_null(); }
  OnceClosure* watched;
  bool* was_null;
};

void Ignore(ChecksCallbackOnDestruction*) {}

TEST(CallbackTest, ResetNullsBeforeReleasing) {
  OnceClosure cb;
  bool was_null = false;
  cb =
      BindOnce(&Ignore, Owned(new ChecksCallbackOnDestruction(&cb, &was_null)));
  cb.Reset();
  EXPECT_TRUE(was_null);
}

TEST(CallbackTest, RepeatingConvertsToOnce) {
  int count = 0;
  RepeatingClosure repeating =
      BindRepeating([](int* count) { ++*count; }, &count);
  OnceClosure first = repeating;
  OnceClosure second = repeating;
  std::move(first).Run();
  std::move(second).Run();
  repeating.Run();
  EXPECT_EQ(3, count);
}

TEST(CallbackTest, ArgumentsAndResults) {
  RepeatingCallback<int(int, const std::unique_ptr<int>&)> cb = BindRepeating(
      [](int a, const std::unique_ptr<int>& b) { return a + *b; });
  std::unique_ptr<int> five = std::make_unique<int>(5);
  EXPECT_EQ(7, cb.Run(2, five));

  OnceCallback<int(std::unique_ptr<int>)> take =
      BindOnce([](std::unique_ptr<int> p) { return *p; });
  EXPECT_EQ(5, std::move(take).Run(std::move(five)));
}

TEST(CallbackDeathTest, RunningANullCallbackIsFatal) {
  OnceClosure once;
  RepeatingClosure repeating;
  EXPECT_DEATH(std::move(once).Run(), "");
  EXPECT_DEATH(repeating.Run(), "");
}

}  // namespace
}  // namespace base
