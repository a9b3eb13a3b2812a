#include "base/md5.h"

#include <string.h>

#include <algorithm>

#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

std::string MD5Hex(const std::string& input) {
  MD5Digest digest;
  MD5Sum(input.data(), input.size(), &digest);
  return MD5DigestToBase16(digest);
}

TEST(MD5Test, Rfc1321Vectors) {
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", MD5Hex(""));
  EXPECT_EQ("0cc175b9c0f1b6a831c399e269772661", MD5Hex("a"));
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", MD5Hex("abc"));
  EXPECT_EQ("f96b697d7cb7938d525a2f31aaf161d0", MD5Hex("message digest"));
  EXPECT_EQ("c3fcd3d76192e4007dfb496cca67e13b",
            MD5Hex("abcdefghijklmnopqrstuvwxyz"));
  EXPECT_EQ("d174ab98d277d9f5a5611c2c9f419d9f",
            MD5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                   "0123456789"));
  EXPECT_EQ("57edf4a22be3c955ac49da2e2107b67a",
            MD5Hex("1234567890123456789012345678901234567890"
                   "1234567890123456789012345678901234567890"));
}

// 55 bytes pad within one block; 56 to 63 need a second block for the
// length; 64 fill a block exactly.
TEST(MD5Test, PaddingBoundaries) {
  EXPECT_EQ("ef1772b6dff9a122358552954ad0df65", MD5Hex(std::string(55, 'a')));
  EXPECT_EQ("3b0c8ac703f828b04c6c197006d17218", MD5Hex(std::string(56, 'a')));
  EXPECT_EQ("b06521f39153d618550606be297466d5", MD5Hex(std::string(63, 'a')));
  EXPECT_EQ("014842d480b571495a4a0363793f7367", MD5Hex(std::string(64, 'a')));
  EXPECT_EQ("c743a45e0d2e6a95cb859adae0248435", MD5Hex(std::string(65, 'a')));
}

TEST(MD5Test, ChunkedUpdatesMatchOneShot) {
  const std::string input(1000, 'x');
  MD5Digest whole;
  MD5Sum(input.data(), input.size(), &whole);

  // Uneven chunks cross the block boundary at every offset.
  MD5Context context;
  MD5Init(&context);
  size_t offset = 0;
  for (size_t chunk = 1; offset < input.size(); ++chunk) {
    size_t length = std::min(chunk, input.size() - offset);
    MD5Update(&context, input.data() + offset, length);
    offset += length;
  }
  MD5Digest chunked;
  MD5Final(&chunked, &context);
  EXPECT_EQ(0, memcmp(whole.a, chunked.a, sizeof(whole.a)));
}

TEST(MD5Test, FinalClearsTheContext) {
  MD5Context context;
  MD5Init(&context);
  MD5Update(&context, "secret", 6);
  MD5Digest digest;
  MD5Final(&digest, &context);

  MD5Context zero;
  memset(&zero, 0, sizeof(zero));
  EXPECT_EQ(0, memcmp(&zero, &context, sizeof(context)));
}

}  // namespace
}  // namespace base
