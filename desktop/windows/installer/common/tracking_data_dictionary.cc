#include "desktop/windows/installer/common/tracking_data_dictionary.h"

#include <algorithm>

#include "base/base64.h"
#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "crypto/sha2.h"

namespace installer {
namespace {

// The blob is padded with blanks to a multiple of this length.
constexpr size_t kBlobAlignment = 8;

}  // namespace

TrackingDataDictionary::TrackingDataDictionary()
    : received_(std::make_unique<base::DictionaryValue>()) {}

TrackingDataDictionary::~TrackingDataDictionary() = default;

bool TrackingDataDictionary::HasTrackingData() const {
  return !received_->empty();
}

bool TrackingDataDictionary::ParseTrackingBlob(const std::string& blob) {
  base::StringPiece trimmed =
      base::TrimWhitespaceASCII(blob, base::TRIM_TRAILING);
  std::string decoded;
  if (!base::Base64Decode(trimmed, &decoded) || decoded.empty())
    return false;
  // The hash before the JSON is not checked: the sender's JSON writer may
  // differ from ours, and a mismatch proves nothing about the values.
  size_t begin = decoded.find('{');
  size_t end = decoded.rfind('}');
  if (begin == std::string::npos || end == std::string::npos || end < begin)
    return false;
  std::unique_ptr<base::Value> value = base::JSONReader::Read(
      base::StringPiece(decoded).substr(begin, end - begin + 1));
  if (!value || !value->is_dict())
    return false;
  received_.reset(static_cast<base::DictionaryValue*>(value.release()));
  return true;
}

std::string TrackingDataDictionary::ToJson() const {
  std::unique_ptr<base::DictionaryValue> merged = received_->CreateDeepCopy();
  merged->MergeDictionary(&local_);
  std::string json;
  if (merged->empty() || !base::JSONWriter::Write(*merged, &json))
    return std::string();
  return json;
}

std::string TrackingDataDictionary::SerializeTrackingBlob() const {
  const std::string json = ToJson();
  if (json.empty())
    return std::string();
  std::string hash = crypto::SHA256HashString(json);
  std::string blob;
  base::Base64Encode(
      base::ToLowerASCII(base::HexEncode(hash.data(), hash.size())) + ":" +
          json,
      &blob);
  blob.append((kBlobAlignment - blob.size() % kBlobAlignment) % kBlobAlignment,
              ' ');
  return blob;
}

void TrackingDataDictionary::SetString(const std::string& key,
                                       const std::string& value) {
  // Each part of the key opens one dictionary of the blob's JSON (the
  // outermost is the root). Deeper than the reader goes, the next process
  // would drop every tracking value, and a key of thousands of parts would
  // exhaust the stack of the writer and of the dictionary's own copies.
  const size_t parts =
      static_cast<size_t>(std::count(key.begin(), key.end(), '.')) + 1;
  if (parts > static_cast<size_t>(base::JSONReader::kStackMaxDepth)) {
    LOG(ERROR) << "Tracking value dropped: key of " << parts
               << " parts beginning \"" << key.substr(0, 64)
               << "\" is deeper than the " << base::JSONReader::kStackMaxDepth
               << " levels that the tracking data can carry";
    return;
  }
  local_.SetString(key, value);
}

std::optional<std::string> TrackingDataDictionary::GetString(
    const std::string& key) const {
  const base::Value* value = nullptr;
  if (!local_.Get(key, &value) && !received_->Get(key, &value))
    return std::nullopt;
  if (!value->is_string())
    return std::nullopt;
  return value->GetString();
}

}  // namespace installer
