#include "desktop/windows/installer/wininet/wininet_impl.h"

#include <wininet.h>

#include <utility>

#include "base/bind.h"
#include "base/check.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/simple_thread.h"
#include "base/threading/thread_task_runner_handle.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/wininet/wininet_functions.h"

namespace installer {

namespace {

// The body goes to the writer in pieces of this size, so that no response
// is ever held whole in memory.
constexpr DWORD kReadBufferSize = 1024;
// Hops beyond this are taken for a redirect loop.
constexpr int kMaxRedirects = 10;
// The calls block on the worker, and closing a handle does not break off a
// blocked call on every WinINet: a silent server must not hold the worker
// (and a Stop, which waits for it) for longer than this.
constexpr DWORD kTimeoutMs = 30 * 1000;

bool IsRedirect(DWORD status) {
  return status == 301 || status == 302 || status == 303 || status == 307 ||
         status == 308;
}

// A header of the response as text; false when it is missing.
bool QueryText(HINTERNET request, DWORD query, std::wstring* value) {
  std::wstring buffer(256, L'\0');
  DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  if (!Wininet()->query_info(request, query, &buffer[0], &size, nullptr)) {
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
      return false;
    buffer.assign(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (!Wininet()->query_info(request, query, &buffer[0], &size, nullptr))
      return false;
  }
  value->assign(buffer.data(), size / sizeof(wchar_t));
  return true;
}

bool QueryNumber(HINTERNET request, DWORD query, DWORD* value) {
  DWORD size = sizeof(*value);
  return Wininet()->query_info(request, query | HTTP_QUERY_FLAG_NUMBER, value,
                               &size, nullptr) != FALSE;
}

std::string Describe(const CrackedUrl& url) {
  return base::StringPrintf("%s:%d%s", base::WideToUTF8(url.host).c_str(),
                            url.port, base::WideToUTF8(url.path).c_str());
}

}  // namespace

WininetResponseWriter::WininetResponseWriter() = default;
WininetResponseWriter::~WininetResponseWriter() = default;

bool WininetResponseWriter::Open(const base::FilePath& path) {
  file_.Set(::CreateFileW(path.value().c_str(), GENERIC_WRITE, 0, nullptr,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_.IsValid()) {
    PLOG(ERROR) << "Could not open download file for writing";
    return false;
  }
  return true;
}

bool WininetResponseWriter::Write(const char* data, uint32_t size) {
  DWORD written = 0;
  if (!::WriteFile(file_.Get(), data, size, &written, nullptr) ||
      written != size) {
    last_error_ = ::GetLastError();
    PLOG(ERROR) << "Failed writing response to downloading file";
    return false;
  }
  return true;
}

void WininetResponseWriter::Close() {
  file_.Close();
}

// Runs one download with blocking WinINet calls and hands the outcome to
// the owner thread; the posted task is dropped once the owner stopped the
// download or is gone.
class WininetImpl::Worker : public base::SimpleThread {
 public:
  explicit Worker(WininetImpl* owner)
      : base::SimpleThread("Wininet Download"), owner_(owner) {}

  void Run() override {
    const Outcome outcome = owner_->Download();
    owner_->owner_runner_->PostTask(
        FROM_HERE, base::BindOnce(&WininetImpl::OnDownloadEnded,
                                  owner_->weak_this_, outcome));
  }

 private:
  WininetImpl* const owner_;
};

WininetImpl::WininetImpl(UICallbackRunner* ui_runner,
                         DownloadProgressObserver* progress)
    : ui_runner_(ui_runner),
      progress_(progress),
      owner_runner_(base::ThreadTaskRunnerHandle::Get()) {
  CHECK(ui_runner_);
}

WininetImpl::~WininetImpl() {
  Close();
}

bool WininetImpl::Start(const std::wstring& url,
                        const std::string& payload,
                        base::RepeatingClosure done,
                        std::unique_ptr<ResponseWriter> writer,
                        std::unique_ptr<WininetDelegate> delegate) {
  DCHECK(owner_runner_->BelongsToCurrentThread());
  DCHECK(writer);
  DCHECK(delegate);
  LOG(INFO) << "Starting download from " << url;
  {
    base::AutoLock lock(error_lock_);
    error_text_.clear();
  }
  // Whatever is left of the previous download goes before its writer does.
  Close();
  weak_factory_.InvalidateWeakPtrs();
  writer_ = std::move(writer);
  delegate_ = std::move(delegate);
  state_ = STATE_STARTED;
  done_ = std::move(done);
  url_ = url;
  http_status_ = 0;
  downloaded_size_ = 0;

  const std::optional<CrackedUrl> cracked = CrackUrl(url);
  if (!cracked) {
    RecordError(base::StringPrintf("Could not parse URL %s",
                                   base::WideToUTF8(url).c_str()));
    Close();
    return false;
  }
  if (!IsHostAllowed(allowed_domains_, cracked->host)) {
    RecordError(base::StringPrintf("Domain disallowed %s",
                                   base::WideToUTF8(cracked->host).c_str()));
    Close();
    return false;
  }

  weak_this_ = weak_factory_.GetWeakPtr();
  payload_ = payload;
  request_domains_ = allowed_domains_;
  const std::wstring user_agent =
      L"Kavor NetInstaller/" + base::ASCIIToWide(GetVersionString());
  {
    base::AutoLock lock(handle_lock_);
    cancelled_ = false;
    session_ = Wininet()->open(user_agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG,
                               nullptr, nullptr, 0);
  }
  if (!session_) {
    RecordError(base::StringPrintf("InternetOpen failed for %s",
                                   base::WideToUTF8(user_agent).c_str()),
                true);
    Close();
    return false;
  }
  SetInternetTimeouts(session_, kTimeoutMs, 0);
  if (!OpenRequest(*cracked, !payload_.empty())) {
    LOG(ERROR) << "Could not send Request";
    Close();
    return false;
  }
  worker_ = std::make_unique<Worker>(this);
  worker_->Start();
  if (!worker_->HasBeenStarted()) {
    RecordError("Could not start the download thread", true);
    worker_.reset();
    Close();
    return false;
  }
  state_ = STATE_REQUEST_SENT;
  VLOG(1) << "Downloader state: " << state_;
  return true;
}

void WininetImpl::Stop() {
  DCHECK(owner_runner_->BelongsToCurrentThread());
  LOG(INFO) << "Stopping the download";
  weak_factory_.InvalidateWeakPtrs();
  Close();
  state_ = STATE_STOPPED;
  VLOG(1) << "Downloader state: " << state_;
}

int32_t WininetImpl::GetState() const {
  return state_;
}

void WininetImpl::SetAllowedDomains(const std::vector<std::wstring>& domains) {
  allowed_domains_ = domains;
}

void WininetImpl::SetMaxRetries(uint32_t max_retries) {
  max_retries_ = max_retries;
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

// static
std::optional<CrackedUrl> WininetImpl::CrackUrl(const std::wstring& url) {
  if (!Wininet())
    return std::nullopt;
  wchar_t host[256] = {};
  wchar_t path[4096] = {};
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.lpszHostName = host;
  parts.dwHostNameLength = 255;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = 4095;
  // No extra-information part is asked for, so the path keeps the query.
  if (!Wininet()->crack_url(url.c_str(), static_cast<DWORD>(url.size()),
                            ICU_DECODE | ICU_ESCAPE, &parts) ||
      parts.dwHostNameLength == 0) {
    return std::nullopt;
  }
  CrackedUrl cracked;
  cracked.scheme = parts.nScheme;
  cracked.host.assign(host, parts.dwHostNameLength);
  cracked.port = parts.nPort;
  cracked.path.assign(path, parts.dwUrlPathLength);
  if (cracked.path.empty())
    cracked.path = L"/";
  return cracked;
}

// static
bool WininetImpl::IsHostAllowed(const std::vector<std::wstring>& domains,
                                const std::wstring& host) {
  if (domains.empty())
    return true;
  for (const std::wstring& domain : domains) {
    if (domain.size() <= host.size() &&
        host.compare(host.size() - domain.size(), domain.size(), domain) == 0) {
      return true;
    }
  }
  return false;
}

bool WininetImpl::OpenRequest(const CrackedUrl& url, bool post) {
  base::AutoLock lock(handle_lock_);
  if (cancelled_)
    return false;
  CloseInternetHandle(&request_);
  CloseInternetHandle(&connection_);
  connection_ = Wininet()->connect(session_, url.host.c_str(), url.port,
                                   nullptr, nullptr, INTERNET_SERVICE_HTTP, 0,
                                   reinterpret_cast<DWORD_PTR>(this));
  if (!connection_) {
    RecordError(
        base::StringPrintf("InternetConnect failed for %s:%d",
                           base::WideToUTF8(url.host).c_str(), url.port),
        true);
    return false;
  }
  VLOG(1) << "Opening internet request";
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT;
  if (url.scheme == INTERNET_SCHEME_HTTPS)
    flags |= INTERNET_FLAG_SECURE;
  request_ = Wininet()->open_request(
      connection_, post ? L"POST" : L"GET", url.path.c_str(), L"HTTP/1.1",
      nullptr, nullptr, flags, reinterpret_cast<DWORD_PTR>(this));
  if (!request_) {
    RecordError(
        base::StringPrintf(
            "HttpOpenRequest failed for %s, scheme %d, payload empty %d",
            Describe(url).c_str(), url.scheme, post ? 0 : 1),
        true);
    return false;
  }
  SetInternetTimeouts(request_, kTimeoutMs, 0);
  return true;
}

bool WininetImpl::IsCancelled() {
  base::AutoLock lock(handle_lock_);
  return cancelled_;
}

WininetImpl::Outcome WininetImpl::Download() {
  Outcome outcome;
  std::wstring url = url_;
  CrackedUrl cracked = *CrackUrl(url);
  bool post = !payload_.empty();
  for (int redirects = 0;; ++redirects) {
    HINTERNET request;
    {
      base::AutoLock lock(handle_lock_);
      if (cancelled_)
        return outcome;
      request = request_;
    }
    VLOG(1) << (post ? "Sending POST request" : "Sending GET request");
    if (!Wininet()->send_request(
            request, nullptr, 0,
            post ? const_cast<char*>(payload_.data()) : nullptr,
            post ? static_cast<DWORD>(payload_.size()) : 0)) {
      if (!IsCancelled()) {
        RecordError(
            base::StringPrintf(
                "HttpSendRequest failed for %s, scheme %d, payload empty %d",
                Describe(cracked).c_str(), cracked.scheme, post ? 0 : 1),
            true);
      }
      return outcome;
    }
    DWORD status = 0;
    if (!QueryNumber(request, HTTP_QUERY_STATUS_CODE, &status)) {
      RecordError("Could not obtain HTTP response code", true);
      return outcome;
    }
    outcome.http_status = status;
    if (IsRedirect(status)) {
      std::wstring location;
      if (!QueryText(request, HTTP_QUERY_LOCATION, &location)) {
        RecordError("Redirect without a location", true);
        return outcome;
      }
      // The location may be relative to the URL that answered.
      std::wstring next(INTERNET_MAX_URL_LENGTH, L'\0');
      DWORD length = static_cast<DWORD>(next.size());
      if (Wininet()->combine_url(url.c_str(), location.c_str(), &next[0],
                                 &length, ICU_NO_ENCODE)) {
        next.resize(length);
      } else {
        next = location;
      }
      VLOG(1) << "Redirect occured";
      const std::optional<CrackedUrl> target = CrackUrl(next);
      if (!target) {
        RecordError(base::StringPrintf("Redirect URL failed to parse %s",
                                       base::WideToUTF8(next).c_str()));
        return outcome;
      }
      if (!IsHostAllowed(request_domains_, target->host)) {
        RecordError(base::StringPrintf("Redirect URL is disallowed %s",
                                       base::WideToUTF8(next).c_str()));
        return outcome;
      }
      if (redirects == kMaxRedirects) {
        RecordError(base::StringPrintf("Too many redirects, the last to %s",
                                       base::WideToUTF8(next).c_str()));
        return outcome;
      }
      // Only 307 and 308 repeat a POST; the others turn it into a GET.
      if (status != 307 && status != 308)
        post = false;
      url = next;
      cracked = *target;
      if (!OpenRequest(cracked, post))
        return outcome;
      continue;
    }
    LOG(INFO) << "Initial request completion";
    uint32_t expected_size = 0;
    if (status == 200) {
      DWORD length = 0;
      if (QueryNumber(request, HTTP_QUERY_CONTENT_LENGTH, &length)) {
        expected_size = length;
        VLOG(1) << "Expected total size: " << expected_size;
        PostProgress(&DownloadProgressObserver::SetTotalProgress,
                     expected_size);
      } else {
        PLOG(INFO) << "Could not get Content-Length from response";
      }
    }
    if (status == 200 || status == 206) {
      ReadBody(request, expected_size, &outcome);
      return outcome;
    }
    RecordError(base::StringPrintf(
        "Request completed with an unexpected HTTP status %u",
        static_cast<unsigned>(status)));
    return outcome;
  }
}

void WininetImpl::ReadBody(void* request,
                           uint32_t expected_size,
                           Outcome* outcome) {
  char buffer[kReadBufferSize];
  for (;;) {
    DWORD read = 0;
    if (!Wininet()->read_file(request, buffer, sizeof(buffer), &read)) {
      const DWORD error = ::GetLastError();
      if (!IsCancelled()) {
        RecordError(
            base::StringPrintf("Download interrupted for unknown reason: %u",
                               static_cast<unsigned>(error)));
      }
      return;
    }
    if (read == 0)
      break;
    if (!writer_->Write(buffer, read)) {
      RecordError(
          base::StringPrintf("Failed writing the response with error %u",
                             static_cast<unsigned>(writer_->last_error())));
      return;
    }
    outcome->downloaded_size += read;
    VLOG(2) << "Downloaded size: " << outcome->downloaded_size;
    PostProgress(&DownloadProgressObserver::SetCurrentProgress,
                 outcome->downloaded_size);
  }
  VLOG(1) << "Done reading from Internet";
  if (outcome->downloaded_size < expected_size) {
    RecordError("Download completed, but we are below response size");
    return;
  }
  outcome->state = STATE_COMPLETED;
}

void WininetImpl::PostProgress(
    void (DownloadProgressObserver::*report)(uint32_t), uint32_t bytes) {
  if (progress_) {
    owner_runner_->PostTask(
        FROM_HERE, base::BindOnce(&WininetImpl::ReportProgress, weak_this_,
                                  report, bytes));
  }
}

void WininetImpl::ReportProgress(
    void (DownloadProgressObserver::*report)(uint32_t), uint32_t bytes) {
  (progress_->*report)(bytes);
}

void WininetImpl::OnDownloadEnded(Outcome outcome) {
  Close();
  http_status_ = outcome.http_status;
  downloaded_size_ = outcome.downloaded_size;
  if (outcome.state == STATE_COMPLETED)
    LOG(INFO) << "Download completed";
  else
    LOG(ERROR) << "Download failed";
  state_ = outcome.state;
  VLOG(1) << "Downloader state: " << state_;
  // The closure may delete this downloader.
  base::RepeatingClosure done = done_;
  done.Run();
}

void WininetImpl::Close() {
  VLOG(1) << "Closing download session";
  {
    base::AutoLock lock(handle_lock_);
    cancelled_ = true;
    CloseInternetHandle(&request_);
    CloseInternetHandle(&connection_);
  }
  if (worker_) {
    worker_->Join();
    worker_.reset();
  }
  {
    base::AutoLock lock(handle_lock_);
    CloseInternetHandle(&session_);
  }
  if (writer_)
    writer_->Close();
}

void WininetImpl::RecordError(const std::string& message, bool system_error) {
  const DWORD error = ::GetLastError();
  std::string line = message;
  if (system_error) {
    LOG(ERROR) << message << ": "
               << base::logging::SystemErrorCodeToString(error);
    line += ", system error: " + base::UintToString(error);
  } else {
    LOG(ERROR) << message;
  }
  base::AutoLock lock(error_lock_);
  error_text_ += line + "\n";
}

}  // namespace installer
