#include "base/task_scheduler/task_scheduler_impl.h"

#include <windows.h>
#include <objbase.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/location.h"
#include "base/metrics/field_trial.h"
#include "base/metrics/field_trial_param_associator.h"
#include "base/metrics/histogram_base.h"
#include "base/synchronization/waitable_event.h"
#include "base/task_scheduler/environment_config.h"
#include "base/task_scheduler/scoped_set_task_priority_for_current_thread.h"
#include "base/task_scheduler/task_scheduler.h"
#include "base/threading/platform_thread.h"
#include "base/threading/sequenced_task_runner_handle.h"
#include "base/strings/string_util.h"
#include "base/threading/thread.h"
#include "base/threading/thread_id_name_manager.h"
#include "gtest/gtest.h"

namespace base {
namespace internal {
namespace {

// The parameters the installer starts its scheduler with.
TaskScheduler::InitParams InstallerInitParams() {
  const TimeDelta reclaim_time = TimeDelta::FromSeconds(30);
  return TaskScheduler::InitParams(
      SchedulerWorkerPoolParams(1, reclaim_time),
      SchedulerWorkerPoolParams(1, reclaim_time),
      SchedulerWorkerPoolParams(1, reclaim_time),
      SchedulerWorkerPoolParams(1, reclaim_time,
                                SchedulerBackwardCompatibility::INIT_COM_STA));
}

struct RunInfo {
  std::string thread_name;
  TaskPriority priority = TaskPriority::BACKGROUND;
  HRESULT apartment_result = E_FAIL;
  HANDLE thread = nullptr;
};

void RecordRunInfo(RunInfo* info, WaitableEvent* done) {
  info->thread_name = PlatformThread::GetName();
  info->priority = GetTaskPriorityForCurrentThread();
  info->apartment_result = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (SUCCEEDED(info->apartment_result))
    ::CoUninitialize();
  ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(),
                    ::GetCurrentProcess(), &info->thread, SYNCHRONIZE, FALSE,
                    0);
  done->Signal();
}

RunInfo PostAndWait(TaskScheduler* scheduler, const TaskTraits& traits) {
  RunInfo info;
  WaitableEvent done;
  scheduler->PostDelayedTaskWithTraits(
      FROM_HERE, traits, BindOnce(&RecordRunInfo, &info, &done), TimeDelta());
  done.Wait();
  return info;
}

// Names of this process's live threads that a scheduler made.
std::vector<std::string> GetLiveSchedulerThreadNames() {
  std::vector<std::string> names;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE)
    return names;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Thread32First(snapshot, &entry); more;
       more = ::Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != ::GetCurrentProcessId())
      continue;
    const char* name =
        ThreadIdNameManager::GetInstance()->GetName(entry.th32ThreadID);
    if (name && StartsWith(name, "TaskScheduler", CompareCase::SENSITIVE))
      names.push_back(name);
  }
  ::CloseHandle(snapshot);
  return names;
}

class TaskSchedulerImplTest : public testing::Test {
 protected:
  void TearDown() override {
    if (scheduler_) {
      scheduler_->Shutdown();
      scheduler_->Join();
    }
    scheduler_.reset();
    field_trial_list_.reset();
    FieldTrialParamAssociator::GetInstance()->ClearAllParamsForTesting();
  }

  // Installs a trial list whose "BrowserScheduler" trial gives
  // "AllTasksUserBlocking" the value |value|.
  void SetUserBlockingParam(const std::string& value) {
    field_trial_list_.reset();
    FieldTrialParamAssociator::GetInstance()->ClearAllParamsForTesting();
    field_trial_list_ = std::make_unique<FieldTrialList>();
    FieldTrialList::FactoryGetFieldTrial("BrowserScheduler", 100, "Group");
    FieldTrialParamAssociator::GetInstance()->AssociateFieldTrialParams(
        "BrowserScheduler", "Group", {{"AllTasksUserBlocking", value}});
  }

  void CreateAndStart() {
    scheduler_ = std::make_unique<TaskSchedulerImpl>("TaskSchedulerImplTest");
    scheduler_->Start(InstallerInitParams());
  }

  std::unique_ptr<TaskSchedulerImpl> scheduler_;
  std::unique_ptr<FieldTrialList> field_trial_list_;
};

