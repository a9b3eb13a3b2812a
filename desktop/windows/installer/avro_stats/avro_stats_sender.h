#ifndef DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_STATS_SENDER_H_
#define DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_STATS_SENDER_H_

#include <memory>
#include <optional>
#include <string>

#include "base/callback.h"
#include "base/macros.h"
#include "desktop/windows/installer/avro_stats/avro_message_serializer.h"
#include "desktop/windows/installer/avro_stats/avro_stats_message.h"

namespace installer {

class AvroStatsSender {
 public:
  virtual ~AvroStatsSender() = default;

  // Queues one message.
  virtual void Send(std::unique_ptr<AvroStatsMessage> event) = 0;
  // Switches the installer's statistics on or off; while off, messages are
  // dropped.
  virtual void SetTrafficAllowed(bool allowed) = 0;
  // Sends what is queued, then runs |done|.
  virtual void SendPendingAndShutdown(base::OnceClosure done) = 0;
};

// Makes the process-wide sender the one that sends statistics.
//
// Encoding and sending to the statistics service come with the statistics
// subsystem. Until then the sender only records: when the environment
// variable KAVOR_STATS_LOG_FILE names a file, each sent event is appended to
// it as one line (see AvroStatsMessage::ToRecordLine); otherwise events are dropped.
void InitializeAvroStatsSender(
    std::unique_ptr<AvroMessageSerializer> serializer,
    bool use_test_server,
    bool user_initiated);

// Makes the process-wide sender one that drops every message.
void DisableAvroStatsSender();

// The process-wide sender; the dropping one until either call above. Each of
// them replaces (and destroys) the previous sender, so callers ask for the
// sender when they send rather than keep the pointer.
AvroStatsSender* GetAvroStatsSender();

// Makes |sender| the process-wide sender (tests that inspect what was sent).
void SetAvroStatsSenderForTesting(std::unique_ptr<AvroStatsSender> sender);

// The environment variable naming the file the recording sender appends to.
extern const char kStatsLogFileVariable[];

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_STATS_SENDER_H_
