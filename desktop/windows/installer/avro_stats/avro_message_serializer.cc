#include "desktop/windows/installer/avro_stats/avro_message_serializer.h"

#include <memory>

#include "base/strings/stringprintf.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/avro_stats/avro_codec.h"
#include "desktop/windows/installer/avro_stats/avro_stats_message.h"
#include "desktop/windows/installer/avro_stats/statistics_schema.h"

namespace installer {

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

std::string AvroMessageSerializer::Serialize(
    const AvroStatsMessage& message, const DiagnosticCounters& counters) {
  AvroDatum root(GetStatisticsSchema());
  message.FillDatum(&root);
  // Present on every message, with empty strings when unknown.
  SetAtPath(&root, "identifiers.session_guid", session_guid_);
  SetAtPath(&root, "identifiers.network_installer_id", network_installer_id_);
  SetAtPath(&root, "context.application.version", version_);
  SetAtPath(&root, "context.application.stream", stream_);
  AddDiagnosticData(&root, "installer_event.diagnostic_data", counters);
  AddCampaign(&root, "context.campaign", campaign_);
  SetAtPath(&root, "context.osname", "Windows");
  const base::win::OSInfo::VersionNumber os =
      base::win::OSInfo::GetInstance()->version_number();
  SetAtPath(
      &root, "context.osversion",
      base::StringPrintf("%d.%d.%d.%d", static_cast<int>(os.major),
                         static_cast<int>(os.minor), static_cast<int>(os.build),
                         static_cast<int>(os.patch)));
  return AvroEncoder().EncodeWithSchemaId(root);
}

}  // namespace installer