TEST_F(TaskSchedulerImplTest, InstallerSchedulerRunsEachPoolOnItsThreads) {
  TaskScheduler::Create("installer");
  TaskScheduler* const scheduler = TaskScheduler::GetInstance();
  ASSERT_TRUE(scheduler);
  scheduler->Start(InstallerInitParams());

  struct Case {
    TaskTraits traits;
    const char* thread_name;
  } const cases[] = {
      {TaskTraits().WithPriority(TaskPriority::BACKGROUND),
       "TaskSchedulerBackgroundWorker"},
      {TaskTraits().WithPriority(TaskPriority::BACKGROUND).MayBlock(),
       "TaskSchedulerBackgroundBlockingWorker"},
      {TaskTraits().WithPriority(TaskPriority::USER_BLOCKING),
       "TaskSchedulerForegroundWorker"},
      {TaskTraits().MayBlock(), "TaskSchedulerForegroundBlockingWorker"},
      {TaskTraits()
           .WithPriority(TaskPriority::USER_BLOCKING)
           .WithBaseSyncPrimitives(),
       "TaskSchedulerForegroundBlockingWorker"},
  };
  std::vector<HANDLE> threads;
  for (const Case& c : cases) {
    const RunInfo info = PostAndWait(scheduler, c.traits);
    EXPECT_EQ(c.thread_name, info.thread_name);
    EXPECT_EQ(1, scheduler->GetMaxConcurrentTasksWithTraits(c.traits));
    threads.push_back(info.thread);
  }
  // Only the fourth pool's workers live in a single-threaded apartment.
  EXPECT_EQ(S_FALSE,
            PostAndWait(scheduler, TaskTraits().MayBlock()).apartment_result);
  EXPECT_EQ(S_OK, PostAndWait(scheduler, TaskTraits()).apartment_result);

  const std::vector<const HistogramBase*> histograms =
      scheduler->GetHistograms();
  ASSERT_EQ(8u, histograms.size());
  const char* const kPools[] = {"Background", "BackgroundBlocking",
                                "Foreground", "ForegroundBlocking"};
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(std::string(i % 2 ? "TaskScheduler.NumTasksBetweenWaits"
                                : "TaskScheduler.DetachDuration") +
                  ".installer." + kPools[i / 2] + "Pool",
              histograms[i]->histogram_name());
  }

  scoped_refptr<SingleThreadTaskRunner> single_thread =
      scheduler->CreateSingleThreadTaskRunnerWithTraits(
          TaskTraits(), SingleThreadTaskRunnerThreadMode::SHARED);
  RunInfo single_thread_info;
  WaitableEvent done;
  single_thread->PostTask(FROM_HERE,
                          BindOnce(&RecordRunInfo, &single_thread_info, &done));
  done.Wait();
  threads.push_back(single_thread_info.thread);

  // The service thread is running until the scheduler joins.
  std::vector<std::string> live_names = GetLiveSchedulerThreadNames();
  EXPECT_NE(live_names.end(),
            std::find(live_names.begin(), live_names.end(),
                      std::string("TaskSchedulerServiceThread")));

  scheduler->Shutdown();
  scheduler->Join();
  EXPECT_TRUE(GetLiveSchedulerThreadNames().empty());
  for (HANDLE thread : threads) {
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread, 0));
    ::CloseHandle(thread);
  }
  TaskScheduler::SetInstance(nullptr);
  EXPECT_FALSE(TaskScheduler::GetInstance());
}

TEST_F(TaskSchedulerImplTest,
       OnlyTheUserBlockingFieldTrialMovesBackgroundWork) {
  const TaskTraits background =
      TaskTraits().WithPriority(TaskPriority::BACKGROUND);
  for (const char* value : {"true", "True", "1", ""}) {
    SCOPED_TRACE(value);
    const bool moves = std::string(value) == "true";
    SetUserBlockingParam(value);
    CreateAndStart();
    const RunInfo info = PostAndWait(scheduler_.get(), background);
    EXPECT_EQ(moves ? "TaskSchedulerForegroundWorker"
                    : "TaskSchedulerBackgroundWorker",
              info.thread_name);
    EXPECT_EQ(moves ? TaskPriority::USER_BLOCKING : TaskPriority::BACKGROUND,
              info.priority);
    ::CloseHandle(info.thread);
    if (moves) {
      EXPECT_TRUE(scheduler_->SetUserBlockingPriorityIfNeeded(background)
                      .priority_set_explicitly);
      // Blocking work stays in a blocking pool, with its other traits.
      const TaskTraits effective_blocking =
          scheduler_->SetUserBlockingPriorityIfNeeded(
              background.MayBlock().WithShutdownBehavior(
                  TaskShutdownBehavior::BLOCK_SHUTDOWN));
      EXPECT_TRUE(effective_blocking.may_block);
      EXPECT_EQ(TaskShutdownBehavior::BLOCK_SHUTDOWN,
                effective_blocking.shutdown_behavior);
      EXPECT_EQ(static_cast<size_t>(FOREGROUND_BLOCKING),
                GetEnvironmentIndexForTraits(effective_blocking));
    }
    scheduler_->Shutdown();
    scheduler_->Join();
    scheduler_.reset();
  }
}

