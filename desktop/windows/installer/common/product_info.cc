#include "desktop/windows/installer/common/product_info.h"

#include <memory>

#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/common/product_constants.h"

namespace installer {

// static
ProductInfo* ProductInfoImpl::GetInstance() {
  static const std::unique_ptr<ProductInfo> instance(new ProductInfoImpl());
  return instance.get();
}

int32_t ProductInfoImpl::GetChannelId() const {
  return installer::GetChannelId();
}

std::string ProductInfoImpl::GetChannelName() const {
  return installer::GetChannelName();
}

std::string ProductInfoImpl::GetInternalVersion() const {
  return GetInternalVersionString();
}

std::string ProductInfoImpl::GetAutoupdateUrl() const {
  return GetNamedUrl("autoupdate");
}

std::string ProductInfoImpl::GetCompanyDomain() const {
  return installer::GetCompanyDomain();
}

std::wstring ProductInfoImpl::GetShortcutFileName(
    const std::wstring& base_name) const {
  if (GetChannelId() == kReleaseChannelId)
    return base_name + L".lnk";
  return base::UTF8ToWide(GetProductNameWithChannel() +
                          GetShortcutNameSuffix() + ".lnk");
}

}  // namespace installer
