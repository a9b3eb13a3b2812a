#include <winsock2.h>

#include "base/test/loopback_http_server.h"

#include <memory>
#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

struct Reply {
  // Everything received, status line and headers included.
  std::string data;
  // The Winsock error that ended the reply, 0 for an orderly close.
  int error = 0;

  std::string body() const {
    const size_t end = data.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : data.substr(end + 4);
  }
};

// Sends |request| as it is on a fresh connection and reads until the server
// closes it.
Reply Exchange(uint16_t port, const std::string& request) {
  Reply reply;
  SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  EXPECT_NE(INVALID_SOCKET, socket);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  EXPECT_EQ(0, ::connect(socket, reinterpret_cast<sockaddr*>(&address),
                         sizeof(address)));
  EXPECT_EQ(
      static_cast<int>(request.size()),
      ::send(socket, request.data(), static_cast<int>(request.size()), 0));
  char buffer[4096];
  for (;;) {
    const int n = ::recv(socket, buffer, sizeof(buffer), 0);
    if (n > 0) {
      reply.data.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0)
      reply.error = ::WSAGetLastError();
    break;
  }
  ::closesocket(socket);
  return reply;
}

std::string Get(const std::string& target, const std::string& headers = "") {
  return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers +
         "\r\n";
}

class LoopbackHttpServerTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()); }

  LoopbackHttpServer server_;
};

TEST_F(LoopbackHttpServerTest, RangesResumeFromTheOffsetOrAreRefused) {
  const std::string body = LoopbackHttpServer::Bytes(1000, 7);
  server_.Serve("/package", 200, body);
  LoopbackHttpServer::Response ignoring;
  ignoring.body = body;
  ignoring.honour_range = false;
  server_.Script("/ignoring", {ignoring});

  Reply tail =
      Exchange(server_.port(), Get("/package", "Range: bytes=600-\r\n"));
  EXPECT_EQ(0u, tail.data.find("HTTP/1.1 206 Partial Content\r\n"));
  EXPECT_NE(std::string::npos,
            tail.data.find("Content-Range: bytes 600-999/1000\r\n"));
  EXPECT_NE(std::string::npos, tail.data.find("Content-Length: 400\r\n"));
  EXPECT_EQ(body.substr(600), tail.body());

  Reply beyond =
      Exchange(server_.port(), Get("/package", "Range: bytes=1000-\r\n"));
  EXPECT_EQ(0u, beyond.data.find("HTTP/1.1 416 "));
  EXPECT_NE(std::string::npos, beyond.data.find("Content-Range: bytes */1000"));
  EXPECT_EQ("", beyond.body());

  Reply whole =
      Exchange(server_.port(), Get("/ignoring", "Range: bytes=600-\r\n"));
  EXPECT_EQ(0u, whole.data.find("HTTP/1.1 200 OK\r\n"));
  EXPECT_EQ(body, whole.body());
}

TEST_F(LoopbackHttpServerTest, CloseEndsTheBodyShortAndResetFails) {
  const std::string body = LoopbackHttpServer::Bytes(100000);
  LoopbackHttpServer::Response closing;
  closing.body = body;
  closing.close_after = 300;
  LoopbackHttpServer::Response resetting;
  resetting.body = body;
  resetting.reset_after = 300;
  server_.Script("/closing", {closing});
  server_.Script("/resetting", {resetting});

  Reply closed = Exchange(server_.port(), Get("/closing"));
  EXPECT_EQ(0, closed.error);
  EXPECT_NE(std::string::npos, closed.data.find("Content-Length: 100000\r\n"));
  EXPECT_EQ(body.substr(0, 300), closed.body());

  Reply reset = Exchange(server_.port(), Get("/resetting"));
  EXPECT_EQ(WSAECONNRESET, reset.error);
  EXPECT_LE(reset.body().size(), 300u);
}

TEST_F(LoopbackHttpServerTest, ScriptAnswersInTurnThenRepeatsTheLast) {
  LoopbackHttpServer::Response busy;
  busy.status = 503;
  LoopbackHttpServer::Response proxy;
  proxy.status = 407;
  proxy.headers = {{"Proxy-Authenticate", "Basic realm=\"office\""}};
  LoopbackHttpServer::Response good;
  good.body = "done";
  LoopbackHttpServer::Response raw;
  raw.raw = "garbage\r\n";
  server_.Script("/file", {busy, proxy, good});
  server_.Script("/raw", {raw});

  const char* const kExpected[] = {
      "HTTP/1.1 503 Service Unavailable\r\n",
      "HTTP/1.1 407 Proxy Authentication Required\r\n", "HTTP/1.1 200 OK\r\n",
      "HTTP/1.1 200 OK\r\n"};
  for (const char* expected : kExpected) {
    SCOPED_TRACE(expected);
    EXPECT_EQ(0u, Exchange(server_.port(), Get("/file")).data.find(expected));
  }
  EXPECT_NE(std::string::npos,
            Exchange(server_.port(), Get("/file")).data.find("\r\n\r\ndone"));
  EXPECT_EQ("garbage\r\n", Exchange(server_.port(), Get("/raw")).data);
  EXPECT_EQ(0u, Exchange(server_.port(), Get("/unknown"))
                    .data.find("HTTP/1.1 404 Not Found\r\n"));
}

