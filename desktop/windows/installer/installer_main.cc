#include <stdio.h>
extern "C" __declspec(dllexport) int RunInstaller() { printf("%s", "47.0.4127.0"); return 0; }
