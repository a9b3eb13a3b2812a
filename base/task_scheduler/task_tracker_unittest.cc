#include "base/task_scheduler/task_tracker.h"

#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/location.h"
#include "base/metrics/histogram_base.h"
#include "base/metrics/statistics_recorder.h"
#include "base/synchronization/waitable_event.h"
#include "base/task_scheduler/scoped_set_task_priority_for_current_thread.h"
#include "base/task_scheduler/sequence_token.h"
#include "base/test/histogram_counts.h"
#include "base/test/scoped_fake_ticks.h"
#include "base/test/test_task_runner.h"
#include "base/threading/platform_thread.h"
#include "base/threading/sequence_local_storage_map.h"
#include "base/threading/sequenced_task_runner_handle.h"
#include "base/threading/simple_thread.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/test/bounded_wait.h"
#include "gtest/gtest.h"

namespace base {
namespace internal {

namespace {

constexpr char kShutdownCountHistogram[] =
    "TaskScheduler.BlockShutdownTasksPostedDuringShutdown";

class TaskTrackerForTest : public TaskTracker {
 public:
  explicit TaskTrackerForTest(
      StringPiece label, int max_background = std::numeric_limits<int>::max())
      : TaskTracker(label, max_background) {}

  using TaskTracker::HasIncompleteUndelayedTasksForTesting;
  using TaskTracker::NumFlushWaitersForTesting;
};

// Runs a closure on its own thread.
class ClosureThread : public SimpleThread {
 public:
  explicit ClosureThread(OnceClosure closure)
      : SimpleThread("ClosureThread"), closure_(std::move(closure)) {}
  void Run() override { std::move(closure_).Run(); }

 private:
  OnceClosure closure_;
};

// What a test task saw and whether its bound state is gone.
struct TaskRecord {
  std::atomic<int> runs{0};
  std::atomic<bool> bound_state_destroyed{false};
  // The current sequence token when the bound state was destroyed.
  SequenceToken token_at_destruction;
};

// Bound into a task; notes its own destruction.
class BoundState {
 public:
  explicit BoundState(TaskRecord* record) : record_(record) {}
  ~BoundState() {
    record_->token_at_destruction = SequenceToken::GetForCurrentThread();
    record_->bound_state_destroyed = true;
  }
  TaskRecord* record() const { return record_; }

 private:
  TaskRecord* const record_;
};

void RecordRun(BoundState* state) {
  ++state->record()->runs;
}

OnceClosure RecordingClosure(TaskRecord* record) {
  return BindOnce(&RecordRun, Owned(new BoundState(record)));
}

void Increment(int* value) {
  ++*value;
}

void RunAndPop(TaskTracker* tracker, scoped_refptr<Sequence> sequence) {
  tracker->RunAndPopNextTask(std::move(sequence), nullptr);
}

void WaitForShutdownStarted(TaskTracker* tracker) {
  while (!tracker->HasShutdownStarted())
    PlatformThread::YieldCurrentThread();
}

class TaskSchedulerTaskTrackerTest : public testing::Test {
 protected:
  static Task MakeTask(OnceClosure closure,
                       TaskShutdownBehavior behavior,
                       TimeDelta delay = TimeDelta(),
                       TaskPriority priority = TaskPriority::USER_VISIBLE) {
    return Task(
        FROM_HERE, std::move(closure),
        TaskTraits().WithShutdownBehavior(behavior).WithPriority(priority),
        delay);
  }

  // Posts |task| through the tracker into a new sequence; null when the
  // tracker refuses it.
  scoped_refptr<Sequence> Post(Task task) {
    if (!tracker_.WillPostTask(task))
      return nullptr;
    scoped_refptr<Sequence> sequence = new Sequence;
    sequence->PushTask(std::move(task));
    return sequence;
  }

  scoped_refptr<Sequence> Run(scoped_refptr<Sequence> sequence) {
    return tracker_.RunAndPopNextTask(std::move(sequence), nullptr);
  }

  std::unique_ptr<ClosureThread> StartThread(OnceClosure closure) {
    auto thread = std::make_unique<ClosureThread>(std::move(closure));
    thread->Start();
    return thread;
  }

