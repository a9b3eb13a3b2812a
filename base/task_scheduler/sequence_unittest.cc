#include "base/task_scheduler/sequence.h"

#include <utility>

#include "base/bind.h"
#include "base/location.h"
#include "base/task_scheduler/scoped_set_task_priority_for_current_thread.h"
#include "base/task_scheduler/sequence_token.h"
#include "base/test/scoped_fake_ticks.h"
#include "base/threading/sequence_local_storage_map.h"
#include "gtest/gtest.h"

namespace base {
namespace internal {

namespace {

void DoNothing() {}

Task MakeTask(TaskPriority priority) {
  return Task(FROM_HERE, BindOnce(&DoNothing),
              TaskTraits().WithPriority(priority), TimeDelta());
}

class TaskSchedulerSequenceTest : public testing::Test {
 protected:
  TaskSchedulerSequenceTest()
      : clock_(TimeTicks() + TimeDelta::FromMicroseconds(1000)) {}

  void Advance(int64_t us) { clock_.Advance(TimeDelta::FromMicroseconds(us)); }
  TimeTicks Now() const { return ScopedFakeTicks::Now(); }

 private:
  ScopedFakeTicks clock_;
};

}  // namespace

TEST_F(TaskSchedulerSequenceTest, PushTakePopLifecycle) {
  scoped_refptr<Sequence> sequence = new Sequence;

  // Only the push into an empty sequence asks for scheduling.
  EXPECT_TRUE(sequence->PushTask(MakeTask(TaskPriority::BACKGROUND)));
  const TimeTicks first_time = Now();
  Advance(10);
  EXPECT_FALSE(sequence->PushTask(MakeTask(TaskPriority::USER_VISIBLE)));
  Advance(10);
  EXPECT_FALSE(sequence->PushTask(MakeTask(TaskPriority::BACKGROUND)));

  EXPECT_EQ(SequenceSortKey(TaskPriority::USER_VISIBLE, first_time),
            sequence->GetSortKey());

  Task first = sequence->TakeTask();
  EXPECT_EQ(TaskPriority::BACKGROUND, first.traits.priority);
  EXPECT_EQ(first_time, first.sequenced_time);
  // A push while the front task is out (being run) must not schedule the
  // sequence a second time.
  EXPECT_FALSE(sequence->PushTask(MakeTask(TaskPriority::BACKGROUND)));
  EXPECT_FALSE(sequence->Pop());

  // The front is now the USER_VISIBLE task, pushed 10 us later.
  EXPECT_EQ(SequenceSortKey(TaskPriority::USER_VISIBLE,
                            first_time + TimeDelta::FromMicroseconds(10)),
            sequence->GetSortKey());
  Task second = sequence->TakeTask();
  EXPECT_EQ(TaskPriority::USER_VISIBLE, second.traits.priority);
  EXPECT_FALSE(sequence->Pop());

  // Only background tasks are left.
  EXPECT_EQ(TaskPriority::BACKGROUND, sequence->GetSortKey().priority());
  sequence->TakeTask();
  EXPECT_FALSE(sequence->Pop());
  sequence->TakeTask();
  EXPECT_TRUE(sequence->Pop());

  // Empty again: the next push schedules it again.
  EXPECT_TRUE(sequence->PushTask(MakeTask(TaskPriority::BACKGROUND)));
}

TEST_F(TaskSchedulerSequenceTest, ManyTasksKeepPostingOrder) {
  // Enough to grow and shrink the ring buffer several times.
  scoped_refptr<Sequence> sequence = new Sequence;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 100; ++i) {
      Advance(1);
      sequence->PushTask(MakeTask(TaskPriority::USER_VISIBLE));
    }
    TimeTicks previous;
    for (int i = 0; i < 100; ++i) {
      Task task = sequence->TakeTask();
      EXPECT_LT(previous, task.sequenced_time);
      previous = task.sequenced_time;
      EXPECT_EQ(i == 99, sequence->Pop());
    }
  }
}

TEST(TaskSchedulerSequenceDeathTest, NullClosureIsFatal) {
  scoped_refptr<Sequence> sequence = new Sequence;
  Task task = MakeTask(TaskPriority::USER_VISIBLE);
  task.task = OnceClosure();
  EXPECT_DEATH(sequence->PushTask(std::move(task)), "");
}