TEST_F(LoopbackHttpServerTest, QueriesAnsweredByPathOnlyWhenAsked) {
  server_.Serve("/metadata", 200, "any");
  server_.Serve("/metadata?a=1", 200, "one");
  EXPECT_EQ(0u, Exchange(server_.port(), Get("/metadata?a=2"))
                    .data.find("HTTP/1.1 404 "));
  server_.AnswerQueriesByPath();
  EXPECT_EQ("any", Exchange(server_.port(), Get("/metadata?a=2")).body());
  EXPECT_EQ("one", Exchange(server_.port(), Get("/metadata?a=1")).body());
  EXPECT_EQ(0u, Exchange(server_.port(), Get("/other?a=1"))
                    .data.find("HTTP/1.1 404 "));
}

TEST_F(LoopbackHttpServerTest, RecordsRequestsWithHeadersAndBody) {
  server_.Serve("/stats", 204, "");
  Reply reply = Exchange(server_.port(),
                         "POST /stats?x=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                         "Content-Type: text/plain\r\nContent-Length: 5\r\n"
                         "\r\nhello");
  EXPECT_EQ(0u, reply.data.find("HTTP/1.1 404 "));
  server_.Serve("/stats?x=1", 204, "ignored");
  reply = Exchange(server_.port(),
                   "POST /stats?x=1 HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc");
  EXPECT_EQ(0u, reply.data.find("HTTP/1.1 204 No Content\r\n"));
  EXPECT_EQ("", reply.body());

  const auto requests = server_.RequestsFor("/stats?x=1");
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ("POST /stats?x=1 HTTP/1.1", requests[0].request_line);
  EXPECT_EQ("POST", requests[0].method);
  EXPECT_EQ("text/plain", requests[0].Header("content-type"));
  EXPECT_EQ("hello", requests[0].body);
  EXPECT_EQ("abc", requests[1].body);
  EXPECT_EQ(2u, server_.requests().size());
}

// A client that stops reading must not keep the server's destruction
// waiting for a trickling answer.
TEST(LoopbackHttpServerStopTest, DestructionCutsATricklingAnswer) {
  // The client's socket must outlive the server's use of Winsock.
  WSADATA data;
  ASSERT_EQ(0, ::WSAStartup(MAKEWORD(2, 2), &data));
  auto server = std::make_unique<LoopbackHttpServer>();
  ASSERT_TRUE(server->Start());
  LoopbackHttpServer::Response slow;
  slow.body = std::string(100, 'x');
  slow.trickle_bytes = 1;
  slow.trickle_pause_ms = 60000;
  server->Script("/slow", {slow});

  SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(server->port());
  ASSERT_EQ(0, ::connect(socket, reinterpret_cast<sockaddr*>(&address),
                         sizeof(address)));
  const std::string request = Get("/slow");
  ::send(socket, request.data(), static_cast<int>(request.size()), 0);
  // The first byte of the body is on its way once the head has come.
  std::string received;
  char buffer[4096];
  while (received.find("\r\n\r\nx") == std::string::npos) {
    const int n = ::recv(socket, buffer, sizeof(buffer), 0);
    ASSERT_GT(n, 0);
    received.append(buffer, static_cast<size_t>(n));
  }

  server.reset();
  int n;
  while ((n = ::recv(socket, buffer, sizeof(buffer), 0)) > 0)
    received.append(buffer, static_cast<size_t>(n));
  EXPECT_NE(SOCKET_ERROR, n) << ::WSAGetLastError();
  ::closesocket(socket);
  ::WSACleanup();
  EXPECT_LT(received.size() - received.find("\r\n\r\n") - 4, 100u);
}

TEST(LoopbackHttpServerBytesTest, ReproducibleAndDifferentPerOffsetAndSeed) {
  const std::string bytes = LoopbackHttpServer::Bytes(4096, 1);
  EXPECT_EQ(bytes, LoopbackHttpServer::Bytes(4096, 1));
  EXPECT_EQ(bytes.substr(0, 1001), LoopbackHttpServer::Bytes(1001, 1));
  EXPECT_NE(bytes, LoopbackHttpServer::Bytes(4096, 2));
  EXPECT_NE(bytes.substr(0, 2048), bytes.substr(2048));
}

}  // namespace
}  // namespace base
