#include "desktop/windows/installer/wininet/wininet_impl.h"

#include <algorithm>
#include <cwchar>
#include <utility>

#include "base/bind.h"
#include "base/check.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/platform_thread.h"
#include "base/threading/thread_local_storage.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/time/time.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/wininet/wininet_functions.h"

namespace installer {

namespace {

constexpr int64_t kRetryDelayMicroseconds = 6000000;

// Winsock's "connection aborted" and "connection reset": WinINet passes
// them on as they are when the server drops the connection mid-body; and
// its "timed out", which some WinINets pass on in place of their own
// time-out when a body stops coming.
constexpr DWORD kWsaConnectionAborted = 10053;
constexpr DWORD kWsaConnectionReset = 10054;
constexpr DWORD kWsaTimedOut = 10060;

// The context of the request read on this thread, for callbacks WinINet
// makes without the request's context while InternetReadFile runs.
base::ThreadLocalStorage::Slot& ReadingSlot() {
  static base::ThreadLocalStorage::Slot* const slot =
      new base::ThreadLocalStorage::Slot(nullptr);
  return *slot;
}

// Completion errors that say the network, not the server, failed.
bool IsConnectivityError(DWORD error) {
  switch (error) {
    case ERROR_INTERNET_TIMEOUT:
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
    case kWsaConnectionAborted:
    case kWsaConnectionReset:
    case kWsaTimedOut:
      return true;
  }
  return false;
}

// Read errors after which the body may be resumed.
bool IsReadInterruption(DWORD error) {
  switch (error) {
    case ERROR_INTERNET_TIMEOUT:
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
    case kWsaConnectionAborted:
    case kWsaConnectionReset:
    case kWsaTimedOut:
      return true;
  }
  return false;
}

// The value of response header |name|; empty when it is missing.
std::wstring QueryHeader(HINTERNET request, const std::wstring& name) {
  std::wstring buffer = name;
  buffer.resize(std::max<size_t>(name.size() + 1, 256), L'\0');
  DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  if (!Wininet()->query_info(request, HTTP_QUERY_CUSTOM, &buffer[0], &size,
                             nullptr)) {
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
      return std::wstring();
    buffer = name;
    buffer.resize(std::max<size_t>(name.size(), size / sizeof(wchar_t)) + 1,
                  L'\0');
    size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (!Wininet()->query_info(request, HTTP_QUERY_CUSTOM, &buffer[0], &size,
                               nullptr)) {
      return std::wstring();
    }
  }
  buffer.resize(size / sizeof(wchar_t));
  return buffer;
}

// The complete length from a Content-Range value ("bytes 7-9/10"); 0 when
// it gives none.
uint32_t TotalFromContentRange(const std::wstring& range) {
  const size_t slash = range.rfind(L'/');
  unsigned total = 0;
  if (slash == std::wstring::npos ||
      !base::StringToUint(range.substr(slash + 1), &total)) {
    return 0;
  }
  return total;
}

// The first byte's offset from a Content-Range value ("bytes 7-9/10").
std::optional<uint32_t> StartFromContentRange(const std::wstring& range) {
  const std::wstring kPrefix = L"bytes ";
  const size_t dash = range.find(L'-');
  unsigned start = 0;
  if (range.compare(0, kPrefix.size(), kPrefix) != 0 ||
      dash == std::wstring::npos ||
      !base::StringToUint(range.substr(kPrefix.size(), dash - kPrefix.size()),
                          &start)) {
    return std::nullopt;
  }
  return start;
}

// False when WinINet refused the callback; the caller records why.
bool SetStatusCallback(HINTERNET handle, INTERNET_STATUS_CALLBACK callback) {
  return Wininet()->set_status_callback(handle, callback) !=
         INTERNET_INVALID_STATUS_CALLBACK;
}

// Splits web URL |url| as written into its scheme and authority
// ("https://host:port") and the rest, without the fragment; false when it
// has no authority.
bool SplitWebUrl(const std::wstring& url,
                 std::wstring* origin,
                 std::wstring* rest) {
  const size_t colon = url.find(L':');
  if (colon == std::wstring::npos || url.compare(colon + 1, 2, L"//") != 0)
    return false;
  const size_t path =
      std::min(url.find_first_of(L"/?#", colon + 3), url.size());
  *origin = url.substr(0, path);
  *rest = url.substr(path, url.find(L'#', path) - path);
  return true;
}

// True when |reference| begins with a scheme ("ftp:", "https:").
bool HasScheme(const std::wstring& reference) {
  for (size_t i = 0; i < reference.size(); ++i) {
    const wchar_t c = reference[i];
    if (c == L':')
      return i > 0;
    const bool alpha = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
    const bool other =
        (c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == L'.';
    if (!alpha && (i == 0 || !other))
      return false;
  }
  return false;
}

// |target| with what a request line cannot carry (spaces, controls,
// non-ASCII) escaped as UTF-8; escapes already there stay as they are, so
// that a signed address reaches the server byte for byte.
std::wstring EscapeRequestTarget(const std::wstring& target) {
  std::wstring escaped;
  for (const unsigned char c : base::WideToUTF8(target)) {
    if (c <= 0x20 || c >= 0x7F)
      escaped += base::StringPrintf(L"%%%02X", c);
    else
      escaped += static_cast<wchar_t>(c);
  }
  return escaped;
}

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
  for (size_t i = 0; prefix[i]; ++i) {
    if (i >= text.size() || base::ToLowerASCII(text[i]) != prefix[i])
      return false;
  }
  return true;
}

// Why |url| is refused for its length, or "" when it is not too long.
std::string UrlLengthProblem(const std::wstring& url) {
  if (url.size() <= WininetImpl::kMaxUrlLength)
    return std::string();
  return base::StringPrintf(
      "URL of %zu characters is longer than the limit of %zu", url.size(),
      WininetImpl::kMaxUrlLength);
}

bool HasControlCharacter(const std::wstring& text) {
  for (const wchar_t c : text) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
      return true;
  }
  return false;
}

// The value of hexadecimal digit |c|, or -1.
int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9')
    return c - L'0';
  if (c >= L'a' && c <= L'f')
    return c - L'a' + 10;
  if (c >= L'A' && c <= L'F')
    return c - L'A' + 10;
  return -1;
}