TEST(TaskSchedulerSequenceTokenTest, TokensAndEquality) {
  const SequenceToken invalid;
  EXPECT_FALSE(invalid.IsValid());
  EXPECT_FALSE(invalid == invalid);
  EXPECT_TRUE(invalid != invalid);

  const SequenceToken a = SequenceToken::Create();
  const SequenceToken b = SequenceToken::Create();
  EXPECT_TRUE(a.IsValid());
  EXPECT_TRUE(a == a);
  EXPECT_FALSE(a == b);

  const TaskToken invalid_task;
  EXPECT_FALSE(invalid_task == invalid_task);

  // Two sequences never share a token.
  scoped_refptr<Sequence> s1 = new Sequence;
  scoped_refptr<Sequence> s2 = new Sequence;
  EXPECT_TRUE(s1->token() != s2->token());
}

TEST(TaskSchedulerSequenceTokenTest, ScopedTokensOfCurrentThread) {
  EXPECT_FALSE(SequenceToken::GetForCurrentThread().IsValid());
  EXPECT_FALSE(TaskToken::GetForCurrentThread().IsValid());

  const SequenceToken token = SequenceToken::Create();
  TaskToken first_task_token;
  {
    ScopedSetSequenceTokenForCurrentThread scoped(token);
    EXPECT_TRUE(SequenceToken::GetForCurrentThread() == token);
    first_task_token = TaskToken::GetForCurrentThread();
    EXPECT_TRUE(first_task_token.IsValid());
  }
  EXPECT_FALSE(SequenceToken::GetForCurrentThread().IsValid());
  EXPECT_FALSE(TaskToken::GetForCurrentThread().IsValid());

  {
    // Same sequence, new task run: new task token.
    ScopedSetSequenceTokenForCurrentThread scoped(token);
    EXPECT_TRUE(SequenceToken::GetForCurrentThread() == token);
    EXPECT_TRUE(TaskToken::GetForCurrentThread() != first_task_token);
  }
}

TEST(TaskSchedulerTaskPriorityScopeTest, PriorityOfCurrentThread) {
  EXPECT_EQ(TaskPriority::USER_VISIBLE, GetTaskPriorityForCurrentThread());
  {
    ScopedSetTaskPriorityForCurrentThread scoped(TaskPriority::BACKGROUND);
    EXPECT_EQ(TaskPriority::BACKGROUND, GetTaskPriorityForCurrentThread());
  }
  EXPECT_EQ(TaskPriority::USER_VISIBLE, GetTaskPriorityForCurrentThread());
}

namespace {

void IncrementInt(void* value) {
  ++*static_cast<int*>(value);
}

}  // namespace

TEST(SequenceLocalStorageMapTest, ValuesAndCurrentMap) {
  int destroyed_a = 0;
  int destroyed_b = 0;
  EXPECT_FALSE(SequenceLocalStorageMap::IsSetForCurrentThread());
  {
    SequenceLocalStorageMap map;
    {
      ScopedSetSequenceLocalStorageMapForCurrentThread scoped(&map);
      ASSERT_TRUE(SequenceLocalStorageMap::IsSetForCurrentThread());
      EXPECT_EQ(&map, &SequenceLocalStorageMap::GetForCurrentThread());
      EXPECT_EQ(nullptr, map.Get(7));
      map.Set(7, SequenceLocalStorageMap::ValueDestructorPair(&destroyed_a,
                                                              &IncrementInt));
      EXPECT_EQ(&destroyed_a, map.Get(7));
      // Replacing destroys the earlier value at once.
      map.Set(7, SequenceLocalStorageMap::ValueDestructorPair(&destroyed_b,
                                                              &IncrementInt));
      EXPECT_EQ(1, destroyed_a);
      EXPECT_EQ(&destroyed_b, map.Get(7));
    }
    EXPECT_FALSE(SequenceLocalStorageMap::IsSetForCurrentThread());
    EXPECT_EQ(0, destroyed_b);
  }
  EXPECT_EQ(1, destroyed_a);
  EXPECT_EQ(1, destroyed_b);
}

}  // namespace internal
}  // namespace base
