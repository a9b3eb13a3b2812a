#include "base/threading/platform_thread.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "base/metrics/histogram_base.h"
#include "base/metrics/statistics_recorder.h"
#include "base/synchronization/waitable_event.h"
#include "base/test/counting_blocking_observer.h"
#include "base/test/histogram_counts.h"
#include "base/threading/scoped_blocking_call.h"
#include "base/threading/thread_id_name_manager.h"
#include "base/time/time_override.h"
#include "gtest/gtest.h"

namespace base {
namespace {

TEST(PlatformThreadTest, CurrentRefAndHandle) {
  EXPECT_EQ(::GetCurrentThreadId(), PlatformThread::CurrentId());
  EXPECT_EQ(PlatformThreadRef(::GetCurrentThreadId()),
            PlatformThread::CurrentRef());
  EXPECT_FALSE(PlatformThread::CurrentRef().is_null());
  EXPECT_TRUE(PlatformThreadRef().is_null());
  EXPECT_NE(PlatformThreadRef(1), PlatformThreadRef(2));
  EXPECT_EQ(::GetCurrentThread(),
            PlatformThread::CurrentHandle().platform_handle());
  EXPECT_TRUE(PlatformThreadHandle().is_null());
}

// Records what the new thread sees of itself, then waits to be let go.
class ProbeDelegate : public PlatformThread::Delegate {
 public:
  void ThreadMain() override {
    id = PlatformThread::CurrentId();
    kernel_priority = ::GetThreadPriority(::GetCurrentThread());
    name_before = PlatformThread::GetName();
    if (!name_to_set.empty())
      PlatformThread::SetName(name_to_set);
    name_after = PlatformThread::GetName();
    started.Signal();
    release.Wait();
  }

  std::string name_to_set;
  WaitableEvent started;
  WaitableEvent release;
  PlatformThreadId id = 0;
  int kernel_priority = -100;
  std::string name_before;
  std::string name_after;
};

TEST(PlatformThreadTest, CreateRunsTheDelegateAndJoinWaitsForIt) {
  ProbeDelegate delegate;
  delegate.name_to_set = "Probe";
  PlatformThreadHandle handle;
  ASSERT_TRUE(PlatformThread::Create(0, &delegate, &handle));
  ASSERT_FALSE(handle.is_null());
  delegate.started.Wait();

  EXPECT_EQ(::GetThreadId(handle.platform_handle()), delegate.id);
  EXPECT_NE(PlatformThread::CurrentId(), delegate.id);
  // Registered threads start out unnamed, and follow their SetName.
  EXPECT_EQ("", delegate.name_before);
  EXPECT_EQ("Probe", delegate.name_after);
  EXPECT_STREQ("Probe",
               ThreadIdNameManager::GetInstance()->GetName(delegate.id));
  // The handle stays open until Join: the thread has not ended yet.
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT),
            ::WaitForSingleObject(handle.platform_handle(), 0));

  delegate.release.Signal();
  PlatformThread::Join(handle);
  // The ended thread left the registry; Join closed the handle.
  EXPECT_STREQ("", ThreadIdNameManager::GetInstance()->GetName(delegate.id));
  DWORD flags = 0;
  EXPECT_FALSE(::GetHandleInformation(handle.platform_handle(), &flags));
}

TEST(PlatformThreadTest, JoinTellsTheBlockingObserver) {
  struct Nothing : PlatformThread::Delegate {
    void ThreadMain() override {}
  } nothing;
  PlatformThreadHandle handle;
  ASSERT_TRUE(PlatformThread::Create(0, &nothing, &handle));

  CountingBlockingObserver observer;
  PlatformThread::Join(handle);
  EXPECT_EQ(1, observer.started);
  EXPECT_EQ(1, observer.ended);
  EXPECT_EQ(1, observer.may_block);
}

