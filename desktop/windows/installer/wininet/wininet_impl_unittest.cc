#include "desktop/windows/installer/wininet/wininet_impl.h"

#include <string>
#include <vector>

#include "base/bind.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/test/bounded_wait.h"
#include "base/test/loopback_http_server.h"
#include "base/test/scoped_log_lines.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

class NoUiRunner : public UICallbackRunner {
 public:
  void RunUICallbackAndPostReply(
      UICallback ui_callback,
      base::scoped_refptr<base::SingleThreadTaskRunner> reply_runner,
      Reply reply) override {
    ADD_FAILURE() << "no download here asks the user";
  }
};

class RecordingProgress : public DownloadProgressObserver {
 public:
  void SetTotalProgress(uint32_t bytes) override { total = bytes; }
  void SetCurrentProgress(uint32_t bytes) override { current = bytes; }
  void NotifyStalled() override {}

  uint32_t total = 0;
  uint32_t current = 0;
};

class WininetImplTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start());
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    file_ = temp_.GetPath().Append(L"download");
  }

  // Starts a download of |url| into |file_|; when it started, runs the loop
  // until it ended and then until idle, so that a second completion would
  // be counted too.
  bool Download(WininetImpl* downloader,
                const std::wstring& url,
                const std::string& payload = std::string()) {
    auto writer = std::make_unique<WininetResponseWriter>();
    EXPECT_TRUE(writer->Open(file_));
    base::RunLoop run_loop;
    const base::RepeatingClosure quit = run_loop.QuitClosure();
    const bool started = downloader->Start(
        url, payload,
        base::BindRepeating(
            [](int* done, base::RepeatingClosure quit) {
              ++*done;
              quit.Run();
            },
            &done_, quit),
        std::move(writer), std::make_unique<WininetDelegate>());
    if (started) {
      EXPECT_TRUE(base::RunWithin(&run_loop, "the download's completion"));
    }
    RunUntilIdle();
    return started;
  }

  static void RunUntilIdle() {
    base::RunLoop idle;
    idle.QuitWhenIdle();
    idle.Run();
  }

  base::MessageLoop loop_;
  base::LoopbackHttpServer server_;
  base::ScopedTempDir temp_;
  base::FilePath file_;
  NoUiRunner ui_runner_;
  int done_ = 0;
};

TEST_F(WininetImplTest, StreamsTheBodyIntoTheFile) {
  // Several read chunks' worth, not a multiple of the chunk size.
  std::string body;
  for (int i = 0; body.size() < 5000; ++i)
    body += std::to_string(i) + ",";
  server_.Serve("/file?x=1", 200, body);
  const struct {
    const char* payload;
    const char* method;
  } kCases[] = {{"", "GET"}, {"utm.source=test", "POST"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.method);
    done_ = 0;
    RecordingProgress progress;
    WininetImpl downloader(&ui_runner_, &progress);
    downloader.SetAllowedDomains({L"127.0.0.1"});
    ASSERT_TRUE(Download(&downloader, server_.Url("/file?x=1"), c.payload));
    EXPECT_EQ(1, done_);
    EXPECT_EQ(WininetImpl::STATE_COMPLETED, downloader.GetState());
    EXPECT_EQ(200u, downloader.GetHttpStatus());
    EXPECT_EQ(body.size(), downloader.GetDownloadedSize());
    EXPECT_EQ(body.size(), progress.total);
    EXPECT_EQ(body.size(), progress.current);
    EXPECT_EQ("", downloader.GetErrorText());
    std::string written;
    ASSERT_TRUE(base::ReadFileToString(file_, &written));
    EXPECT_EQ(body, written);

    const base::LoopbackHttpServer::Request request = server_.requests().back();
    EXPECT_EQ(c.method, request.method);
    EXPECT_EQ("/file?x=1", request.target);
    EXPECT_EQ(c.payload, request.body);
    EXPECT_NE(
        std::string::npos,
        request.headers.find("User-Agent: Kavor NetInstaller/47.0.4127.0\r\n"))
        << request.headers;
  }
}

