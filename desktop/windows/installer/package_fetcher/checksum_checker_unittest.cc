#include "desktop/windows/installer/package_fetcher/checksum_checker.h"

#include <windows.h>

#include <string>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

const char kAbcSha256[] =
    "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const char kEmptySha256[] =
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

std::string Bytes(int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i)
    bytes.push_back(static_cast<char>(i));
  return bytes;
}

std::string Hex(const std::string& bytes) {
  return base::HexEncode(bytes.data(), bytes.size());
}

TEST(ChecksumCheckerTest, ComparesAndExplains) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const std::string long_file = Bytes(120);
  const struct {
    const char* name;
    std::string contents;
    std::string expected;
    bool matches;
    std::string actual;
    // For a mismatch.
    std::string start;
    std::string end;
  } kCases[] = {
      {"match", "abc", kAbcSha256, true, kAbcSha256},
      {"upper case", "abc", base::ToUpperASCII(kAbcSha256), false, kAbcSha256,
       Hex("abc"), Hex("abc")},
      {"empty file", "", kEmptySha256, true, kEmptySha256},
      {"long file", long_file, kAbcSha256, false,
       "f52b23db1fbb6ded89ef42a23ce0c8922c45f25c50b568a93bf1c075420bbb7c",
       Hex(long_file.substr(0, 50)), Hex(long_file.substr(70))},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const base::FilePath path = temp.GetPath().Append(L"package.7z");
    ASSERT_EQ(static_cast<int>(c.contents.size()),
              base::WriteFile(path, c.contents.data(), c.contents.size()));
    std::unique_ptr<base::DictionaryValue> details;
    std::string actual;
    int64_t length = -1;
    EXPECT_EQ(c.matches,
              CheckFileChecksum(path, c.expected, &details, &actual, &length));
    EXPECT_EQ(c.actual, actual);
    EXPECT_EQ(static_cast<int64_t>(c.contents.size()), length);
    if (c.matches) {
      EXPECT_FALSE(details);
      continue;
    }
    base::DictionaryValue want;
    want.SetString("detail", "Checksum mismatch");
    want.SetString("expected_checksum", c.expected);
    want.SetString("actual_checksum", actual);
    want.SetInteger("file_length", static_cast<int>(c.contents.size()));
    want.SetString("file_start", c.start);
    want.SetString("file_end", c.end);
    ASSERT_TRUE(details);
    EXPECT_EQ(want, *details);
  }
}

TEST(ChecksumCheckerTest, UnreadableFileFails) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const base::FilePath locked = temp.GetPath().Append(L"locked.7z");
  ASSERT_EQ(3, base::WriteFile(locked, "abc", 3));
  // Held open with no sharing, as a virus scanner may hold a new download.
  base::win::ScopedHandle holder(::CreateFileW(locked.value().c_str(),
                                               GENERIC_READ, 0, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder.IsValid());
  for (const base::FilePath& path :
       {locked, temp.GetPath().Append(L"missing.7z")}) {
    SCOPED_TRACE(path.AsUTF8Unsafe());
    std::unique_ptr<base::DictionaryValue> details;
    std::string actual = "stale";
    int64_t length = 7;
    EXPECT_FALSE(
        CheckFileChecksum(path, kAbcSha256, &details, &actual, &length));
    EXPECT_EQ("", actual);
    EXPECT_EQ(0, length);
    base::DictionaryValue want;
    want.SetString("detail", "Unable to read the file");
    ASSERT_TRUE(details);
    EXPECT_EQ(want, *details);
  }
}

}  // namespace
}  // namespace installer
