#include "base/base64.h"

#include <string.h>
#include <windows.h>

#include <string>

#include "gtest/gtest.h"

namespace base {

TEST(Base64Test, EncodesWithPaddingAndDecodesBack) {
  const struct {
    StringPiece plain;
    const char* encoded;
  } kCases[] = {
      {"abc", "YWJj"},
      {"ab", "YWI="},
      {"a", "YQ=="},
      {"", ""},
      {StringPiece("\xff\xfe\x00\x3e\x3f", 5), "//4APj8="},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.encoded);
    std::string out = "old contents";
    Base64Encode(c.plain, &out);
    EXPECT_EQ(c.encoded, out);
    out = "x";
    EXPECT_TRUE(Base64Decode(c.encoded, &out));
    EXPECT_EQ(c.plain, out);
  }
  // The unused low bits of the last character are ignored.
  std::string out;
  EXPECT_TRUE(Base64Decode("YR==", &out));
  EXPECT_EQ("a", out);
}

TEST(Base64Test, RejectsMalformedTextAndKeepsOutput) {
  const char* const kBad[] = {"YWI",  "YW J",   "YQ=A",  "Y===", "=QQQ",
                              "YW-_", "YWJj\n", "YW\nJ", "Y",    "YWJjY"};
  for (const char* bad : kBad) {
    std::string out = "untouched";
    EXPECT_FALSE(Base64Decode(bad, &out)) << bad;
    EXPECT_EQ("untouched", out) << bad;
  }
}

// Text whose decoded size the heap cannot give (it refuses blocks near
// 2 GiB) fails instead of ending the process. Only the first and last pages
// of the text are committed; the decoder must refuse before it reads on.
TEST(Base64Test, TextTooLargeForTheHeapFails) {
  const size_t kPage = 4096;
  const size_t kSize = size_t{3} << 30;  // Decodes to 2.25 GiB.
  char* text = static_cast<char*>(
      ::VirtualAlloc(nullptr, kSize, MEM_RESERVE, PAGE_NOACCESS));
  ASSERT_TRUE(text);
  ASSERT_TRUE(::VirtualAlloc(text, kPage, MEM_COMMIT, PAGE_READWRITE));
  ASSERT_TRUE(
      ::VirtualAlloc(text + kSize - kPage, kPage, MEM_COMMIT, PAGE_READWRITE));
  memset(text, 'A', kPage);
  memset(text + kSize - kPage, 'A', kPage);
  std::string output = "keep";
  EXPECT_FALSE(Base64Decode(StringPiece(text, kSize), &output));
  EXPECT_EQ("keep", output);
  ::VirtualFree(text, 0, MEM_RELEASE);
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
