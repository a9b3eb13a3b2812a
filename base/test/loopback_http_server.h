#ifndef BASE_TEST_LOOPBACK_HTTP_SERVER_H_
#define BASE_TEST_LOOPBACK_HTTP_SERVER_H_

#include <stdint.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/synchronization/lock.h"

namespace base {

class TestThread;

// A small HTTP/1.1 server on 127.0.0.1 for tests of code that downloads:
// it listens on a port the system picks, answers one request per connection
// on a thread of its own and closes the connection after each answer.
// Targets (path plus query, as sent) that were not configured get 404.
//
//   LoopbackHttpServer server;
//   ASSERT_TRUE(server.Start());
//   server.Serve("/prefs", 200, "{}");
//   Download(server.Url("/prefs"));
class LoopbackHttpServer {
 public:
  struct Request {
    std::string method;
    std::string target;
    // The header lines as received, each ending in "\r\n".
    std::string headers;
    std::string body;
  };

  LoopbackHttpServer();
  ~LoopbackHttpServer();

  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  // Listens and starts answering; false when no socket could be had.
  bool Start();

  uint16_t port() const { return port_; }
  // "http://127.0.0.1:<port>" + |target|.
  std::wstring Url(const std::string& target) const;

  // Answers |target| with |status| and |body|, whatever the method.
  void Serve(const std::string& target, int status, const std::string& body);
  // Answers |target| with |status| and a Location header.
  void Redirect(const std::string& target,
                const std::string& location,
                int status = 302);

  // The requests answered so far, in order.
  std::vector<Request> requests() const;

 private:
  struct Response {
    int status = 404;
    std::string body;
    std::string location;
  };

  void Run();
  void HandleConnection(uintptr_t connection);

  uintptr_t listener_;
  uint16_t port_ = 0;
  bool winsock_started_ = false;
  std::atomic<bool> stopping_{false};
  std::unique_ptr<TestThread> thread_;

  mutable Lock lock_;
  std::map<std::string, Response> responses_;
  std::vector<Request> requests_;
};

}  // namespace base

#endif  // BASE_TEST_LOOPBACK_HTTP_SERVER_H_
