#include "desktop/windows/installer/avro_stats/avro_events.h"

#include <utility>

#include "desktop/windows/installer/avro_stats/avro_codec.h"

namespace installer {

namespace {

const char kDescription[] = "description";
const char kFetchDetails[] = "fetch_details";

// Writes one stored detail at its path below the event record.
struct DetailWriter {
  void operator()(const std::string& value) const {
    SetAtPath(event, path, value);
  }
  void operator()(int32_t value) const { SetAtPath(event, path, value); }
  void operator()(bool value) const { SetAtPath(event, path, value); }
  void operator()(const AvroStatsEvent::EnumSymbol& value) const {
    // An unknown symbol keeps the default, the enum's first.
    if (AvroDatum* field = event->FieldByPath(path))
      field->SetEnumBySymbol(value.symbol);
  }
  void operator()(const std::vector<FetchChunkStatistics>& value) const {
    AddFetchDetails(event, path, value);
  }
  void operator()(const SettingsData& value) const {
    AddSettings(event, path, value);
  }
  void operator()(const StatusData& value) const {
    AddStatusData(event, path, value);
  }
  void operator()(const PageTransitionData& value) const {
    AddPageTransition(event, path, value);
  }

  AvroDatum* event;
  const std::string& path;
};

}  // namespace

AvroStatsEvent::AvroStatsEvent(const std::string& name, uint32_t level)
    : AvroStatsMessage(name), level_(level) {}

AvroStatsEvent::~AvroStatsEvent() = default;

uint32_t AvroStatsEvent::GetVerbosityLevel() const {
  return level_;
}

void AvroStatsEvent::AddDetails(AvroDatum* event) const {
  for (const Detail& detail : details_)
    std::visit(DetailWriter{event, detail.path}, detail.value);
}

void AvroStatsEvent::AddDetail(const std::string& path, DetailValue value) {
  details_.push_back({path, std::move(value)});
}

AdditionalFileFetchedEvent::AdditionalFileFetchedEvent(
    const std::vector<FetchChunkStatistics>& fetch_details, uint32_t level)
    : AvroStatsEvent("additional_file_fetched", level) {
  AddDetail(kFetchDetails, fetch_details);
}

AutoupdateFailedEvent::AutoupdateFailedEvent(
    const std::string& description,
    const std::vector<FetchChunkStatistics>& fetch_details,
    const SettingsData& settings,
    const std::string& version,
    const std::string& stream,
    uint32_t level)
    : AvroStatsEvent("autoupdate_failed", level) {
  AddDetail(kDescription, description);
  AddDetail(kFetchDetails, fetch_details);
  AddDetail("settings", settings);
  AddDetail("version_information.version", version);
  AddDetail("version_information.stream", stream);
}

ChecksumVerifiedEvent::ChecksumVerifiedEvent(uint32_t level)
    : AvroStatsEvent("checksum_verified", level) {}

ControllerLaunchedEvent::ControllerLaunchedEvent(
    const ControllerLaunchedDetails& details, uint32_t level)
    : AvroStatsEvent("controller_launched", level) {
  AddDetail("controller_launched_details.payload_type", details.payload_type);
  AddDetail("controller_launched_details.tracking_data", details.tracking_data);
  AddDetail("controller_launched_details.run_immediately",
            details.run_immediately);
  AddDetail("controller_launched_details.autoupdate", details.autoupdate);
  AddDetail("controller_launched_details.silent", details.silent);
  AddDetail("controller_launched_details.command_line", details.command_line);
  AddDetail("controller_launched_details.package_architecture",
            EnumSymbol{details.package_architecture});
}

ControllerQuittingEvent::ControllerQuittingEvent(bool success, uint32_t level)
    : AvroStatsEvent("controller_quitting", level) {
  AddDetail("result", success);
}

ErrorEvent::ErrorEvent(const std::string& description, uint32_t level)
    : AvroStatsEvent("error", level) {
  AddDetail(kDescription, description);
}

FetchingAdditionalFileEvent::FetchingAdditionalFileEvent(
    const std::string& description, uint32_t level)
    : AvroStatsEvent("fetching_additional_file", level) {
  AddDetail(kDescription, description);
}

FetchingDownloadUrlEvent::FetchingDownloadUrlEvent(uint32_t level)
    : AvroStatsEvent("fetching_download_url", level) {}

FetchingPrimaryPackageEvent::FetchingPrimaryPackageEvent(
    const std::vector<FetchChunkStatistics>& fetch_details,
    const std::string& description,
    uint32_t level)
    : AvroStatsEvent("fetching_primary_package", level) {
  AddDetail(kFetchDetails, fetch_details);
  AddDetail(kDescription, description);
}

InitialSettingsGatheredEvent::InitialSettingsGatheredEvent(
    const SettingsData& settings, uint32_t level)
    : AvroStatsEvent("initial_settings_gathered", level) {
  AddDetail("settings", settings);
}

InstallationCancelledEvent::InstallationCancelledEvent(int32_t counter,
                                                       uint32_t level)
    : AvroStatsEvent("installation_cancelled", level) {
  AddDetail("counter", counter);
}

InstallerStepFinishedEvent::InstallerStepFinishedEvent(
    int32_t attempt, const std::string& step_name, uint32_t level)
    : AvroStatsEvent("installer_step_finished", level) {
  AddDetail("counter", attempt);
  AddDetail(kDescription, step_name);
}

InstallerStepStartingEvent::InstallerStepStartingEvent(
    const std::string& step_name, uint32_t level)
    : AvroStatsEvent("installer_step_starting", level) {
  AddDetail(kDescription, step_name);
}

PackageFetcherLocalErrorEvent::PackageFetcherLocalErrorEvent(
    const std::string& description, uint32_t level)
    : AvroStatsEvent("package_fetcher_local_error", level) {
  AddDetail(kDescription, description);
}

PackageFetcherNetworkErrorEvent::PackageFetcherNetworkErrorEvent(
    const std::vector<FetchChunkStatistics>& fetch_details,
    const std::string& description,
    uint32_t level)
    : AvroStatsEvent("package_fetcher_network_error", level) {
  AddDetail(kFetchDetails, fetch_details);
  AddDetail(kDescription, description);
}

PackageReadyEvent::PackageReadyEvent(uint32_t level)
    : AvroStatsEvent("package_ready", level) {}

PageTransitionEvent::PageTransitionEvent(const PageTransitionData& transition,
                                         uint32_t level)
    : AvroStatsEvent("page_transition", level) {
  AddDetail("page_transitions", transition);
}

PrimaryPackageFetchedEvent::PrimaryPackageFetchedEvent(
    const std::vector<FetchChunkStatistics>& fetch_details, uint32_t level)
    : AvroStatsEvent("primary_package_fetched", level) {
  AddDetail(kFetchDetails, fetch_details);
}

SettingsAcceptedEvent::SettingsAcceptedEvent(const SettingsData& settings,
                                             uint32_t level)
    : AvroStatsEvent("settings_accepted", level) {
  AddDetail("settings", settings);
}

SignatureVerifiedEvent::SignatureVerifiedEvent(uint32_t level)
    : AvroStatsEvent("signature_verified", level) {}

StatusParsedEvent::StatusParsedEvent(const StatusData& status, uint32_t level)
    : AvroStatsEvent("status_parsed", level) {
  AddDetail("status_data", status);
}

VersionVerifiedEvent::VersionVerifiedEvent(const std::string& version,
                                           const std::string& stream,
                                           uint32_t level)
    : AvroStatsEvent("version_verified", level) {
  AddDetail("version_information.version", version);
  AddDetail("version_information.stream", stream);
}

}  // namespace installer
