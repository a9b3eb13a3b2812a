#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_WININET_IMPL_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_WININET_IMPL_H_

#include <windows.h>
#include <stdint.h>

#include <memory>
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
class Thread;
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

// One HTTP GET (or POST, with a payload) at a time, streamed into a
// ResponseWriter. Lives on the thread that made it: Start, the completion
// closure and every getter belong to that thread.
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
  // GetErrorText) when it could not begin; |done| never runs then.
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
  std::string GetErrorText() const;
  uint32_t GetHttpStatus() const;
  uint32_t GetDownloadedSize() const;

 private:
  UICallbackRunner* const ui_runner_;
  DownloadProgressObserver* const progress_;
  base::scoped_refptr<base::SingleThreadTaskRunner> owner_runner_;
  std::vector<std::wstring> allowed_domains_;
  int32_t state_ = STATE_STARTED;
  uint32_t http_status_ = 0;
  uint32_t downloaded_size_ = 0;
  mutable base::Lock error_lock_;
  std::string error_text_;
  base::WeakPtrFactory<WininetImpl> weak_factory_{this};

  DISALLOW_COPY_AND_ASSIGN(WininetImpl);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_WININET_IMPL_H_
