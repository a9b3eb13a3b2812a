#ifndef BASE_FILES_MEMORY_MAPPED_FILE_H_
#define BASE_FILES_MEMORY_MAPPED_FILE_H_

#include <stddef.h>
#include <stdint.h>

#include "base/files/file.h"
#include "base/win/scoped_handle.h"

namespace base {

class FilePath;

// Maps a whole file into memory. Mapped once; unmapped only on destruction.
class MemoryMappedFile {
 public:
  enum Access {
    READ_ONLY = 0,
    READ_WRITE = 1,
  };

  MemoryMappedFile();
  ~MemoryMappedFile();

  MemoryMappedFile(const MemoryMappedFile&) = delete;
  MemoryMappedFile& operator=(const MemoryMappedFile&) = delete;

  // Opens and maps |file_name|. Fails when something is mapped already, and
  // for an empty file, which cannot be mapped.
  [[nodiscard]] bool Initialize(const FilePath& file_name, Access access);
  [[nodiscard]] bool Initialize(const FilePath& file_name) {
    return Initialize(file_name, READ_ONLY);
  }

  const uint8_t* data() const { return data_; }
  uint8_t* data() { return data_; }
  size_t length() const { return length_; }
  bool IsValid() const { return data_ != nullptr; }

 private:
  bool MapFileToMemory(Access access);
  void CloseHandles();

  File file_;
  uint8_t* data_;
  size_t length_;
  win::ScopedHandle file_mapping_;
};

}  // namespace base

#endif  // BASE_FILES_MEMORY_MAPPED_FILE_H_
