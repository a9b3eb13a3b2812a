#include "base/threading/sequenced_worker_pool.h"

#include <atomic>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/strings/string_number_conversions.h"
#include "base/synchronization/waitable_event.h"
#include "base/test/histogram_counts.h"
#include "base/test/bounded_wait.h"
#include "base/test/thread_safe_log.h"
#include "base/threading/platform_thread.h"
#include "base/threading/sequenced_task_runner_handle.h"
#include "gtest/gtest.h"

namespace base {

namespace {

// Counts how many tasks of one sequence are inside their body at once.
class OverlapProbe {
 public:
  void Enter() {
    int now = ++inside_;
    int seen = max_inside_.load();
    while (now > seen && !max_inside_.compare_exchange_weak(seen, now)) {
    }
  }
  void Leave() { --inside_; }
  int max_inside() const { return max_inside_.load(); }

 private:
  std::atomic<int> inside_{0};
  std::atomic<int> max_inside_{0};
};

// Signals its event when destroyed, so a test can see a task dropped.
class DestructionSignal {
 public:
  explicit DestructionSignal(WaitableEvent* event) : event_(event) {}
  ~DestructionSignal() { event_->Signal(); }

 private:
  WaitableEvent* event_;
};

void Noop(DestructionSignal*) {}

class SequencedWorkerPoolTest : public testing::Test {
 protected:
  MessageLoop message_loop_;
};

}  // namespace

TEST_F(SequencedWorkerPoolTest, SecondWorkerIsMadeOnlyWhileNoneWaits) {
  scoped_refptr<SequencedWorkerPool> pool(
      new SequencedWorkerPool(2, "SecondWorkerPool"));
  WaitableEvent first_done;
  pool->PostWorkerTask(
      FROM_HERE, BindOnce(&WaitableEvent::Signal, Unretained(&first_done)));
  ASSERT_TRUE(WaitWithin(&first_done, "the first task"));
  ASSERT_TRUE(
      WaitUntil([&] { return pool->NumberOfWaitingWorkersForTesting() == 1; },
                "the first worker to wait for work"));

  // A worker waits: it takes the task, and no second one is made.
  WaitableEvent blocker_started;
  WaitableEvent release;
  pool->PostWorkerTask(FROM_HERE,
                       BindOnce(
                           [](WaitableEvent* started, WaitableEvent* release) {
                             started->Signal();
                             release->TimedWait(kBoundedWaitLimit);
                           },
                           &blocker_started, &release));
  ASSERT_TRUE(WaitWithin(&blocker_started, "the blocking task"));
  EXPECT_EQ(1u, pool->NumberOfWorkersForTesting());

  // None waits now: the next task gets a second worker.
  WaitableEvent third_done;
  pool->PostWorkerTask(
      FROM_HERE, BindOnce(&WaitableEvent::Signal, Unretained(&third_done)));
  EXPECT_TRUE(WaitWithin(&third_done, "a task beside the blocking one"));
  EXPECT_EQ(2u, pool->NumberOfWorkersForTesting());

  release.Signal();
  pool->Shutdown();
}

TEST_F(SequencedWorkerPoolTest, SameTokenNeverOverlapsWhileOtherTokenRuns) {
  scoped_refptr<SequencedWorkerPool> pool(
      new SequencedWorkerPool(2, "SameTokenPool"));
  SequencedWorkerPool::SequenceToken token_a = pool->GetSequenceToken();
  SequencedWorkerPool::SequenceToken token_b = pool->GetSequenceToken();
  EXPECT_FALSE(token_a.Equals(token_b));

  OverlapProbe probe;
  ThreadSafeLog log;
  WaitableEvent b_ran;
  std::atomic<bool> a1_saw_b{false};

  // The first task of A holds its sequence until B has run on the other
  // worker: B must not queue behind A.
  pool->PostSequencedWorkerTask(
      token_a, FROM_HERE,
      BindOnce(
          [](OverlapProbe* probe, ThreadSafeLog* log, WaitableEvent* b_ran,
             std::atomic<bool>* saw) {
            probe->Enter();
            // Generous: only a pool that serialises B behind A gets here late,
            // and then the test fails instead of hanging.
            *saw = b_ran->TimedWait(TimeDelta::FromSeconds(60));
            log->Add("a1");
            probe->Leave();
          },
          &probe, &log, &b_ran, &a1_saw_b));
  WaitableEvent a2_done;
  pool->PostSequencedWorkerTask(
      token_a, FROM_HERE,
      BindOnce(
          [](OverlapProbe* probe, ThreadSafeLog* log, WaitableEvent* done) {
            probe->Enter();
            log->Add("a2");
            probe->Leave();
            done->Signal();
          },
          &probe, &log, &a2_done));
  pool->PostSequencedWorkerTask(
      token_b, FROM_HERE,
      BindOnce(
          [](ThreadSafeLog* log, WaitableEvent* b_ran) {
            log->Add("b");
            b_ran->Signal();
          },
          &log, &b_ran));

  // Shutdown would stop the pool from making the second worker.
  a2_done.Wait();
  pool->Shutdown();
  EXPECT_TRUE(a1_saw_b);
  EXPECT_EQ(1, probe.max_inside());
  std::vector<std::string> expected = {"b", "a1", "a2"};
  EXPECT_EQ(expected, log.entries());
}

TEST_F(SequencedWorkerPoolTest, WorkerNameAndCurrentSequence) {
  scoped_refptr<SequencedWorkerPool> pool(
      new SequencedWorkerPool(2, "PrefsTaskPool"));
  SequencedWorkerPool::SequenceToken token =
      pool->GetNamedSequenceToken("json_pref_store-x");
  EXPECT_TRUE(token.Equals(pool->GetNamedSequenceToken("json_pref_store-x")));
  EXPECT_FALSE(token.Equals(pool->GetNamedSequenceToken("other")));
  scoped_refptr<SequencedTaskRunner> runner =
      pool->GetSequencedTaskRunner(token);

  // Off the pool there is no sequence and no pool.
  EXPECT_FALSE(
      SequencedWorkerPool::GetSequenceTokenForCurrentThread().IsValid());
  EXPECT_FALSE(SequencedWorkerPool::GetWorkerPoolForCurrentThread());
  EXPECT_FALSE(pool->RunsTasksInCurrentSequence());
  EXPECT_FALSE(runner->RunsTasksInCurrentSequence());

  struct Seen {
    std::string name;
    PlatformThreadId tid = 0;
    bool token_matches = false;
    bool pool_matches = false;
    bool runner_on_sequence = false;
    bool handle_on_sequence = false;
  } seen;
  SequencedWorkerPool* raw_pool = pool.get();
  runner->PostTask(
      FROM_HERE,
      BindOnce(
          [](Seen* seen, SequencedWorkerPool* pool, SequencedTaskRunner* runner,
             SequencedWorkerPool::SequenceToken token) {
            seen->name = PlatformThread::GetName();
            seen->tid = PlatformThread::CurrentId();
            seen->token_matches =
                SequencedWorkerPool::GetSequenceTokenForCurrentThread().Equals(
                    token);
            seen->pool_matches =
                SequencedWorkerPool::GetWorkerPoolForCurrentThread().get() ==
                pool;
            seen->runner_on_sequence = runner->RunsTasksInCurrentSequence();
            // The handle gives this pool's runner for the running token.
            seen->handle_on_sequence =
                SequencedTaskRunnerHandle::Get()->RunsTasksInCurrentSequence();
          },
          &seen, Unretained(raw_pool), Unretained(runner.get()), token));
  pool->Shutdown();

  EXPECT_EQ("PrefsTaskPoolWorker1/" + UintToString(seen.tid), seen.name);
  EXPECT_TRUE(seen.token_matches);
  EXPECT_TRUE(seen.pool_matches);
  EXPECT_TRUE(seen.runner_on_sequence);
  EXPECT_TRUE(seen.handle_on_sequence);
}

TEST_F(SequencedWorkerPoolTest, ShutdownWaitsForBlockingButNotContinue) {
  scoped_refptr<SequencedWorkerPool> pool(
      new SequencedWorkerPool(2, "ShutdownPool"));

  WaitableEvent continue_started;
  WaitableEvent release_continue;
  pool->PostWorkerTaskWithShutdownBehavior(
      FROM_HERE,
      BindOnce(
          [](WaitableEvent* started, WaitableEvent* release) {
            started->Signal();
            release->Wait();
          },
          &continue_started, &release_continue),
      SequencedWorkerPool::CONTINUE_ON_SHUTDOWN);
  continue_started.Wait();

  // The first blocking task holds its sequence until Shutdown() has begun,
  // so the others are surely pending then.
  std::atomic<int> blocking_runs{0};
  SequencedWorkerPool::SequenceToken token = pool->GetSequenceToken();
  EXPECT_TRUE(pool->PostSequencedWorkerTask(
      token, FROM_HERE,
      BindOnce(
          [](SequencedWorkerPool* pool) {
            while (!pool->IsShutdownInProgress())
              PlatformThread::YieldCurrentThread();
          },
          Unretained(pool.get()))));
  for (int i = 0; i < 5; ++i) {
    EXPECT_TRUE(pool->PostSequencedWorkerTask(
        token, FROM_HERE,
        BindOnce([](std::atomic<int>* runs) { ++*runs; }, &blocking_runs)));
  }

  // A delayed task is skippable whatever its runner says, and is dropped.
  WaitableEvent delayed_destroyed;
  std::atomic<bool> delayed_ran{false};
  scoped_refptr<SequencedTaskRunner> blocking_runner =
      pool->GetSequencedTaskRunner(pool->GetSequenceToken());
  EXPECT_TRUE(blocking_runner->PostDelayedTask(
      FROM_HERE,
      BindOnce([](std::atomic<bool>* ran, DestructionSignal*) { *ran = true; },
               &delayed_ran, Owned(new DestructionSignal(&delayed_destroyed))),
      TimeDelta::FromHours(1)));

  const int waits_before =
      HistogramTotalCount("SequencedWorkerPool.ShutdownDelayTime");
  pool->Shutdown(0);
  EXPECT_EQ(5, blocking_runs.load());
  EXPECT_EQ(waits_before + 1,
            HistogramTotalCount("SequencedWorkerPool.ShutdownDelayTime"));

  // Still inside its task: shutdown did not wait for it.
  EXPECT_FALSE(release_continue.IsSignaled());
  delayed_destroyed.Wait();
  EXPECT_FALSE(delayed_ran);

  // No allowance: nothing more is taken.
  EXPECT_FALSE(pool->PostWorkerTask(FROM_HERE, BindOnce([] {})));
  EXPECT_TRUE(pool->IsShutdownInProgress());
  release_continue.Signal();
}

TEST_F(SequencedWorkerPoolTest, RefusedTasksAreDestroyedNotRun) {
  scoped_refptr<SequencedWorkerPool> pool(
      new SequencedWorkerPool(1, "RefusePool"));
  pool->Shutdown(1);
  WaitableEvent destroyed;
  EXPECT_FALSE(pool->PostWorkerTaskWithShutdownBehavior(
      FROM_HERE, BindOnce(&Noop, Owned(new DestructionSignal(&destroyed))),
      SequencedWorkerPool::SKIP_ON_SHUTDOWN));
  EXPECT_TRUE(destroyed.IsSignaled());
  // One blocking task within the allowance, then none.
  EXPECT_TRUE(pool->PostWorkerTask(FROM_HERE, BindOnce([] {})));
  EXPECT_FALSE(pool->PostWorkerTask(FROM_HERE, BindOnce([] {})));
}

namespace {

// On a worker: waits until Shutdown() has begun, then posts a blocking task
// and notes whether the pool took it and whether that task ran.
void PostAfterShutdownBegins(SequencedWorkerPool* pool,
                             WaitableEvent* started,
                             bool* accepted,
                             std::atomic<bool>* follow_up_ran) {
  started->Signal();
  // Shutdown() cannot return while this task runs, so the wait is bounded.
  while (!pool->IsShutdownInProgress())
    PlatformThread::YieldCurrentThread();
  *accepted = pool->PostWorkerTask(
      FROM_HERE,
      BindOnce([](std::atomic<bool>* ran) { *ran = true; }, follow_up_ran));
}

}  // namespace

TEST_F(SequencedWorkerPoolTest, BlockingPostsAfterShutdownDependOnPoster) {
  scoped_refptr<SequencedWorkerPool> pool(
      new SequencedWorkerPool(2, "LatePostPool"));
  WaitableEvent skip_started;
  WaitableEvent block_started;
  bool skip_accepted = true;
  bool block_accepted = false;
  std::atomic<bool> skip_follow_up_ran{false};
  std::atomic<bool> block_follow_up_ran{false};

  pool->PostWorkerTaskWithShutdownBehavior(
      FROM_HERE,
      BindOnce(&PostAfterShutdownBegins, Unretained(pool.get()), &skip_started,
               &skip_accepted, &skip_follow_up_ran),
      SequencedWorkerPool::SKIP_ON_SHUTDOWN);
  skip_started.Wait();
  pool->PostWorkerTask(
      FROM_HERE,
      BindOnce(&PostAfterShutdownBegins, Unretained(pool.get()), &block_started,
               &block_accepted, &block_follow_up_ran));
  block_started.Wait();

  // An allowance, yet a skippable task may not add blocking work.
  pool->Shutdown(5);
  EXPECT_FALSE(skip_accepted);
  EXPECT_FALSE(skip_follow_up_ran);
  // A blocking task may, and Shutdown() waited for what it added.
  EXPECT_TRUE(block_accepted);
  EXPECT_TRUE(block_follow_up_ran);
}

namespace {

// Records where it dies.
class RecordingPool : public SequencedWorkerPool {
 public:
  RecordingPool(PlatformThreadId* deleted_on, OnceClosure on_delete)
      : SequencedWorkerPool(1, "RecordingPool"),
        deleted_on_(deleted_on),
        on_delete_(std::move(on_delete)) {}