// Runs |query| on |runner| and returns its answer.
bool AskOn(TaskRunner* runner, OnceCallback<bool()> query) {
  bool answer = false;
  WaitableEvent done;
  runner->PostTask(FROM_HERE, BindOnce(
                                  [](OnceCallback<bool()> query, bool* answer,
                                     WaitableEvent* done) {
                                    *answer = std::move(query).Run();
                                    done->Signal();
                                  },
                                  std::move(query), &answer, &done));
  done.Wait();
  return answer;
}

TEST_F(TaskSchedulerImplTest, RunnersSetTheCurrentRunnerHandles) {
  CreateAndStart();
  scoped_refptr<SequencedTaskRunner> sequenced =
      scheduler_->CreateSequencedTaskRunnerWithTraits(TaskTraits().MayBlock());
  EXPECT_TRUE(AskOn(sequenced.get(),
                    BindOnce(
                        [](SequencedTaskRunner* runner) {
                          return SequencedTaskRunnerHandle::IsSet() &&
                                 SequencedTaskRunnerHandle::Get().get() ==
                                     runner &&
                                 runner->RunsTasksInCurrentSequence();
                        },
                        Unretained(sequenced.get()))));

  scoped_refptr<TaskRunner> parallel =
      scheduler_->CreateTaskRunnerWithTraits(TaskTraits());
  EXPECT_TRUE(
      AskOn(parallel.get(), BindOnce(&TaskRunner::RunsTasksInCurrentSequence,
                                     Unretained(parallel.get()))));
}

TEST_F(TaskSchedulerImplTest, ComRunnerRunsInASingleThreadedApartment) {
  CreateAndStart();
  scoped_refptr<SingleThreadTaskRunner> com =
      scheduler_->CreateCOMSTATaskRunnerWithTraits(
          TaskTraits(), SingleThreadTaskRunnerThreadMode::DEDICATED);
  RunInfo info;
  WaitableEvent done;
  com->PostTask(FROM_HERE, BindOnce(&RecordRunInfo, &info, &done));
  done.Wait();
  EXPECT_EQ(S_FALSE, info.apartment_result);
  EXPECT_EQ(0u, info.thread_name.find("TaskSchedulerSingleThreadCOMSTA"));
  ::CloseHandle(info.thread);
}

TEST_F(TaskSchedulerImplTest, JoinWaitsForTheThreadOfADroppedDedicatedRunner) {
  CreateAndStart();
  scoped_refptr<SingleThreadTaskRunner> dedicated =
      scheduler_->CreateSingleThreadTaskRunnerWithTraits(
          TaskTraits().WithShutdownBehavior(
              TaskShutdownBehavior::CONTINUE_ON_SHUTDOWN),
          SingleThreadTaskRunnerThreadMode::DEDICATED);
  HANDLE thread = nullptr;
  WaitableEvent started, go, in_flush_callback, release;
  dedicated->PostTask(
      FROM_HERE,
      BindOnce(
          [](HANDLE* thread, WaitableEvent* started, WaitableEvent* go) {
            ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(),
                              ::GetCurrentProcess(), thread, SYNCHRONIZE, FALSE,
                              0);
            started->Signal();
            go->Wait();
          },
          &thread, &started, &go));
  started.Wait();
  ASSERT_TRUE(thread);
  // The running task holds the last reference to its runner: when the task
  // is destroyed, its worker is let go while its thread still has the
  // tracker's bookkeeping to do, flush callback included.
  dedicated = nullptr;
  scheduler_->FlushAsync(BindOnce(
      [](WaitableEvent* in_flush_callback, WaitableEvent* release) {
        in_flush_callback->Signal();
        release->Wait();
      },
      &in_flush_callback, &release));
  go.Signal();
  in_flush_callback.Wait();
  scheduler_->Shutdown();
  release.Signal();
  // Join waits for that thread too: the scheduler is destroyed next.
  scheduler_->Join();
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread, 0));
  ::CloseHandle(thread);
  scheduler_.reset();
}

