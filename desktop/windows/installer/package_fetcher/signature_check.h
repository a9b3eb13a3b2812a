#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_SIGNATURE_CHECK_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_SIGNATURE_CHECK_H_

#include <string>

#include "base/files/file_path.h"

namespace installer {

// Maps |path| and reads its headers: false when it cannot be read or is no
// PE image (its signing state is then unknown); otherwise |*is_signed| says
// whether the image has a security directory (an embedded signature) and
// the result is true. Nothing is verified.
bool HasSecurityDirectory(const base::FilePath& path, bool* is_signed);

// Authenticode verification of |path| (WinVerifyTrust, no revocation check
// online, no UI). The outcome and, when there is a signer, its certificate
// chain are described into |*log|. True only for a valid signature.
bool VerifyFileSignature(const base::FilePath& path, std::string* log);

// The two checks as the installer reaches them, so that a test can say how
// a program is signed.
class SignatureChecker {
 public:
  virtual ~SignatureChecker() = default;
  virtual bool HasSecurityDirectory(const base::FilePath& path,
                                    bool* is_signed) = 0;
  virtual bool VerifyFileSignature(const base::FilePath& path,
                                   std::string* log) = 0;
};

// The process-wide checker (the functions above), or the one a test set.
SignatureChecker* GetSignatureChecker();

// Makes GetSignatureChecker() answer |checker| until called again with null.
void SetSignatureCheckerForTesting(SignatureChecker* checker);

// Whether this installer may start |program|: always when the running
// installer is known to be unsigned (a development build), otherwise only
// when |program|'s signature verifies. A refusal is logged with both signing
// states; |description| names the program there ("component installer").
bool IsProgramSignatureAccepted(const base::FilePath& program,
                                const char* description);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_SIGNATURE_CHECK_H_
