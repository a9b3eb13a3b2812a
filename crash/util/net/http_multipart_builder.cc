#include "crash/util/net/http_multipart_builder.h"

#include <stdio.h>

#include <utility>
#include <vector>

#include "base/check.h"
#include "base/rand_util.h"
#include "base/strings/stringprintf.h"
#include "crash/util/file/file_reader.h"
#include "crash/util/net/http_body_gzip.h"

namespace crash_reporter {

namespace {

constexpr char kCRLF[] = "\r\n";

constexpr char kBoundaryCRLF[] = "\r\n\r\n";

constexpr char kBoundaryPrefix[] = "---MultipartBoundary-";
constexpr char kBoundarySuffix[] = "---";
constexpr int kBoundaryRandomLength = 32;

constexpr char kBoundaryCharacters[] =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

std::string GenerateBoundaryString() {
  std::string boundary(kBoundaryPrefix);
  for (int i = 0; i < kBoundaryRandomLength; ++i) {
    boundary += kBoundaryCharacters[base::RandInt(
        0, static_cast<int>(sizeof(kBoundaryCharacters)) - 2)];
  }
  boundary += kBoundarySuffix;
  return boundary;
}

// Names and file names go inside a quoted header parameter: line breaks,
// quotes and the escape character itself must not appear there raw.
std::string EncodeMIMEField(const std::string& name) {
  std::string encoded;
  for (char c : name) {
    if (c == '\n' || c == '\r' || c == '"' || c == '%') {
      encoded += base::StringPrintf("%%%02x", static_cast<unsigned char>(c));
    } else {
      encoded += c;
    }
  }
  return encoded;
}

std::string GetFormDataBoundary(const std::string& boundary,
                                const std::string& name) {
  // Joined rather than formatted, so that a name holding a NUL byte is not
  // cut short.
  return "--" + boundary + kCRLF + "Content-Disposition: form-data; name=\"" +
         name + "\"";
}

bool IsValidContentType(const std::string& content_type) {
  for (char c : content_type) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                    (c >= '0' && c <= '9') || c == '+' || c == '-' ||
                    c == '.' || c == '/' || c == '_';
    if (!ok)
      return false;
  }
  return true;
}

}  // namespace

HTTPMultipartBuilder::HTTPMultipartBuilder()
    : boundary_(GenerateBoundaryString()), gzip_enabled_(false) {}

HTTPMultipartBuilder::~HTTPMultipartBuilder() = default;

void HTTPMultipartBuilder::SetGzipEnabled(bool gzip_enabled) {
  gzip_enabled_ = gzip_enabled;
}

void HTTPMultipartBuilder::SetFormData(const std::string& key,
                                       const std::string& value) {
  EraseKey(key);
  form_data_[key] = value;
}

void HTTPMultipartBuilder::SetFileAttachment(
    const std::string& key,
    const std::string& upload_file_name,
    FileReaderInterface* reader,
    const std::string& content_type) {
  EraseKey(key);
  // The type goes into a header line unquoted.
  CHECK(IsValidContentType(content_type));
  FileAttachment& attachment = file_attachments_[key];
  attachment.filename = EncodeMIMEField(upload_file_name);
  attachment.content_type =
      content_type.empty() ? "application/octet-stream" : content_type;
  attachment.reader = reader;
}

std::unique_ptr<HTTPBodyStream> HTTPMultipartBuilder::GetBodyStream() {
  CompositeHTTPBodyStream::PartsList streams;

  for (const auto& pair : form_data_) {
    std::string field =
        GetFormDataBoundary(boundary_, EncodeMIMEField(pair.first));
    field += kBoundaryCRLF;
    field += pair.second;
    field += kCRLF;
    streams.push_back(std::make_unique<StringHTTPBodyStream>(field));
  }

  for (const auto& pair : file_attachments_) {
    const FileAttachment& attachment = pair.second;
    std::string header =
        GetFormDataBoundary(boundary_, EncodeMIMEField(pair.first));
    header += "; filename=\"" + attachment.filename + "\"" + kCRLF;
    header += "Content-Type: " + attachment.content_type + kBoundaryCRLF;
    streams.push_back(std::make_unique<StringHTTPBodyStream>(header));
    streams.push_back(
        std::make_unique<FileReaderHTTPBodyStream>(attachment.reader));
    streams.push_back(std::make_unique<StringHTTPBodyStream>(kCRLF));
  }

  streams.push_back(
      std::make_unique<StringHTTPBodyStream>("--" + boundary_ + "--" + kCRLF));

  auto composite =
      std::make_unique<CompositeHTTPBodyStream>(std::move(streams));
  if (gzip_enabled_)
    return std::make_unique<GzipHTTPBodyStream>(std::move(composite));
  return composite;
}

std::unique_ptr<HTTPBodyStream> HTTPMultipartBuilder::GetBodyStreamWithLength(
    int64_t* length) {
  std::vector<std::pair<FileReaderInterface*, int64_t>> starts;
  for (const auto& pair : file_attachments_) {
    FileReaderInterface* reader = pair.second.reader;
    const int64_t start = reader->Seek(0, SEEK_CUR);
    if (start < 0)
      return nullptr;
    starts.emplace_back(reader, start);
  }
  std::unique_ptr<HTTPBodyStream> body = GetBodyStream();
  const int64_t counted = body ? CountBodyBytes(body.get()) : -1;
  if (counted < 0)
    return nullptr;
  for (const auto& start : starts) {
    if (start.first->Seek(start.second, SEEK_SET) != start.second)
      return nullptr;
  }
  *length = counted;
  return GetBodyStream();
}

void HTTPMultipartBuilder::PopulateContentHeaders(
    HTTPHeaders* http_headers) const {
  (*http_headers)["Content-Type"] =
      "multipart/form-data; boundary=" + boundary_;
  if (gzip_enabled_)
    (*http_headers)["Content-Encoding"] = "gzip";
}

void HTTPMultipartBuilder::EraseKey(const std::string& key) {
  form_data_.erase(key);
  file_attachments_.erase(key);
}

}  // namespace crash_reporter