TEST(PlatformThreadTest, DetachedAndNonJoinableThreadsRun) {
  // Leaked: nobody learns when these threads are done with them.
  ProbeDelegate* detached = new ProbeDelegate;
  PlatformThreadHandle handle;
  ASSERT_TRUE(PlatformThread::Create(0, detached, &handle));
  PlatformThread::Detach(handle);
  detached->release.Signal();
  detached->started.Wait();
  EXPECT_NE(0u, detached->id);

  ProbeDelegate* non_joinable = new ProbeDelegate;
  non_joinable->release.Signal();
  ASSERT_TRUE(PlatformThread::CreateNonJoinableWithPriority(
      64 * 1024, non_joinable, ThreadPriority::ABOVE_NORMAL));
  non_joinable->started.Wait();
  EXPECT_NE(0u, non_joinable->id);
  EXPECT_NE(detached->id, non_joinable->id);
  EXPECT_EQ(THREAD_PRIORITY_ABOVE_NORMAL, non_joinable->kernel_priority);
}

TEST(PlatformThreadTest, Priorities) {
  ProbeDelegate background;
  PlatformThreadHandle handle;
  ASSERT_TRUE(PlatformThread::CreateWithPriority(0, &background, &handle,
                                                 ThreadPriority::BACKGROUND));
  background.started.Wait();
  EXPECT_EQ(THREAD_PRIORITY_LOWEST, background.kernel_priority);

  // The calling thread's priority, set and put back.
  struct PrioritySetter : PlatformThread::Delegate {
    void ThreadMain() override {
      PlatformThread::SetCurrentThreadPriority(ThreadPriority::BACKGROUND);
      seen.push_back(::GetThreadPriority(::GetCurrentThread()));
      PlatformThread::SetCurrentThreadPriority(ThreadPriority::ABOVE_NORMAL);
      seen.push_back(::GetThreadPriority(::GetCurrentThread()));
      PlatformThread::SetCurrentThreadPriority(ThreadPriority::NORMAL);
      seen.push_back(::GetThreadPriority(::GetCurrentThread()));
    }
    std::vector<int> seen;
  } setter;
  PlatformThreadHandle setter_handle;
  ASSERT_TRUE(PlatformThread::Create(0, &setter, &setter_handle));
  PlatformThread::Join(setter_handle);
  EXPECT_EQ(
      std::vector<int>({THREAD_PRIORITY_LOWEST, THREAD_PRIORITY_ABOVE_NORMAL,
                        THREAD_PRIORITY_NORMAL}),
      setter.seen);

  background.release.Signal();
  PlatformThread::Join(handle);
}

// A clock that moves 7 ms each time it is read.
std::atomic<int64_t> g_stepping_ticks{1000000};
TimeTicks SteppingTicks() {
  return TimeTicks::FromInternalValue(g_stepping_ticks.fetch_add(7000));
}

constexpr char kCreateThreadTime[] = "Windows.CreateThreadTime";

TEST(PlatformThreadTest, CreationTimeIsRecordedAlsoForFailures) {
  const HistogramBase::Count total_before =
      HistogramTotalCount(kCreateThreadTime);
  const HistogramBase::Count sevens_before =
      HistogramSampleCount(kCreateThreadTime, 7);

  struct Nothing : PlatformThread::Delegate {
    void ThreadMain() override {}
  } nothing;
  PlatformThreadHandle handle;
  {
    subtle::ScopedTimeClockOverrides clock(nullptr, &SteppingTicks, nullptr);
    ASSERT_TRUE(PlatformThread::Create(0, &nothing, &handle));
  }
  PlatformThread::Join(handle);

  HistogramBase* histogram =
      StatisticsRecorder::FindHistogram(kCreateThreadTime);
  ASSERT_TRUE(histogram);
  EXPECT_TRUE(histogram->flags() & HistogramBase::kUmaTargetedHistogramFlag);
  EXPECT_EQ(sevens_before + 1, HistogramSampleCount(kCreateThreadTime, 7));
  const HistogramBase::Count total = HistogramTotalCount(kCreateThreadTime);
  EXPECT_EQ(total_before + 1, total);

  // No address space holds a stack this large: the creation fails, and its
  // time still counts.
  const size_t kImpossibleStack = static_cast<size_t>(1) << 60;
  PlatformThreadHandle failed;
  EXPECT_FALSE(PlatformThread::Create(kImpossibleStack, &nothing, &failed));
  EXPECT_TRUE(failed.is_null());
  EXPECT_FALSE(PlatformThread::CreateNonJoinable(kImpossibleStack, &nothing));
  EXPECT_EQ(total + 2, HistogramTotalCount(kCreateThreadTime));
}

