// A self-extracting component for the additional file tests. When run it
// unpacks the archive appended to its own image into its own folder and
// exits with the code the archive asks for (0 for a good component).
//
// The archive, appended after the image:
//   entries, one after another:
//     u32 name length in bytes, the name (ASCII, a plain file name),
//     u64 size, the bytes
//   trailer (24 bytes):
//     u64 offset of the first entry from the start of the file,
//     u32 number of entries, u32 exit code, the 8 bytes "KVSFXEND"
// All numbers are little-endian.
//
// Exit codes of its own: 2 the archive is missing or broken, 3 an entry
// could not be written.

#include <windows.h>

#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>

#include "testing/exes/standin_calls.h"

namespace {

const int kExitBadArchive = 2;
const int kExitCannotWrite = 3;
const char kMagic[8] = {'K', 'V', 'S', 'F', 'X', 'E', 'N', 'D'};
const uint32_t kTrailerSize = 24;
const uint32_t kLongestName = 200;
const DWORD kCopyBufferSize = 64 * 1024;

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid())
      ::CloseHandle(handle_);
  }
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

bool ReadExactly(HANDLE file, void* out, DWORD size) {
  DWORD read = 0;
  return ::ReadFile(file, out, size, &read, nullptr) && read == size;
}

bool SeekTo(HANDLE file, uint64_t offset) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  return !!::SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
}

// Only a plain name: the stand-in never writes outside its own folder.
bool IsPlainName(const std::string& name) {
  if (name.empty() || name == "." || name == "..")
    return false;
  for (char c : name) {
    if (c == '\\' || c == '/' || c == ':' || static_cast<unsigned char>(c) < 32)
      return false;
  }
  return true;
}

}  // namespace

int main() {
  std::wstring image;
  if (!standin::GetOwnPath(&image))
    return kExitBadArchive;
  const std::wstring folder = image.substr(0, image.find_last_of(L'\\') + 1);

  Handle file(::CreateFileW(image.c_str(), GENERIC_READ, FILE_SHARE_READ,
                            nullptr, OPEN_EXISTING, 0, nullptr));
  LARGE_INTEGER file_size;
  if (!file.valid() || !::GetFileSizeEx(file.get(), &file_size) ||
      file_size.QuadPart < kTrailerSize) {
    return kExitBadArchive;
  }
  const uint64_t end = static_cast<uint64_t>(file_size.QuadPart) - kTrailerSize;
  uint64_t offset = 0;
  uint32_t count = 0, exit_code = 0;
  char magic[8];
  if (!SeekTo(file.get(), end) || !ReadExactly(file.get(), &offset, 8) ||
      !ReadExactly(file.get(), &count, 4) ||
      !ReadExactly(file.get(), &exit_code, 4) ||
      !ReadExactly(file.get(), magic, 8) ||
      memcmp(magic, kMagic, sizeof(magic)) != 0 || offset > end ||
      !SeekTo(file.get(), offset)) {
    return kExitBadArchive;
  }

  std::unique_ptr<char[]> buffer(new char[kCopyBufferSize]);
  uint64_t at = offset;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t name_length = 0;
    if (end - at < 4 || !ReadExactly(file.get(), &name_length, 4) ||
        name_length > kLongestName || end - at - 4 < name_length + 8u) {
      return kExitBadArchive;
    }
    std::string name(name_length, '\0');
    uint64_t size = 0;
    if (!ReadExactly(file.get(), &name[0], name_length) ||
        !ReadExactly(file.get(), &size, 8) || !IsPlainName(name)) {
      return kExitBadArchive;
    }
    at += 4 + name_length + 8;
    if (end - at < size)
      return kExitBadArchive;
    const std::wstring target = folder + std::wstring(name.begin(), name.end());
    Handle out(::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.valid())
      return kExitCannotWrite;
    for (uint64_t left = size; left > 0;) {
      const DWORD piece =
          left < kCopyBufferSize ? static_cast<DWORD>(left) : kCopyBufferSize;
      DWORD written = 0;
      if (!ReadExactly(file.get(), buffer.get(), piece))
        return kExitBadArchive;
      if (!::WriteFile(out.get(), buffer.get(), piece, &written, nullptr) ||
          written != piece) {
        return kExitCannotWrite;
      }
      left -= piece;
    }
    at += size;
  }
  return static_cast<int>(exit_code);
}
