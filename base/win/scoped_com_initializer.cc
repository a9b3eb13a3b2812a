#include "base/win/scoped_com_initializer.h"

namespace base {
namespace win {

ScopedCOMInitializer::ScopedCOMInitializer()
    : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}

ScopedCOMInitializer::ScopedCOMInitializer(SelectMTA mta)
    : hr_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}

ScopedCOMInitializer::~ScopedCOMInitializer() {
  // Every successful CoInitializeEx, S_FALSE included, is balanced; a
  // refused one must not be.
  if (SUCCEEDED(hr_))
    CoUninitialize();
}

bool ScopedCOMInitializer::Succeeded() const {
  return SUCCEEDED(hr_);
}

}  // namespace win
}  // namespace base
