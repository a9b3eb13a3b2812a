#include "base/debug/activity_tracker.h"

#include <windows.h>

#include <atomic>
#include <utility>

#include "base/base_paths.h"
#include "base/bind.h"
#include "base/command_line.h"
#include "base/debug/task_annotator.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/metrics/field_trial.h"
#include "base/metrics/persistent_memory_allocator.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/pending_task.h"
#include "base/process/process.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/waitable_event.h"
#include "base/test/histogram_counts.h"
#include "base/threading/platform_thread.h"
#include "base/threading/thread_local_storage.h"
#include "base/time/time.h"
#include "gtest/gtest.h"

namespace base {
namespace debug {
namespace {

TEST(ActivityTrackerTest, ScopedActivitiesAreEmptyWhileOff) {
  ASSERT_EQ(nullptr, GlobalActivityTracker::Get());
  int lock = 0;
  int event = 0;
  PendingTask task(FROM_HERE, OnceClosure());
  task.sequence_num = 7;
  {
    ScopedLockAcquireActivity lock_activity(nullptr, &lock);
    ScopedEventWaitActivity event_activity(nullptr, &event);
    ScopedThreadJoinActivity join_activity(nullptr, ::GetCurrentThread());
    ScopedProcessWaitActivity process_activity(nullptr, Process::Current());
    ScopedTaskRunActivity task_activity(nullptr, task);
    for (const GlobalActivityTracker::ScopedThreadActivity* activity :
         {static_cast<GlobalActivityTracker::ScopedThreadActivity*>(
              &lock_activity),
          static_cast<GlobalActivityTracker::ScopedThreadActivity*>(
              &event_activity),
          static_cast<GlobalActivityTracker::ScopedThreadActivity*>(
              &join_activity),
          static_cast<GlobalActivityTracker::ScopedThreadActivity*>(
              &process_activity),
          static_cast<GlobalActivityTracker::ScopedThreadActivity*>(
              &task_activity)}) {
      EXPECT_FALSE(activity->is_recorded());
    }
  }
  EXPECT_EQ(nullptr, GlobalActivityTracker::Get());
}

class Incrementer : public PlatformThread::Delegate {
 public:
  Incrementer(Lock* lock, int* counter, WaitableEvent* start)
      : lock_(lock), counter_(counter), start_(start) {}

  void ThreadMain() override {
    start_->Wait();
    for (int i = 0; i < kIncrements; ++i) {
      AutoLock auto_lock(*lock_);
      // A read and a write apart, so that a lock that excludes nobody
      // loses updates.
      const int value = *counter_;
      if ((i & 63) == 0)
        PlatformThread::YieldCurrentThread();
      *counter_ = value + 1;
    }
  }

  static constexpr int kIncrements = 2000;

 private:
  Lock* const lock_;
  int* const counter_;
  WaitableEvent* const start_;
};

// The hooks sit in these calls; with no tracker they must behave exactly as
// the bare primitives.
TEST(ActivityTrackerTest, BlockingCallsBehaveAsWithoutHooks) {
  ASSERT_EQ(nullptr, GlobalActivityTracker::Get());

  Lock lock;
  int counter = 0;
  WaitableEvent start;
  Incrementer delegate(&lock, &counter, &start);
  constexpr int kThreads = 4;
  PlatformThreadHandle handles[kThreads];
  for (PlatformThreadHandle& handle : handles)
    ASSERT_TRUE(PlatformThread::Create(0, &delegate, &handle));
  start.Signal();
  // Each join carries a thread-join hook.
  for (PlatformThreadHandle& handle : handles)
    PlatformThread::Join(handle);
  EXPECT_EQ(kThreads * Incrementer::kIncrements, counter);

  // Event waits: a signalled wait returns true, an unsignalled one false.
  WaitableEvent event(WaitableEvent::ResetPolicy::AUTOMATIC);
  EXPECT_FALSE(event.TimedWait(TimeDelta()));
  event.Signal();
  EXPECT_TRUE(event.TimedWait(TimeDelta()));
  EXPECT_FALSE(event.IsSignaled());

  // Running a task through the annotator runs it once.
  int runs = 0;
  PendingTask task(FROM_HERE, BindOnce([](int* runs) { ++*runs; }, &runs));
  TaskAnnotator annotator;
  annotator.RunTask("ActivityTrackerTest", &task);
  EXPECT_EQ(1, runs);
  EXPECT_EQ(nullptr, GlobalActivityTracker::Get());
}

// Tests that turn tracking on; the product never does.
class ActivityTrackerOnTest : public testing::Test {
 protected:
  void SetUp() override { TurnOn(64 << 10, 4); }
  void TearDown() override { GlobalActivityTracker::ReleaseForTesting(); }

