#ifndef CRASH_UTIL_NET_HTTP_BODY_H_
#define CRASH_UTIL_NET_HTTP_BODY_H_

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/macros.h"

namespace crash_reporter {

class FileReaderInterface;

// Request headers by name.
using HTTPHeaders = std::map<std::string, std::string>;

// The most of a body read at once, while it is sent or counted.
constexpr size_t kHTTPBodyPieceSize = 32768;

// A request body produced on demand, piece by piece, so that a large dump
// never has to sit in memory whole.
class HTTPBodyStream {
 public:
  virtual ~HTTPBodyStream() = default;

  // Places up to |max_len| bytes in |buffer|: the count placed (> 0), 0 at
  // the end of the stream (and at every later call), -1 on error.
  virtual int64_t GetBytesBuffer(uint8_t* buffer, size_t max_len) = 0;
};

// A body held in memory.
class StringHTTPBodyStream : public HTTPBodyStream {
 public:
  explicit StringHTTPBodyStream(const std::string& string);
  ~StringHTTPBodyStream() override;

  int64_t GetBytesBuffer(uint8_t* buffer, size_t max_len) override;

 private:
  std::string string_;
  size_t bytes_read_;

  DISALLOW_COPY_AND_ASSIGN(StringHTTPBodyStream);
};

// The bytes of a file, read through a reader that must outlive the stream.
class FileReaderHTTPBodyStream : public HTTPBodyStream {
 public:
  explicit FileReaderHTTPBodyStream(FileReaderInterface* reader);
  ~FileReaderHTTPBodyStream() override;

  int64_t GetBytesBuffer(uint8_t* buffer, size_t max_len) override;

 private:
  FileReaderInterface* reader_;  // Not owned.
  bool reached_eof_;

  DISALLOW_COPY_AND_ASSIGN(FileReaderHTTPBodyStream);
};

// The parts one after another. The first part that fails fails the whole.
class CompositeHTTPBodyStream : public HTTPBodyStream {
 public:
  using PartsList = std::vector<std::unique_ptr<HTTPBodyStream>>;

  explicit CompositeHTTPBodyStream(PartsList parts);
  ~CompositeHTTPBodyStream() override;

  int64_t GetBytesBuffer(uint8_t* buffer, size_t max_len) override;

 private:
  PartsList parts_;
  PartsList::iterator current_part_;

  DISALLOW_COPY_AND_ASSIGN(CompositeHTTPBodyStream);
};

// Reads |body| through to its end: its length in bytes, or -1 when it
// fails. The stream is used up.
int64_t CountBodyBytes(HTTPBodyStream* body);

}  // namespace crash_reporter

#endif  // CRASH_UTIL_NET_HTTP_BODY_H_
