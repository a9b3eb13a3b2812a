#include "base/message_loop/incoming_task_queue.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <vector>

#include "base/bind.h"
#include "base/memory/weak_ptr.h"
#include "base/message_loop/message_loop.h"
#include "base/message_loop/message_pump_default.h"
#include "base/pending_task.h"
#include "base/run_loop.h"
#include "base/test/test_thread.h"
#include "base/threading/thread_task_runner_handle.h"
#include "gtest/gtest.h"

namespace base {
namespace internal {
namespace {

void Nothing() {}

// Counts its destruction, to see whether a queue destroyed a task.
class Tracked {
 public:
  explicit Tracked(int* destroyed) : destroyed_(destroyed) {}
  ~Tracked() { ++*destroyed_; }

 private:
  int* destroyed_;
};

OnceClosure TrackedTask(int* destroyed) {
  return BindOnce([](std::unique_ptr<Tracked>) {},
                  std::make_unique<Tracked>(destroyed));
}

class Receiver {
 public:
  void Hit() { ++hits; }
  int hits = 0;
  WeakPtrFactory<Receiver> weak_factory{this};
};

// A detached queue: there is no loop to wake.
scoped_refptr<IncomingTaskQueue> MakeQueue() {
  return scoped_refptr<IncomingTaskQueue>(new IncomingTaskQueue(nullptr));
}

TEST(IncomingTaskQueueTest, DelaysSetRunTimeAndHighResolution) {
  scoped_refptr<IncomingTaskQueue> queue = MakeQueue();
  TimeTicks before = TimeTicks::Now();
  const int64_t kDelaysMs[] = {0, -5, 31, 32};
  for (int64_t delay : kDelaysMs) {
    EXPECT_TRUE(queue->AddToIncomingQueue(FROM_HERE, BindOnce(&Nothing),
                                          TimeDelta::FromMilliseconds(delay),
                                          Nestable::kNestable));
  }
  IncomingTaskQueue::ReadAndRemoveOnlyQueue& triage = queue->triage_tasks();
  ASSERT_TRUE(triage.HasTasks());
  EXPECT_TRUE(queue->HasPendingHighResolutionTasks());  // Counted at reload.

  PendingTask zero = triage.Pop();
  PendingTask negative = triage.Pop();
  PendingTask high_res = triage.Pop();
  PendingTask low_res = triage.Pop();
  EXPECT_FALSE(triage.HasTasks());
  EXPECT_FALSE(queue->HasPendingHighResolutionTasks());

  EXPECT_TRUE(zero.delayed_run_time.is_null());
  EXPECT_TRUE(negative.delayed_run_time.is_null());
  EXPECT_GE(high_res.delayed_run_time,
            before + TimeDelta::FromMilliseconds(31));
  EXPECT_TRUE(high_res.is_high_res);
  EXPECT_FALSE(low_res.is_high_res);
  EXPECT_FALSE(zero.is_high_res);
  // Sequence numbers follow posting order.
  EXPECT_EQ(0, zero.sequence_num);
  EXPECT_EQ(3, low_res.sequence_num);
}

TEST(IncomingTaskQueueTest, DelayedQueueOrdersByRunTimeThenPostingOrder) {
  scoped_refptr<IncomingTaskQueue> queue = MakeQueue();
  IncomingTaskQueue::Queue& delayed = queue->delayed_tasks();
  TimeTicks t = TimeTicks::Now();
  struct {
    int64_t offset_ms;
    int sequence_num;
  } tasks[] = {{20, 0}, {10, 1}, {20, 2}, {10, 3}, {5, 4}};
  for (const auto& entry : tasks) {
    PendingTask task(FROM_HERE, BindOnce(&Nothing),
                     t + TimeDelta::FromMilliseconds(entry.offset_ms));
    task.sequence_num = entry.sequence_num;
    delayed.Push(std::move(task));
  }
  std::vector<int> order;
  while (delayed.HasTasks())
    order.push_back(delayed.Pop().sequence_num);
  EXPECT_EQ((std::vector<int>{4, 1, 3, 0, 2}), order);
}

TEST(IncomingTaskQueueTest, CancelledTasksAreDroppedFromTheDelayedTop) {
  scoped_refptr<IncomingTaskQueue> queue = MakeQueue();
  IncomingTaskQueue::Queue& delayed = queue->delayed_tasks();
  auto dead = std::make_unique<Receiver>();
  Receiver live;
  TimeTicks t = TimeTicks::Now();
  PendingTask first(FROM_HERE,
                    BindOnce(&Receiver::Hit, dead->weak_factory.GetWeakPtr()),
                    t + TimeDelta::FromMilliseconds(1));
  first.is_high_res = true;
  delayed.Push(std::move(first));
  delayed.Push(PendingTask(
      FROM_HERE, BindOnce(&Receiver::Hit, live.weak_factory.GetWeakPtr()),
      t + TimeDelta::FromMilliseconds(2)));
  EXPECT_TRUE(queue->HasPendingHighResolutionTasks());
  dead.reset();

  ASSERT_TRUE(delayed.HasTasks());
  // The cancelled head went, with its high-resolution count.
  EXPECT_FALSE(queue->HasPendingHighResolutionTasks());
  PendingTask next = delayed.Pop();
  std::move(next.task).Run();
  EXPECT_EQ(1, live.hits);
  EXPECT_FALSE(delayed.HasTasks());
}

TEST(IncomingTaskQueueTest, ClearingTriageKeepsDelayedTasksOnly) {
  scoped_refptr<IncomingTaskQueue> queue = MakeQueue();
  int destroyed = 0;
  queue->AddToIncomingQueue(FROM_HERE, TrackedTask(&destroyed), TimeDelta(),
                            Nestable::kNestable);
  queue->AddToIncomingQueue(FROM_HERE, TrackedTask(&destroyed),
                            TimeDelta::FromMilliseconds(5),
                            Nestable::kNestable);
  queue->AddToIncomingQueue(FROM_HERE, TrackedTask(&destroyed), TimeDelta(),
                            Nestable::kNonNestable);
  ASSERT_TRUE(queue->triage_tasks().HasTasks());  // Reloads all three.
  queue->triage_tasks().Clear();
  EXPECT_EQ(2, destroyed);
  EXPECT_TRUE(queue->delayed_tasks().HasTasks());
  // The delayed one kept its high-resolution mark in the delayed queue.
  EXPECT_TRUE(queue->HasPendingHighResolutionTasks());
  queue->delayed_tasks().Clear();
  EXPECT_EQ(3, destroyed);
  EXPECT_FALSE(queue->HasPendingHighResolutionTasks());
}

TEST(IncomingTaskQueueTest, DeferredQueueKeepsPostingOrder) {
  scoped_refptr<IncomingTaskQueue> queue = MakeQueue();
  IncomingTaskQueue::Queue& deferred = queue->deferred_tasks();
  for (int i = 0; i < 5; ++i) {
    PendingTask task(FROM_HERE, BindOnce(&Nothing));
    task.sequence_num = i;
    deferred.Push(std::move(task));
  }
  EXPECT_EQ(0, deferred.Peek().sequence_num);
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(i, deferred.Pop().sequence_num);
  EXPECT_FALSE(deferred.HasTasks());
}

TEST(IncomingTaskQueueTest, PostAfterLoopDestructionFailsAndDestroysTask) {
  scoped_refptr<IncomingTaskQueue> queue = MakeQueue();
  queue->WillDestroyCurrentMessageLoop();
  int destroyed = 0;
  EXPECT_FALSE(queue->AddToIncomingQueue(FROM_HERE, TrackedTask(&destroyed),
                                         TimeDelta(), Nestable::kNestable));
  EXPECT_EQ(1, destroyed);
  EXPECT_FALSE(queue->triage_tasks().HasTasks());
}

TEST(IncomingTaskQueueDeathTest, NullTaskIsFatal) {
  scoped_refptr<IncomingTaskQueue> queue = MakeQueue();
  EXPECT_DEATH(queue->AddToIncomingQueue(FROM_HERE, OnceClosure(), TimeDelta(),
                                         Nestable::kNestable),
               "");
}

// Counts the wake-ups that a loop's queue asks for.
class CountingPump : public MessagePumpDefault {
 public:
  explicit CountingPump(std::atomic<int>* count) : count_(count) {}
  void ScheduleWork() override {
    ++*count_;
    MessagePumpDefault::ScheduleWork();
  }

