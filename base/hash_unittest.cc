#include "base/hash.h"

#include <stdint.h>

#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(HashTest, KnownValues) {
  EXPECT_EQ(0xd2be198au, SuperFastHash("abc", 3));
  // Every length remainder (0 to 3) and several whole groups.
  EXPECT_EQ(0xdad8b8dbu, SuperFastHash("abcd", 4));
  EXPECT_EQ(0xb09dc87bu, SuperFastHash("hello", 5));
  EXPECT_EQ(0x4c1ce68du, SuperFastHash("hello!", 6));
  EXPECT_EQ(0x5332ec6eu, Hash(std::string("0123456789abcdef01")));
}

TEST(HashTest, HighBytesAreSignExtended) {
  // 0xff adds -1 to the starting value 1, leaving 0 to mix.
  EXPECT_EQ(0u, SuperFastHash("\xff", 1));
  EXPECT_EQ(0x48ccfc29u, SuperFastHash("\x80\x81\xfe", 3));
}

TEST(HashTest, EmptyAndOversizedInputs) {
  EXPECT_EQ(0u, SuperFastHash(nullptr, 3));
  EXPECT_EQ(0u, SuperFastHash("abc", 0));
  EXPECT_EQ(0u, SuperFastHash("abc", -1));
  EXPECT_EQ(0u, Hash("abc", 0));
  // Must not read the data: a pointer to 4 bytes with a 2 GiB length.
  EXPECT_EQ(0u, Hash("abc", static_cast<size_t>(2147483648u)));
  EXPECT_EQ(Hash("abc", 3), SuperFastHash("abc", 3));
}

}  // namespace
}  // namespace base
