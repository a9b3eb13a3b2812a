#include "base/threading/thread.h"

#include <objbase.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/message_loop/message_loop.h"
#include "base/message_loop/message_pump_default.h"
#include "base/run_loop.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/waitable_event.h"
#include "base/test/flag_on_destroy.h"
#include "base/test/bounded_wait.h"
#include "gtest/gtest.h"

namespace base {

namespace {

void SetTrue(bool* flag) {
  *flag = true;
}

// Runs |task| on |thread| and waits for it; a loop that never wakes for it
// fails the test instead of hanging it.
void RunOnThreadAndWait(Thread* thread, OnceClosure task) {
  // Shared with the task, which may still signal after a failed wait.
  auto done = std::make_shared<WaitableEvent>();
  thread->task_runner()->PostTask(
      FROM_HERE, BindOnce(
                     [](OnceClosure task, std::shared_ptr<WaitableEvent> done) {
                       std::move(task).Run();
                       done->Signal();
                     },
                     std::move(task), done));
  testing::AssertionResult waited =
      WaitWithin(done.get(), "a task posted to the thread");
  // A loop that never woke would hang the Stop that follows as well: end
  // here, with the reason.
  if (!waited) {
    fprintf(stderr, "%s\n", waited.message());
    fflush(stderr);
    abort();
  }
}

// Runs |query| on |thread| and returns its answer.
bool AskOnThread(Thread* thread, OnceCallback<bool()> query) {
  bool answer = false;
  RunOnThreadAndWait(
      thread, BindOnce([](OnceCallback<bool()> query,
                          bool* answer) { *answer = std::move(query).Run(); },
                       std::move(query), &answer));
  return answer;
}

// The sequence number the loop gave the running task: each post to a loop
// takes the next one.
void RecordSequenceNum(int* sequence_num) {
  *sequence_num = MessageLoop::current()->current_pending_task()->sequence_num;
}

// Records its hooks, in order, with the loop each ran under.
class HookThread : public Thread {
 public:
  HookThread() : Thread("HookThread") {}
  ~HookThread() override { Stop(); }

  std::vector<std::string> events() {
    AutoLock lock(lock_);
    return events_;
  }

 protected:
  void BeforeBind() override {
    Record(MessageLoop::current() ? "before-bind:bound" : "before-bind");
  }
  void Init() override {
    Record(MessageLoop::current() ? "init:bound" : "init");
  }
  void Run(RunLoop* run_loop) override {
    Record("run");
    Thread::Run(run_loop);
  }
  void CleanUp() override {
    Record(MessageLoop::current() ? "cleanup:bound" : "cleanup");
  }

 private:
  void Record(const std::string& event) {
    AutoLock lock(lock_);
    events_.push_back(event);
  }

  Lock lock_;
  std::vector<std::string> events_;
};

}  // namespace

TEST(ThreadTest, TasksPostedBeforeTheLoopRunsAreRun) {
  Thread thread("Early");
  ASSERT_TRUE(thread.Start());
  bool ran = false;
  // Very likely before the thread got to its loop; run in any case.
  thread.task_runner()->PostTask(FROM_HERE, BindOnce(&SetTrue, &ran));
  thread.Stop();
  EXPECT_TRUE(ran);
}

TEST(ThreadTest, StopRunsReadyTasksDropsUndueOnesAndJoins) {
  Thread thread("Stopper");
  ASSERT_TRUE(thread.StartAndWaitForTesting());
  EXPECT_TRUE(thread.IsRunning());

  // Holds the thread while more tasks queue up behind it.
  WaitableEvent release;
  thread.task_runner()->PostTask(
      FROM_HERE, BindOnce(&WaitableEvent::Wait, Unretained(&release)));
  bool ready_ran[3] = {false, false, false};
  for (bool& ran : ready_ran)
    thread.task_runner()->PostTask(FROM_HERE, BindOnce(&SetTrue, &ran));
  bool delayed_ran = false;
  bool delayed_destroyed = false;
  thread.task_runner()->PostDelayedTask(
      FROM_HERE,
      BindOnce(&FlagOnDestroy::Run,
               Owned(new FlagOnDestroy(&delayed_destroyed)), &delayed_ran),
      TimeDelta::FromHours(1));

  thread.StopSoon();
  release.Signal();
  thread.Stop();

  for (bool ran : ready_ran)
    EXPECT_TRUE(ran);
  EXPECT_FALSE(delayed_ran);
  EXPECT_TRUE(delayed_destroyed);
  EXPECT_FALSE(thread.IsRunning());
  EXPECT_EQ(nullptr, thread.task_runner());
  EXPECT_EQ(nullptr, thread.message_loop());
}

TEST(ThreadTest, StopOfUnstartedThreadDoesNothing) {
  Thread thread("Never");
  thread.Stop();
  thread.StopSoon();
  EXPECT_FALSE(thread.IsRunning());
  EXPECT_EQ(nullptr, thread.task_runner());
  EXPECT_FALSE(thread.WaitUntilThreadStarted());
}

TEST(ThreadTest, RestartsAfterStop) {
  Thread thread("Twice");
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(thread.Start());
    EXPECT_TRUE(AskOnThread(&thread, BindOnce(
                                         [](PlatformThreadId id) {
                                           return PlatformThread::CurrentId() ==
                                                  id;
                                         },
                                         thread.GetThreadId())));
    EXPECT_NE(PlatformThread::CurrentId(), thread.GetThreadId());
    // The loop ran a task and found its queue empty: the stop is the next
    // post, and it must wake the loop.
    StopWithin(&thread, "the thread to stop after its loop went idle");
    EXPECT_FALSE(thread.IsRunning());
  }
}