// The local path a "file:///" location (test resources only) names, its
// escapes decoded as UTF-8 and with backslashes; null for a broken escape.
// Taken apart here: the platform's cracker overruns on long file URLs.
std::optional<std::wstring> LocalPathOfFileUrl(const std::wstring& url) {
  std::string bytes;
  const std::wstring rest = url.substr(std::wcslen(L"file://"));
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] != L'%') {
      bytes += base::WideToUTF8(rest.substr(i, 1));
      continue;
    }
    const int high = i + 2 < rest.size() ? HexValue(rest[i + 1]) : -1;
    const int low = high < 0 ? -1 : HexValue(rest[i + 2]);
    if (low < 0)
      return std::nullopt;
    bytes += static_cast<char>(high * 16 + low);
    i += 2;
  }
  std::wstring path = base::UTF8ToWide(bytes);
  std::replace(path.begin(), path.end(), L'/', L'\\');
  // "/C:/dir" is drive C's "C:\dir".
  if (path.size() >= 3 && path[0] == L'\\' && base::IsAsciiAlpha(path[1]) &&
      path[2] == L':') {
    path.erase(0, 1);
  }
  if (HasControlCharacter(path))
    return std::nullopt;
  return path;
}

}  // namespace

std::vector<FetchChunkStatistics> WininetDelegate::GetChunkStatistics() {
  return std::vector<FetchChunkStatistics>();
}

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
  // A drive about to fill up may take part of a write and report success
  // (Wine does so): the rest is written again, and that write fails with
  // the drive's own error, which is the one to report.
  uint32_t done = 0;
  while (done < size) {
    DWORD written = 0;
    const bool wrote =
        ::WriteFile(file_.Get(), data + done, size - done, &written, nullptr);
    if (wrote && written > 0) {
      done += written;
      continue;
    }
    last_error_ = wrote ? ERROR_DISK_FULL : ::GetLastError();
    if (last_error_ == ERROR_SUCCESS)
      last_error_ = ERROR_WRITE_FAULT;
    ::SetLastError(last_error_);
    PLOG(ERROR) << "Failed writing response to downloading file";
    return false;
  }
  return true;
}

void WininetResponseWriter::Close() {
  file_.Close();
}

bool WininetResponseWriter::Restart() {
  LARGE_INTEGER start = {};
  if (!::SetFilePointerEx(file_.Get(), start, nullptr, FILE_BEGIN) ||
      !::SetEndOfFile(file_.Get())) {
    last_error_ = ::GetLastError();
    PLOG(ERROR) << "Could not truncate the downloading file";
    return false;
  }
  return true;
}

StringResponseWriter::StringResponseWriter(std::string* out) : out_(out) {
  CHECK(out_);
  out_->clear();
}

bool StringResponseWriter::Write(const char* data, uint32_t size) {
  out_->append(data, size);
  return true;
}

bool StringResponseWriter::Restart() {
  out_->clear();
  return true;
}

int32_t WininetImpl::PromptRequest::ShowProxyDialog(HWND parent) {
  // Held while the dialog runs: Close waits rather than closing the handle
  // under it.
  base::AutoLock lock(lock_);
  if (!request_) {
    LOG(WARNING) << "The request closed before the proxy prompt came up";
    return ERROR_CANCELLED;
  }
  return static_cast<int32_t>(Wininet()->error_dlg(
      parent, request_, ERROR_INTERNET_INCORRECT_PASSWORD,
      FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
          FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
      nullptr));
}

void WininetImpl::PromptRequest::Clear() {
  base::AutoLock lock(lock_);
  request_ = nullptr;
}

// What WinINet may touch of one session and connection, also after the
// downloader let go of them: the context of the connection's callbacks,
// the owner its requests report to, and the session, which is closed once
// WinINet reports the connection closed. WinINet holds a reference from
// the connection's opening until that report, which is the last it makes
// about the connection and its requests.
class WininetImpl::Channel : public base::RefCountedThreadSafe<Channel> {
 public:
  Channel(base::scoped_refptr<base::SingleThreadTaskRunner> owner_runner,
          base::WeakPtr<WininetImpl> owner)
      : owner_runner(std::move(owner_runner)),
        owner(std::move(owner)),
        connection_closed_(base::WaitableEvent::ResetPolicy::MANUAL,
                           base::WaitableEvent::InitialState::NOT_SIGNALED),
        released_(base::WaitableEvent::ResetPolicy::MANUAL,
                  base::WaitableEvent::InitialState::NOT_SIGNALED) {}

  // Closes |connection| and, once WinINet reports it closed, the session,
  // on a thread of its own.
  void CloseConnection(HINTERNET connection);
  // On WinINet's threads (or inside the close).
  void OnConnectionClosing(HINTERNET handle);
  // Closes the session after the connection; false when it had not
  // happened within |wait|.
  bool WaitReleased(base::TimeDelta wait) { return released_.TimedWait(wait); }
  // On the closing thread.
  void CloseSessionWhenReleased() {
    LOG(INFO) << "Waiting for WinINET to finish";
    connection_closed_.Wait();
    CloseInternetHandle(&session);
    released_.Signal();
  }

  const base::scoped_refptr<base::SingleThreadTaskRunner> owner_runner;
  const base::WeakPtr<WininetImpl> owner;
  HINTERNET session = nullptr;

 private:
  friend class base::RefCountedThreadSafe<Channel>;
  ~Channel() = default;

  base::Lock lock_;
  // The connection being closed, until WinINet says it let go of it.
  HINTERNET closing_connection_ = nullptr;
  base::WaitableEvent connection_closed_;
  base::WaitableEvent released_;

  DISALLOW_COPY_AND_ASSIGN(Channel);
};

