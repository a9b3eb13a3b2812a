#include <winsock2.h>
#include <ws2tcpip.h>

#include "base/test/loopback_http_server.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <utility>

#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/test_thread.h"
#include "base/win/scoped_handle.h"

namespace base {

namespace {

// Every wait on a socket (accept, receive, send, trickle pause) is cut into
// slices this long, so that the destructor only has to raise the flag.
constexpr long kPollMicroseconds = 50 * 1000;
constexpr DWORD kPollMs = 50;
// A held body's pace: a byte this often.
constexpr DWORD kHoldCreepMs = 500;
// How long a connection may keep the server waiting for its request.
constexpr DWORD kReceiveTimeoutMs = 5000;
// Requests of the tests are small; anything bigger is a broken client.
constexpr size_t kMaxRequestSize = 1024 * 1024;
// How long a reset waits for the client to read what was sent before it.
constexpr uint32_t kResetDelayMs = 200;
// Bodies (files in particular) go out in pieces of at most this size.
constexpr size_t kSendChunk = 64 * 1024;

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 204:
      return "No Content";
    case 206:
      return "Partial Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 304:
      return "Not Modified";
    case 307:
      return "Temporary Redirect";
    case 308:
      return "Permanent Redirect";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 407:
      return "Proxy Authentication Required";
    case 416:
      return "Range Not Satisfiable";
    case 500:
      return "Internal Server Error";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 504:
      return "Gateway Timeout";
    default:
      return "Status";
  }
}

// The value of header |name| in |headers| (lines ending in "\r\n"), or "".
std::string HeaderValue(const std::string& headers, const std::string& name) {
  size_t start = 0;
  while (start < headers.size()) {
    size_t end = headers.find("\r\n", start);
    if (end == std::string::npos)
      end = headers.size();
    const std::string line = headers.substr(start, end - start);
    const size_t colon = line.find(':');
    if (colon != std::string::npos &&
        EqualsCaseInsensitiveASCII(line.substr(0, colon), name)) {
      size_t value = colon + 1;
      while (value < line.size() && (line[value] == ' ' || line[value] == '\t'))
        ++value;
      size_t value_end = line.size();
      while (value_end > value &&
             (line[value_end - 1] == ' ' || line[value_end - 1] == '\t')) {
        --value_end;
      }
      return line.substr(value, value_end - value);
    }
    start = end + 2;
  }
  return std::string();
}

// The socket is non-blocking; these wait in short slices for it to be
// ready, giving up when the server stops or |deadline| (a tick count, 0 for
// none) passes.
bool WaitReady(SOCKET socket,
               bool for_write,
               const std::atomic<bool>& stopping,
               ULONGLONG deadline) {
  while (!stopping) {
    if (deadline && ::GetTickCount64() >= deadline)
      return false;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    fd_set errors;
    FD_ZERO(&errors);
    FD_SET(socket, &errors);
    timeval timeout = {0, kPollMicroseconds};
    const int ready = ::select(0, for_write ? nullptr : &set,
                               for_write ? &set : nullptr, &errors, &timeout);
    if (ready < 0)
      return false;
    if (ready > 0)
      return true;
  }
  return false;
}

bool SendAll(SOCKET socket,
             const char* data,
             size_t size,
             const std::atomic<bool>& stopping) {
  size_t sent = 0;
  while (sent < size) {
    const int n =
        ::send(socket, data + sent,
               static_cast<int>(std::min(size - sent, kSendChunk)), 0);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n == 0 || ::WSAGetLastError() != WSAEWOULDBLOCK ||
        !WaitReady(socket, true, stopping, 0)) {
      return false;
    }
  }
  return true;
}

// Waits until |path| exists, when there is one, or the server stops.
void WaitForFile(const std::wstring& path, const std::atomic<bool>& stopping) {
  while (!path.empty() && !stopping &&
         ::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    ::Sleep(kPollMs);
  }
}