  std::unique_ptr<ClosureThread> StartShutdownThread() {
    return StartThread(BindOnce(&TaskTracker::Shutdown, Unretained(&tracker_)));
  }

  // Starts |num_flushers| threads calling Flush(), each adding 1 to
  // |flushed| once Flush() returned, and returns once all of them are asleep
  // waiting for the pending tasks.
  std::vector<std::unique_ptr<ClosureThread>> StartWaitingFlushers(
      int num_flushers, std::atomic<int>* flushed) {
    std::vector<std::unique_ptr<ClosureThread>> flushers;
    for (int i = 0; i < num_flushers; ++i) {
      flushers.push_back(StartThread(BindOnce(
          [](TaskTracker* tracker, std::atomic<int>* flushed) {
            tracker->Flush();
            ++*flushed;
          },
          Unretained(&tracker_), flushed)));
    }
    EXPECT_TRUE(WaitUntil(
        [&] { return tracker_.NumFlushWaitersForTesting() == num_flushers; },
        "every flusher to wait"));
    return flushers;
  }

  // Waits, bounded, until |expected| flushers returned, then joins them. A
  // flusher left asleep fails the test; its thread is abandoned rather than
  // joined, which would hang.
  static void ExpectFlushersReturn(
      std::vector<std::unique_ptr<ClosureThread>>* flushers,
      const std::atomic<int>& flushed) {
    const int expected = static_cast<int>(flushers->size());
    if (!WaitUntil([&] { return flushed.load() == expected; },
                   "every Flush() caller to wake")) {
      ADD_FAILURE() << flushed.load() << " of " << expected
                    << " Flush() callers woke";
      for (auto& flusher : *flushers)
        flusher.release();
      return;
    }
    for (auto& flusher : *flushers)
      flusher->Join();
  }

