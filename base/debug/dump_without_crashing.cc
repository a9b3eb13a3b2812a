#include "base/debug/dump_without_crashing.h"

#include <atomic>

namespace base {
namespace debug {

namespace {

std::atomic<void (*)()> g_dump_function{nullptr};

}  // namespace

bool DumpWithoutCrashing() {
  void (*function)() = g_dump_function.load(std::memory_order_acquire);
  if (!function)
    return false;
  function();
  return true;
}

void SetDumpWithoutCrashingFunction(void (*function)()) {
  g_dump_function.store(function, std::memory_order_release);
}

}  // namespace debug
}  // namespace base