// What WinINet may touch of one request, also after the downloader closed
// it: the context of the request's callbacks, which says which request a
// report is about, and the buffers its unfinished calls fill or read. A
// resume or a redirect closes a request whose last call may still be under
// way in WinINet; each request has its own context, so that neither a late
// report nor late bytes of a closed request can be taken for the current
// one's. WinINet holds a reference from the registration of the request's
// callback until it reports the request's handle closing, the last report
// it makes about the request.
class WininetImpl::RequestContext
    : public base::RefCountedThreadSafe<RequestContext> {
 public:
  RequestContext(base::scoped_refptr<Channel> channel, uint64_t serial)
      : channel(std::move(channel)), serial(serial) {}

  // The connection's channel, which names the owner to post to.
  const base::scoped_refptr<Channel> channel;
  // Unique among the downloader's requests.
  const uint64_t serial;
  // An asynchronous query or read fills these after the call returned.
  const std::unique_ptr<char[]> read_buffer{new char[kReadBufferSize]};
  DWORD bytes_available = 0;
  DWORD bytes_read = 0;
  // What an asynchronous send reads after the call returned.
  std::wstring sent_headers;
  std::string sent_payload;

 private:
  friend class base::RefCountedThreadSafe<RequestContext>;
  ~RequestContext() = default;

  DISALLOW_COPY_AND_ASSIGN(RequestContext);
};

// Runs the session's closing on a thread nobody joins, holding the channel
// until it is done.
class WininetImpl::SessionCloser : public base::PlatformThread::Delegate {
 public:
  explicit SessionCloser(base::scoped_refptr<Channel> channel)
      : channel_(std::move(channel)) {}

  void ThreadMain() override {
    base::PlatformThread::SetName("Wininet Termination");
    channel_->CloseSessionWhenReleased();
    delete this;
  }

 private:
  const base::scoped_refptr<Channel> channel_;
};

void WininetImpl::Channel::CloseConnection(HINTERNET connection) {
  {
    base::AutoLock lock(lock_);
    closing_connection_ = connection;
  }
  // WinINet may report the handle closing from inside this call, on this
  // thread: the lock must not be held here.
  Wininet()->close_handle(connection);
  auto* closer = new SessionCloser(this);
  if (!base::PlatformThread::CreateNonJoinable(0, closer)) {
    LOG(ERROR) << "Could not start a thread to close the WinINet session";
    delete closer;
    CloseSessionWhenReleased();
  }
}

void WininetImpl::Channel::OnConnectionClosing(HINTERNET handle) {
  {
    base::AutoLock lock(lock_);
    if (!handle || handle != closing_connection_)
      return;
    VLOG(1) << "Wininet request cancelled. unregistering the callback.";
    Wininet()->set_status_callback(handle, nullptr);
    closing_connection_ = nullptr;
  }
  connection_closed_.Signal();
  // WinINet's reference.
  Release();
}

WininetImpl::WininetImpl(UICallbackRunner* ui_runner,
                         DownloadProgressObserver* progress)
    : owner_runner_(base::ThreadTaskRunnerHandle::Get()),
      ui_runner_(ui_runner),
      progress_(progress) {
  CHECK(ui_runner_);
}

WininetImpl::~WininetImpl() {
  weak_factory_.InvalidateWeakPtrs();
  Close();
  WaitForClosedConnections();
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
  // Nothing of a download still under way may reach the new one.
  weak_factory_.InvalidateWeakPtrs();
  if (request_ || connection_)
    Close();
  writer_ = std::move(writer);
  delegate_ = std::move(delegate);
  state_ = STATE_STARTED;
  done_ = std::move(done);
  url_ = url;
  // A start refused below must not leave the last attempt's numbers to be
  // counted again.
  http_status_ = 0;
  downloaded_size_ = 0;

  // Only a server can be asked; a file location has no host.
  const std::string length_problem = UrlLengthProblem(url);
  const std::optional<CrackedUrl> cracked =
      length_problem.empty() ? CrackUrl(url) : std::nullopt;
  if (!cracked || cracked->host.empty()) {
    std::string message = "Could not parse URL " + base::WideToUTF8(url);
    if (!length_problem.empty())
      message += ": " + length_problem;
    RecordError(message);
    writer_->Close();
    return false;
  }
  if (!IsHostAllowed(allowed_domains_, cracked->host)) {
    RecordError(base::StringPrintf("Domain disallowed %s",
                                   base::WideToUTF8(cracked->host).c_str()));
    writer_->Close();
    return false;
  }
  // Each connection's channel has its own weak pointer: those WinINet may
  // still report on are invalidated above.
  WaitForClosedConnections();
  weak_this_ = weak_factory_.GetWeakPtr();
  expected_size_ = 0;
  read_at_once_ = false;
  pending_call_ = PendingCall::kNone;
  resumed_at_.reset();

  payload_ = payload;
  ResetRequestChain();
  if (!OpenSessionAndConnection(*cracked)) {
    writer_->Close();
    return false;
  }
  extra_headers_.clear();
  if (!OpenAndSendRequest(*cracked, true)) {
    LOG(ERROR) << "Could not send Request";
    weak_factory_.InvalidateWeakPtrs();
    Close();
    return false;
  }
  state_ = STATE_REQUEST_SENT;
  LogState();
  return true;
}

