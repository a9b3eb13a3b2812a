#include "base/task_scheduler/task_traits.h"

#include "base/bind.h"
#include "base/location.h"
#include "base/task_scheduler/task.h"
#include "gtest/gtest.h"

namespace base {
namespace internal {

namespace {

void DoNothing() {}

}  // namespace

TEST(TaskSchedulerTaskTraitsTest, DefaultsAndExplicitMarks) {
  constexpr TaskTraits defaults;
  EXPECT_FALSE(defaults.priority_set_explicitly);
  EXPECT_EQ(TaskPriority::USER_VISIBLE, defaults.priority);
  EXPECT_FALSE(defaults.shutdown_behavior_set_explicitly);
  EXPECT_EQ(TaskShutdownBehavior::SKIP_ON_SHUTDOWN, defaults.shutdown_behavior);
  EXPECT_FALSE(defaults.may_block);
  EXPECT_FALSE(defaults.with_base_sync_primitives);

  constexpr TaskTraits traits =
      TaskTraits()
          .WithPriority(TaskPriority::BACKGROUND)
          .WithShutdownBehavior(TaskShutdownBehavior::BLOCK_SHUTDOWN)
          .MayBlock()
          .WithBaseSyncPrimitives();
  EXPECT_TRUE(traits.priority_set_explicitly);
  EXPECT_EQ(TaskPriority::BACKGROUND, traits.priority);
  EXPECT_TRUE(traits.shutdown_behavior_set_explicitly);
  EXPECT_EQ(TaskShutdownBehavior::BLOCK_SHUTDOWN, traits.shutdown_behavior);
  EXPECT_TRUE(traits.may_block);
  EXPECT_TRUE(traits.with_base_sync_primitives);

  // The builders copy: the original stays as it was.
  const TaskTraits original;
  const TaskTraits changed = original.MayBlock();
  EXPECT_FALSE(original.may_block);
  EXPECT_TRUE(changed.may_block);
}

TEST(TaskSchedulerTaskTraitsTest, PriorityToString) {
  EXPECT_STREQ("USER_BLOCKING",
               TaskPriorityToString(TaskPriority::USER_BLOCKING));
  EXPECT_STREQ("", TaskPriorityToString(static_cast<TaskPriority>(3)));
  EXPECT_STREQ("", TaskPriorityToString(static_cast<TaskPriority>(-1)));
}

TEST(TaskSchedulerTaskTest, DelayedBlockShutdownBecomesSkipOnShutdown) {
  const TaskTraits block_shutdown =
      TaskTraits()
          .WithPriority(TaskPriority::USER_BLOCKING)
          .WithShutdownBehavior(TaskShutdownBehavior::BLOCK_SHUTDOWN)
          .MayBlock();

  Task delayed(FROM_HERE, BindOnce(&DoNothing), block_shutdown,
               TimeDelta::FromMilliseconds(1));
  EXPECT_EQ(TaskShutdownBehavior::SKIP_ON_SHUTDOWN,
            delayed.traits.shutdown_behavior);
  EXPECT_TRUE(delayed.traits.shutdown_behavior_set_explicitly);
  // Everything else is kept.
  EXPECT_EQ(TaskPriority::USER_BLOCKING, delayed.traits.priority);
  EXPECT_TRUE(delayed.traits.priority_set_explicitly);
  EXPECT_TRUE(delayed.traits.may_block);
  EXPECT_FALSE(delayed.delayed_run_time.is_null());
  EXPECT_EQ(TimeDelta::FromMilliseconds(1), delayed.delay);

  Task undelayed(FROM_HERE, BindOnce(&DoNothing), block_shutdown, TimeDelta());
  EXPECT_EQ(TaskShutdownBehavior::BLOCK_SHUTDOWN,
            undelayed.traits.shutdown_behavior);
  EXPECT_TRUE(undelayed.delayed_run_time.is_null());

  // Other behaviours are never touched by a delay.
  Task delayed_continue(FROM_HERE, BindOnce(&DoNothing),
                        TaskTraits().WithShutdownBehavior(
                            TaskShutdownBehavior::CONTINUE_ON_SHUTDOWN),
                        TimeDelta::FromSeconds(1));
  EXPECT_EQ(TaskShutdownBehavior::CONTINUE_ON_SHUTDOWN,
            delayed_continue.traits.shutdown_behavior);
}

TEST(TaskSchedulerTaskTest, FreshTaskFields) {
  const TimeTicks before = TimeTicks::Now();
  Task task(FROM_HERE, BindOnce(&DoNothing), TaskTraits(),
            TimeDelta::FromSeconds(5));
  EXPECT_EQ(Nestable::kNonNestable, task.nestable);
  EXPECT_TRUE(task.sequenced_time.is_null());
  EXPECT_FALSE(task.sequenced_task_runner_ref);
  EXPECT_FALSE(task.single_thread_task_runner_ref);
  EXPECT_GE(task.delayed_run_time, before + TimeDelta::FromSeconds(5));

  // A huge delay saturates rather than wrapping into the past.
  Task distant(FROM_HERE, BindOnce(&DoNothing), TaskTraits(), TimeDelta::Max());
  EXPECT_TRUE(distant.delayed_run_time.is_max());
}

}  // namespace internal
}  // namespace base
