#include "crash/util/net/http_body.h"

#include <string.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <utility>

#include "crash/util/file/file_reader.h"

namespace crash_reporter {

namespace {

// The largest count a signed answer can carry.
constexpr size_t kMaxAnswer =
    static_cast<size_t>(std::numeric_limits<int64_t>::max());

}  // namespace

StringHTTPBodyStream::StringHTTPBodyStream(const std::string& string)
    : string_(string), bytes_read_(0) {}

StringHTTPBodyStream::~StringHTTPBodyStream() = default;

int64_t StringHTTPBodyStream::GetBytesBuffer(uint8_t* buffer, size_t max_len) {
  const size_t remaining = string_.size() - bytes_read_;
  const size_t num_bytes = std::min(std::min(remaining, max_len), kMaxAnswer);
  if (num_bytes == 0)
    return 0;
  memcpy(buffer, string_.data() + bytes_read_, num_bytes);
  bytes_read_ += num_bytes;
  return static_cast<int64_t>(num_bytes);
}

FileReaderHTTPBodyStream::FileReaderHTTPBodyStream(FileReaderInterface* reader)
    : reader_(reader), reached_eof_(false) {}

FileReaderHTTPBodyStream::~FileReaderHTTPBodyStream() = default;

int64_t FileReaderHTTPBodyStream::GetBytesBuffer(uint8_t* buffer,
                                                 size_t max_len) {
  if (reached_eof_)
    return 0;
  const int64_t rv = reader_->Read(buffer, std::min(max_len, kMaxAnswer));
  if (rv == 0)
    reached_eof_ = true;
  return rv;
}

CompositeHTTPBodyStream::CompositeHTTPBodyStream(PartsList parts)
    : parts_(std::move(parts)), current_part_(parts_.begin()) {}

CompositeHTTPBodyStream::~CompositeHTTPBodyStream() = default;

int64_t CompositeHTTPBodyStream::GetBytesBuffer(uint8_t* buffer,
                                                size_t max_len) {
  max_len = std::min(max_len, kMaxAnswer);
  if (max_len < 1)
    return 0;
  size_t placed = 0;
  while (placed < max_len) {
    if (current_part_ == parts_.end())
      return static_cast<int64_t>(placed);
    const int64_t rv =
        (*current_part_)->GetBytesBuffer(buffer + placed, max_len - placed);
    if (rv == 0) {
      ++current_part_;
    } else if (rv < 0) {
      return rv;
    } else {
      placed += static_cast<size_t>(rv);
    }
  }
  return static_cast<int64_t>(placed);
}

int64_t CountBodyBytes(HTTPBodyStream* body) {
  std::unique_ptr<uint8_t[]> piece(new uint8_t[kHTTPBodyPieceSize]);
  int64_t total = 0;
  for (;;) {
    const int64_t count = body->GetBytesBuffer(piece.get(), kHTTPBodyPieceSize);
    if (count < 0 || count > static_cast<int64_t>(kHTTPBodyPieceSize))
      return -1;
    if (count == 0)
      return total;
    total += count;
  }
}

}  // namespace crash_reporter
