#include "base/trace_event/memory_dump_manager.h"

#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/memory/ref_counted.h"
#include "base/synchronization/waitable_event.h"
#include "base/test/bounded_wait.h"
#include "base/test/test_task_runner.h"
#include "base/threading/platform_thread.h"
#include "base/trace_event/memory_dump_provider_info.h"
#include "base/trace_event/memory_peak_detector.h"
#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

class TestProvider : public MemoryDumpProvider {
 public:
  TestProvider() = default;
  explicit TestProvider(bool* destroyed) : destroyed_(destroyed) {}
  ~TestProvider() override {
    if (destroyed_)
      *destroyed_ = true;
  }

  bool OnMemoryDump(const MemoryDumpArgs&, ProcessMemoryDump*) override {
    return true;
  }
  void OnHeapProfilingEnabled(bool enabled) override {
    ++heap_profiling_calls;
    last_enabled = enabled;
    const char* name = PlatformThread::GetName();
    thread_name = name ? name : "";
    called.Signal();
  }
  void PollFastMemoryTotal(uint64_t* memory_total) override {
    *memory_total = 1;
  }

  int heap_profiling_calls = 0;
  bool last_enabled = false;
  std::string thread_name;
  WaitableEvent called{WaitableEvent::ResetPolicy::MANUAL,
                       WaitableEvent::InitialState::NOT_SIGNALED};

 private:
  bool* destroyed_ = nullptr;
};

MemoryDumpProvider::Options HeapProfilingOptions() {
  MemoryDumpProvider::Options options;
  options.supports_heap_profiling = true;
  return options;
}

MemoryDumpProvider::Options FastPollingOptions() {
  MemoryDumpProvider::Options options;
  options.is_fast_polling_supported = true;
  return options;
}

class MemoryDumpManagerTest : public testing::Test {
 protected:
  void SetUp() override {
    manager_ = MemoryDumpManager::CreateInstanceForTesting();
    runner_ = MakeRefCounted<TestTaskRunner>();
  }
  void TearDown() override {
    manager_.reset();
    runner_->ClearPendingTasks();
  }

  // The records of |mdp|: other code (the trace log) may register its own
  // providers with whatever manager is current.
  std::vector<scoped_refptr<MemoryDumpProviderInfo>> RecordsOf(
      MemoryDumpProvider* mdp) {
    std::vector<scoped_refptr<MemoryDumpProviderInfo>> records;
    for (const auto& info : manager_->GetDumpProvidersForTesting()) {
      if (info->dump_provider == mdp)
        records.push_back(info);
    }
    return records;
  }

  std::unique_ptr<MemoryDumpManager> manager_;
  scoped_refptr<TestTaskRunner> runner_;
};

TEST_F(MemoryDumpManagerTest, RegistrationKeepsOneRecordPerProviderAndRunner) {
  TestProvider provider;
  manager_->RegisterDumpProvider(&provider, "Malloc", runner_);
  manager_->RegisterDumpProvider(&provider, "Malloc", runner_);
  auto records = RecordsOf(&provider);
  ASSERT_EQ(1u, records.size());
  EXPECT_STREQ("Malloc", records[0]->name);
  EXPECT_EQ(runner_.get(), records[0]->task_runner.get());
  EXPECT_TRUE(records[0]->options.dumps_on_single_thread_task_runner);
  EXPECT_FALSE(records[0]->options.is_fast_polling_supported);
  EXPECT_TRUE(records[0]->whitelisted_for_background_mode);
  EXPECT_TRUE(records[0]->whitelisted_for_summary_mode);

  // On another runner it is another registration.
  manager_->RegisterDumpProviderWithSequencedTaskRunner(
      &provider, "Malloc", MakeRefCounted<TestTaskRunner>(),
      MemoryDumpProvider::Options());
  EXPECT_EQ(2u, RecordsOf(&provider).size());

  // The whitelists go by the name.
  TestProvider skia;
  manager_->RegisterDumpProvider(&skia, "Skia", nullptr);
  ASSERT_EQ(1u, RecordsOf(&skia).size());
  EXPECT_TRUE(RecordsOf(&skia)[0]->whitelisted_for_background_mode);
  EXPECT_FALSE(RecordsOf(&skia)[0]->whitelisted_for_summary_mode);
}

TEST_F(MemoryDumpManagerTest, IgnoredRegistrationsLeaveNoRecord) {
  TestProvider provider;
  manager_->set_dumper_registrations_ignored_for_testing(true);
  manager_->RegisterDumpProvider(&provider, "Test", runner_);
  EXPECT_TRUE(RecordsOf(&provider).empty());
  manager_->set_dumper_registrations_ignored_for_testing(false);
  manager_->RegisterDumpProvider(&provider, "Test", runner_);
  EXPECT_EQ(1u, RecordsOf(&provider).size());
}

TEST_F(MemoryDumpManagerTest, UnregisteringDisablesAndRemovesTheRecord) {
  TestProvider provider;
  manager_->RegisterDumpProvider(&provider, "Test", runner_);
  auto records = RecordsOf(&provider);
  ASSERT_EQ(1u, records.size());
  EXPECT_FALSE(records[0]->disabled);

  manager_->UnregisterDumpProvider(&provider);
  EXPECT_TRUE(RecordsOf(&provider).empty());
  // A holder of the record sees it disabled.
  EXPECT_TRUE(records[0]->disabled);
  // Unknown providers are ignored.
  manager_->UnregisterDumpProvider(&provider);
}

