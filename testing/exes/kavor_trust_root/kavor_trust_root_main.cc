// Puts test root certificates into the machine's root store, so that
// images signed under them verify in this Wine prefix as a shipped
// installer's do on a user's machine.
//
//   kavor_trust_root.exe ROOT.cer...
//
// Each ROOT.cer is a DER certificate. Exit codes: 0 all added (or already
// there), 1 a file cannot be read, 2 the store cannot be opened, 3 a
// certificate is refused or the store cannot be committed.

#include <windows.h>
#include <wincrypt.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"

int main() {
  base::CommandLine::Init();
  const base::CommandLine::StringVector& args =
      base::CommandLine::ForCurrentProcess()->GetArgs();
  std::vector<std::string> roots(args.size());
  for (size_t i = 0; i < args.size(); ++i) {
    if (!base::ReadFileToString(base::FilePath(args[i]), &roots[i]) ||
        roots[i].empty()) {
      fprintf(stderr, "cannot read %ls\n", args[i].c_str());
      return 1;
    }
  }
  if (roots.empty()) {
    fprintf(stderr, "usage: kavor_trust_root.exe ROOT.cer...\n");
    return 1;
  }
  HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                     CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (!store) {
    fprintf(stderr, "cannot open the machine root store: %lu\n",
            ::GetLastError());
    return 2;
  }
  int result = 0;
  for (size_t i = 0; i < roots.size() && result == 0; ++i) {
    if (!::CertAddEncodedCertificateToStore(
            store, X509_ASN_ENCODING,
            reinterpret_cast<const BYTE*>(roots[i].data()),
            static_cast<DWORD>(roots[i].size()),
            CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
      fprintf(stderr, "%ls is refused: %lu\n", args[i].c_str(),
              ::GetLastError());
      result = 3;
    }
  }
  if (result == 0 &&
      !::CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr)) {
    fprintf(stderr, "cannot commit the root store: %lu\n", ::GetLastError());
    result = 3;
  }
  ::CertCloseStore(store, 0);
  return result;
}
