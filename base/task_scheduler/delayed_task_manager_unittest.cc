#include "base/task_scheduler/delayed_task_manager.h"

#include <memory>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/location.h"
#include "base/synchronization/waitable_event.h"
#include "base/test/scoped_fake_ticks.h"
#include "base/test/test_task_runner.h"
#include "base/threading/platform_thread.h"
#include "base/threading/thread.h"
#include "gtest/gtest.h"

namespace base {
namespace internal {

namespace {

void AppendId(std::vector<int>* ids, int id) {
  ids->push_back(id);
}

// The post-now callback: runs the handed-back task at once.
void RunTaskNow(std::vector<TaskTraits>* traits_seen, Task task) {
  traits_seen->push_back(task.traits);
  std::move(task.task).Run();
}

class TaskSchedulerDelayedTaskManagerTest : public testing::Test {
 protected:
  TaskSchedulerDelayedTaskManagerTest()
      : clock_(TimeTicks() + TimeDelta::FromSeconds(100)),
        manager_(clock_.CreateTickClock()),
        runner_(new TestTaskRunner) {}

  Task MakeTask(int id, TimeDelta delay, TaskTraits traits = TaskTraits()) {
    return Task(FROM_HERE, BindOnce(&AppendId, &ran_ids_, id), traits, delay);
  }

  void Add(Task task) {
    manager_.AddDelayedTask(std::move(task),
                            BindOnce(&RunTaskNow, &traits_seen_));
  }

  void Advance(TimeDelta delta) { clock_.Advance(delta); }

  // One fake time for both TimeTicks::Now (which stamps the tasks' delayed
  // run times) and the manager's tick clock.
  ScopedFakeTicks clock_;
  DelayedTaskManager manager_;
  // Stands in for the service thread: the test looks at the delays and runs
  // the posted closures itself.
  scoped_refptr<TestTaskRunner> runner_;
  std::vector<int> ran_ids_;
  std::vector<TaskTraits> traits_seen_;
};

}  // namespace

TEST_F(TaskSchedulerDelayedTaskManagerTest, TasksAddedBeforeStartGetTimeLeft) {
  Add(MakeTask(1, TimeDelta::FromSeconds(5)));
  Add(MakeTask(2, TimeDelta::FromSeconds(1)));
  Add(MakeTask(3, TimeDelta::FromSeconds(3)));
  Advance(TimeDelta::FromSeconds(2));
  EXPECT_TRUE(runner_->posts().empty());

  manager_.Start(runner_);

  // In the order added, with what is left: 5 s - 2 s; overdue ones at once.
  ASSERT_EQ(3u, runner_->posts().size());
  EXPECT_EQ(TimeDelta::FromSeconds(3), runner_->posts()[0].delay);
  EXPECT_EQ(TimeDelta(), runner_->posts()[1].delay);
  EXPECT_EQ(TimeDelta::FromSeconds(1), runner_->posts()[2].delay);
  EXPECT_STREQ("AddDelayedTaskNow",
               runner_->posts()[0].from_here.function_name());

  // Firing the service-thread closures hands each task to its callback.
  EXPECT_EQ(3u, runner_->RunPending());
  EXPECT_EQ((std::vector<int>{1, 2, 3}), ran_ids_);
}

TEST_F(TaskSchedulerDelayedTaskManagerTest, AfterStartTheOwnDelayIsUsed) {
  manager_.Start(runner_);

  const TaskTraits block_shutdown =
      TaskTraits().WithShutdownBehavior(TaskShutdownBehavior::BLOCK_SHUTDOWN);
  Task task = MakeTask(7, TimeDelta::FromSeconds(5), block_shutdown);
  // Time between making the task and adding it is not subtracted.
  Advance(TimeDelta::FromSeconds(2));
  Add(std::move(task));

  ASSERT_EQ(1u, runner_->posts().size());
  EXPECT_EQ(TimeDelta::FromSeconds(5), runner_->posts()[0].delay);
  EXPECT_TRUE(ran_ids_.empty());
  EXPECT_EQ(1u, runner_->RunPending());
  EXPECT_EQ(std::vector<int>{7}, ran_ids_);
  // Handed back with the traits it was posted with, already demoted.
  ASSERT_EQ(1u, traits_seen_.size());
  EXPECT_EQ(TaskShutdownBehavior::SKIP_ON_SHUTDOWN,
            traits_seen_[0].shutdown_behavior);
}

TEST_F(TaskSchedulerDelayedTaskManagerTest, UnrunClosureDestroysTask) {
  manager_.Start(runner_);
  Add(MakeTask(1, TimeDelta::FromSeconds(1)));
  ASSERT_EQ(1u, runner_->posts().size());
  // The service thread stopped first: the task goes without running.
  runner_->ClearPendingTasks();
  EXPECT_TRUE(ran_ids_.empty());
  EXPECT_TRUE(traits_seen_.empty());
}

TEST(TaskSchedulerDelayedTaskManagerDeathTest, NullClosureIsFatal) {
  DelayedTaskManager manager;
  Task task(FROM_HERE, OnceClosure(), TaskTraits(), TimeDelta::FromSeconds(1));
  EXPECT_DEATH(manager.AddDelayedTask(
                   std::move(task), DelayedTaskManager::PostTaskNowCallback()),
               "");
}

namespace {

void NoteThreadAndSignal(PlatformThreadId* thread_id,
                         std::vector<int>* order,
                         WaitableEvent* done,
                         Task task) {
  *thread_id = PlatformThread::CurrentId();
  std::move(task.task).Run();
  if (order->size() == 2)
    done->Signal();
}

}  // namespace

TEST(TaskSchedulerDelayedTaskManagerThreadTest, ServiceThreadHandsTasksBack) {
  Thread service_thread("TaskSchedulerServiceThread");
  ASSERT_TRUE(service_thread.Start());

  DelayedTaskManager manager;
  std::vector<int> order;
  PlatformThreadId callback_thread = kInvalidThreadId;
  WaitableEvent done;

  // One added before Start, one after; both tiny delays, so nothing waits
  // for long, and the wait is for the event, never for a duration.
  manager.AddDelayedTask(
      Task(FROM_HERE, BindOnce(&AppendId, &order, 1), TaskTraits(),
           TimeDelta::FromMicroseconds(1)),
      BindOnce(&NoteThreadAndSignal, &callback_thread, &order, &done));
  manager.Start(service_thread.task_runner());
  manager.AddDelayedTask(
      Task(FROM_HERE, BindOnce(&AppendId, &order, 2), TaskTraits(),
           TimeDelta::FromMicroseconds(1)),
      BindOnce(&NoteThreadAndSignal, &callback_thread, &order, &done));

  done.Wait();
  EXPECT_EQ(service_thread.GetThreadId(), callback_thread);
  EXPECT_EQ(2u, order.size());
  service_thread.Stop();
}

}  // namespace internal
}  // namespace base
