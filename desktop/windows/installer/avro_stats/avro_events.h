#ifndef DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_EVENTS_H_
#define DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_EVENTS_H_

#include <stdint.h>

#include <string>
#include <variant>
#include <vector>

#include "desktop/windows/installer/avro_stats/avro_detail_records.h"
#include "desktop/windows/installer/avro_stats/avro_stats_message.h"
#include "desktop/windows/installer/avro_stats/fetch_chunk_statistics.h"

namespace installer {

// The levels the creators give: an autoupdate run sends only level 0.
const uint32_t kAutoupdateStatsLevel = 0;
const uint32_t kDefaultStatsLevel = 1;

// A statistics event that keeps its details as (field path, value) pairs
// below "installer_event" and writes them when the message is serialized.
class AvroStatsEvent : public AvroStatsMessage {
 public:
  // An enum value, written by symbol.
  struct EnumSymbol {
    std::string symbol;
  };
  using DetailValue = std::variant<std::string,
                                   int32_t,
                                   bool,
                                   EnumSymbol,
                                   std::vector<FetchChunkStatistics>,
                                   SettingsData,
                                   StatusData,
                                   PageTransitionData>;

  ~AvroStatsEvent() override;

  uint32_t GetVerbosityLevel() const override;
  void AddDetails(AvroDatum* event) const override;

 protected:
  AvroStatsEvent(const std::string& name, uint32_t level);

  void AddDetail(const std::string& path, DetailValue value);

 private:
  struct Detail {
    std::string path;
    DetailValue value;
  };

  std::vector<Detail> details_;
  const uint32_t level_;
};

class AdditionalFileFetchedEvent : public AvroStatsEvent {
 public:
  explicit AdditionalFileFetchedEvent(
      const std::vector<FetchChunkStatistics>& fetch_details,
      uint32_t level = kDefaultStatsLevel);
};

// |description|: the error message, ", Error type: " and the error number.
class AutoupdateFailedEvent : public AvroStatsEvent {
 public:
  AutoupdateFailedEvent(const std::string& description,
                        const std::vector<FetchChunkStatistics>& fetch_details,
                        const SettingsData& settings,
                        const std::string& version,
                        const std::string& stream,
                        uint32_t level = kAutoupdateStatsLevel);
};

class ChecksumVerifiedEvent : public AvroStatsEvent {
 public:
  explicit ChecksumVerifiedEvent(uint32_t level = kDefaultStatsLevel);
};

struct ControllerLaunchedDetails {
  std::string payload_type;
  std::string tracking_data;
  bool run_immediately = false;
  bool autoupdate = false;
  bool silent = false;
  std::string command_line;
  // "x86" or "x64"; anything else leaves the default, "x86".
  std::string package_architecture;
};

class ControllerLaunchedEvent : public AvroStatsEvent {
 public:
  explicit ControllerLaunchedEvent(const ControllerLaunchedDetails& details,
                                   uint32_t level = kDefaultStatsLevel);
};

class ControllerQuittingEvent : public AvroStatsEvent {
 public:
  // |success|: the run ended with no error.
  explicit ControllerQuittingEvent(bool success,
                                   uint32_t level = kDefaultStatsLevel);
};

class ErrorEvent : public AvroStatsEvent {
 public:
  explicit ErrorEvent(const std::string& description,
                      uint32_t level = kDefaultStatsLevel);
};

class FetchingAdditionalFileEvent : public AvroStatsEvent {
 public:
  explicit FetchingAdditionalFileEvent(const std::string& description,
                                       uint32_t level = kDefaultStatsLevel);
};

class FetchingDownloadUrlEvent : public AvroStatsEvent {
 public:
  explicit FetchingDownloadUrlEvent(uint32_t level = kDefaultStatsLevel);
};

class FetchingPrimaryPackageEvent : public AvroStatsEvent {
 public:
  FetchingPrimaryPackageEvent(
      const std::vector<FetchChunkStatistics>& fetch_details,
      const std::string& description,
      uint32_t level = kDefaultStatsLevel);
};

class InitialSettingsGatheredEvent : public AvroStatsEvent {
 public:
  explicit InitialSettingsGatheredEvent(const SettingsData& settings,
                                        uint32_t level = kDefaultStatsLevel);
};

// |counter|: 1 when the user closed the wizard, 2 when the user chose to
// obtain the full package instead.
class InstallationCancelledEvent : public AvroStatsEvent {
 public:
  explicit InstallationCancelledEvent(int32_t counter,
                                      uint32_t level = kDefaultStatsLevel);
};

class InstallerStepFinishedEvent : public AvroStatsEvent {
 public:
  InstallerStepFinishedEvent(int32_t attempt,
                             const std::string& step_name,
                             uint32_t level = kDefaultStatsLevel);
};

class InstallerStepStartingEvent : public AvroStatsEvent {
 public:
  explicit InstallerStepStartingEvent(const std::string& step_name,
                                      uint32_t level = kDefaultStatsLevel);
};

class PackageFetcherLocalErrorEvent : public AvroStatsEvent {
 public:
  explicit PackageFetcherLocalErrorEvent(const std::string& description,
                                         uint32_t level = kDefaultStatsLevel);
};

class PackageFetcherNetworkErrorEvent : public AvroStatsEvent {
 public:
  PackageFetcherNetworkErrorEvent(
      const std::vector<FetchChunkStatistics>& fetch_details,
      const std::string& description,
      uint32_t level = kDefaultStatsLevel);
};

class PackageReadyEvent : public AvroStatsEvent {
 public:
  explicit PackageReadyEvent(uint32_t level = kDefaultStatsLevel);
};

class PageTransitionEvent : public AvroStatsEvent {
 public:
  explicit PageTransitionEvent(const PageTransitionData& transition,
                               uint32_t level = kDefaultStatsLevel);
};

class PrimaryPackageFetchedEvent : public AvroStatsEvent {
 public:
  explicit PrimaryPackageFetchedEvent(
      const std::vector<FetchChunkStatistics>& fetch_details,
      uint32_t level = kDefaultStatsLevel);
};

class SettingsAcceptedEvent : public AvroStatsEvent {
 public:
  explicit SettingsAcceptedEvent(const SettingsData& settings,
                                 uint32_t level = kDefaultStatsLevel);
};

class SignatureVerifiedEvent : public AvroStatsEvent {
 public:
  explicit SignatureVerifiedEvent(uint32_t level = kDefaultStatsLevel);
};

// An existing installation's status was read; each value only when known.
class StatusParsedEvent : public AvroStatsEvent {
 public:
  explicit StatusParsedEvent(const StatusData& status,
                             uint32_t level = kDefaultStatsLevel);
};

class VersionVerifiedEvent : public AvroStatsEvent {
 public:
  VersionVerifiedEvent(const std::string& version,
                       const std::string& stream,
                       uint32_t level = kDefaultStatsLevel);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_EVENTS_H_
