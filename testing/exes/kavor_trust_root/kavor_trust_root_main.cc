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
#include "desktop/windows/installer/test/trust_root.h"

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
  HCERTSTORE store = installer::test::OpenMachineRootStore();
  if (!store) {
    fprintf(stderr, "cannot open the machine root store: %lu\n",
            ::GetLastError());
    return 2;
  }
  int result = 0;
  for (size_t i = 0; i < roots.size() && result == 0; ++i) {
    if (!installer::test::AddRootAndCommit(store, roots[i], nullptr)) {
      fprintf(stderr, "%ls is refused or the store cannot be committed: %lu\n",
              args[i].c_str(), ::GetLastError());
      result = 3;
    }
  }
  ::CertCloseStore(store, 0);
  return result;
}
