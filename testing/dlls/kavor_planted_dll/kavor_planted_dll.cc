// A library that tests copy beside a program under the name of a system DLL,
// as someone might leave one in a download folder. Its export tells it apart
// from the real library of that name.

extern "C" __declspec(dllexport) int KavorPlantedDllMarker() {
  return 1;
}