TEST_F(MemoryDumpManagerTest, HandedOverProviderLivesAsLongAsItsRecord) {
  bool destroyed = false;
  auto provider = std::make_unique<TestProvider>(&destroyed);
  TestProvider* raw = provider.get();
  manager_->RegisterDumpProvider(raw, "Test", runner_);
  auto records = RecordsOf(raw);
  ASSERT_EQ(1u, records.size());

  manager_->UnregisterAndDeleteDumpProviderSoon(std::move(provider));
  EXPECT_TRUE(RecordsOf(raw).empty());
  EXPECT_TRUE(records[0]->disabled);
  EXPECT_FALSE(destroyed);
  records.clear();
  EXPECT_TRUE(destroyed);

  // One that was never registered is destroyed at once.
  bool stranger_destroyed = false;
  manager_->UnregisterAndDeleteDumpProviderSoon(
      std::make_unique<TestProvider>(&stranger_destroyed));
  EXPECT_TRUE(stranger_destroyed);
}

TEST_F(MemoryDumpManagerTest, HeapProfilingIsAnnouncedOnTheProvidersRunner) {
  TestProvider supporting, other;
  // Modes below 2 and above 4 do not enable heap profiling.
  for (uint32_t mode : {0u, 1u, 5u}) {
    manager_->SetHeapProfilingModeForTesting(mode);
    manager_->RegisterDumpProvider(&supporting, "Test", runner_,
                                   HeapProfilingOptions());
    EXPECT_EQ(0u, runner_->pending_count()) << mode;
    manager_->UnregisterDumpProvider(&supporting);
  }

  for (uint32_t mode : {2u, 3u, 4u}) {
    supporting.heap_profiling_calls = 0;
    manager_->SetHeapProfilingModeForTesting(mode);
    manager_->RegisterDumpProvider(&supporting, "Test", runner_,
                                   HeapProfilingOptions());
    manager_->RegisterDumpProvider(&other, "Other", runner_);
    EXPECT_EQ(1u, runner_->pending_count()) << mode;
    runner_->RunUntilIdle();
    EXPECT_EQ(1, supporting.heap_profiling_calls) << mode;
    EXPECT_TRUE(supporting.last_enabled);
    EXPECT_EQ(0, other.heap_profiling_calls);
    manager_->UnregisterDumpProvider(&supporting);
    manager_->UnregisterDumpProvider(&other);
  }
}

TEST_F(MemoryDumpManagerTest, AnnouncementPostedBeforeUnregisteringIsDropped) {
  TestProvider provider;
  manager_->SetHeapProfilingModeForTesting(2);
  manager_->RegisterDumpProvider(&provider, "Test", runner_,
                                 HeapProfilingOptions());
  ASSERT_EQ(1u, runner_->pending_count());
  manager_->UnregisterDumpProvider(&provider);
  runner_->RunUntilIdle();
  EXPECT_EQ(0, provider.heap_profiling_calls);
}

TEST_F(MemoryDumpManagerTest, UnboundProviderIsToldOnMemoryInfraThread) {
  TestProvider provider;
  manager_->SetHeapProfilingModeForTesting(4);
  manager_->RegisterDumpProvider(&provider, "Test", nullptr,
                                 HeapProfilingOptions());
  ASSERT_TRUE(WaitWithin(&provider.called, "OnHeapProfilingEnabled"));
  EXPECT_EQ("MemoryInfra", provider.thread_name);
  EXPECT_EQ(1, provider.heap_profiling_calls);
  // Stops the thread before |provider| goes.
  manager_.reset();
}

// The peak detector learns of fast-polling providers through the manager.
class MemoryDumpManagerPeakDetectorTest : public MemoryDumpManagerTest {
 protected:
  void SetUp() override {
    MemoryDumpManagerTest::SetUp();
    MemoryPeakDetector::GetInstance()->Setup(
        BindRepeating(&MemoryDumpManager::GetDumpProvidersForPolling,
                      Unretained(manager_.get())),
        runner_, BindRepeating([] {}));
    MemoryPeakDetector::Config config;
    config.polling_interval_ms = 10;
    MemoryPeakDetector::GetInstance()->Start(config, 1);
    runner_->RunUntilIdle();
  }
  void TearDown() override {
    MemoryPeakDetector::GetInstance()->TearDown();
    runner_->RunUntilIdle();
    MemoryDumpManagerTest::TearDown();
  }
  MemoryPeakDetector::State detector_state() {
    return MemoryPeakDetector::GetInstance()->state_for_testing();
  }
};

TEST_F(MemoryDumpManagerPeakDetectorTest, FastPollingProvidersStartPolling) {
  EXPECT_EQ(MemoryPeakDetector::ENABLED, detector_state());
  TestProvider slow;
  manager_->RegisterDumpProvider(&slow, "Slow", nullptr);
  EXPECT_EQ(0u, runner_->pending_count());

  auto fast = std::make_unique<TestProvider>();
  TestProvider* fast_raw = fast.get();
  manager_->RegisterDumpProvider(fast_raw, "Fast", nullptr,
                                 FastPollingOptions());
  EXPECT_EQ(1u, runner_->pending_count());
  runner_->RunUntilIdle();
  EXPECT_EQ(MemoryPeakDetector::RUNNING, detector_state());

  manager_->UnregisterAndDeleteDumpProviderSoon(std::move(fast));
  runner_->RunUntilIdle();
  EXPECT_EQ(MemoryPeakDetector::ENABLED, detector_state());
  EXPECT_TRUE(RecordsOf(fast_raw).empty());
  manager_->UnregisterDumpProvider(&slow);
}

}  // namespace
}  // namespace trace_event
}  // namespace base