// Sleeps |ms| in slices; false when the server stops meanwhile.
bool Pause(uint32_t ms, const std::atomic<bool>& stopping) {
  const ULONGLONG end = ::GetTickCount64() + ms;
  while (!stopping) {
    const ULONGLONG now = ::GetTickCount64();
    if (now >= end)
      return true;
    ::Sleep(static_cast<DWORD>(std::min<ULONGLONG>(end - now, kPollMs)));
  }
  return false;
}

// The body of an answer: a string or a file read while it is sent.
class BodySource {
 public:
  explicit BodySource(const LoopbackHttpServer::Response& response)
      : response_(response) {}

  // False when the file cannot be opened.
  bool Open() {
    if (response_.body_file.empty()) {
      size_ = response_.body.size();
      return true;
    }
    file_.Set(::CreateFileW(response_.body_file.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size;
    if (!file_.IsValid() || !::GetFileSizeEx(file_.Get(), &size))
      return false;
    size_ = static_cast<uint64_t>(size.QuadPart);
    return true;
  }

  uint64_t size() const { return size_; }

  // Up to |length| bytes from |offset| into |out|; false on a read error.
  bool Read(uint64_t offset, size_t length, std::string* out) {
    out->clear();
    if (offset >= size_)
      return true;
    length = static_cast<size_t>(std::min<uint64_t>(length, size_ - offset));
    if (!file_.IsValid()) {
      out->assign(response_.body, static_cast<size_t>(offset), length);
      return true;
    }
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(file_.Get(), position, nullptr, FILE_BEGIN))
      return false;
    out->resize(length);
    DWORD read = 0;
    if (!::ReadFile(file_.Get(), &(*out)[0], static_cast<DWORD>(length), &read,
                    nullptr) ||
        read == 0) {
      return false;
    }
    out->resize(read);
    return true;
  }

 private:
  const LoopbackHttpServer::Response& response_;
  win::ScopedHandle file_;
  uint64_t size_ = 0;
};

// Parses "bytes=N-" (and "bytes=N-M"); false for anything else, which is
// then ignored as servers may.
bool ParseRange(const std::string& value, uint64_t* first, uint64_t* last) {
  const std::string prefix = "bytes=";
  if (value.compare(0, prefix.size(), prefix) != 0)
    return false;
  const std::string bounds = value.substr(prefix.size());
  const size_t dash = bounds.find('-');
  if (dash == std::string::npos || dash == 0 ||
      !StringToUint64(bounds.substr(0, dash), first)) {
    return false;
  }
  *last = UINT64_MAX;
  const std::string end = bounds.substr(dash + 1);
  if (end.empty())
    return true;
  return StringToUint64(end, last) && *last >= *first;
}

// Sends nothing more and keeps the connection until the client closes or
// resets it, or the server stops.
void HoldSilently(SOCKET socket, const std::atomic<bool>& stopping) {
  char buffer[4096];
  while (WaitReady(socket, false, stopping, 0)) {
    const int n = ::recv(socket, buffer, sizeof(buffer), 0);
    if (n == 0 || (n < 0 && ::WSAGetLastError() != WSAEWOULDBLOCK))
      break;
  }
  ::closesocket(socket);
}

void CloseGracefully(SOCKET socket) {
  ::shutdown(socket, SD_SEND);
  ::closesocket(socket);
}

// A zero linger time makes closesocket() send a reset.
void CloseWithReset(SOCKET socket) {
  linger option = {1, 0};
  ::setsockopt(socket, SOL_SOCKET, SO_LINGER,
               reinterpret_cast<const char*>(&option), sizeof(option));
  ::closesocket(socket);
}

}  // namespace

std::string LoopbackHttpServer::Request::Header(const std::string& name) const {
  return HeaderValue(headers, name);
}

LoopbackHttpServer::LoopbackHttpServer() : listener_(INVALID_SOCKET) {}

LoopbackHttpServer::~LoopbackHttpServer() {
  stopping_ = true;
  thread_.reset();
  std::vector<std::unique_ptr<TestThread>> threads;
  {
    AutoLock lock(lock_);
    threads.swap(connection_threads_);
  }
  threads.clear();
  if (listener_ != INVALID_SOCKET)
    ::closesocket(listener_);
  if (winsock_started_)
    ::WSACleanup();
}

