#include "crash/util/net/http_transport_win.h"

#include <windows.h>
#include <winhttp.h>

#include <string.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/loopback_http_server.h"
#include "base/test/scoped_log_lines.h"
#include "base/test/test_thread.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

using internal::GetBodyFraming;
using internal::SendBody;

bool StartsWith(const std::string& text, const std::string& prefix) {
  return base::StartsWith(text, prefix, base::CompareCase::SENSITIVE);
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Gives its bytes in pieces no larger than |piece|, then ends or fails.
class PiecewiseBodyStream : public HTTPBodyStream {
 public:
  PiecewiseBodyStream(std::string data, size_t piece, bool fail_at_end)
      : data_(std::move(data)), piece_(piece), fail_at_end_(fail_at_end) {}

  int64_t GetBytesBuffer(uint8_t* buffer, size_t max_len) override {
    ++calls_;
    const size_t count = std::min({max_len, piece_, data_.size() - position_});
    if (count == 0)
      return fail_at_end_ ? -1 : 0;
    memcpy(buffer, data_.data() + position_, count);
    position_ += count;
    return static_cast<int64_t>(count);
  }

  int calls_ = 0;

 private:
  const std::string data_;
  const size_t piece_;
  const bool fail_at_end_;
  size_t position_ = 0;
};

// Each write as WinHttpWriteData would receive it; write number
// |fail_on_write| (counting from 1) fails.
struct WriteRecorder {
  internal::BodyWriter Writer() {
    return [this](const void* data, size_t size) {
      writes.emplace_back(static_cast<const char*>(data), size);
      return writes.size() != fail_on_write;
    };
  }
  std::vector<std::string> writes;
  size_t fail_on_write = 0;
};

std::string Chunk(const char* length, const std::string& bytes) {
  return std::string(length) + "\r\n" + bytes + "\r\n";
}

TEST(HTTPTransportBodyTest, ChunkedFramesEachPieceAsOneWrite) {
  StringHTTPBodyStream five("abcde");
  WriteRecorder recorder;
  ASSERT_TRUE(SendBody(&five, true, recorder.Writer()));
  EXPECT_EQ(
      (std::vector<std::string>{"00000005\r\nabcde\r\n", "00000000\r\n\r\n"}),
      recorder.writes);

  // Pieces are capped at 32768 bytes whatever the stream could give.
  const std::string data = base::LoopbackHttpServer::Bytes(70000, 7);
  PiecewiseBodyStream large(data, 40000, false);
  WriteRecorder large_recorder;
  ASSERT_TRUE(SendBody(&large, true, large_recorder.Writer()));
  EXPECT_EQ((std::vector<std::string>{
                Chunk("00008000", data.substr(0, 32768)),
                Chunk("00008000", data.substr(32768, 32768)),
                Chunk("00001170", data.substr(65536)), Chunk("00000000", "")}),
            large_recorder.writes);

  // No body at all is the last chunk alone.
  WriteRecorder empty;
  ASSERT_TRUE(SendBody(nullptr, true, empty.Writer()));
  EXPECT_EQ(std::vector<std::string>{"00000000\r\n\r\n"}, empty.writes);
}

TEST(HTTPTransportBodyTest, KnownLengthWritesBytesAsTheyAre) {
  const std::string data = base::LoopbackHttpServer::Bytes(70000, 3);
  PiecewiseBodyStream stream(data, 70000, false);
  WriteRecorder recorder;
  ASSERT_TRUE(SendBody(&stream, false, recorder.Writer()));
  // Nothing marks the end.
  EXPECT_EQ(
      (std::vector<std::string>{data.substr(0, 32768),
                                data.substr(32768, 32768), data.substr(65536)}),
      recorder.writes);
}

TEST(HTTPTransportBodyTest, FailuresStopTheBody) {
  // A stream failing part-way: no last chunk goes out, so the server cannot
  // take the cut body for a whole one.
  PiecewiseBodyStream failing("0123456789", 4, true);
  WriteRecorder recorder;
  EXPECT_FALSE(SendBody(&failing, true, recorder.Writer()));
  EXPECT_EQ((std::vector<std::string>{Chunk("00000004", "0123"),
                                      Chunk("00000004", "4567"),
                                      Chunk("00000002", "89")}),
            recorder.writes);

  // A failed write asks the stream for nothing more.
  PiecewiseBodyStream stream(std::string(100, 'x'), 10, false);
  WriteRecorder failing_writes;
  failing_writes.fail_on_write = 2;
  EXPECT_FALSE(SendBody(&stream, false, failing_writes.Writer()));
  EXPECT_EQ(2, stream.calls_);
}

TEST(HTTPTransportBodyTest, FramingFollowsTheHeaders) {
  EXPECT_TRUE(GetBodyFraming({{"Content-Type", "text/plain"}}).chunked);

  internal::BodyFraming framing =
      GetBodyFraming({{"Content-Length", "5000000000"}});
  EXPECT_TRUE(framing.valid);
  EXPECT_FALSE(framing.chunked);
  EXPECT_EQ(5000000000u, framing.length);

  // Header names are case-blind.
  framing = GetBodyFraming({{"content-length", "12"}});
  EXPECT_TRUE(framing.valid && !framing.chunked && framing.length == 12);

  // Nothing that would go out beside "Transfer-Encoding: chunked" or split
  // into further header lines.
  base::ScopedLogLines log(base::logging::LOG_ERROR, base::logging::LOG_ERROR);
  EXPECT_FALSE(GetBodyFraming({{"Content-Length", "12x"}}).valid);
  EXPECT_FALSE(GetBodyFraming({{"Content-Length", "-1"}}).valid);
  EXPECT_FALSE(
      GetBodyFraming({{"Content-Length", "1"}, {"content-length", "1"}}).valid);
  EXPECT_FALSE(GetBodyFraming({{"X-Key", "a\r\nHost: elsewhere"}}).valid);
  EXPECT_FALSE(GetBodyFraming({{"X-Key\n", "a"}}).valid);
  EXPECT_EQ(5u, log.lines().size()) << log.text();
}

TEST(HTTPTransportErrorLineTest, NamesTheFunctionAndTheError) {
  // A WinHTTP code: winhttp.dll's text where it has one (Wine's has none),
  // else the error of the lookup.
  const std::string line = internal::WinHttpErrorLine(
      "WinHttpConnect", ERROR_WINHTTP_CANNOT_CONNECT);
  EXPECT_TRUE(StartsWith(line, "WinHttpConnect: ")) << line;
  EXPECT_TRUE(EndsWith(line, " while retrieving error 0x2efd") ||
              (EndsWith(line, " (0x2efd)") &&
               line.size() > strlen("WinHttpConnect:  (0x2efd)")))
      << line;

  // A system code: one line, its trailing blank gone.
  const std::string system_line =
      internal::WinHttpErrorLine("WinHttpOpen", ERROR_ACCESS_DENIED);
  ASSERT_TRUE(EndsWith(system_line, " (0x5)")) << system_line;
  ASSERT_GT(system_line.size(), strlen("WinHttpOpen: x (0x5)"));
  EXPECT_NE(' ', system_line[system_line.size() - 7]) << system_line;
  EXPECT_EQ(std::string::npos, system_line.find_first_of("\r\n"));

  const std::string unknown =
      internal::WinHttpErrorLine("WinHttpReadData", 0x7ffffff1);
  EXPECT_TRUE(StartsWith(unknown, "WinHttpReadData: error 0x")) << unknown;
  EXPECT_TRUE(EndsWith(unknown, " while retrieving error 0x7ffffff1"))
      << unknown;
}

class HTTPTransportLoopbackTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()); }

  std::string Url(const std::string& target) const {
    return base::WideToUTF8(server_.Url(target));
  }

  base::LoopbackHttpServer server_;
};

