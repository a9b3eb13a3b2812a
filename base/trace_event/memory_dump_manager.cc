#include "base/trace_event/memory_dump_manager.h"

#include <atomic>
#include <utility>

#include "base/bind.h"
#include "base/check.h"
#include "base/location.h"
#include "base/sequenced_task_runner.h"
#include "base/single_thread_task_runner.h"
#include "base/threading/thread.h"
#include "base/trace_event/memory_infra_background_whitelist.h"
#include "base/trace_event/memory_peak_detector.h"

namespace base {
namespace trace_event {

namespace {

std::atomic<MemoryDumpManager*> g_instance_for_testing{nullptr};

// Runs on the provider's task runner (or the "MemoryInfra" thread). The
// bound reference keeps the record alive until here; a provider that was
// unregistered since may be gone, so it is not called.
void NotifyHeapProfilingEnabledOnProviderSequence(
    scoped_refptr<MemoryDumpProviderInfo> mdpinfo, bool enabled) {
  if (mdpinfo->disabled.load(std::memory_order_acquire))
    return;
  mdpinfo->dump_provider->OnHeapProfilingEnabled(enabled);
}

bool IsHeapProfilingEnablingMode(uint32_t mode) {
  return mode >= MemoryDumpManager::kHeapProfilingModeFirstEnabling &&
         mode <= MemoryDumpManager::kHeapProfilingModeLastEnabling;
}

}  // namespace

const char* const MemoryDumpManager::kTraceCategory =
    "disabled-by-default-memory-infra";
constexpr uint32_t MemoryDumpManager::kHeapProfilingModeFirstEnabling;
constexpr uint32_t MemoryDumpManager::kHeapProfilingModeLastEnabling;

// static
MemoryDumpManager* MemoryDumpManager::GetInstance() {
  if (MemoryDumpManager* for_testing =
          g_instance_for_testing.load(std::memory_order_acquire)) {
    return for_testing;
  }
  // Never destroyed: providers register and unregister until the process
  // ends.
  static MemoryDumpManager* const instance = new MemoryDumpManager();
  return instance;
}

// static
std::unique_ptr<MemoryDumpManager>
MemoryDumpManager::CreateInstanceForTesting() {
  std::unique_ptr<MemoryDumpManager> manager(new MemoryDumpManager());
  g_instance_for_testing.store(manager.get(), std::memory_order_release);
  return manager;
}

MemoryDumpManager::MemoryDumpManager() = default;

MemoryDumpManager::~MemoryDumpManager() {
  std::unique_ptr<Thread> dump_thread;
  {
    AutoLock lock(lock_);
    // A registration from now on (say, by a last task on "MemoryInfra")
    // could start the thread anew, with nobody left to stop it before the
    // records go.
    dumper_registrations_ignored_ = true;
    dump_thread = std::move(dump_thread_);
  }
  // Stopped outside the lock: its last tasks may call providers that
  // register or unregister.
  if (dump_thread)
    dump_thread->Stop();
  MemoryDumpManager* self = this;
  g_instance_for_testing.compare_exchange_strong(self, nullptr);
  // Dropped outside the lock: a record may own its provider.
  MemoryDumpProviderInfo::OrderedSet dump_providers;
  {
    AutoLock lock(lock_);
    dump_providers.swap(dump_providers_);
  }
}

void MemoryDumpManager::RegisterDumpProvider(
    MemoryDumpProvider* mdp,
    const char* name,
    scoped_refptr<SingleThreadTaskRunner> task_runner) {
  MemoryDumpProvider::Options options;
  options.dumps_on_single_thread_task_runner = true;
  RegisterDumpProvider(mdp, name, std::move(task_runner), options);
}

void MemoryDumpManager::RegisterDumpProvider(
    MemoryDumpProvider* mdp,
    const char* name,
    scoped_refptr<SingleThreadTaskRunner> task_runner,
    MemoryDumpProvider::Options options) {
  RegisterDumpProviderInternal(mdp, name, std::move(task_runner), options);
}

void MemoryDumpManager::RegisterDumpProviderWithSequencedTaskRunner(
    MemoryDumpProvider* mdp,
    const char* name,
    scoped_refptr<SequencedTaskRunner> task_runner,
    MemoryDumpProvider::Options options) {
  RegisterDumpProviderInternal(mdp, name, std::move(task_runner), options);
}

void MemoryDumpManager::RegisterDumpProviderInternal(
    MemoryDumpProvider* mdp,
    const char* name,
    scoped_refptr<SequencedTaskRunner> task_runner,
    const MemoryDumpProvider::Options& options) {
  // Made before the lock: the whitelist look-ups need none.
  scoped_refptr<MemoryDumpProviderInfo> mdpinfo =
      MakeRefCounted<MemoryDumpProviderInfo>(
          mdp, name, std::move(task_runner), options,
          IsMemoryDumpProviderWhitelisted(name),
          IsMemoryDumpProviderWhitelistedForSummary(name));
  PendingTasks pending_tasks;
  {
    AutoLock lock(lock_);
    if (dumper_registrations_ignored_)
      return;
    // The set holds one record per provider and task runner.
    if (!dump_providers_.insert(mdpinfo).second)
      return;
    if (IsHeapProfilingEnablingMode(heap_profiling_mode_))
      NotifyHeapProfilingEnabledLocked(mdpinfo, true, &pending_tasks);
  }
  // Posted once the lock is released (see PendingTasks).
  if (options.is_fast_polling_supported)
    MemoryPeakDetector::GetInstance()->NotifyMemoryDumpProvidersChanged();
  PostPendingTasks(std::move(pending_tasks));
}

void MemoryDumpManager::UnregisterDumpProvider(MemoryDumpProvider* mdp) {
  UnregisterDumpProviderInternal(mdp, false);
}

void MemoryDumpManager::UnregisterAndDeleteDumpProviderSoon(
    std::unique_ptr<MemoryDumpProvider> mdp) {
  UnregisterDumpProviderInternal(mdp.release(), true);
}

void MemoryDumpManager::UnregisterDumpProviderInternal(
    MemoryDumpProvider* mdp, bool take_mdp_ownership_and_delete_async) {
  std::unique_ptr<MemoryDumpProvider> owned_mdp;
  if (take_mdp_ownership_and_delete_async)
    owned_mdp.reset(mdp);

  // Released after the lock: the last reference may destroy the record and
  // with it the provider, whose destructor may call back into the manager.
  scoped_refptr<MemoryDumpProviderInfo> removed;
  {
    AutoLock lock(lock_);
    auto it = dump_providers_.begin();
    while (it != dump_providers_.end() && (*it)->dump_provider != mdp)
      ++it;
    if (it == dump_providers_.end())
      return;  // |owned_mdp| is destroyed outside the lock.

    removed = *it;
    // The provider may be in a call on another thread right now: polls run
    // on the peak detector's runner whatever the provider is bound to, and
    // an unbound provider hears of heap profiling on "MemoryInfra". The
    // disabled flag only stops calls not yet begun, so only a handed-over
    // provider is sure to outlive a call under way.
    DCHECK(
        take_mdp_ownership_and_delete_async ||
        (!removed->options.is_fast_polling_supported &&
         (removed->task_runner || !removed->options.supports_heap_profiling)));
    if (take_mdp_ownership_and_delete_async)
      removed->owned_dump_provider = std::move(owned_mdp);
    // Tasks already posted for the provider hold the record and see this.
    removed->disabled.store(true, std::memory_order_release);
    dump_providers_.erase(it);
  }
  if (removed->options.is_fast_polling_supported)
    MemoryPeakDetector::GetInstance()->NotifyMemoryDumpProvidersChanged();
}

void MemoryDumpManager::GetDumpProvidersForPolling(
    std::vector<scoped_refptr<MemoryDumpProviderInfo>>* providers) {
  AutoLock lock(lock_);
  for (const scoped_refptr<MemoryDumpProviderInfo>& mdpinfo : dump_providers_) {
    if (mdpinfo->options.is_fast_polling_supported)
      providers->push_back(mdpinfo);
  }
}

void MemoryDumpManager::set_dumper_registrations_ignored_for_testing(
    bool ignored) {
  AutoLock lock(lock_);
  dumper_registrations_ignored_ = ignored;
}

void MemoryDumpManager::SetHeapProfilingModeForTesting(uint32_t mode) {
  AutoLock lock(lock_);
  heap_profiling_mode_ = mode;
}

std::vector<scoped_refptr<MemoryDumpProviderInfo>>
MemoryDumpManager::GetDumpProvidersForTesting() {
  AutoLock lock(lock_);
  return std::vector<scoped_refptr<MemoryDumpProviderInfo>>(
      dump_providers_.begin(), dump_providers_.end());
}

void MemoryDumpManager::NotifyHeapProfilingEnabledLocked(
    scoped_refptr<MemoryDumpProviderInfo> mdpinfo,
    bool enabled,
    PendingTasks* pending_tasks) {
  lock_.AssertAcquired();
  if (!mdpinfo->options.supports_heap_profiling)
    return;
  scoped_refptr<SequencedTaskRunner> task_runner =
      mdpinfo->task_runner ? mdpinfo->task_runner
                           : GetOrCreateBgTaskRunnerLocked();
  pending_tasks->emplace_back(
      std::move(task_runner),
      BindOnce(&NotifyHeapProfilingEnabledOnProviderSequence,
               std::move(mdpinfo), enabled));
}

// static
void MemoryDumpManager::PostPendingTasks(PendingTasks pending_tasks) {
  for (auto& pending : pending_tasks)
    pending.first->PostTask(FROM_HERE, std::move(pending.second));
}

scoped_refptr<SequencedTaskRunner>
MemoryDumpManager::GetOrCreateBgTaskRunnerLocked() {
  lock_.AssertAcquired();
  if (!dump_thread_) {
    dump_thread_ = std::make_unique<Thread>("MemoryInfra");
    CHECK(dump_thread_->Start());
  }
  return dump_thread_->task_runner();
}

}  // namespace trace_event
}  // namespace base
