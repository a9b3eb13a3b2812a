#include "base/debug/crash_logging.h"

namespace base {
namespace debug {

namespace {

// Owned; deliberately never destroyed at exit, since a crash while the
// process is shutting down should still find its keys.
CrashKeyImplementation* g_crash_key_implementation = nullptr;

}  // namespace

void SetCrashKeyImplementation(
    std::unique_ptr<CrashKeyImplementation> implementation) {
  CrashKeyImplementation* old = g_crash_key_implementation;
  g_crash_key_implementation = implementation.release();
  delete old;
}

CrashKeyString* AllocateCrashKeyString(const char* name, uint32_t size) {
  if (!g_crash_key_implementation)
    return nullptr;
  return g_crash_key_implementation->Allocate(name, size);
}

void SetCrashKeyString(CrashKeyString* crash_key, StringPiece value) {
  if (!crash_key || !g_crash_key_implementation)
    return;
  g_crash_key_implementation->Set(crash_key, value);
}

void ClearCrashKeyString(CrashKeyString* crash_key) {
  if (!crash_key || !g_crash_key_implementation)
    return;
  g_crash_key_implementation->Clear(crash_key);
}

}  // namespace debug
}  // namespace base
