#ifndef CRASH_UTIL_NET_HTTP_TRANSPORT_H_
#define CRASH_UTIL_NET_HTTP_TRANSPORT_H_

#include <map>
#include <memory>
#include <string>

#include "crash/util/net/http_body.h"

namespace crash_reporter {

// One HTTP request, sent synchronously: the crash upload's road to the
// server.
class HTTPTransport {
 public:
  virtual ~HTTPTransport();

  HTTPTransport(const HTTPTransport&) = delete;
  HTTPTransport& operator=(const HTTPTransport&) = delete;

  // A new transport of this platform, owned by the caller.
  static std::unique_ptr<HTTPTransport> Create();

  // The URL, UTF-8.
  void SetURL(const std::string& url);
  // "POST" unless changed.
  void SetMethod(const std::string& method);
  // Replaces a header of the same name.
  void SetHeader(const std::string& header, const std::string& value);
  // The request body; a stream set earlier is destroyed.
  void SetBodyStream(std::unique_ptr<HTTPBodyStream> stream);
  // Applies to resolving, connecting, sending and receiving alike.
  void SetTimeout(double timeout_seconds);
  // Bounds the request as a whole, whatever the server does (takes the
  // body and never answers, or answers a byte at a time): once it has
  // passed, the request is cancelled and fails. The reporter must end.
  void SetTotalTimeout(double total_timeout_seconds);

  // True when the request was sent and the server answered 200; then
  // |response_body|, when given, holds the answer's body. Every failure is
  // logged once.
  virtual bool ExecuteSynchronously(std::string* response_body) = 0;

  // True when the last request's body was to go in chunks and WinHTTP
  // announced a length of its own for it instead: this WinHTTP cannot send
  // chunks, and the server got no body. The body may go again with its
  // length.
  bool chunks_not_carried() const { return chunks_not_carried_; }

 protected:
  HTTPTransport();

  const std::string& url() const { return url_; }
  const std::string& method() const { return method_; }
  const HTTPHeaders& headers() const { return headers_; }
  HTTPBodyStream* body_stream() const { return body_stream_.get(); }
  double timeout() const { return timeout_; }
  double total_timeout() const { return total_timeout_; }
  void set_chunks_not_carried(bool value) { chunks_not_carried_ = value; }

 private:
  std::string url_;
  std::string method_ = "POST";
  HTTPHeaders headers_;
  std::unique_ptr<HTTPBodyStream> body_stream_;
  double timeout_ = 15.0;
  // Room for a full-sized dump on a slow line.
  double total_timeout_ = 300.0;
  bool chunks_not_carried_ = false;
};

}  // namespace crash_reporter

#endif  // CRASH_UTIL_NET_HTTP_TRANSPORT_H_
