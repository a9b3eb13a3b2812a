#ifndef BASE_WIN_SCOPED_COM_INITIALIZER_H_
#define BASE_WIN_SCOPED_COM_INITIALIZER_H_

#include <objbase.h>

#include "base/macros.h"

namespace base {
namespace win {

// Joins the calling thread to a COM apartment for the life of the object.
// Make and destroy it on the same thread. A thread that is already in an
// apartment of the same model gets S_FALSE, which still counts as success
// and still owes its CoUninitialize; one that is in the other model gets
// RPC_E_CHANGED_MODE and leaves the apartment alone.
class ScopedCOMInitializer {
 public:
  enum SelectMTA { kMTA };

  // A single-threaded apartment.
  ScopedCOMInitializer();
  // The multi-threaded apartment.
  explicit ScopedCOMInitializer(SelectMTA mta);

  virtual ~ScopedCOMInitializer();

  virtual bool Succeeded() const;

  HRESULT hr() const { return hr_; }

 private:
  HRESULT hr_;

  DISALLOW_COPY_AND_ASSIGN(ScopedCOMInitializer);
};

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_SCOPED_COM_INITIALIZER_H_
