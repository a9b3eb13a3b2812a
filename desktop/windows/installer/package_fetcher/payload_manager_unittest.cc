#include "desktop/windows/installer/package_fetcher/payload_manager.h"

#include <stdint.h>

#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/test/scoped_log_lines.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

const uint16_t kI386 = 0x14C;
const uint16_t kAmd64 = 0x8664;
const uint32_t kPeOffset = 0x80;

std::string Le32(uint32_t value) {
  std::string bytes;
  for (int i = 0; i < 4; ++i)
    bytes.push_back(static_cast<char>(value >> (8 * i)));
  return bytes;
}

void Put(std::string* image, size_t offset, const std::string& bytes) {
  image->replace(offset, bytes.size(), bytes);
}

// The headers of a PE image, 0x200 bytes, whose security directory names
// |certificate_offset| and |certificate_size| (0: unsigned).
std::string Headers(uint16_t machine,
                    uint32_t certificate_offset,
                    uint32_t certificate_size) {
  std::string image(0x200, '\0');
  Put(&image, 0, "MZ");
  Put(&image, 60, Le32(kPeOffset));
  Put(&image, kPeOffset, std::string("PE\0\0", 4));
  Put(&image, kPeOffset + 4, Le32(machine).substr(0, 2));
  const size_t directory = kPeOffset + (machine == kI386 ? 152 : 168);
  Put(&image, directory, Le32(certificate_offset));
  Put(&image, directory + 4, Le32(certificate_size));
  return image;
}

std::string Payload(const std::string& bytes) {
  return "KVR" + bytes + Le32(static_cast<uint32_t>(bytes.size()));
}

const std::string kPackage = std::string("7z\xBC\xAF\x27\x1C", 6) + "rest";
const std::string kTracking = "utm_source=test";
const std::string kCertificate(64, 'C');

// Headers, then |before| and a certificate table, then |after|.
std::string Signed(uint16_t machine,
                   const std::string& before,
                   const std::string& after) {
  return Headers(machine, 0x200 + before.size(), kCertificate.size()) + before +
         kCertificate + after;
}

class PayloadManagerTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.CreateUniqueTempDir()); }

  base::FilePath Write(const std::string& contents) {
    base::FilePath path = temp_.GetPath().Append(L"setup.exe");
    EXPECT_EQ(static_cast<int>(contents.size()),
              base::WriteFile(path, contents.data(), contents.size()));
    return path;
  }

  base::ScopedTempDir temp_;
};

