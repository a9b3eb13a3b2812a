#include "desktop/windows/installer/avro_stats/avro_events.h"

#include "base/json/json_writer.h"

namespace installer {

AvroEvent::AvroEvent(const std::string& name) : name_(name) {}

AvroEvent::~AvroEvent() = default;

std::string AvroEvent::ToRecordLine() const {
  std::unique_ptr<base::DictionaryValue> record = details_.CreateDeepCopy();
  record->SetWithoutPathExpansion("event",
                                  std::make_unique<base::Value>(name_));
  std::string line;
  base::JSONWriter::Write(*record, &line);
  return line;
}

InstallerStepStartingEvent::InstallerStepStartingEvent(
    const std::string& step_name)
    : AvroEvent("installer_step_starting") {
  mutable_details()->SetWithoutPathExpansion(
      "step_name", std::make_unique<base::Value>(step_name));
}

InstallerStepFinishedEvent::InstallerStepFinishedEvent(
    const std::string& step_name, int attempt)
    : AvroEvent("installer_step_finished") {
  mutable_details()->SetWithoutPathExpansion(
      "step_name", std::make_unique<base::Value>(step_name));
  mutable_details()->SetWithoutPathExpansion(
      "attempt", std::make_unique<base::Value>(attempt));
}

ErrorEvent::ErrorEvent(const std::string& description) : AvroEvent("error") {
  mutable_details()->SetWithoutPathExpansion(
      "description", std::make_unique<base::Value>(description));
}

ControllerQuittingEvent::ControllerQuittingEvent()
    : AvroEvent("controller_quitting") {}

StatusParsedEvent::StatusParsedEvent(
    const std::optional<std::string>& status_origin,
    const std::optional<std::string>& server_tracking_data,
    const std::optional<std::string>& autoupdate_uuid)
    : AvroEvent("status_parsed") {
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
