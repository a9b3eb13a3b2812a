#include "desktop/windows/installer/common/product_constants.h"

#include <stdio.h>

#include <utility>
#include <vector>

namespace installer {

namespace {

constexpr char kProductName[] = "Kavor";
constexpr char kProductShortName[] = "kavor";
constexpr char kChannelName[] = "developer";
constexpr int32_t kChannelId = 2;
constexpr int kVersionMajor = 47;
constexpr int kVersionMinor = 0;
// The build number can be given by the build: the tests build an older
// release of the same sources with one (testing/old_release).
#ifndef KAVOR_VERSION_BUILD
#define KAVOR_VERSION_BUILD 4127
#endif
constexpr int kVersionBuild = KAVOR_VERSION_BUILD;
constexpr int kVersionPatch = 0;
constexpr char kBuildTimestamp[] = "20180312_230013";
constexpr int32_t kUbn = 957861;
constexpr int32_t kBuildNumber = 324168;
constexpr char kCompanyName[] = "Kavor Software";
constexpr char kCompanyLegalName[] = "Kavor Software Ltd";

// The maker's services. Hosts are build inputs; everything after the host is
// fixed by the services themselves.
#define KAVOR_DOMAIN "kavor.example"
constexpr char kCompanyDomain[] = "." KAVOR_DOMAIN;
#define WEB_SITE_HOST "www." KAVOR_DOMAIN
#define AUTOUPDATE_HOST "autoupdate." KAVOR_DOMAIN
#define REDIRECT_HOST "redir." KAVOR_DOMAIN
#define HELP_HOST "help." KAVOR_DOMAIN

struct NamedUrl {
  std::string name;
  std::string url;
};

// Built once under the thread-safe static initialisation; the table's
// entries are destroyed at process exit in reverse order.
const std::vector<NamedUrl>& NamedUrlTable() {
  static const std::vector<NamedUrl> table = {
      {"autoupdate", "https://" AUTOUPDATE_HOST "/"},
      {"crash", "https://crash." KAVOR_DOMAIN},
      {"crashstats_collector",
       "https://crashstats." KAVOR_DOMAIN "/collector/submit"},
      {"download", "http://" WEB_SITE_HOST "/download/"},
      {"download_full_windows",
       "http://" WEB_SITE_HOST
       "/download/get/?partner=www&opsys=Windows&utm_source=netinstaller"},
      {"exchange", "https://exchange." KAVOR_DOMAIN "/api/v1/"},
      {"firstrun", "https://" REDIRECT_HOST "/" WEB_SITE_HOST "/firstrun/"},
      {"flash_ppapi_update_site",
       "https://" REDIRECT_HOST
       "/plugins/?application/x-shockwave-flash&type=ppapi"},
      {"flash_update_site",
       "https://" REDIRECT_HOST "/plugins/?application/x-shockwave-flash"},
      {"geolocation", "http://" AUTOUPDATE_HOST "/geolocation/"},
      {"geolocation_privacy", "http://" HELP_HOST "/geolocation/privacy/"},
      {"google_favicon",
       "http://" REDIRECT_HOST "/favicons/google/favicon.ico"},
      {"help", "http://" HELP_HOST "/?p="},
      {"homepage", "http://" WEB_SITE_HOST "/"},
      {"partner_redirect", "http://" REDIRECT_HOST "/startdials/partner/"},
      {"private_mode_welcome_page", "kavor://startpage/private"},
      {"product_eula", "https://" WEB_SITE_HOST "/eula/computers"},
      {"product_privacy_policy", "https://" KAVOR_DOMAIN "/privacy"},
      {"product_terms", "https://" WEB_SITE_HOST "/terms"},
      {"report_issue", "https://bugs." KAVOR_DOMAIN "/wizard/"},
      {"survey", "https://" REDIRECT_HOST "/surveys"},
      {"uninstall_survey", "http://" REDIRECT_HOST "/uninstallsurvey/"},
      {"upgrade", "https://" REDIRECT_HOST "/" WEB_SITE_HOST "/upgrade/"},
      {"webstore", "https://addons." KAVOR_DOMAIN "/extensions"},
  };
  return table;
}

std::string FormatVersion(const char* format, int a, int b, int c, int d) {
  char buffer[64];
  snprintf(buffer, sizeof(buffer), format, a, b, c, d);
  return buffer;
}

}  // namespace

std::string GetProductName() {
  return kProductName;
}

std::string GetProductShortName() {
  return kProductShortName;
}

std::string GetChannelName() {
  return kChannelName;
}

std::string GetProductNameWithChannel() {
  return GetProductName() + " " + GetChannelName();
}

std::string GetProductInternalName() {
  return GetProductName() + GetChannelName();
}

std::string GetProductDisplayName() {
  return GetProductNameWithChannel() + " Internet Browser";
}

int32_t GetChannelId() {
  return kChannelId;
}

std::string GetVersionString() {
  return FormatVersion("%d.%d.%d.%d", kVersionMajor, kVersionMinor,
                       kVersionBuild, kVersionPatch);
}

std::string GetInternalVersionString() {
  return FormatVersion("%d.%d", kVersionBuild, kVersionPatch, 0, 0);
}

std::string GetBuildTimestamp() {
  return kBuildTimestamp;
}

int32_t GetUbn() {
  return kUbn;
}

int32_t GetBuildNumber() {
  return kBuildNumber;
}

std::string GetCompanyName() {
  return kCompanyName;
}

std::string GetCompanyLegalName() {
  return kCompanyLegalName;
}

std::string GetCompanyDomain() {
  return kCompanyDomain;
}

std::string GetProfilePathPattern() {
  return "Kavor Software/Kavor {InternalStream}";
}

std::string GetCrashProductName() {
  return "KavorDesktop";
}

std::string GetShortcutNameSuffix() {
  return std::string();
}

int32_t GetAutoupdateTaskLogonDelayMinutes() {
  return 5;
}

std::string GetNamedUrl(base::StringPiece name) {
  for (const NamedUrl& entry : NamedUrlTable()) {
    if (entry.name.size() == name.size() &&
        entry.name.compare(0, entry.name.size(), name.data(), name.size()) ==
            0) {
      return entry.url;
    }
  }
  // Every caller passes a literal name of the table; anything else has no
  // address rather than a wrong one.
  return std::string();
}

}  // namespace installer
