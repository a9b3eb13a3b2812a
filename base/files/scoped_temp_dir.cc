#include "base/files/scoped_temp_dir.h"

#include <windows.h>

#include "base/files/file_util.h"
#include "base/guid.h"
#include "base/strings/utf_string_conversions.h"

namespace base {

namespace {

constexpr int kMaxAttempts = 50;

}  // namespace

ScopedTempDir::ScopedTempDir() = default;

ScopedTempDir::~ScopedTempDir() {
  if (!path_.empty())
    Delete();
}

bool ScopedTempDir::CreateUniqueTempDir() {
  FilePath temp;
  if (!GetTempDir(&temp))
    return false;
  return CreateUniqueTempDirUnderPath(temp);
}

bool ScopedTempDir::CreateUniqueTempDirUnderPath(const FilePath& base_path) {
  if (!path_.empty())
    return false;
  if (!CreateDirectory(base_path))
    return false;
  for (int i = 0; i < kMaxAttempts; ++i) {
    const FilePath candidate =
        base_path.Append(L"kavor_" + ASCIIToWide(GenerateGUID().substr(0, 8)));
    if (::CreateDirectoryW(candidate.value().c_str(), nullptr)) {
      path_ = candidate;
      return true;
    }
  }
  return false;
}

bool ScopedTempDir::Set(const FilePath& path) {
  if (!path_.empty())
    return false;
  if (!DirectoryExists(path) && !CreateDirectory(path))
    return false;
  path_ = path;
  return true;
}

bool ScopedTempDir::Delete() {
  if (path_.empty())
    return false;
  if (!DeleteFile(path_, true))
    return false;
  path_.clear();
  return true;
}

FilePath ScopedTempDir::Take() {
  FilePath result = path_;
  path_.clear();
  return result;
}

}  // namespace base
