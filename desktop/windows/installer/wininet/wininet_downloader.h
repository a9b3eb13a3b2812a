#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_WININET_DOWNLOADER_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_WININET_DOWNLOADER_H_

#include <windows.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "base/callback.h"
#include "base/memory/scoped_refptr.h"
#include "base/single_thread_task_runner.h"
#include "desktop/windows/installer/avro_stats/fetch_chunk_statistics.h"

namespace installer {

// Runs a callback that needs a window (a proxy password prompt) on the
// thread that owns the windows, and posts its result back.
class UICallbackRunner {
 public:
  using UICallback = base::OnceCallback<int32_t(HWND parent)>;
  using Reply = base::OnceCallback<void(int32_t result)>;

  virtual ~UICallbackRunner() = default;
  virtual void RunUICallbackAndPostReply(
      UICallback ui_callback,
      base::scoped_refptr<base::SingleThreadTaskRunner> reply_runner,
      Reply reply) = 0;
};

// Told how far a download has come.
class DownloadProgressObserver {
 public:
  virtual ~DownloadProgressObserver() = default;
  virtual void SetTotalProgress(uint32_t bytes) = 0;
  virtual void SetCurrentProgress(uint32_t bytes) = 0;
  virtual void NotifyStalled() = 0;
};

// Where the bytes of a response go.
class ResponseWriter {
 public:
  virtual ~ResponseWriter() = default;
  virtual bool Write(const char* data, uint32_t size) = 0;
  virtual void Close() = 0;
  // Drops everything written so far, so that the next Write starts the
  // response again: a server that ignores a byte range resends the whole
  // body. False (with the last error set) when that failed.
  virtual bool Restart() = 0;
  // The system error of the last failed Write or Restart.
  uint32_t last_error() const { return last_error_; }

 protected:
  uint32_t last_error_ = 0;
};

// Hears every step of a download, on the thread that owns the downloader.
// The bodies here record nothing, so an implementation overrides only what
// it keeps.
class WininetDelegate {
 public:
  virtual ~WininetDelegate() = default;
  // A request (the first, or a resume) goes out; |offset| bytes of the body
  // are already written.
  virtual void OnChunkStarted(uint32_t offset) {}
  virtual void OnConnectedToServer(const std::string& address) {}
  virtual void OnRedirected(const std::wstring& url) {}
  virtual void OnHeader(const std::wstring& name, const std::wstring& value) {}
  virtual void OnRequestCompleted(uint32_t wininet_error) {}
  virtual void OnHttpStatus(uint32_t status) {}
  virtual void OnRetry(int32_t retry_count) {}
  virtual void OnChunkEnded(uint32_t offset) {}
  virtual void OnResponseTooLong(uint32_t excess_bytes) {}
  virtual void OnProxyLoginNeeded() {}
  virtual void OnProxyLoginResult(uint32_t result) {}
  virtual void OnNullRequestContext() {}
  virtual std::vector<FetchChunkStatistics> GetChunkStatistics();
};

// Fetches one URL at a time into a ResponseWriter. Lives on the thread that
// made it: every operation, delegate and observer call and the completion
// closure belong to that thread.
class WininetDownloader {
 public:
  enum State : int32_t {
    STATE_STARTED = 0,
    STATE_REQUEST_SENT = 1,
    STATE_RECEIVING = 2,
    STATE_STOPPED = 3,
    STATE_FAILED = 4,
    STATE_COMPLETED = 5,
  };

  virtual ~WininetDownloader() = default;

  // True when the request is on its way; |done| then runs on this thread
  // each time the download ends (completed or failed). False, the reason in
  // GetErrorText, when it could not begin; |done| does not run then. Neither
  // |writer| nor |delegate| may be null; both live until the next Start.
  virtual bool Start(const std::wstring& url,
                     const std::string& payload,
                     base::RepeatingClosure done,
                     std::unique_ptr<ResponseWriter> writer,
                     std::unique_ptr<WininetDelegate> delegate) = 0;
  // Ends the download at once, without running |done|.
  virtual void Stop() = 0;
  virtual int32_t GetState() const = 0;
  // Host suffixes that answers may come from; empty allows every host.
  virtual void SetAllowedDomains(const std::vector<std::wstring>& domains) = 0;
  // How many consecutive failures are retried after the first.
  virtual void SetMaxRetries(uint32_t max_retries) = 0;
  virtual bool IsFirstAttempt() const = 0;
  // Any thread may ask.
  virtual std::string GetErrorText() const = 0;
  virtual std::vector<FetchChunkStatistics> GetChunkStatistics() const = 0;
  virtual uint32_t GetDownloadedSize() const = 0;
  virtual uint32_t GetHttpStatus() const = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_WININET_DOWNLOADER_H_