  void TurnOn(size_t segment_size, uint32_t stack_depth) {
    GlobalActivityTracker::CreateWithAllocator(
        std::make_unique<LocalPersistentMemoryAllocator>(segment_size, 0, ""),
        stack_depth);
  }

  ThreadActivityTracker::Snapshot ThisThread() {
    ThreadActivityTracker::Snapshot snapshot;
    ThreadActivityTracker* tracker =
        GlobalActivityTracker::Get()->GetOrCreateTrackerForCurrentThread();
    EXPECT_NE(nullptr, tracker);
    if (tracker)
      tracker->CreateSnapshot(&snapshot);
    return snapshot;
  }

  // Thread records of the segment, live or retyped.
  int ThreadRecordCount() {
    PersistentMemoryAllocator::Iterator records(
        GlobalActivityTracker::Get()->allocator());
    int count = 0;
    while (records.GetNextOfType(GlobalActivityTracker::kTypeIdThreadRecord))
      ++count;
    return count;
  }
};

TEST_F(ActivityTrackerOnTest, NestedActivitiesCarryTheirData) {
  int lock = 0;
  int event = 0;
  PendingTask task(FROM_HERE, OnceClosure());
  task.sequence_num = 7;
  HANDLE thread = ::GetCurrentThread();
  {
    ScopedTaskRunActivity task_activity(&lock, task);
    ScopedLockAcquireActivity lock_activity(&event, &lock);
    {
      ScopedEventWaitActivity event_activity(nullptr, &event);
      ScopedThreadJoinActivity join_activity(nullptr, thread);
      EXPECT_TRUE(join_activity.is_recorded());
      ThreadActivityTracker::Snapshot snapshot = ThisThread();
      EXPECT_EQ(::GetCurrentThreadId(), snapshot.thread_id);
      EXPECT_EQ(::GetCurrentProcessId(), snapshot.process_id);
      ASSERT_EQ(4u, snapshot.depth);
      ASSERT_EQ(4u, snapshot.activities.size());
      const ThreadActivityTracker::Activity& run = snapshot.activities[0];
      EXPECT_EQ(ACT_TASK_RUN, run.activity_type);
      EXPECT_EQ(7u, run.data);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(&lock), run.calling_address);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(task.posted_from.program_counter()),
                run.origin_address);
      EXPECT_EQ(ACT_LOCK_ACQUIRE, snapshot.activities[1].activity_type);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(&lock),
                snapshot.activities[1].data);
      EXPECT_EQ(ACT_EVENT_WAIT, snapshot.activities[2].activity_type);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(&event),
                snapshot.activities[2].data);
      EXPECT_EQ(ACT_THREAD_JOIN, snapshot.activities[3].activity_type);
      EXPECT_EQ(::GetCurrentThreadId(), snapshot.activities[3].data);
    }
    EXPECT_EQ(2u, ThisThread().depth);
  }
  EXPECT_EQ(0u, ThisThread().depth);
}

