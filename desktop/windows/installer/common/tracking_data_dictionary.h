#ifndef DESKTOP_WINDOWS_INSTALLER_COMMON_TRACKING_DATA_DICTIONARY_H_
#define DESKTOP_WINDOWS_INSTALLER_COMMON_TRACKING_DATA_DICTIONARY_H_

#include <memory>
#include <optional>
#include <string>

#include "base/macros.h"
#include "base/values.h"

namespace installer {

// Where the download came from: the dictionary received in the tracking
// blob, and the values the installer sets itself, which win.
class TrackingDataDictionary {
 public:
  TrackingDataDictionary();
  virtual ~TrackingDataDictionary();

  // The received dictionary has an entry (local values do not count).
  virtual bool HasTrackingData() const;
  // Replaces the received dictionary from a blob; false leaves it as it was.
  virtual bool ParseTrackingBlob(const std::string& blob);
  // The blob of the received dictionary with the local values merged over
  // it; empty when there is nothing to send.
  virtual std::string SerializeTrackingBlob() const;
  // The same merged dictionary as compact JSON; empty when there is nothing.
  virtual std::string ToJson() const;
  // |key| is a dotted path. A key of more parts than the JSON reader nests
  // is dropped with a log line, so that the blob always reads back.
  virtual void SetString(const std::string& key, const std::string& value);
  virtual std::optional<std::string> GetString(const std::string& key) const;

 private:
  std::unique_ptr<base::DictionaryValue> received_;
  base::DictionaryValue local_;

  DISALLOW_COPY_AND_ASSIGN(TrackingDataDictionary);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_COMMON_TRACKING_DATA_DICTIONARY_H_
