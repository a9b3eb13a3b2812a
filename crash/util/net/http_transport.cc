#include "crash/util/net/http_transport.h"

#include <utility>

namespace crash_reporter {

HTTPTransport::HTTPTransport() = default;

HTTPTransport::~HTTPTransport() = default;

void HTTPTransport::SetURL(const std::string& url) {
  url_ = url;
}

void HTTPTransport::SetMethod(const std::string& method) {
  method_ = method;
}

void HTTPTransport::SetHeader(const std::string& header,
                              const std::string& value) {
  headers_[header] = value;
}

void HTTPTransport::SetBodyStream(std::unique_ptr<HTTPBodyStream> stream) {
  body_stream_ = std::move(stream);
}

void HTTPTransport::SetTimeout(double timeout_seconds) {
  timeout_ = timeout_seconds;
}

void HTTPTransport::SetTotalTimeout(double total_timeout_seconds) {
  total_timeout_ = total_timeout_seconds;
}

}  // namespace crash_reporter
