#ifndef DESKTOP_WINDOWS_INSTALLER_COMMON_PRODUCT_INFO_H_
#define DESKTOP_WINDOWS_INSTALLER_COMMON_PRODUCT_INFO_H_

#include <stdint.h>

#include <string>

namespace installer {

// The stream-dependent product facts behind an interface, so that code can
// be tested against another stream than the one this build serves.
class ProductInfo {
 public:
  virtual ~ProductInfo() = default;
  virtual int32_t GetChannelId() const = 0;
  virtual std::string GetChannelName() const = 0;
  virtual std::string GetInternalVersion() const = 0;
  virtual std::string GetAutoupdateUrl() const = 0;
  virtual std::string GetCompanyDomain() const = 0;
  // File name of a shortcut: the release stream keeps `base_name`, every
  // other stream is named after the product and stream.
  virtual std::wstring GetShortcutFileName(
      const std::wstring& base_name) const = 0;
};

class ProductInfoImpl : public ProductInfo {
 public:
  // The process-wide instance, made on first use and never replaced.
  static ProductInfo* GetInstance();

  int32_t GetChannelId() const override;
  std::string GetChannelName() const override;
  std::string GetInternalVersion() const override;
  std::string GetAutoupdateUrl() const override;
  std::string GetCompanyDomain() const override;
  std::wstring GetShortcutFileName(
      const std::wstring& base_name) const override;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_COMMON_PRODUCT_INFO_H_