TEST_F(TaskSchedulerImplTest, ShutdownWaitsForBlockShutdownWorkAndThenRefuses) {
  CreateAndStart();
  std::atomic<bool> ran{false};
  WaitableEvent started, release;
  scheduler_->PostDelayedTaskWithTraits(
      FROM_HERE,
      TaskTraits().WithShutdownBehavior(TaskShutdownBehavior::BLOCK_SHUTDOWN),
      BindOnce(
          [](WaitableEvent* started, WaitableEvent* release,
             std::atomic<bool>* ran) {
            started->Signal();
            release->Wait();
            ran->store(true);
          },
          &started, &release, &ran),
      TimeDelta());
  started.Wait();
  // Released from another thread while Shutdown waits (or before).
  Thread releaser("TaskSchedulerImplTestReleaser");
  ASSERT_TRUE(releaser.Start());
  releaser.task_runner()->PostTask(
      FROM_HERE,
      BindOnce([](WaitableEvent* release) { release->Signal(); }, &release));
  scheduler_->Shutdown();
  EXPECT_TRUE(ran.load());
  releaser.Stop();

  std::atomic<bool> late_ran{false};
  scheduler_->PostDelayedTaskWithTraits(
      FROM_HERE,
      TaskTraits().WithShutdownBehavior(TaskShutdownBehavior::BLOCK_SHUTDOWN),
      BindOnce([](std::atomic<bool>* ran) { ran->store(true); }, &late_ran),
      TimeDelta());
  scheduler_->Flush();
  scheduler_->Join();
  EXPECT_FALSE(late_ran.load());
  scheduler_.reset();
}

TEST_F(TaskSchedulerImplTest, FlushIgnoresDelayedTasks) {
  CreateAndStart();
  std::atomic<bool> ran{false};
  scheduler_->PostDelayedTaskWithTraits(
      FROM_HERE, TaskTraits(),
      BindOnce([](std::atomic<bool>* ran) { ran->store(true); }, &ran),
      TimeDelta::FromHours(1));
  scheduler_->Flush();
  bool flushed = false;
  scheduler_->FlushAsync(
      BindOnce([](bool* flushed) { *flushed = true; }, &flushed));
  EXPECT_TRUE(flushed);
  EXPECT_FALSE(ran.load());
}

TEST_F(TaskSchedulerImplTest, TasksPostedBeforeStartRunAfterIt) {
  scheduler_ = std::make_unique<TaskSchedulerImpl>("TaskSchedulerImplTest");
  std::atomic<int> num_ran{0};
  WaitableEvent delayed_done;
  for (int i = 0; i < 3; ++i) {
    scheduler_->PostDelayedTaskWithTraits(
        FROM_HERE, TaskTraits(),
        BindOnce([](std::atomic<int>* num_ran) { num_ran->fetch_add(1); },
                 &num_ran),
        TimeDelta());
  }
  scheduler_->PostDelayedTaskWithTraits(
      FROM_HERE, TaskTraits(),
      BindOnce([](WaitableEvent* done) { done->Signal(); }, &delayed_done),
      TimeDelta::FromMilliseconds(1));
  scheduler_->Start(InstallerInitParams());
  scheduler_->Flush();
  EXPECT_EQ(3, num_ran.load());
  delayed_done.Wait();
}

void Nothing() {}

void SleepThenSet(WaitableEvent* started, std::atomic<bool>* done) {
  started->Signal();
  // Long enough that a destruction that does not wait for this task returns
  // well before it ends.
  PlatformThread::Sleep(TimeDelta::FromMilliseconds(300));
  done->store(true);
}

TEST_F(TaskSchedulerImplTest, CreateTwiceJoinsTheStartedFirstScheduler) {
  TaskScheduler::Create("TaskSchedulerImplTestCreateTwice");
  TaskScheduler* const first = TaskScheduler::GetInstance();
  first->Start(InstallerInitParams());
  WaitableEvent started;
  std::atomic<bool> done{false};
  first->PostDelayedTaskWithTraits(
      FROM_HERE, TaskTraits().WithPriority(TaskPriority::USER_VISIBLE),
      BindOnce(&SleepThenSet, &started, &done), TimeDelta());
  // A delayed task keeps a pointer into the pool on the service thread.
  first->PostDelayedTaskWithTraits(
      FROM_HERE, TaskTraits().WithPriority(TaskPriority::BACKGROUND),
      BindOnce(&Nothing), TimeDelta::FromSeconds(60));
  ASSERT_TRUE(started.TimedWait(TimeDelta::FromSeconds(10)))
      << "the first scheduler never ran its task";

  TaskScheduler::Create("TaskSchedulerImplTestCreateTwice");
  EXPECT_TRUE(done.load())
      << "the first scheduler was freed while its worker still ran a task";
  EXPECT_TRUE(GetLiveSchedulerThreadNames().empty());

  TaskScheduler::SetInstance(nullptr);
}

}  // namespace
}  // namespace internal
}  // namespace base
