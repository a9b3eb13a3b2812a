#include "base/threading/thread_task_runner_handle.h"

#include "base/memory/scoped_refptr.h"
#include "base/test/test_task_runner.h"
#include "base/threading/sequenced_task_runner_handle.h"
#include "gtest/gtest.h"

namespace base {

TEST(TaskRunnerHandleTest, ThreadHandleIsCurrentWhileAlive) {
  EXPECT_FALSE(ThreadTaskRunnerHandle::IsSet());
  EXPECT_FALSE(SequencedTaskRunnerHandle::IsSet());
  scoped_refptr<SingleThreadTaskRunner> runner = new TestTaskRunner();
  {
    ThreadTaskRunnerHandle handle(runner);
    EXPECT_TRUE(ThreadTaskRunnerHandle::IsSet());
    EXPECT_EQ(runner.get(), ThreadTaskRunnerHandle::Get().get());
    // Without a sequenced handle, the thread's runner is the sequence's.
    EXPECT_TRUE(SequencedTaskRunnerHandle::IsSet());
    EXPECT_EQ(runner.get(), SequencedTaskRunnerHandle::Get().get());
  }
  EXPECT_FALSE(ThreadTaskRunnerHandle::IsSet());
}

TEST(TaskRunnerHandleTest, SequencedHandleComesFirst) {
  scoped_refptr<SingleThreadTaskRunner> thread_runner = new TestTaskRunner();
  scoped_refptr<SingleThreadTaskRunner> sequence_runner = new TestTaskRunner();
  ThreadTaskRunnerHandle thread_handle(thread_runner);
  {
    SequencedTaskRunnerHandle sequence_handle(sequence_runner);
    EXPECT_EQ(sequence_runner.get(), SequencedTaskRunnerHandle::Get().get());
    EXPECT_EQ(thread_runner.get(), ThreadTaskRunnerHandle::Get().get());
  }
  EXPECT_EQ(thread_runner.get(), SequencedTaskRunnerHandle::Get().get());
}

TEST(TaskRunnerHandleDeathTest, GetWithoutRunnerIsFatal) {
  EXPECT_DEATH(ThreadTaskRunnerHandle::Get(), "");
  EXPECT_DEATH(SequencedTaskRunnerHandle::Get(), "");
}

}  // namespace base