TEST(ThreadTest, HooksRunInOrderOnTheThread) {
  HookThread thread;
  ASSERT_TRUE(thread.Start());
  thread.Stop();
  EXPECT_EQ((std::vector<std::string>{"before-bind", "init:bound", "run",
                                      "cleanup:bound"}),
            thread.events());
}

TEST(ThreadTest, ComStaThreadGetsUILoop) {
  Thread thread("Sta");
  thread.init_com_with_mta(false);
  ASSERT_TRUE(thread.Start());
  EXPECT_TRUE(AskOnThread(&thread, BindOnce([] {
    // Already in a single-threaded apartment.
    return MessageLoop::current()->IsType(MessageLoop::TYPE_UI) &&
           CoInitializeEx(nullptr, COINIT_MULTITHREADED) == RPC_E_CHANGED_MODE;
  })));
}

TEST(ThreadTest, PumpFactoryMakesCustomLoop) {
  Thread thread("Custom");
  Thread::Options options(MessageLoop::TYPE_IO, 0);
  bool factory_ran = false;
  options.message_pump_factory = BindOnce(
      [](bool* ran) -> std::unique_ptr<MessagePump> {
        *ran = true;
        return std::unique_ptr<MessagePump>(new MessagePumpDefault());
      },
      &factory_ran);
  ASSERT_TRUE(thread.StartWithOptions(std::move(options)));
  EXPECT_TRUE(AskOnThread(&thread, BindOnce([] {
    return MessageLoop::current()->IsType(MessageLoop::TYPE_CUSTOM);
  })));
  EXPECT_TRUE(factory_ran);
}

TEST(ThreadTest, IOThreadRunsTasks) {
  Thread thread("IO");
  ASSERT_TRUE(
      thread.StartWithOptions(Thread::Options(MessageLoop::TYPE_IO, 0)));
  EXPECT_TRUE(AskOnThread(&thread, BindOnce(&MessageLoopForIO::IsCurrent)));
}

TEST(ThreadTest, StopSoonTwicePostsOneQuitTask) {
  Thread thread("StopSoonTwice");
  ASSERT_TRUE(thread.Start());
  WaitableEvent release;
  thread.task_runner()->PostTask(
      FROM_HERE, BindOnce(&WaitableEvent::Wait, Unretained(&release)));
  int before = -1;
  int after = -1;
  thread.task_runner()->PostTask(FROM_HERE,
                                 BindOnce(&RecordSequenceNum, &before));
  thread.StopSoon();
  thread.StopSoon();
  // Still ready before the quit task lets the loop go idle.
  thread.task_runner()->PostTask(FROM_HERE,
                                 BindOnce(&RecordSequenceNum, &after));
  release.Signal();
  thread.Stop();
  EXPECT_EQ(2, after - before) << "one quit task in between";
}

TEST(ThreadTest, NonJoinableThreadObjectOutlivesItsLastTask) {
  auto thread = std::make_unique<Thread>("NonJoinable");
  Thread::Options options;
  options.joinable = false;
  ASSERT_TRUE(thread->StartWithOptions(std::move(options)));
  WaitableEvent task_started;
  WaitableEvent release;
  thread->task_runner()->PostTask(
      FROM_HERE, BindOnce(
                     [](WaitableEvent* started, WaitableEvent* release) {
                       started->Signal();
                       release->Wait();
                     },
                     &task_started, &release));
  ASSERT_TRUE(WaitWithin(&task_started, "the task on the thread"));

  // Deleted elsewhere while its thread is still busy: the thread still has
  // the quit task and its loop's destruction to run on this object.
  WaitableEvent deleted;
  Thread deleter("Deleter");
  ASSERT_TRUE(deleter.Start());
  deleter.task_runner()->PostTask(
      FROM_HERE,
      BindOnce(
          [](std::unique_ptr<Thread> thread, WaitableEvent* deleted) {
            thread.reset();
            deleted->Signal();
          },
          std::move(thread), &deleted));
  EXPECT_FALSE(deleted.TimedWait(TimeDelta::FromMilliseconds(300)))
      << "the object was freed while its thread still ran";
  release.Signal();
  EXPECT_TRUE(WaitWithin(&deleted, "the thread object's destruction"));
  deleter.Stop();
}

// Other threads may ask for the runner and the running state while the
// thread ends and destroys its loop.
TEST(ThreadTest, TaskRunnerAndIsRunningAreSafeWhileTheThreadEnds) {
  for (int round = 0; round < 50; ++round) {
    Thread thread("Ending");
    ASSERT_TRUE(thread.StartAndWaitForTesting());
    std::atomic<bool> stop_reading{false};
    Thread reader("Reader");
    ASSERT_TRUE(reader.Start());
    WaitableEvent reading;
    reader.task_runner()->PostTask(
        FROM_HERE, BindOnce(
                       [](Thread* thread, std::atomic<bool>* stop,
                          WaitableEvent* reading) {
                         reading->Signal();
                         // No posting here: a stream of tasks would keep
                         // the stopping loop from ever going idle.
                         while (!stop->load()) {
                           scoped_refptr<SingleThreadTaskRunner> runner =
                               thread->task_runner();
                           thread->IsRunning();
                         }
                       },
                       &thread, &stop_reading, &reading));
    ASSERT_TRUE(WaitWithin(&reading, "the reader"));
    thread.StopSoon();
    ASSERT_TRUE(WaitUntil([&] { return !thread.task_runner(); },
                          "the thread to let go of its loop"));
    stop_reading.store(true);
    reader.Stop();
    thread.Stop();
    EXPECT_FALSE(thread.IsRunning());
  }
}

}  // namespace base
