#include "desktop/windows/installer/avro_stats/avro_stats_message.h"

#include <atomic>

#include "base/guid.h"
#include "base/logging.h"
#include "desktop/windows/installer/avro_stats/avro_codec.h"

namespace installer {

namespace {

std::atomic<uint32_t> g_last_sequence_number{0};
base::Time (*g_now_for_testing)() = nullptr;
std::string (*g_guid_for_testing)() = nullptr;

base::Time Now() {
  return g_now_for_testing ? g_now_for_testing() : base::Time::Now();
}

std::string NewMessageId() {
  return g_guid_for_testing ? g_guid_for_testing() : base::GenerateGUID();
}

}  // namespace

AvroStatsMessage::AvroStatsMessage(const std::string& name)
    : creation_time_(Now()),
      message_id_(NewMessageId()),
      name_(name),
      sequence_number_(g_last_sequence_number.fetch_add(1) + 1) {}

AvroStatsMessage::~AvroStatsMessage() = default;

void AvroStatsMessage::FillDatum(AvroDatum* root) const {
  AvroDatum* event = root->FieldByPath("installer_event");
  if (!event)
    return;
  AvroDatum* event_type = event->FieldByPath("event_type");
  if (!event_type || !event_type->SetEnumBySymbol(name_))
    LOG(ERROR) << "Statistics event " << name_ << " has no event type";
  SetAtPath(event, "message_session_id",
            static_cast<int32_t>(sequence_number_));
  AddDetails(event);
  SetAtPath(root, "EventTimestamp", creation_time_.ToJavaTime());
  SetAtPath(root, "SentTimestamp", Now().ToJavaTime());
  SetAtPath(root, "TLXMessageUUID", message_id_);
}

void AvroStatsMessage::AddDetails(AvroDatum* event) const {}

std::string AvroStatsMessage::GetName() const {
  return name_;
}

void SetStatsClockForTesting(base::Time (*now)()) {
  g_now_for_testing = now;
}

void SetStatsGuidForTesting(std::string (*generate_guid)()) {
  g_guid_for_testing = generate_guid;
}

void ResetStatsMessageSequenceForTesting() {
  g_last_sequence_number = 0;
}

}  // namespace installer
