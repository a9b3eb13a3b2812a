#include "base/win/scoped_bstr.h"

#include "base/check.h"

namespace base {
namespace win {

ScopedBstr::ScopedBstr(const wchar_t* non_bstr)
    : bstr_(non_bstr ? ::SysAllocString(non_bstr) : nullptr) {}

ScopedBstr::~ScopedBstr() {
  ::SysFreeString(bstr_);
}

void ScopedBstr::Reset(BSTR bstr) {
  if (bstr != bstr_) {
    ::SysFreeString(bstr_);
    bstr_ = bstr;
  }
}

BSTR ScopedBstr::Release() {
  BSTR bstr = bstr_;
  bstr_ = nullptr;
  return bstr;
}

BSTR ScopedBstr::AllocateBytes(size_t bytes) {
  Reset(::SysAllocStringByteLen(nullptr, static_cast<UINT>(bytes)));
  return bstr_;
}

BSTR* ScopedBstr::Receive() {
  DCHECK(!bstr_);
  return &bstr_;
}

size_t ScopedBstr::Length() const {
  return ::SysStringLen(bstr_);
}

}  // namespace win
}  // namespace base
