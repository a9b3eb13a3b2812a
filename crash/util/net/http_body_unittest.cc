#include "crash/util/net/http_body.h"

#include <memory>
#include <string>
#include <utility>

#include "crash/test/http_body_test_util.h"
#include "crash/util/net/http_body_gzip.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

using test::FailingHTTPBodyStream;
using test::ReadWholeStream;
using test::StringFileReader;

TEST(HTTPBodyStreamTest, StringStreamHandsOutPiecesThenEndsForGood) {
  StringHTTPBodyStream stream("abcdef");
  uint8_t buffer[4];
  ASSERT_EQ(4, stream.GetBytesBuffer(buffer, sizeof(buffer)));
  EXPECT_EQ("abcd", std::string(reinterpret_cast<char*>(buffer), 4));
  ASSERT_EQ(2, stream.GetBytesBuffer(buffer, sizeof(buffer)));
  EXPECT_EQ("ef", std::string(reinterpret_cast<char*>(buffer), 2));
  EXPECT_EQ(0, stream.GetBytesBuffer(buffer, sizeof(buffer)));
  EXPECT_EQ(0, stream.GetBytesBuffer(buffer, sizeof(buffer)));

  StringHTTPBodyStream empty("");
  EXPECT_EQ(0, empty.GetBytesBuffer(buffer, sizeof(buffer)));
}

TEST(HTTPBodyStreamTest, FileReaderStreamStopsReadingAtTheEnd) {
  StringFileReader reader("0123456789");
  FileReaderHTTPBodyStream stream(&reader);
  int64_t result = 1;
  EXPECT_EQ("0123456789", ReadWholeStream(&stream, 3, &result));
  EXPECT_EQ(0, result);
  const int reads = reader.reads();
  // Past the end the reader is not asked again.
  uint8_t buffer[3];
  EXPECT_EQ(0, stream.GetBytesBuffer(buffer, sizeof(buffer)));
  EXPECT_EQ(reads, reader.reads());
  EXPECT_EQ(3u, reader.largest_read());

  StringFileReader failing("0123456789", 4);
  FileReaderHTTPBodyStream failing_stream(&failing);
  EXPECT_EQ("0123", ReadWholeStream(&failing_stream, 4, &result));
  EXPECT_EQ(-1, result);
}

TEST(HTTPBodyStreamTest, CompositeJoinsItsPartsAcrossPieceBorders) {
  StringFileReader reader("FILE");
  CompositeHTTPBodyStream::PartsList parts;
  parts.push_back(std::make_unique<StringHTTPBodyStream>("ab"));
  parts.push_back(std::make_unique<StringHTTPBodyStream>(""));
  parts.push_back(std::make_unique<FileReaderHTTPBodyStream>(&reader));
  parts.push_back(std::make_unique<StringHTTPBodyStream>("cd"));
  CompositeHTTPBodyStream stream(std::move(parts));

  uint8_t buffer[3];
  EXPECT_EQ(0, stream.GetBytesBuffer(buffer, 0));
  int64_t result = 1;
  EXPECT_EQ("abFILEcd", ReadWholeStream(&stream, 3, &result));
  EXPECT_EQ(0, result);
  EXPECT_EQ(0, stream.GetBytesBuffer(buffer, sizeof(buffer)));

  CompositeHTTPBodyStream nothing{CompositeHTTPBodyStream::PartsList()};
  EXPECT_EQ(0, nothing.GetBytesBuffer(buffer, sizeof(buffer)));
}

TEST(HTTPBodyStreamTest, CompositeFailsWhenAPartFails) {
  CompositeHTTPBodyStream::PartsList parts;
  parts.push_back(std::make_unique<StringHTTPBodyStream>("ab"));
  parts.push_back(std::make_unique<FailingHTTPBodyStream>());
  parts.push_back(std::make_unique<StringHTTPBodyStream>("cd"));
  CompositeHTTPBodyStream stream(std::move(parts));
  uint8_t buffer[16];
  // The bytes placed before the failure in the same call are not handed
  // out as if the body were sound.
  EXPECT_EQ(-1, stream.GetBytesBuffer(buffer, sizeof(buffer)));
}

TEST(HTTPBodyStreamTest, CountBodyBytesCountsEveryPieceOrFails) {
  const size_t size = 3 * kHTTPBodyPieceSize + 17;
  StringHTTPBodyStream body(std::string(size, 'x'));
  EXPECT_EQ(static_cast<int64_t>(size), CountBodyBytes(&body));
  StringHTTPBodyStream empty("");
  EXPECT_EQ(0, CountBodyBytes(&empty));

  CompositeHTTPBodyStream::PartsList parts;
  parts.push_back(
      std::make_unique<StringHTTPBodyStream>(std::string(size, 'y')));
  parts.push_back(std::make_unique<FailingHTTPBodyStream>());
  CompositeHTTPBodyStream failing(std::move(parts));
  EXPECT_EQ(-1, CountBodyBytes(&failing));
}

TEST(GzipHTTPBodyStreamTest, OneMemberThatInflatesToTheSource) {
  // Large enough to need many source reads and many output pieces, mixed
  // so that some pieces compress well and some not at all.
  const std::string plain = test::NoisyBytes(150000) +
                            std::string(200000, 'z') + test::NoisyBytes(70001);
  for (size_t piece : {size_t{1}, size_t{1000}, size_t{65536}}) {
    SCOPED_TRACE(piece);
    StringFileReader reader(plain);
    GzipHTTPBodyStream stream(
        std::make_unique<FileReaderHTTPBodyStream>(&reader));
    int64_t result = 1;
    const std::string gzipped = ReadWholeStream(&stream, piece, &result);
    EXPECT_EQ(0, result);
    uint8_t buffer[8];
    EXPECT_EQ(0, stream.GetBytesBuffer(buffer, sizeof(buffer)));
    // The source is pulled in small pieces, never whole.
    EXPECT_EQ(4096u, reader.largest_read());

    std::string inflated;
    ASSERT_TRUE(test::GunzipOneMember(gzipped, &inflated));
    EXPECT_TRUE(inflated == plain);
    ASSERT_GE(gzipped.size(), 2u);
    EXPECT_EQ('\x1f', gzipped[0]);
    EXPECT_EQ('\x8b', gzipped[1]);
  }

  // An empty source still gives a whole member.
  GzipHTTPBodyStream empty(std::make_unique<StringHTTPBodyStream>(""));
  std::string inflated;
  ASSERT_TRUE(test::GunzipOneMember(ReadWholeStream(&empty, 7), &inflated));
  EXPECT_EQ("", inflated);
}

TEST(GzipHTTPBodyStreamTest, SourceFailureFailsForGood) {
  StringFileReader reader(test::NoisyBytes(20000), 8192);
  GzipHTTPBodyStream stream(
      std::make_unique<FileReaderHTTPBodyStream>(&reader));
  int64_t result = 0;
  ReadWholeStream(&stream, 100, &result);
  EXPECT_EQ(-1, result);
  const int reads = reader.reads();
  uint8_t buffer[100];
  EXPECT_EQ(-1, stream.GetBytesBuffer(buffer, sizeof(buffer)));
  EXPECT_EQ(reads, reader.reads());
}

}  // namespace
}  // namespace crash_reporter
