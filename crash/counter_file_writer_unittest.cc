#include "crash/counter_file_writer.h"

#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/synchronization/condition_variable.h"
#include "base/synchronization/lock.h"
#include "base/time/time.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

// Follows the worker through a log of what it did ("ok", "fail",
// "sleep <ms>", "wait"), and pauses without sleeping.
class RecordingHooks : public CounterFileWriter::WorkerHooks {
 public:
  RecordingHooks() : changed_(&lock_) {}

  void Sleep(base::TimeDelta duration) override {
    Record("sleep " + std::to_string(duration.InMilliseconds()));
  }
  void FlushAttempted(bool succeeded) override {
    Record(succeeded ? "ok" : "fail");
  }
  void WaitingForWake() override { Record("wait"); }

  // Waits until the worker made |attempts| merges in all and then went back
  // to waiting for a wake-up. The bound only keeps a broken worker from
  // hanging the test.
  bool WaitForIdleAfter(size_t attempts) {
    base::AutoLock auto_lock(lock_);
    const base::TimeTicks give_up =
        base::TimeTicks::Now() + base::TimeDelta::FromSeconds(60);
    while (AttemptsLocked() < attempts || log_.back() != "wait") {
      if (base::TimeTicks::Now() > give_up)
        return false;
      changed_.TimedWait(base::TimeDelta::FromMilliseconds(100));
    }
    return true;
  }

  std::vector<std::string> log() {
    base::AutoLock auto_lock(lock_);
    return log_;
  }

 private:
  void Record(const std::string& entry) {
    base::AutoLock auto_lock(lock_);
    log_.push_back(entry);
    changed_.Broadcast();
  }
  size_t AttemptsLocked() const {
    size_t n = 0;
    for (const std::string& entry : log_)
      n += entry == "ok" || entry == "fail";
    return n;
  }

  base::Lock lock_;
  base::ConditionVariable changed_;
  std::vector<std::string> log_;
};

// As if the system had no thread to give the writer.
class NoWorkerHooks : public RecordingHooks {
 public:
  bool StartWorker(base::PlatformThread::Delegate*,
                   base::PlatformThreadHandle*) override {
    return false;
  }
};

std::vector<std::string> Repeat(const std::vector<std::string>& piece,
                                int times) {
  std::vector<std::string> out;
  for (int i = 0; i < times; ++i)
    out.insert(out.end(), piece.begin(), piece.end());
  return out;
}

std::vector<std::string> Join(std::vector<std::string> a,
                              const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class CounterFileWriterTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_dir_.CreateUniqueTempDir());
    path_ = temp_dir_.GetPath().AppendASCII("counters.json");
  }

  void WriteText(const std::string& text) {
    ASSERT_EQ(
        static_cast<int>(text.size()),
        base::WriteFile(path_, text.data(), static_cast<int>(text.size())));
  }

  std::string ReadText() {
    std::string text;
    EXPECT_TRUE(base::ReadFileToString(path_, &text));
    return text;
  }

  // Locks the whole file through a handle of its own, as a writer in
  // another process would.
  HANDLE LockFromOutside() {
    HANDLE file = ::CreateFileW(
        path_.value().c_str(), GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_TRUE(::LockFile(file, 0, 0, MAXDWORD, MAXDWORD));
    return file;
  }

  base::ScopedTempDir temp_dir_;
  base::FilePath path_;
  RecordingHooks hooks_;
};

TEST_F(CounterFileWriterTest, IncrementsBeforeAWakeMergeOnce) {
  WriteText("{\"other\":4}");
  CounterFileWriter writer(path_, &hooks_);
  writer.Add("dumps", 1, false);
  writer.Add("dumps", 1, true);
  ASSERT_TRUE(hooks_.WaitForIdleAfter(1));
  EXPECT_EQ((std::vector<std::string>{"wait", "ok", "wait"}), hooks_.log());
  EXPECT_EQ("{\"dumps\":2,\"other\":4}", ReadText());
}

TEST_F(CounterFileWriterTest, MissingFileIsCreatedWithExactlyThePendingCounts) {
  ASSERT_FALSE(base::PathExists(path_));
  {
    CounterFileWriter writer(path_, &hooks_);
    // Nothing pending: nothing to write, and no file made for it.
    EXPECT_TRUE(writer.Flush());
    EXPECT_FALSE(base::PathExists(path_));
    // A dotted name is one counter, not a nested object.
    writer.AddAll({{"reporter.crash", 3}, {"b", -1}}, true);
    ASSERT_TRUE(hooks_.WaitForIdleAfter(1));
  }
  EXPECT_EQ("{\"b\":-1,\"reporter.crash\":3}", ReadText());
}

TEST_F(CounterFileWriterTest, MembersThatAreNotIntegersAreDropped) {
  WriteText("{\"dumps\":1,\"note\":\"text\",\"ratio\":1.5,\"on\":true}");
  CounterFileWriter writer(path_, &hooks_);
  writer.Add("dumps", 1, true);
  ASSERT_TRUE(hooks_.WaitForIdleAfter(1));
  EXPECT_EQ("{\"dumps\":2}", ReadText());
}

TEST_F(CounterFileWriterTest, CountsStopAtTheEndOfTheirRange) {
  WriteText("{\"dumps\":2147483647,\"low\":-2147483647}");
  CounterFileWriter writer(path_, &hooks_);
  writer.Add("dumps", 1, false);
  writer.Add("low", -5, false);
  EXPECT_TRUE(writer.Flush());
  EXPECT_EQ("{\"dumps\":2147483647,\"low\":-2147483648}", ReadText());
}

