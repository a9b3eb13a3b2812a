#include "desktop/windows/installer/package_fetcher/payload_manager.h"

#include <string.h>

#include <limits>

#include "base/files/file_util.h"
#include "base/logging.h"

namespace installer {

namespace {

const char kPayloadMagic[] = {'K', 'V', 'R'};
const size_t kMagicSize = sizeof(kPayloadMagic);
const size_t kLengthSize = 4;
const uint8_t k7zSignature[] = {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C};

// Offsets into the image headers.
const uint64_t kNewHeaderOffsetField = 60;
const uint64_t kNewHeaderOffsetSize = 4;
const uint64_t kMachineOffset = 4;  // After the "PE\0\0" signature.
const uint16_t kMachineI386 = 0x14C;
// The security directory entry (file offset, then size), from the
// signature, in a 32-bit and a 64-bit optional header.
const uint64_t kSecurityDirectoryOffset32 = 152;
const uint64_t kSecurityDirectoryOffset64 = 168;

uint32_t ReadUint32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 |
         static_cast<uint32_t>(at[3]) << 24;
}

uint16_t ReadUint16(const uint8_t* at) {
  return static_cast<uint16_t>(at[0] | at[1] << 8);
}

// Whether |size| bytes at |offset| lie inside a mapping of |length| bytes.
bool Inside(uint64_t offset, uint64_t size, uint64_t length) {
  return offset <= length && size <= length - offset;
}

}  // namespace

const char* PayloadTypeToString(uint32_t type) {
  switch (type) {
    case PAYLOAD_NONE:
      return "none";
    case PAYLOAD_TRACKING_DATA:
      return "tracking_data";
    case PAYLOAD_EXTERNAL_TRACKING_DATA:
      return "external_tracking_data";
    case PAYLOAD_FULL_PACKAGE:
      return "full_package";
    case PAYLOAD_CORRUPTED:
      return "corrupted";
  }
  return "";
}

PayloadManagerImpl::PayloadManagerImpl(const base::FilePath& installer_image)
    : installer_image_(installer_image) {
  type_ = ReadPayload();
}

PayloadManagerImpl::~PayloadManagerImpl() = default;

uint32_t PayloadManagerImpl::ReadPayload() {
  LOG(INFO) << "Reading Payload";
  if (!image_.Initialize(installer_image_)) {
    LOG(ERROR) << "Could not initialize memory mapped file";
    return PAYLOAD_NONE;
  }
  const uint8_t* data = image_.data();
  const uint64_t length = image_.length();

  // Every header field is checked to lie inside the file before it is read:
  // a damaged or hostile image must not make the installer read past it.
  if (!Inside(kNewHeaderOffsetField, kNewHeaderOffsetSize, length) ||
      data[0] != 'M' || data[1] != 'Z') {
    LOG(ERROR) << "The installer image is not a PE image";
    return PAYLOAD_CORRUPTED;
  }
  const uint64_t pe = ReadUint32(data + kNewHeaderOffsetField);
  if (!Inside(pe, kMachineOffset + 2, length) ||
      memcmp(data + pe, "PE\0\0", 4) != 0) {
    LOG(ERROR) << "The installer image has no PE header";
    return PAYLOAD_CORRUPTED;
  }
  const uint64_t directory =
      pe + (ReadUint16(data + pe + kMachineOffset) == kMachineI386
                ? kSecurityDirectoryOffset32
                : kSecurityDirectoryOffset64);
  if (!Inside(directory, 8, length)) {
    LOG(ERROR) << "The installer image's security directory entry is located "
                  "past the image file length";
    return PAYLOAD_CORRUPTED;
  }
  const uint64_t certificate_offset = ReadUint32(data + directory);
  const bool is_signed = ReadUint32(data + directory + 4) != 0;
  if (is_signed && certificate_offset > length) {
    LOG(ERROR) << "Security directory is located past the image file length";
    return PAYLOAD_CORRUPTED;
  }

  const bool at_file_end = FindPayload(length);
  if (!at_file_end && !(is_signed && FindPayload(certificate_offset))) {
    LOG(WARNING) << "No valid payload found";
    return PAYLOAD_NONE;
  }
  if (!IsFullPackage())
    return PAYLOAD_TRACKING_DATA;
  // Bytes after the certificate table can be appended by anyone without
  // breaking the signature: a package there must not be installed.
  if (at_file_end && is_signed) {
    LOG(ERROR) << "Found full package that is not covered by the signature";
    return PAYLOAD_NONE;
  }
  return PAYLOAD_FULL_PACKAGE;
}

bool PayloadManagerImpl::FindPayload(uint64_t region_end) {
  // A region too short for the magic and the length (a certificate table at
  // offset 0, say) holds no payload.
  if (region_end < kMagicSize + kLengthSize) {
    VLOG(1) << "Could not find a valid starting position";
    return false;
  }
  const uint8_t* data = image_.data();
  // Taken as signed: a negative length always fails the comparison below.
  const int64_t signed_length =
      static_cast<int32_t>(ReadUint32(data + region_end - kLengthSize));
  const uint64_t length = static_cast<uint64_t>(signed_length);
  if (region_end - kLengthSize - kMagicSize < length) {
    VLOG(1) << "Could not find a valid starting position";
    return false;
  }
  const uint64_t start = region_end - kLengthSize - length;
  if (memcmp(data + start - kMagicSize, kPayloadMagic, kMagicSize) != 0) {
    VLOG(1) << "Payload data invalid";
    return false;
  }
  payload_start_ = start;
  payload_length_ = length;
  return true;
}

bool PayloadManagerImpl::IsFullPackage() const {
  return payload_length_ >= sizeof(k7zSignature) &&
         memcmp(image_.data() + payload_start_, k7zSignature,
                sizeof(k7zSignature)) == 0;
}

uint32_t PayloadManagerImpl::GetPayloadType() const {
  return type_;
}

std::string PayloadManagerImpl::GetPayload() const {
  if (type_ == PAYLOAD_NONE || type_ == PAYLOAD_CORRUPTED)
    return std::string();
  if (!external_payload_.empty())
    return external_payload_;
  return std::string(
      reinterpret_cast<const char*>(image_.data() + payload_start_),
      payload_length_);
}

bool PayloadManagerImpl::WritePayloadToFile(const base::FilePath& path) const {
  if (type_ == PAYLOAD_NONE || type_ == PAYLOAD_CORRUPTED)
    return false;
  LOG(INFO) << "Writing payload to file " << path;
  std::string copy;
  const char* bytes = nullptr;
  uint64_t size = 0;
  if (type_ == PAYLOAD_FULL_PACKAGE) {
    bytes = reinterpret_cast<const char*>(image_.data() + payload_start_);
    size = payload_length_;
  } else {
    copy = GetPayload();
    bytes = copy.data();
    size = copy.size();
  }
  if (size > static_cast<uint64_t>(std::numeric_limits<int>::max())) {
    LOG(ERROR) << "Payload too large to write: " << size << " bytes";
    return false;
  }
  const int to_write = static_cast<int>(size);
  return base::WriteFile(path, bytes, to_write) == to_write;
}

void PayloadManagerImpl::SetPayload(const std::string& payload) {
  external_payload_ = payload;
  type_ = PAYLOAD_EXTERNAL_TRACKING_DATA;
}

}  // namespace installer
