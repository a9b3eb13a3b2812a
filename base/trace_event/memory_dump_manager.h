#ifndef BASE_TRACE_EVENT_MEMORY_DUMP_MANAGER_H_
#define BASE_TRACE_EVENT_MEMORY_DUMP_MANAGER_H_

#include <stdint.h>

#include <memory>
#include <utility>
#include <vector>

#include "base/callback.h"
#include "base/macros.h"
#include "base/memory/scoped_refptr.h"
#include "base/synchronization/lock.h"
#include "base/trace_event/memory_dump_provider.h"
#include "base/trace_event/memory_dump_provider_info.h"

namespace base {

class SequencedTaskRunner;
class SingleThreadTaskRunner;
class Thread;

namespace trace_event {

// The process-wide registry of memory dump providers (see memory_dump_
// provider_info.h for what it keeps of each).
class MemoryDumpManager {
 public:
  // The category of the manager's and the peak detector's trace events.
  static const char* const kTraceCategory;

  // Heap profiling modes from this one up ask the providers that support
  // heap profiling to start it.
  static constexpr uint32_t kHeapProfilingModeFirstEnabling = 2;
  static constexpr uint32_t kHeapProfilingModeLastEnabling = 4;

  static MemoryDumpManager* GetInstance();

  // A manager of the test's own, which GetInstance answers until it is
  // destroyed. Only such managers are ever destroyed.
  static std::unique_ptr<MemoryDumpManager> CreateInstanceForTesting();
  ~MemoryDumpManager();

  // Registers |mdp| to be called on |task_runner| (null: on any thread).
  // |name| must outlive the registration. This form sets the options' single
  // thread flag; the forms that take options keep them as given.
  void RegisterDumpProvider(MemoryDumpProvider* mdp,
                            const char* name,
                            scoped_refptr<SingleThreadTaskRunner> task_runner);
  void RegisterDumpProvider(MemoryDumpProvider* mdp,
                            const char* name,
                            scoped_refptr<SingleThreadTaskRunner> task_runner,
                            MemoryDumpProvider::Options options);
  void RegisterDumpProviderWithSequencedTaskRunner(
      MemoryDumpProvider* mdp,
      const char* name,
      scoped_refptr<SequencedTaskRunner> task_runner,
      MemoryDumpProvider::Options options);

  // Unregisters |mdp|. A provider bound to a task runner must unregister on
  // it: tasks posted for it earlier then see the registration gone and
  // leave it alone. A provider that supports fast polling (polled on the
  // peak detector's runner, bound or not), or an unbound one that supports
  // heap profiling, must be handed over with the form below instead
  // (checked), since a call on another thread may be under way.
  void UnregisterDumpProvider(MemoryDumpProvider* mdp);
  // Unregisters |mdp| and destroys it once no dump can be using it.
  void UnregisterAndDeleteDumpProviderSoon(
      std::unique_ptr<MemoryDumpProvider> mdp);

  // Fills |providers| with the registered providers that support fast
  // polling, for the peak detector.
  void GetDumpProvidersForPolling(
      std::vector<scoped_refptr<MemoryDumpProviderInfo>>* providers);

  void set_dumper_registrations_ignored_for_testing(bool ignored);
  // Sets the mode that providers registered from now on are told about.
  void SetHeapProfilingModeForTesting(uint32_t mode);
  // The registered records, in the set's order.
  std::vector<scoped_refptr<MemoryDumpProviderInfo>>
  GetDumpProvidersForTesting();

 private:
  MemoryDumpManager();

  void RegisterDumpProviderInternal(
      MemoryDumpProvider* mdp,
      const char* name,
      scoped_refptr<SequencedTaskRunner> task_runner,
      const MemoryDumpProvider::Options& options);
  void UnregisterDumpProviderInternal(MemoryDumpProvider* mdp,
                                      bool take_mdp_ownership_and_delete_async);

  // Tasks to post once |lock_| is released. Posting records a flow trace
  // event, and the trace log's first use, or a thread's first event, makes
  // the trace log register a provider of its own, which takes |lock_| again.
  using PendingTasks =
      std::vector<std::pair<scoped_refptr<SequencedTaskRunner>, OnceClosure>>;

  // Adds to |pending_tasks| the call OnHeapProfilingEnabled(|enabled|) for
  // |mdpinfo| when its provider supports heap profiling. Called with |lock_|
  // held.
  void NotifyHeapProfilingEnabledLocked(
      scoped_refptr<MemoryDumpProviderInfo> mdpinfo,
      bool enabled,
      PendingTasks* pending_tasks);
  static void PostPendingTasks(PendingTasks pending_tasks);
  // The task runner of the "MemoryInfra" thread, started on first need.
  // Called with |lock_| held.
  scoped_refptr<SequencedTaskRunner> GetOrCreateBgTaskRunnerLocked();

  // Guards the fields below.
  Lock lock_;
  MemoryDumpProviderInfo::OrderedSet dump_providers_;
  std::unique_ptr<Thread> dump_thread_;
  // Set by tests, and for good once destruction begins.
  bool dumper_registrations_ignored_ = false;
  uint32_t heap_profiling_mode_ = 0;

  DISALLOW_COPY_AND_ASSIGN(MemoryDumpManager);
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_MEMORY_DUMP_MANAGER_H_