// Ten tries 100 ms apart, then the worker waits; nothing is lost.
const std::vector<std::string> kTenFailedTries =
    Join(Repeat({"fail", "sleep 100", "wait"}, 9), {"fail", "wait"});

TEST_F(CounterFileWriterTest, FileThatIsNotAnObjectIsNeverOverwritten) {
  for (const std::string& text : {std::string("[1,2]"), std::string("not json"),
                                  std::string("{\"a\":1")}) {
    SCOPED_TRACE(text);
    WriteText(text);
    RecordingHooks hooks;
    CounterFileWriter writer(path_, &hooks);
    writer.Add("dumps", 1, true);
    ASSERT_TRUE(hooks.WaitForIdleAfter(10));
    EXPECT_EQ(Join({"wait"}, kTenFailedTries), hooks.log());
    EXPECT_EQ(text, ReadText());

    // The increment is still pending: it lands once the file is sound.
    WriteText("{}");
    EXPECT_TRUE(writer.Flush());
    EXPECT_EQ("{\"dumps\":1}", ReadText());
  }
}

TEST_F(CounterFileWriterTest, FileLockedElsewhereIsRetriedThenWaitsForAWake) {
  WriteText("{\"dumps\":5}");
  HANDLE outside = LockFromOutside();
  CounterFileWriter writer(path_, &hooks_);
  writer.Add("dumps", 1, true);
  ASSERT_TRUE(hooks_.WaitForIdleAfter(10));
  EXPECT_EQ(Join({"wait"}, kTenFailedTries), hooks_.log());
  ASSERT_TRUE(::UnlockFile(outside, 0, 0, MAXDWORD, MAXDWORD));
  ::CloseHandle(outside);
  EXPECT_EQ("{\"dumps\":5}", ReadText());
  // The next wake merges the waiting increment with the new one; an
  // eleventh try without a wake would have failed before the unlock.
  writer.Add("dumps", 1, true);
  ASSERT_TRUE(hooks_.WaitForIdleAfter(11));
  const std::vector<std::string> log = hooks_.log();
  EXPECT_EQ(Join(Join({"wait"}, kTenFailedTries), {"ok", "wait"}), log);
  EXPECT_EQ("{\"dumps\":7}", ReadText());
}

TEST_F(CounterFileWriterTest, DestructionFlushesWhatIsPending) {
  {
    CounterFileWriter writer(path_, &hooks_);
    writer.Add("dumps", 2, false);
  }
  EXPECT_EQ("{\"dumps\":2}", ReadText());
  // The first wait, the stop, one merge.
  EXPECT_EQ((std::vector<std::string>{"wait", "ok"}), hooks_.log());
}

TEST_F(CounterFileWriterTest, DestructionTriesALockedFileAtMostTenTimes) {
  WriteText("{\"dumps\":5}");
  HANDLE outside = LockFromOutside();
  {
    CounterFileWriter writer(path_, &hooks_);
    writer.Add("dumps", 1, false);
  }
  EXPECT_EQ(Join({"wait"}, Repeat({"fail", "sleep 50"}, 10)), hooks_.log());
  ::UnlockFile(outside, 0, 0, MAXDWORD, MAXDWORD);
  ::CloseHandle(outside);
  EXPECT_EQ("{\"dumps\":5}", ReadText());
}

TEST_F(CounterFileWriterTest,
       DestructionWithNothingPendingDoesNotTouchTheFile) {
  { CounterFileWriter writer(path_, &hooks_); }
  EXPECT_EQ((std::vector<std::string>{"wait"}), hooks_.log());
  EXPECT_FALSE(base::PathExists(path_));
}

TEST_F(CounterFileWriterTest, WithoutAWorkerAWakeMergesOnTheCallingThread) {
  NoWorkerHooks hooks;
  {
    CounterFileWriter writer(path_, &hooks);
    writer.Add("dumps", 1, false);
    EXPECT_FALSE(base::PathExists(path_));
    writer.Add("dumps", 1, true);
    EXPECT_EQ("{\"dumps\":2}", ReadText());
    writer.AddAll({{"uploads", 3}}, true);
    EXPECT_EQ("{\"dumps\":2,\"uploads\":3}", ReadText());
    writer.Add("dumps", 4, false);
  }
  // What was left without a wake is merged at the end.
  EXPECT_EQ("{\"dumps\":6,\"uploads\":3}", ReadText());
  EXPECT_EQ((std::vector<std::string>{"ok", "ok", "ok"}), hooks.log());
}

TEST_F(CounterFileWriterTest, WithoutAWorkerAFailedMergeIsKeptForTheNextWake) {
  WriteText("{\"dumps\":5}");
  NoWorkerHooks hooks;
  CounterFileWriter writer(path_, &hooks);
  HANDLE outside = LockFromOutside();
  writer.Add("dumps", 1, true);
  ::UnlockFile(outside, 0, 0, MAXDWORD, MAXDWORD);
  ::CloseHandle(outside);
  EXPECT_EQ("{\"dumps\":5}", ReadText());
  writer.Add("dumps", 2, true);
  EXPECT_EQ("{\"dumps\":8}", ReadText());
  EXPECT_EQ((std::vector<std::string>{"fail", "ok"}), hooks.log());
}

}  // namespace
}  // namespace crash_reporter
