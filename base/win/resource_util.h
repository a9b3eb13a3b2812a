#ifndef BASE_WIN_RESOURCE_UTIL_H_
#define BASE_WIN_RESOURCE_UTIL_H_

#include <windows.h>

#include "base/strings/string_piece.h"

namespace base {
namespace win {

// The bytes of resource |id| of |type| in the executable that started the
// process (not in the module calling this), in its language-neutral or
// first-found language; empty when the resource is missing, empty or cannot
// be loaded. The bytes stay valid for the life of the process.
StringPiece GetHostResource(int id, const wchar_t* type);

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_RESOURCE_UTIL_H_
