#include "desktop/windows/installer/avro_stats/avro_events.h"

#include "base/json/json_writer.h"
#include "desktop/windows/installer/settings.h"

namespace installer {

namespace {

std::unique_ptr<base::DictionaryValue> SettingsRecord(
    const SettingsSummary& settings) {
  auto record = std::make_unique<base::DictionaryValue>();
  record->SetBoolean("default_browser", settings.default_browser);
  record->SetBoolean("folder_is_standard", settings.folder_is_standard);
  record->SetBoolean("needs_elevation", settings.needs_elevation);
  record->SetInteger("install_mode", settings.install_mode);
  record->SetInteger("operation", settings.operation);
  return record;
}

}  // namespace

InstallerStepStartingEvent::InstallerStepStartingEvent(
    const std::string& step_name)
    : AvroStatsMessage("installer_step_starting") {
  mutable_details()->SetWithoutPathExpansion(
      "step_name", std::make_unique<base::Value>(step_name));
}

InstallerStepFinishedEvent::InstallerStepFinishedEvent(
    const std::string& step_name, int attempt)
    : AvroStatsMessage("installer_step_finished") {
  mutable_details()->SetWithoutPathExpansion(
      "step_name", std::make_unique<base::Value>(step_name));
  mutable_details()->SetWithoutPathExpansion(
      "attempt", std::make_unique<base::Value>(attempt));
}

ErrorEvent::ErrorEvent(const std::string& description) : AvroStatsMessage("error") {
  mutable_details()->SetWithoutPathExpansion(
      "description", std::make_unique<base::Value>(description));
}

ControllerQuittingEvent::ControllerQuittingEvent()
    : AvroStatsMessage("controller_quitting") {}

ControllerQuittingEvent::ControllerQuittingEvent(bool success)
    : AvroStatsMessage("controller_quitting") {
  mutable_details()->SetBoolean("success", success);
}

ControllerLaunchedEvent::ControllerLaunchedEvent(
    const ControllerLaunchedDetails& details)
    : AvroStatsMessage("controller_launched") {
  base::DictionaryValue* out = mutable_details();
  out->SetString("payload_type", details.payload_type);
  out->SetString("tracking_data", details.tracking_data);
  out->SetBoolean("run_immediately", details.run_immediately);
  out->SetBoolean("autoupdate", details.autoupdate);
  out->SetBoolean("silent", details.silent);
  out->SetString("command_line", details.command_line);
  out->SetString("package_architecture", details.package_architecture);
}

SettingsAcceptedEvent::SettingsAcceptedEvent(const SettingsSummary& settings)
    : AvroStatsMessage("settings_accepted") {
  mutable_details()->SetWithoutPathExpansion("settings",
                                             SettingsRecord(settings));
}

AutoupdateFailedEvent::AutoupdateFailedEvent(
    const std::string& description,
    const std::vector<FetchChunkStatistics>& fetch_details,
    const SettingsSummary& settings,
    const std::string& version,
    const std::string& stream)
    : AvroStatsMessage("autoupdate_failed") {
  base::DictionaryValue* out = mutable_details();
  out->SetString("description", description);
  auto chunks = std::make_unique<base::ListValue>();
  for (const FetchChunkStatistics& chunk : fetch_details) {
    auto record = std::make_unique<base::DictionaryValue>();
    record->SetDouble("start", static_cast<double>(chunk.start));
    record->SetDouble("end", static_cast<double>(chunk.end));
    record->SetInteger("number", chunk.number);
    record->SetString("redirected_url", chunk.redirected_url);
    record->SetString("headers", chunk.headers);
    record->SetInteger("network_error", static_cast<int>(chunk.network_error));
    record->SetInteger("http_status", static_cast<int>(chunk.http_status));
    chunks->Append(std::move(record));
  }
  out->SetWithoutPathExpansion("fetch_details", std::move(chunks));
  out->SetWithoutPathExpansion("settings", SettingsRecord(settings));
  out->SetString("version", version);
  out->SetString("stream", stream);
}

StatusParsedEvent::StatusParsedEvent(
    const std::optional<std::string>& status_origin,
    const std::optional<std::string>& server_tracking_data,
    const std::optional<std::string>& autoupdate_uuid)
    : AvroStatsMessage("status_parsed") {
  const struct {
    const char* key;
    const std::optional<std::string>& value;
  } kFields[] = {{"status_origin", status_origin},
                 {"server_tracking_data", server_tracking_data},
                 {"autoupdate_uuid", autoupdate_uuid}};
  for (const auto& field : kFields) {
    if (field.value) {
      mutable_details()->SetWithoutPathExpansion(
          field.key, std::make_unique<base::Value>(*field.value));
    }
  }
}

}  // namespace installer
