#ifndef BASE_TRACE_EVENT_MEMORY_DUMP_PROVIDER_INFO_H_
#define BASE_TRACE_EVENT_MEMORY_DUMP_PROVIDER_INFO_H_

#include <stdint.h>

#include <atomic>
#include <memory>
#include <set>

#include "base/macros.h"
#include "base/memory/ref_counted.h"
#include "base/sequenced_task_runner.h"
#include "base/trace_event/memory_dump_provider.h"

namespace base {
namespace trace_event {

// What the memory dump manager keeps of one registered provider. Shared:
// the manager's set holds it, and so do tasks posted for the provider and
// the peak detector's list, which may outlive the registration (they then
// see |disabled| set).
struct MemoryDumpProviderInfo
    : public RefCountedThreadSafe<MemoryDumpProviderInfo> {
  // Orders the manager's set so that providers bound to a task runner come
  // first, grouped by runner, and unbound ones last. Two records for the
  // same provider and runner are equivalent, which is what keeps a provider
  // from being registered twice.
  struct Comparator {
    bool operator()(const scoped_refptr<MemoryDumpProviderInfo>& a,
                    const scoped_refptr<MemoryDumpProviderInfo>& b) const;
  };
  using OrderedSet =
      std::set<scoped_refptr<MemoryDumpProviderInfo>, Comparator>;

  MemoryDumpProviderInfo(MemoryDumpProvider* dump_provider,
                         const char* name,
                         scoped_refptr<SequencedTaskRunner> task_runner,
                         const MemoryDumpProvider::Options& options,
                         bool whitelisted_for_background_mode,
                         bool whitelisted_for_summary_mode);

  MemoryDumpProvider* const dump_provider;
  const MemoryDumpProvider::Options options;
  // Not copied: the registration's caller keeps it alive.
  const char* const name;
  // Where the provider must be called; null when any thread will do.
  const scoped_refptr<SequencedTaskRunner> task_runner;
  const bool whitelisted_for_background_mode;
  const bool whitelisted_for_summary_mode;

  // Set when the provider was handed over at unregistration; it dies with
  // the record, that is after the last task that may still call it.
  std::unique_ptr<MemoryDumpProvider> owned_dump_provider;
  uint32_t consecutive_failures = 0;
  // Set, under the manager's lock, once the provider is unregistered; read
  // without it by tasks and polls that still hold the record. Stored with
  // release and loaded with acquire.
  std::atomic<bool> disabled{false};

 private:
  friend class RefCountedThreadSafe<MemoryDumpProviderInfo>;
  ~MemoryDumpProviderInfo();

  DISALLOW_COPY_AND_ASSIGN(MemoryDumpProviderInfo);
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_MEMORY_DUMP_PROVIDER_INFO_H_