TEST_F(HTTPTransportLoopbackTest, UploadWithKnownLengthArrivesWhole) {
  // Several pieces of body, and an answer longer than one read.
  const std::string body = base::LoopbackHttpServer::Bytes(100000, 11);
  const std::string answer = base::LoopbackHttpServer::Bytes(10000, 12);
  server_.Serve("/upload?product=x", 200, answer);

  std::unique_ptr<HTTPTransport> transport = HTTPTransport::Create();
  transport->SetURL(Url("/upload?product=x#section"));
  transport->SetHeader("Content-Type", "multipart/form-data; boundary=b");
  transport->SetHeader("Content-Length", std::to_string(body.size()));
  transport->SetBodyStream(
      std::make_unique<PiecewiseBodyStream>(body, 50000, false));
  std::string response = "left over";
  ASSERT_TRUE(transport->ExecuteSynchronously(&response));
  EXPECT_TRUE(answer == response);

  // The fragment stayed behind; everything else arrived as set.
  const auto requests = server_.RequestsFor("/upload?product=x");
  ASSERT_EQ(1u, requests.size()) << server_.requests()[0].target;
  EXPECT_EQ("POST", requests[0].method);
  EXPECT_TRUE(requests[0].body == body) << requests[0].body.size();
  EXPECT_EQ("multipart/form-data; boundary=b",
            requests[0].Header("Content-Type"));
  EXPECT_EQ("100000", requests[0].Header("Content-Length"));
  EXPECT_EQ("", requests[0].Header("Transfer-Encoding"));
  // Wine's kernel32.dll names no operating system, so there the user agent
  // ends after WinHTTP's version.
  const std::string user_agent = requests[0].Header("User-Agent");
  EXPECT_TRUE(StartsWith(user_agent, "Daskrell/0.8.0 WinHTTP")) << user_agent;
  EXPECT_TRUE(user_agent.find(" Windows_NT/") == std::string::npos ||
              EndsWith(user_agent, " (x64)"));
}

