#include "base/base64.h"

#include <string>

#include "gtest/gtest.h"

namespace base {

TEST(Base64Test, EncodesWithPadding) {
  std::string out = "old contents";
  Base64Encode("abc", &out);
  EXPECT_EQ("YWJj", out);
  Base64Encode("ab", &out);
  EXPECT_EQ("YWI=", out);
  Base64Encode("a", &out);
  EXPECT_EQ("YQ==", out);
  Base64Encode("", &out);
  EXPECT_EQ("", out);
  Base64Encode(StringPiece("\xff\xfe\x00\x3e\x3f", 5), &out);
  EXPECT_EQ("//4APj8=", out);
}

TEST(Base64Test, DecodesValidText) {
  std::string out = "x";
  EXPECT_TRUE(Base64Decode("YWJj", &out));
  EXPECT_EQ("abc", out);
  EXPECT_TRUE(Base64Decode("YWI=", &out));
  EXPECT_EQ("ab", out);
  EXPECT_TRUE(Base64Decode("//4APj8=", &out));
  EXPECT_EQ(std::string("\xff\xfe\x00\x3e\x3f", 5), out);
  // The unused low bits of the last character are ignored.
  EXPECT_TRUE(Base64Decode("YR==", &out));
  EXPECT_EQ("a", out);
  EXPECT_TRUE(Base64Decode("", &out));
  EXPECT_EQ("", out);
}

TEST(Base64Test, RejectsMalformedTextAndKeepsOutput) {
  const char* const kBad[] = {"YWI",  "YW J", "YQ=A", "Y===", "=QQQ",
                              "YW-_", "YWJj\n", "YW\nJ", "Y", "YWJjY"};
  for (const char* bad : kBad) {
    std::string out = "untouched";
    EXPECT_FALSE(Base64Decode(bad, &out)) << bad;
    EXPECT_EQ("untouched", out) << bad;
  }
}

TEST(Base64Test, RoundTripsEveryByteValue) {
  std::string all;
  for (int i = 0; i < 256; ++i)
    all.push_back(static_cast<char>(i));
  for (size_t len = 0; len < all.size(); len += 37) {
    std::string encoded;
    Base64Encode(StringPiece(all.data(), len), &encoded);
    EXPECT_EQ((len + 2) / 3 * 4, encoded.size());
    std::string decoded;
    ASSERT_TRUE(Base64Decode(encoded, &decoded));
    EXPECT_EQ(all.substr(0, len), decoded);
  }
}

}  // namespace base
