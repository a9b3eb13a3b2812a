#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_TRUST_ROOT_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_TRUST_ROOT_H_

// Trusting a test root certificate in the machine's Root store, for the
// unit tests and for the tool that prepares a prefix for the end-to-end
// tests. Free of gtest: the tool links none.

#include <windows.h>
#include <wincrypt.h>

#include <string>

namespace installer {
namespace test {

// The machine's Root store, or null (the thread's last error says why).
// The caller closes it.
inline HCERTSTORE OpenMachineRootStore() {
  return ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                         CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
}

// Adds the DER certificate |der| to |store|, replacing an equal one, and
// commits the store, so that images signed under it verify at once. On
// success |*added| (when given) is the added certificate, for the caller to
// delete later. False (the thread's last error says why) when the
// certificate is refused or the store cannot be committed.
inline bool AddRootAndCommit(HCERTSTORE store,
                             const std::string& der,
                             PCCERT_CONTEXT* added) {
  return ::CertAddEncodedCertificateToStore(
             store, X509_ASN_ENCODING,
             reinterpret_cast<const BYTE*>(der.data()),
             static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
             added) &&
         ::CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
}

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_TRUST_ROOT_H_
