#include "desktop/windows/installer/steps/downloadable_resources.h"

#include "base/base64.h"

namespace installer {

// Placeholder table until the resource list lands.
const DownloadableResource* GetDownloadableResources() {
  static const DownloadableResource kTable[kDownloadableResourceCount] = {};
  return kTable;
}

std::string DecodeResourcePath(const DownloadableResource& resource) {
  std::string path;
  if (!resource.path_base64 ||
      !base::Base64Decode(resource.path_base64, &path)) {
    return std::string();
  }
  return path;
}

}  // namespace installer
