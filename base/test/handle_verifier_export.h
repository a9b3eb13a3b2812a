#ifndef BASE_TEST_HANDLE_VERIFIER_EXPORT_H_
#define BASE_TEST_HANDLE_VERIFIER_EXPORT_H_

namespace base {
namespace test {

// A test executable that calls this exports "GetHandleVerifier", its own
// copy of the library's function, so the library finds its own verifier
// exported by the host and every handle in the tests is verified. Calling
// it does nothing; referring to it is what links the export in.
void EnableHandleVerifierExport();

}  // namespace test
}  // namespace base

#endif  // BASE_TEST_HANDLE_VERIFIER_EXPORT_H_
