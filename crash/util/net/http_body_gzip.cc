#include "crash/util/net/http_body_gzip.h"

#include <zlib.h>

#include <algorithm>
#include <utility>

#include "base/logging.h"
#include "base/strings/stringprintf.h"

namespace crash_reporter {

namespace {

// The zlib interface this code was written against; zlib accepts any
// release of the same major version.
constexpr char kZlibVersion[] = "1.2.11";

// window bits 15 with 16 added asks for the gzip wrapper.
constexpr int kGzipWindowBits = 15 + 16;

std::string ZlibErrorString(int zr) {
  return base::StringPrintf("%s (%d)", zError(zr), zr);
}

}  // namespace

GzipHTTPBodyStream::GzipHTTPBodyStream(std::unique_ptr<HTTPBodyStream> source)
    : input_(),
      source_(std::move(source)),
      z_stream_(new z_stream()),
      state_(State::kUninitialized) {}

GzipHTTPBodyStream::~GzipHTTPBodyStream() {
  if (state_ == State::kOperating || state_ == State::kInputEOF)
    deflateEnd(z_stream_.get());
}

int64_t GzipHTTPBodyStream::GetBytesBuffer(uint8_t* buffer, size_t max_len) {
  if (state_ == State::kFinished)
    return 0;
  if (state_ == State::kError)
    return -1;

  if (state_ == State::kUninitialized) {
    z_stream_->zalloc = Z_NULL;
    z_stream_->zfree = Z_NULL;
    z_stream_->opaque = Z_NULL;
    const int zr = deflateInit2_(
        z_stream_.get(), Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindowBits, 8,
        Z_DEFAULT_STRATEGY, kZlibVersion, static_cast<int>(sizeof(z_stream)));
    if (zr != Z_OK) {
      LOG(ERROR) << "deflateInit2: " << ZlibErrorString(zr);
      state_ = State::kError;
      return -1;
    }
    state_ = State::kOperating;
  }

  const uInt out_size = static_cast<uInt>(
      std::min<size_t>(max_len, static_cast<size_t>(0xffffffffu)));
  z_stream_->next_out = buffer;
  z_stream_->avail_out = out_size;

  while (z_stream_->avail_out > 0) {
    if (state_ != State::kInputEOF && z_stream_->avail_in == 0) {
      const int64_t rv = source_->GetBytesBuffer(input_, sizeof(input_));
      if (rv < 0) {
        deflateEnd(z_stream_.get());
        state_ = State::kError;
        return -1;
      }
      if (rv == 0) {
        state_ = State::kInputEOF;
      } else {
        z_stream_->next_in = input_;
        z_stream_->avail_in = static_cast<uInt>(rv);
      }
    }

    const int zr = deflate(z_stream_.get(),
                           state_ == State::kInputEOF ? Z_FINISH : Z_NO_FLUSH);
    if (state_ == State::kInputEOF && zr == Z_STREAM_END) {
      const int64_t produced = out_size - z_stream_->avail_out;
      const int end_zr = deflateEnd(z_stream_.get());
      if (end_zr != Z_OK) {
        LOG(ERROR) << "deflateEnd: " << ZlibErrorString(end_zr);
        state_ = State::kError;
        return -1;
      }
      state_ = State::kFinished;
      return produced;
    }
    if (zr != Z_OK) {
      LOG(ERROR) << "deflate: " << ZlibErrorString(zr);
      deflateEnd(z_stream_.get());
      state_ = State::kError;
      return -1;
    }
  }

  return out_size;
}

}  // namespace crash_reporter
