#include "desktop/windows/installer/lzma_util/lzma_util.h"

#include "base/logging.h"

namespace installer {

// Stands in until the 7z decoder is built in: every archive is unreadable,
// so an unpack from an archive fails with the operation's "Could not open
// the archive" and is rolled back, never reported as done.

LzmaUtil::LzmaUtil() = default;

LzmaUtil::~LzmaUtil() {
  Close();
}

int LzmaUtil::Open(const base::FilePath& archive) {
  LOG(ERROR) << "7z packages cannot be read by this build: "
             << archive.value();
  return OPEN_ERROR;
}

void LzmaUtil::Close() {}

uint8_t LzmaUtil::Extract(const base::FilePath&,
                          const std::set<base::FilePath>&,
                          UnpackProgressObserver*,
                          std::vector<base::FilePath>*,
                          std::vector<base::FilePath>*) {
  return EXTRACT_NOT_OPEN;
}

uint32_t LzmaUtil::GetLastInPageError() const {
  return last_in_page_error_;
}

int LzmaUtil::ListEntries(std::vector<base::string16>*) {
  return EXTRACT_NOT_OPEN;
}

}  // namespace installer
