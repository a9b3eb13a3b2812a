#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_SIGNATURE_CHECK_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_SIGNATURE_CHECK_H_

#include <windows.h>
#include <wincrypt.h>

#include <stddef.h>
#include <stdint.h>

#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/win/scoped_generic.h"

namespace installer {

// Maps |path| and reads its headers: false when it cannot be read or is no
// PE image (its signing state is then unknown); otherwise |*is_signed| says
// whether the image has a security directory (an embedded signature) and
// the result is true. Nothing is verified.
bool HasSecurityDirectory(const base::FilePath& path, bool* is_signed);

// Authenticode verification of |path| (WinVerifyTrust, no revocation check,
// no UI; the chain it builds for the outer signer must pass the policy)
// followed by a search of its signers, nested signatures included, for a
// trusted one issued to the maker. True only when both succeed. When |log|
// is given, what was seen is appended to it.
bool VerifyFileSignature(const base::FilePath& path, std::string* log);

// What the signer search writes: entries start with Level(); Write() adds
// text, and further text or numbers go to the stream it returns.
class SignatureLog {
 public:
  virtual ~SignatureLog() = default;
  virtual SignatureLog& Level(uint32_t level) = 0;
  virtual std::ostream& Write(const std::string& text) = 0;
  virtual bool WantsChainDetails() const = 0;
  virtual std::string GetText() const = 0;
};

class TextSignatureLog : public SignatureLog {
 public:
  TextSignatureLog();
  ~TextSignatureLog() override;
  SignatureLog& Level(uint32_t level) override;
  std::ostream& Write(const std::string& text) override;
  bool WantsChainDetails() const override;
  std::string GetText() const override;

 private:
  std::ostringstream stream_;
};

// Drops everything: for callers that want no log.
class NullSignatureLog : public SignatureLog {
 public:
  NullSignatureLog();
  ~NullSignatureLog() override;
  SignatureLog& Level(uint32_t level) override;
  std::ostream& Write(const std::string& text) override;
  bool WantsChainDetails() const override;
  std::string GetText() const override;

 private:
  class DiscardBuffer : public std::streambuf {
   protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
  };
  DiscardBuffer buffer_;
  std::ostream stream_;
};

namespace internal {
// Close the handle and leave the thread's last error as it was, so that
// replacing an owned handle does not hide the error of the call before.
void CloseCryptMsg(HCRYPTMSG message);
void CloseCertStore(HCERTSTORE store);

// The Authenticode digest of the image of |length| bytes at |data| as the
// PE rules define it: the headers without the checksum and the security
// directory entry, the sections in file order, then what follows them
// except the certificate table, which must end the file. False for headers
// or sections that do not lie inside the image. Used where the system
// cannot compute it.
bool HashImage(const uint8_t* data,
               size_t length,
               ALG_ID algorithm,
               std::vector<uint8_t>* digest);
}  // namespace internal

using ScopedCryptMsg = base::win::ScopedGeneric<
    base::win::ReleaseTraits<HCRYPTMSG, &internal::CloseCryptMsg>>;
using ScopedCertStore = base::win::ScopedGeneric<
    base::win::ReleaseTraits<HCERTSTORE, &internal::CloseCertStore>>;

// The file whose signatures are searched, for checking nested signatures
// against it: WinVerifyTrust checks the outer signature only.
struct SignedFile {
  SignedFile();
  ~SignedFile();
  base::FilePath path;
  // The outer signature's authenticated image digest (already checked
  // against the file) and the object identifier of its algorithm.
  std::string digest_algorithm;
  std::vector<uint8_t> digest;
  // The encoded certificate of the primary signer as WinVerifyTrust
  // accepted it; empty when it refused the file. Then the Authenticode
  // policy's verdict on the chain WinVerifyTrust built for it (0: passed)
  // and the error bits of that chain's trust status (0: none).
  std::vector<uint8_t> verified_signer;
  DWORD verified_policy_error = 0;
  DWORD verified_chain_errors = 0;
};

// Looks through the signers of |message| (whose certificates are in |store|)
// and, recursively at |level| + 1, through their nested signatures for one
// whose certificate is issued to the maker. A signer at level 0 with index
// 0 is the one WinVerifyTrust has judged: with |file| its verdict stands,
// without it the signer's chain must pass the Authenticode policy now. Any
// other must prove itself: its chain, its signature and its digest of
// |file|. Without |file| none can. Nested signatures are searched to a
// small depth only.
bool FindViableSigner(ScopedCertStore& store,
                      ScopedCryptMsg& message,
                      uint32_t encoding,
                      SignatureLog* log,
                      uint32_t level,
                      const SignedFile* file = nullptr);

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

// Changes what WinVerifyTrust reported for a file's outer signer (see
// SignedFile: the certificate it verified, the policy's verdict on its
// chain, that chain's error bits) before VerifyFileSignature() judges it.
using PlatformVerdictAdjuster = void (*)(std::vector<uint8_t>* verified_signer,
                                         DWORD* policy_error,
                                         DWORD* chain_errors);

// Makes VerifyFileSignature() pass the outer signer's verdict through
// |adjuster| once the real WinVerifyTrust call has answered and before its
// acceptance is judged, until called again with null. For tests only: some
// verdicts Windows gives never come out of Wine's WinVerifyTrust.
void SetPlatformVerdictAdjusterForTesting(PlatformVerdictAdjuster adjuster);

// Whether this installer may start |program|: always when the running
// installer is known to be unsigned (a development build), otherwise only
// when |program|'s signature verifies. A refusal is logged with both signing
// states; |description| names the program there ("component installer").
bool IsProgramSignatureAccepted(const base::FilePath& program,
                                const char* description);

// True when the running installer's own executable (base::FILE_EXE) is a PE
// image without a security directory: a development build, which accepts
// unsigned packages and components.
bool IsInstallerUnsigned();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_SIGNATURE_CHECK_H_
