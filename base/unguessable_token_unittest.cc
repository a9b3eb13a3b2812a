#include "base/unguessable_token.h"

#include <set>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(UnguessableTokenTest, ToStringPrintsBothHalvesAtFullWidth) {
  EXPECT_EQ("00000000000000000000000000000000", UnguessableToken().ToString());
  EXPECT_EQ("0000000000000001000000000000ABCD",
            UnguessableToken::Deserialize(1, 0xabcd).ToString());
  EXPECT_EQ(
      "FFFFFFFFFFFFFFFF0123456789ABCDEF",
      UnguessableToken::Deserialize(~0ull, 0x0123456789abcdefull).ToString());
  // Distinct tokens never share a text, however their halves split.
  EXPECT_NE(
      UnguessableToken::Deserialize(0x123456789ull, 0x1).ToString(),
      UnguessableToken::Deserialize(0x12345678ull, 0x900000001ull).ToString());
}

TEST(UnguessableTokenTest, CreateGivesDistinctNonEmptyTokens) {
  std::set<std::string> texts;
  for (int i = 0; i < 100; ++i) {
    const UnguessableToken token = UnguessableToken::Create();
    EXPECT_FALSE(token.is_empty());
    EXPECT_EQ(token,
              UnguessableToken::Deserialize(token.GetHighForSerialization(),
                                            token.GetLowForSerialization()));
    texts.insert(token.ToString());
  }
  EXPECT_EQ(100u, texts.size());
}

}  // namespace
}  // namespace base