// A clock and a kernel sleep that only exist in the test.
std::atomic<int64_t> g_fake_ticks{5000000};
std::vector<uint32_t>* g_sleep_requests = nullptr;
// How far each fake kernel sleep moves the clock, in microseconds; the
// last entry repeats.
std::vector<int64_t>* g_sleep_advances = nullptr;

TimeTicks FakeTicks() {
  return TimeTicks::FromInternalValue(g_fake_ticks.load());
}

void FakeKernelSleep(uint32_t milliseconds) {
  size_t index = g_sleep_requests->size();
  g_sleep_requests->push_back(milliseconds);
  if (index >= g_sleep_advances->size())
    index = g_sleep_advances->size() - 1;
  g_fake_ticks.fetch_add((*g_sleep_advances)[index]);
}

class PlatformThreadSleepTest : public testing::Test {
 protected:
  PlatformThreadSleepTest()
      : clock_(nullptr, &FakeTicks, nullptr), sleep_(&FakeKernelSleep, false) {
    g_sleep_requests = &requests_;
    g_sleep_advances = &advances_;
  }
  ~PlatformThreadSleepTest() override {
    g_sleep_requests = nullptr;
    g_sleep_advances = nullptr;
  }

  std::vector<uint32_t> requests_;
  std::vector<int64_t> advances_;
  subtle::ScopedTimeClockOverrides clock_;
  internal::ScopedPlatformThreadOverridesForTesting sleep_;
};

TEST_F(PlatformThreadSleepTest, AsksForWholeMillisecondsAgainUntilDue) {
  const struct {
    int64_t sleep_us;
    std::vector<int64_t> advances;
    std::vector<uint32_t> requests;
  } kCases[] = {
      {1500, {2000}, {2}},
      {1000, {1000}, {1}},
      // Woken after 0.5 ms, then after 0.3 ms: 1 ms and then 0.7 ms are left.
      {1500, {500, 300, 700}, {2, 1, 1}},
      {10000, {0, 10000}, {10, 10}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.sleep_us);
    requests_.clear();
    advances_ = c.advances;
    PlatformThread::Sleep(TimeDelta::FromMicroseconds(c.sleep_us));
    EXPECT_EQ(c.requests, requests_);
  }
}

TEST_F(PlatformThreadSleepTest, NothingToSleep) {
  advances_ = {1000};
  PlatformThread::Sleep(TimeDelta());
  PlatformThread::Sleep(TimeDelta::FromMilliseconds(-5));
  EXPECT_TRUE(requests_.empty());
  // Saturates instead of wrapping into the past.
  g_fake_ticks.store(5000000);
  advances_ = {TimeDelta::Max().InMicroseconds() - 5000000};
  PlatformThread::Sleep(TimeDelta::Max());
  ASSERT_EQ(1u, requests_.size());
  EXPECT_GT(requests_[0], 0u);
  EXPECT_NE(INFINITE, requests_[0]);
  g_fake_ticks.store(5000000);
}

TEST(PlatformThreadTest, YieldAndRealSleepReturn) {
  PlatformThread::YieldCurrentThread();
  const TimeTicks before = TimeTicks::Now();
  PlatformThread::Sleep(TimeDelta::FromMicroseconds(1500));
  // Never early; how late is up to the system.
  EXPECT_GE(TimeTicks::Now() - before, TimeDelta::FromMicroseconds(1500));
}

