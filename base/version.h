#ifndef BASE_VERSION_H_
#define BASE_VERSION_H_

#include <stdint.h>

#include <string>
#include <vector>

namespace base {

// A dotted version number such as "1.2.3"; invalid when it has no
// components.
class Version {
 public:
  Version();
  explicit Version(const std::string& version_str);
  explicit Version(std::vector<uint32_t> components);
  Version(const Version& other);
  Version& operator=(const Version& other);
  ~Version();

  bool IsValid() const { return !components_.empty(); }

  // -1, 0 or 1. Trailing zero components do not count: "1.0" equals "1".
  // Both versions must be valid.
  int CompareTo(const Version& other) const;

  // The components in decimal joined by "."; "invalid" for an invalid
  // version.
  std::string GetString() const;

  const std::vector<uint32_t>& components() const { return components_; }

 private:
  std::vector<uint32_t> components_;
};

bool operator==(const Version& v1, const Version& v2);
bool operator!=(const Version& v1, const Version& v2);
bool operator<(const Version& v1, const Version& v2);
bool operator>(const Version& v1, const Version& v2);

}  // namespace base

#endif  // BASE_VERSION_H_
