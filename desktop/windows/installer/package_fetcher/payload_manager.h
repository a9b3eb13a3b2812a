#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PAYLOAD_MANAGER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PAYLOAD_MANAGER_H_

#include <stdint.h>

#include <string>

#include "base/files/file_path.h"
#include "base/files/memory_mapped_file.h"
#include "base/macros.h"

namespace installer {

// What the installer executable carries; the numbers are the ones reported.
enum PayloadType : uint32_t {
  PAYLOAD_NONE = 0,
  PAYLOAD_TRACKING_DATA = 1,
  // Tracking data handed over through SetPayload.
  PAYLOAD_EXTERNAL_TRACKING_DATA = 2,
  PAYLOAD_FULL_PACKAGE = 3,
  PAYLOAD_CORRUPTED = 4,
};

// "none", "tracking_data", "external_tracking_data", "full_package",
// "corrupted"; the empty name for any other number.
const char* PayloadTypeToString(uint32_t type);

// The payload appended to the installer executable.
class PayloadManager {
 public:
  virtual ~PayloadManager() = default;
  // One of PayloadType.
  virtual uint32_t GetPayloadType() const = 0;
  // Empty when there is no payload or the image is corrupted.
  virtual std::string GetPayload() const = 0;
  // Creates or truncates |path| with the payload; false when there is none
  // or not every byte was written.
  virtual bool WritePayloadToFile(const base::FilePath& path) const = 0;
  // Tracking data that arrived some other way; the type becomes
  // PAYLOAD_EXTERNAL_TRACKING_DATA.
  virtual void SetPayload(const std::string& payload) = 0;
};

// Finds and validates the payload of |installer_image| when made. The image
// stays mapped while the object lives, so a full package is written out
// without ever being copied into memory.
//
// The payload ends a byte region of the file: the three bytes "KVR", the
// payload, then its length as a 32-bit little-endian number. The region is
// the whole file, or for a signed image the part before its certificate
// table, which is the only part the signature covers.
class PayloadManagerImpl : public PayloadManager {
 public:
  explicit PayloadManagerImpl(const base::FilePath& installer_image);
  ~PayloadManagerImpl() override;

  uint32_t GetPayloadType() const override;
  std::string GetPayload() const override;
  bool WritePayloadToFile(const base::FilePath& path) const override;
  void SetPayload(const std::string& payload) override;

 private:
  uint32_t ReadPayload();
  // Looks for the payload ending at |region_end|; sets the payload's start
  // and length when found.
  bool FindPayload(uint64_t region_end);
  bool IsFullPackage() const;

  const base::FilePath installer_image_;
  base::MemoryMappedFile image_;
  std::string external_payload_;
  uint64_t payload_length_ = 0;
  uint64_t payload_start_ = 0;
  uint32_t type_ = PAYLOAD_NONE;

  DISALLOW_COPY_AND_ASSIGN(PayloadManagerImpl);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PAYLOAD_MANAGER_H_
