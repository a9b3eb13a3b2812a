#include "desktop/windows/installer/common/tracking_data_dictionary.h"

// Placeholder until the blob form lands.
namespace installer {

TrackingDataDictionary::TrackingDataDictionary()
    : received_(std::make_unique<base::DictionaryValue>()) {}
TrackingDataDictionary::~TrackingDataDictionary() = default;
bool TrackingDataDictionary::HasTrackingData() const {
  return false;
}
bool TrackingDataDictionary::ParseTrackingBlob(const std::string&) {
  return false;
}
std::string TrackingDataDictionary::SerializeTrackingBlob() const {
  return std::string();
}
void TrackingDataDictionary::SetString(const std::string&, const std::string&) {
}
std::optional<std::string> TrackingDataDictionary::GetString(
    const std::string&) const {
  return std::nullopt;
}

}  // namespace installer
