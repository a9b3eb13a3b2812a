#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_METADATA_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_METADATA_H_

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/values.h"

namespace installer {

// What a component of the package is for; the numbers are stored in the
// records below.
enum AdditionalFileKind : uint32_t {
  ADDITIONAL_FILE_ASSISTANT = 0,
  ADDITIONAL_FILE_DOWNLOADABLE_RESOURCE = 1,
  ADDITIONAL_FILE_PARTNER_CONTENT = 2,
};

// "assistant", "downloadable_resource", "partner_content"; the names appear
// in logs and in the names of files unpacked from a component.
const char* AdditionalFileKindName(uint32_t kind);

// One component of the package named by the update service.
struct AdditionalFile {
  // The URL to fetch, or a "file:///" URL of a local test resource.
  std::wstring location;
  // Relative to the folder it goes into; empty for an assistant component.
  std::wstring file_name;
  // 1: used as it is; 0: a self-extracting archive that is run to unpack.
  uint32_t plain_file = 1;
  // Lower-case hexadecimal SHA-256.
  std::string checksum;
  // One of AdditionalFileKind.
  uint32_t kind = ADDITIONAL_FILE_ASSISTANT;
  // 1: fetched over HTTP; 0: copied from a local file (test mode).
  uint32_t remote = 1;
  // Download attempts made so far.
  uint32_t attempts = 0;
  // Where the last attempt put the file.
  base::FilePath downloaded_file;
};

// The update service's answer to the metadata request.
struct PackageMetadata {
  PackageMetadata();
  ~PackageMetadata();

  std::wstring package_url;
  // Lower-case hexadecimal SHA-256 of the package, as the service sent it.
  std::string package_checksum;
  // Every requested additional file is among the components, so the
  // minimal package may be used.
  bool minimal = false;
  // The whole reply.
  std::unique_ptr<base::DictionaryValue> reply;
  std::vector<std::unique_ptr<AdditionalFile>> components;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_METADATA_H_
