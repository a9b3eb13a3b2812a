#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_CHECKSUM_CHECKER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_CHECKSUM_CHECKER_H_

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/values.h"

namespace installer {

// Whether the SHA-256 of the file at |path| is |expected|, written as
// Sha256Hex writes it (so an upper-case |expected| never matches). |actual|
// and |length| receive the file's digest and size. When the file can't be
// read or does not match and |details| is not null, it receives a
// dictionary that explains why ("detail", and for a mismatch both
// checksums, "file_length" and the first and last bytes of the file in
// hexadecimal).
bool CheckFileChecksum(const base::FilePath& path,
                       const std::string& expected,
                       std::unique_ptr<base::DictionaryValue>* details,
                       std::string* actual,
                       int64_t* length);

// The SHA-256 digest of |size| bytes at |bytes| as 64 lower-case
// hexadecimal characters.
std::string Sha256Hex(const uint8_t* bytes, size_t size);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_CHECKSUM_CHECKER_H_
