#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_WININET_IMPL_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_WININET_IMPL_H_

#include <windows.h>
#include <stdint.h>
#include <wininet.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/memory/ref_counted.h"
#include "base/memory/scoped_refptr.h"
#include "base/memory/weak_ptr.h"
#include "base/single_thread_task_runner.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/waitable_event.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/wininet/wininet_downloader.h"

namespace installer {

// Writes the response into a file, replacing what was there.
class WininetResponseWriter : public ResponseWriter {
 public:
  WininetResponseWriter();
  ~WininetResponseWriter() override;

  bool Open(const base::FilePath& path);
  bool Write(const char* data, uint32_t size) override;
  void Close() override;
  bool Restart() override;

 private:
  base::win::ScopedHandle file_;

  DISALLOW_COPY_AND_ASSIGN(WininetResponseWriter);
};

// Collects the response in a caller's string, which it empties first.
class StringResponseWriter : public ResponseWriter {
 public:
  explicit StringResponseWriter(std::string* out);

  bool Write(const char* data, uint32_t size) override;
  void Close() override {}
  bool Restart() override;

 private:
  std::string* const out_;

  DISALLOW_COPY_AND_ASSIGN(StringResponseWriter);
};

// The parts of a URL a request is made of.
struct CrackedUrl {
  // WinINet's scheme number (INTERNET_SCHEME_HTTPS is 4).
  int scheme = 0;
  std::wstring host;
  uint16_t port = 0;
  // The path with its query. For http and https as written (escapes kept,
  // no fragment): what the request asks for; for a file its local path.
  std::wstring path;
};

// The downloader over asynchronous WinINet. WinINet reports on threads of
// its own; every report is posted back to the owner thread bound to a weak
// pointer, so that none arrives after Stop or destruction. What WinINet
// may still touch after that lives apart from the downloader until WinINet
// let go of it, so that Stop and destruction never wait for long on a
// request that hangs in the platform. A dropped
// connection is resumed with a byte range; failures that a network has now
// and then (time-outs, resets, 502 to 504) are retried after a pause, up to
// a limit of consecutive failures.
class WininetImpl : public WininetDownloader {
 public:
  // Consecutive failures retried, 6 s apart, before a download gives up:
  // about an hour, for a package download over a connection that comes and
  // goes.
  static constexpr uint32_t kDefaultMaxRetries = 600;
  // How long connecting, sending, and each wait for bytes of the answer may
  // take before the request fails with a time-out, which is retried as
  // any loss of connectivity is: the platform's usual figure. Without one
  // a server that stops answering would hold the download for ever.
  static constexpr DWORD kDefaultTimeoutMs = 30000;
  // No body may be longer, whatever its server announced: the 32-bit byte
  // counters' own limit (4 GiB less a byte).
  static constexpr uint32_t kMaxBodySize = 0xFFFFFFFFu;
  // How long Stop and the destructor wait for WinINet to let go of the
  // connection before they leave that to a thread of its own: closing a
  // request does not end a receive under way on every platform.
  static constexpr int kReleaseWaitSeconds = 5;
  // The longest URL taken apart; longer ones are refused before the
  // platform's cracker sees them. The installer's own longest request, the
  // package metadata request naming all 100 downloadable resources, is
  // about 2,400 characters: this leaves it more than three times that.
  static constexpr size_t kMaxUrlLength = 8192;

  // |ui_runner| must not be null; |progress| may be. Neither is owned.
  WininetImpl(UICallbackRunner* ui_runner, DownloadProgressObserver* progress);
  ~WininetImpl() override;

  // WininetDownloader:
  bool Start(const std::wstring& url,
             const std::string& payload,
             base::RepeatingClosure done,
             std::unique_ptr<ResponseWriter> writer,
             std::unique_ptr<WininetDelegate> delegate) override;
  void Stop() override;
  int32_t GetState() const override;
  void SetAllowedDomains(const std::vector<std::wstring>& domains) override;
  void SetMaxRetries(uint32_t max_retries) override;
  bool IsFirstAttempt() const override;
  std::string GetErrorText() const override;
  std::vector<FetchChunkStatistics> GetChunkStatistics() const override;
  uint32_t GetDownloadedSize() const override;
  uint32_t GetHttpStatus() const override;

