#include <winsock2.h>
#include <ws2tcpip.h>

#include "base/test/loopback_http_server.h"

#include <stdlib.h>

#include <utility>

#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/test_thread.h"

namespace base {

namespace {

// How long the accept loop sleeps before it looks at the stop flag again,
// and how long a connection may keep the server waiting for its request.
constexpr long kPollMicroseconds = 50 * 1000;
constexpr DWORD kReceiveTimeoutMs = 5000;
// Requests of the tests are small; anything bigger is a broken client.
constexpr size_t kMaxRequestSize = 1024 * 1024;

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 206:
      return "Partial Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 307:
      return "Temporary Redirect";
    case 404:
      return "Not Found";
    default:
      return "Status";
  }
}

bool SendAll(SOCKET socket, const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    const int n = ::send(socket, data.data() + sent,
                         static_cast<int>(data.size() - sent), 0);
    if (n <= 0)
      return false;
    sent += static_cast<size_t>(n);
  }
  return true;
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
      while (value < line.size() && line[value] == ' ')
        ++value;
      return line.substr(value);
    }
    start = end + 2;
  }
  return std::string();
}

}  // namespace

LoopbackHttpServer::LoopbackHttpServer() : listener_(INVALID_SOCKET) {}

LoopbackHttpServer::~LoopbackHttpServer() {
  stopping_ = true;
  thread_.reset();
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
  AutoLock lock(lock_);
  Response& response = responses_[target];
  response.status = status;
  response.body = body;
  response.location.clear();
}

void LoopbackHttpServer::Redirect(const std::string& target,
                                  const std::string& location,
                                  int status) {
  AutoLock lock(lock_);
  Response& response = responses_[target];
  response.status = status;
  response.body.clear();
  response.location = location;
}

std::vector<LoopbackHttpServer::Request> LoopbackHttpServer::requests() const {
  AutoLock lock(lock_);
  return requests_;
}

void LoopbackHttpServer::Run() {
  // select() with a time limit instead of a blocking accept, so that the
  // destructor only has to raise the flag.
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
    HandleConnection(connection);
    ::closesocket(connection);
  }
}

void LoopbackHttpServer::HandleConnection(uintptr_t connection) {
  const SOCKET socket = connection;
  DWORD timeout = kReceiveTimeoutMs;
  ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO,
               reinterpret_cast<const char*>(&timeout), sizeof(timeout));

  std::string received;
  size_t header_end = std::string::npos;
  size_t content_length = 0;
  char buffer[4096];
  for (;;) {
    if (header_end == std::string::npos) {
      header_end = received.find("\r\n\r\n");
      if (header_end != std::string::npos) {
        content_length = static_cast<size_t>(strtoul(
            HeaderValue(received.substr(0, header_end + 2), "Content-Length")
                .c_str(),
            nullptr, 10));
      }
    }
    if (header_end != std::string::npos &&
        received.size() >= header_end + 4 + content_length) {
      break;
    }
    if (received.size() > kMaxRequestSize)
      return;
    const int n = ::recv(socket, buffer, sizeof(buffer), 0);
    if (n <= 0)
      return;
    received.append(buffer, static_cast<size_t>(n));
  }

  Request request;
  const size_t line_end = received.find("\r\n");
  const std::string request_line = received.substr(0, line_end);
  const size_t first_space = request_line.find(' ');
  const size_t second_space = request_line.find(' ', first_space + 1);
  if (first_space == std::string::npos || second_space == std::string::npos)
    return;
  request.method = request_line.substr(0, first_space);
  request.target =
      request_line.substr(first_space + 1, second_space - first_space - 1);
  request.headers = received.substr(line_end + 2, header_end - line_end);
  request.body = received.substr(header_end + 4, content_length);

  Response response;
  {
    AutoLock lock(lock_);
    auto found = responses_.find(request.target);
    if (found != responses_.end())
      response = found->second;
    requests_.push_back(std::move(request));
  }

  std::string answer = StringPrintf("HTTP/1.1 %d %s\r\n", response.status,
                                    ReasonPhrase(response.status));
  if (!response.location.empty())
    answer += "Location: " + response.location + "\r\n";
  answer += StringPrintf("Content-Length: %u\r\n",
                         static_cast<unsigned>(response.body.size()));
  answer += "Connection: close\r\n\r\n";
  answer += response.body;
  if (SendAll(socket, answer))
    ::shutdown(socket, SD_SEND);
}

}  // namespace base