  TaskTrackerForTest tracker_{"TrackerTest"};
};

}  // namespace

TEST_F(TaskSchedulerTaskTrackerTest, PostingRulesAcrossShutdown) {
  const HistogramBase::Count total_before =
      HistogramTotalCount(kShutdownCountHistogram);
  const HistogramBase::Count ones_before =
      HistogramSampleCount(kShutdownCountHistogram, 1);
  TaskRecord before_continue, before_skip, before_block;
  scoped_refptr<Sequence> continue_seq =
      Post(MakeTask(RecordingClosure(&before_continue),
                    TaskShutdownBehavior::CONTINUE_ON_SHUTDOWN));
  scoped_refptr<Sequence> skip_seq = Post(MakeTask(
      RecordingClosure(&before_skip), TaskShutdownBehavior::SKIP_ON_SHUTDOWN));
  scoped_refptr<Sequence> block_seq = Post(MakeTask(
      RecordingClosure(&before_block), TaskShutdownBehavior::BLOCK_SHUTDOWN));
  ASSERT_TRUE(continue_seq && skip_seq && block_seq);

  // The pending BLOCK_SHUTDOWN task holds shutdown open.
  std::unique_ptr<ClosureThread> shutdown_thread = StartShutdownThread();
  WaitForShutdownStarted(&tracker_);
  EXPECT_FALSE(tracker_.IsShutdownComplete());

  // Started: only BLOCK_SHUTDOWN work is still accepted.
  TaskRecord during_continue, during_skip, during_block;
  EXPECT_FALSE(Post(MakeTask(RecordingClosure(&during_continue),
                             TaskShutdownBehavior::CONTINUE_ON_SHUTDOWN)));
  EXPECT_FALSE(Post(MakeTask(RecordingClosure(&during_skip),
                             TaskShutdownBehavior::SKIP_ON_SHUTDOWN)));
  // A refused task's closure is destroyed by its poster, here at once.
  EXPECT_TRUE(during_continue.bound_state_destroyed);
  EXPECT_TRUE(during_skip.bound_state_destroyed);
  scoped_refptr<Sequence> during_block_seq = Post(MakeTask(
      RecordingClosure(&during_block), TaskShutdownBehavior::BLOCK_SHUTDOWN));
  ASSERT_TRUE(during_block_seq);

  // Tasks posted before shutdown and taken now: only BLOCK_SHUTDOWN runs.
  EXPECT_FALSE(Run(continue_seq));
  EXPECT_FALSE(Run(skip_seq));
  EXPECT_EQ(0, before_continue.runs);
  EXPECT_EQ(0, before_skip.runs);
  EXPECT_TRUE(before_skip.bound_state_destroyed);
  EXPECT_FALSE(Run(block_seq));
  EXPECT_EQ(1, before_block.runs);
  // A run task's bound arguments die in its context too.
  EXPECT_TRUE(before_block.token_at_destruction == block_seq->token());
  // The one posted during shutdown still holds it open.
  EXPECT_FALSE(tracker_.IsShutdownComplete());
  EXPECT_FALSE(Run(during_block_seq));
  EXPECT_EQ(1, during_block.runs);

  shutdown_thread->Join();
  EXPECT_TRUE(tracker_.IsShutdownComplete());
  // Shutdown recorded the one BLOCK_SHUTDOWN post it saw, once.
  EXPECT_EQ(total_before + 1, HistogramTotalCount(kShutdownCountHistogram));
  EXPECT_EQ(ones_before + 1, HistogramSampleCount(kShutdownCountHistogram, 1));

  // Complete: nothing is accepted any more.
  TaskRecord after_block;
  EXPECT_FALSE(Post(MakeTask(RecordingClosure(&after_block),
                             TaskShutdownBehavior::BLOCK_SHUTDOWN)));
  EXPECT_TRUE(after_block.bound_state_destroyed);
  EXPECT_FALSE(tracker_.HasIncompleteUndelayedTasksForTesting());
}

TEST_F(TaskSchedulerTaskTrackerTest, SkipOnShutdownTaskIsSkippedAndNotAwaited) {
  TaskRecord record;
  scoped_refptr<Sequence> sequence = Post(MakeTask(
      RecordingClosure(&record), TaskShutdownBehavior::SKIP_ON_SHUTDOWN));
  ASSERT_TRUE(sequence);
  EXPECT_TRUE(tracker_.HasIncompleteUndelayedTasksForTesting());

  // Returns at once on this very thread: a queued SKIP_ON_SHUTDOWN task does
  // not hold shutdown up.
  tracker_.Shutdown();
  EXPECT_TRUE(tracker_.IsShutdownComplete());

  EXPECT_FALSE(Run(sequence));
  EXPECT_EQ(0, record.runs);
  EXPECT_TRUE(record.bound_state_destroyed);
  // Destroyed in the task's context.
  EXPECT_TRUE(record.token_at_destruction == sequence->token());
  // A skipped task no longer counts as pending.
  EXPECT_FALSE(tracker_.HasIncompleteUndelayedTasksForTesting());
}

namespace {

void SignalAndWait(WaitableEvent* started, WaitableEvent* release) {
  started->Signal();
  release->Wait();
}

}  // namespace

TEST_F(TaskSchedulerTaskTrackerTest, RunningTaskHoldsUpShutdownUnlessContinue) {
  for (TaskShutdownBehavior behavior :
       {TaskShutdownBehavior::SKIP_ON_SHUTDOWN,
        TaskShutdownBehavior::CONTINUE_ON_SHUTDOWN}) {
    const bool holds_up = behavior == TaskShutdownBehavior::SKIP_ON_SHUTDOWN;
    SCOPED_TRACE(holds_up ? "skip" : "continue");
    TaskTrackerForTest tracker("RunningTest");
    WaitableEvent started, release;
    Task task =
        MakeTask(BindOnce(&SignalAndWait, &started, &release), behavior);
    ASSERT_TRUE(tracker.WillPostTask(task));
    scoped_refptr<Sequence> sequence = new Sequence;
    sequence->PushTask(std::move(task));
    std::unique_ptr<ClosureThread> worker =
        StartThread(BindOnce(&RunAndPop, Unretained(&tracker), sequence));
    started.Wait();

    std::unique_ptr<ClosureThread> shutdown_thread;
    if (holds_up) {
      shutdown_thread =
          StartThread(BindOnce(&TaskTracker::Shutdown, Unretained(&tracker)));
      WaitForShutdownStarted(&tracker);
      EXPECT_FALSE(tracker.IsShutdownComplete());
    } else {
      tracker.Shutdown();  // Would never return if the task held it up.
    }
    release.Signal();
    worker->Join();
    if (shutdown_thread)
      shutdown_thread->Join();
    EXPECT_TRUE(tracker.IsShutdownComplete());
  }
}

TEST_F(TaskSchedulerTaskTrackerTest, DelayedBlockShutdownTaskDoesNotHoldUp) {
  TaskRecord record;
  scoped_refptr<Sequence> sequence = Post(
      MakeTask(RecordingClosure(&record), TaskShutdownBehavior::BLOCK_SHUTDOWN,
               TimeDelta::FromMilliseconds(1)));
  ASSERT_TRUE(sequence);
  // Delayed tasks are never pending for Flush.
  EXPECT_FALSE(tracker_.HasIncompleteUndelayedTasksForTesting());

  tracker_.Shutdown();  // Returns at once.
  EXPECT_TRUE(tracker_.IsShutdownComplete());

  // Due after shutdown: skipped like any SKIP_ON_SHUTDOWN task.
  EXPECT_FALSE(Run(sequence));
  EXPECT_EQ(0, record.runs);
  EXPECT_FALSE(tracker_.HasIncompleteUndelayedTasksForTesting());
}

TEST_F(TaskSchedulerTaskTrackerTest, FlushReturnsAtOnceAndIgnoresDelayedTasks) {
  tracker_.Flush();  // Nothing was ever posted.

  TaskRecord delayed_record;
  scoped_refptr<Sequence> delayed = Post(MakeTask(
      RecordingClosure(&delayed_record), TaskShutdownBehavior::SKIP_ON_SHUTDOWN,
      TimeDelta::FromSeconds(30)));
  ASSERT_TRUE(delayed);
  tracker_.Flush();  // The delayed task does not count.

  TaskRecord record;
  scoped_refptr<Sequence> undelayed = Post(MakeTask(
      RecordingClosure(&record), TaskShutdownBehavior::SKIP_ON_SHUTDOWN));
  EXPECT_TRUE(tracker_.HasIncompleteUndelayedTasksForTesting());
  // Running the delayed one subtracts nothing.
  Run(delayed);
  EXPECT_EQ(1, delayed_record.runs);
  EXPECT_TRUE(tracker_.HasIncompleteUndelayedTasksForTesting());
  Run(undelayed);
  EXPECT_FALSE(tracker_.HasIncompleteUndelayedTasksForTesting());
  tracker_.Flush();
}

TEST_F(TaskSchedulerTaskTrackerTest, EveryFlushCallerWakesWhenTasksRun) {
  TaskRecord record;
  scoped_refptr<Sequence> sequence = Post(MakeTask(
      RecordingClosure(&record), TaskShutdownBehavior::SKIP_ON_SHUTDOWN));
  ASSERT_TRUE(sequence);

  // All of them asleep on the condition variable before the count drops.
  std::atomic<int> flushed{0};
  std::vector<std::unique_ptr<ClosureThread>> flushers =
      StartWaitingFlushers(4, &flushed);

  Run(sequence);
  ExpectFlushersReturn(&flushers, flushed);
  EXPECT_EQ(1, record.runs);
  EXPECT_EQ(0, tracker_.NumFlushWaitersForTesting());
}

TEST_F(TaskSchedulerTaskTrackerTest, EveryFlushCallerWakesOnShutdown) {
  TaskRecord record;
  // Never run: only the completion of shutdown can end the flushes.
  scoped_refptr<Sequence> sequence = Post(MakeTask(
      RecordingClosure(&record), TaskShutdownBehavior::SKIP_ON_SHUTDOWN));
  ASSERT_TRUE(sequence);

  std::atomic<int> flushed{0};
  std::vector<std::unique_ptr<ClosureThread>> flushers =
      StartWaitingFlushers(3, &flushed);
  int flushed_async = 0;
  tracker_.FlushAsync(BindOnce(&Increment, &flushed_async));
  EXPECT_EQ(0, flushed_async);

  tracker_.Shutdown();
  EXPECT_EQ(1, flushed_async);
  ExpectFlushersReturn(&flushers, flushed);
  EXPECT_TRUE(tracker_.HasIncompleteUndelayedTasksForTesting());
  // Flush after completion returns at once too.
  tracker_.Flush();
}

TEST_F(TaskSchedulerTaskTrackerTest, FlushAsync) {
  // Nothing pending: runs before returning.
  int immediate = 0;
  tracker_.FlushAsync(BindOnce(&Increment, &immediate));
  EXPECT_EQ(1, immediate);

  TaskRecord record;
  scoped_refptr<Sequence> sequence = Post(MakeTask(
      RecordingClosure(&record), TaskShutdownBehavior::SKIP_ON_SHUTDOWN));
  ASSERT_TRUE(sequence);

  // A second request replaces the first, which is dropped unrun.
  int first = 0;
  int second = 0;
  tracker_.FlushAsync(BindOnce(&Increment, &first));
  tracker_.FlushAsync(BindOnce(&Increment, &second));
  EXPECT_EQ(0, first);
  EXPECT_EQ(0, second);

  Run(sequence);
  EXPECT_EQ(0, first);
  EXPECT_EQ(1, second);

  // Runs once only.
  TaskRecord record2;
  Run(Post(MakeTask(RecordingClosure(&record2),
                    TaskShutdownBehavior::SKIP_ON_SHUTDOWN)));
  EXPECT_EQ(1, second);
}

TEST_F(TaskSchedulerTaskTrackerTest,
       ThousandthPostDuringShutdownRecordedAtOnce) {
  const HistogramBase::Count total_before =
      HistogramTotalCount(kShutdownCountHistogram);
  const HistogramBase::Count max_before =
      HistogramSampleCount(kShutdownCountHistogram, 1000);

  TaskRecord before;
  scoped_refptr<Sequence> first = Post(MakeTask(
      RecordingClosure(&before), TaskShutdownBehavior::BLOCK_SHUTDOWN));
  std::unique_ptr<ClosureThread> shutdown_thread = StartShutdownThread();
  WaitForShutdownStarted(&tracker_);

  int runs = 0;
  std::vector<scoped_refptr<Sequence>> during;
  for (int i = 0; i < 1001; ++i) {
    during.push_back(Post(MakeTask(BindOnce(&Increment, &runs),
                                   TaskShutdownBehavior::BLOCK_SHUTDOWN)));
    ASSERT_TRUE(during.back());
    if (i == 998) {
      EXPECT_EQ(total_before, HistogramTotalCount(kShutdownCountHistogram));
    }
    if (i == 999) {
      // The 1,000th is recorded the moment it is posted.
      EXPECT_EQ(total_before + 1, HistogramTotalCount(kShutdownCountHistogram));
      EXPECT_EQ(max_before + 1,
                HistogramSampleCount(kShutdownCountHistogram, 1000));
    }
  }

  Run(first);
  for (auto& sequence : during)
    Run(sequence);
  shutdown_thread->Join();
  EXPECT_EQ(1001, runs);
  // Nothing more recorded, not by the 1,001st post nor by Shutdown.
  EXPECT_EQ(total_before + 1, HistogramTotalCount(kShutdownCountHistogram));
}

namespace {

class RecordingObserver : public CanScheduleSequenceObserver {
 public:
  void OnCanScheduleSequence(scoped_refptr<Sequence> sequence) override {
    sequences.push_back(std::move(sequence));
  }
  std::vector<scoped_refptr<Sequence>> sequences;
};

}  // namespace

TEST_F(TaskSchedulerTaskTrackerTest, LatencyRecordedForRunAndSkippedTasks) {
  ScopedFakeTicks clock(TimeTicks() + TimeDelta::FromMicroseconds(1000));
  TaskTrackerForTest tracker("LatencyTest");
  const std::string visible_blocking =
      "TaskScheduler.TaskLatencyMicroseconds.LatencyTest."
      "UserVisibleTaskPriority_MayBlock";
  const std::string background =
      "TaskScheduler.TaskLatencyMicroseconds.LatencyTest."
      "BackgroundTaskPriority";
  ASSERT_TRUE(StatisticsRecorder::FindHistogram(visible_blocking));
  ASSERT_TRUE(StatisticsRecorder::FindHistogram(
      "TaskScheduler.TaskLatencyMicroseconds.LatencyTest."
      "UserBlockingTaskPriority"));

  // Histograms live as long as the process: count from here.
  const HistogramBase::Count visible_total =
      HistogramTotalCount(visible_blocking);
  const HistogramBase::Count visible_250 =
      HistogramSampleCount(visible_blocking, 250);
  const HistogramBase::Count background_total = HistogramTotalCount(background);
  const HistogramBase::Count background_50 =
      HistogramSampleCount(background, 50);

  TaskRecord record;
  Task task(FROM_HERE, RecordingClosure(&record),
            TaskTraits().WithBaseSyncPrimitives(), TimeDelta());
  ASSERT_TRUE(tracker.WillPostTask(task));
  scoped_refptr<Sequence> sequence = new Sequence;
  sequence->PushTask(std::move(task));  // Sequenced at 1000 us.
  clock.SetNow(TimeTicks() + TimeDelta::FromMicroseconds(1250));
  tracker.RunAndPopNextTask(sequence, nullptr);
  EXPECT_EQ(1, record.runs);
  EXPECT_EQ(visible_250 + 1, HistogramSampleCount(visible_blocking, 250));
  EXPECT_EQ(visible_total + 1, HistogramTotalCount(visible_blocking));

  // A skipped task is recorded too.
  Task skipped(FROM_HERE, BindOnce(&Increment, static_cast<int*>(nullptr)),
               TaskTraits().WithPriority(TaskPriority::BACKGROUND),
               TimeDelta());
  ASSERT_TRUE(tracker.WillPostTask(skipped));
  sequence->PushTask(std::move(skipped));
  ASSERT_EQ(sequence, tracker.WillScheduleSequence(sequence, nullptr));
  tracker.Shutdown();
  clock.SetNow(TimeTicks() + TimeDelta::FromMicroseconds(1300));
  tracker.RunAndPopNextTask(sequence, nullptr);
  EXPECT_EQ(background_total + 1, HistogramTotalCount(background));
  EXPECT_EQ(background_50 + 1, HistogramSampleCount(background, 50));
}

TEST_F(TaskSchedulerTaskTrackerTest, BackgroundSequencesBeyondLimitWait) {
  ScopedFakeTicks clock(TimeTicks() + TimeDelta::FromMicroseconds(1000));
  TaskTrackerForTest tracker("BackgroundLimitTest", 1);
  RecordingObserver observer_a, observer_b;

  auto push = [&tracker](Sequence* sequence, int* runs) {
    Task task(FROM_HERE, BindOnce(&Increment, runs),
              TaskTraits().WithPriority(TaskPriority::BACKGROUND), TimeDelta());
    ASSERT_TRUE(tracker.WillPostTask(task));
    sequence->PushTask(std::move(task));
  };

  int runs_a = 0;
  int runs_b = 0;
  scoped_refptr<Sequence> a = new Sequence;
  scoped_refptr<Sequence> b = new Sequence;
  push(a.get(), &runs_a);  // A1 at t=1000.
  clock.SetNow(TimeTicks() + TimeDelta::FromMicroseconds(2000));
  push(b.get(), &runs_b);  // B1 at t=2000.
  push(a.get(), &runs_a);  // A2 at t=2000: ties with B1.

  EXPECT_EQ(a, tracker.WillScheduleSequence(a, &observer_a));
  // The limit is reached: B waits.
  EXPECT_FALSE(tracker.WillScheduleSequence(b, &observer_b));

  // Non-background sequences are never held back.
  scoped_refptr<Sequence> visible = new Sequence;
  Task visible_task(FROM_HERE, BindOnce(&Increment, &runs_a), TaskTraits(),
                    TimeDelta());
  visible->PushTask(std::move(visible_task));
  RecordingObserver unused;
  EXPECT_EQ(visible, tracker.WillScheduleSequence(visible, &unused));

  // After A1, A's next task is as old as B's: the waiting one goes first.
  EXPECT_FALSE(tracker.RunAndPopNextTask(a, &observer_a));
  EXPECT_EQ(1, runs_a);
  ASSERT_EQ(1u, observer_b.sequences.size());
  EXPECT_EQ(b, observer_b.sequences[0]);
  EXPECT_TRUE(observer_a.sequences.empty());

  // B empties; A gets its slot back.
  EXPECT_FALSE(tracker.RunAndPopNextTask(b, &observer_b));
  EXPECT_EQ(1, runs_b);
  ASSERT_EQ(1u, observer_a.sequences.size());
  EXPECT_EQ(a, observer_a.sequences[0]);

  // Nothing waits now: A stays scheduled while it has work.
  clock.SetNow(TimeTicks() + TimeDelta::FromMicroseconds(3000));
  push(a.get(), &runs_a);
  EXPECT_EQ(a, tracker.RunAndPopNextTask(a, &observer_a));
  EXPECT_FALSE(tracker.RunAndPopNextTask(a, &observer_a));
  EXPECT_EQ(3, runs_a);
}

namespace {

struct ContextSeen {
  SequenceToken sequence_token;
  bool task_token_valid = false;
  TaskPriority priority = TaskPriority::USER_VISIBLE;
  bool sls_set = false;
  bool sequenced_handle_set = false;
  bool thread_handle_set = false;
  scoped_refptr<SequencedTaskRunner> sequenced_runner;
};

void RecordContext(ContextSeen* seen) {
  seen->sequence_token = SequenceToken::GetForCurrentThread();
  seen->task_token_valid = TaskToken::GetForCurrentThread().IsValid();
  seen->priority = GetTaskPriorityForCurrentThread();
  seen->sls_set = SequenceLocalStorageMap::IsSetForCurrentThread();
  seen->thread_handle_set = ThreadTaskRunnerHandle::IsSet();
  seen->sequenced_handle_set = SequencedTaskRunnerHandle::IsSet();
  if (seen->sequenced_handle_set)
    seen->sequenced_runner = SequencedTaskRunnerHandle::Get();
}

}  // namespace

TEST_F(TaskSchedulerTaskTrackerTest, TaskRunsInItsSequenceContext) {
  scoped_refptr<TestTaskRunner> runner = new TestTaskRunner;
  runner->set_runs_tasks_in_current_sequence(false);

  for (int kind = 0; kind < 3; ++kind) {
    ContextSeen seen;
    Task task(FROM_HERE, BindOnce(&RecordContext, &seen),
              TaskTraits().WithPriority(TaskPriority::USER_BLOCKING),
              TimeDelta());
    if (kind == 1)
      task.sequenced_task_runner_ref = runner;
    if (kind == 2)
      task.single_thread_task_runner_ref = runner;
    scoped_refptr<Sequence> sequence = Post(std::move(task));
    ASSERT_TRUE(sequence);
    Run(sequence);

    EXPECT_TRUE(seen.sequence_token == sequence->token());
    EXPECT_TRUE(seen.task_token_valid);
    EXPECT_EQ(TaskPriority::USER_BLOCKING, seen.priority);
    EXPECT_TRUE(seen.sls_set);
    EXPECT_EQ(kind == 2, seen.thread_handle_set);
    EXPECT_EQ(kind != 0, seen.sequenced_handle_set);
    if (kind != 0) {
      EXPECT_EQ(runner, seen.sequenced_runner);
    }

    // All gone once the task is done.
    EXPECT_FALSE(SequenceToken::GetForCurrentThread().IsValid());
    EXPECT_FALSE(TaskToken::GetForCurrentThread().IsValid());
    EXPECT_EQ(TaskPriority::USER_VISIBLE, GetTaskPriorityForCurrentThread());
    EXPECT_FALSE(SequenceLocalStorageMap::IsSetForCurrentThread());
    EXPECT_FALSE(ThreadTaskRunnerHandle::IsSet());
  }
  // The tasks no longer hold the runner.
  EXPECT_TRUE(runner->HasOneRef());
}

}  // namespace internal
}  // namespace base