 private:
  ~RecordingPool() override {
    *deleted_on_ = PlatformThread::CurrentId();
    std::move(on_delete_).Run();
  }

  PlatformThreadId* deleted_on_;
  OnceClosure on_delete_;
};

}  // namespace

TEST_F(SequencedWorkerPoolTest,
       LastReleaseOnWorkerDeletesOnConstructingSequence) {
  PlatformThreadId deleted_on = 0;
  RunLoop run_loop;
  scoped_refptr<SequencedWorkerPool> pool(
      new RecordingPool(&deleted_on, run_loop.QuitClosure()));

  WaitableEvent started;
  WaitableEvent go;
  // The task's bound reference outlives every other one.
  pool->PostWorkerTaskWithShutdownBehavior(
      FROM_HERE,
      BindOnce(
          [](scoped_refptr<SequencedWorkerPool>, WaitableEvent* started,
             WaitableEvent* go) {
            started->Signal();
            go->Wait();
          },
          pool, &started, &go),
      SequencedWorkerPool::CONTINUE_ON_SHUTDOWN);
  started.Wait();
  pool->Shutdown();
  pool = nullptr;
  EXPECT_EQ(0u, deleted_on);
  go.Signal();
  run_loop.Run();
  EXPECT_EQ(PlatformThread::CurrentId(), deleted_on);
}

}  // namespace base
