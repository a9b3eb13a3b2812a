// Stands in for installer_helper_64.exe in test packages: does nothing and
// exits with 0.

int main() {
  return 0;
}
