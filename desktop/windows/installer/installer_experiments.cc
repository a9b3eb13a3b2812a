#include "desktop/windows/installer/installer_experiments.h"

#include <string.h>

#include <iterator>

#include "base/features/feature_registry.h"
#include "desktop/windows/installer/common/product_constants.h"

namespace installer {

const char kInstallerExperimentTest[] = "installer-experiment-test";
const char kInstallerUseMinimalPackage[] = "installer-use-minimal-package";
const char kInstallerHandleProprietaryUris[] =
    "installer-handle-proprietary-uris";
const char kTamberLibraryFeature[] = "tamber-library";
const char kHandleProprietaryUrisFeature[] = "handle-proprietary-uris";

namespace {

// Stream masks of the feature tables.
constexpr uint32_t kDeveloperStreamOnly = 0x2;
constexpr uint32_t kNoStream = 0;

// Streams 3 and 4 share a bit.
constexpr uint32_t kStreamBits[] = {1, 2, 4, 4};

// Overridable and off everywhere until an experiment turns them on.
constexpr FeatureRecord kInstallerExperiments[] = {
    {kInstallerExperimentTest, kNoStream, 0, 0, "", "",
     kFeatureEnabledByDefault},
    {kInstallerUseMinimalPackage, kNoStream, 0, 0, "", "",
     kFeatureEnabledByDefault},
    {kInstallerHandleProprietaryUris, kNoStream, 0, 1, "", "",
     kFeatureEnabledByDefault},
};

// The browser's own feature flags, as far as the installer looks at them.
// The browser keeps the full table; the installer needs only the rows it
// looks up.
constexpr FeatureRecord kBrowserFeatures[] = {
    // The tamper-detection library: tried out on the developer stream first.
    {kTamberLibraryFeature, kDeveloperStreamOnly, 1, 1, "", "",
     kFeatureEnabledByDefault},
    // The browser's own switch for taking over the proprietary URI schemes;
    // off on every stream, so only a feature switch turns it on.
    {kHandleProprietaryUrisFeature, kNoStream, 0, 0, "", "",
     kFeatureEnabledByDefault},
};

}  // namespace

uint32_t GetStreamBit(int32_t stream) {
  if (stream < 1 || stream > static_cast<int32_t>(std::size(kStreamBits)))
    return 0;
  return kStreamBits[stream - 1];
}

bool IsFeatureEnabledByDefaultOnStream(const FeatureRecord& record,
                                       int32_t stream) {
  return (record.stream_mask & GetStreamBit(stream)) != 0 &&
         (record.flags & kFeatureEnabledByDefault) != 0;
}

bool IsFeatureEnabledByDefault(const FeatureRecord& record) {
  return IsFeatureEnabledByDefaultOnStream(record, GetChannelId());
}

bool IsFeatureOverridable(const FeatureRecord& record) {
  return record.locked == 0;
}

const FeatureRecord* GetInstallerExperiments(size_t* count) {
  *count = std::size(kInstallerExperiments);
  return kInstallerExperiments;
}

void RegisterInstallerExperiments(base::FeatureRegistry* registry) {
  for (const FeatureRecord& record : kInstallerExperiments) {
    registry->RegisterFeature(record.name, IsFeatureEnabledByDefault(record),
                              IsFeatureOverridable(record));
  }
}

void RegisterBrowserFeatures(base::FeatureRegistry* registry) {
  for (const FeatureRecord& record : kBrowserFeatures) {
    registry->RegisterFeature(record.name, IsFeatureEnabledByDefault(record),
                              IsFeatureOverridable(record));
  }
}

const FeatureRecord* FindBrowserFeature(base::StringPiece name) {
  for (const FeatureRecord& record : kBrowserFeatures) {
    if (strlen(record.name) == name.size() &&
        memcmp(record.name, name.data(), name.size()) == 0) {
      return &record;
    }
  }
  return nullptr;
}

}  // namespace installer
