// Puts a test root certificate into the machine's root store, so that
// images signed under it verify in this Wine prefix as a shipped installer's
// do on a user's machine.
//
//   kavor_trust_root.exe ROOT.cer
//
// ROOT.cer is a DER certificate. Exit codes: 0 added (or already there),
// 1 the file cannot be read, 2 the store cannot be opened, 3 the certificate
// is refused or the store cannot be committed.

#include <windows.h>
#include <wincrypt.h>

#include <stdio.h>

#include <string>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"

int main() {
  base::CommandLine::Init();
  const base::CommandLine::StringVector& args =
      base::CommandLine::ForCurrentProcess()->GetArgs();
  std::string der;
  if (args.size() != 1 || !base::ReadFileToString(base::FilePath(args[0]), &der) ||
      der.empty()) {
    fprintf(stderr, "usage: kavor_trust_root.exe ROOT.cer (a readable file)\n");
    return 1;
  }
  HCERTSTORE store =
      ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                      CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (!store) {
    fprintf(stderr, "cannot open the machine root store: %lu\n",
            ::GetLastError());
    return 2;
  }
  int result = 0;
  if (!::CertAddEncodedCertificateToStore(
          store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
          static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
          nullptr)) {
    fprintf(stderr, "the certificate is refused: %lu\n", ::GetLastError());
    result = 3;
  } else if (!::CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr)) {
    fprintf(stderr, "cannot commit the root store: %lu\n", ::GetLastError());
    result = 3;
  }
  ::CertCloseStore(store, 0);
  return result;
}
