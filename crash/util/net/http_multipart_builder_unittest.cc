#include "crash/util/net/http_multipart_builder.h"

#include <stdio.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "crash/test/http_body_test_util.h"
#include "crash/util/net/http_body.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

using test::ParseMultipart;
using test::Part;
using test::ReadWholeStream;
using test::StringFileReader;

std::string Body(HTTPMultipartBuilder* builder, size_t piece = 7) {
  std::unique_ptr<HTTPBodyStream> stream = builder->GetBodyStream();
  int64_t result = 1;
  const std::string body = ReadWholeStream(stream.get(), piece, &result);
  EXPECT_EQ(0, result);
  return body;
}

std::vector<Part> Parse(HTTPMultipartBuilder* builder) {
  HTTPHeaders headers;
  builder->PopulateContentHeaders(&headers);
  std::vector<Part> parts;
  const std::string body = Body(builder);
  EXPECT_TRUE(ParseMultipart(headers, body, &parts)) << body;
  return parts;
}

TEST(HTTPMultipartBuilderTest, FieldsThenFilesInNameOrder) {
  // A dump holds any bytes, including what looks like line breaks and
  // dashes.
  const std::string dump =
      test::NoisyBytes(100000) + "\r\n--\r\n" + test::NoisyBytes(33);
  StringFileReader dump_reader(dump);
  StringFileReader log_reader("log text");
  HTTPMultipartBuilder builder;
  builder.SetFormData("version", "47.0");
  builder.SetFormData("prod", "Kavor");
  builder.SetFileAttachment("upload_file_minidump", "dump.dmp", &dump_reader,
                            "application/octet-stream");
  builder.SetFileAttachment("log", "setup.log", &log_reader, "");
  const std::vector<Part> parts = Parse(&builder);
  ASSERT_EQ(4u, parts.size());
  EXPECT_EQ("form-data; name=\"prod\"", parts[0].disposition);
  EXPECT_EQ("", parts[0].content_type);
  EXPECT_EQ("Kavor", parts[0].data);
  EXPECT_EQ("form-data; name=\"version\"", parts[1].disposition);
  EXPECT_EQ("47.0", parts[1].data);
  EXPECT_EQ("form-data; name=\"log\"; filename=\"setup.log\"",
            parts[2].disposition);
  EXPECT_EQ("application/octet-stream", parts[2].content_type);
  EXPECT_EQ("log text", parts[2].data);
  EXPECT_EQ("form-data; name=\"upload_file_minidump\"; filename=\"dump.dmp\"",
            parts[3].disposition);
  EXPECT_EQ("application/octet-stream", parts[3].content_type);
  EXPECT_TRUE(parts[3].data == dump);
  // The dump is pulled in pieces no larger than what the caller asked.
  EXPECT_LE(dump_reader.largest_read(), 7u);
}

TEST(HTTPMultipartBuilderTest, NamesAreEscapedValuesAreNot) {
  StringFileReader reader("x");
  HTTPMultipartBuilder builder;
  builder.SetFormData("a\"b%c\r\nd", "say \"hi\" 100%\r\n");
  builder.SetFileAttachment("f\"", "my \"dump\"%.dmp", &reader, "text/plain");
  const std::vector<Part> parts = Parse(&builder);
  ASSERT_EQ(2u, parts.size());
  EXPECT_EQ("form-data; name=\"a%22b%25c%0d%0ad\"", parts[0].disposition);
  EXPECT_EQ("say \"hi\" 100%\r\n", parts[0].data);
  EXPECT_EQ("form-data; name=\"f%22\"; filename=\"my %22dump%22%25.dmp\"",
            parts[1].disposition);
  EXPECT_EQ("text/plain", parts[1].content_type);
}

TEST(HTTPMultipartBuilderTest, BoundaryIsFreshForEachBuilder) {
  const std::string alphabet =
      "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  std::set<std::string> seen;
  for (int i = 0; i < 20; ++i) {
    HTTPMultipartBuilder builder;
    const std::string& boundary = builder.boundary();
    ASSERT_EQ(56u, boundary.size());
    EXPECT_EQ("---MultipartBoundary-", boundary.substr(0, 21));
    EXPECT_EQ("---", boundary.substr(53));
    EXPECT_EQ(std::string::npos,
              boundary.substr(21, 32).find_first_not_of(alphabet));
    seen.insert(boundary);

    HTTPHeaders headers;
    builder.PopulateContentHeaders(&headers);
    EXPECT_EQ("multipart/form-data; boundary=" + boundary,
              headers["Content-Type"]);
    EXPECT_EQ(0u, headers.count("Content-Encoding"));
  }
  EXPECT_EQ(20u, seen.size());
}

TEST(HTTPMultipartBuilderTest, EmptyBuilderSendsOnlyTheClosingLine) {
  HTTPMultipartBuilder builder;
  EXPECT_EQ("--" + builder.boundary() + "--\r\n", Body(&builder));
  EXPECT_EQ(0u, Parse(&builder).size());
}

