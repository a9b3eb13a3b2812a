#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_SPACED_HEX_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_SPACED_HEX_H_

#include <string>

#include "base/strings/string_number_conversions.h"

namespace installer {
namespace test {

// "\x06abc" -> "06 61 62 63": encoded bytes as they are written in the
// tests' tables, so that a mismatch shows where it starts.
inline std::string SpacedHex(const std::string& bytes) {
  std::string spaced;
  for (unsigned char byte : bytes) {
    if (!spaced.empty())
      spaced += ' ';
    spaced += base::HexEncode(&byte, 1);
  }
  return spaced;
}

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_SPACED_HEX_H_
