#include "base/threading/simple_thread.h"

#include <windows.h>

#include <string>

#include "base/strings/string_number_conversions.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/thread_id_name_manager.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Records what its thread sees, and runs until released.
class RecordingThread : public SimpleThread {
 public:
  explicit RecordingThread(const std::string& prefix,
                           const Options& options = Options())
      : SimpleThread(prefix, options) {}

  void Run() override {
    run_id = PlatformThread::CurrentId();
    run_name = PlatformThread::GetName();
    kernel_priority = ::GetThreadPriority(::GetCurrentThread());
    running.Signal();
    release.Wait();
  }

  WaitableEvent running;
  WaitableEvent release;
  PlatformThreadId run_id = 0;
  std::string run_name;
  int kernel_priority = -100;
};

TEST(SimpleThreadTest, NamedPrefixSlashThreadId) {
  RecordingThread thread("Worker");
  EXPECT_EQ(0u, thread.tid());
  EXPECT_FALSE(thread.HasBeenStarted());

  thread.Start();
  // Start returns once the thread has its id and name, before Run is done.
  ASSERT_NE(0u, thread.tid());
  EXPECT_TRUE(thread.HasBeenStarted());
  const std::string expected = "Worker/" + UintToString(thread.tid());
  EXPECT_STREQ(expected.c_str(),
               ThreadIdNameManager::GetInstance()->GetName(thread.tid()));

  thread.running.Wait();
  EXPECT_EQ(thread.tid(), thread.run_id);
  EXPECT_EQ(expected, thread.run_name);
  EXPECT_EQ(THREAD_PRIORITY_NORMAL, thread.kernel_priority);
  EXPECT_FALSE(thread.HasBeenJoined());

  thread.release.Signal();
  thread.Join();
  EXPECT_TRUE(thread.HasBeenJoined());
  EXPECT_STREQ("", ThreadIdNameManager::GetInstance()->GetName(thread.tid()));
}

TEST(SimpleThreadTest, OptionsGiveStackPriorityAndJoinability) {
  SimpleThread::Options options(ThreadPriority::BACKGROUND);
  options.stack_size = 256 * 1024;
  RecordingThread background("Low", options);
  background.Start();
  background.running.Wait();
  EXPECT_EQ(THREAD_PRIORITY_LOWEST, background.kernel_priority);
  background.release.Signal();
  background.Join();

  // Leaked: a non-joinable thread may still touch its object after Run.
  SimpleThread::Options detached;
  detached.joinable = false;
  RecordingThread* loose = new RecordingThread("Loose", detached);
  loose->release.Signal();
  loose->Start();
  loose->running.Wait();
  EXPECT_EQ("Loose/" + UintToString(loose->tid()), loose->run_name);
}

TEST(SimpleThreadTest, StartReturnsWhenNoThreadCanBeMade) {
  SimpleThread::Options impossible;
  impossible.stack_size = static_cast<uint64_t>(1) << 60;
  RecordingThread thread("Never", impossible);
  thread.Start();  // Must not wait for a thread that does not exist.
  EXPECT_FALSE(thread.HasBeenStarted());
  EXPECT_EQ(0u, thread.tid());
  thread.Join();
  EXPECT_TRUE(thread.HasBeenJoined());
}

}  // namespace
}  // namespace base