TEST_F(PayloadManagerTest, FindsTheTypeAndBytes) {
  std::string far_pe = Headers(kAmd64, 0, 0);
  Put(&far_pe, 60, Le32(0xFFFFFF00));
  std::string pe_at_end = Headers(kAmd64, 0, 0);
  Put(&pe_at_end, 60, Le32(0x200 - 4));
  Put(&pe_at_end, 0x200 - 4, std::string("PE\0\0", 4));
  // A certificate table at 5: a length read from bytes 1 to 4 and counted
  // back from below the file's start would find this magic.
  std::string wrapped = Headers(kAmd64, 5, 8);
  Put(&wrapped, 2, "\xFE\xFF\xFF");
  Put(&wrapped, 0x1A4, "KVR");
  const std::string unsigned_image = Headers(kAmd64, 0, 0);
  const struct {
    const char* name;
    std::string file;
    uint32_t type;
    std::string payload;
    const char* error;  // The one ERROR line, when not null.
  } kCases[] = {
      {"unsigned package", unsigned_image + Payload(kPackage),
       PAYLOAD_FULL_PACKAGE, kPackage},
      {"package after the certificate table",
       Signed(kAmd64, "", Payload(kPackage)), PAYLOAD_NONE, "",
       "Found full package that is not covered by the signature"},
      {"signed tracking", Signed(kAmd64, Payload(kTracking), ""),
       PAYLOAD_TRACKING_DATA, kTracking},
      {"signed i386 package", Signed(kI386, Payload(kPackage), ""),
       PAYLOAD_FULL_PACKAGE, kPackage},
      {"short tracking", unsigned_image + Payload("7z\xBC"),
       PAYLOAD_TRACKING_DATA, "7z\xBC"},
      {"zero length", unsigned_image + Payload(""), PAYLOAD_TRACKING_DATA, ""},
      {"length beyond the file", unsigned_image + "KVRabc" + Le32(0x10000),
       PAYLOAD_NONE, ""},
      {"negative length", unsigned_image + "KVRabc" + Le32(0xFFFFFFF0),
       PAYLOAD_NONE, ""},
      {"no magic", unsigned_image + "KVXabc" + Le32(3), PAYLOAD_NONE, ""},
      {"not a PE file", std::string(0x300, 'x'), PAYLOAD_CORRUPTED, "",
       "The installer image is not a PE image"},
      {"certificate table past the end", Headers(kAmd64, 0x10000, 8),
       PAYLOAD_CORRUPTED, "",
       "Security directory is located past the image file length"},
      // Each of these made the reader look outside the image.
      {"certificate table at 0", Headers(kAmd64, 0, 8), PAYLOAD_NONE, ""},
      {"certificate table at 5", wrapped, PAYLOAD_NONE, ""},
      {"PE header far past the end", far_pe, PAYLOAD_CORRUPTED, "",
       "The installer image has no PE header"},
      {"machine field past the end", pe_at_end, PAYLOAD_CORRUPTED, "",
       "The installer image has no PE header"},
      {"directory entry past the end", unsigned_image.substr(0, 0xA0),
       PAYLOAD_CORRUPTED, "",
       "The installer image's security directory entry is located past the "
       "image file length"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    base::ScopedLogLines log(base::logging::LOG_ERROR,
                             base::logging::LOG_ERROR);
    PayloadManagerImpl payload(Write(c.file));
    EXPECT_EQ(c.type, payload.GetPayloadType());
    EXPECT_EQ(c.payload, payload.GetPayload());
    EXPECT_EQ(c.error ? std::vector<std::string>{c.error}
                      : std::vector<std::string>(),
              log.lines());
  }
}

// The length counts back from the region's end over the payload and then
// its three-byte magic. One that leaves fewer than three bytes before the
// payload is refused before the magic is compared, which would read before
// the image's first byte; one that leaves exactly three finds the image's
// own first bytes there.
TEST_F(PayloadManagerTest, LengthThatLeavesNoRoomForTheMagic) {
  const std::string before = "abc";
  // The payload would take everything before the length.
  const uint32_t whole = 0x200 + static_cast<uint32_t>(before.size());
  for (uint32_t over = 0; over <= 3; ++over) {
    const std::string tail = before + Le32(whole - 3 + over);
    for (const std::string& file :
         {Headers(kAmd64, 0, 0) + tail, Signed(kAmd64, tail, "")}) {
      SCOPED_TRACE(testing::Message() << over << " over, " << file.size());
      base::ScopedLogLines log(-1, -1);
      PayloadManagerImpl payload(Write(file));
      EXPECT_EQ(PAYLOAD_NONE, payload.GetPayloadType());
      ASSERT_FALSE(log.lines().empty());
      EXPECT_EQ(over == 0 ? "Payload data invalid"
                          : "Could not find a valid starting position",
                log.lines().back());
    }
  }
}

TEST_F(PayloadManagerTest, WritesExactlyThePayload) {
  const base::FilePath out = temp_.GetPath().Append(L"out.bin");
  const struct {
    const char* name;
    std::string file;
    const char* external;  // Given through SetPayload when not null.
    bool written;
    std::string contents;
  } kCases[] = {
      {"package", Signed(kAmd64, Payload(kPackage), ""), nullptr, true,
       kPackage},
      {"tracking", Headers(kAmd64, 0, 0) + Payload(kTracking), nullptr, true,
       kTracking},
      {"zero length", Headers(kAmd64, 0, 0) + Payload(""), nullptr, true, ""},
      {"external", Headers(kAmd64, 0, 0), "utm_medium=x", true, "utm_medium=x"},
      {"none", Headers(kAmd64, 0, 0), nullptr, false, "untouched"},
      {"empty image", "", nullptr, false, "untouched"},
      {"corrupted", std::string(0x100, 'x'), nullptr, false, "untouched"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(9, base::WriteFile(out, "untouched", 9));
    PayloadManagerImpl payload(Write(c.file));
    if (c.external) {
      payload.SetPayload(c.external);
      EXPECT_EQ(PAYLOAD_EXTERNAL_TRACKING_DATA, payload.GetPayloadType());
    }
    EXPECT_EQ(c.written, payload.WritePayloadToFile(out));
    std::string contents;
    ASSERT_TRUE(base::ReadFileToString(out, &contents));
    EXPECT_EQ(c.contents, contents);
  }
}

}  // namespace
}  // namespace installer
