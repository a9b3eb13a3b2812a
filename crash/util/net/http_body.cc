#include "crash/util/net/http_body.h"

#include <string.h>

#include <algorithm>
#include <limits>

namespace crash_reporter {

StringHTTPBodyStream::StringHTTPBodyStream(const std::string& string)
    : string_(string) {}

StringHTTPBodyStream::~StringHTTPBodyStream() = default;

int64_t StringHTTPBodyStream::GetBytesBuffer(uint8_t* buffer, size_t max_len) {
  const size_t left = string_.size() - bytes_read_;
  // The answer is signed: never claim more than it can say.
  const size_t count =
      std::min({max_len, left,
                static_cast<size_t>(std::numeric_limits<int64_t>::max())});
  if (count == 0)
    return 0;
  memcpy(buffer, string_.data() + bytes_read_, count);
  bytes_read_ += count;
  return static_cast<int64_t>(count);
}

}  // namespace crash_reporter
