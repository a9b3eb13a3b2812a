#include "desktop/windows/installer/package_fetcher/checksum_checker.h"

#include <algorithm>
#include <limits>

#include "base/files/file.h"
#include "base/files/memory_mapped_file.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_piece.h"
#include "base/strings/string_util.h"
#include "crypto/sha2.h"

namespace installer {

namespace {

// Bytes shown from each end of a file that does not match.
const size_t kShownBytes = 50;

}  // namespace

bool CheckFileChecksum(const base::FilePath& path,
                       const std::string& expected,
                       std::unique_ptr<base::DictionaryValue>* details,
                       std::string* actual,
                       int64_t* length) {
  actual->clear();
  *length = 0;
  // Mapped, the file is hashed without its size in memory.
  base::MemoryMappedFile file;
  const uint8_t* data = nullptr;
  size_t size = 0;
  if (file.Initialize(path)) {
    data = file.data();
    size = file.length();
  } else {
    // An empty file can't be mapped, yet has a digest of its own.
    base::File empty(path, base::File::FLAG_OPEN | base::File::FLAG_READ);
    if (!empty.IsValid() || empty.GetLength() != 0) {
      if (details) {
        *details = std::make_unique<base::DictionaryValue>();
        (*details)->SetString("detail", "Unable to read the file");
      }
      LOG(ERROR) << "Unable to read " << path;
      return false;
    }
  }
  *actual = Sha256Hex(data, size);
  *length = static_cast<int64_t>(size);
  if (*actual == expected)
    return true;
  if (details) {
    auto dictionary = std::make_unique<base::DictionaryValue>();
    dictionary->SetString("detail", "Checksum mismatch");
    dictionary->SetString("expected_checksum", expected);
    dictionary->SetString("actual_checksum", *actual);
    // Integers of the dictionary are 32-bit; a larger size stays exact as a
    // double.
    if (size <= static_cast<size_t>(std::numeric_limits<int>::max()))
      dictionary->SetInteger("file_length", static_cast<int>(size));
    else
      dictionary->SetDouble("file_length", static_cast<double>(size));
    const size_t shown = std::min(kShownBytes, size);
    dictionary->SetString("file_start", base::HexEncode(data, shown));
    dictionary->SetString("file_end",
                          base::HexEncode(data + size - shown, shown));
    *details = std::move(dictionary);
  }
  return false;
}

std::string Sha256Hex(const uint8_t* bytes, size_t size) {
  const std::string digest = crypto::SHA256HashString(
      base::StringPiece(reinterpret_cast<const char*>(bytes), size));
  return base::ToLowerASCII(base::HexEncode(digest.data(), digest.size()));
}

}  // namespace installer
