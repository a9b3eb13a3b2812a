#ifndef CRASH_UTIL_NET_HTTP_BODY_H_
#define CRASH_UTIL_NET_HTTP_BODY_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace crash_reporter {

// A request body produced on demand, piece by piece, so that a large dump
// never has to sit in memory whole.
class HTTPBodyStream {
 public:
  virtual ~HTTPBodyStream() = default;

  // Places up to |max_len| bytes in |buffer|. Answers the number placed
  // (greater than 0), 0 at the end of the stream (and on every later call),
  // or -1 on error.
  virtual int64_t GetBytesBuffer(uint8_t* buffer, size_t max_len) = 0;
};

// A body held in a string.
class StringHTTPBodyStream : public HTTPBodyStream {
 public:
  explicit StringHTTPBodyStream(const std::string& string);
  ~StringHTTPBodyStream() override;

  StringHTTPBodyStream(const StringHTTPBodyStream&) = delete;
  StringHTTPBodyStream& operator=(const StringHTTPBodyStream&) = delete;

  int64_t GetBytesBuffer(uint8_t* buffer, size_t max_len) override;

 private:
  std::string string_;
  size_t bytes_read_ = 0;
};

}  // namespace crash_reporter

#endif  // CRASH_UTIL_NET_HTTP_BODY_H_
