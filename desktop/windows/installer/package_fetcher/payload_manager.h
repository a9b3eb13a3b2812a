#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PAYLOAD_MANAGER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PAYLOAD_MANAGER_H_

#include <string>

#include "base/files/file_path.h"
#include "base/macros.h"

namespace installer {

enum class PayloadType {
  NONE = 0,
  TRACKING_DATA = 1,
  EXTERNAL_TRACKING_DATA = 2,
  FULL_PACKAGE = 3,
  CORRUPTED = 4,
};

// "none", "tracking_data", "external_tracking_data", "full_package",
// "corrupted".
const char* PayloadTypeToString(PayloadType type);

// What the installer executable carries appended to its image.
class PayloadManager {
 public:
  virtual ~PayloadManager() = default;
  virtual PayloadType GetType() const = 0;
  // False when the payload holds no tracking text.
  virtual bool GetTrackingData(std::string* out) const = 0;
};

// Reads the payload of |installer_image| when made.
//
// The payload reader comes with package acquisition; until then no payload
// is ever found, so every installer runs as one without a payload.
class PayloadManagerImpl : public PayloadManager {
 public:
  explicit PayloadManagerImpl(const base::FilePath& installer_image);
  ~PayloadManagerImpl() override;

  PayloadType GetType() const override;
  bool GetTrackingData(std::string* out) const override;

 private:
  const base::FilePath installer_image_;
  PayloadType type_ = PayloadType::NONE;
  std::string tracking_data_;

  DISALLOW_COPY_AND_ASSIGN(PayloadManagerImpl);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PAYLOAD_MANAGER_H_