 private:
  std::atomic<int>* count_;
};

TEST(IncomingTaskQueueTest, WakesThePumpOncePerDrain) {
  std::atomic<int> wake_ups{0};
  std::unique_ptr<MessageLoop> loop = MessageLoop::CreateUnbound(
      MessageLoop::TYPE_CUSTOM,
      BindOnce(
          [](std::atomic<int>* count) -> std::unique_ptr<MessagePump> {
            return std::make_unique<CountingPump>(count);
          },
          &wake_ups));
  scoped_refptr<SingleThreadTaskRunner> runner = loop->task_runner();
  int ran = 0;
  auto count_run = [](int* ran) { ++*ran; };

  // Before scheduling starts nothing can be woken; the tasks wait.
  runner->PostTask(FROM_HERE, BindOnce(count_run, &ran));
  runner->PostTask(FROM_HERE, BindOnce(count_run, &ran));
  loop->BindToCurrentThread();
  EXPECT_EQ(1, wake_ups.load());  // Starting woke it for the waiting tasks.

  // Posts from several threads to the not yet drained queue add nothing.
  auto post_fifty = [&runner, &ran] {
    for (int i = 0; i < 50; ++i)
      runner->PostTask(FROM_HERE, BindOnce([](int* ran) { ++*ran; }, &ran));
  };
  std::vector<std::unique_ptr<TestThread>> threads;
  for (int i = 0; i < 3; ++i)
    threads.push_back(std::make_unique<TestThread>(post_fifty));
  for (auto& thread : threads)
    thread->Join();
  EXPECT_EQ(1, wake_ups.load());

  RunLoop run_loop;
  run_loop.QuitWhenIdle();
  run_loop.Run();
  EXPECT_EQ(152, ran);  // |ran| is written only by this thread's tasks.

  // The drain found the queue empty, so the next post wakes the pump again.
  int before = wake_ups.load();
  runner->PostTask(FROM_HERE, BindOnce(count_run, &ran));
  EXPECT_EQ(before + 1, wake_ups.load());
  runner->PostTask(FROM_HERE, BindOnce(count_run, &ran));
  EXPECT_EQ(before + 1, wake_ups.load());
}

TEST(PendingTaskTest, BacktraceFollowsThePostingChain) {
  MessageLoop loop;
  const Location outer_from = FROM_HERE;
  std::unique_ptr<PendingTask> inner;
  ThreadTaskRunnerHandle::Get()->PostTask(
      outer_from,
      BindOnce(
          [](std::unique_ptr<PendingTask>* inner) {
            inner->reset(new PendingTask(FROM_HERE, BindOnce(&Nothing)));
          },
          &inner));
  RunLoop run_loop;
  run_loop.QuitWhenIdle();
  run_loop.Run();
  ASSERT_TRUE(inner);
  EXPECT_EQ(outer_from.program_counter(), inner->task_backtrace[0]);
  EXPECT_EQ(nullptr, inner->task_backtrace[1]);

  // Outside any task the chain is empty.
  PendingTask plain(FROM_HERE, BindOnce(&Nothing));
  for (const void* pc : plain.task_backtrace)
    EXPECT_EQ(nullptr, pc);
}

}  // namespace
}  // namespace internal
}  // namespace base
