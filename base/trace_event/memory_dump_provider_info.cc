#include "base/trace_event/memory_dump_provider_info.h"

#include <functional>
#include <utility>

namespace base {
namespace trace_event {

MemoryDumpProviderInfo::MemoryDumpProviderInfo(
    MemoryDumpProvider* dump_provider,
    const char* name,
    scoped_refptr<SequencedTaskRunner> task_runner,
    const MemoryDumpProvider::Options& options,
    bool whitelisted_for_background_mode,
    bool whitelisted_for_summary_mode)
    : dump_provider(dump_provider),
      options(options),
      name(name),
      task_runner(std::move(task_runner)),
      whitelisted_for_background_mode(whitelisted_for_background_mode),
      whitelisted_for_summary_mode(whitelisted_for_summary_mode) {}

MemoryDumpProviderInfo::~MemoryDumpProviderInfo() = default;

bool MemoryDumpProviderInfo::Comparator::operator()(
    const scoped_refptr<MemoryDumpProviderInfo>& a,
    const scoped_refptr<MemoryDumpProviderInfo>& b) const {
  // std::less and std::greater give a total order even on unrelated
  // pointers, which the built-in operators do not promise.
  if (!a || !b)
    return std::less<const MemoryDumpProviderInfo*>()(a.get(), b.get());
  const SequencedTaskRunner* runner_a = a->task_runner.get();
  const SequencedTaskRunner* runner_b = b->task_runner.get();
  if (runner_a != runner_b)
    return std::greater<const SequencedTaskRunner*>()(runner_a, runner_b);
  return std::greater<const MemoryDumpProvider*>()(a->dump_provider,
                                                   b->dump_provider);
}

}  // namespace trace_event
}  // namespace base
