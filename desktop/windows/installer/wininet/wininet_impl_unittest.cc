#include "desktop/windows/installer/wininet/wininet_impl.h"

#include <stdlib.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/logging.h"
#include "base/memory/scoped_refptr.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/synchronization/lock.h"
#include "base/test/handle_verifier_export.h"
#include "base/test/loopback_http_server.h"
#include "base/test/scoped_log_lines.h"
#include "base/test/test_task_runner.h"
#include "base/win/system_library.h"
#include "base/threading/thread_task_runner_handle.h"
#include "crypto/sha2.h"
#include "desktop/windows/installer/package_fetcher/download_stats_collector.h"
#include "desktop/windows/installer/wininet/wininet_functions.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using Response = base::LoopbackHttpServer::Response;

// Answers the proxy prompt with |result| without showing it; or, with
// |hold|, keeps the prompt for the test to run.
struct FakeUiRunner : UICallbackRunner {
  void RunUICallbackAndPostReply(
      UICallback ui_callback,
      base::scoped_refptr<base::SingleThreadTaskRunner> reply_runner,
      Reply reply) override {
    ++prompts;
    if (hold) {
      held = std::move(ui_callback);
      held_reply = base::BindOnce(
          [](base::scoped_refptr<base::SingleThreadTaskRunner> runner,
             Reply reply, int32_t result) {
            runner->PostTask(FROM_HERE,
                             base::BindOnce(std::move(reply), result));
          },
          reply_runner, std::move(reply));
      return;
    }
    reply_runner->PostTask(FROM_HERE, base::BindOnce(std::move(reply), result));
  }
  int32_t result = 0;
  int prompts = 0;
  bool hold = false;
  UICallback held;
  Reply held_reply;
};

struct RecordingProgress : DownloadProgressObserver {
  void SetTotalProgress(uint32_t bytes) override { total = bytes; }
  void SetCurrentProgress(uint32_t bytes) override { current = bytes; }
  void NotifyStalled() override { ++stalled; }
  uint32_t total = 0, current = 0;
  int stalled = 0;
};

// What the writer and delegate stand-ins saw; they outlive neither the
// test nor their downloader.
struct Probe {
  std::string data;
  int writes = 0;
  // The write (counted from 1) that fails; 0: none.
  int fail_at = 0;
  // Set once nothing more may reach writer or delegate.
  bool sealed = false;
  int late_calls = 0;
};

class ProbeWriter : public ResponseWriter {
 public:
  explicit ProbeWriter(Probe* probe) : probe_(probe) {}
  bool Write(const char* data, uint32_t size) override {
    probe_->late_calls += probe_->sealed;
    if (++probe_->writes == probe_->fail_at) {
      last_error_ = ERROR_DISK_FULL;
      return false;
    }
    probe_->data.append(data, size);
    return true;
  }
  void Close() override {}
  bool Restart() override {
    probe_->data.clear();
    return true;
  }

 private:
  Probe* const probe_;
};

class ProbeDelegate : public DownloadStatsCollector {
 public:
  explicit ProbeDelegate(Probe* probe) : probe_(probe) {}
  void OnChunkStarted(uint32_t offset) override {
    probe_->late_calls += probe_->sealed;
    DownloadStatsCollector::OnChunkStarted(offset);
  }
  void OnRequestCompleted(uint32_t error) override {
    probe_->late_calls += probe_->sealed;
    DownloadStatsCollector::OnRequestCompleted(error);
  }

 private:
  Probe* const probe_;
};

// Counts the WinINet handles the downloader opens and has not closed, by
// routing the process's WinINet table through itself while it lives.
class ScopedHandleCount {
 public:
  ScopedHandleCount() : saved_(*Wininet()) {
    real_ = &saved_;
    live_ = 0;
    WininetFunctions* table = const_cast<WininetFunctions*>(Wininet());
    table->open = [](LPCWSTR agent, DWORD type, LPCWSTR proxy, LPCWSTR bypass,
                     DWORD flags) {
      return Count(real_->open(agent, type, proxy, bypass, flags));
    };
    table->connect = [](HINTERNET session, LPCWSTR host, INTERNET_PORT port,
                        LPCWSTR user, LPCWSTR password, DWORD service,
                        DWORD flags, DWORD_PTR context) {
      return Count(real_->connect(session, host, port, user, password, service,
                                  flags, context));
    };
    table->open_request = [](HINTERNET connection, LPCWSTR verb, LPCWSTR path,
                             LPCWSTR version, LPCWSTR referrer, LPCWSTR* accept,
                             DWORD flags, DWORD_PTR context) {
      return Count(real_->open_request(connection, verb, path, version,
                                       referrer, accept, flags, context));
    };
    table->close_handle = [](HINTERNET handle) {
      const BOOL closed = real_->close_handle(handle);
      live_ -= closed ? 1 : 0;
      return closed;
    };
  }
  ~ScopedHandleCount() { *const_cast<WininetFunctions*>(Wininet()) = saved_; }
  int live() const { return live_; }

  // Makes the |n|th status callback registration from now on fail.
  void FailCallbackRegistration(int n) {
    registrations_ = 0;
    fail_registration_ = n;
    const_cast<WininetFunctions*>(Wininet())->set_status_callback =
        [](HINTERNET handle, INTERNET_STATUS_CALLBACK callback) {
          if (++registrations_ == fail_registration_) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return INTERNET_INVALID_STATUS_CALLBACK;
          }
          return real_->set_status_callback(handle, callback);
        };
  }

  // Answers the proxy dialog with ERROR_INTERNET_FORCE_RETRY, noting the
  // handles it was shown for.
  static std::vector<HINTERNET>& ShowDialogs() {
    static std::vector<HINTERNET> shown;
    shown.clear();
    const_cast<WininetFunctions*>(Wininet())->error_dlg =
        [](HWND, HINTERNET request, DWORD, DWORD, void**) -> DWORD {
      shown.push_back(request);
      return ERROR_INTERNET_FORCE_RETRY;
    };
    return shown;
  }

 private:
  static HINTERNET Count(HINTERNET handle) {
    live_ += handle ? 1 : 0;
    return handle;
  }

  static const WininetFunctions* real_;
  static std::atomic<int> live_;
  static std::atomic<int> registrations_;
  static int fail_registration_;
  const WininetFunctions saved_;
};
const WininetFunctions* ScopedHandleCount::real_;
std::atomic<int> ScopedHandleCount::live_;
std::atomic<int> ScopedHandleCount::registrations_;
int ScopedHandleCount::fail_registration_;

// The owner thread's runner is a test runner: WinINet's reports are run
// when the test says, and a retry's pause passes on a clock of its own.
class WininetImplTest : public testing::Test {
 protected:
  void SetUp() override {
    base::test::EnableHandleVerifierExport();
    ASSERT_TRUE(Wininet());
    ASSERT_TRUE(server_.Start());
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    file_ = temp_.GetPath().Append(L"download");
  }

  std::unique_ptr<WininetImpl> MakeDownloader() {
    return std::make_unique<WininetImpl>(&ui_runner_, &progress_);
  }

  base::RepeatingClosure DoneClosure() {
    return base::BindRepeating([](int* done) { ++*done; }, &done_);
  }

  bool StartInto(WininetImpl* downloader,
                 const std::wstring& url,
                 std::unique_ptr<ResponseWriter> writer,
                 const std::string& payload = std::string()) {
    done_ = 0;
    return downloader->Start(url, payload, DoneClosure(), std::move(writer),
                             std::make_unique<ProbeDelegate>(&probe_));
  }

  bool StartProbe(WininetImpl* downloader, const std::string& target) {
    return StartInto(downloader, server_.Url(target),
                     std::make_unique<ProbeWriter>(&probe_));
  }

  // Runs the owner thread until the download ended, waiting for WinINet's
  // posts and moving the clock over retry pauses; then until idle, so that
  // a second completion would be counted too. A download that keeps asking
  // the server (a resume loop) fails the test instead of hanging it.
  void RunUntilDone(WininetImpl* downloader) {
    while (done_ == 0) {
      runner_->RunDueTasks();
      if (done_ != 0)
        break;
      if (server_.requests().size() > 40) {
        ADD_FAILURE() << "the download keeps asking the server";
        downloader->Stop();
        return;
      }
      if (runner_->pending_count() != 0)
        runner_->FastForwardBy(base::TimeDelta::FromSeconds(6));
      else if (!runner_->WaitForPost())
        return;
    }
    runner_->RunUntilIdle();
  }

