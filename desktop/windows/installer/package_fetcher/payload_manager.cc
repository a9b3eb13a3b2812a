#include "desktop/windows/installer/package_fetcher/payload_manager.h"

namespace installer {

const char* PayloadTypeToString(PayloadType type) {
  switch (type) {
    case PayloadType::NONE:
      return "none";
    case PayloadType::TRACKING_DATA:
      return "tracking_data";
    case PayloadType::EXTERNAL_TRACKING_DATA:
      return "external_tracking_data";
    case PayloadType::FULL_PACKAGE:
      return "full_package";
    case PayloadType::CORRUPTED:
      return "corrupted";
  }
  return "none";
}

PayloadManagerImpl::PayloadManagerImpl(const base::FilePath& installer_image)
    : installer_image_(installer_image) {}

PayloadManagerImpl::~PayloadManagerImpl() = default;

PayloadType PayloadManagerImpl::GetType() const {
  return type_;
}

bool PayloadManagerImpl::GetTrackingData(std::string* out) const {
  if (type_ != PayloadType::TRACKING_DATA &&
      type_ != PayloadType::EXTERNAL_TRACKING_DATA) {
    return false;
  }
  *out = tracking_data_;
  return true;
}

}  // namespace installer
