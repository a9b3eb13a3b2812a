#include "base/version.h"

#include <algorithm>
#include <utility>

#include "base/check.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_piece.h"
#include "base/strings/string_split.h"

namespace base {

namespace {

bool ParseVersionNumbers(const std::string& version_str,
                         std::vector<uint32_t>* parsed) {
  std::vector<StringPiece> pieces =
      SplitStringPiece(version_str, ".", KEEP_WHITESPACE, SPLIT_WANT_ALL);
  if (pieces.empty())
    return false;
  std::vector<uint32_t> numbers;
  numbers.reserve(pieces.size());
  for (size_t i = 0; i < pieces.size(); ++i) {
    const StringPiece piece = pieces[i];
    if (!piece.empty() && piece[0] == '+')
      return false;
    unsigned int value = 0;
    if (!StringToUint(piece, &value))
      return false;
    // Only the leading component must be in canonical form.
    if (i == 0 && UintToString(value) != piece.as_string())
      return false;
    numbers.push_back(value);
  }
  parsed->swap(numbers);
  return true;
}

}  // namespace

Version::Version() = default;

Version::Version(const std::string& version_str) {
  std::vector<uint32_t> parsed;
  if (ParseVersionNumbers(version_str, &parsed))
    components_.swap(parsed);
}

Version::Version(std::vector<uint32_t> components)
    : components_(std::move(components)) {}

Version::Version(const Version& other) = default;
Version& Version::operator=(const Version& other) = default;
Version::~Version() = default;

int Version::CompareTo(const Version& other) const {
  DCHECK(IsValid());
  DCHECK(other.IsValid());
  const size_t count = std::min(components_.size(), other.components_.size());
  for (size_t i = 0; i < count; ++i) {
    if (components_[i] > other.components_[i])
      return 1;
    if (components_[i] < other.components_[i])
      return -1;
  }
  for (size_t i = count; i < components_.size(); ++i) {
    if (components_[i] != 0)
      return 1;
  }
  for (size_t i = count; i < other.components_.size(); ++i) {
    if (other.components_[i] != 0)
      return -1;
  }
  return 0;
}

std::string Version::GetString() const {
  if (!IsValid())
    return "invalid";
  std::string result;
  for (size_t i = 0; i < components_.size(); ++i) {
    if (i)
      result.push_back('.');
    result += UintToString(components_[i]);
  }
  return result;
}

bool operator==(const Version& v1, const Version& v2) {
  return v1.CompareTo(v2) == 0;
}
bool operator!=(const Version& v1, const Version& v2) {
  return !(v1 == v2);
}
bool operator<(const Version& v1, const Version& v2) {
  return v1.CompareTo(v2) < 0;
}
bool operator>(const Version& v1, const Version& v2) {
  return v1.CompareTo(v2) > 0;
}

}  // namespace base