bool LoopbackHttpServer::Start() {
  WSADATA data;
  if (::WSAStartup(MAKEWORD(2, 2), &data) != 0)
    return false;
  winsock_started_ = true;
  const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == INVALID_SOCKET)
    return false;
  listener_ = listener;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  int length = sizeof(address);
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address),
             sizeof(address)) != 0 ||
      ::listen(listener, SOMAXCONN) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) !=
          0) {
    return false;
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::make_unique<TestThread>([this] { Run(); });
  return true;
}

std::wstring LoopbackHttpServer::Url(const std::string& target) const {
  return UTF8ToWide(StringPrintf("http://127.0.0.1:%u", port_) + target);
}

void LoopbackHttpServer::Serve(const std::string& target,
                               int status,
                               const std::string& body) {
  Response response;
  response.status = status;
  response.body = body;
  Script(target, {std::move(response)});
}

void LoopbackHttpServer::Redirect(const std::string& target,
                                  const std::string& location,
                                  int status) {
  Response response;
  response.status = status;
  response.location = location;
  Script(target, {std::move(response)});
}

void LoopbackHttpServer::Script(const std::string& target,
                                std::vector<Response> responses) {
  AutoLock lock(lock_);
  Scripted& scripted = scripts_[target];
  scripted.responses = std::move(responses);
  scripted.next = 0;
}

// static
std::string LoopbackHttpServer::Bytes(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  // Each 4-byte word is a hash of its own offset, so any piece can be made
  // on its own and no two pieces of a body look alike.
  for (size_t offset = 0; offset < size; offset += 4) {
    uint32_t x = static_cast<uint32_t>(offset / 4) * 0x9E3779B9u ^
                 (seed * 0x85EBCA6Bu + 0x6A09E667u);
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    x *= 0x2C1B3C6Du;
    x ^= x >> 15;
    memcpy(&bytes[offset], &x, std::min<size_t>(4, size - offset));
  }
  return bytes;
}

std::vector<LoopbackHttpServer::Request> LoopbackHttpServer::requests() const {
  AutoLock lock(lock_);
  return requests_;
}

std::vector<LoopbackHttpServer::Request> LoopbackHttpServer::RequestsFor(
    const std::string& target) const {
  AutoLock lock(lock_);
  std::vector<Request> result;
  for (const Request& request : requests_) {
    if (request.target == target)
      result.push_back(request);
  }
  return result;
}

void LoopbackHttpServer::AnswerQueriesByPath() {
  AutoLock lock(lock_);
  queries_by_path_ = true;
}

void LoopbackHttpServer::SetRequestObserver(
    std::function<void(const Request&)> observer) {
  AutoLock lock(lock_);
  observer_ = std::move(observer);
}

LoopbackHttpServer::Response LoopbackHttpServer::NextResponse(
    const std::string& target) {
  AutoLock lock(lock_);
  auto found = scripts_.find(target);
  const size_t query = target.find('?');
  if (found == scripts_.end() && queries_by_path_ &&
      query != std::string::npos) {
    found = scripts_.find(target.substr(0, query));
  }
  if (found == scripts_.end() || found->second.responses.empty()) {
    Response missing;
    missing.status = 404;
    return missing;
  }
  Scripted& scripted = found->second;
  const size_t index = std::min(scripted.next, scripted.responses.size() - 1);
  if (scripted.next < scripted.responses.size())
    ++scripted.next;
  return scripted.responses[index];
}

void LoopbackHttpServer::Run() {
  while (!stopping_) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(static_cast<SOCKET>(listener_), &readable);
    timeval timeout = {0, kPollMicroseconds};
    if (::select(0, &readable, nullptr, nullptr, &timeout) <= 0)
      continue;
    const SOCKET connection = ::accept(listener_, nullptr, nullptr);
    if (connection == INVALID_SOCKET)
      continue;
    AutoLock lock(lock_);
    // A long-running server sees many connections: forget the threads that
    // have ended.
    connection_threads_.erase(
        std::remove_if(connection_threads_.begin(), connection_threads_.end(),
                       [](const std::unique_ptr<TestThread>& thread) {
                         return ::WaitForSingleObject(thread->handle(), 0) ==
                                WAIT_OBJECT_0;
                       }),
        connection_threads_.end());
    const uintptr_t socket = connection;
    connection_threads_.push_back(std::make_unique<TestThread>(
        [this, socket] { HandleConnection(socket); }));
  }
}

