#include "desktop/windows/installer/common/sha1_file_check.h"

#include <string.h>

#include <string>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

class Sha1FileCheckTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.CreateUniqueTempDir()); }
  // Later tests and the rest of the process get the system road back.
  void TearDown() override { internal::SetSystemSha1UsableForTesting(true); }

  base::FilePath Write(const std::string& content) {
    const base::FilePath path = dir_.GetPath().Append(L"file.bin");
    EXPECT_EQ(static_cast<int>(content.size()),
              base::WriteFile(path, content.data(), content.size()));
    return path;
  }

  base::ScopedTempDir dir_;
};

// Three full chunks and a partial one, on either road.
TEST_F(Sha1FileCheckTest, BothRoadsGiveTheDigestOfTheWholeFile) {
  std::string content(3 * 65536 + 1000, '\0');
  for (size_t i = 0; i < content.size(); ++i)
    content[i] = static_cast<char>(i * 7 + i / 65536);
  const base::FilePath path = Write(content);
  uint8_t expected[base::kSHA1Length];
  base::SHA1HashBytes(reinterpret_cast<const unsigned char*>(content.data()),
                      content.size(), expected);

  uint8_t system[base::kSHA1Length] = {};
  ASSERT_TRUE(ComputeFileSha1(path, system));
  ASSERT_TRUE(internal::IsSystemSha1Usable())
      << "the system library failed, so its road was not taken";
  EXPECT_EQ(0, memcmp(expected, system, base::kSHA1Length));

  internal::SetSystemSha1UsableForTesting(false);
  uint8_t built_in[base::kSHA1Length] = {};
  ASSERT_TRUE(ComputeFileSha1(path, built_in));
  EXPECT_EQ(0, memcmp(expected, built_in, base::kSHA1Length));
}

TEST_F(Sha1FileCheckTest, Verify) {
  struct {
    const char* content;  // null: no file
    std::string expected;
    const char* error;  // after the path; null: success
  } const kCases[] = {
      {"", "2jmj7l5rSw0yVb/vlWAYkK/YBwk=", nullptr},
      // Differs from the digest of "abc" in letter case only.
      {"abc", "QZK+NKCGGWQ6PIVXEFDCBJZQ2J0=",
       " hash doesn't match: QZK+NKCGGWQ6PIVXEFDCBJZQ2J0= vs. "
       "qZk+NkcGgWq6PiVxeFDCbJzQ2J0="},
      {nullptr, "qZk+NkcGgWq6PiVxeFDCbJzQ2J0=", ""},
  };
  for (bool system : {true, false}) {
    internal::SetSystemSha1UsableForTesting(system);
    for (const auto& c : kCases) {
      SCOPED_TRACE(testing::Message() << system << " " << c.expected << " "
                                      << (c.content ? c.content : "(none)"));
      base::FilePath path = dir_.GetPath().Append(L"missing.bin");
      if (c.content)
        path = Write(c.content);
      std::string error = "untouched";
      EXPECT_EQ(!c.error, VerifyFileSha1(path, c.expected, &error));
      if (!c.error)
        EXPECT_EQ("untouched", error);
      else if (c.content)
        EXPECT_EQ(path.AsUTF8Unsafe() + c.error, error);
      else
        EXPECT_EQ("Failed to read " + path.AsUTF8Unsafe(), error);
    }
  }
}

}  // namespace
}  // namespace installer
