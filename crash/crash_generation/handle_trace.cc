#include "crash/crash_generation/handle_trace.h"

#include <dbghelp.h>
#include <string.h>

#include <atomic>

#include "base/win/system_library.h"

namespace crash_reporter {

namespace {

// The verifier's record kinds and resource types.
constexpr ULONG kOperationBadReference = OperationDbBADREF;
constexpr ULONG kResourceHandleTrace = AvrfResourceHandleTrace;
// The enumeration level that asks for the next record.
constexpr ULONG kEnumerateNext = 0;

VerifierEnumerateResourceFunction LoadVerifier(HMODULE* module) {
  *module = nullptr;
  HMODULE verifier = base::win::LoadSystemLibrary(L"verifier.dll");
  if (!verifier)
    return nullptr;
  auto enumerate = reinterpret_cast<VerifierEnumerateResourceFunction>(
      ::GetProcAddress(verifier, "VerifierEnumerateResource"));
  if (!enumerate) {
    ::FreeLibrary(verifier);
    return nullptr;
  }
  *module = verifier;
  return enumerate;
}

std::atomic<VerifierLoader> g_loader_for_testing{nullptr};

}  // namespace

// static
ULONG NTAPI HandleTraceCollector::OnRecord(PVOID record,
                                           PVOID context,
                                           PULONG level) {
  static_cast<HandleTraceCollector*>(context)->Add(
      *static_cast<const AVRF_HANDLE_OPERATION*>(record));
  *level = kEnumerateNext;
  return 0;
}

void HandleTraceCollector::Add(const AVRF_HANDLE_OPERATION& record) {
  records_.push_back(record);
  if (record.OperationType == kOperationBadReference)
    bad_handle_ = record.Handle;
}

bool HandleTraceCollector::Collect(VerifierEnumerateResourceFunction enumerate,
                                   HANDLE process) {
  return enumerate(process, 0, kResourceHandleTrace, &OnRecord, this) == 0;
}

std::string HandleTraceCollector::BuildStream() const {
  MINIDUMP_HANDLE_OPERATION_LIST header = {};
  header.SizeOfHeader = sizeof(header);
  header.SizeOfEntry = sizeof(AVRF_HANDLE_OPERATION);
  std::string body;
  for (const AVRF_HANDLE_OPERATION& record : records_) {
    if (record.Handle != bad_handle_)
      continue;
    body.append(reinterpret_cast<const char*>(&record), sizeof(record));
    ++header.NumberOfEntries;
  }
  body.insert(0, reinterpret_cast<const char*>(&header), sizeof(header));
  return body;
}

VerifierLoader GetVerifierLoader() {
  VerifierLoader loader = g_loader_for_testing.load();
  return loader ? loader : &LoadVerifier;
}

void SetVerifierLoaderForTesting(VerifierLoader loader) {
  g_loader_for_testing.store(loader);
}

}  // namespace crash_reporter
