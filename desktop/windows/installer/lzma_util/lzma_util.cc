#include "desktop/windows/installer/lzma_util/lzma_util.h"

namespace installer {

// Placeholder until the reader of this build lands.
std::unique_ptr<LzmaUtil> CreateLzmaUtil() {
  return nullptr;
}

}  // namespace installer
