#include "desktop/windows/installer/avro_stats/avro_stats_message.h"

#include "base/json/json_writer.h"

namespace installer {

AvroStatsMessage::AvroStatsMessage(const std::string& name) : name_(name) {}

AvroStatsMessage::~AvroStatsMessage() = default;

void AvroStatsMessage::FillDatum(AvroDatum* root) const {}

std::string AvroStatsMessage::GetName() const {
  return name_;
}

uint32_t AvroStatsMessage::GetVerbosityLevel() const {
  return 1;
}

std::string AvroStatsMessage::ToRecordLine() const {
  std::unique_ptr<base::DictionaryValue> record = details_.CreateDeepCopy();
  record->SetWithoutPathExpansion("event",
                                  std::make_unique<base::Value>(name_));
  std::string line;
  base::JSONWriter::Write(*record, &line);
  return line;
}

}  // namespace installer