  // Wine's WinINet now and then loses the count of a read left pending
  // (more often on a loaded machine); the downloader then asks for the rest
  // again from what was written, in a request of its own, which a test
  // that counts requests must allow for. |log| holds the warnings.
  static int LostReads(const base::ScopedLogLines& log) {
    int lost = 0;
    for (const std::string& line : log.lines())
      lost += line.find("A read came back without its bytes") == 0;
    return lost;
  }

  std::vector<std::string> RangesAsked(const std::string& target) const {
    std::vector<std::string> ranges;
    for (const auto& request : server_.RequestsFor(target))
      ranges.push_back(request.Header("Range"));
    return ranges;
  }

  base::scoped_refptr<base::TestTaskRunner> runner_ =
      base::MakeRefCounted<base::TestTaskRunner>();
  base::ThreadTaskRunnerHandle runner_handle_{runner_};
  base::LoopbackHttpServer server_;
  base::ScopedTempDir temp_;
  base::FilePath file_;
  FakeUiRunner ui_runner_;
  RecordingProgress progress_;
  Probe probe_;
  int done_ = 0;
};

TEST_F(WininetImplTest, FetchesIntoAFileAndAString) {
  const std::string body = base::LoopbackHttpServer::Bytes(5000);
  Response answer;
  answer.body = body;
  answer.headers = {{"Date", "Mon, 07 Dec 2026 10:00:00 GMT"},
                    {"Server", "loopback"},
                    {"X-Served-By", "cache-1"}};
  server_.Script("/file?x=1", {answer});
  auto downloader = MakeDownloader();
  auto writer = std::make_unique<WininetResponseWriter>();
  ASSERT_TRUE(writer->Open(file_));
  ASSERT_TRUE(
      StartInto(downloader.get(), server_.Url("/file?x=1"), std::move(writer)));
  RunUntilDone(downloader.get());
  EXPECT_EQ(1, done_);
  EXPECT_EQ(WininetImpl::STATE_COMPLETED, downloader->GetState());
  EXPECT_EQ(200u, downloader->GetHttpStatus());
  EXPECT_EQ(body.size(), progress_.total);
  EXPECT_EQ(body.size(), progress_.current);
  std::string written;
  ASSERT_TRUE(base::ReadFileToString(file_, &written));
  EXPECT_TRUE(body == written);
  const std::vector<FetchChunkStatistics> stats =
      downloader->GetChunkStatistics();
  ASSERT_EQ(1u, stats.size());
  EXPECT_EQ((std::map<std::string, std::string>{
                {"Content-Length", "5000"},
                {"Date", "Mon, 07 Dec 2026 10:00:00 GMT"},
                {"Server", "loopback"},
                {"X-Served-By", "cache-1"}}),
            stats[0].headers);
  EXPECT_EQ(std::optional<std::string>("127.0.0.1"), stats[0].ip);

  // The same downloader again, a POST into a string.
  server_.Serve("/prefs", 200, "{}");
  std::string out = "stale";
  ASSERT_TRUE(StartInto(downloader.get(), server_.Url("/prefs"),
                        std::make_unique<StringResponseWriter>(&out),
                        "utm.source=test"));
  RunUntilDone(downloader.get());
  EXPECT_EQ(1, done_);
  EXPECT_EQ("{}", out);
  const auto requests = server_.requests();
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ("GET /file?x=1", requests[0].method + " " + requests[0].target);
  EXPECT_EQ("POST utm.source=test",
            requests[1].method + " " + requests[1].body);
  for (const auto& request : requests)
    EXPECT_EQ("Kavor NetInstaller/47.0.4127.0", request.Header("User-Agent"));
}

// A download is written to its writer only, never also to the user's
// WinINet cache, whatever the method and writer.
TEST_F(WininetImplTest, DownloadsAreNotKeptInTheCache) {
  auto get_entry = reinterpret_cast<decltype(&::GetUrlCacheEntryInfoW)>(
      ::GetProcAddress(base::win::LoadSystemLibrary(L"wininet.dll"),
                       "GetUrlCacheEntryInfoW"));
  ASSERT_TRUE(get_entry);
  // The cache outlives the test: a target of its own each run.
  const std::string target =
      "/uncached/" + std::to_string(::GetTickCount64()) + "?x=1";
  server_.Serve(target, 200, base::LoopbackHttpServer::Bytes(20000));
  auto downloader = MakeDownloader();
  for (const bool post : {false, true}) {
    SCOPED_TRACE(post ? "POST into a string" : "GET into a file");
    std::string out;
    std::unique_ptr<ResponseWriter> writer;
    if (post) {
      writer = std::make_unique<StringResponseWriter>(&out);
    } else {
      auto file_writer = std::make_unique<WininetResponseWriter>();
      ASSERT_TRUE(file_writer->Open(file_));
      writer = std::move(file_writer);
    }
    ASSERT_TRUE(StartInto(downloader.get(), server_.Url(target),
                          std::move(writer), post ? "payload" : ""));
    RunUntilDone(downloader.get());
    ASSERT_EQ(WininetImpl::STATE_COMPLETED, downloader->GetState());
    std::vector<char> info(16 * 1024);
    DWORD size = static_cast<DWORD>(info.size());
    EXPECT_FALSE(get_entry(
        server_.Url(target).c_str(),
        reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(info.data()), &size));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ::GetLastError());
  }
}

// The size and status of a stopped download, or of the one before a refused
// start, are not the next attempt's: a caller that counts a failure before
// any request (a stale 204) would count them twice.
TEST_F(WininetImplTest, StopAndARefusedStartForgetTheLastAnswer) {
  server_.Serve("/empty", 204, "");
  server_.Serve("/body", 200, "0123456789");
  const struct {
    const char* target;
    uint32_t status;
    uint32_t size;
  } kCases[] = {{"/empty", 204, 0}, {"/body", 200, 10}};
  auto downloader = MakeDownloader();
  for (const auto& c : kCases) {
    for (const bool stop : {true, false}) {
      SCOPED_TRACE(std::string(c.target) + (stop ? " stopped" : " refused"));
      downloader->SetAllowedDomains({});
      ASSERT_TRUE(StartProbe(downloader.get(), c.target));
      RunUntilDone(downloader.get());
      EXPECT_EQ(c.status, downloader->GetHttpStatus());
      EXPECT_EQ(c.size, downloader->GetDownloadedSize());
      if (stop) {
        downloader->Stop();
      } else {
        downloader->SetAllowedDomains({L".kavor.example"});
        EXPECT_FALSE(StartProbe(downloader.get(), c.target));
      }
      EXPECT_EQ(0u, downloader->GetHttpStatus());
      EXPECT_EQ(0u, downloader->GetDownloadedSize());
    }
  }
}

