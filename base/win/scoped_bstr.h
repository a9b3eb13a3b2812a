#ifndef BASE_WIN_SCOPED_BSTR_H_
#define BASE_WIN_SCOPED_BSTR_H_

#include <windows.h>
#include <oleauto.h>

#include <stddef.h>

#include "base/macros.h"

namespace base {
namespace win {

// Owns a COM string and frees it with SysFreeString.
class ScopedBstr {
 public:
  ScopedBstr() : bstr_(nullptr) {}
  // Copies |non_bstr| (NUL-terminated) into a new COM string; a null
  // pointer leaves the object empty.
  explicit ScopedBstr(const wchar_t* non_bstr);
  ~ScopedBstr();

  // Frees what is held and takes |bstr|.
  void Reset(BSTR bstr = nullptr);

  // Gives the string up without freeing it.
  BSTR Release();

  // Frees what is held and allocates |bytes| bytes; returns the new string.
  BSTR AllocateBytes(size_t bytes);

  // For functions that return a BSTR through an out-parameter: the object
  // must be empty.
  BSTR* Receive();

  // The length in characters, without the terminating NUL.
  size_t Length() const;

  BSTR Get() const { return bstr_; }
  operator BSTR() const { return bstr_; }

 private:
  BSTR bstr_;

  DISALLOW_COPY_AND_ASSIGN(ScopedBstr);
};

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_SCOPED_BSTR_H_
