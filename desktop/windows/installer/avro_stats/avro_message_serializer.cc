#include "desktop/windows/installer/avro_stats/avro_message_serializer.h"

#include <utility>

#include "desktop/windows/installer/avro_stats/avro_stats_message.h"

namespace installer {

CampaignData::CampaignData() = default;

CampaignData::CampaignData(std::optional<std::string> campaign,
                           std::optional<std::string> source,
                           std::optional<std::string> medium)
    : campaign(std::move(campaign)),
      source(std::move(source)),
      medium(std::move(medium)) {}

CampaignData::CampaignData(const CampaignData& other) = default;

CampaignData::~CampaignData() = default;

AvroMessageSerializer::AvroMessageSerializer(
    const std::string& session_guid,
    const std::string& network_installer_id,
    const std::string& version,
    const std::string& stream,
    const CampaignData& campaign)
    : session_guid_(session_guid),
      network_installer_id_(network_installer_id),
      version_(version),
      stream_(stream),
      campaign_(campaign) {}

AvroMessageSerializer::~AvroMessageSerializer() = default;

std::string AvroMessageSerializer::Serialize(const AvroStatsMessage& message,
                                             const DiagnosticCounters& counters) {
  // The encoding comes with the statistics schema and codec.
  return std::string();
}

}  // namespace installer
