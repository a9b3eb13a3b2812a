#include "base/trace_event/memory_dump_manager.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/synchronization/waitable_event.h"
#include "base/test/bounded_wait.h"
#include "base/test/test_task_runner.h"
#include "base/test/test_thread.h"
#include "base/threading/platform_thread.h"
#include "base/trace_event/memory_dump_provider_info.h"
#include "base/trace_event/memory_peak_detector.h"
#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

class TestProvider : public MemoryDumpProvider {
 public:
  ~TestProvider() override {
    if (destroyed)
      *destroyed = true;
  }
  bool OnMemoryDump(const MemoryDumpArgs&, ProcessMemoryDump*) override {
    return true;
  }
  void OnHeapProfilingEnabled(bool enabled) override {
    if (on_heap_profiling)
      on_heap_profiling();
    EXPECT_TRUE(enabled);
    ++heap_profiling_calls;
    thread_name = PlatformThread::GetName() ? PlatformThread::GetName() : "";
  }

  bool* destroyed = nullptr;
  std::function<void()> on_heap_profiling;
  int heap_profiling_calls = 0;
  std::string thread_name;
};

MemoryDumpProvider::Options MakeOptions(bool fast_polling,
                                        bool heap_profiling) {
  MemoryDumpProvider::Options options;
  options.is_fast_polling_supported = fast_polling;
  options.supports_heap_profiling = heap_profiling;
  return options;
}

// Runs a hook on every post, then hands the task to a test runner.
class HookedTaskRunner : public SequencedTaskRunner {
 public:
  explicit HookedTaskRunner(std::function<void()> on_post)
      : on_post_(std::move(on_post)) {}
  bool PostDelayedTask(const Location& from_here,
                       OnceClosure task,
                       TimeDelta delay) override {
    on_post_();
    return inner->PostDelayedTask(from_here, std::move(task), delay);
  }
  bool PostNonNestableDelayedTask(const Location& from_here,
                                  OnceClosure task,
                                  TimeDelta delay) override {
    return PostDelayedTask(from_here, std::move(task), delay);
  }
  bool RunsTasksInCurrentSequence() const override { return true; }

  const scoped_refptr<TestTaskRunner> inner = MakeRefCounted<TestTaskRunner>();

 private:
  ~HookedTaskRunner() override = default;
  std::function<void()> on_post_;
};

using Records = std::vector<scoped_refptr<MemoryDumpProviderInfo>>;

// The records of |mdp|: the trace log may register its own providers with
// whatever manager is current.
Records RecordsOf(MemoryDumpManager* manager, MemoryDumpProvider* mdp) {
  Records records;
  for (const auto& info : manager->GetDumpProvidersForTesting()) {
    if (info->dump_provider == mdp)
      records.push_back(info);
  }
  return records;
}

class MemoryDumpManagerTest : public testing::Test {
 protected:
  void TearDown() override {
    manager_.reset();
    runner_->ClearPendingTasks();
  }

  std::unique_ptr<MemoryDumpManager> manager_ =
      MemoryDumpManager::CreateInstanceForTesting();
  scoped_refptr<TestTaskRunner> runner_ = MakeRefCounted<TestTaskRunner>();
};

TEST_F(MemoryDumpManagerTest, OneRecordPerProviderAndRunner) {
  TestProvider provider;
  manager_->RegisterDumpProvider(&provider, "Malloc", runner_);
  manager_->RegisterDumpProvider(&provider, "Malloc", runner_);
  auto records = RecordsOf(manager_.get(), &provider);
  ASSERT_EQ(1u, records.size());
  EXPECT_TRUE(records[0]->options.dumps_on_single_thread_task_runner);
  // The whitelists go by the name: "Malloc" is on both, "Skia" on the
  // background one only.
  EXPECT_TRUE(records[0]->whitelisted_for_summary_mode);

  // On another runner it is another registration; the fuller form keeps
  // the options as given.
  manager_->RegisterDumpProvider(&provider, "Skia",
                                 MakeRefCounted<TestTaskRunner>(),
                                 MakeOptions(false, false));
  records = RecordsOf(manager_.get(), &provider);
  ASSERT_EQ(2u, records.size());
  const auto& skia = records[records[0]->task_runner == runner_ ? 1 : 0];
  EXPECT_FALSE(skia->options.dumps_on_single_thread_task_runner);
  EXPECT_TRUE(skia->whitelisted_for_background_mode);
  EXPECT_FALSE(skia->whitelisted_for_summary_mode);
}

TEST_F(MemoryDumpManagerTest, UnregisteringDisablesTheRecord) {
  TestProvider provider;
  manager_->RegisterDumpProvider(&provider, "Test", runner_);
  auto records = RecordsOf(manager_.get(), &provider);
  manager_->UnregisterDumpProvider(&provider);
  EXPECT_TRUE(RecordsOf(manager_.get(), &provider).empty());
  EXPECT_TRUE(records[0]->disabled.load());

  // A handed-over provider lives as long as its record.
  bool destroyed = false;
  auto owned = std::make_unique<TestProvider>();
  owned->destroyed = &destroyed;
  manager_->RegisterDumpProvider(owned.get(), "Test", nullptr);
  records = RecordsOf(manager_.get(), owned.get());
  manager_->UnregisterAndDeleteDumpProviderSoon(std::move(owned));
  EXPECT_FALSE(destroyed);
  records.clear();
  EXPECT_TRUE(destroyed);
}

