#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_EXPERIMENTS_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_EXPERIMENTS_H_

#include <stddef.h>
#include <stdint.h>

#include "base/strings/string_piece.h"

namespace base {
class FeatureRegistry;
}

namespace installer {

// One on/off feature as the browser's feature tables describe it; the
// installer's own experiments use the same record.
struct FeatureRecord {
  const char* name;
  // Streams on which kFeatureEnabledByDefault applies (see GetStreamBit).
  uint32_t stream_mask;
  // Non-zero: registered as not overridable.
  uint32_t locked;
  // Browser-only; the installer never reads it.
  uint64_t browser_only;
  const char* display_name;
  const char* description;
  uint8_t flags;
};

// The only bit of FeatureRecord::flags the installer reads.
constexpr uint8_t kFeatureEnabledByDefault = 0x2;

// Experiment names.
extern const char kInstallerExperimentTest[];
extern const char kInstallerUseMinimalPackage[];
extern const char kInstallerHandleProprietaryUris[];
// The browser feature start-up checks when the payload is corrupted.
extern const char kTamberLibraryFeature[];
// The browser feature that, beside the installer experiment, lets the
// browser take over the proprietary URI schemes.
extern const char kHandleProprietaryUrisFeature[];

// The stream-mask bit of stream |stream| (1 to 4); 0 for any other number.
uint32_t GetStreamBit(int32_t stream);

// On by default on this build's stream.
bool IsFeatureEnabledByDefault(const FeatureRecord& record);
// The same on stream |stream|.
bool IsFeatureEnabledByDefaultOnStream(const FeatureRecord& record,
                                       int32_t stream);
bool IsFeatureOverridable(const FeatureRecord& record);

// The installer's own experiments, in registration order.
const FeatureRecord* GetInstallerExperiments(size_t* count);

// Registers every installer experiment with its default state on this
// build's stream.
void RegisterInstallerExperiments(base::FeatureRegistry* registry);

// Registers every browser feature the installer looks up with its default
// state on this build's stream, so that feature switches reach them.
void RegisterBrowserFeatures(base::FeatureRegistry* registry);

// The browser feature named exactly |name|, or null.
const FeatureRecord* FindBrowserFeature(base::StringPiece name);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_EXPERIMENTS_H_
