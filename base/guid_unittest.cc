#include "base/guid.h"

#include <set>
#include <string>

#include "gtest/gtest.h"

namespace base {

TEST(GUIDTest, HasVersionFourLayout) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    const std::string guid = GenerateGUID();
    ASSERT_EQ(36u, guid.size());
    for (size_t pos = 0; pos < guid.size(); ++pos) {
      const char c = guid[pos];
      if (pos == 8 || pos == 13 || pos == 18 || pos == 23) {
        EXPECT_EQ('-', c) << guid;
      } else {
        EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << guid;
      }
    }
    EXPECT_EQ('4', guid[14]) << guid;
    EXPECT_NE(std::string::npos, std::string("89ab").find(guid[19])) << guid;
    seen.insert(guid);
  }
  EXPECT_EQ(200u, seen.size());
}

}  // namespace base
