#ifndef CRASH_TEST_HTTP_BODY_TEST_UTIL_H_
#define CRASH_TEST_HTTP_BODY_TEST_UTIL_H_

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include <zlib.h>

#include "crash/util/file/file_reader.h"
#include "crash/util/net/http_body.h"

namespace crash_reporter {
namespace test {

// Pulls a stream to its end (or its first error) in pieces of |piece|
// bytes. |result| gets the last answer: 0 at the end, -1 on error.
inline std::string ReadWholeStream(HTTPBodyStream* stream,
                                   size_t piece,
                                   int64_t* result = nullptr) {
  std::string out;
  std::vector<uint8_t> buffer(piece);
  int64_t rv;
  // Bounded: a stream that never ends is a failure of its own.
  for (int i = 0; i < 10000000; ++i) {
    rv = stream->GetBytesBuffer(buffer.data(), buffer.size());
    if (rv <= 0)
      break;
    out.append(reinterpret_cast<const char*>(buffer.data()),
               static_cast<size_t>(rv));
  }
  if (result)
    *result = rv;
  return out;
}

// A file held in memory. Records the largest read asked of it; fails
// every read after |fail_after| bytes when that is not negative.
class StringFileReader : public FileReaderInterface {
 public:
  explicit StringFileReader(const std::string& data, int64_t fail_after = -1)
      : data_(data), fail_after_(fail_after) {}

  int64_t Read(void* buffer, size_t size) override {
    ++reads_;
    largest_read_ = std::max(largest_read_, size);
    if (fail_after_ >= 0 && position_ >= static_cast<size_t>(fail_after_))
      return -1;
    const size_t n = std::min(size, data_.size() - position_);
    memcpy(buffer, data_.data() + position_, n);
    position_ += n;
    return static_cast<int64_t>(n);
  }

  int64_t Seek(int64_t offset, int whence) override {
    int64_t base = 0;
    if (whence == 1)
      base = static_cast<int64_t>(position_);
    else if (whence == 2)
      base = static_cast<int64_t>(data_.size());
    const int64_t target = base + offset;
    if (target < 0 || target > static_cast<int64_t>(data_.size()))
      return -1;
    position_ = static_cast<size_t>(target);
    return target;
  }

  int reads() const { return reads_; }
  size_t largest_read() const { return largest_read_; }

 private:
  std::string data_;
  int64_t fail_after_;
  size_t position_ = 0;
  int reads_ = 0;
  size_t largest_read_ = 0;
};

// Answers -1 at once.
class FailingHTTPBodyStream : public HTTPBodyStream {
 public:
  int64_t GetBytesBuffer(uint8_t* buffer, size_t max_len) override {
    return -1;
  }
};

// Pseudo-random bytes that compress poorly, with every byte value.
inline std::string NoisyBytes(size_t size) {
  std::string out(size, '\0');
  uint32_t x = 2463534242u;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = static_cast<char>(x);
  }
  return out;
}

// Inflates one gzip member. False unless |data| is exactly one whole
// member.
inline bool GunzipOneMember(const std::string& data, std::string* out) {
  z_stream z = {};
  if (inflateInit2(&z, 15 + 16) != Z_OK)
    return false;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  std::vector<char> buffer(65536);
  int zr;
  do {
    z.next_out = reinterpret_cast<Bytef*>(buffer.data());
    z.avail_out = static_cast<uInt>(buffer.size());
    zr = inflate(&z, Z_NO_FLUSH);
    out->append(buffer.data(), buffer.size() - z.avail_out);
  } while (zr == Z_OK);
  const bool whole = zr == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  return whole;
}

// One part of a multipart/form-data body as a reader that knows nothing of
// the builder sees it.
struct Part {
  std::string disposition;   // The Content-Disposition header's value.
  std::string content_type;  // Empty when the part has none.
  std::string data;
};

// Parses a body by the rules of the format alone: the boundary comes from
// the Content-Type header, every delimiter is CRLF "--" boundary, the
// first has no leading CRLF, headers end at an empty line, the close
// delimiter is followed by CRLF and nothing else. False on anything else.
inline bool ParseMultipart(const HTTPHeaders& headers,
                           const std::string& body,
                           std::vector<Part>* parts) {
  auto it = headers.find("Content-Type");
  if (it == headers.end())
    return false;
  const std::string prefix = "multipart/form-data; boundary=";
  if (it->second.compare(0, prefix.size(), prefix) != 0)
    return false;
  const std::string boundary = it->second.substr(prefix.size());
  const std::string first = "--" + boundary;
  const std::string delimiter = "\r\n--" + boundary;
  if (body.compare(0, first.size(), first) != 0)
    return false;
  size_t pos = first.size();
  for (;;) {
    if (body.compare(pos, 4, "--\r\n") == 0)
      return pos + 4 == body.size();
    if (body.compare(pos, 2, "\r\n") != 0)
      return false;
    pos += 2;
    const size_t headers_end = body.find("\r\n\r\n", pos);
    if (headers_end == std::string::npos)
      return false;
    Part part;
    std::string header_block = body.substr(pos, headers_end - pos) + "\r\n";
    for (size_t line_start = 0; line_start < header_block.size();) {
      const size_t line_end = header_block.find("\r\n", line_start);
      const std::string line =
          header_block.substr(line_start, line_end - line_start);
      line_start = line_end + 2;
      const size_t colon = line.find(": ");
      if (colon == std::string::npos)
        return false;
      const std::string name = line.substr(0, colon);
      const std::string value = line.substr(colon + 2);
      if (name == "Content-Disposition")
        part.disposition = value;
      else if (name == "Content-Type")
        part.content_type = value;
      else
        return false;
    }
    pos = headers_end + 4;
    const size_t data_end = body.find(delimiter, pos);
    if (data_end == std::string::npos)
      return false;
    part.data = body.substr(pos, data_end - pos);
    parts->push_back(part);
    pos = data_end + delimiter.size();
  }
}

}  // namespace test
}  // namespace crash_reporter

#endif  // CRASH_TEST_HTTP_BODY_TEST_UTIL_H_
