#include "desktop/windows/installer/package_fetcher/signature_check.h"

#include <windows.h>

#include <string>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/path_service.h"
#include "base/strings/string_util.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

const LONG kNtOffset = 0x80;

// The headers of a PE image whose optional header has the form |magic|,
// lists |directories| data directories and has a security directory of
// |security_size| bytes. Every other directory has a size, so that a
// reader that takes the wrong header form finds a wrong entry.
std::string MakeImage(WORD magic, DWORD directories, DWORD security_size) {
  std::string bytes(0x200, '\0');
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(&bytes[0]);
  dos->e_magic = IMAGE_DOS_SIGNATURE;
  dos->e_lfanew = kNtOffset;
  char* nt = &bytes[kNtOffset];
  *reinterpret_cast<DWORD*>(nt) = IMAGE_NT_SIGNATURE;
  char* optional = nt + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER);
  IMAGE_DATA_DIRECTORY* entries = nullptr;
  if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
    auto* header = reinterpret_cast<IMAGE_OPTIONAL_HEADER32*>(optional);
    header->Magic = magic;
    header->NumberOfRvaAndSizes = directories;
    entries = header->DataDirectory;
  } else {
    auto* header = reinterpret_cast<IMAGE_OPTIONAL_HEADER64*>(optional);
    header->Magic = magic;
    header->NumberOfRvaAndSizes = directories;
    entries = header->DataDirectory;
  }
  for (int i = 0; i < IMAGE_NUMBEROF_DIRECTORY_ENTRIES; ++i)
    entries[i] = {0x1000, 0x99};
  entries[IMAGE_DIRECTORY_ENTRY_SECURITY] = {0x180, security_size};
  return bytes;
}

std::string WithNtOffset(std::string bytes, LONG offset) {
  reinterpret_cast<IMAGE_DOS_HEADER*>(&bytes[0])->e_lfanew = offset;
  return bytes;
}

class SignatureCheckTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.CreateUniqueTempDir()); }

  base::FilePath Write(const std::string& contents) {
    const base::FilePath path =
        dir_.GetPath().AppendASCII("file" + std::to_string(++files_));
    const int size = static_cast<int>(contents.size());
    EXPECT_EQ(size, base::WriteFile(path, contents.data(), size));
    return path;
  }

  base::ScopedTempDir dir_;
  int files_ = 0;
};

// A readable image tells whether it carries a signature; anything that is
// no complete PE header, however it is broken, leaves the state unknown.
TEST_F(SignatureCheckTest, SecurityDirectoryOfImages) {
  const WORD k32 = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
  const WORD k64 = IMAGE_NT_OPTIONAL_HDR64_MAGIC;
  const std::string signed64 = MakeImage(k64, 16, 0x1234);
  const struct {
    const char* label;
    std::string contents;
    bool readable, is_signed;
  } kCases[] = {
      {"64-bit unsigned", MakeImage(k64, 16, 0), true, false},
      {"64-bit signed", signed64, true, true},
      {"32-bit unsigned", MakeImage(k32, 16, 0), true, false},
      {"32-bit signed", MakeImage(k32, 16, 0x1234), true, true},
      {"directory list ends before it", MakeImage(k64, 4, 0x1234), true, false},
      {"unknown optional header", MakeImage(0x777, 16, 0x1234), false, false},
      {"cut inside the optional header", signed64.substr(0, kNtOffset + 0x40),
       false, false},
      {"NT headers past the end", WithNtOffset(signed64, 0x7FFFFF00), false,
       false},
      {"negative NT offset", WithNtOffset(signed64, -8), false, false},
      {"NT offset at the end", WithNtOffset(signed64, 0x1FE), false, false},
      {"text", "MZ but no image", false, false},
      {"empty", "", false, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    bool is_signed = !c.is_signed;
    EXPECT_EQ(c.readable, HasSecurityDirectory(Write(c.contents), &is_signed));
    if (c.readable) {
      EXPECT_EQ(c.is_signed, is_signed);
    }
  }
  bool is_signed = true;
  EXPECT_FALSE(
      HasSecurityDirectory(dir_.GetPath().Append(L"missing"), &is_signed));
  base::FilePath exe;
  ASSERT_TRUE(base::PathService::Get(base::FILE_EXE, &exe));
  ASSERT_TRUE(HasSecurityDirectory(exe, &is_signed));
  EXPECT_FALSE(is_signed) << "test programs are not signed";
}

// Neither an unsigned program nor a forged security directory passes, and
// the log says which file failed.
TEST_F(SignatureCheckTest, UnsignedAndForgedImagesFailVerification) {
  base::FilePath exe;
  ASSERT_TRUE(base::PathService::Get(base::FILE_EXE, &exe));
  const base::FilePath forged =
      Write(MakeImage(IMAGE_NT_OPTIONAL_HDR64_MAGIC, 16, 0x40));
  for (const base::FilePath& path : {exe, forged}) {
    SCOPED_TRACE(path.value());
    std::string log;
    EXPECT_FALSE(VerifyFileSignature(path, &log));
    const std::string prefix = "Signature of " + path.AsUTF8Unsafe() + ": ";
    EXPECT_TRUE(base::StartsWith(log, prefix, base::CompareCase::SENSITIVE))
        << log;
    EXPECT_EQ(std::string::npos, log.find(prefix + "valid")) << log;
  }
}

}  // namespace
}  // namespace installer
