#ifndef DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_MESSAGE_SERIALIZER_H_
#define DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_MESSAGE_SERIALIZER_H_

#include <stdint.h>

#include <string>

#include "base/macros.h"
#include "desktop/windows/installer/avro_stats/avro_detail_records.h"

namespace installer {

class AvroStatsMessage;

// What every statistics message of the process carries besides its event.
class AvroMessageSerializer {
 public:
  AvroMessageSerializer(const std::string& session_guid,
                        const std::string& network_installer_id,
                        const std::string& version,
                        const std::string& stream,
                        const CampaignData& campaign);
  virtual ~AvroMessageSerializer();

  // The body of one statistics request for |message|, carrying |counters|.
  virtual std::string Serialize(const AvroStatsMessage& message,
                                const DiagnosticCounters& counters);

 private:
  const std::string session_guid_;
  const std::string network_installer_id_;
  const std::string version_;
  const std::string stream_;
  const CampaignData campaign_;

  DISALLOW_COPY_AND_ASSIGN(AvroMessageSerializer);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_MESSAGE_SERIALIZER_H_
