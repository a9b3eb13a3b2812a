// A test library with a load-time dependency on kavor_native_dep.dll, which
// must be found in this library's own folder.

extern "C" __declspec(dllimport) int KavorNativeDepValue();

extern "C" __declspec(dllexport) int KavorNativeMainValue() {
  return KavorNativeDepValue() + 1;
}