TEST_F(ActivityTrackerOnTest, DeeperStacksThanTheRecordStillUnwind) {
  int a = 0;
  {
    ScopedLockAcquireActivity first(nullptr, &a);
    ScopedLockAcquireActivity second(nullptr, &a);
    ScopedLockAcquireActivity third(nullptr, &a);
    ScopedLockAcquireActivity fourth(nullptr, &a);
    ScopedEventWaitActivity fifth(nullptr, &a);
    ThreadActivityTracker::Snapshot snapshot = ThisThread();
    EXPECT_EQ(5u, snapshot.depth);
    // Only the four slots of the record hold anything.
    ASSERT_EQ(4u, snapshot.activities.size());
    EXPECT_EQ(ACT_LOCK_ACQUIRE, snapshot.activities[3].activity_type);
  }
  EXPECT_EQ(0u, ThisThread().depth);
}

class ActivityThread : public PlatformThread::Delegate {
 public:
  void ThreadMain() override {
    int lock = 0;
    ScopedLockAcquireActivity activity(nullptr, &lock);
    recorded = activity.is_recorded();
  }
  bool recorded = false;
};

TEST_F(ActivityTrackerOnTest, EndedThreadsGiveUpTheirRecords) {
  ThisThread();
  EXPECT_EQ(1, ThreadRecordCount());
  ActivityThread delegate;
  PlatformThreadHandle handle;
  ASSERT_TRUE(PlatformThread::Create(0, &delegate, &handle));
  PlatformThread::Join(handle);
  EXPECT_TRUE(delegate.recorded);
  // The joined thread's record was retyped when it ended.
  EXPECT_EQ(1, ThreadRecordCount());
}

class UntrackedThread : public PlatformThread::Delegate {
 public:
  void ThreadMain() override {
    int address = 0;
    for (int i = 0; i < 5; ++i) {
      ScopedLockAcquireActivity activity(nullptr, &address);
      recorded |= activity.is_recorded();
    }
  }
  bool recorded = false;
};

TEST_F(ActivityTrackerOnTest, AFullSegmentLeavesThreadsUntracked) {
  const char kHistogram[] =
      "ActivityTracker.ThreadTrackers.MemLimitTrackerCount";
  GlobalActivityTracker::ReleaseForTesting();
  // Room for the segment header only.
  TurnOn(128, 4);
  const HistogramBase::Count before = HistogramSampleCount(kHistogram, 0);
  Lock lock;
  lock.Acquire();
  lock.Release();
  int address = 0;
  for (int i = 0; i < 5; ++i) {
    ScopedLockAcquireActivity activity(nullptr, &address);
    EXPECT_FALSE(activity.is_recorded());
  }
  EXPECT_EQ(nullptr,
            GlobalActivityTracker::Get()->GetOrCreateTrackerForCurrentThread());
  // A thread finds out once that there is no room for it.
  EXPECT_EQ(before + 1, HistogramSampleCount(kHistogram, 0));

  // Another thread finds out for itself, once, and ends cleanly.
  UntrackedThread delegate;
  PlatformThreadHandle handle;
  ASSERT_TRUE(PlatformThread::Create(0, &delegate, &handle));
  PlatformThread::Join(handle);
  EXPECT_FALSE(delegate.recorded);
  EXPECT_EQ(before + 2, HistogramSampleCount(kHistogram, 0));
}

// Tracking turned off and on again, more often than a thread has local
// slots: each tracker gives the thread a record of its own or, with a full
// segment, none, whatever an earlier tracker gave it.
TEST_F(ActivityTrackerOnTest, TrackersMadeAgainAndAgainEachTrackThreadsAfresh) {
  ThreadActivityTracker* previous =
      GlobalActivityTracker::Get()->GetOrCreateTrackerForCurrentThread();
  ASSERT_NE(nullptr, previous);
  for (int i = 0; i < 2 * ThreadLocalStorage::kThreadLocalStorageSize; ++i) {
    SCOPED_TRACE(i);
    GlobalActivityTracker::ReleaseForTesting();
    const bool full = i % 2 == 1;
    TurnOn(full ? 128 : 4 << 10, 4);
    ThreadActivityTracker* tracker =
        GlobalActivityTracker::Get()->GetOrCreateTrackerForCurrentThread();
    if (full) {
      ASSERT_EQ(nullptr, tracker);
      continue;
    }
    ASSERT_NE(nullptr, tracker);
    EXPECT_NE(previous, tracker);
    EXPECT_EQ(1, ThreadRecordCount());
    int address = 0;
    ScopedLockAcquireActivity activity(nullptr, &address);
    EXPECT_TRUE(activity.is_recorded());
    EXPECT_EQ(1u, ThisThread().depth);
    previous = tracker;
  }
}

