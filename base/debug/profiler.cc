#include "base/debug/profiler.h"

#include <string.h>

#include <atomic>

// The image base of the module this code is linked into.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace base {
namespace debug {

namespace internal {

const IMAGE_SECTION_HEADER* FindImageSectionByName(HMODULE module,
                                                   const char* name) {
  const char* base = reinterpret_cast<const char*>(module);
  const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE)
    return nullptr;
  const IMAGE_NT_HEADERS* nt =
      reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE)
    return nullptr;
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    // Section names are 8 bytes, NUL-padded only when shorter.
    if (strncmp(reinterpret_cast<const char*>(section->Name), name,
                IMAGE_SIZEOF_SHORT_NAME) == 0) {
      return section;
    }
  }
  return nullptr;
}

}  // namespace internal

namespace {

enum InstrumentedState : unsigned {
  kUnknown = 0,
  kInstrumented = 1,
  kNotInstrumented = 2,
};

std::atomic<unsigned> g_instrumented_state{kUnknown};

}  // namespace

bool IsBinaryInstrumented() {
  unsigned state = g_instrumented_state.load(std::memory_order_relaxed);
  if (state == kUnknown) {
    // Racing threads compute the same answer; storing it twice is harmless.
    HMODULE self = reinterpret_cast<HMODULE>(&__ImageBase);
    const bool instrumented =
        internal::FindImageSectionByName(self, ".thunks") &&
        internal::FindImageSectionByName(self, ".syzygy");
    state = instrumented ? kInstrumented : kNotInstrumented;
    g_instrumented_state.store(state, std::memory_order_relaxed);
  }
  return state == kInstrumented;
}

}  // namespace debug
}  // namespace base
