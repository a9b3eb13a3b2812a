#include "base/debug/profiler.h"

#include <atomic>

#include "base/win/pe_image.h"

// The image base of the module this code is linked into.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace base {
namespace debug {

namespace internal {

const IMAGE_SECTION_HEADER* FindImageSectionByName(HMODULE module,
                                                   const char* name) {
  return win::PEImage(module).GetImageSectionHeaderByName(name);
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
    win::PEImage image(reinterpret_cast<HMODULE>(&__ImageBase));
    const bool instrumented = image.GetImageSectionHeaderByName(".thunks") &&
                              image.GetImageSectionHeaderByName(".syzygy");
    state = instrumented ? kInstrumented : kNotInstrumented;
    g_instrumented_state.store(state, std::memory_order_relaxed);
  }
  return state == kInstrumented;
}

}  // namespace debug
}  // namespace base
