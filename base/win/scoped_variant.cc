#include "base/win/scoped_variant.h"

#include "base/check.h"

namespace base {
namespace win {

ScopedVariant::ScopedVariant() {
  var_.vt = VT_EMPTY;
}

ScopedVariant::ScopedVariant(const wchar_t* str) {
  var_.vt = VT_EMPTY;
  Set(str);
}

ScopedVariant::ScopedVariant(int32_t value) {
  var_.vt = VT_EMPTY;
  Set(value);
}

ScopedVariant::~ScopedVariant() {
  ::VariantClear(&var_);
}

void ScopedVariant::Reset(const VARIANT& var) {
  if (&var != &var_) {
    ::VariantClear(&var_);
    var_ = var;
  }
}

void ScopedVariant::Reset() {
  ::VariantClear(&var_);
  var_.vt = VT_EMPTY;
}

VARIANT ScopedVariant::Release() {
  VARIANT var = var_;
  var_.vt = VT_EMPTY;
  return var;
}

void ScopedVariant::Set(const wchar_t* str) {
  ::VariantClear(&var_);
  var_.vt = VT_BSTR;
  var_.bstrVal = ::SysAllocString(str);
}

void ScopedVariant::Set(int32_t value) {
  ::VariantClear(&var_);
  var_.vt = VT_I4;
  var_.lVal = value;
}

void ScopedVariant::Set(SAFEARRAY* array) {
  ::VariantClear(&var_);
  if (SUCCEEDED(::SafeArrayGetVartype(array, &var_.vt))) {
    var_.vt |= VT_ARRAY;
    var_.parray = array;
  } else {
    var_.vt = VT_EMPTY;
  }
}

VARIANT* ScopedVariant::Receive() {
  DCHECK(var_.vt == VT_EMPTY);
  return &var_;
}

}  // namespace win
}  // namespace base
