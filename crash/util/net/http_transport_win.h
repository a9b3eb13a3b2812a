#ifndef CRASH_UTIL_NET_HTTP_TRANSPORT_WIN_H_
#define CRASH_UTIL_NET_HTTP_TRANSPORT_WIN_H_

#include <windows.h>

#include <stddef.h>

#include <functional>
#include <string>

#include "crash/util/net/http_body.h"
#include "crash/util/net/http_transport.h"

namespace crash_reporter {

// The pieces of the WinHTTP transport that do not need a server, open for
// tests.
namespace internal {

// "Daskrell/0.8.0 WinHTTP", then the versions of the system's winhttp.dll
// and of Windows where they can be read. Made once per process.
const std::string& UserAgent();

// The log line of a failed WinHTTP call |function| with |error|: the name,
// the system's text for the error and the code.
std::string WinHttpErrorLine(const char* function, DWORD error);

// How the body goes out, from the headers the caller set.
struct BodyFraming {
  // False when the headers cannot be sent as they are (a line break inside
  // one, or a "Content-Length" that is no number); nothing may be sent.
  bool valid = false;
  // Chunked transfer coding, unless the caller gave the length.
  bool chunked = true;
  // The length from "Content-Length" when not chunked.
  uint64_t length = 0;
};
BodyFraming GetBodyFraming(const HTTPHeaders& headers);

// One WinHttpWriteData: true when all of |size| bytes went out.
using BodyWriter = std::function<bool(const void* data, size_t size)>;

// Pulls |stream| (null is an empty body) in pieces of at most 32768 bytes
// and hands each to |write| as one write, framed as a chunk when |chunked|,
// ending with the last chunk. False when the stream or a write fails.
bool SendBody(HTTPBodyStream* stream, bool chunked, const BodyWriter& write);

}  // namespace internal

}  // namespace crash_reporter

#endif  // CRASH_UTIL_NET_HTTP_TRANSPORT_WIN_H_