void LoopbackHttpServer::HandleConnection(uintptr_t connection) {
  const SOCKET socket = connection;
  u_long non_blocking = 1;
  ::ioctlsocket(socket, FIONBIO, &non_blocking);

  std::string received;
  size_t header_end = std::string::npos;
  size_t content_length = 0;
  const ULONGLONG deadline = ::GetTickCount64() + kReceiveTimeoutMs;
  char buffer[4096];
  for (;;) {
    if (header_end == std::string::npos) {
      header_end = received.find("\r\n\r\n");
      if (header_end != std::string::npos) {
        const std::string length =
            HeaderValue(received.substr(0, header_end + 2), "Content-Length");
        if (!length.empty() && !StringToSizeT(length, &content_length)) {
          CloseGracefully(socket);
          return;
        }
      }
    }
    if (header_end != std::string::npos &&
        received.size() >= header_end + 4 + content_length) {
      break;
    }
    if (received.size() > kMaxRequestSize || content_length > kMaxRequestSize) {
      CloseGracefully(socket);
      return;
    }
    const int n = ::recv(socket, buffer, sizeof(buffer), 0);
    if (n > 0) {
      received.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n == 0 || ::WSAGetLastError() != WSAEWOULDBLOCK ||
        !WaitReady(socket, false, stopping_, deadline)) {
      ::closesocket(socket);
      return;
    }
  }

  Request request;
  const size_t line_end = received.find("\r\n");
  request.request_line = received.substr(0, line_end);
  const size_t first_space = request.request_line.find(' ');
  const size_t second_space =
      first_space == std::string::npos
          ? std::string::npos
          : request.request_line.find(' ', first_space + 1);
  if (second_space == std::string::npos) {
    const std::string answer =
        "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n"
        "Connection: close\r\n\r\n";
    SendAll(socket, answer.data(), answer.size(), stopping_);
    CloseGracefully(socket);
    return;
  }
  request.method = request.request_line.substr(0, first_space);
  request.target = request.request_line.substr(first_space + 1,
                                               second_space - first_space - 1);
  request.headers = received.substr(line_end + 2, header_end - line_end);
  request.body = received.substr(header_end + 4, content_length);

  Response response = NextResponse(request.target);
  std::function<void(const Request&)> observer;
  {
    AutoLock lock(lock_);
    requests_.push_back(request);
    observer = observer_;
  }
  if (observer)
    observer(request);

  if (response.hold_after == 0)
    WaitForFile(response.hold_until_file, stopping_);
  if (response.silent) {
    HoldSilently(socket, stopping_);
    return;
  }
  if (response.endless_header) {
    const std::string head = "HTTP/1.1 201 Created\r\nX-Padding: ";
    if (SendAll(socket, head.data(), head.size(), stopping_)) {
      while (Pause(response.trickle_pause_ms, stopping_) &&
             SendAll(socket, "a", 1, stopping_)) {
      }
    }
    ::closesocket(socket);
    return;
  }
  if (!response.raw.empty()) {
    if (SendAll(socket, response.raw.data(), response.raw.size(), stopping_))
      CloseGracefully(socket);
    else
      ::closesocket(socket);
    return;
  }

  BodySource source(response);
  if (!source.Open()) {
    response = Response();
    response.status = 404;
  }
  int status = response.status;
  uint64_t first = 0;
  uint64_t end = source.size();
  std::string range_header;
  uint64_t range_first = 0;
  uint64_t range_last = 0;
  if (status == 200 && response.honour_range &&
      ParseRange(request.Header("Range"), &range_first, &range_last)) {
    if (range_first >= source.size()) {
      status = 416;
      end = 0;
      range_header =
          StringPrintf("Content-Range: bytes */%llu\r\n",
                       static_cast<unsigned long long>(source.size()));
    } else {
      status = 206;
      first = range_first;
      end = std::min(source.size(),
                     range_last == UINT64_MAX ? source.size() : range_last + 1);
      range_header =
          StringPrintf("Content-Range: bytes %llu-%llu/%llu\r\n",
                       static_cast<unsigned long long>(first),
                       static_cast<unsigned long long>(end - 1),
                       static_cast<unsigned long long>(source.size()));
    }
  }
  const bool no_body = status == 204 || status == 304 ||
                       (status >= 100 && status < 200) ||
                       EqualsCaseInsensitiveASCII(request.method, "HEAD");
  const uint64_t length = end - first;

  std::string head =
      StringPrintf("HTTP/1.1 %d %s\r\n", status, ReasonPhrase(status));
  if (!response.location.empty())
    head += "Location: " + response.location + "\r\n";
  head += range_header;
  if (response.content_length && status != 204 && status != 304) {
    head += StringPrintf("Content-Length: %llu\r\n",
                         static_cast<unsigned long long>(length));
  }
  if (status == 200 && response.honour_range)
    head += "Accept-Ranges: bytes\r\n";
  for (const auto& header : response.headers)
    head += header.first + ": " + header.second + "\r\n";
  head += "Connection: close\r\n\r\n";
  if (!SendAll(socket, head.data(), head.size(), stopping_)) {
    ::closesocket(socket);
    return;
  }

  const uint64_t to_send = no_body ? 0 : length;
  const size_t cut = std::min(response.close_after, response.reset_after);
  const bool reset = response.reset_after <= response.close_after;
  const size_t piece =
      response.trickle_bytes ? response.trickle_bytes : kSendChunk;
  uint64_t sent = 0;
  bool released = false;
  std::string chunk;
  for (;;) {
    if (response.stall_after != kNever && sent >= response.stall_after) {
      HoldSilently(socket, stopping_);
      return;
    }
    if (sent >= to_send || (cut != kNever && sent >= cut))
      break;
    // The hold is at an offset of the whole body, so a ranged request past
    // it is held too. Held, the body creeps on a byte at a time: the client
    // keeps seeing progress, and no time-out of its own ends the request.
    bool holding = false;
    if (response.hold_after && !released) {
      released = first + sent < response.hold_after
                     ? false
                     : ::GetFileAttributesW(
                           response.hold_until_file.c_str()) !=
                           INVALID_FILE_ATTRIBUTES;
      holding = first + sent >= response.hold_after && !released;
    }
    uint64_t want = std::min<uint64_t>(holding ? 1 : piece, to_send - sent);
    if (response.hold_after && !released && first + sent < response.hold_after)
      want = std::min<uint64_t>(want, response.hold_after - (first + sent));
    if (cut != kNever)
      want = std::min<uint64_t>(want, cut - sent);
    if (response.stall_after != kNever)
      want = std::min<uint64_t>(want, response.stall_after - sent);
    if (!source.Read(first + sent, static_cast<size_t>(want), &chunk) ||
        chunk.empty() ||
        !SendAll(socket, chunk.data(), chunk.size(), stopping_)) {
      ::closesocket(socket);
      return;
    }
    sent += chunk.size();
    if (holding && !Pause(kHoldCreepMs, stopping_)) {
      ::closesocket(socket);
      return;
    }
    if (!holding && response.trickle_bytes && sent < to_send &&
        !Pause(response.trickle_pause_ms, stopping_)) {
      ::closesocket(socket);
      return;
    }
  }
  if (cut != kNever && sent >= cut && reset) {
    // Under Wine a reset that arrives before the client has read what came
    // ahead of it reads as an orderly end: the connection drops while the
    // client waits for more, as it does on a real network.
    Pause(kResetDelayMs, stopping_);
    CloseWithReset(socket);
  } else
    CloseGracefully(socket);
}

}  // namespace base
