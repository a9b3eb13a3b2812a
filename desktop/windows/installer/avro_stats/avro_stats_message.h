#ifndef DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_STATS_MESSAGE_H_
#define DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_STATS_MESSAGE_H_

#include <stdint.h>

#include <memory>
#include <string>

#include "base/macros.h"
#include "base/values.h"

namespace installer {

class AvroDatum;

// One statistics event, made where it happens and handed to the sender,
// which turns it into one datum of the statistics schema.
class AvroStatsMessage {
 public:
  explicit AvroStatsMessage(const std::string& name);
  virtual ~AvroStatsMessage();

  // Writes the message into the root datum of the statistics schema.
  virtual void FillDatum(AvroDatum* root) const;
  virtual std::string GetName() const;
  // Messages above the sender's maximum level are not sent.
  virtual uint32_t GetVerbosityLevel() const;

  const std::string& name() const { return name_; }
  const base::DictionaryValue& details() const { return details_; }

  // One line without line end: {"event":NAME, ...details} as compact JSON.
  std::string ToRecordLine() const;

 protected:
  base::DictionaryValue* mutable_details() { return &details_; }

 private:
  const std::string name_;
  base::DictionaryValue details_;

  DISALLOW_COPY_AND_ASSIGN(AvroStatsMessage);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_STATS_MESSAGE_H_