TEST_F(WininetImplTest, OnlyAllowedHostsAndGoodAnswersComplete) {
  server_.Serve("/file", 200, "{}");
  server_.Serve("/missing", 404, "not here");
  server_.Redirect("/hop", "/file");
  server_.Redirect("/away", "http://elsewhere.example/file");
  const struct {
    const char* target;
    std::vector<std::wstring> domains;
    bool started;
    int32_t state;
    const char* error;
  } kCases[] = {
      {"/file",
       {L".kavor.example"},
       false,
       WininetImpl::STATE_STARTED,
       "Domain disallowed 127.0.0.1\n"},
      {"/missing",
       {},
       true,
       WininetImpl::STATE_FAILED,
       "Request completed with an unexpected HTTP status 404\n"},
      {"/hop", {L"127.0.0.1"}, true, WininetImpl::STATE_COMPLETED, ""},
      {"/away",
       {L"127.0.0.1"},
       true,
       WininetImpl::STATE_FAILED,
       "Redirect URL is disallowed http://elsewhere.example/file\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.target);
    done_ = 0;
    WininetImpl downloader(&ui_runner_, nullptr);
    downloader.SetAllowedDomains(c.domains);
    EXPECT_EQ(c.started, Download(&downloader, server_.Url(c.target)));
    EXPECT_EQ(c.started ? 1 : 0, done_);
    EXPECT_EQ(c.state, downloader.GetState());
    EXPECT_EQ(c.error, downloader.GetErrorText());
  }
  // The redirect's target was asked for, the refused one was not.
  std::vector<std::string> targets;
  for (const auto& request : server_.requests())
    targets.push_back(request.target);
  EXPECT_EQ((std::vector<std::string>{"/missing", "/hop", "/file", "/away"}),
            targets);
}

TEST_F(WininetImplTest, StopDropsTheCompletion) {
  server_.Serve("/file", 200, "{}");
  WininetImpl downloader(&ui_runner_, nullptr);
  auto writer = std::make_unique<WininetResponseWriter>();
  ASSERT_TRUE(writer->Open(file_));
  ASSERT_TRUE(
      downloader.Start(server_.Url("/file"), std::string(),
                       base::BindRepeating([](int* done) { ++*done; }, &done_),
                       std::move(writer), std::make_unique<WininetDelegate>()));
  // The worker's outcome is posted by the time Stop has waited for it.
  downloader.Stop();
  RunUntilIdle();
  EXPECT_EQ(0, done_);
  EXPECT_EQ(WininetImpl::STATE_STOPPED, downloader.GetState());
}

TEST(WininetImplHostTest, HostMustEndWithAnAllowedSuffix) {
  const std::vector<std::wstring> kDomains = {L".kavor.example", L"localhost"};
  const struct {
    const wchar_t* host;
    bool allowed;
  } kCases[] = {
      {L"autoupdate.kavor.example", true},
      {L"kavor.example", false},
      {L"autoupdate.KAVOR.example", false},
      {L"evillocalhost", true},
      {L"example", false},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.allowed, WininetImpl::IsHostAllowed(kDomains, c.host))
        << c.host;
  EXPECT_TRUE(WininetImpl::IsHostAllowed({}, L"anything.example"));
}

TEST(WininetResponseWriterTest, OpenFailureIsLogged) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  base::ScopedLogLines log(base::logging::LOG_ERROR, base::logging::LOG_ERROR);
  WininetResponseWriter writer;
  EXPECT_FALSE(writer.Open(temp.GetPath().Append(L"missing\\file")));
  ASSERT_EQ(1u, log.lines().size());
  EXPECT_EQ(0u, log.lines()[0].find("Could not open download file for writing"))
      << log.lines()[0];
}

}  // namespace
}  // namespace installer