TEST(HTTPMultipartBuilderTest, ANameHoldsOneFieldOrOneFile) {
  StringFileReader reader("file bytes");
  HTTPMultipartBuilder builder;
  builder.SetFormData("x", "field");
  builder.SetFileAttachment("x", "x.bin", &reader, "");
  std::vector<Part> parts = Parse(&builder);
  ASSERT_EQ(1u, parts.size());
  EXPECT_EQ("form-data; name=\"x\"; filename=\"x.bin\"", parts[0].disposition);
  EXPECT_EQ("file bytes", parts[0].data);

  builder.SetFormData("x", "field");
  parts = Parse(&builder);
  ASSERT_EQ(1u, parts.size());
  EXPECT_EQ("form-data; name=\"x\"", parts[0].disposition);
  EXPECT_EQ("field", parts[0].data);
}

TEST(HTTPMultipartBuilderTest, EmptyFileGivesAnEmptyPart) {
  StringFileReader reader("");
  HTTPMultipartBuilder builder;
  builder.SetFileAttachment("empty", "e.bin", &reader, "");
  const std::string boundary = builder.boundary();
  EXPECT_EQ("--" + boundary +
                "\r\nContent-Disposition: form-data; name=\"empty\"; "
                "filename=\"e.bin\"\r\nContent-Type: "
                "application/octet-stream\r\n\r\n\r\n--" +
                boundary + "--\r\n",
            Body(&builder));
}

TEST(HTTPMultipartBuilderTest, FailedFileReadFailsTheBody) {
  StringFileReader reader(test::NoisyBytes(5000), 1000);
  HTTPMultipartBuilder builder;
  builder.SetFormData("a", "b");
  builder.SetFileAttachment("dump", "d.dmp", &reader, "");
  for (bool gzip : {false, true}) {
    SCOPED_TRACE(gzip);
    reader.Seek(0, 0);
    builder.SetGzipEnabled(gzip);
    std::unique_ptr<HTTPBodyStream> stream = builder.GetBodyStream();
    int64_t result = 0;
    ReadWholeStream(stream.get(), 512, &result);
    EXPECT_EQ(-1, result);
  }
}

TEST(HTTPMultipartBuilderTest, GzipBodyInflatesToThePlainBody) {
  StringFileReader reader(test::NoisyBytes(50000) + std::string(50000, 'a'));
  HTTPMultipartBuilder builder;
  builder.SetFormData("prod", "Kavor");
  builder.SetFileAttachment("dump", "d.dmp", &reader, "");
  builder.SetGzipEnabled(true);
  HTTPHeaders headers;
  builder.PopulateContentHeaders(&headers);
  EXPECT_EQ("gzip", headers["Content-Encoding"]);
  EXPECT_EQ("multipart/form-data; boundary=" + builder.boundary(),
            headers["Content-Type"]);
  const std::string gzipped = Body(&builder, 1000);

  ASSERT_EQ(0, reader.Seek(0, 0));
  builder.SetGzipEnabled(false);
  const std::string plain = Body(&builder, 1000);
  std::string inflated;
  ASSERT_TRUE(test::GunzipOneMember(gzipped, &inflated));
  EXPECT_TRUE(inflated == plain);
  EXPECT_LT(gzipped.size(), plain.size());
}

// The body sent with a length is the one measured, from where each file
// stood, and gives the same bytes as a body made the plain way.
TEST(HTTPMultipartBuilderTest, BodyWithLengthIsTheBodyItMeasured) {
  const std::string skipped = "not sent";
  StringFileReader dump(skipped + test::NoisyBytes(100000));
  StringFileReader notes("notes");
  for (bool gzip : {false, true}) {
    SCOPED_TRACE(gzip);
    HTTPMultipartBuilder builder;
    builder.SetGzipEnabled(gzip);
    builder.SetFormData("prod", "Kavor");
    builder.SetFileAttachment("dump", "d.dmp", &dump, "");
    builder.SetFileAttachment("notes", "n.txt", &notes, "text/plain");
    ASSERT_EQ(static_cast<int64_t>(skipped.size()),
              dump.Seek(skipped.size(), SEEK_SET));
    ASSERT_EQ(0, notes.Seek(0, SEEK_SET));

    int64_t length = -1;
    std::unique_ptr<HTTPBodyStream> body =
        builder.GetBodyStreamWithLength(&length);
    ASSERT_TRUE(body);
    int64_t result = 1;
    const std::string sent = ReadWholeStream(body.get(), 4096, &result);
    EXPECT_EQ(0, result);
    EXPECT_EQ(static_cast<int64_t>(sent.size()), length);

    ASSERT_EQ(static_cast<int64_t>(skipped.size()),
              dump.Seek(skipped.size(), SEEK_SET));
    ASSERT_EQ(0, notes.Seek(0, SEEK_SET));
    EXPECT_TRUE(Body(&builder, 4096) == sent);
    EXPECT_EQ(std::string::npos, sent.find(skipped));
  }
}

TEST(HTTPMultipartBuilderTest, BodyWithLengthFailsWhenAFileFails) {
  StringFileReader reader(test::NoisyBytes(5000), 1000);
  HTTPMultipartBuilder builder;
  builder.SetFileAttachment("dump", "d.dmp", &reader, "");
  int64_t length = 7;
  EXPECT_FALSE(builder.GetBodyStreamWithLength(&length));
  EXPECT_EQ(7, length);
}

}  // namespace
}  // namespace crash_reporter