  // Seams for tests, which cannot wait out the real time-out or send 4 GiB;
  // they apply from the next request on.
  void SetTimeoutForTesting(DWORD timeout_ms) { timeout_ms_ = timeout_ms; }
  void SetMaxBodySizeForTesting(uint32_t size) { max_body_size_ = size; }

  // Null when |url| is not an absolute URL WinINet can take apart.
  static std::optional<CrackedUrl> CrackUrl(const std::wstring& url);
  // True when |domains| is empty or one of them is the tail of |host|
  // (compared as is: no case folding, no label boundary).
  static bool IsHostAllowed(const std::vector<std::wstring>& domains,
                            const std::wstring& host);
  // Where a Location header leads from |base|, as written: an absolute URL
  // as it is, else resolved against |base|'s server and path; no fragment.
  static std::wstring ResolveLocation(const std::wstring& base,
                                      const std::wstring& location);
  // |to| taken apart when a redirect from |from| may follow it; null, with
  // the reason in |reason|, when it must not (a host not in |domains|, a
  // scheme other than http or https, https down to http).
  static std::optional<CrackedUrl> CheckRedirect(
      const std::wstring& from,
      const std::wstring& to,
      const std::vector<std::wstring>& domains,
      std::string* reason);

 private:
  class Channel;
  class RequestContext;
  class SessionCloser;

  // The calls of the current request whose completion is awaited.
  enum class PendingCall { kNone, kSend, kQuery, kRead };

  // The request handle as the proxy prompt sees it. The prompt runs later on
  // the UI thread; Close clears the handle here before closing it, so a
  // prompt that comes after Stop, destruction or a new Start finds nothing
  // instead of a closed (maybe reused) handle.
  class PromptRequest : public base::RefCountedThreadSafe<PromptRequest> {
   public:
    explicit PromptRequest(HINTERNET request) : request_(request) {}
    // InternetErrorDlg's result; ERROR_CANCELLED when the request is gone.
    int32_t ShowProxyDialog(HWND parent);
    void Clear();

   private:
    friend class base::RefCountedThreadSafe<PromptRequest>;
    ~PromptRequest() = default;

    base::Lock lock_;
    HINTERNET request_;

    DISALLOW_COPY_AND_ASSIGN(PromptRequest);
  };

  // WinINet's status callbacks, on WinINet's threads; their context is the
  // request's RequestContext, or the connection's Channel.
  static void CALLBACK RequestStatusCallback(HINTERNET handle,
                                             DWORD_PTR context,
                                             DWORD status,
                                             void* information,
                                             DWORD information_length);
  static void CALLBACK ConnectionStatusCallback(HINTERNET handle,
                                                DWORD_PTR context,
                                                DWORD status,
                                                void* information,
                                                DWORD information_length);

  // Opens the session and a connection to |url|'s server; false, the
  // reason recorded and nothing left open, when that failed.
  bool OpenSessionAndConnection(const CrackedUrl& url);
  // Sends the request (GET, or POST with the payload) with the extra
  // headers; |new_chunk| reports a chunk beginning.
  bool OpenAndSendRequest(const CrackedUrl& url, bool new_chunk);
  // Reactions to WinINet's reports, on the owner thread.
  void OnNullRequestContext();
  // True when |serial| names the request now open.
  bool IsCurrentRequest(uint64_t serial) const;
  // |serial| is the reporting request's; |succeeded| and |error| are the
  // asynchronous result's dwResult and dwError.
  void OnConnectedToServer(uint64_t serial, const std::string& address);
  void OnRequestComplete(uint64_t serial, bool succeeded, DWORD error);
  // False when the read loop must not follow.
  bool HandleResponse();
  // Asks again where a redirect answer points, when it may be followed.
  void FollowRedirect(uint32_t status);
  // Sends the request to |url|, over a new connection when the open one
  // goes to another server.
  bool ConnectAndSend(const CrackedUrl& url, bool new_chunk);
  // Empties the writer for a body sent from its start; false, after
  // Fail, when it cannot.
  bool RestartWriter();
  void OnProxyReply(int32_t result);
  // Entered when the body begins and whenever a query or read that was
  // left pending completed: the bytes a read brought are written first.
  void ReadLoop();
  // Ends the read loop after a failed query or read.
  void OnReadFailed(PendingCall call, DWORD error);
  // A body cut short: resumed at once when it brought bytes since the last
  // resume, else counted as a failure like any other.
  void ResumeAfterCut(uint32_t error);
  void CheckRetriesAndResume(uint32_t error);
  void Resume();
  // Goes back to the request Start made, before any redirect: to url_,
  // with the payload.
  void ResetRequestChain();
  // Closes the request handle and takes it from a pending proxy prompt.
  void CloseRequest();
  void Close();
  // Lets go of the connection (and with it the session) as Close does.
  void CloseConnection();
  // Waits, a little, for WinINet to let go of the connections closed.
  void WaitForClosedConnections();
  void Fail();
  void Complete();
  void LogState();

