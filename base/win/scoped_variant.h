#ifndef BASE_WIN_SCOPED_VARIANT_H_
#define BASE_WIN_SCOPED_VARIANT_H_

#include <windows.h>
#include <oleauto.h>

#include <stdint.h>

#include "base/macros.h"

namespace base {
namespace win {

// Owns a COM variant and clears it with VariantClear.
class ScopedVariant {
 public:
  // An empty variant (VT_EMPTY).
  ScopedVariant();
  // A VT_BSTR variant holding a copy of |str| (NUL-terminated).
  explicit ScopedVariant(const wchar_t* str);
  // A VT_I4 variant.
  explicit ScopedVariant(int32_t value);
  ~ScopedVariant();

  VARTYPE type() const { return var_.vt; }

  // Clears what is held and takes |var| as it is.
  void Reset(const VARIANT& var);
  void Reset();

  // Gives the variant up without clearing it; the object ends empty.
  VARIANT Release();

  // Clears what is held and stores a copy of |str| as VT_BSTR.
  void Set(const wchar_t* str);
  // Clears what is held and stores |value| as VT_I4.
  void Set(int32_t value);
  // Clears what is held and takes ownership of |array|, typed by its
  // element type plus VT_ARRAY; an array whose type cannot be read (a null
  // one, say) leaves the variant empty.
  void Set(SAFEARRAY* array);

  // For functions that fill a VARIANT out-parameter: the object must be
  // empty.
  VARIANT* Receive();

  const VARIANT* ptr() const { return &var_; }

 private:
  VARIANT var_;

  DISALLOW_COPY_AND_ASSIGN(ScopedVariant);
};

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_SCOPED_VARIANT_H_
