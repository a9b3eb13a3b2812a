// The installer executable: everything happens inside kavor_installer.dll,
// whose entry point receives the process and returns its exit code. A GUI
// program, as an installer is: no console window opens when a user starts it.

#include <windows.h>

extern "C" __declspec(dllimport) int RunInstaller();

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return RunInstaller();
}