  // Logs |message| and adds it as one line to the error text; with
  // |system_error| also the last system error.
  void RecordError(const std::string& message, bool system_error = false);

  int32_t state_ = STATE_STARTED;
  // The session and connection's Channel, which holds the session.
  base::scoped_refptr<Channel> channel_;
  HINTERNET connection_ = nullptr;
  // Channels of connections closed since the last Start, Stop or
  // destruction, until WinINet let go of them.
  std::vector<base::scoped_refptr<Channel>> closed_channels_;
  HINTERNET request_ = nullptr;
  // The open request's context, and the serial the next request's takes.
  base::scoped_refptr<RequestContext> request_context_;
  uint64_t request_serial_ = 0;
  // Shared with the proxy prompt while one may run.
  base::scoped_refptr<PromptRequest> prompt_request_;
  // The URL given to Start, which every resume asks again, and the one the
  // current request went to after redirects.
  std::wstring url_;
  std::wstring request_url_;
  std::string payload_;
  // False once a redirect turned the POST into a GET.
  bool send_payload_ = false;
  // "Range: ..." on a resume, else empty.
  std::wstring extra_headers_;
  std::vector<std::wstring> allowed_domains_;
  std::unique_ptr<ResponseWriter> writer_;
  std::unique_ptr<WininetDelegate> delegate_;
  uint32_t expected_size_ = 0;
  // Under Wine every read that waits costs a round trip through the WinINet
  // threads, so a small buffer makes a download many times slower than the
  // network (1 KiB: about 26 times slower than a plain client on a
  // loopback). The buffer is the request's context's.
  static constexpr DWORD kReadBufferSize = 64 * 1024;
  // The size the last read asked for, and whether it completed at once.
  DWORD read_size_ = 0;
  bool read_at_once_ = false;
  // The call of the current request that WinINet left pending: the send,
  // whose completion brings the answer, or a call of the read loop, whose
  // completion resumes the loop. A completion when none is pending is no
  // answer to anything asked.
  PendingCall pending_call_ = PendingCall::kNone;
  // A read of the current request that WinINet left pending completed
  // with no bytes: the body must end there.
  bool pending_read_came_back_empty_ = false;
  uint32_t downloaded_size_ = 0;
  // The downloaded size when the last resume went out; none before one.
  std::optional<uint32_t> resumed_at_;
  uint32_t http_status_ = 0;
  const base::scoped_refptr<base::SingleThreadTaskRunner> owner_runner_;
  UICallbackRunner* const ui_runner_;
  DownloadProgressObserver* const progress_;
  base::RepeatingClosure done_;
  mutable base::Lock error_lock_;
  std::string error_text_;
  int32_t retry_counter_ = 0;
  // Redirects followed since Start or the last resume, and the server of
  // the connection.
  static constexpr int kMaxRedirects = 10;
  int redirect_count_ = 0;
  std::wstring connected_host_;
  uint16_t connected_port_ = 0;
  uint32_t max_retries_ = kDefaultMaxRetries;
  DWORD timeout_ms_ = kDefaultTimeoutMs;
  uint32_t max_body_size_ = kMaxBodySize;
  // Bound to the download that Start began; each Channel has its own copy
  // for WinINet's threads.
  base::WeakPtr<WininetImpl> weak_this_;
  base::WeakPtrFactory<WininetImpl> weak_factory_{this};

  DISALLOW_COPY_AND_ASSIGN(WininetImpl);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_WININET_IMPL_H_
