#ifndef BASE_TRACE_EVENT_MEMORY_INFRA_BACKGROUND_WHITELIST_H_
#define BASE_TRACE_EVENT_MEMORY_INFRA_BACKGROUND_WHITELIST_H_

#include <string>

namespace base {
namespace trace_event {

// Whether the provider registered as |mdp_name| may take part in
// background-mode dumps (exact, case-sensitive match).
bool IsMemoryDumpProviderWhitelisted(const char* mdp_name);

// Whether the provider registered as |mdp_name| may take part in
// summary-mode dumps.
bool IsMemoryDumpProviderWhitelistedForSummary(const char* mdp_name);

// Whether an allocator dump named |name| may be kept in a background-mode
// dump. "global/<hex>" and "shared_memory/<hex>" always may; any other name
// is compared with every "0x<hex>" in it written as "0x?", since such
// numbers (addresses, ids) differ from one run to the next.
bool IsMemoryAllocatorDumpNameWhitelisted(const std::string& name);

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_MEMORY_INFRA_BACKGROUND_WHITELIST_H_
