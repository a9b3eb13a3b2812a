#include "base/task_scheduler/scheduler_worker_pool_impl.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/callback.h"
#include "base/location.h"
#include "base/metrics/histogram_base.h"
#include "base/metrics/histogram_samples.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/waitable_event.h"
#include "base/task_scheduler/delayed_task_manager.h"
#include "base/task_scheduler/task_tracker.h"
#include "base/task_scheduler/task_traits.h"
#include "base/threading/platform_thread.h"
#include "base/threading/scoped_blocking_call.h"
#include "base/threading/thread.h"
#include "gtest/gtest.h"

namespace base {
namespace internal {
namespace {

constexpr TimeDelta kLongReclaimTime = TimeDelta::FromHours(1);
constexpr TimeDelta kShortReclaimTime = TimeDelta::FromMilliseconds(5);

std::atomic<int> g_label_counter{0};

void SignalEvent(WaitableEvent* event) {
  event->Signal();
}

class SchedulerWorkerPoolImplTest : public testing::Test {
 protected:
  SchedulerWorkerPoolImplTest()
      : task_tracker_("SchedulerWorkerPoolImplTest"),
        service_thread_("SchedulerWorkerPoolImplTestService") {}

  void SetUp() override {
    ASSERT_TRUE(service_thread_.Start());
    delayed_task_manager_.Start(service_thread_.task_runner());
    // Histograms are process-wide: every pool gets fresh ones.
    label_ = "Test" + std::to_string(g_label_counter.fetch_add(1));
    pool_ = std::make_unique<SchedulerWorkerPoolImpl>(
        label_, "TestLabel", ThreadPriority::NORMAL, &task_tracker_,
        &delayed_task_manager_);
  }

  void TearDown() override {
    service_thread_.Stop();
    pool_->DisallowWorkerCleanup();
    pool_->Join();
    pool_.reset();
  }

  void StartPool(int max_threads, TimeDelta reclaim_time) {
    pool_->Start(SchedulerWorkerPoolParams(max_threads, reclaim_time),
                 service_thread_.task_runner(),
                 SchedulerWorkerPoolImpl::WorkerEnvironment::NONE);
  }

  // Posts |num_tasks| tasks to |runner| that each wait for |release|, and
  // returns once all of them run at the same time: the pool has made a
  // worker for each.
  static void OccupyWorkers(TaskRunner* runner,
                            int num_tasks,
                            WaitableEvent* release) {
    std::atomic<int> num_started{0};
    WaitableEvent all_started;
    for (int i = 0; i < num_tasks; ++i) {
      runner->PostTask(
          FROM_HERE,
          BindOnce(
              [](std::atomic<int>* started, int num_tasks,
                 WaitableEvent* all_started, WaitableEvent* release) {
                if (started->fetch_add(1) + 1 == num_tasks)
                  all_started->Signal();
                release->Wait();
              },
              &num_started, num_tasks, &all_started, release));
    }
    all_started.Wait();
  }

  // Runs a task that, inside a blocking scope of |blocking_type|, posts a
  // second task to the same runner and waits for it. Returns the pool's
  // worker capacity seen inside that scope, once the first task is done.
  size_t CapacityWhileBlockedOnAnotherTask(BlockingType blocking_type) {
    scoped_refptr<TaskRunner> runner =
        pool_->CreateTaskRunnerWithTraits(TaskTraits().MayBlock());
    size_t capacity_inside = 0;
    WaitableEvent other_ran, done;
    runner->PostTask(
        FROM_HERE,
        BindOnce(
            [](SchedulerWorkerPoolImpl* pool, TaskRunner* runner,
               BlockingType blocking_type, size_t* capacity_inside,
               WaitableEvent* other_ran, WaitableEvent* done) {
              {
                ScopedBlockingCall blocking(blocking_type);
                *capacity_inside = pool->GetWorkerCapacityForTesting();
                runner->PostTask(FROM_HERE, BindOnce(&SignalEvent, other_ran));
                other_ran->Wait();
              }
              done->Signal();
            },
            Unretained(pool_.get()), Unretained(runner.get()), blocking_type,
            &capacity_inside, &other_ran, &done));
    done.Wait();
    return capacity_inside;
  }