// Each case cuts the body in its own ways; the file must come out whole and
// each request must ask for the rest.
TEST_F(WininetImplTest, CutBodiesAreResumedIntoTheSameBytes) {
  const size_t kMB = 1 << 20;
  auto cut = [](size_t close_after, size_t reset_after = Response().reset_after,
                bool honour_range = true) {
    Response response;
    response.close_after = close_after;
    response.reset_after = reset_after;
    response.honour_range = honour_range;
    return response;
  };
  // Reset while the client waits for more: WinINet reports the reset
  // itself (10054) rather than a short body.
  Response reset = cut(Response().close_after, 200000);
  reset.trickle_bytes = 4096;
  reset.trickle_pause_ms = 5;
  auto error = [](int status) {
    Response response;
    response.status = status;
    return response;
  };
  // A 206 from another offset than the one asked for.
  auto ranged = [](size_t size, size_t start) {
    const std::string body = base::LoopbackHttpServer::Bytes(size);
    Response response;
    response.raw = base::StringPrintf(
                       "HTTP/1.1 206 Partial Content\r\nContent-Length: %zu\r\n"
                       "Content-Range: bytes %zu-%zu/%zu\r\n\r\n",
                       size - start, start, size - 1, size) +
                   body.substr(start);
    return response;
  };
  const struct {
    const char* name;
    size_t size;
    std::vector<Response> script;
    // The Range headers expected; empty: not checked (a reset may lose
    // bytes the client had not read yet).
    std::vector<std::string> ranges;
  } kCases[] = {
      {"one_cut",
       20 * kMB,
       {cut(7 * kMB), cut(Response().close_after)},
       {"", "bytes=7340032-"}},
      {"several_cuts",
       3 * kMB,
       {cut(kMB), cut(300000), reset, cut(Response().close_after)},
       {}},
      // The size comes from the 206 when no 200 told it.
      {"after_error",
       10000,
       {error(503), cut(5000), cut(Response().close_after)},
       {"", "bytes=0-", "bytes=5000-"}},
      // A server that ignores the range sends the whole body again.
      {"range_ignored",
       300000,
       {cut(100000),
        cut(Response().close_after, Response().reset_after, false)},
       {"", "bytes=100000-"}},
      // Bytes from the wrong offset are a failure to retry; from the start
      // they replace the part already written.
      {"range_shifted",
       10000,
       {cut(4000), ranged(10000, 3000), cut(Response().close_after)},
       {"", "bytes=4000-", "bytes=4000-"}},
      {"range_from_start",
       10000,
       {cut(4000), ranged(10000, 0)},
       {"", "bytes=4000-"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string target = std::string("/") + c.name;
    const std::string body = base::LoopbackHttpServer::Bytes(c.size);
    std::vector<Response> script = c.script;
    for (Response& response : script)
      response.body = body;
    server_.Script(target, script);
    auto downloader = MakeDownloader();
    auto writer = std::make_unique<WininetResponseWriter>();
    ASSERT_TRUE(writer->Open(file_));
    base::ScopedLogLines log(base::logging::LOG_WARNING,
                             base::logging::LOG_WARNING);
    ASSERT_TRUE(
        StartInto(downloader.get(), server_.Url(target), std::move(writer)));
    RunUntilDone(downloader.get());
    const bool lost_reads = LostReads(log) != 0;
    EXPECT_EQ(1, done_);
    EXPECT_EQ(WininetImpl::STATE_COMPLETED, downloader->GetState())
        << downloader->GetErrorText();
    std::string written;
    ASSERT_TRUE(base::ReadFileToString(file_, &written));
    EXPECT_EQ(body.size(), written.size());
    EXPECT_EQ(crypto::SHA256HashString(body),
              crypto::SHA256HashString(written));
    const std::vector<std::string> ranges = RangesAsked(target);
    if (!c.ranges.empty() && !lost_reads) {
      EXPECT_EQ(c.ranges, ranges);
    }
    // One record per request, numbered in turn, each starting where its
    // request's range did.
    const std::vector<FetchChunkStatistics> stats =
        downloader->GetChunkStatistics();
    ASSERT_EQ(ranges.size(), stats.size());
    for (size_t i = 0; i < stats.size(); ++i) {
      EXPECT_EQ(static_cast<int32_t>(i), stats[i].chunk_number);
      EXPECT_EQ(
          i == 0 ? "" : "bytes=" + std::to_string(*stats[i].chunk_start) + "-",
          ranges[i]);
      EXPECT_EQ(1u, stats[i].headers.count("Content-Length"));
    }
  }
}

// Plays Wine's WinINet losing the count of a read: the second read of the
// first request, answered at once by the real WinINet, is turned into one
// left pending whose completion comes with the bytes in the buffer but a
// count of 0.
class ScopedLostReadCount {
 public:
  ScopedLostReadCount() : saved_(*Wininet()) {
    real_ = &saved_;
    reads_ = 0;
    lost_ = 0;
    callback_ = nullptr;
    request_ = nullptr;
    WininetFunctions* table = const_cast<WininetFunctions*>(Wininet());
    table->set_status_callback = [](HINTERNET handle,
                                     INTERNET_STATUS_CALLBACK callback) {
      if (callback && handle == request_)
        callback_ = callback;
      return real_->set_status_callback(handle, callback);
    };
    table->open_request = [](HINTERNET connection, LPCWSTR verb, LPCWSTR path,
                             LPCWSTR version, LPCWSTR referrer, LPCWSTR* accept,
                             DWORD flags, DWORD_PTR context) {
      context_ = context;
      request_ = real_->open_request(connection, verb, path, version,
                                     referrer, accept, flags, context);
      return request_;
    };
    table->read_file = [](HINTERNET request, void* buffer, DWORD size,
                          DWORD* read) {
      const BOOL done = real_->read_file(request, buffer, size, read);
      if (!done || *read == 0 || ++reads_ != 2 || lost_ != 0)
        return done;
      ++lost_;
      *read = 0;
      INTERNET_ASYNC_RESULT result = {TRUE, 0};
      callback_(request, context_, INTERNET_STATUS_REQUEST_COMPLETE, &result,
                sizeof(result));
      ::SetLastError(ERROR_IO_PENDING);
      return FALSE;
    };
  }
  ~ScopedLostReadCount() {
    *const_cast<WininetFunctions*>(Wininet()) = saved_;
  }
  int lost() const { return lost_; }

 private:
  static const WininetFunctions* real_;
  static int reads_;
  static int lost_;
  static INTERNET_STATUS_CALLBACK callback_;
  static DWORD_PTR context_;
  static HINTERNET request_;
  const WininetFunctions saved_;
};
const WininetFunctions* ScopedLostReadCount::real_;
HINTERNET ScopedLostReadCount::request_;
int ScopedLostReadCount::reads_;
int ScopedLostReadCount::lost_;
INTERNET_STATUS_CALLBACK ScopedLostReadCount::callback_;
DWORD_PTR ScopedLostReadCount::context_;

// A read that comes back without its count while the body goes on lost
// bytes the file must have: the rest is asked for again from what was
// written, so that the file holds the body as sent.
TEST_F(WininetImplTest, ReadsThatLoseTheirCountAreAskedForAgain) {
  Response whole;
  whole.body = base::LoopbackHttpServer::Bytes(300000);
  server_.Script("/lost", {whole, whole});
  ScopedLostReadCount lost;
  auto downloader = MakeDownloader();
  base::ScopedLogLines log(base::logging::LOG_WARNING,
                           base::logging::LOG_WARNING);
  ASSERT_TRUE(StartProbe(downloader.get(), "/lost"));
  RunUntilDone(downloader.get());
  ASSERT_EQ(1, lost.lost());
  // The one played here; the platform may lose others.
  const int lost_reads = LostReads(log);
  EXPECT_LE(1, lost_reads);
  EXPECT_EQ(1, done_);
  EXPECT_EQ(WininetImpl::STATE_COMPLETED, downloader->GetState())
      << downloader->GetErrorText();
  EXPECT_EQ(whole.body.size(), probe_.data.size());
  EXPECT_TRUE(whole.body == probe_.data);
  const std::vector<std::string> ranges = RangesAsked("/lost");
  ASSERT_EQ(1u + lost_reads, ranges.size());
  EXPECT_EQ("", ranges[0]);
  unsigned offset = 0;
  EXPECT_EQ(1, sscanf(ranges[1].c_str(), "bytes=%u-", &offset)) << ranges[1];
  EXPECT_LT(0u, offset);
  EXPECT_GT(whole.body.size(), offset);
}

// Plays a WinINet that finishes the last call of the first request late,
// after the resume closed that request: as the second request is sent, the
// first one's last read completes, having filled its buffer with bytes
// that are not the body, or is reported cancelled. WinINet's closing
// report for the first request is held back until then, as a WinINet does
// while a call of the request is under way.
class ScopedLateCompletion {
 public:
  explicit ScopedLateCompletion(bool with_bytes) : saved_(*Wininet()) {
    base::AutoLock lock(Lock());
    real_ = &saved_;
    with_bytes_ = with_bytes;
    requests_.clear();
    contexts_.clear();
    last_read_ = Read();
    injected_ = 0;
    held_context_ = 0;
    WininetFunctions* table = const_cast<WininetFunctions*>(Wininet());
    table->open_request = [](HINTERNET connection, LPCWSTR verb, LPCWSTR path,
                             LPCWSTR version, LPCWSTR referrer, LPCWSTR* accept,
                             DWORD flags, DWORD_PTR context) {
      HINTERNET request = real_->open_request(
          connection, verb, path, version, referrer, accept, flags, context);
      base::AutoLock lock(Lock());
      requests_.push_back(request);
      contexts_.push_back(context);
      return request;
    };
    table->set_status_callback = [](HINTERNET handle,
                                     INTERNET_STATUS_CALLBACK callback) {
      {
        base::AutoLock lock(Lock());
        if (!callback || std::find(requests_.begin(), requests_.end(),
                                   handle) == requests_.end()) {
          return real_->set_status_callback(handle, callback);
        }
        product_callback_ = callback;
      }
      return real_->set_status_callback(handle, &Relay);
    };
    table->read_file = [](HINTERNET request, void* buffer, DWORD size,
                          DWORD* read) {
      {
        base::AutoLock lock(Lock());
        if (!requests_.empty() && request == requests_[0])
          last_read_ = Read{buffer, size, read};
      }
      return real_->read_file(request, buffer, size, read);
    };
    table->send_request = [](HINTERNET request, LPCWSTR headers,
                             DWORD headers_length, void* body,
                             DWORD body_length) {
      bool inject = false;
      {
        base::AutoLock lock(Lock());
        inject = requests_.size() == 2 && request == requests_[1] &&
                 last_read_.buffer && injected_ == 0;
      }
      if (inject)
        CompleteFirstRequestLate();
      return real_->send_request(request, headers, headers_length, body,
                                 body_length);
    };
  }
  ~ScopedLateCompletion() {
    *const_cast<WininetFunctions*>(Wininet()) = saved_;
  }
  int injected() const { return injected_; }

 private:
  struct Read {
    void* buffer = nullptr;
    DWORD size = 0;
    DWORD* read = nullptr;
  };

  static base::Lock& Lock() {
    static base::Lock* const lock = new base::Lock;
    return *lock;
  }

  static void CALLBACK Relay(HINTERNET handle,
                             DWORD_PTR context,
                             DWORD status,
                             void* information,
                             DWORD information_length) {
    INTERNET_STATUS_CALLBACK callback;
    {
      base::AutoLock lock(Lock());
      callback = product_callback_;
      if (status == INTERNET_STATUS_HANDLE_CLOSING && injected_ == 0 &&
          !requests_.empty() && handle == requests_[0] &&
          context == contexts_[0]) {
        held_context_ = context;
        return;
      }
    }
    callback(handle, context, status, information, information_length);
  }

  static void CompleteFirstRequestLate() {
    HINTERNET first;
    DWORD_PTR context;
    INTERNET_STATUS_CALLBACK callback;
    {
      base::AutoLock lock(Lock());
      first = requests_[0];
      context = contexts_[0];
      callback = product_callback_;
      ++injected_;
    }
    INTERNET_ASYNC_RESULT result = {};
    if (with_bytes_) {
      memset(last_read_.buffer, 'X', last_read_.size);
      *last_read_.read = last_read_.size;
      result.dwResult = TRUE;
    } else {
      result.dwError = ERROR_INTERNET_OPERATION_CANCELLED;
    }
    callback(first, context, INTERNET_STATUS_REQUEST_COMPLETE, &result,
             sizeof(result));
    DWORD_PTR held;
    {
      base::AutoLock lock(Lock());
      held = held_context_;
    }
    if (held) {
      callback(first, held, INTERNET_STATUS_HANDLE_CLOSING, &first,
               sizeof(first));
    }
  }

  static const WininetFunctions* real_;
  static bool with_bytes_;
  static std::vector<HINTERNET> requests_;
  static std::vector<DWORD_PTR> contexts_;
  static Read last_read_;
  static INTERNET_STATUS_CALLBACK product_callback_;
  static std::atomic<int> injected_;
  static DWORD_PTR held_context_;
  const WininetFunctions saved_;
};
const WininetFunctions* ScopedLateCompletion::real_;
bool ScopedLateCompletion::with_bytes_;
std::vector<HINTERNET> ScopedLateCompletion::requests_;
std::vector<DWORD_PTR> ScopedLateCompletion::contexts_;
ScopedLateCompletion::Read ScopedLateCompletion::last_read_;
INTERNET_STATUS_CALLBACK ScopedLateCompletion::product_callback_;
std::atomic<int> ScopedLateCompletion::injected_;
DWORD_PTR ScopedLateCompletion::held_context_;

// What a request closed by a resume still reports belongs to no other
// request: its bytes are never written and its completion neither ends
// nor moves on the download, which goes on with the body as sent.
TEST_F(WininetImplTest, LateCompletionsOfAClosedRequestAreIgnored) {
  const std::string body = base::LoopbackHttpServer::Bytes(100000);
  Response cut;
  cut.body = body;
  cut.close_after = 40000;
  Response rest;
  rest.body = body;
  for (const bool with_bytes : {true, false}) {
    SCOPED_TRACE(with_bytes ? "bytes" : "cancelled");
    const std::string target = with_bytes ? "/late_bytes" : "/late_cancelled";
    server_.Script(target, {cut, rest});
    probe_ = Probe();
    ScopedLateCompletion late(with_bytes);
    auto downloader = MakeDownloader();
    base::ScopedLogLines log(base::logging::LOG_WARNING,
                             base::logging::LOG_WARNING);
    ASSERT_TRUE(StartProbe(downloader.get(), target));
    RunUntilDone(downloader.get());
    EXPECT_EQ(1, late.injected());
    EXPECT_EQ(1, done_);
    EXPECT_EQ(WininetImpl::STATE_COMPLETED, downloader->GetState())
        << downloader->GetErrorText();
    EXPECT_EQ(body.size(), probe_.data.size());
    EXPECT_TRUE(body == probe_.data);
    if (LostReads(log) == 0) {
      EXPECT_EQ((std::vector<std::string>{"", "bytes=40000-"}),
                RangesAsked(target));
    }
    int ignored = 0;
    for (const std::string& line : log.lines())
      ignored += line.find("Ignoring the completion of a closed request") == 0;
    EXPECT_EQ(1, ignored);
  }
}

TEST_F(WininetImplTest, ServerErrorsAreRetriedAfterAPause) {
  Response unavailable;
  unavailable.status = 503;
  Response good;
  good.body = "payload";
  server_.Script("/busy", {unavailable, unavailable, unavailable, good});
  auto downloader = MakeDownloader();
  base::ScopedLogLines log(base::logging::LOG_INFO, base::logging::LOG_INFO);
  ASSERT_TRUE(StartProbe(downloader.get(), "/busy"));
  RunUntilDone(downloader.get());
  EXPECT_EQ(1, done_);
  EXPECT_EQ(WininetImpl::STATE_COMPLETED, downloader->GetState());
  EXPECT_EQ("payload", probe_.data);
  EXPECT_EQ(1, progress_.stalled);
  std::vector<std::string> retries;
  for (const std::string& line : log.lines()) {
    if (line.find("Retrying ") == 0)
      retries.push_back(line);
  }
  EXPECT_EQ((std::vector<std::string>{"Retrying 0 of 600", "Retrying 1 of 600",
                                      "Retrying 2 of 600"}),
            retries);
  std::vector<int64_t> pauses;
  for (const auto& post : runner_->posts()) {
    if (std::string("CheckRetriesAndResume") == post.from_here.function_name())
      pauses.push_back(post.delay.InMicroseconds());
  }
  EXPECT_EQ(std::vector<int64_t>(3, 6000000), pauses);
  EXPECT_EQ(4u, server_.RequestsFor("/busy").size());

  // Consecutive failures beyond the limit end the download.
  server_.Serve("/down", 503, "");
  downloader->SetMaxRetries(1);
  ASSERT_TRUE(StartProbe(downloader.get(), "/down"));
  RunUntilDone(downloader.get());
  EXPECT_EQ(1, done_);
  EXPECT_EQ(WininetImpl::STATE_FAILED, downloader->GetState());
  EXPECT_EQ("Number of retries exceeded, last error: 503\n",
            downloader->GetErrorText());
  EXPECT_EQ(3u, server_.RequestsFor("/down").size());

  // Start keeps the count: a new download whose first request meets a
  // connectivity error gives up at once (nobody listens on port 1).
  const size_t posts = runner_->posts().size();
  ASSERT_TRUE(StartInto(downloader.get(), L"http://127.0.0.1:1/file",
                        std::make_unique<ProbeWriter>(&probe_)));
  RunUntilDone(downloader.get());
  EXPECT_EQ(1, done_);
  EXPECT_EQ(WininetImpl::STATE_FAILED, downloader->GetState());
  EXPECT_EQ("Number of retries exceeded, last error: 12029\n",
            downloader->GetErrorText());
  for (size_t i = posts; i < runner_->posts().size(); ++i) {
    EXPECT_NE(std::string("CheckRetriesAndResume"),
              runner_->posts()[i].from_here.function_name());
  }
}

// A retry's pause that is pending when the download stops comes to
// nothing: no completion, no further request.
TEST_F(WininetImplTest, StopDuringTheRetryPause) {
  server_.Serve("/down", 503, "");
  auto downloader = MakeDownloader();
  ASSERT_TRUE(StartProbe(downloader.get(), "/down"));
  while (runner_->pending_count() == 0 && runner_->WaitForPost())
    runner_->RunDueTasks();
  ASSERT_NE(0u, runner_->pending_count());
  downloader->Stop();
  runner_->FastForwardBy(base::TimeDelta::FromSeconds(60));
  EXPECT_EQ(0, done_);
  EXPECT_EQ(WininetImpl::STATE_STOPPED, downloader->GetState());
  EXPECT_EQ(1u, server_.RequestsFor("/down").size());
}

// A server that keeps ending the body short without sending anything new
// is retried like a failing one, not asked again at once for ever; so is
// one that resends the same beginning each time.
TEST_F(WininetImplTest, CutsWithoutProgressCountAsFailures) {
  Response first;
  first.body = base::LoopbackHttpServer::Bytes(10000);
  first.close_after = 4000;
  Response nothing = first;
  nothing.close_after = 0;
  Response whole_again = first;
  whole_again.honour_range = false;
  server_.Script("/stuck", {first, nothing});
  server_.Script("/again", {whole_again});
  for (const char* target : {"/stuck", "/again"}) {
    SCOPED_TRACE(target);
    probe_ = Probe();
    progress_ = RecordingProgress();
    auto downloader = MakeDownloader();
    downloader->SetMaxRetries(3);
    ASSERT_TRUE(StartProbe(downloader.get(), target));
    RunUntilDone(downloader.get());
    EXPECT_EQ(1, done_);
    EXPECT_EQ(WininetImpl::STATE_FAILED, downloader->GetState());
    EXPECT_EQ(base::StringPrintf("Number of retries exceeded, last error: %d\n",
                                 ERROR_INTERNET_CONNECTION_ABORTED),
              downloader->GetErrorText());
    EXPECT_TRUE(first.body.substr(0, 4000) == probe_.data);
    EXPECT_EQ(3, progress_.stalled);
    // The first request, the resume after the cut, four retries.
    EXPECT_EQ(6u, server_.RequestsFor(target).size());
  }
}

TEST_F(WininetImplTest, ProxyPromptDecidesTheDownload) {
  // A length that is no number does not matter for an answer whose body is
  // not kept.
  Response proxy;
  proxy.raw =
      "HTTP/1.1 407 Proxy Authentication Required\r\n"
      "Content-Length: many\r\n\r\n";
  Response good;
  good.body = "payload";
  const struct {
    int32_t result;
    int32_t state;
    const char* error;
  } kCases[] = {
      {ERROR_INTERNET_FORCE_RETRY, WininetImpl::STATE_COMPLETED, ""},
      {0, WininetImpl::STATE_FAILED,
       "The user cancelled the prompt for proxy credentials\n"},
      {ERROR_CANCELLED, WininetImpl::STATE_FAILED,
       "The user cancelled the prompt for proxy credentials\n"},
      {ERROR_INTERNET_INCORRECT_PASSWORD, WininetImpl::STATE_FAILED,
       "Failed to obtain credentials for proxy\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.result);
    const std::string target = "/proxy" + std::to_string(c.result);
    server_.Script(target, {proxy, good});
    ui_runner_.result = c.result;
    ui_runner_.prompts = 0;
    probe_ = Probe();
    auto downloader = MakeDownloader();
    ASSERT_TRUE(StartProbe(downloader.get(), target));
    RunUntilDone(downloader.get());
    EXPECT_EQ(1, done_);
    EXPECT_EQ(1, ui_runner_.prompts);
    EXPECT_EQ(c.state, downloader->GetState());
    EXPECT_EQ(c.error, downloader->GetErrorText());
    EXPECT_EQ(c.state == WininetImpl::STATE_COMPLETED ? "payload" : "",
              probe_.data);
    const std::vector<FetchChunkStatistics> stats =
        downloader->GetChunkStatistics();
    ASSERT_FALSE(stats.empty());
    EXPECT_EQ(true, stats[0].proxy_login_needed);
    EXPECT_EQ(c.result, stats[0].proxy_login_result);
  }
}

// The proxy prompt runs later on the UI thread: it shows the dialog for
// the live request, and once the download stopped it neither touches the
// closed request nor ends the download.
TEST_F(WininetImplTest, ProxyPromptAfterStopDoesNothing) {
  Response proxy;
  proxy.status = 407;
  Response good;
  good.body = "payload";
  ScopedHandleCount handles;
  std::vector<HINTERNET>& shown = ScopedHandleCount::ShowDialogs();
  ui_runner_.hold = true;
  for (const bool stop : {false, true}) {
    SCOPED_TRACE(stop ? "stopped" : "running");
    const std::string target = stop ? "/proxy_stopped" : "/proxy_running";
    server_.Script(target, {proxy, good});
    probe_ = Probe();
    shown.clear();
    auto downloader = MakeDownloader();
    ASSERT_TRUE(StartProbe(downloader.get(), target));
    while (ui_runner_.held.is_null() && runner_->WaitForPost())
      runner_->RunDueTasks();
    ASSERT_FALSE(ui_runner_.held.is_null());
    if (stop)
      downloader->Stop();
    const int32_t result = std::move(ui_runner_.held).Run(nullptr);
    std::move(ui_runner_.held_reply).Run(result);
    if (stop) {
      runner_->RunUntilIdle();
      EXPECT_EQ(ERROR_CANCELLED, result);
      EXPECT_TRUE(shown.empty());
      EXPECT_EQ(0, done_);
      EXPECT_EQ(WininetImpl::STATE_STOPPED, downloader->GetState());
    } else {
      RunUntilDone(downloader.get());
      ASSERT_EQ(1u, shown.size());
      EXPECT_NE(nullptr, shown[0]);
      EXPECT_EQ(WininetImpl::STATE_COMPLETED, downloader->GetState());
      EXPECT_EQ("payload", probe_.data);
    }
  }
}

// Without its status callbacks a download would never hear of its end (nor
// Close of the connection's): a refused registration ends it.
TEST_F(WininetImplTest, RefusedStatusCallbackEndsTheDownload) {
  Response unavailable;
  unavailable.status = 503;
  Response good;
  good.body = "payload";
  const struct {
    // The registration that fails: Start makes four, a resume three more.
    int failing;
    bool started;
    const char* error;
  } kCases[] = {
      {4, false, "Could not register the request status callback"},
      {7, true, "Could not register the request status callback"},
      {6, true, "Could not register the connection status callback"},
      {1, false, "Could not register the connection status callback"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.failing);
    const std::string target = "/refused" + std::to_string(c.failing);
    server_.Script(target, {unavailable, good});
    ScopedHandleCount handles;
    handles.FailCallbackRegistration(c.failing);
    auto downloader = MakeDownloader();
    EXPECT_EQ(c.started, StartProbe(downloader.get(), target));
    // Refused before any request: the session is closed at once.
    if (c.failing == 1) {
      EXPECT_EQ(0, handles.live());
    }
    if (c.started) {
      RunUntilDone(downloader.get());
      EXPECT_EQ(1, done_);
      EXPECT_EQ(WininetImpl::STATE_FAILED, downloader->GetState());
    }
    EXPECT_EQ(std::string(c.error) + ", system error: 6\n",
              downloader->GetErrorText());
    downloader.reset();
    EXPECT_EQ(0, handles.live());
  }
}

TEST_F(WininetImplTest, OnlyWebAddressesNeedAHost) {
  const struct {
    const wchar_t* url;
    bool cracks;
    int scheme;
    const wchar_t* host;
    const wchar_t* path;
  } kCases[] = {
      {L"http://127.0.0.1:8080/a?b=1", true, INTERNET_SCHEME_HTTP, L"127.0.0.1",
       L"/a?b=1"},
      // A request asks for what is written: "%2B" decoded would be a "+".
      {L"https://cdn.kavor.example/p/a%20b?sig=a%2Bb%26c%3D#f", true,
       INTERNET_SCHEME_HTTPS, L"cdn.kavor.example",
       L"/p/a%20b?sig=a%2Bb%26c%3D"},
      {L"http://h?x=1", true, INTERNET_SCHEME_HTTP, L"h", L"/?x=1"},
      {L"file:///C:/my%20dir/setup.7z", true, INTERNET_SCHEME_FILE, L"",
       L"C:\\my dir\\setup.7z"},
      {L"file:///C:/dir/setup.7z", true, INTERNET_SCHEME_FILE, L"",
       L"C:\\dir\\setup.7z"},
      {L"https:///setup.7z", false},
      {L"http:///setup.7z", false},
      {L"setup.7z", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.url);
    const std::optional<CrackedUrl> cracked = WininetImpl::CrackUrl(c.url);
    ASSERT_EQ(c.cracks, cracked.has_value());
    if (cracked) {
      EXPECT_EQ(c.scheme, cracked->scheme);
      EXPECT_EQ(c.host, cracked->host);
      EXPECT_EQ(c.path, cracked->path);
    }
  }
  // What the platform's cracker fails on (a long file URL, a line feed
  // before "://") never reaches it: a file URL is taken apart without it,
  // anything but http, https and file, anything with a control character
  // and anything longer than the limit is refused.
  const std::wstring long_name(400, L'a');
  const std::optional<CrackedUrl> long_file =
      WininetImpl::CrackUrl(L"file:///C:/" + long_name);
  ASSERT_TRUE(long_file);
  EXPECT_EQ(L"C:\\" + long_name, long_file->path);
  // The longest URL taken has a path of almost that length, query and all.
  const std::wstring longest_path =
      L"/" + std::wstring(WininetImpl::kMaxUrlLength - 9 - 7, L'p') +
      L"?q=a%2B";
  const std::wstring web = L"http://h" + longest_path;
  ASSERT_EQ(WininetImpl::kMaxUrlLength, web.size());
  const std::optional<CrackedUrl> longest = WininetImpl::CrackUrl(web);
  ASSERT_TRUE(longest);
  EXPECT_EQ(L"h", longest->host);
  EXPECT_EQ(longest_path, longest->path);
  for (const std::wstring& url :
       {L"file\n:///C:/" + long_name, std::wstring(L"http\n://h/p"),
        std::wstring(L"https://h/p\x7f"), std::wstring(L"http://h/p\tq"),
        std::wstring(L"file:///C:/a%0Ab"), std::wstring(L"file:///C:/a%4"),
        std::wstring(L"ftp://h/p"), std::wstring(L"mk:@MSITStore:C:/a"),
        web + L"p"}) {
    EXPECT_FALSE(WininetImpl::CrackUrl(url)) << url.substr(0, 40);
  }

  // Only a server can be downloaded from.
  auto downloader = MakeDownloader();
  EXPECT_FALSE(StartInto(downloader.get(), L"file:///C:/dir/setup.7z",
                         std::make_unique<ProbeWriter>(&probe_)));
  EXPECT_EQ("Could not parse URL file:///C:/dir/setup.7z\n",
            downloader->GetErrorText());
  // One refused for its length says so.
  const std::wstring too_long = web + L"p";
  EXPECT_FALSE(StartInto(downloader.get(), too_long,
                         std::make_unique<ProbeWriter>(&probe_)));
  EXPECT_EQ("Could not parse URL " + base::WideToUTF8(too_long) + ": URL of " +
                base::Uint64ToString(too_long.size()) +
                " characters is longer than the limit of " +
                base::Uint64ToString(WininetImpl::kMaxUrlLength) + "\n",
            downloader->GetErrorText());
}

// The longest URL taken reaches the server whole, its query and escapes as
// written: the limit promises nothing the platform cannot send.
TEST_F(WininetImplTest, TheLongestUrlTakenReachesTheServerWhole) {
  const std::string start = "/long?sig=a%2Bb&q=";
  const size_t room = WininetImpl::kMaxUrlLength - server_.Url(start).size();
  const std::string target = start + std::string(room, 'q');
  ASSERT_EQ(WininetImpl::kMaxUrlLength, server_.Url(target).size());
  server_.Serve(target, 200, "{}");
  auto downloader = MakeDownloader();
  ASSERT_TRUE(StartProbe(downloader.get(), target))
      << downloader->GetErrorText();
  RunUntilDone(downloader.get());
  EXPECT_EQ(WininetImpl::STATE_COMPLETED, downloader->GetState())
      << downloader->GetErrorText();
  const std::vector<base::LoopbackHttpServer::Request> requests =
      server_.requests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ(target, requests[0].target);
}

// C1 controls (U+0080 to U+009F; U+0085 is a line break to some parsers)
// are refused as C0 ones are, in a web address as in a local path, whether
// written as they are or escaped.
TEST_F(WininetImplTest, UrlsWithC1ControlsAreRefused) {
  for (const std::wstring& url :
       {std::wstring(L"http://h/p\x85q"),
        std::wstring(L"https://h\x85.example/p"),
        std::wstring(L"http://h/p?x=\x9F"),
        std::wstring(L"file:///C:/a\x85.txt"),
        std::wstring(L"file:///C:/a%C2%85b"),
        std::wstring(L"file:///C:/dir/\x80setup.7z")}) {
    EXPECT_FALSE(WininetImpl::CrackUrl(url)) << base::WideToUTF8(url);
  }
  // Next to them, what is not a control goes through.
  EXPECT_TRUE(WininetImpl::CrackUrl(L"http://h/p\xA0q"));
  EXPECT_TRUE(WininetImpl::CrackUrl(L"file:///C:/a%C2%A0b"));
}

TEST_F(WininetImplTest, OnlyAllowedHostsAreAsked) {
  auto downloader = MakeDownloader();
  downloader->SetAllowedDomains({L".kavor.example"});
  server_.Serve("/file", 200, "{}");
  EXPECT_FALSE(StartProbe(downloader.get(), "/file"));
  EXPECT_EQ("Domain disallowed 127.0.0.1\n", downloader->GetErrorText());
  runner_->RunUntilIdle();
  EXPECT_EQ(0, done_);
  EXPECT_TRUE(server_.requests().empty());

  // A redirect is followed only to an allowed host; a refused one ends the
  // download.
  const std::string elsewhere =
      "http://localhost:" + std::to_string(server_.port()) + "/file";
  server_.Redirect("/hop", "/file");
  server_.Redirect("/away", elsewhere);
  downloader->SetAllowedDomains({L"127.0.0.1"});
  ASSERT_TRUE(StartProbe(downloader.get(), "/hop"));
  RunUntilDone(downloader.get());
  EXPECT_EQ(WininetImpl::STATE_COMPLETED, downloader->GetState());
  EXPECT_EQ("{}", probe_.data);
  EXPECT_EQ(server_.Url("/file"),
            base::UTF8ToWide(
                *downloader->GetChunkStatistics().back().redirected_url));

  ASSERT_TRUE(StartProbe(downloader.get(), "/away"));
  RunUntilDone(downloader.get());
  EXPECT_EQ(1, done_);
  EXPECT_EQ(WininetImpl::STATE_FAILED, downloader->GetState());
  EXPECT_EQ("Redirect URL is disallowed " + elsewhere + "\n",
            downloader->GetErrorText());
  // The refused host never had the request.
  EXPECT_EQ(1u, server_.RequestsFor("/file").size());
}

// Redirects are followed by the downloader itself: to another host over a
// connection of its own, relative locations from the current URL, every
// path and query as written (escapes kept, no fragment), a POST kept only
// by 307 and 308, and not for ever. A resume asks the URL given to Start
// again, back on its own server, with the redirects counted afresh.
TEST_F(WininetImplTest, FollowsRedirectsItself) {
  const std::string other =
      "http://localhost:" + std::to_string(server_.port());
  const std::string start = "/a%2Bb/x?s=a%2Bb%26c%3D";
  server_.Redirect(start, "next?q=%2B#top", 307);
  server_.Redirect("/a%2Bb/next?q=%2B", other + "/b/third");
  server_.Redirect("/b/third", "?c d", 303);
  // Four rounds of three redirects each: more than the limit in all.
  Response cut;
  cut.body = base::LoopbackHttpServer::Bytes(4000);
  cut.close_after = 1000;
  server_.Script("/b/third?c%20d", {cut});
  server_.Redirect("/loop", "/loop");
  ScopedHandleCount handles;
  auto downloader = MakeDownloader();
  downloader->SetAllowedDomains({L"127.0.0.1", L"localhost"});
  std::string out;
  ASSERT_TRUE(StartInto(downloader.get(), server_.Url(start),
                        std::make_unique<StringResponseWriter>(&out), "data"));
  RunUntilDone(downloader.get());
  EXPECT_EQ(WininetImpl::STATE_COMPLETED, downloader->GetState())
      << downloader->GetErrorText();
  EXPECT_TRUE(cut.body == out);
  const std::string local = "127.0.0.1:" + std::to_string(server_.port());
  const std::string named = "localhost:" + std::to_string(server_.port());
  std::vector<std::string> expected, asked;
  for (int round = 0; round < 4; ++round) {
    const std::string range =
        round ? "bytes=" + std::to_string(round * 1000) + "-" : "";
    for (const std::string& line :
         {"POST " + start + " " + local + " data",
          "POST /a%2Bb/next?q=%2B " + local + " data",
          "GET /b/third " + named + " ", "GET /b/third?c%20d " + named + " "}) {
      expected.push_back(line + " " + range);
    }
  }
  for (const auto& request : server_.requests()) {
    asked.push_back(request.method + " " + request.target + " " +
                    request.Header("Host") + " " + request.body + " " +
                    request.Header("Range"));
  }
  EXPECT_EQ(expected, asked);
  const std::vector<FetchChunkStatistics> stats =
      downloader->GetChunkStatistics();
  ASSERT_EQ(4u, stats.size());
  EXPECT_EQ(other + "/b/third?c d", *stats[0].redirected_url);

  ASSERT_TRUE(StartProbe(downloader.get(), "/loop"));
  RunUntilDone(downloader.get());
  EXPECT_EQ(WininetImpl::STATE_FAILED, downloader->GetState());
  EXPECT_EQ("Too many redirects, the last to " +
                base::WideToUTF8(server_.Url("/loop")) + "\n",
            downloader->GetErrorText());
  EXPECT_EQ(11u, server_.RequestsFor("/loop").size());
  // Every connection and session left behind on the way is closed.
  downloader.reset();
  EXPECT_EQ(0, handles.live());
}

// Broken answers and a failing writer end the download in failure, once.
// Without Content-Length any body completes, all of it counted as too long.
TEST_F(WininetImplTest, BadAnswersFail) {
  Response raw;
  raw.raw = "HTTP/1.1 2OO OK\r\nContent-Length: 2\r\n\r\n{}";
  Response bad_headers;
  bad_headers.raw = "HTTP/1.1 200 OK\r\nContent-Length: many\r\nbroken\r\n\r\n";
  // Large enough for the writer to be called several times.
  const std::string body = base::LoopbackHttpServer::Bytes(1 << 20);
  Response ok;
  ok.body = body;
  server_.Script("/raw", {raw});
  server_.Script("/headers", {bad_headers});
  server_.Script("/ok", {ok});
  server_.Serve("/missing", 404, "gone");
  Response no_length;
  no_length.body = "0123456789";
  no_length.content_length = false;
  server_.Script("/nolength", {no_length});
  // A failure to retry, whatever its length says.
  Response busy;
  busy.raw = "HTTP/1.1 503 Busy\r\nContent-Length: many\r\n\r\n";
  Response whole = no_length;
  whole.honour_range = false;
  server_.Script("/busy", {busy, whole});
  const struct {
    std::wstring url;
    int fail_at;
    const char* error;
    int32_t state = WininetImpl::STATE_FAILED;
  } kCases[] = {
      {server_.Url("/nolength"), 0, "", WininetImpl::STATE_COMPLETED},
      {server_.Url("/busy"), 0, "", WininetImpl::STATE_COMPLETED},
      // WinINet reads the leading digits of a broken status.
      {server_.Url("/raw"), 0,
       "Request completed with an unexpected HTTP status 2\n"},
      {server_.Url("/headers"), 0,
       "Response with an invalid Content-Length many\n"},
      {server_.Url("/missing"), 0,
       "Request completed with an unexpected HTTP status 404\n"},
      {server_.Url("/ok"), 3, "Failed writing the response with error 112\n"},
      // Nobody listens on port 1.
      {L"http://127.0.0.1:1/file", 0,
       "Number of retries exceeded, last error: 12029\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.url);
    probe_ = Probe();
    probe_.fail_at = c.fail_at;
    auto downloader = MakeDownloader();
    downloader->SetMaxRetries(0);
    ASSERT_TRUE(StartInto(downloader.get(), c.url,
                          std::make_unique<ProbeWriter>(&probe_)));
    RunUntilDone(downloader.get());
    EXPECT_EQ(1, done_);
    EXPECT_EQ(c.state, downloader->GetState());
    EXPECT_EQ(c.error, downloader->GetErrorText());
    if (c.state == WininetImpl::STATE_COMPLETED) {
      EXPECT_EQ("0123456789", probe_.data);
      EXPECT_EQ(10, downloader->GetChunkStatistics().back().response_too_long);
    }
  }
}

// A body longer than its answer announced, or than the ceiling of every
// download, ends the download in failure as soon as it passes the limit;
// the writer never gets more than the limit.
TEST_F(WininetImplTest, BodiesLongerThanAnnouncedOrTheCeilingFail) {
  constexpr uint32_t kCeiling = 1 << 20;
  // No length: the server keeps sending, far past the ceiling.
  Response endless;
  endless.body = base::LoopbackHttpServer::Bytes(8 * kCeiling);
  endless.content_length = false;
  endless.honour_range = false;
  server_.Script("/endless", {endless});
  // The first answer announces 10,000 bytes and is cut; the resumed range
  // says it ends there but its own length goes on.
  Response cut;
  cut.body = base::LoopbackHttpServer::Bytes(10000);
  cut.close_after = 4000;
  Response past;
  past.raw =
      "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 4000-9999/10000"
      "\r\nContent-Length: 500000\r\nConnection: close\r\n\r\n" +
      base::LoopbackHttpServer::Bytes(500000);
  server_.Script("/past", {cut, past});
  const struct {
    const char* target;
    uint32_t limit;
    const char* error;
  } kCases[] = {
      {"/endless", kCeiling, "Response longer than 1048576 bytes\n"},
      {"/past", 10000, "Response longer than the announced 10000 bytes\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.target);
    probe_ = Probe();
    auto downloader = MakeDownloader();
    downloader->SetMaxBodySizeForTesting(kCeiling);
    ASSERT_TRUE(StartProbe(downloader.get(), c.target));
    RunUntilDone(downloader.get());
    EXPECT_EQ(1, done_);
    EXPECT_EQ(WininetImpl::STATE_FAILED, downloader->GetState());
    EXPECT_EQ(c.error, downloader->GetErrorText());
    EXPECT_GE(c.limit, probe_.data.size());
  }
}

// Stopping or destroying the downloader while the body trickles in ends it
// at once: nothing reaches the caller, the writer or the delegate after
// that, and no WinINet handle stays open.
TEST_F(WininetImplTest, StopAndDestructionEndTheDownloadAtOnce) {
  Response slow;
  slow.body = base::LoopbackHttpServer::Bytes(100000);
  slow.trickle_bytes = 512;
  slow.trickle_pause_ms = 20;
  server_.Script("/slow", {slow});
  for (const bool destroy : {false, true}) {
    SCOPED_TRACE(destroy ? "destroyed" : "stopped");
    probe_ = Probe();
    ScopedHandleCount handles;
    auto downloader = MakeDownloader();
    ASSERT_TRUE(StartProbe(downloader.get(), "/slow"));
    while (probe_.data.empty() && runner_->WaitForPost())
      runner_->RunDueTasks();
    ASSERT_FALSE(probe_.data.empty());
    // The first bytes reach the writer as they arrive, not once a buffer's
    // worth came in: with a read waiting under it, Stop would have to wait
    // for that too.
    EXPECT_LT(probe_.data.size(), slow.body.size() / 8);
    // Session, connection and request.
    EXPECT_EQ(3, handles.live());
    if (destroy) {
      downloader.reset();
    } else {
      downloader->Stop();
      EXPECT_EQ(WininetImpl::STATE_STOPPED, downloader->GetState());
    }
    probe_.sealed = true;
    EXPECT_EQ(0, handles.live());
    EXPECT_LT(probe_.data.size(), slow.body.size());
    runner_->RunUntilIdle();
    EXPECT_EQ(0, done_);
    EXPECT_EQ(0, probe_.late_calls);
  }
}

// A server that stops answering (before the head, or in the body) makes
// the request time out; the time-out is retried like a cut connection,
// the third failure in a row reports the download stalled, and the data
// comes once the server answers again.
TEST_F(WininetImplTest, StalledServerIsRetriedUntilItAnswers) {
  const std::string body = base::LoopbackHttpServer::Bytes(300000);
  Response silent;
  silent.silent = true;
  Response answer;
  answer.body = body;
  Response stalled = answer;
  stalled.stall_after = 100000;
  server_.Script("/silent", {silent, silent, silent, answer});
  server_.Script("/stalled", {stalled, answer});
  for (const char* target : {"/silent", "/stalled"}) {
    SCOPED_TRACE(target);
    probe_ = Probe();
    progress_ = RecordingProgress();
    auto downloader = MakeDownloader();
    downloader->SetTimeoutForTesting(2000);
    base::ScopedLogLines log(base::logging::LOG_WARNING,
                             base::logging::LOG_WARNING);
    ASSERT_TRUE(StartProbe(downloader.get(), target));
    RunUntilDone(downloader.get());
    EXPECT_EQ(WininetImpl::STATE_COMPLETED, downloader->GetState())
        << downloader->GetErrorText();
    EXPECT_TRUE(body == probe_.data);
    const std::vector<std::string> ranges = RangesAsked(target);
    if (target == std::string("/silent")) {
      EXPECT_LE(4u, ranges.size());
      EXPECT_LE(1, progress_.stalled);
    } else if (LostReads(log) != 0) {
      EXPECT_LE(2u, ranges.size());
    } else {
      // Resumed where the stall was, or before it: the client may drop
      // bytes it had not read when the time-out came.
      ASSERT_EQ(2u, ranges.size());
      EXPECT_EQ("", ranges[0]);
      unsigned offset = 0;
      EXPECT_EQ(1, sscanf(ranges[1].c_str(), "bytes=%u-", &offset))
          << ranges[1];
      EXPECT_LT(0u, offset);
      EXPECT_GE(100000u, offset);
    }
  }
}

// Stopping or destroying the downloader while its request hangs on a
// server that never answers returns without waiting for the request's
// time-out (three minutes here): a cancelled run must end at once. Nothing
// reaches the caller afterwards.
TEST_F(WininetImplTest, StopDoesNotWaitForAHangingRequest) {
  Response silent;
  silent.silent = true;
  server_.Script("/silent", {silent});
  for (const bool destroy : {false, true}) {
    SCOPED_TRACE(destroy ? "destroyed" : "stopped");
    probe_ = Probe();
    auto downloader = MakeDownloader();
    downloader->SetTimeoutForTesting(180000);
    const size_t asked = server_.requests().size();
    ASSERT_TRUE(StartProbe(downloader.get(), "/silent"));
    // The request is out and waits for the answer.
    const ULONGLONG deadline = ::GetTickCount64() + 60000;
    while (server_.requests().size() == asked &&
           ::GetTickCount64() < deadline) {
      runner_->RunDueTasks();
      ::Sleep(10);
    }
    ASSERT_LT(asked, server_.requests().size()) << "the request never came";
    runner_->RunUntilIdle();
    const ULONGLONG before = ::GetTickCount64();
    if (destroy)
      downloader.reset();
    else
      downloader->Stop();
    probe_.sealed = true;
    EXPECT_GT(60000u, ::GetTickCount64() - before)
        << "the cancel waited for the hanging request";
    runner_->RunUntilIdle();
    EXPECT_EQ(0, done_);
    EXPECT_EQ(0, probe_.late_calls);
  }
}

// A body that comes in slowly reaches the writer and the progress piece by
// piece as it arrives, and whole: a query that waited for bytes reports
// their number where an error would stand, which must not count as one.
TEST_F(WininetImplTest, TrickledBodyIsWrittenAsItArrives) {
  Response slow;
  slow.body = base::LoopbackHttpServer::Bytes(10000);
  slow.trickle_bytes = 1024;
  slow.trickle_pause_ms = 2;
  server_.Script("/slow", {slow});
  auto downloader = MakeDownloader();
  ASSERT_TRUE(StartProbe(downloader.get(), "/slow"));
  RunUntilDone(downloader.get());
  EXPECT_EQ(1, done_);
  EXPECT_EQ(WininetImpl::STATE_COMPLETED, downloader->GetState())
      << downloader->GetErrorText();
  EXPECT_TRUE(slow.body == probe_.data);
  EXPECT_EQ(slow.body.size(), progress_.current);
  EXPECT_LT(1, probe_.writes);
  const std::vector<FetchChunkStatistics> stats =
      downloader->GetChunkStatistics();
  ASSERT_EQ(1u, stats.size());
  EXPECT_EQ(std::optional<int32_t>(0), stats[0].wininet_error);
}

// Run by the full-drive end-to-end test, which mounts a small drive and
// names a folder on it in KAVOR_SMALL_DRIVE. The write that fills the drive
// takes only part of its bytes and succeeds; the error reported is the one
// of the next write, the drive's own.
TEST(WininetResponseWriterTest, DISABLED_OnASmallDriveTheDrivesErrorIsReported) {
  const char* drive = getenv("KAVOR_SMALL_DRIVE");
  ASSERT_TRUE(drive) << "KAVOR_SMALL_DRIVE names no folder";
  const base::FilePath path =
      base::FilePath(base::UTF8ToWide(drive)).Append(L"download");
  {
    WininetResponseWriter writer;
    ASSERT_TRUE(writer.Open(path));
    // Not a multiple of any page or block size: one write is cut short.
    const std::string chunk(100000, 'x');
    bool wrote = true;
    for (int i = 0; wrote && i < 100000; ++i)
      wrote = writer.Write(chunk.data(), static_cast<uint32_t>(chunk.size()));
    EXPECT_FALSE(wrote);
    EXPECT_EQ(static_cast<uint32_t>(ERROR_DISK_FULL), writer.last_error());
    writer.Close();
  }
  EXPECT_TRUE(base::DeleteFile(path, false));
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

// A redirect resolves against the current URL as written and is followed
// only to an allowed host over http or https, never down from https.
TEST(WininetImplHostTest, RedirectsResolveAsWrittenAndStayOnTheWeb) {
  const std::wstring kFrom = L"https://cdn.kavor.example/d/x%2By/f?old=1#a";
  const struct {
    const wchar_t* location;
    const wchar_t* target;
    bool allowed;
  } kCases[] = {
      {L"?x=1", L"https://cdn.kavor.example/d/x%2By/f?x=1", true},
      {L"g%2B#top", L"https://cdn.kavor.example/d/x%2By/g%2B", true},
      {L"/r", L"https://cdn.kavor.example/r", true},
      {L"//dl.kavor.example:8443/p", L"https://dl.kavor.example:8443/p", true},
      {L"HTTPS://dl.kavor.example/p#x", L"HTTPS://dl.kavor.example/p", true},
      {L"http://cdn.kavor.example/p", L"http://cdn.kavor.example/p", false},
      {L"ftp://cdn.kavor.example/p", L"ftp://cdn.kavor.example/p", false},
      {L"file:///C:/x.exe", L"file:///C:/x.exe", false},
      {L"https://evil.example/p", L"https://evil.example/p", false},
  };
  const std::vector<std::wstring> kDomains = {L".kavor.example"};
  // The reason a redirect is refused, empty when it is followed; a followed
  // one comes taken apart as the request needs it.
  auto refusal = [&kDomains](const std::wstring& from, const std::wstring& to) {
    std::string reason;
    const std::optional<CrackedUrl> cracked =
        WininetImpl::CheckRedirect(from, to, kDomains, &reason);
    if (cracked) {
      const std::optional<CrackedUrl> expected = WininetImpl::CrackUrl(to);
      EXPECT_TRUE(expected && cracked->host == expected->host &&
                  cracked->port == expected->port &&
                  cracked->path == expected->path);
    }
    EXPECT_NE(cracked.has_value(), !reason.empty());
    return reason;
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.location);
    const std::wstring target = WininetImpl::ResolveLocation(kFrom, c.location);
    EXPECT_EQ(c.target, target);
    EXPECT_EQ(c.allowed
                  ? ""
                  : "Redirect URL is disallowed " + base::WideToUTF8(c.target),
              refusal(kFrom, target));
  }
  // Up from http is fine.
  EXPECT_EQ("",
            refusal(L"http://a.kavor.example/", L"https://b.kavor.example/"));
  // A target refused for its length says so.
  const std::wstring too_long =
      L"https://b.kavor.example/" +
      std::wstring(WininetImpl::kMaxUrlLength - 23, L'p');
  EXPECT_EQ("Redirect URL failed to parse " + base::WideToUTF8(too_long) +
                ": URL of " + base::Uint64ToString(too_long.size()) +
                " characters is longer than the limit of " +
                base::Uint64ToString(WininetImpl::kMaxUrlLength),
            refusal(kFrom, too_long));
}

}  // namespace
}  // namespace installer
