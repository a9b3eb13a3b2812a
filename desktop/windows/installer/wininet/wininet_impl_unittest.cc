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

struct RecordingProgress : DownloadProgressObserver {
  void SetTotalProgress(uint32_t bytes) override { total = bytes; }
  void SetCurrentProgress(uint32_t bytes) override { current = bytes; }
  void NotifyStalled() override {}
  uint32_t total = 0, current = 0;
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
  // be counted too. |wait| false: Stop at once instead.
  bool Download(WininetImpl* downloader,
                const std::wstring& url,
                bool wait = true) {
    auto writer = std::make_unique<WininetResponseWriter>();
    EXPECT_TRUE(writer->Open(file_));
    base::RunLoop run_loop;
    const bool started = downloader->Start(
        url, std::string(),
        base::BindRepeating(
            [](int* done, base::RepeatingClosure quit) {
              ++*done;
              quit.Run();
            },
            &done_, run_loop.QuitClosure()),
        std::move(writer), std::make_unique<WininetDelegate>());
    if (!wait) {
      // The worker's outcome is posted by the time Stop has waited for it.
      downloader->Stop();
    } else if (started) {
      EXPECT_TRUE(base::RunWithin(&run_loop, "the download's completion"));
    }
    base::RunLoop idle;
    idle.QuitWhenIdle();
    idle.Run();
    return started;
  }

  base::MessageLoop loop_;
  base::LoopbackHttpServer server_;
  base::ScopedTempDir temp_;
  base::FilePath file_;
  NoUiRunner ui_runner_;
  int done_ = 0;
};

// A POST with a payload is covered by the overrides fetcher's test.
TEST_F(WininetImplTest, StreamsTheBodyIntoTheFile) {
  // Several read chunks' worth, not a multiple of the chunk size.
  std::string body;
  for (int i = 0; body.size() < 5000; ++i)
    body += std::to_string(i) + ",";
  server_.Serve("/file?x=1", 200, body);
  RecordingProgress progress;
  WininetImpl downloader(&ui_runner_, &progress);
  downloader.SetAllowedDomains({L"127.0.0.1"});
  ASSERT_TRUE(Download(&downloader, server_.Url("/file?x=1")));
  EXPECT_EQ(1, done_);
  EXPECT_EQ(WininetImpl::STATE_COMPLETED, downloader.GetState());
  EXPECT_EQ(200u, downloader.GetHttpStatus());
  EXPECT_EQ(body.size(), downloader.GetDownloadedSize());
  EXPECT_EQ(body.size(), progress.total);
  EXPECT_EQ(body.size(), progress.current);
  std::string written;
  ASSERT_TRUE(base::ReadFileToString(file_, &written));
  EXPECT_EQ(body, written);

  ASSERT_EQ(1u, server_.requests().size());
  const base::LoopbackHttpServer::Request request = server_.requests().back();
  EXPECT_EQ("GET /file?x=1", request.method + " " + request.target);
  EXPECT_NE(
      std::string::npos,
      request.headers.find("User-Agent: Kavor NetInstaller/47.0.4127.0\r\n"))
      << request.headers;
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
  ASSERT_TRUE(Download(&downloader, server_.Url("/file"), false));
  EXPECT_EQ(0, done_);
  EXPECT_EQ(WininetImpl::STATE_STOPPED, downloader.GetState());
}

TEST(WininetImplHostTest, HostMustEndWithAnAllowedSuffix) {
  const std::vector<std::wstring> kDomains = {L".kavor.example", L"localhost"};
  for (const wchar_t* host : {L"autoupdate.kavor.example", L"evillocalhost"})
    EXPECT_TRUE(WininetImpl::IsHostAllowed(kDomains, host)) << host;
  for (const wchar_t* host :
       {L"kavor.example", L"autoupdate.KAVOR.example", L"example"})
    EXPECT_FALSE(WininetImpl::IsHostAllowed(kDomains, host)) << host;
  EXPECT_TRUE(WininetImpl::IsHostAllowed({}, L"anything.example"));
}

TEST_F(WininetImplTest, WriterOpenFailureIsLogged) {
  base::ScopedLogLines log(base::logging::LOG_ERROR, base::logging::LOG_ERROR);
  EXPECT_FALSE(WininetResponseWriter().Open(file_.Append(L"missing\\file")));
  ASSERT_EQ(1u, log.lines().size());
  EXPECT_EQ(0u, log.lines()[0].find("Could not open download file for writing"))
      << log.lines()[0];
}

}  // namespace
}  // namespace installer
