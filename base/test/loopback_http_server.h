#ifndef BASE_TEST_LOOPBACK_HTTP_SERVER_H_
#define BASE_TEST_LOOPBACK_HTTP_SERVER_H_

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/synchronization/lock.h"

namespace base {

class TestThread;

// A scripted HTTP/1.1 server on 127.0.0.1 for tests of code that downloads,
// standing in for the update service: it listens on a port the system picks,
// answers each connection on a thread of its own (one request per
// connection, closed after the answer) and records every request. Targets
// (path plus query, as sent) that were not configured get 404.
//
//   LoopbackHttpServer server;
//   ASSERT_TRUE(server.Start());
//   server.Serve("/prefs", 200, "{}");
//   Download(server.Url("/prefs"));
//
// A target can be given a script: a sequence of answers used in turn, the
// last one repeating, each able to misbehave the ways a network does.
class LoopbackHttpServer {
 public:
  static constexpr size_t kNever = static_cast<size_t>(-1);

  struct Request {
    // "GET /path HTTP/1.1", as received.
    std::string request_line;
    std::string method;
    std::string target;
    // The header lines as received, each ending in "\r\n".
    std::string headers;
    std::string body;

    // The value of header |name| (case-insensitive), or "".
    std::string Header(const std::string& name) const;
  };

  // One answer of a script.
  struct Response {
    int status = 200;
    std::string body;
    // When not empty, the body is this file instead of |body|, read in
    // pieces while it is sent (packages too big to hold in memory). A file
    // that cannot be read gets 404.
    std::wstring body_file;
    // Further header lines, sent in this order after the usual ones.
    std::vector<std::pair<std::string, std::string>> headers;
    // Sends a Location header (redirects).
    std::string location;
    // Sends Content-Length with the length of what is sent.
    bool content_length = true;
    // A 200 to a request with "Range: bytes=N-" becomes 206 with the body
    // from N on and a Content-Range header; false sends the whole body with
    // the scripted status, as a server that ignores ranges does.
    bool honour_range = true;
    // After this many bytes of the (possibly ranged) body the connection is
    // closed in an orderly way (the client sees a short body) ...
    size_t close_after = kNever;
    // ... or reset (the client sees a connection reset; the reset waits a
    // moment so that the client has read what came before it).
    size_t reset_after = kNever;
    // The body goes out in pieces of this many bytes with this pause
    // between them; 0 sends it at once. Stops early when the server is
    // destroyed or the client has gone.
    size_t trickle_bytes = 0;
    uint32_t trickle_pause_ms = 0;
    // After this many bytes of the body (0: right after the head) nothing
    // more is sent: the connection stays open, silent, until the client
    // goes or the server is destroyed, as a stalled server's does.
    size_t stall_after = kNever;
    // Takes the request and never answers: not even the head is sent; the
    // connection is held as with |stall_after|.
    bool silent = false;
    // When not empty, the answer is held until this file exists or the
    // server stops: a test holds it until it has done what needs the client
    // waiting, whatever the machine's load. With |hold_after| 0 nothing is
    // sent meanwhile, not even the head; otherwise the body from that
    // offset on creeps, a byte every half second.
    std::wstring hold_until_file;
    size_t hold_after = 0;
    // When not empty, sent verbatim instead of the status line, headers and
    // body built from the fields above (malformed replies).
    std::string raw;
    // Sends the status line and then one header line that never ends, a
    // byte every |trickle_pause_ms|, until the client goes or the server is
    // destroyed: a client waiting for the head waits for ever, and never
    // for long enough to trip a receive time-out.
    bool endless_header = false;
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
  // Answers the requests for |target| with |responses| in turn; once they
  // are used up the last one answers every further request.
  void Script(const std::string& target, std::vector<Response> responses);
  // From now on a target with a query that has no answers of its own is
  // answered as its path, as a service reads its query itself.
  void AnswerQueriesByPath();

  // |size| bytes of reproducible data that differs from offset to offset,
  // so that a wrongly resumed download cannot pass for a good one.
  static std::string Bytes(size_t size, uint32_t seed = 0);

  // The requests answered so far, in order; or only those for |target|.
  std::vector<Request> requests() const;
  std::vector<Request> RequestsFor(const std::string& target) const;

  // |observer| sees every request, on the connection's thread, before it is
  // answered (a request log of a standalone server). Set it before Start().
  void SetRequestObserver(std::function<void(const Request&)> observer);

 private:
  struct Scripted {
    std::vector<Response> responses;
    size_t next = 0;
  };

  void Run();
  void HandleConnection(uintptr_t connection);
  // The answer for the next request for |target|.
  Response NextResponse(const std::string& target);

  uintptr_t listener_;
  uint16_t port_ = 0;
  bool winsock_started_ = false;
  std::atomic<bool> stopping_{false};
  std::unique_ptr<TestThread> thread_;

  mutable Lock lock_;
  std::map<std::string, Scripted> scripts_;
  bool queries_by_path_ = false;
  std::vector<Request> requests_;
  std::vector<std::unique_ptr<TestThread>> connection_threads_;
  std::function<void(const Request&)> observer_;
};

}  // namespace base

#endif  // BASE_TEST_LOOPBACK_HTTP_SERVER_H_
