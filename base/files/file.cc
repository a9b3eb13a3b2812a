#include "base/files/file.h"

#include <utility>

namespace base {

File::Info::Info() : size(0), is_directory(false), is_symbolic_link(false) {}

File::Info::~Info() = default;

File::File()
    : error_details_(FILE_ERROR_FAILED), created_(false), async_(false) {}

File::File(const FilePath& path, uint32_t flags)
    : error_details_(FILE_OK), created_(false), async_(false) {
  Initialize(path, flags);
}

File::File(PlatformFile platform_file)
    : file_(platform_file),
      error_details_(FILE_OK),
      created_(false),
      async_(false) {}

File::File(File&& other)
    : file_(std::move(other.file_)),
      error_details_(other.error_details_),
      created_(other.created_),
      async_(other.async_) {}

File& File::operator=(File&& other) {
  Close();
  file_ = std::move(other.file_);
  error_details_ = other.error_details_;
  created_ = other.created_;
  async_ = other.async_;
  return *this;
}

File::~File() {
  Close();
}

void File::Initialize(const FilePath& path, uint32_t flags) {
  if (path.ReferencesParent()) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    error_details_ = FILE_ERROR_ACCESS_DENIED;
    return;
  }
  DoInitialize(path, flags);
}

}  // namespace base
