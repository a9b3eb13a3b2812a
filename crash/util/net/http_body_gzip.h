#ifndef CRASH_UTIL_NET_HTTP_BODY_GZIP_H_
#define CRASH_UTIL_NET_HTTP_BODY_GZIP_H_

#include <stddef.h>
#include <stdint.h>

#include <memory>

#include "base/macros.h"
#include "crash/util/net/http_body.h"

typedef struct z_stream_s z_stream;

namespace crash_reporter {

// Compresses its source into one gzip member as the body is pulled.
// Once it failed it fails for good.
class GzipHTTPBodyStream : public HTTPBodyStream {
 public:
  explicit GzipHTTPBodyStream(std::unique_ptr<HTTPBodyStream> source);
  ~GzipHTTPBodyStream() override;

  int64_t GetBytesBuffer(uint8_t* buffer, size_t max_len) override;

 private:
  enum class State : int {
    kUninitialized,
    kOperating,
    kInputEOF,
    kFinished,
    kError,
  };

  static constexpr size_t kInputBufferSize = 4096;

  uint8_t input_[kInputBufferSize];
  std::unique_ptr<HTTPBodyStream> source_;
  std::unique_ptr<z_stream> z_stream_;
  State state_;

  DISALLOW_COPY_AND_ASSIGN(GzipHTTPBodyStream);
};

}  // namespace crash_reporter

#endif  // CRASH_UTIL_NET_HTTP_BODY_GZIP_H_
