#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_WININET_IMPL_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_WININET_IMPL_H_

#include <windows.h>
#include <stdint.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/memory/scoped_refptr.h"
#include "base/memory/weak_ptr.h"
#include "base/single_thread_task_runner.h"
#include "base/synchronization/lock.h"
#include "base/win/scoped_handle.h"

namespace base {
class SimpleThread;
}

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
  // The system error of the last failed Write.
  uint32_t last_error() const { return last_error_; }

 protected:
  uint32_t last_error_ = 0;
};

// Writes the response into a file, replacing what was there.
class WininetResponseWriter : public ResponseWriter {
 public:
  WininetResponseWriter();
  ~WininetResponseWriter() override;

  bool Open(const base::FilePath& path);
  bool Write(const char* data, uint32_t size) override;
  void Close() override;

 private:
  base::win::ScopedHandle file_;

  DISALLOW_COPY_AND_ASSIGN(WininetResponseWriter);
};

// Hears what happens during a download; this default one records nothing.
class WininetDelegate {
 public:
  virtual ~WininetDelegate() = default;
};

// The parts of a URL a request is made of.
struct CrackedUrl {
  // WinINet's scheme number (INTERNET_SCHEME_HTTPS is 4).
  int scheme = 0;
  std::wstring host;
  uint16_t port = 0;
  // The path with its query.
  std::wstring path;
};

// One HTTP GET (or POST, with a payload) at a time, streamed into a
// ResponseWriter. Lives on the thread that made it: Start, the completion
// closure and every getter belong to that thread.
//
// The exchange itself runs on a worker thread of the downloader with
// WinINet's synchronous calls, and the writer is fed there; only the outcome
// comes back to the owner thread. Redirects are followed here, not by
// WinINet, so that every hop is checked against the allowed domains.
class WininetImpl {
 public:
  enum State : int32_t {
    STATE_STARTED = 0,
    STATE_REQUEST_SENT = 1,
    STATE_RECEIVING = 2,
    STATE_STOPPED = 3,
    STATE_FAILED = 4,
    STATE_COMPLETED = 5,
  };

  // |ui_runner| must not be null; |progress| may be (no progress is told
  // then). Neither is owned.
  WininetImpl(UICallbackRunner* ui_runner, DownloadProgressObserver* progress);
  ~WininetImpl();

  // True when the request is on its way; |done| then runs once, on this
  // thread, when the download completed or failed. False (the reason in
  // GetErrorText) when it could not begin; |done| never runs then, and the
  // writer has been closed.
  bool Start(const std::wstring& url,
             const std::string& payload,
             base::RepeatingClosure done,
             std::unique_ptr<ResponseWriter> writer,
             std::unique_ptr<WininetDelegate> delegate);
  // Ends the download at once; |done| does not run.
  void Stop();
  int32_t GetState() const;
  // Host suffixes that answers may come from; empty allows every host.
  void SetAllowedDomains(const std::vector<std::wstring>& domains);
  // How many failed attempts may be retried. Kept for the callers' sake:
  // this downloader makes one attempt.
  void SetMaxRetries(uint32_t max_retries);
  // Any thread may ask.
  std::string GetErrorText() const;
  uint32_t GetHttpStatus() const;
  uint32_t GetDownloadedSize() const;

  // Null when |url| is not an absolute URL WinINet can take apart.
  static std::optional<CrackedUrl> CrackUrl(const std::wstring& url);
  // True when |domains| is empty or one of them is the tail of |host|
  // (compared as is: no case folding, no label boundary).
  static bool IsHostAllowed(const std::vector<std::wstring>& domains,
                            const std::wstring& host);

 private:
  class Worker;
  struct Outcome {
    int32_t state = STATE_FAILED;
    uint32_t http_status = 0;
    uint32_t downloaded_size = 0;
  };

  // On the worker thread.
  Outcome Download();
  bool OpenRequest(const CrackedUrl& url, bool post);
  void ReadBody(void* request, uint32_t expected_size, Outcome* outcome);
  void PostProgress(void (DownloadProgressObserver::*report)(uint32_t),
                    uint32_t bytes);
  bool IsCancelled();

  // On the owner thread.
  void OnDownloadEnded(Outcome outcome);
  void ReportProgress(void (DownloadProgressObserver::*report)(uint32_t),
                      uint32_t bytes);
  // Ends the worker (closing its handles makes a blocked call return) and
  // releases the session.
  void Close();

  // Logs |message| and adds it as one line to the error text; with
  // |system_error| also the error code.
  void RecordError(const std::string& message, bool system_error = false);

  UICallbackRunner* const ui_runner_;
  DownloadProgressObserver* const progress_;
  base::scoped_refptr<base::SingleThreadTaskRunner> owner_runner_;
  std::vector<std::wstring> allowed_domains_;
  uint32_t max_retries_ = 600;
  int32_t state_ = STATE_STARTED;
  uint32_t http_status_ = 0;
  uint32_t downloaded_size_ = 0;

  // Set by Start for the worker; untouched by the owner until it ended.
  std::wstring url_;
  std::string payload_;
  std::vector<std::wstring> request_domains_;
  std::unique_ptr<ResponseWriter> writer_;
  std::unique_ptr<WininetDelegate> delegate_;
  base::RepeatingClosure done_;
  base::WeakPtr<WininetImpl> weak_this_;
  std::unique_ptr<Worker> worker_;

  // The WinINet handles; the owner closes them to break off a download.
  base::Lock handle_lock_;
  void* session_ = nullptr;
  void* connection_ = nullptr;
  void* request_ = nullptr;
  bool cancelled_ = false;

  mutable base::Lock error_lock_;
  std::string error_text_;
  base::WeakPtrFactory<WininetImpl> weak_factory_{this};

  DISALLOW_COPY_AND_ASSIGN(WininetImpl);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_WININET_IMPL_H_
