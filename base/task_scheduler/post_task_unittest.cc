#include "base/task_scheduler/post_task.h"

#include "base/bind.h"
#include "base/location.h"
#include "base/synchronization/waitable_event.h"
#include "base/task_scheduler/scoped_set_task_priority_for_current_thread.h"
#include "base/task_scheduler/task_scheduler.h"
#include "gtest/gtest.h"

namespace base {
namespace {

class PostTaskTest : public testing::Test {
 protected:
  void SetUp() override {
    TaskScheduler::Create("PostTaskTest");
    const SchedulerWorkerPoolParams params(2, TimeDelta::FromSeconds(30));
    TaskScheduler::GetInstance()->Start(
        TaskScheduler::InitParams(params, params, params, params));
  }
  void TearDown() override {
    TaskScheduler::GetInstance()->Shutdown();
    TaskScheduler::GetInstance()->Join();
    TaskScheduler::SetInstance(nullptr);
  }
};

void RecordPriority(TaskPriority* priority, WaitableEvent* done) {
  *priority = internal::GetTaskPriorityForCurrentThread();
  done->Signal();
}

TEST_F(PostTaskTest, UnsetPriorityIsInheritedFromTheRunningTask) {
  const TaskTraits shutdown_only =
      TaskTraits().WithShutdownBehavior(TaskShutdownBehavior::BLOCK_SHUTDOWN);

  // Outside scheduler tasks: USER_VISIBLE.
  TaskPriority outside = TaskPriority::BACKGROUND;
  WaitableEvent outside_done;
  PostTaskWithTraits(FROM_HERE, shutdown_only,
                     BindOnce(&RecordPriority, &outside, &outside_done));
  outside_done.Wait();
  EXPECT_EQ(TaskPriority::USER_VISIBLE, outside);

  // From a BACKGROUND task: BACKGROUND.
  TaskPriority nested = TaskPriority::USER_BLOCKING;
  WaitableEvent nested_done;
  PostTaskWithTraits(
      FROM_HERE, TaskTraits().WithPriority(TaskPriority::BACKGROUND),
      BindOnce(
          [](TaskTraits traits, TaskPriority* nested, WaitableEvent* done) {
            PostTaskWithTraits(FROM_HERE, traits,
                               BindOnce(&RecordPriority, nested, done));
          },
          shutdown_only, &nested, &nested_done));
  nested_done.Wait();
  EXPECT_EQ(TaskPriority::BACKGROUND, nested);

  // A chosen priority is kept.
  TaskPriority chosen = TaskPriority::BACKGROUND;
  WaitableEvent chosen_done;
  CreateTaskRunnerWithTraits(
      TaskTraits().WithPriority(TaskPriority::USER_BLOCKING))
      ->PostTask(FROM_HERE, BindOnce(&RecordPriority, &chosen, &chosen_done));
  chosen_done.Wait();
  EXPECT_EQ(TaskPriority::USER_BLOCKING, chosen);
}

TEST_F(PostTaskTest, ReplyComesBackToThePostingSequence) {
  scoped_refptr<SequencedTaskRunner> sequence =
      CreateSequencedTaskRunnerWithTraits(TaskTraits());
  bool task_ran = false;
  bool reply_on_sequence = false;
  bool posted = false;
  WaitableEvent done;
  sequence->PostTask(
      FROM_HERE,
      BindOnce(
          [](SequencedTaskRunner* sequence, bool* task_ran,
             bool* reply_on_sequence, bool* posted, WaitableEvent* done) {
            *posted = PostTaskWithTraitsAndReply(
                FROM_HERE, TaskTraits().MayBlock(),
                BindOnce([](bool* ran) { *ran = true; }, task_ran),
                BindOnce(
                    [](SequencedTaskRunner* sequence, bool* task_ran,
                       bool* on_sequence, WaitableEvent* done) {
                      *on_sequence =
                          *task_ran && sequence->RunsTasksInCurrentSequence();
                      done->Signal();
                    },
                    Unretained(sequence), task_ran, reply_on_sequence, done));
          },
          Unretained(sequence.get()), &task_ran, &reply_on_sequence, &posted,
          &done));
  done.Wait();
  EXPECT_TRUE(posted);
  EXPECT_TRUE(reply_on_sequence);
}

}  // namespace
}  // namespace base
