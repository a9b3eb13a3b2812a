#ifndef DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_EVENTS_H_
#define DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_EVENTS_H_

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "desktop/windows/installer/avro_stats/avro_stats_message.h"

namespace installer {

struct SettingsSummary;

// The record of one download chunk, carried by a failed autoupdate's event.
struct FetchChunkStatistics {
  int64_t start = 0;
  int64_t end = 0;
  int32_t number = 0;
  std::string redirected_url;
  std::string headers;
  uint32_t network_error = 0;
  uint32_t http_status = 0;
};

class InstallerStepStartingEvent : public AvroStatsMessage {
 public:
  explicit InstallerStepStartingEvent(const std::string& step_name);
};

class InstallerStepFinishedEvent : public AvroStatsMessage {
 public:
  InstallerStepFinishedEvent(const std::string& step_name, int attempt);
};

class ErrorEvent : public AvroStatsMessage {
 public:
  explicit ErrorEvent(const std::string& description);
};

class ControllerQuittingEvent : public AvroStatsMessage {
 public:
  ControllerQuittingEvent();
  // |success|: the run ended with result 0.
  explicit ControllerQuittingEvent(bool success);
};

struct ControllerLaunchedDetails {
  std::string payload_type;
  std::string tracking_data;
  bool run_immediately = false;
  bool autoupdate = false;
  bool silent = false;
  std::string command_line;
  std::string package_architecture;
};

class ControllerLaunchedEvent : public AvroStatsMessage {
 public:
  explicit ControllerLaunchedEvent(const ControllerLaunchedDetails& details);
};

class SettingsAcceptedEvent : public AvroStatsMessage {
 public:
  explicit SettingsAcceptedEvent(const SettingsSummary& settings);
};

class AutoupdateFailedEvent : public AvroStatsMessage {
 public:
  AutoupdateFailedEvent(const std::string& description,
                        const std::vector<FetchChunkStatistics>& fetch_details,
                        const SettingsSummary& settings,
                        const std::string& version,
                        const std::string& stream);
};

// An existing installation's status was read; each field only when known.
class StatusParsedEvent : public AvroStatsMessage {
 public:
  StatusParsedEvent(const std::optional<std::string>& status_origin,
                    const std::optional<std::string>& server_tracking_data,
                    const std::optional<std::string>& autoupdate_uuid);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_EVENTS_H_
