#ifndef DESKTOP_WINDOWS_INSTALLER_COMMON_PRODUCT_CONSTANTS_H_
#define DESKTOP_WINDOWS_INSTALLER_COMMON_PRODUCT_CONSTANTS_H_

#include <stdint.h>

#include <string>

#include "base/strings/string_piece.h"

// Everything that names the product, its maker, its release stream and its
// version. One build serves one product on one stream: the values are build
// inputs, and code that must be testable with another stream goes through
// `ProductInfo` instead of calling these directly.
namespace installer {

std::string GetProductName();
std::string GetProductShortName();
std::string GetChannelName();
std::string GetProductNameWithChannel();
std::string GetProductInternalName();
std::string GetProductDisplayName();
int32_t GetChannelId();
std::string GetVersionString();
std::string GetInternalVersionString();
std::string GetBuildTimestamp();
int32_t GetUbn();
int32_t GetBuildNumber();
std::string GetCompanyName();
std::string GetCompanyLegalName();
std::string GetCompanyDomain();
std::string GetProfilePathPattern();
std::string GetCrashProductName();
std::string GetShortcutNameSuffix();
int32_t GetAutoupdateTaskLogonDelayMinutes();

// The web address registered under `name` in the named URL table; empty for
// a name that is not in the table. Names match exactly (case and length).
std::string GetNamedUrl(base::StringPiece name);

// The stream whose shortcuts keep the caller's base name.
constexpr int32_t kReleaseChannelId = 4;

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_COMMON_PRODUCT_CONSTANTS_H_
