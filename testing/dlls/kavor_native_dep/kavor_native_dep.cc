// A library that another test library imports; the native-library tests
// check from which folder it was loaded.

extern "C" __declspec(dllexport) int KavorNativeDepValue() {
  return 42;
}
