#include "base/trace_event/process_memory_dump.h"

#include <utility>

#include "base/strings/stringprintf.h"
#include "base/synchronization/lock.h"
#include "base/trace_event/memory_infra_background_whitelist.h"

namespace base {
namespace trace_event {

namespace {

// The process token, made once per process; tests may replace it.
struct ProcessToken {
  Lock lock;
  UnguessableToken token = UnguessableToken::Create();
};

ProcessToken& GetProcessTokenHolder() {
  static ProcessToken* const holder = new ProcessToken();
  return *holder;
}

UnguessableToken GetProcessToken() {
  ProcessToken& holder = GetProcessTokenHolder();
  AutoLock lock(holder.lock);
  return holder.token;
}

constexpr char kDiscardedDumpName[] = "discarded";

}  // namespace

// static
void ProcessMemoryDump::SetProcessTokenForTesting(
    const UnguessableToken& token) {
  ProcessToken& holder = GetProcessTokenHolder();
  AutoLock lock(holder.lock);
  holder.token = token;
}

ProcessMemoryDump::ProcessMemoryDump(const MemoryDumpArgs& dump_args)
    : process_token_(GetProcessToken()), dump_args_(dump_args) {}

ProcessMemoryDump::~ProcessMemoryDump() = default;

MemoryAllocatorDump* ProcessMemoryDump::CreateAllocatorDump(
    const std::string& absolute_name) {
  return AddAllocatorDumpInternal(std::make_unique<MemoryAllocatorDump>(
      absolute_name, dump_args_.level_of_detail, GetDumpId(absolute_name)));
}

MemoryAllocatorDump* ProcessMemoryDump::AddAllocatorDumpInternal(
    std::unique_ptr<MemoryAllocatorDump> mad) {
  // In background mode only names known to carry no personal data are
  // kept; the rest is written, but into a dump nobody reads.
  if (dump_args_.level_of_detail == MemoryDumpLevelOfDetail::BACKGROUND &&
      !IsMemoryAllocatorDumpNameWhitelisted(mad->absolute_name())) {
    return GetBlackHoleMad();
  }
  const std::string name = mad->absolute_name();
  // A name that is there already keeps its dump; the new one is dropped.
  auto inserted = allocator_dumps_.emplace(name, std::move(mad));
  return inserted.first->second.get();
}

MemoryAllocatorDump* ProcessMemoryDump::GetAllocatorDump(
    const std::string& absolute_name) const {
  auto it = allocator_dumps_.find(absolute_name);
  return it == allocator_dumps_.end() ? nullptr : it->second.get();
}

MemoryAllocatorDumpGuid ProcessMemoryDump::GetDumpId(
    const std::string& absolute_name) const {
  // The id is the hash of this exact text, which other processes compute
  // too: each half of the token in upper-case hexadecimal with at least 8
  // digits ("%08llX"), not the token's ToString, which pads each half to 16.
  // The two differ for any half below 2^60, and so would every such id.
  return MemoryAllocatorDumpGuid(StringPrintf(
      "%08llX%08llX:%s",
      static_cast<unsigned long long>(process_token_.GetHighForSerialization()),
      static_cast<unsigned long long>(process_token_.GetLowForSerialization()),
      absolute_name.c_str()));
}

MemoryAllocatorDump* ProcessMemoryDump::GetBlackHoleMad() {
  if (!black_hole_mad_) {
    black_hole_mad_ = std::make_unique<MemoryAllocatorDump>(
        kDiscardedDumpName, dump_args_.level_of_detail,
        GetDumpId(kDiscardedDumpName));
  }
  return black_hole_mad_.get();
}

}  // namespace trace_event
}  // namespace base
