#include "desktop/windows/installer/package_fetcher/package_metadata.h"

namespace installer {

const char* AdditionalFileKindName(uint32_t kind) {
  switch (kind) {
    case ADDITIONAL_FILE_ASSISTANT:
      return "assistant";
    case ADDITIONAL_FILE_DOWNLOADABLE_RESOURCE:
      return "downloadable_resource";
    case ADDITIONAL_FILE_PARTNER_CONTENT:
      return "partner_content";
  }
  return "";
}

PackageMetadata::PackageMetadata() = default;
PackageMetadata::~PackageMetadata() = default;

}  // namespace installer