TEST_F(HTTPTransportLoopbackTest, AnswersOtherThan200Fail) {
  base::LoopbackHttpServer::Response error;
  error.status = 500;
  server_.Script("/500", {error});
  // A redirect is not followed: the body would not go along.
  server_.Redirect("/302", "/elsewhere");
  server_.Serve("/elsewhere", 200, "");

  for (const std::string status : {"500", "302"}) {
    SCOPED_TRACE(status);
    std::unique_ptr<HTTPTransport> transport = HTTPTransport::Create();
    transport->SetURL(Url("/" + status));
    transport->SetHeader("Content-Length", "4");
    transport->SetBodyStream(std::make_unique<StringHTTPBodyStream>("data"));
    std::string response = "untouched";
    base::ScopedLogLines log(base::logging::LOG_ERROR,
                             base::logging::LOG_ERROR);
    EXPECT_FALSE(transport->ExecuteSynchronously(&response));
    EXPECT_EQ(std::vector<std::string>{"HTTP status " + status}, log.lines());
    EXPECT_EQ("untouched", response);
    ASSERT_EQ(1u, server_.RequestsFor("/" + status).size());
    EXPECT_EQ("data", server_.RequestsFor("/" + status)[0].body);
  }
  EXPECT_TRUE(server_.RequestsFor("/elsewhere").empty());
}

TEST_F(HTTPTransportLoopbackTest, FailuresBeforeAnAnswerAreLoggedAndFail) {
  std::string closed_url;  // A port that was just free: nobody listens.
  {
    base::LoopbackHttpServer closed;
    ASSERT_TRUE(closed.Start());
    closed_url = base::WideToUTF8(closed.Url("/upload"));
  }
  server_.Serve("/upload", 200, "");
  struct {
    std::string url;
    const char* length;
    const char* body;
    const char* log_start;
  } cases[] = {
      {"no scheme here", "0", nullptr, "WinHttpCrackUrl: "},
      {closed_url, "0", nullptr, "WinHttpSendRequest: "},
      {Url("/upload"), "four", "data", "Unusable Content-Length header"},
      {Url("/upload"), "10", "01234", "The request body could not be read"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.log_start);
    std::unique_ptr<HTTPTransport> transport = HTTPTransport::Create();
    transport->SetURL(test.url);
    transport->SetHeader("Content-Length", test.length);
    if (test.body) {
      transport->SetBodyStream(
          std::make_unique<PiecewiseBodyStream>(test.body, 5, true));
    }
    base::ScopedLogLines log(base::logging::LOG_ERROR,
                             base::logging::LOG_ERROR);
    EXPECT_FALSE(transport->ExecuteSynchronously(nullptr));
    ASSERT_FALSE(log.lines().empty());
    EXPECT_TRUE(StartsWith(log.lines()[0], test.log_start)) << log.text();
  }
  // The request whose headers were unusable never left.
  for (const auto& request : server_.requests())
    EXPECT_NE("four", request.Header("Content-Length"));
}

TEST(HTTPTransportDeadlineTest, ServerThatNeverAnswersIsGivenUp) {
  // Takes the whole body and says nothing: WinHTTP's own time-outs do not
  // end that wait under Wine.
  auto server = std::make_unique<base::LoopbackHttpServer>();
  ASSERT_TRUE(server->Start());
  base::LoopbackHttpServer::Response silent;
  silent.silent = true;
  server->Script("/upload", {silent});

  std::unique_ptr<HTTPTransport> transport = HTTPTransport::Create();
  transport->SetURL(base::WideToUTF8(server->Url("/upload")));
  transport->SetHeader("Content-Length", "4");
  transport->SetBodyStream(std::make_unique<StringHTTPBodyStream>("data"));
  transport->SetTotalTimeout(1.0);

  HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(done);
  bool result = true;
  std::vector<std::string> lines;
  base::TestThread thread([&] {
    base::ScopedLogLines log(base::logging::LOG_ERROR,
                             base::logging::LOG_ERROR);
    result = transport->ExecuteSynchronously(nullptr);
    lines = log.lines();
    ::SetEvent(done);
  });
  const DWORD waited = ::WaitForSingleObject(done, 60000);
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), waited)
      << "the request to a server that never answers was still waiting "
         "after 60 s, well past its deadline of 1 s";
  // Letting the connection go ends a request that is still waiting.
  server.reset();
  thread.Join();
  ::CloseHandle(done);

  EXPECT_FALSE(result);
  std::string text;
  for (const std::string& line : lines)
    text += line + "\n";
  // The log says the deadline ended it, whichever wait it cut short.
  EXPECT_TRUE(text.find("did not end within 1 s") != std::string::npos ||
              text.find("ran out of its 1 s") != std::string::npos)
      << text;
}

}  // namespace
}  // namespace crash_reporter
