#ifndef BASE_WIN_SCOPED_WINRT_INITIALIZER_H_
#define BASE_WIN_SCOPED_WINRT_INITIALIZER_H_

#include <objbase.h>

#include "base/macros.h"

namespace base {
namespace win {

// Joins the calling thread to the multi-threaded Windows Runtime (and so
// COM) apartment for the life of the object. Only for Windows 8 and later,
// where the runtime exists; make and destroy it on the same thread.
class ScopedWinrtInitializer {
 public:
  ScopedWinrtInitializer();
  virtual ~ScopedWinrtInitializer();

  virtual bool Succeeded() const;

 private:
  const HRESULT hr_;

  DISALLOW_COPY_AND_ASSIGN(ScopedWinrtInitializer);
};

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_SCOPED_WINRT_INITIALIZER_H_
