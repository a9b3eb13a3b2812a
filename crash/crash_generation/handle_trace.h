#ifndef CRASH_CRASH_GENERATION_HANDLE_TRACE_H_
#define CRASH_CRASH_GENERATION_HANDLE_TRACE_H_

#include <windows.h>
#include <avrfsdk.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace crash_reporter {

// Application Verifier keeps, for a process that runs under it, a trace of
// the handle operations (open, close, bad reference) with their stacks. A
// process that died of an invalid handle carries the part of that trace
// about the offending handle in its dump, as a HandleOperationListStream.

static_assert(sizeof(AVRF_HANDLE_OPERATION) == 288,
              "a handle trace record is 288 bytes");

// "VerifierEnumerateResource" of verifier.dll.
using VerifierEnumerateResourceFunction =
    ULONG(NTAPI*)(HANDLE process,
                  ULONG flags,
                  ULONG resource_type,
                  AVRF_RESOURCE_ENUMERATE_CALLBACK callback,
                  PVOID context);

// Gathers the records of one enumeration and keeps the handle of the last
// bad reference seen, which is the one the process died of.
class HandleTraceCollector {
 public:
  HandleTraceCollector() = default;

  // The enumeration callback; |context| is the collector.
  static ULONG NTAPI OnRecord(PVOID record, PVOID context, PULONG level);

  void Add(const AVRF_HANDLE_OPERATION& record);

  // Enumerates the trace of |process| with |enumerate|; false when the
  // verifier reported a failure (then there is no trace to write).
  bool Collect(VerifierEnumerateResourceFunction enumerate, HANDLE process);

  // The stream body: a MINIDUMP_HANDLE_OPERATION_LIST header followed by
  // the records of the bad handle, in the order they were reported.
  std::string BuildStream() const;

  size_t record_count() const { return records_.size(); }
  ULONG64 bad_handle() const { return bad_handle_; }

 private:
  std::vector<AVRF_HANDLE_OPERATION> records_;
  ULONG64 bad_handle_ = 0;
};

// Finds the verifier's enumeration function; on success |*module| holds the
// library to free once the trace is read. Null when the verifier is not
// installed (always so under Wine).
using VerifierLoader = VerifierEnumerateResourceFunction (*)(HMODULE* module);

// The loader in use: verifier.dll from the system folder unless a test set
// another. Tests pass null to restore the real one.
VerifierLoader GetVerifierLoader();
void SetVerifierLoaderForTesting(VerifierLoader loader);

}  // namespace crash_reporter

#endif  // CRASH_CRASH_GENERATION_HANDLE_TRACE_H_
