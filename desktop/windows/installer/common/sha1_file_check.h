#ifndef DESKTOP_WINDOWS_INSTALLER_COMMON_SHA1_FILE_CHECK_H_
#define DESKTOP_WINDOWS_INSTALLER_COMMON_SHA1_FILE_CHECK_H_

#include <stdint.h>

#include <string>

#include "base/files/file_path.h"
#include "base/sha1.h"

namespace installer {

// Writes the SHA-1 digest of the file at |path| to |digest|. The system's
// cryptography library does the hashing while it works; after its first
// failure the built-in SHA-1 does, for the rest of the process. Both read
// the file in 64 KiB pieces, so a large file is never held in memory.
bool ComputeFileSha1(const base::FilePath& path,
                     uint8_t digest[base::kSHA1Length]);

// True when the Base64 form of the file's SHA-1 digest is |expected_base64|
// (letter case matters). Otherwise |error| gets why; it is left alone on
// success.
bool VerifyFileSha1(const base::FilePath& path,
                    const std::string& expected_base64,
                    std::string* error);

namespace internal {

// Whether the system library is still tried; tests turn it off to take the
// built-in road and back on afterwards.
bool IsSystemSha1Usable();
void SetSystemSha1UsableForTesting(bool usable);

}  // namespace internal

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_COMMON_SHA1_FILE_CHECK_H_
