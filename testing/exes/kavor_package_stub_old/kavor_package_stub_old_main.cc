// The self-extracting head of a test package: the 7z archive is appended
// to this image, whose version resource says which version and stream the
// package is. It is never run.
int main() {
  return 0;
}