// Sees the thread-naming exception before the handler that continues it.
struct SeenNameException {
  DWORD code = 0;
  DWORD argument_count = 0;
  DWORD type = 0;
  std::string name;
  DWORD thread_id = 0;
  DWORD flags = 0xFFFFFFFF;
  int count = 0;
};
SeenNameException* g_seen = nullptr;

LONG CALLBACK WatchNameException(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  if (g_seen && record->ExceptionCode == 0x406D1388) {
    ++g_seen->count;
    g_seen->code = record->ExceptionCode;
    g_seen->argument_count = record->NumberParameters;
    // The record as laid out for 64 bits: type, pad, name pointer, thread
    // id and flags sharing the third word.
    const ULONG_PTR* words = record->ExceptionInformation;
    g_seen->type = static_cast<DWORD>(words[0]);
    g_seen->name = reinterpret_cast<const char*>(words[1]);
    g_seen->thread_id = static_cast<DWORD>(words[2]);
    g_seen->flags = static_cast<DWORD>(words[2] >> 32);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

TEST(PlatformThreadTest, SetNameAnnouncesToADebuggerAndContinues) {
  SeenNameException seen;
  g_seen = &seen;
  PVOID watcher = ::AddVectoredExceptionHandler(1, &WatchNameException);
  ASSERT_TRUE(watcher);

  struct Namer : PlatformThread::Delegate {
    void ThreadMain() override {
      {
        internal::ScopedPlatformThreadOverridesForTesting announce(nullptr,
                                                                   true);
        PlatformThread::SetName("Announced");
      }
      // Without a listener no exception is raised.
      PlatformThread::SetName("Quiet");
      survived = true;
    }
    bool survived = false;
  } namer;
  PlatformThreadHandle handle;
  ASSERT_TRUE(PlatformThread::Create(0, &namer, &handle));
  const DWORD thread_id = ::GetThreadId(handle.platform_handle());
  PlatformThread::Join(handle);
  ::RemoveVectoredExceptionHandler(watcher);
  g_seen = nullptr;

  EXPECT_TRUE(namer.survived);
  if (::IsDebuggerPresent())
    return;  // A real debugger takes the exception first.
  EXPECT_EQ(1, seen.count);
  EXPECT_EQ(6u, seen.argument_count);
  EXPECT_EQ(0x1000u, seen.type);
  EXPECT_EQ("Announced", seen.name);
  EXPECT_EQ(thread_id, seen.thread_id);
  EXPECT_EQ(0u, seen.flags);
}

TEST(PlatformThreadTest, SetNameGivesTheKernelADescriptionWhereItKeepsOne) {
  typedef HRESULT(WINAPI * GetThreadDescriptionFunction)(HANDLE, PWSTR*);
  GetThreadDescriptionFunction get_thread_description =
      reinterpret_cast<GetThreadDescriptionFunction>(::GetProcAddress(
          ::GetModuleHandleW(L"Kernel32.dll"), "GetThreadDescription"));
  if (!get_thread_description)
    GTEST_SKIP() << "this system keeps no thread descriptions";

  struct Describer : PlatformThread::Delegate {
    void ThreadMain() override {
      PlatformThread::SetName("W\xC3\xB6rker 7");
      PWSTR text = nullptr;
      if (SUCCEEDED(get(::GetCurrentThread(), &text)) && text) {
        description = text;
        ::LocalFree(text);
      }
    }
    GetThreadDescriptionFunction get = nullptr;
    std::wstring description;
  } describer;
  describer.get = get_thread_description;
  PlatformThreadHandle handle;
  ASSERT_TRUE(PlatformThread::Create(0, &describer, &handle));
  PlatformThread::Join(handle);
  EXPECT_EQ(L"W\u00F6rker 7", describer.description);
}

TEST(PlatformThreadDeathTest, JoinOnAFailingWaitEndsTheProcess) {
  EXPECT_DEATH(PlatformThread::Join(PlatformThreadHandle(
                   reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FF8)))),
               "");
}

}  // namespace
}  // namespace base