TEST_F(MemoryDumpManagerTest, ProviderCalledElsewhereMustBeHandedOver) {
  // A poll (on the detector's runner, even for a bound provider) or an
  // announcement on "MemoryInfra" may be calling it on another thread.
  struct {
    bool bound, fast_polling, heap_profiling;
  } const cases[] = {
      {false, true, false}, {false, false, true}, {true, true, false}};
  TestProvider providers[3];
  for (int i = 0; i < 3; ++i) {
    manager_->RegisterDumpProvider(
        &providers[i], "Test", cases[i].bound ? runner_ : nullptr,
        MakeOptions(cases[i].fast_polling, cases[i].heap_profiling));
    EXPECT_DEATH(manager_->UnregisterDumpProvider(&providers[i]), "") << i;
  }
}

TEST_F(MemoryDumpManagerTest, HeapProfilingIsAnnouncedOnTheProvidersRunner) {
  TestProvider supporting, other;
  for (uint32_t mode : {0u, 1u, 2u, 3u, 4u, 5u}) {
    supporting.heap_profiling_calls = 0;
    manager_->SetHeapProfilingModeForTesting(mode);
    manager_->RegisterDumpProvider(&supporting, "Test", runner_,
                                   MakeOptions(false, true));
    manager_->RegisterDumpProvider(&other, "Other", runner_);
    runner_->RunUntilIdle();
    EXPECT_EQ(mode >= 2 && mode <= 4, supporting.heap_profiling_calls) << mode;
    manager_->UnregisterDumpProvider(&supporting);
    manager_->UnregisterDumpProvider(&other);
  }
  EXPECT_EQ(0, other.heap_profiling_calls);

  // Posted before unregistering: dropped.
  manager_->SetHeapProfilingModeForTesting(2);
  manager_->RegisterDumpProvider(&supporting, "Test", runner_,
                                 MakeOptions(false, true));
  manager_->UnregisterDumpProvider(&supporting);
  runner_->RunUntilIdle();
  EXPECT_EQ(0, supporting.heap_profiling_calls);
}

TEST_F(MemoryDumpManagerTest, AnnouncementIsPostedOutsideTheLock) {
  // Posting may be the thread's first trace event, which registers the
  // trace log's own providers. Registered here from another thread, so that
  // a lock still held fails the test instead of hanging it.
  TestProvider provider, other;
  WaitableEvent registered;
  std::unique_ptr<TestThread> helper;
  auto runner = MakeRefCounted<HookedTaskRunner>([&] {
    helper = std::make_unique<TestThread>([&] {
      manager_->RegisterDumpProvider(&other, "Other", nullptr);
      registered.Signal();
    });
    EXPECT_TRUE(WaitWithin(&registered, "a registration while posting"));
  });
  manager_->SetHeapProfilingModeForTesting(2);
  manager_->RegisterDumpProviderWithSequencedTaskRunner(
      &provider, "Test", runner, MakeOptions(false, true));
  ASSERT_TRUE(helper);
  helper->Join();
  runner->inner->RunUntilIdle();
  EXPECT_EQ(1, provider.heap_profiling_calls);
}

TEST_F(MemoryDumpManagerTest, DestructionIgnoresRegistrations) {
  // A last announcement on "MemoryInfra", run while the destructor stops
  // that thread, registers a provider that would need the thread again.
  MemoryDumpManager* manager = manager_.release();
  TestProvider first, late, probe;
  WaitableEvent go;
  first.on_heap_profiling = [&] {
    EXPECT_TRUE(WaitWithin(&go, "registrations ignored"));
    manager->RegisterDumpProvider(&late, "Late", nullptr,
                                  MakeOptions(false, true));
  };
  manager->SetHeapProfilingModeForTesting(2);
  manager->RegisterDumpProvider(&first, "First", nullptr,
                                MakeOptions(false, true));
  TestThread destroyer([manager] { delete manager; });
  // The destructor waits for |first|, so |manager| is still there.
  EXPECT_TRUE(WaitUntil(
      [&] {
        manager->RegisterDumpProvider(&probe, "Probe", nullptr);
        if (RecordsOf(manager, &probe).empty())
          return true;
        manager->UnregisterDumpProvider(&probe);
        return false;
      },
      "a registration ignored during destruction"));
  go.Signal();
  destroyer.Join();
  // An unbound provider is told on "MemoryInfra".
  EXPECT_EQ(1, first.heap_profiling_calls);
  EXPECT_EQ("MemoryInfra", first.thread_name);
  EXPECT_EQ(0, late.heap_profiling_calls);
}

TEST_F(MemoryDumpManagerTest, FastPollingProvidersStartPeakDetection) {
  MemoryPeakDetector* detector = MemoryPeakDetector::GetInstance();
  detector->Setup(BindRepeating(&MemoryDumpManager::GetDumpProvidersForPolling,
                                Unretained(manager_.get())),
                  runner_, BindRepeating([] {}));
  MemoryPeakDetector::Config config;
  config.polling_interval_ms = 10;
  detector->Start(config, 1);
  runner_->RunUntilIdle();
  EXPECT_EQ(MemoryPeakDetector::ENABLED, detector->state_for_testing());
  auto fast = std::make_unique<TestProvider>();
  manager_->RegisterDumpProvider(fast.get(), "Fast", nullptr,
                                 MakeOptions(true, false));
  runner_->RunUntilIdle();
  EXPECT_EQ(MemoryPeakDetector::RUNNING, detector->state_for_testing());
  manager_->UnregisterAndDeleteDumpProviderSoon(std::move(fast));
  runner_->RunUntilIdle();
  EXPECT_EQ(MemoryPeakDetector::ENABLED, detector->state_for_testing());
  detector->TearDown();
  runner_->RunUntilIdle();
}

}  // namespace
}  // namespace trace_event
}  // namespace base
