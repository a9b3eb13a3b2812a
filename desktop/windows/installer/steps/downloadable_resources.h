#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_DOWNLOADABLE_RESOURCES_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_DOWNLOADABLE_RESOURCES_H_

#include <stddef.h>

#include <string>

#include "base/files/file_path.h"

namespace installer {

// A resource file that a minimal package may lack and that is fetched on
// its own: its path relative to the package folder ("/" separated) and the
// SHA-1 digest of the file, both in Base64.
struct DownloadableResource {
  const char* path_base64;
  const char* sha1_base64;
};

constexpr size_t kDownloadableResourceCount = 100;

// The resources of this build, in their fixed order.
const DownloadableResource* GetDownloadableResources();

// The decoded relative path of |resource|; empty when it does not decode.
std::string DecodeResourcePath(const DownloadableResource& resource);

// Whether |path| names one of this build's resources, "/" or "\\"
// separated, in any case.
bool IsDownloadableResourcePath(const std::string& path);

// Where |resource| lies in |folder| (with "\\" separators).
base::FilePath GetResourceFilePath(const base::FilePath& folder,
                                   const DownloadableResource& resource);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_DOWNLOADABLE_RESOURCES_H_