  TaskTracker task_tracker_;
  DelayedTaskManager delayed_task_manager_;
  Thread service_thread_;
  std::string label_;
  std::unique_ptr<SchedulerWorkerPoolImpl> pool_;
};

TEST_F(SchedulerWorkerPoolImplTest, TasksPostedBeforeStartRunAfterIt) {
  scoped_refptr<TaskRunner> runner =
      pool_->CreateTaskRunnerWithTraits(TaskTraits());
  WaitableEvent first, second;
  EXPECT_TRUE(runner->PostTask(FROM_HERE, BindOnce(&SignalEvent, &first)));
  EXPECT_TRUE(runner->PostTask(FROM_HERE, BindOnce(&SignalEvent, &second)));
  EXPECT_EQ(0u, pool_->NumberOfWorkersForTesting());

  // Two wake-ups before start with a capacity of 4: two woken workers and
  // one idle one.
  StartPool(4, kLongReclaimTime);
  EXPECT_EQ(3u, pool_->NumberOfWorkersForTesting());
  first.Wait();
  second.Wait();
  EXPECT_EQ(4, pool_->GetMaxConcurrentTasks());
}

TEST_F(SchedulerWorkerPoolImplTest, WorkersAreNamedAfterThePoolAndBound) {
  StartPool(2, kLongReclaimTime);
  scoped_refptr<TaskRunner> runner =
      pool_->CreateTaskRunnerWithTraits(TaskTraits());
  std::string name;
  bool runs_in_sequence = false;
  WaitableEvent done;
  runner->PostTask(FROM_HERE, BindOnce(
                                  [](std::string* name, bool* runs,
                                     TaskRunner* runner, WaitableEvent* done) {
                                    *name = PlatformThread::GetName();
                                    *runs =
                                        runner->RunsTasksInCurrentSequence();
                                    done->Signal();
                                  },
                                  &name, &runs_in_sequence,
                                  Unretained(runner.get()), &done));
  done.Wait();
  EXPECT_EQ("TaskSchedulerTestLabelWorker", name);
  EXPECT_TRUE(runs_in_sequence);
  EXPECT_FALSE(runner->RunsTasksInCurrentSequence());
}

TEST_F(SchedulerWorkerPoolImplTest, SequencedRunnerKeepsOrderAndIdentity) {
  StartPool(4, kLongReclaimTime);
  scoped_refptr<SequencedTaskRunner> runner =
      pool_->CreateSequencedTaskRunnerWithTraits(TaskTraits());
  Lock lock;
  std::vector<int> order;
  std::atomic<int> not_in_sequence{0};
  for (int i = 0; i < 20; ++i) {
    runner->PostTask(
        FROM_HERE,
        BindOnce(
            [](Lock* lock, std::vector<int>* order, int i,
               SequencedTaskRunner* runner, std::atomic<int>* wrong) {
              if (!runner->RunsTasksInCurrentSequence())
                wrong->fetch_add(1);
              AutoLock auto_lock(*lock);
              order->push_back(i);
            },
            &lock, &order, i, Unretained(runner.get()), &not_in_sequence));
  }
  WaitableEvent done;
  runner->PostTask(FROM_HERE, BindOnce(&SignalEvent, &done));
  done.Wait();
  AutoLock auto_lock(lock);
  ASSERT_EQ(20u, order.size());
  for (int i = 0; i < 20; ++i)
    EXPECT_EQ(i, order[i]);
  EXPECT_EQ(0, not_in_sequence.load());
}

TEST_F(SchedulerWorkerPoolImplTest, HigherPriorityWaitingSequenceRunsFirst) {
  StartPool(1, kLongReclaimTime);
  WaitableEvent blocker_started, release_blocker;
  pool_->CreateTaskRunnerWithTraits(TaskTraits())
      ->PostTask(FROM_HERE,
                 BindOnce(
                     [](WaitableEvent* started, WaitableEvent* release) {
                       started->Signal();
                       release->Wait();
                     },
                     &blocker_started, &release_blocker));
  blocker_started.Wait();

  Lock lock;
  std::vector<TaskPriority> order;
  auto record = [](Lock* lock, std::vector<TaskPriority>* order,
                   TaskPriority priority) {
    AutoLock auto_lock(*lock);
    order->push_back(priority);
  };
  const TaskPriority priorities[] = {TaskPriority::BACKGROUND,
                                     TaskPriority::USER_BLOCKING,
                                     TaskPriority::USER_VISIBLE};
  for (TaskPriority priority : priorities) {
    pool_->CreateTaskRunnerWithTraits(TaskTraits().WithPriority(priority))
        ->PostTask(FROM_HERE, BindOnce(record, &lock, &order, priority));
  }
  // The only worker is busy: everything waits in the queue.
  EXPECT_EQ(1u, pool_->NumberOfWorkersForTesting());
  release_blocker.Signal();

  WaitableEvent done;
  pool_
      ->CreateTaskRunnerWithTraits(
          TaskTraits().WithPriority(TaskPriority::BACKGROUND))
      ->PostTask(FROM_HERE, BindOnce(&SignalEvent, &done));
  done.Wait();
  AutoLock auto_lock(lock);
  ASSERT_EQ(3u, order.size());
  EXPECT_EQ(TaskPriority::USER_BLOCKING, order[0]);
  EXPECT_EQ(TaskPriority::USER_VISIBLE, order[1]);
  EXPECT_EQ(TaskPriority::BACKGROUND, order[2]);
}

TEST_F(SchedulerWorkerPoolImplTest, IdleWorkersBelowTheTopDetach) {
  constexpr int kNumWorkers = 3;
  StartPool(kNumWorkers, kShortReclaimTime);
  scoped_refptr<TaskRunner> runner =
      pool_->CreateTaskRunnerWithTraits(TaskTraits());

  WaitableEvent release;
  OccupyWorkers(runner.get(), kNumWorkers, &release);
  EXPECT_EQ(static_cast<size_t>(kNumWorkers),
            pool_->NumberOfWorkersForTesting());
  release.Signal();

  // All but the top of the idle stack go away.
  pool_->WaitForWorkersDetachedForTesting(kNumWorkers - 1);
  EXPECT_EQ(1u, pool_->NumberOfWorkersForTesting());
  std::unique_ptr<HistogramSamples> before_detach =
      pool_->num_tasks_before_detach_histogram()->SnapshotSamples();
  EXPECT_EQ(kNumWorkers - 1, before_detach->TotalCount());
  EXPECT_EQ(
      0, pool_->detach_duration_histogram()->SnapshotSamples()->TotalCount());

  // New work makes a worker again, which records how long the pool went
  // without the detached one.
  WaitableEvent done;
  runner->PostTask(FROM_HERE, BindOnce(&SignalEvent, &done));
  done.Wait();
  EXPECT_GE(pool_->NumberOfWorkersForTesting(), 1u);
  EXPECT_EQ(
      1, pool_->detach_duration_histogram()->SnapshotSamples()->TotalCount());
}

TEST_F(SchedulerWorkerPoolImplTest, CleanupDisallowedKeepsIdleWorkers) {
  constexpr int kNumWorkers = 2;
  StartPool(kNumWorkers, kShortReclaimTime);
  pool_->DisallowWorkerCleanup();
  scoped_refptr<TaskRunner> runner =
      pool_->CreateTaskRunnerWithTraits(TaskTraits());
  WaitableEvent release;
  OccupyWorkers(runner.get(), kNumWorkers, &release);
  release.Signal();
  pool_->WaitForWorkersIdleForTesting(kNumWorkers);
  EXPECT_EQ(static_cast<size_t>(kNumWorkers),
            pool_->NumberOfWorkersForTesting());
}

TEST_F(SchedulerWorkerPoolImplTest,
       WillBlockRaisesCapacityAtOnceMayBlockLater) {
  StartPool(1, kLongReclaimTime);
  // In both the second task runs only because the capacity went up while the
  // first held the only regular slot: at once on entry for WILL_BLOCK, by the
  // service thread's periodic adjustment for MAY_BLOCK.
  EXPECT_EQ(1u, CapacityWhileBlockedOnAnotherTask(BlockingType::MAY_BLOCK));
  EXPECT_EQ(1u, pool_->GetWorkerCapacityForTesting());
  EXPECT_EQ(2u, CapacityWhileBlockedOnAnotherTask(BlockingType::WILL_BLOCK));
  EXPECT_EQ(1u, pool_->GetWorkerCapacityForTesting());
  EXPECT_EQ(2u, pool_->NumberOfWorkersForTesting());
}

TEST_F(SchedulerWorkerPoolImplTest, ShortMayBlockAndIdleWaitsChangeNothing) {
  StartPool(1, kLongReclaimTime);
  WaitableEvent done;
  pool_->CreateTaskRunnerWithTraits(TaskTraits().MayBlock())
      ->PostTask(FROM_HERE,
                 BindOnce(
                     [](WaitableEvent* done) {
                       { ScopedBlockingCall blocking(BlockingType::MAY_BLOCK); }
                       done->Signal();
                     },
                     &done));
  done.Wait();
  pool_->WaitForWorkersIdleForTesting(1);
  // The idle worker's own waits happen outside tasks and are ignored too.
  pool_->AdjustWorkerCapacityForTesting();
  EXPECT_EQ(1u, pool_->GetWorkerCapacityForTesting());
  EXPECT_EQ(1u, pool_->NumberOfWorkersForTesting());
}

TEST_F(SchedulerWorkerPoolImplTest, NeverMoreThanTheMaximumOfWorkers) {
  constexpr int kNumTasks = 260;
  StartPool(kNumTasks, kLongReclaimTime);
  scoped_refptr<TaskRunner> runner =
      pool_->CreateTaskRunnerWithTraits(TaskTraits());
  std::atomic<int> num_started{0};
  WaitableEvent max_started, release;
  for (int i = 0; i < kNumTasks; ++i) {
    runner->PostTask(
        FROM_HERE,
        BindOnce(
            [](std::atomic<int>* started, WaitableEvent* max_started,
               WaitableEvent* release) {
              if (started->fetch_add(1) + 1 ==
                  static_cast<int>(
                      SchedulerWorkerPoolImpl::kMaxNumberOfWorkers)) {
                max_started->Signal();
              }
              release->Wait();
            },
            &num_started, &max_started, &release));
  }
  max_started.Wait();
  EXPECT_EQ(SchedulerWorkerPoolImpl::kMaxNumberOfWorkers,
            pool_->NumberOfWorkersForTesting());
  release.Signal();
  WaitableEvent done;
  runner->PostTask(FROM_HERE, BindOnce(&SignalEvent, &done));
  done.Wait();
  EXPECT_EQ(SchedulerWorkerPoolImpl::kMaxNumberOfWorkers,
            pool_->NumberOfWorkersForTesting());
}

TEST_F(SchedulerWorkerPoolImplTest, DelayedTasksWaitForTheirDelay) {
  StartPool(1, kLongReclaimTime);
  scoped_refptr<SequencedTaskRunner> runner =
      pool_->CreateSequencedTaskRunnerWithTraits(TaskTraits());
  std::atomic<bool> late_ran{false};
  EXPECT_TRUE(runner->PostDelayedTask(
      FROM_HERE,
      BindOnce([](std::atomic<bool>* ran) { ran->store(true); }, &late_ran),
      TimeDelta::FromHours(1)));
  WaitableEvent done;
  EXPECT_TRUE(runner->PostDelayedTask(FROM_HERE, BindOnce(&SignalEvent, &done),
                                      TimeDelta::FromMilliseconds(1)));
  done.Wait();
  EXPECT_FALSE(late_ran.load());
}

TEST_F(SchedulerWorkerPoolImplTest, PostAfterShutdownIsRefused) {
  StartPool(1, kLongReclaimTime);
  task_tracker_.Shutdown();
  EXPECT_FALSE(pool_->CreateTaskRunnerWithTraits(TaskTraits())
                   ->PostTask(FROM_HERE, BindOnce([] {})));
}

}  // namespace
}  // namespace internal
}  // namespace base
