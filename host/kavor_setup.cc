// The installer executable: everything happens inside kavor_installer.dll,
// whose entry point receives the process and returns its exit code.

extern "C" __declspec(dllimport) int RunInstaller();

int main() {
  return RunInstaller();
}
