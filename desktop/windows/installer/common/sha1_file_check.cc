#include "desktop/windows/installer/common/sha1_file_check.h"

#include <windows.h>

#include <atomic>
#include <memory>

#include "base/base64.h"
#include "base/files/file.h"
#include "base/logging.h"
#include "base/scoped_native_library.h"
#include "base/win/system_library.h"

namespace installer {

namespace {

constexpr int kChunkSize = 65536;

// Cleared for good by the first failure of the system library: a machine
// whose library failed once is not asked again for every resource file.
std::atomic<bool> g_system_sha1_usable{true};

using AlgorithmHandle = void*;
using HashHandle = void*;
using OpenAlgorithmProviderFunction = LONG(WINAPI*)(AlgorithmHandle*,
                                                    LPCWSTR,
                                                    LPCWSTR,
                                                    ULONG);
using CloseAlgorithmProviderFunction = LONG(WINAPI*)(AlgorithmHandle, ULONG);
using GetPropertyFunction =
    LONG(WINAPI*)(void*, LPCWSTR, PUCHAR, ULONG, ULONG*, ULONG);
using CreateHashFunction = LONG(WINAPI*)(
    AlgorithmHandle, HashHandle*, PUCHAR, ULONG, PUCHAR, ULONG, ULONG);
using DestroyHashFunction = LONG(WINAPI*)(HashHandle);
using HashDataFunction = LONG(WINAPI*)(HashHandle, PUCHAR, ULONG, ULONG);
using FinishHashFunction = LONG(WINAPI*)(HashHandle, PUCHAR, ULONG, ULONG);

// Feeds the file from its start to |consume| in chunks; false when a read
// or |consume| fails.
template <typename Consume>
bool ReadInChunks(base::File* file, Consume consume) {
  std::unique_ptr<char[]> buffer(new char[kChunkSize]);
  int64_t offset = 0;
  for (;;) {
    const int read = file->Read(offset, buffer.get(), kChunkSize);
    if (read < 0)
      return false;
    if (read == 0)
      return true;
    if (!consume(reinterpret_cast<uint8_t*>(buffer.get()), read))
      return false;
    offset += read;
  }
}

// The system library ("bcrypt") is loaded only here and let go again: it
// is not among the DLLs the loader always takes from the system folder.
bool ComputeWithSystemLibrary(base::File* file,
                              uint8_t digest[base::kSHA1Length]) {
  base::ScopedNativeLibrary library(
      base::win::LoadSystemLibrary(L"bcrypt.dll"));
  if (!library.is_valid())
    return false;
  auto open_provider = reinterpret_cast<OpenAlgorithmProviderFunction>(
      library.GetFunctionPointer("BCryptOpenAlgorithmProvider"));
  auto close_provider = reinterpret_cast<CloseAlgorithmProviderFunction>(
      library.GetFunctionPointer("BCryptCloseAlgorithmProvider"));
  auto get_property = reinterpret_cast<GetPropertyFunction>(
      library.GetFunctionPointer("BCryptGetProperty"));
  auto create_hash = reinterpret_cast<CreateHashFunction>(
      library.GetFunctionPointer("BCryptCreateHash"));
  auto destroy_hash = reinterpret_cast<DestroyHashFunction>(
      library.GetFunctionPointer("BCryptDestroyHash"));
  auto hash_data = reinterpret_cast<HashDataFunction>(
      library.GetFunctionPointer("BCryptHashData"));
  auto finish_hash = reinterpret_cast<FinishHashFunction>(
      library.GetFunctionPointer("BCryptFinishHash"));
  if (!open_provider || !close_provider || !get_property || !create_hash ||
      !destroy_hash || !hash_data || !finish_hash) {
    return false;
  }

  AlgorithmHandle algorithm = nullptr;
  if (open_provider(&algorithm, L"SHA1", nullptr, 0) < 0)
    return false;
  ULONG object_length = 0;
  ULONG written = 0;
  std::unique_ptr<UCHAR[]> hash_object;
  HashHandle hash = nullptr;
  bool ok = get_property(algorithm, L"ObjectLength",
                         reinterpret_cast<PUCHAR>(&object_length),
                         sizeof(object_length), &written, 0) >= 0 &&
            written == sizeof(object_length);
  if (ok) {
    hash_object.reset(new UCHAR[object_length]);
    ok = create_hash(algorithm, &hash, hash_object.get(), object_length,
                     nullptr, 0, 0) >= 0;
  }
  if (ok) {
    ok = ReadInChunks(file, [&](uint8_t* data, int size) {
      return hash_data(hash, data, static_cast<ULONG>(size), 0) >= 0;
    });
  }
  if (ok)
    ok = finish_hash(hash, digest, base::kSHA1Length, 0) >= 0;
  // The hash lives in its object and belongs to the algorithm: it goes
  // first.
  if (hash)
    destroy_hash(hash);
  hash_object.reset();
  close_provider(algorithm, 0);
  return ok;
}

bool ComputeWithBuiltInSha1(base::File* file,
                            uint8_t digest[base::kSHA1Length]) {
  base::SHA1Hasher hasher;
  if (!ReadInChunks(file, [&](uint8_t* data, int size) {
        hasher.Update(data, static_cast<size_t>(size));
        return true;
      })) {
    return false;
  }
  hasher.Finish(digest);
  return true;
}

}  // namespace

bool ComputeFileSha1(const base::FilePath& path,
                     uint8_t digest[base::kSHA1Length]) {
  // Others may hold the file open for reading or writing.
  base::File file(path, base::File::FLAG_OPEN | base::File::FLAG_READ);
  if (!file.IsValid())
    return false;
  if (g_system_sha1_usable.load()) {
    if (ComputeWithSystemLibrary(&file, digest))
      return true;
    LOG(ERROR) << "The system SHA-1 failed; the built-in one takes over";
    g_system_sha1_usable.store(false);
  }
  return ComputeWithBuiltInSha1(&file, digest);
}

bool VerifyFileSha1(const base::FilePath& path,
                    const std::string& expected_base64,
                    std::string* error) {
  uint8_t digest[base::kSHA1Length];
  if (!ComputeFileSha1(path, digest)) {
    *error = "Failed to read " + path.AsUTF8Unsafe();
    return false;
  }
  std::string computed;
  base::Base64Encode(
      base::StringPiece(reinterpret_cast<const char*>(digest), sizeof(digest)),
      &computed);
  if (computed == expected_base64)
    return true;
  *error = path.AsUTF8Unsafe() + " hash doesn't match: " + expected_base64 +
           " vs. " + computed;
  return false;
}

namespace internal {

bool IsSystemSha1Usable() {
  return g_system_sha1_usable.load();
}

void SetSystemSha1UsableForTesting(bool usable) {
  g_system_sha1_usable.store(usable);
}

}  // namespace internal

}  // namespace installer
