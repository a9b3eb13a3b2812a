#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_SCOPED_TEST_ROOT_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_SCOPED_TEST_ROOT_H_

#include <windows.h>
#include <wincrypt.h>

#include <string.h>

#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/macros.h"
#include "desktop/windows/installer/test/trust_root.h"
#include "gtest/gtest.h"

namespace installer {
namespace test {

// Puts a test root certificate (the root.cer of the signature fixtures)
// into the machine's Root store while it lives, so that images signed
// under it verify. One that is there already is left there; a different
// root of the same issuer and serial number is replaced.
class ScopedTestRoot {
 public:
  ScopedTestRoot() = default;
  ~ScopedTestRoot() {
    if (root_) {
      EXPECT_TRUE(::CertDeleteCertificateFromStore(root_));
      EXPECT_TRUE(
          ::CertControlStore(store_, 0, CERT_STORE_CTRL_COMMIT, nullptr));
    }
    if (store_)
      ::CertCloseStore(store_, 0);
  }

  // |certificate| is DER. Call once.
  bool Trust(const base::FilePath& certificate) {
    std::string der;
    if (!base::ReadFileToString(certificate, &der))
      return false;
    store_ = OpenMachineRootStore();
    if (!store_)
      return false;
    PCCERT_CONTEXT wanted = ::CertCreateCertificateContext(
        X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
        static_cast<DWORD>(der.size()));
    PCCERT_CONTEXT present =
        wanted ? ::CertFindCertificateInStore(store_, X509_ASN_ENCODING, 0,
                                              CERT_FIND_EXISTING, wanted,
                                              nullptr)
               : nullptr;
    if (wanted)
      ::CertFreeCertificateContext(wanted);
    if (present) {
      const bool same =
          present->cbCertEncoded == der.size() &&
          memcmp(present->pbCertEncoded, der.data(), der.size()) == 0;
      if (same) {
        ::CertFreeCertificateContext(present);
        return true;
      }
      // A root of an earlier build of the fixtures, left by a test run that
      // ended before it could take it away: it has the same issuer and
      // serial number, and would keep the new one out.
      if (!::CertDeleteCertificateFromStore(present))
        return false;
    }
    return AddRootAndCommit(store_, der, &root_);
  }

 private:
  HCERTSTORE store_ = nullptr;
  PCCERT_CONTEXT root_ = nullptr;

  DISALLOW_COPY_AND_ASSIGN(ScopedTestRoot);
};

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_SCOPED_TEST_ROOT_H_
