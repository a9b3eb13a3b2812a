// A library that only carries a version resource for the file-version
// tests.

extern "C" __declspec(dllexport) int KavorVersionMarker() {
  return 1;
}
