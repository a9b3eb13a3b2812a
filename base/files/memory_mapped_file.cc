#include "base/files/memory_mapped_file.h"

#include <windows.h>

#include "base/files/file_path.h"
#include "base/threading/scoped_blocking_call.h"

namespace base {

MemoryMappedFile::MemoryMappedFile() : data_(nullptr), length_(0) {}

MemoryMappedFile::~MemoryMappedFile() {
  CloseHandles();
}

bool MemoryMappedFile::Initialize(const FilePath& file_name, Access access) {
  if (IsValid())
    return false;

  uint32_t flags = 0;
  switch (access) {
    case READ_ONLY:
      flags = File::FLAG_OPEN | File::FLAG_READ;
      break;
    case READ_WRITE:
      flags = File::FLAG_OPEN | File::FLAG_READ | File::FLAG_WRITE;
      break;
  }
  file_.Initialize(file_name, flags);
  if (!file_.IsValid())
    return false;

  if (!MapFileToMemory(access)) {
    CloseHandles();
    return false;
  }
  return true;
}

bool MemoryMappedFile::MapFileToMemory(Access access) {
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  const DWORD protection =
      access == READ_WRITE ? PAGE_READWRITE : PAGE_READONLY;
  file_mapping_.Set(::CreateFileMappingW(file_.GetPlatformFile(), nullptr,
                                         protection, 0, 0, nullptr));
  if (!file_mapping_.IsValid())
    return false;

  const int64_t length = file_.GetLength();
  if (length < 1)
    return false;

  const DWORD view_access =
      access == READ_WRITE ? FILE_MAP_WRITE : FILE_MAP_READ;
  data_ = static_cast<uint8_t*>(
      ::MapViewOfFile(file_mapping_.Get(), view_access, 0, 0, 0));
  if (!data_)
    return false;
  length_ = static_cast<size_t>(length);
  return true;
}

void MemoryMappedFile::CloseHandles() {
  const DWORD last_error = ::GetLastError();
  if (data_)
    ::UnmapViewOfFile(data_);
  file_mapping_.Close();
  file_.Close();
  data_ = nullptr;
  length_ = 0;
  ::SetLastError(last_error);
}

}  // namespace base
