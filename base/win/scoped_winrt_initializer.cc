#include "base/win/scoped_winrt_initializer.h"

#include "base/win/winrt.h"

namespace base {
namespace win {

namespace {

// RO_INIT_MULTITHREADED.
constexpr int kRoInitMultithreaded = 1;

}  // namespace

ScopedWinrtInitializer::ScopedWinrtInitializer()
    : hr_(RoInitialize(kRoInitMultithreaded)) {}

ScopedWinrtInitializer::~ScopedWinrtInitializer() {
  if (SUCCEEDED(hr_))
    RoUninitialize();
}

bool ScopedWinrtInitializer::Succeeded() const {
  return SUCCEEDED(hr_);
}

}  // namespace win
}  // namespace base
