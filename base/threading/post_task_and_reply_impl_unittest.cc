#include "base/threading/post_task_and_reply_impl.h"

#include <string>
#include <vector>

#include "base/bind.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/task_runner.h"
#include "base/test/flag_on_destroy.h"
#include "base/test/test_task_runner.h"
#include "base/test/thread_safe_log.h"
#include "base/threading/thread.h"
#include "gtest/gtest.h"

namespace base {

namespace {

// Bound into the task: logs its run and its destruction with the thread.
class TaskState {
 public:
  TaskState(ThreadSafeLog* log, PlatformThreadId worker)
      : log_(log), worker_(worker) {}
  ~TaskState() {
    log_->Add(PlatformThread::CurrentId() == worker_
                  ? "task destroyed on worker"
                  : "task destroyed elsewhere");
  }
  void Run() {
    log_->Add(PlatformThread::CurrentId() == worker_ ? "task ran on worker"
                                                     : "task ran elsewhere");
  }

 private:
  ThreadSafeLog* const log_;
  const PlatformThreadId worker_;
};

}  // namespace

TEST(PostTaskAndReplyTest, ReplyRunsOnOriginAfterTaskRanAndDied) {
  MessageLoop loop;
  Thread worker("Worker");
  ASSERT_TRUE(worker.Start());
  const PlatformThreadId worker_id = worker.GetThreadId();
  const PlatformThreadId origin_id = PlatformThread::CurrentId();
  ThreadSafeLog log;
  RunLoop run_loop;

  ASSERT_TRUE(worker.task_runner()->PostTaskAndReply(
      FROM_HERE,
      BindOnce(&TaskState::Run, Owned(new TaskState(&log, worker_id))),
      BindOnce(
          [](ThreadSafeLog* log, PlatformThreadId origin,
             RepeatingClosure quit) {
            log->Add(PlatformThread::CurrentId() == origin
                         ? "reply ran on origin"
                         : "reply ran elsewhere");
            quit.Run();
          },
          &log, origin_id, run_loop.QuitClosure())));
  run_loop.Run();
  worker.Stop();

  EXPECT_EQ((std::vector<std::string>{"task ran on worker",
                                      "task destroyed on worker",
                                      "reply ran on origin"}),
            log.entries());
}

TEST(PostTaskAndReplyTest, RefusedPostDestroysTaskAndReplyAtOnce) {
  MessageLoop loop;
  scoped_refptr<TestTaskRunner> refusing = new TestTaskRunner();
  refusing->set_refuse_tasks(true);
  refusing->set_runs_tasks_in_current_sequence(false);
  bool task_ran = false, task_destroyed = false;
  bool reply_ran = false, reply_destroyed = false;
  EXPECT_FALSE(refusing->PostTaskAndReply(
      FROM_HERE,
      BindOnce(&FlagOnDestroy::Run, Owned(new FlagOnDestroy(&task_destroyed)),
               &task_ran),
      BindOnce(&FlagOnDestroy::Run, Owned(new FlagOnDestroy(&reply_destroyed)),
               &reply_ran)));
  EXPECT_TRUE(task_destroyed);
  EXPECT_TRUE(reply_destroyed);
  EXPECT_FALSE(task_ran);
  EXPECT_FALSE(reply_ran);
}

TEST(PostTaskAndReplyTest, ReplyToSameThread) {
  MessageLoop loop;
  std::vector<std::string> log;
  RunLoop run_loop;
  ASSERT_TRUE(loop.task_runner()->PostTaskAndReply(
      FROM_HERE,
      BindOnce([](std::vector<std::string>* log) { log->push_back("task"); },
               &log),
      BindOnce(
          [](std::vector<std::string>* log, RepeatingClosure quit) {
            log->push_back("reply");
            quit.Run();
          },
          &log, run_loop.QuitClosure())));
  EXPECT_TRUE(log.empty());
  run_loop.Run();
  EXPECT_EQ((std::vector<std::string>{"task", "reply"}), log);
}

}  // namespace base
