#include "base/test/handle_verifier_export.h"

#include "base/win/scoped_handle_verifier.h"

// The test executable exports the library's own GetHandleVerifier (linked
// in statically) rather than a wrapper around it: the library adopts a
// foreign export by calling it, and a wrapper calling back into the library
// would recurse while the active verifier is being chosen. Exporting the
// very function is what the library takes as "verify here".
__asm__(".section .drectve\n\t.ascii \" -export:GetHandleVerifier\"\n\t.text");

namespace base {
namespace test {

void EnableHandleVerifierExport() {
  // Keeps the library's object file, which holds the exported function, in
  // the link even when nothing else in the executable uses handles.
  static void* volatile keep = reinterpret_cast<void*>(&::GetHandleVerifier);
  (void)keep;
}

}  // namespace test
}  // namespace base
