#ifndef CRASH_CRASH_PRODUCT_INFO_H_
#define CRASH_CRASH_PRODUCT_INFO_H_

#include <stdint.h>

#include <string>

#include "base/files/file_path.h"
#include "base/strings/string16.h"
#include "base/strings/string_piece.h"

namespace crash_reporter {

// Who the crashing product is. Crash reporting sits below the installer and
// cannot read the installer's build constants itself: the entry point hands
// them over before any crash-reporting call.
struct CrashProductInfo {
  // The product word ("Kavor"): names of dumps, logs and variables.
  std::string product_word;
  // The product name the crash service files reports under.
  std::string crash_product_name;
  std::string version;
  // The channel word and its number.
  std::string channel;
  int32_t channel_id = 0;
  // Negative for builds that report no crashes.
  int32_t ubn = -1;
  std::string build_timestamp;
  int32_t build_number = 0;
  // Below HKEY_CURRENT_USER.
  base::string16 company_registry_key;
  // The crash service's collection endpoint.
  std::string upload_url;
};

void SetCrashProductInfo(const CrashProductInfo& info);
// Empty values until SetCrashProductInfo.
const CrashProductInfo& GetCrashProductInfo();

// The folder for dumps (and, in tests, for the reporter's files).
extern const char kCrashLogDirVariable[];

// "KAVOR_" + |suffix|: the crash reporter's environment variables.
std::string ProductEnvironmentVariable(base::StringPiece suffix);
// The product word lower-cased.
std::string LowerProductWord();

// The first 8 characters of the build stamp (padded with "0") and the last 6
// digits of the build number (padded with "0").
std::string ComputeBuildId(const CrashProductInfo& info);
// "nightly", "release", or the channel word.
std::string ComputeReleaseChannel(const CrashProductInfo& info);
// "tests-syms" for a test program ("..._browsertests.exe"), else
// "browser-syms".
std::string SymbolsPackageFor(const base::FilePath& program);

// The variable as a boolean: "1", "yes" or "true" in any case.
bool GetEnvironmentFlag(const std::string& name);
// The variable's value; empty when it is not set.
std::string GetEnvironmentValue(const std::string& name);

}  // namespace crash_reporter

#endif  // CRASH_CRASH_PRODUCT_INFO_H_