std::vector<std::string>* g_logged_lines = nullptr;

// Keeps the line and lets it go on to the tracker.
bool KeepLine(logging::LogSeverity severity,
              const char* file,
              int line,
              size_t message_start,
              const std::string& str) {
  g_logged_lines->push_back(str.substr(message_start));
  return false;
}

// Every log line is written into the tracker's segment, so a corruption of
// that segment is found while logging; reporting it is itself a log line.
TEST_F(ActivityTrackerOnTest, ACorruptSegmentIsReportedOnceWhileLogging) {
  PersistentMemoryAllocator* allocator =
      GlobalActivityTracker::Get()->allocator();
  // A free pointer off the block alignment.
  const uint32_t kFreePointerOffset = 40;
  *reinterpret_cast<uint32_t*>(
      static_cast<char*>(const_cast<void*>(allocator->data())) +
      kFreePointerOffset) = 65;
  std::vector<std::string> lines;
  g_logged_lines = &lines;
  const logging::LogMessageHandler saved = logging::GetLogMessageHandler();
  logging::SetLogMessageHandler(&KeepLine);
  LOG(ERROR) << "line into a broken segment";
  logging::SetLogMessageHandler(saved);
  g_logged_lines = nullptr;

  EXPECT_TRUE(allocator->IsCorrupt());
  int reports = 0;
  for (const std::string& line : lines)
    reports += line.find("Corruption detected") != std::string::npos;
  EXPECT_EQ(1, reports);
  EXPECT_EQ(2u, lines.size());
}

TEST_F(ActivityTrackerOnTest, CallersInBaseReachTheTracker) {
  GlobalActivityTracker* tracker = GlobalActivityTracker::Get();

  LOG(ERROR) << "line for the tracker";
  PersistentMemoryAllocator::Iterator records(tracker->allocator());
  bool found = false;
  while (PersistentMemoryAllocator::Reference ref =
             records.GetNextOfType(GlobalActivityTracker::kTypeIdLogMessage)) {
    const char* text = tracker->allocator()->GetAsArray<char>(
        ref, GlobalActivityTracker::kTypeIdLogMessage,
        PersistentMemoryAllocator::kSizeAny);
    ASSERT_NE(nullptr, text);
    found |=
        std::string(text).find("line for the tracker") != std::string::npos;
  }
  EXPECT_TRUE(found);

  {
    FieldTrialList list;
    FieldTrialList::FactoryGetFieldTrial("Trial", 100, "Chosen")->group_name();
  }
  EXPECT_EQ("Chosen", tracker->GetFieldTrialGroup("Trial"));

  FilePath exe_dir;
  ASSERT_TRUE(PathService::Get(DIR_EXE, &exe_dir));
  CommandLine command_line(exe_dir.Append(L"kavor_test_child.exe"));
  command_line.AppendArg("exit");
  command_line.AppendArg("3");
  Process child = LaunchProcess(command_line, LaunchOptions());
  ASSERT_TRUE(child.IsValid());
  EXPECT_NE(std::string::npos,
            tracker->GetProcessCommandLine(child.Pid()).find("exit 3"));
  int exit_code = 0;
  ASSERT_TRUE(child.WaitForExit(&exit_code));
  EXPECT_EQ(3, exit_code);
  EXPECT_EQ("", tracker->GetProcessCommandLine(child.Pid()));
}

}  // namespace
}  // namespace debug
}  // namespace base
