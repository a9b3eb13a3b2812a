#ifndef DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_STATS_MESSAGE_H_
#define DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_STATS_MESSAGE_H_

#include <stdint.h>

#include <memory>
#include <string>

#include "base/macros.h"
#include "base/time/time.h"

namespace installer {

class AvroDatum;

// One statistics event, made where it happens and handed to the sender,
// which turns it into one datum of the statistics schema.
class AvroStatsMessage {
 public:
  virtual ~AvroStatsMessage();

  // Writes the message into the root datum of the statistics schema: the
  // event type, the sequence number, the details, both timestamps and the
  // message identifier. "SentTimestamp" is taken anew at every call.
  virtual void FillDatum(AvroDatum* root) const;
  virtual std::string GetName() const;
  // Messages above the sender's maximum level are not sent.
  virtual uint32_t GetVerbosityLevel() const = 0;
  // Writes the event's own values into the "installer_event" record;
  // events without details write nothing.
  virtual void AddDetails(AvroDatum* event) const;

  uint32_t sequence_number() const { return sequence_number_; }

 protected:
  explicit AvroStatsMessage(const std::string& name);

 private:
  const base::Time creation_time_;
  const std::string message_id_;
  const std::string name_;
  // Counts the messages of the process from 1, whatever thread makes them.
  const uint32_t sequence_number_;

  DISALLOW_COPY_AND_ASSIGN(AvroStatsMessage);
};

// Tests fix the clock and the identifiers of messages so that encoded
// messages are reproducible; null restores the real ones.
void SetStatsClockForTesting(base::Time (*now)());
void SetStatsGuidForTesting(std::string (*generate_guid)());
// The next message made gets the sequence number 1.
void ResetStatsMessageSequenceForTesting();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_STATS_MESSAGE_H_