void WininetImpl::Stop() {
  DCHECK(owner_runner_->BelongsToCurrentThread());
  LOG(INFO) << "Stopping the download";
  weak_factory_.InvalidateWeakPtrs();
  Close();
  WaitForClosedConnections();
  // What a stopped download got counts no more: the caller reads these
  // for the next attempt, which may fail before it asks anything.
  downloaded_size_ = 0;
  http_status_ = 0;
  state_ = STATE_STOPPED;
  LogState();
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

bool WininetImpl::IsFirstAttempt() const {
  return retry_counter_ == 0;
}

std::string WininetImpl::GetErrorText() const {
  base::AutoLock lock(error_lock_);
  return error_text_;
}

std::vector<FetchChunkStatistics> WininetImpl::GetChunkStatistics() const {
  return delegate_ ? delegate_->GetChunkStatistics()
                   : std::vector<FetchChunkStatistics>();
}

uint32_t WininetImpl::GetDownloadedSize() const {
  return downloaded_size_;
}

uint32_t WininetImpl::GetHttpStatus() const {
  return http_status_;
}

// static
std::optional<CrackedUrl> WininetImpl::CrackUrl(const std::wstring& url) {
  // The platform's cracker fails badly (overruns, crashes) on some input a
  // hostile reply may send: only what an address of a download can look
  // like is given to it.
  const std::string length_problem = UrlLengthProblem(url);
  if (!length_problem.empty()) {
    LOG(ERROR) << length_problem;
    return std::nullopt;
  }
  if (HasControlCharacter(url))
    return std::nullopt;
  if (StartsWithNoCase(url, L"file:///")) {
    const std::optional<std::wstring> path = LocalPathOfFileUrl(url);
    if (!path)
      return std::nullopt;
    CrackedUrl cracked;
    cracked.scheme = INTERNET_SCHEME_FILE;
    cracked.path = *path;
    return cracked;
  }
  if (!StartsWithNoCase(url, L"http://") && !StartsWithNoCase(url, L"https://"))
    return std::nullopt;
  if (!Wininet())
    return std::nullopt;
  // The path may be as long as the whole URL (decoding only shortens it).
  wchar_t host[256] = {};
  std::vector<wchar_t> path(kMaxUrlLength + 1, L'\0');
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.lpszHostName = host;
  parts.dwHostNameLength = 255;
  parts.lpszUrlPath = path.data();
  parts.dwUrlPathLength = static_cast<DWORD>(kMaxUrlLength);
  // No extra-information part is asked for, so the path keeps the query.
  if (!Wininet()->crack_url(url.c_str(), static_cast<DWORD>(url.size()),
                            ICU_DECODE | ICU_ESCAPE, &parts)) {
    return std::nullopt;
  }
  // A file location has no host; a web address without one is broken.
  if (parts.dwHostNameLength == 0 && (parts.nScheme == INTERNET_SCHEME_HTTP ||
                                      parts.nScheme == INTERNET_SCHEME_HTTPS)) {
    return std::nullopt;
  }
  CrackedUrl cracked;
  cracked.scheme = parts.nScheme;
  cracked.host.assign(host, parts.dwHostNameLength);
  cracked.port = parts.nPort;
  cracked.path.assign(path.data(), parts.dwUrlPathLength);
  // The crack decodes escapes: "%2B" would reach the server as "+", which
  // means something else in a query (and breaks a signed address). A web
  // request asks for the path and query as written.
  std::wstring origin, rest;
  if ((cracked.scheme == INTERNET_SCHEME_HTTP ||
       cracked.scheme == INTERNET_SCHEME_HTTPS) &&
      SplitWebUrl(url, &origin, &rest)) {
    cracked.path = EscapeRequestTarget(rest);
    if (!cracked.path.empty() && cracked.path[0] == L'?')
      cracked.path.insert(0, 1, L'/');
  }
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

// static
std::wstring WininetImpl::ResolveLocation(const std::wstring& base,
                                          const std::wstring& location) {
  const std::wstring reference = location.substr(0, location.find(L'#'));
  std::wstring origin, rest;
  if (HasScheme(reference) || !SplitWebUrl(base, &origin, &rest))
    return reference;
  if (reference.compare(0, 2, L"//") == 0)
    return origin.substr(0, origin.find(L':') + 1) + reference;
  if (!reference.empty() && reference[0] == L'/')
    return origin + reference;
  std::wstring path = rest.substr(0, rest.find(L'?'));
  if (path.empty())
    path = L"/";
  if (reference.empty())
    return origin + rest;
  if (reference[0] == L'?')
    return origin + path + reference;
  path.erase(path.rfind(L'/') + 1);
  return origin + path + reference;
}

// static
std::optional<CrackedUrl> WininetImpl::CheckRedirect(
    const std::wstring& from,
    const std::wstring& to,
    const std::vector<std::wstring>& domains,
    std::string* reason) {
  const std::optional<CrackedUrl> source = CrackUrl(from);
  std::optional<CrackedUrl> target = CrackUrl(to);
  if (!target) {
    // Other schemes are refused before they are taken apart.
    const bool web_scheme =
        StartsWithNoCase(to, L"http://") || StartsWithNoCase(to, L"https://");
    *reason = (web_scheme ? "Redirect URL failed to parse "
                          : "Redirect URL is disallowed ") +
              base::WideToUTF8(to);
    const std::string length_problem = UrlLengthProblem(to);
    if (!length_problem.empty())
      *reason += ": " + length_problem;
    return std::nullopt;
  }
  const bool web = target->scheme == INTERNET_SCHEME_HTTP ||
                   target->scheme == INTERNET_SCHEME_HTTPS;
  // WinINet refused to leave https for http; that stays so.
  const bool downgrade = source && source->scheme == INTERNET_SCHEME_HTTPS &&
                         target->scheme != INTERNET_SCHEME_HTTPS;
  if (!web || downgrade || !IsHostAllowed(domains, target->host)) {
    *reason = "Redirect URL is disallowed " + base::WideToUTF8(to);
    return std::nullopt;
  }
  return target;
}

bool WininetImpl::OpenSessionAndConnection(const CrackedUrl& url) {
  const std::wstring user_agent =
      L"Kavor NetInstaller/" + base::ASCIIToWide(GetVersionString());
  HINTERNET session = Wininet() ? Wininet()->open(user_agent.c_str(),
                                                  INTERNET_OPEN_TYPE_PRECONFIG,
                                                  nullptr, nullptr,
                                                  INTERNET_FLAG_ASYNC)
                                : nullptr;
  if (!session) {
    RecordError(base::StringPrintf("InternetOpen failed for %s",
                                   base::WideToUTF8(user_agent).c_str()),
                true);
    return false;
  }
  SetInternetTimeouts(session, timeout_ms_, 0);
  channel_ = base::MakeRefCounted<Channel>(owner_runner_, weak_this_);
  channel_->session = session;
  connection_ = Wininet()->connect(session, url.host.c_str(), url.port,
                                   nullptr, nullptr, INTERNET_SERVICE_HTTP, 0,
                                   reinterpret_cast<DWORD_PTR>(channel_.get()));
  if (!connection_) {
    RecordError(
        base::StringPrintf("InternetConnect failed for %s:%d",
                           base::WideToUTF8(url.host).c_str(), url.port),
        true);
    CloseInternetHandle(&channel_->session);
    channel_ = nullptr;
    return false;
  }
  if (!SetStatusCallback(connection_, &ConnectionStatusCallback)) {
    RecordError("Could not register the connection status callback", true);
    // Without the callback WinINet never reports the connection closing,
    // which the session's closing would wait for: both go at once.
    CloseInternetHandle(&connection_);
    CloseInternetHandle(&channel_->session);
    channel_ = nullptr;
    return false;
  }
  // WinINet's, until it reports the connection closed.
  channel_->AddRef();
  connected_host_ = url.host;
  connected_port_ = url.port;
  return true;
}

bool WininetImpl::OpenAndSendRequest(const CrackedUrl& url, bool new_chunk) {
  // The request would inherit the connection's callback.
  if (!SetStatusCallback(connection_, nullptr)) {
    RecordError("Could not unregister the connection status callback", true);
    return false;
  }
  VLOG(1) << "Opening internet request";
  const bool post = send_payload_;
  // WinINet would follow a redirect before telling about it, so a refused
  // host would already have had the request: redirects are followed here.
  // A download goes to its own writer only: a copy in the user's cache
  // would keep every package (refused ones too) long after the install.
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                INTERNET_FLAG_NO_AUTO_REDIRECT;
  if (url.scheme == INTERNET_SCHEME_HTTPS)
    flags |= INTERNET_FLAG_SECURE;
  auto context =
      base::MakeRefCounted<RequestContext>(channel_, ++request_serial_);
  request_ = Wininet()->open_request(
      connection_, post ? L"POST" : L"GET", url.path.c_str(), L"HTTP/1.1",
      nullptr, nullptr, flags, reinterpret_cast<DWORD_PTR>(context.get()));
  if (!request_) {
    RecordError(
        base::StringPrintf(
            "HttpOpenRequest failed for %s:%d%s, scheme %d, payload "
            "empty %d",
            base::WideToUTF8(url.host).c_str(), url.port,
            base::WideToUTF8(url.path).c_str(), url.scheme, post ? 0 : 1),
        true);
  }
  if (!SetStatusCallback(connection_, &ConnectionStatusCallback)) {
    RecordError("Could not register the connection status callback", true);
    // WinINet would never report the connection closing, which Close
    // would wait for; nor will it use the channel after this.
    CloseRequest();
    CloseInternetHandle(&connection_);
    channel_->Release();
    return false;
  }
  if (!request_)
    return false;
  request_context_ = context;
  SetInternetTimeouts(request_, timeout_ms_, 0);
  // WinINet's, until it reports the request's handle closing.
  context->AddRef();
  // Without it no completion would ever come.
  if (!SetStatusCallback(request_, &RequestStatusCallback)) {
    RecordError("Could not register the request status callback", true);
    // Without the callback WinINet never reports the handle closing, nor
    // anything else: its reference goes now.
    context->Release();
    return false;
  }
  VLOG(1) << (post ? "Sending POST request" : "Sending GET request");
  // Both buffers must outlive the asynchronous send, and this downloader:
  // they are the request's context's.
  context->sent_headers = extra_headers_;
  context->sent_payload = post ? payload_ : std::string();
  std::wstring& headers = context->sent_headers;
  std::string& body = context->sent_payload;
  if (!Wininet()->send_request(
          request_, headers.empty() ? nullptr : headers.c_str(),
          static_cast<DWORD>(headers.size()), post ? &body[0] : nullptr,
          post ? static_cast<DWORD>(body.size()) : 0) &&
      ::GetLastError() != ERROR_IO_PENDING) {
    RecordError(
        base::StringPrintf(
            "HttpSendRequest failed for %s:%d%s, scheme %d, payload "
            "empty %d",
            base::WideToUTF8(url.host).c_str(), url.port,
            base::WideToUTF8(url.path).c_str(), url.scheme, post ? 0 : 1),
        true);
    return false;
  }
  pending_call_ = PendingCall::kSend;
  pending_read_came_back_empty_ = false;
  if (new_chunk)
    delegate_->OnChunkStarted(downloaded_size_);
  return true;
}

// static
void CALLBACK WininetImpl::RequestStatusCallback(HINTERNET handle,
                                                 DWORD_PTR context,
                                                 DWORD status,
                                                 void* information,
                                                 DWORD information_length) {
  RequestContext* self = reinterpret_cast<RequestContext*>(context);
  if (status == INTERNET_STATUS_HANDLE_CLOSING) {
    // WinINet's last report about the request: it lets go of the context.
    if (self)
      self->Release();
    return;
  }
  const base::Location from_here = FROM_HERE_WITH_EXPLICIT_FUNCTION(
      "InternetStatusCallbackForRequestOnUnknownThread");
  if (!self) {
    self = static_cast<RequestContext*>(ReadingSlot().Get());
    if (!self)
      return;
    self->channel->owner_runner->PostNonNestableTask(
        from_here, base::BindOnce(&WininetImpl::OnNullRequestContext,
                                  self->channel->owner));
  }
  switch (status) {
    case INTERNET_STATUS_CONNECTED_TO_SERVER: {
      std::string address;
      if (information)
        address = static_cast<const char*>(information);
      self->channel->owner_runner->PostNonNestableTask(
          from_here,
          base::BindOnce(&WininetImpl::OnConnectedToServer,
                         self->channel->owner, self->serial, address));
      break;
    }
    case INTERNET_STATUS_REQUEST_COMPLETE: {
      const auto* result =
          static_cast<const INTERNET_ASYNC_RESULT*>(information);
      self->channel->owner_runner->PostNonNestableTask(
          from_here,
          base::BindOnce(&WininetImpl::OnRequestComplete, self->channel->owner,
                         self->serial, !result || result->dwResult != 0,
                         result ? result->dwError : 0));
      break;
    }
  }
}

// static
void CALLBACK WininetImpl::ConnectionStatusCallback(HINTERNET handle,
                                                    DWORD_PTR context,
                                                    DWORD status,
                                                    void* information,
                                                    DWORD information_length) {
  if (status == INTERNET_STATUS_HANDLE_CLOSING && context)
    reinterpret_cast<Channel*>(context)->OnConnectionClosing(handle);
}

void WininetImpl::OnNullRequestContext() {
  delegate_->OnNullRequestContext();
}

bool WininetImpl::IsCurrentRequest(uint64_t serial) const {
  return request_context_ && request_context_->serial == serial;
}

void WininetImpl::OnConnectedToServer(uint64_t serial,
                                      const std::string& address) {
  // The statistics of the current chunk count its own request only.
  if (!IsCurrentRequest(serial))
    return;
  delegate_->OnConnectedToServer(address);
}

void WininetImpl::OnRequestComplete(uint64_t serial,
                                    bool succeeded,
                                    DWORD error) {
  // A notification of a request that was already given up.
  if (state_ != STATE_REQUEST_SENT && state_ != STATE_RECEIVING)
    return;
  // A call of a request closed since (by a resume or a redirect) that
  // completed late: taken for the current request's, it would answer a call
  // not made, or start a second read into the buffer of one under way.
  if (!IsCurrentRequest(serial)) {
    LOG(WARNING) << "Ignoring the completion of a closed request, error "
                 << error;
    return;
  }
  if (pending_call_ == PendingCall::kNone) {
    LOG(WARNING) << "Ignoring a completion while no call is pending, error "
                 << error;
    return;
  }
  // A query that went through reports the bytes that have arrived in place
  // of an error; the read loop asks for them again.
  const PendingCall call = pending_call_;
  if (call == PendingCall::kQuery && succeeded)
    error = 0;
  pending_call_ = PendingCall::kNone;
  delegate_->OnRequestCompleted(error);
  if (IsConnectivityError(error)) {
    LOG(WARNING) << "Request completed with an error "
                 << "indicating connectivity issues: " << error;
    CheckRetriesAndResume(error);
    return;
  }
  if (error != 0) {
    RecordError(
        base::StringPrintf("Request completed with an unexpected error: %u",
                           static_cast<unsigned>(error)));
    Fail();
    return;
  }
  VLOG(2) << "Handling request completion";
  if (state_ == STATE_REQUEST_SENT) {
    if (HandleResponse())
      ReadLoop();
  } else {
    if (call == PendingCall::kRead && request_context_->bytes_read == 0)
      pending_read_came_back_empty_ = true;
    ReadLoop();
  }
}

bool WininetImpl::HandleResponse() {
  LOG(INFO) << "Initial request completion";
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!Wininet()->query_info(request_,
                             HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                             &status, &size, nullptr)) {
    RecordError("Could not obtain HTTP response code", true);
    Fail();
    return false;
  }
  http_status_ = status;
  delegate_->OnHttpStatus(status);
  std::wstring content_length;
  for (const wchar_t* name :
       {L"Date", L"Server", L"X-Served-By", L"Content-Length"}) {
    const std::wstring value = QueryHeader(request_, name);
    delegate_->OnHeader(name, value);
    if (name == std::wstring(L"Content-Length"))
      content_length = value;
  }
  // WinINet reads a number out of any text; a length that is no number
  // would make whatever arrives pass for the whole body. Only a body that
  // is kept matters: a prompt or a retry follows the others.
  unsigned length_value = 0;
  if ((status == 200 || status == 206) && !content_length.empty() &&
      !base::StringToUint(content_length, &length_value)) {
    RecordError(base::StringPrintf("Response with an invalid Content-Length %s",
                                   base::WideToUTF8(content_length).c_str()));
    Fail();
    return false;
  }
  switch (status) {
    case 200: {
      if (downloaded_size_ != 0) {
        // The server ignored the range and sends the whole body again:
        // appended to the part already written it would corrupt the file.
        LOG(WARNING) << "Server ignored the range request, downloading from "
                        "the start";
        if (!RestartWriter())
          return false;
      }
      DWORD length = 0;
      size = sizeof(length);
      if (Wininet()->query_info(
              request_, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
              &length, &size, nullptr)) {
        expected_size_ = length;
        VLOG(1) << "Expected total size: " << expected_size_;
      } else {
        PLOG(INFO) << "Could not get Content-Length from response";
      }
      if (progress_)
        progress_->SetTotalProgress(expected_size_);
      break;
    }
    case 206: {
      // The bytes must go where the range asked for; from elsewhere they
      // would corrupt the file.
      const std::wstring range = QueryHeader(request_, L"Content-Range");
      const std::optional<uint32_t> start = StartFromContentRange(range);
      if (start != downloaded_size_) {
        if (start == 0u) {
          LOG(WARNING) << "Server sent the range from the start, "
                          "downloading from the start";
          if (!RestartWriter())
            return false;
        } else {
          LOG(WARNING) << "Server sent the range " << base::WideToUTF8(range)
                       << " for offset " << downloaded_size_;
          CheckRetriesAndResume(ERROR_HTTP_INVALID_SERVER_RESPONSE);
          return false;
        }
      }
      // A download whose first answer was a failure never learnt the size
      // from a 200; without it a cut-off body would pass for a whole one.
      if (expected_size_ == 0) {
        expected_size_ = TotalFromContentRange(range);
        if (expected_size_ != 0 && progress_)
          progress_->SetTotalProgress(expected_size_);
      }
      break;
    }
    case 407: {
      LOG(WARNING) << "Request completed with a "
                   << "proxy authentication request";
      delegate_->OnProxyLoginNeeded();
      prompt_request_ = base::MakeRefCounted<PromptRequest>(request_);
      ui_runner_->RunUICallbackAndPostReply(
          base::BindOnce(&PromptRequest::ShowProxyDialog, prompt_request_),
          owner_runner_,
          base::BindOnce(&WininetImpl::OnProxyReply, weak_this_));
      return false;
    }
    case 301:
    case 302:
    case 303:
    case 307:
    case 308:
      FollowRedirect(status);
      return false;
    case 502:
    case 503:
    case 504:
      LOG(WARNING) << "Download failed with " << status << " error";
      CheckRetriesAndResume(status);
      return false;
    default:
      RecordError(base::StringPrintf(
          "Request completed with an unexpected HTTP status %u",
          static_cast<unsigned>(status)));
      Fail();
      return false;
  }
  state_ = STATE_RECEIVING;
  LogState();
  return true;
}

void WininetImpl::FollowRedirect(uint32_t status) {
  const std::wstring location = QueryHeader(request_, L"Location");
  if (location.empty()) {
    RecordError(base::StringPrintf("Redirect %u without a location",
                                   static_cast<unsigned>(status)));
    Fail();
    return;
  }
  const std::wstring target = ResolveLocation(request_url_, location);
  delegate_->OnRedirected(target);
  std::string refused;
  const std::optional<CrackedUrl> cracked =
      CheckRedirect(request_url_, target, allowed_domains_, &refused);
  if (!cracked) {
    RecordError(refused);
    Fail();
    return;
  }
  if (++redirect_count_ > kMaxRedirects) {
    RecordError(base::StringPrintf("Too many redirects, the last to %s",
                                   base::WideToUTF8(target).c_str()));
    Fail();
    return;
  }
  LOG(INFO) << "Redirected to " << target;
  // As browsers do: only 307 and 308 repeat a POST, the others ask with GET.
  if (status != 307 && status != 308)
    send_payload_ = false;
  // A resume asks the URL given to Start again: a mirror's address may
  // hold only for a while, the original hands out a fresh one.
  request_url_ = target;
  CloseRequest();
  // The same chunk goes on: nothing of the body has come yet.
  if (!ConnectAndSend(*cracked, false)) {
    LOG(ERROR) << "Could not follow the redirect";
    Fail();
  }
}

bool WininetImpl::ConnectAndSend(const CrackedUrl& url, bool new_chunk) {
  // The connection belongs to one host and port; another needs its own.
  if (!connection_ || url.host != connected_host_ ||
      url.port != connected_port_) {
    CloseConnection();
    if (!OpenSessionAndConnection(url))
      return false;
  }
  return OpenAndSendRequest(url, new_chunk);
}

bool WininetImpl::RestartWriter() {
  if (!writer_->Restart()) {
    RecordError(
        base::StringPrintf("Failed writing the response with error %u",
                           static_cast<unsigned>(writer_->last_error())));
    Fail();
    return false;
  }
  downloaded_size_ = 0;
  if (progress_)
    progress_->SetCurrentProgress(0);
  return true;
}

void WininetImpl::OnProxyReply(int32_t result) {
  delegate_->OnProxyLoginResult(static_cast<uint32_t>(result));
  if (result == ERROR_INTERNET_FORCE_RETRY) {
    LOG(INFO) << "Logged in to proxy - resuming download";
    Resume();
  } else if (result == 0 || result == ERROR_CANCELLED) {
    RecordError("The user cancelled the prompt for proxy credentials");
    Fail();
  } else {
    RecordError("Failed to obtain credentials for proxy");
    Fail();
  }
}

void WininetImpl::ReadLoop() {
  VLOG(2) << "Additional data downloaded";
  for (;;) {
    RequestContext* const context = request_context_.get();
    const DWORD bytes_read = context->bytes_read;
    if (bytes_read != 0) {
      // A server may send more than it announced (a range running past the
      // total, a length under a chunked body) or never stop: neither may
      // fill the disk.
      const uint32_t limit =
          expected_size_ ? std::min(expected_size_, max_body_size_)
                         : max_body_size_;
      if (downloaded_size_ > limit || bytes_read > limit - downloaded_size_) {
        RecordError(
            expected_size_ && expected_size_ <= max_body_size_
                ? base::StringPrintf(
                      "Response longer than the announced %u bytes",
                      static_cast<unsigned>(expected_size_))
                : base::StringPrintf("Response longer than %u bytes",
                                     static_cast<unsigned>(max_body_size_)));
        Fail();
        return;
      }
      if (!writer_->Write(context->read_buffer.get(), bytes_read)) {
        RecordError(
            base::StringPrintf("Failed writing the response with error %u",
                               static_cast<unsigned>(writer_->last_error())));
        Fail();
        return;
      }
      downloaded_size_ += bytes_read;
      // Failures count only while they follow each other: bytes beyond
      // where the last resume started end the run (a server that resends
      // the same beginning each time makes no progress).
      if (!resumed_at_ || downloaded_size_ > *resumed_at_)
        retry_counter_ = 0;
      VLOG(2) << "Downloaded size: " << downloaded_size_;
      if (progress_)
        progress_->SetCurrentProgress(downloaded_size_);
    }
    // A read that found all it asked for at once meets data arriving
    // faster than it is read: the next one asks for twice as much (up to
    // the buffer) without asking first. Otherwise the loop asks first how
    // much has arrived: a read for more than that would complete only once
    // the whole request is filled or the body ends, holding back data,
    // progress and a Stop (closing waits for a pending read). WinINet
    // answers at most a few KiB, refilling its own small buffer, at a cost
    // per call that alone would make a fast download several times slower.
    // So a read waits only for about as many bytes as had piled up before
    // it, and after any wait the reads start again from what has arrived.
    // Such a read may be left pending; without a length to check the body
    // against, a count the platform lost would go unnoticed (see below).
    const bool flowing =
        read_at_once_ && bytes_read == read_size_ && expected_size_ != 0;
    context->bytes_read = 0;
    read_at_once_ = false;
    if (flowing) {
      read_size_ = std::min(2 * read_size_, kReadBufferSize);
    } else {
      // A query left pending completes once bytes arrived or the body
      // ended; the loop then asks again and has the answer at once.
      ReadingSlot().Set(context);
      const BOOL queried = Wininet()->query_data_available(
          request_, &context->bytes_available, 0, 0);
      const DWORD error = ::GetLastError();
      ReadingSlot().Set(nullptr);
      if (!queried) {
        OnReadFailed(PendingCall::kQuery, error);
        return;
      }
      if (context->bytes_available == 0)
        break;
      // A read that completes with no bytes ends the body. More after it
      // means the count of that read was lost (Wine's WinINet clears it
      // after its worker may have set it): its bytes left the stream
      // without reaching the buffer's count. What is written holds; the
      // rest is asked for again from there.
      if (pending_read_came_back_empty_) {
        LOG(WARNING) << "A read came back without its bytes; asking again "
                        "from "
                     << downloaded_size_;
        ResumeAfterCut(ERROR_INTERNET_CONNECTION_ABORTED);
        return;
      }
      read_size_ = std::min(context->bytes_available, kReadBufferSize);
    }
    ReadingSlot().Set(context);
    const BOOL read = Wininet()->read_file(
        request_, context->read_buffer.get(), read_size_, &context->bytes_read);
    const DWORD error = ::GetLastError();
    ReadingSlot().Set(nullptr);
    if (!read) {
      OnReadFailed(PendingCall::kRead, error);
      return;
    }
    if (context->bytes_read == 0)
      break;
    read_at_once_ = true;
  }
  VLOG(1) << "Done reading from Internet";
  if (downloaded_size_ < expected_size_) {
    LOG(WARNING) << "Download completed, but we are below response size";
    ResumeAfterCut(ERROR_INTERNET_CONNECTION_ABORTED);
    return;
  }
  if (downloaded_size_ > expected_size_)
    delegate_->OnResponseTooLong(downloaded_size_ - expected_size_);
  Complete();
}

void WininetImpl::OnReadFailed(PendingCall call, DWORD error) {
  if (error == ERROR_IO_PENDING) {
    VLOG(2) << "More data pending";
    pending_call_ = call;
  } else if (error == ERROR_INVALID_HANDLE ||
             error == ERROR_INTERNET_OPERATION_CANCELLED) {
    // The request was closed under the read.
  } else if (IsReadInterruption(error)) {
    LOG(ERROR) << "Download interrupted by loss of connectivity: " << error;
    request_context_->bytes_read = 0;
    ResumeAfterCut(error);
  } else {
    RecordError(
        base::StringPrintf("Download interrupted for unknown reason: %u",
                           static_cast<unsigned>(error)));
    Fail();
  }
}

void WininetImpl::ResumeAfterCut(uint32_t error) {
  // A server that keeps cutting the body before it sent anything new would
  // otherwise be asked again at once, for ever.
  if (resumed_at_ && downloaded_size_ <= *resumed_at_) {
    LOG(WARNING) << "No data received since the last resume";
    CheckRetriesAndResume(error);
    return;
  }
  Resume();
}

void WininetImpl::CheckRetriesAndResume(uint32_t error) {
  if (retry_counter_ >= 2 && progress_)
    progress_->NotifyStalled();
  if (static_cast<int64_t>(retry_counter_) <=
      static_cast<int64_t>(max_retries_)) {
    LOG(INFO) << "Retrying " << retry_counter_ << " of " << max_retries_;
    ++retry_counter_;
    owner_runner_->PostDelayedTask(
        FROM_HERE_WITH_EXPLICIT_FUNCTION("CheckRetriesAndResume"),
        base::BindOnce(&WininetImpl::Resume, weak_this_),
        base::TimeDelta::FromMicroseconds(kRetryDelayMicroseconds));
    return;
  }
  RecordError(base::StringPrintf("Number of retries exceeded, last error: %u",
                                 static_cast<unsigned>(error)));
  Fail();
}

void WininetImpl::Resume() {
  delegate_->OnChunkEnded(downloaded_size_);
  CloseRequest();
  LOG(INFO) << "Attempting download resume";
  extra_headers_ = L"Range: bytes=" + std::to_wstring(downloaded_size_) + L"-";
  const std::optional<CrackedUrl> cracked = CrackUrl(url_);
  if (!cracked) {
    RecordError(base::StringPrintf("Cannot parse URL on resume %s",
                                   base::WideToUTF8(url_).c_str()));
    Fail();
    return;
  }
  if (retry_counter_ == 0 || retry_counter_ == 1)
    delegate_->OnChunkEnded(downloaded_size_);
  delegate_->OnRetry(retry_counter_);
  resumed_at_ = downloaded_size_;
  read_at_once_ = false;
  ResetRequestChain();
  if (!ConnectAndSend(*cracked, true)) {
    LOG(ERROR) << "Could not resume downloading";
    Fail();
    return;
  }
  state_ = STATE_REQUEST_SENT;
  LogState();
}

void WininetImpl::ResetRequestChain() {
  request_url_ = url_;
  send_payload_ = !payload_.empty();
  redirect_count_ = 0;
}

void WininetImpl::CloseRequest() {
  if (prompt_request_) {
    prompt_request_->Clear();
    prompt_request_ = nullptr;
  }
  CloseInternetHandle(&request_);
  // Whatever of the request is still under way in WinINet reports to a
  // context that is no longer the current one.
  request_context_ = nullptr;
  pending_call_ = PendingCall::kNone;
}

void WininetImpl::Close() {
  VLOG(1) << "Closing download session";
  if (delegate_)
    delegate_->OnChunkEnded(downloaded_size_);
  if (writer_)
    writer_->Close();
  CloseRequest();
  CloseConnection();
}

void WininetImpl::CloseConnection() {
  if (!channel_)
    return;
  base::scoped_refptr<Channel> channel = std::move(channel_);
  if (connection_) {
    HINTERNET connection = connection_;
    connection_ = nullptr;
    channel->CloseConnection(connection);
    closed_channels_.push_back(std::move(channel));
  } else {
    CloseInternetHandle(&channel->session);
  }
}

void WininetImpl::WaitForClosedConnections() {
  // Closing the request ends whatever WinINet does for it at once on
  // Windows; elsewhere a receive under way may go on until its time-out.
  // The channel then lives on its own until WinINet let go of it.
  for (const auto& channel : closed_channels_) {
    if (!channel->WaitReleased(
            base::TimeDelta::FromSeconds(kReleaseWaitSeconds))) {
      LOG(WARNING) << "WinINet still holds a closed connection; it is "
                      "released on its own";
    }
  }
  closed_channels_.clear();
}

void WininetImpl::Fail() {
  LOG(ERROR) << "Download failed";
  weak_factory_.InvalidateWeakPtrs();
  Close();
  state_ = STATE_FAILED;
  LogState();
  // The closure may delete this downloader.
  base::RepeatingClosure done = done_;
  done.Run();
}

void WininetImpl::Complete() {
  retry_counter_ = 0;
  weak_factory_.InvalidateWeakPtrs();
  Close();
  LOG(INFO) << "Download completed";
  state_ = STATE_COMPLETED;
  LogState();
  base::RepeatingClosure done = done_;
  done.Run();
}

void WininetImpl::LogState() {
  VLOG(1) << "Downloader state: " << state_;
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
