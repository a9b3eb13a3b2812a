#include "desktop/windows/installer/wininet/wininet_impl.h"

#include "base/threading/thread_task_runner_handle.h"

namespace installer {

// Placeholder bodies until the downloader lands.
WininetResponseWriter::WininetResponseWriter() = default;
WininetResponseWriter::~WininetResponseWriter() = default;

bool WininetResponseWriter::Open(const base::FilePath&) {
  return false;
}

bool WininetResponseWriter::Write(const char*, uint32_t) {
  return false;
}

void WininetResponseWriter::Close() {}

WininetImpl::WininetImpl(UICallbackRunner* ui_runner,
                         DownloadProgressObserver* progress)
    : ui_runner_(ui_runner),
      progress_(progress),
      owner_runner_(base::ThreadTaskRunnerHandle::Get()) {}

WininetImpl::~WininetImpl() = default;

bool WininetImpl::Start(const std::wstring&,
                        const std::string&,
                        base::RepeatingClosure,
                        std::unique_ptr<ResponseWriter>,
                        std::unique_ptr<WininetDelegate>) {
  return false;
}

void WininetImpl::Stop() {}

int32_t WininetImpl::GetState() const {
  return state_;
}

void WininetImpl::SetAllowedDomains(const std::vector<std::wstring>& domains) {
  allowed_domains_ = domains;
}

std::string WininetImpl::GetErrorText() const {
  base::AutoLock lock(error_lock_);
  return error_text_;
}

uint32_t WininetImpl::GetHttpStatus() const {
  return http_status_;
}

uint32_t WininetImpl::GetDownloadedSize() const {
  return downloaded_size_;
}

}  // namespace installer
