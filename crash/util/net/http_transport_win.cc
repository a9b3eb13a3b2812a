#include "crash/util/net/http_transport_win.h"

#include <windows.h>
#include <winhttp.h>

#include <stdio.h>
#include <string.h>

#include <atomic>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "base/files/file_path.h"
#include "base/base_paths_win.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/synchronization/lock.h"
#include "base/time/time.h"
#include "base/win/system_library.h"
#include "crash/util/win/module_version.h"

namespace crash_reporter {

namespace {

constexpr char kProductToken[] = "Daskrell";
constexpr char kProductVersion[] = "0.8.0";

// "%08x" and CR LF before a chunk's bytes, CR LF after them.
constexpr size_t kChunkHeadSize = 10;
constexpr size_t kChunkTailSize = 2;
constexpr size_t kResponsePieceSize = 4096;

constexpr char kContentLength[] = "Content-Length";

// winhttp.dll is no KnownDLL: it is bound at run time from the system
// folder, never from beside the program, where a download folder could hold
// a planted copy.
struct WinHttpFunctions {
  HMODULE module = nullptr;
  decltype(&::WinHttpOpen) open = nullptr;
  decltype(&::WinHttpSetTimeouts) set_timeouts = nullptr;
  decltype(&::WinHttpCrackUrl) crack_url = nullptr;
  decltype(&::WinHttpConnect) connect = nullptr;
  decltype(&::WinHttpOpenRequest) open_request = nullptr;
  decltype(&::WinHttpSetOption) set_option = nullptr;
  decltype(&::WinHttpAddRequestHeaders) add_request_headers = nullptr;
  decltype(&::WinHttpSendRequest) send_request = nullptr;
  decltype(&::WinHttpWriteData) write_data = nullptr;
  decltype(&::WinHttpReceiveResponse) receive_response = nullptr;
  decltype(&::WinHttpQueryHeaders) query_headers = nullptr;
  decltype(&::WinHttpReadData) read_data = nullptr;
  decltype(&::WinHttpCloseHandle) close_handle = nullptr;
};

template <typename T>
bool Resolve(HMODULE module, const char* name, T* function) {
  *function = reinterpret_cast<T>(::GetProcAddress(module, name));
  return *function != nullptr;
}

const WinHttpFunctions* LoadWinHttp() {
  HMODULE module = base::win::LoadSystemLibrary(L"winhttp.dll");
  if (!module) {
    PLOG(ERROR) << "LoadLibrary winhttp.dll";
    return nullptr;
  }
  static WinHttpFunctions functions;
  functions.module = module;
  if (!Resolve(module, "WinHttpOpen", &functions.open) ||
      !Resolve(module, "WinHttpSetTimeouts", &functions.set_timeouts) ||
      !Resolve(module, "WinHttpCrackUrl", &functions.crack_url) ||
      !Resolve(module, "WinHttpConnect", &functions.connect) ||
      !Resolve(module, "WinHttpOpenRequest", &functions.open_request) ||
      !Resolve(module, "WinHttpSetOption", &functions.set_option) ||
      !Resolve(module, "WinHttpAddRequestHeaders",
               &functions.add_request_headers) ||
      !Resolve(module, "WinHttpSendRequest", &functions.send_request) ||
      !Resolve(module, "WinHttpWriteData", &functions.write_data) ||
      !Resolve(module, "WinHttpReceiveResponse", &functions.receive_response) ||
      !Resolve(module, "WinHttpQueryHeaders", &functions.query_headers) ||
      !Resolve(module, "WinHttpReadData", &functions.read_data) ||
      !Resolve(module, "WinHttpCloseHandle", &functions.close_handle)) {
    PLOG(ERROR) << "GetProcAddress winhttp.dll";
    return nullptr;
  }
  return &functions;
}

// Null, after one log line, when WinHTTP cannot be had; the first answer
// stands for the process's life.
const WinHttpFunctions* WinHttp() {
  static const WinHttpFunctions* const functions = LoadWinHttp();
  return functions;
}

void LogWinHttpError(const char* function) {
  const DWORD error = ::GetLastError();
  LOG(ERROR) << internal::WinHttpErrorLine(function, error);
}

// Closes a WinHTTP handle when it goes out of scope.
class ScopedHInternet {
 public:
  explicit ScopedHInternet(HINTERNET handle) : handle_(handle) {}
  ~ScopedHInternet() {
    if (handle_ && !WinHttp()->close_handle(handle_))
      LogWinHttpError("WinHttpCloseHandle");
  }

  ScopedHInternet(const ScopedHInternet&) = delete;
  ScopedHInternet& operator=(const ScopedHInternet&) = delete;

  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HINTERNET handle_;
};

base::FilePath SystemModulePath(const wchar_t* name) {
  base::FilePath folder;
  if (!base::PathService::Get(base::DIR_SYSTEM, &folder))
    return base::FilePath();
  return folder.Append(name);
}

// The seconds a caller gave as WinHTTP's milliseconds, truncated; anything
// that does not fit an int (a negative or absurd value, NaN) is clamped
// rather than left to an undefined conversion.
int TimeoutMilliseconds(double seconds) {
  const double milliseconds = seconds * 1000.0;
  if (!(milliseconds >= 0.0))
    return 0;
  if (milliseconds >= static_cast<double>(std::numeric_limits<int>::max()))
    return std::numeric_limits<int>::max();
  return static_cast<int>(milliseconds);
}

// The request handle, cancelled when the request as a whole outlives its
// deadline. WinHTTP's time-outs bound each wait, not the request: a server
// that answers a byte at a time never lets one pass. A timer closes the
// handle at the deadline, which is how a synchronous WinHTTP call is
// cancelled from another thread. Wine's WinHTTP ignores that close, and the
// session's receive time-out while it waits for the answer, so each wait is
// also bounded by what is left of the deadline.
class DeadlineRequest {
 public:
  DeadlineRequest(HINTERNET handle, int timeout_ms, double total_seconds)
      : handle_(handle),
        timeout_ms_(timeout_ms),
        total_seconds_(total_seconds),
        deadline_(base::TimeTicks::Now() +
                  base::TimeDelta::FromMilliseconds(
                      TimeoutMilliseconds(total_seconds))) {
    if (!handle_)
      return;
    if (!::CreateTimerQueueTimer(&timer_, nullptr, &OnDeadline, this,
                                 static_cast<DWORD>(RemainingMilliseconds()),
                                 0, WT_EXECUTEONLYONCE)) {
      // The waits stay bounded by the deadline; only a wait that keeps
      // receiving could outlast it.
      PLOG(WARNING) << "CreateTimerQueueTimer";
      timer_ = nullptr;
    }
  }

  ~DeadlineRequest() {
    // Waits for a deadline that is closing the handle.
    if (timer_ && !::DeleteTimerQueueTimer(nullptr, timer_,
                                           INVALID_HANDLE_VALUE)) {
      PLOG(ERROR) << "DeleteTimerQueueTimer";
    }
    if (cancelled_) {
      LOG(ERROR) << "The HTTP request did not end within " << total_seconds_
                 << " s and was cancelled";
      return;
    }
    if (handle_ && !WinHttp()->close_handle(handle_))
      LogWinHttpError("WinHttpCloseHandle");
  }

  DeadlineRequest(const DeadlineRequest&) = delete;
  DeadlineRequest& operator=(const DeadlineRequest&) = delete;

  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

  // After a call that waited has failed: logs its error, and says so when
  // the wait was the last bit of the deadline and ran out (the time-out
  // and the timer end it at about the same moment; either may come first).
  void LogFailure(const char* call) {
    const DWORD error = ::GetLastError();
    LogWinHttpError(call);
    if (!cancelled_ && wait_cut_by_deadline_ &&
        (error == ERROR_WINHTTP_TIMEOUT || error == kSocketTimedOut)) {
      LOG(ERROR) << "The HTTP request ran out of its " << total_seconds_
                 << " s";
    }
  }

  // Before each call that waits: no wait may go past the deadline. False,
  // logged, once it has passed.
  bool BoundNextWait() {
    const int64_t remaining = RemainingMilliseconds();
    if (remaining <= 0) {
      LOG(ERROR) << "The HTTP request ran out of its " << total_seconds_
                 << " s";
      return false;
    }
    int wait_ms = static_cast<int>(remaining);
    // 0 is no time-out at all to WinHTTP.
    if (timeout_ms_ > 0 && timeout_ms_ < wait_ms)
      wait_ms = timeout_ms_;
    wait_cut_by_deadline_ = wait_ms == remaining;
    if (!WinHttp()->set_timeouts(handle_, wait_ms, wait_ms, wait_ms,
                                 wait_ms)) {
      LogWinHttpError("WinHttpSetTimeouts");
      return false;
    }
    DWORD response_ms = static_cast<DWORD>(wait_ms);
    if (!WinHttp()->set_option(handle_, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT,
                               &response_ms, sizeof(response_ms))) {
      LogWinHttpError("WinHttpSetOption");
      return false;
    }
    return true;
  }

 private:
  static void CALLBACK OnDeadline(void* context, BOOLEAN) {
    auto* request = static_cast<DeadlineRequest*>(context);
    // The destructor waits for this callback before it closes the handle
    // itself, so the handle is closed once.
    request->cancelled_ = true;
    if (!WinHttp()->close_handle(request->handle_))
      LogWinHttpError("WinHttpCloseHandle");
  }

  int64_t RemainingMilliseconds() const {
    const int64_t remaining =
        (deadline_ - base::TimeTicks::Now()).InMilliseconds();
    return remaining < 0 ? 0 : remaining;
  }

  const HINTERNET handle_;
  const int timeout_ms_;
  const double total_seconds_;
  const base::TimeTicks deadline_;
  // WSAETIMEDOUT: what Wine's WinHTTP gives for a receive time-out.
  static constexpr DWORD kSocketTimedOut = 10060;

  HANDLE timer_ = nullptr;
  std::atomic<bool> cancelled_{false};
  bool wait_cut_by_deadline_ = false;
};

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

class HTTPTransportWin : public HTTPTransport {
 public:
  HTTPTransportWin() = default;
  ~HTTPTransportWin() override = default;

  HTTPTransportWin(const HTTPTransportWin&) = delete;
  HTTPTransportWin& operator=(const HTTPTransportWin&) = delete;

  bool ExecuteSynchronously(std::string* response_body) override;
};

bool HTTPTransportWin::ExecuteSynchronously(std::string* response_body) {
  set_chunks_not_carried(false);
  // Nothing may reach the server when the headers themselves are unsound.
  const internal::BodyFraming framing = internal::GetBodyFraming(headers());
  if (!framing.valid)
    return false;

  const WinHttpFunctions* winhttp = WinHttp();
  if (!winhttp)
    return false;

  ScopedHInternet session(
      winhttp->open(base::UTF8ToWide(internal::UserAgent()).c_str(),
                    WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                    WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) {
    LogWinHttpError("WinHttpOpen");
    return false;
  }

  const int timeout_ms = TimeoutMilliseconds(timeout());
  if (!winhttp->set_timeouts(session.get(), timeout_ms, timeout_ms, timeout_ms,
                             timeout_ms)) {
    LogWinHttpError("WinHttpSetTimeouts");
    return false;
  }

  // The cracked parts point into |url|, which must outlive them.
  const std::wstring url = base::UTF8ToWide(this->url());
  URL_COMPONENTS components = {};
  components.dwStructSize = sizeof(components);
  components.dwHostNameLength = static_cast<DWORD>(-1);
  components.dwUrlPathLength = static_cast<DWORD>(-1);
  components.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!winhttp->crack_url(url.c_str(), 0, 0, &components)) {
    LogWinHttpError("WinHttpCrackUrl");
    return false;
  }
  const std::wstring host(components.lpszHostName, components.dwHostNameLength);
  // A fragment names a place within the answer; it is no part of what is
  // asked of the server.
  std::wstring extra_info(components.lpszExtraInfo,
                          components.dwExtraInfoLength);
  const size_t fragment = extra_info.find(L'#');
  if (fragment != std::wstring::npos)
    extra_info.resize(fragment);
  const std::wstring target =
      std::wstring(components.lpszUrlPath, components.dwUrlPathLength) +
      extra_info;

  ScopedHInternet connection(
      winhttp->connect(session.get(), host.c_str(), components.nPort, 0));
  if (!connection) {
    LogWinHttpError("WinHttpConnect");
    return false;
  }

  DeadlineRequest request(
      winhttp->open_request(
          connection.get(), base::UTF8ToWide(method()).c_str(), target.c_str(),
          nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
          components.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE
                                                      : 0),
      timeout_ms, total_timeout());
  if (!request) {
    LogWinHttpError("WinHttpOpenRequest");
    return false;
  }

  // A redirect is answered by WinHTTP with a GET that carries no body: the
  // report would be lost while the final answer could still be 200.
  DWORD disabled = WINHTTP_DISABLE_REDIRECTS;
  if (!winhttp->set_option(request.get(), WINHTTP_OPTION_DISABLE_FEATURE,
                           &disabled, sizeof(disabled))) {
    LogWinHttpError("WinHttpSetOption");
    return false;
  }

  std::vector<std::string> header_lines;
  for (const auto& header : headers())
    header_lines.push_back(header.first + ": " + header.second + "\r\n");
  if (framing.chunked)
    header_lines.push_back("Transfer-Encoding: chunked\r\n");
  for (const std::string& line : header_lines) {
    const std::wstring wide_line = base::UTF8ToWide(line);
    if (!winhttp->add_request_headers(request.get(), wide_line.c_str(),
                                      static_cast<DWORD>(wide_line.size()),
                                      WINHTTP_ADDREQ_FLAG_ADD)) {
      LogWinHttpError("WinHttpAddRequestHeaders");
      return false;
    }
  }

  DWORD total_length = WINHTTP_IGNORE_REQUEST_TOTAL_LENGTH;
  if (!framing.chunked && framing.length <= 0xffffffffu)
    total_length = static_cast<DWORD>(framing.length);
  if (!request.BoundNextWait())
    return false;
  if (!winhttp->send_request(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                             WINHTTP_NO_REQUEST_DATA, 0, total_length, 0)) {
    request.LogFailure("WinHttpSendRequest");
    return false;
  }

  // Wine's WinHTTP sends "Content-Length: 0" beside the chunked coding and
  // then drops what is written: the server would take an empty body for
  // the whole one. What was sent tells.
  if (framing.chunked) {
    wchar_t length[32];
    DWORD length_size = sizeof(length);
    if (winhttp->query_headers(
            request.get(),
            WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_REQUEST_HEADERS,
            WINHTTP_HEADER_NAME_BY_INDEX, length, &length_size,
            WINHTTP_NO_HEADER_INDEX)) {
      LOG(ERROR) << "WinHTTP sent Content-Length: " << length
                 << " for a body in chunks: it cannot send chunks";
      set_chunks_not_carried(true);
      return false;
    }
    if (::GetLastError() != ERROR_WINHTTP_HEADER_NOT_FOUND) {
      // The body goes on: only the answer can tell now.
      LOG(WARNING) << internal::WinHttpErrorLine("WinHttpQueryHeaders",
                                                 ::GetLastError());
    }
  }

  const internal::BodyWriter write = [&](const void* data, size_t size) {
    if (!request.BoundNextWait())
      return false;
    DWORD written = 0;
    if (!winhttp->write_data(request.get(), data, static_cast<DWORD>(size),
                             &written)) {
      request.LogFailure("WinHttpWriteData");
      return false;
    }
    if (written != size) {
      LOG(ERROR) << "WinHttpWriteData: wrote " << written << " of " << size
                 << " bytes";
      return false;
    }
    return true;
  };
  if (!internal::SendBody(body_stream(), framing.chunked, write))
    return false;

  if (!request.BoundNextWait())
    return false;
  if (!winhttp->receive_response(request.get(), nullptr)) {
    request.LogFailure("WinHttpReceiveResponse");
    return false;
  }

  DWORD status_code = 0;
  DWORD size = sizeof(status_code);
  if (!winhttp->query_headers(
          request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
          WINHTTP_HEADER_NAME_BY_INDEX, &status_code, &size,
          WINHTTP_NO_HEADER_INDEX)) {
    LogWinHttpError("WinHttpQueryHeaders");
    return false;
  }
  if (status_code != 200) {
    LOG(ERROR) << base::StringPrintf("HTTP status %lu",
                                     static_cast<unsigned long>(status_code));
    return false;
  }

  if (response_body) {
    response_body->clear();
    char buffer[kResponsePieceSize];
    for (;;) {
      if (!request.BoundNextWait())
        return false;
      DWORD read = 0;
      if (!winhttp->read_data(request.get(), buffer, sizeof(buffer), &read)) {
        request.LogFailure("WinHttpReadData");
        return false;
      }
      if (read == 0)
        break;
      response_body->append(buffer, read);
    }
  }
  return true;
}

// Reads version resources: made once, not for every request.
std::string MakeUserAgent() {
  std::string user_agent =
      base::StringPrintf("%s/%s WinHTTP", kProductToken, kProductVersion);

  // By full path: a bare name would be looked up beside the program first.
  VS_FIXEDFILEINFO version;
  const base::FilePath winhttp_path = SystemModulePath(L"winhttp.dll");
  if (!winhttp_path.empty() &&
      GetModuleVersionAndType(winhttp_path, &version)) {
    user_agent += base::StringPrintf(
        "/%lu.%lu.%lu.%lu",
        static_cast<unsigned long>(HIWORD(version.dwFileVersionMS)),
        static_cast<unsigned long>(LOWORD(version.dwFileVersionMS)),
        static_cast<unsigned long>(HIWORD(version.dwFileVersionLS)),
        static_cast<unsigned long>(LOWORD(version.dwFileVersionLS)));
  }

  const base::FilePath kernel32_path = SystemModulePath(L"kernel32.dll");
  if (!kernel32_path.empty() &&
      GetModuleVersionAndType(kernel32_path, &version) &&
      (version.dwFileOS & VOS_NT_WINDOWS32) == VOS_NT_WINDOWS32) {
    user_agent += base::StringPrintf(
        " Windows_NT/%lu.%lu.%lu.%lu (",
        static_cast<unsigned long>(HIWORD(version.dwFileVersionMS)),
        static_cast<unsigned long>(LOWORD(version.dwFileVersionMS)),
        static_cast<unsigned long>(HIWORD(version.dwFileVersionLS)),
        static_cast<unsigned long>(LOWORD(version.dwFileVersionLS)));
    user_agent += "x64";
    BOOL is_wow64;
    if (!::IsWow64Process(::GetCurrentProcess(), &is_wow64))
      PLOG(WARNING) << "IsWow64Process";
    else if (is_wow64)
      user_agent += "; WoW64";
    user_agent += ")";
  }
  return user_agent;
}

}  // namespace

namespace internal {

const std::string& UserAgent() {
  static const std::string user_agent = MakeUserAgent();
  return user_agent;
}

std::string WinHttpErrorLine(const char* function, DWORD error) {
  const WinHttpFunctions* winhttp = WinHttp();
  char text[256];
  DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                FORMAT_MESSAGE_MAX_WIDTH_MASK;
  // WinHTTP's own codes (12000 and up) are described by winhttp.dll.
  if (winhttp)
    flags |= FORMAT_MESSAGE_FROM_HMODULE;
  DWORD length =
      ::FormatMessageA(flags, winhttp ? winhttp->module : nullptr, error, 0,
                       text, static_cast<DWORD>(sizeof(text)), nullptr);
  if (length == 0) {
    return base::StringPrintf("%s: error 0x%lx while retrieving error 0x%lx",
                              function,
                              static_cast<unsigned long>(::GetLastError()),
                              static_cast<unsigned long>(error));
  }
  // One line: the breaks became blanks, and the last one goes.
  if (text[length - 1] == ' ')
    --length;
  return base::StringPrintf("%s: %s (0x%lx)", function,
                            std::string(text, length).c_str(),
                            static_cast<unsigned long>(error));
}

BodyFraming GetBodyFraming(const HTTPHeaders& headers) {
  BodyFraming framing;
  bool has_length = false;
  for (const auto& header : headers) {
    // A line break would end the header early and let the rest pass for
    // headers (or a body) of the caller's making.
    if (HasLineBreak(header.first) || HasLineBreak(header.second)) {
      LOG(ERROR) << "HTTP header with a line break: " << header.first;
      return framing;
    }
    // Header names are case-blind: a "content-length" of the caller must
    // not go out beside a chunked body.
    if (!base::EqualsCaseInsensitiveASCII(header.first, kContentLength))
      continue;
    size_t length;
    if (has_length || !base::StringToSizeT(header.second, &length)) {
      LOG(ERROR) << "Unusable " << kContentLength << " header: " << header.first
                 << ": " << header.second;
      return framing;
    }
    has_length = true;
    framing.chunked = false;
    framing.length = length;
  }
  framing.valid = true;
  return framing;
}

bool SendBody(HTTPBodyStream* stream, bool chunked, const BodyWriter& write) {
  // One buffer for the whole body, room for a chunk's framing around the
  // bytes, so that a piece goes out as a single write.
  std::unique_ptr<uint8_t[]> buffer(
      new uint8_t[kChunkHeadSize + kHTTPBodyPieceSize + kChunkTailSize]);
  uint8_t* const data = buffer.get() + kChunkHeadSize;
  for (;;) {
    int64_t count = 0;
    if (stream) {
      count = stream->GetBytesBuffer(data, kHTTPBodyPieceSize);
      if (count < 0) {
        LOG(ERROR) << "The request body could not be read";
        return false;
      }
      if (count > static_cast<int64_t>(kHTTPBodyPieceSize)) {
        LOG(ERROR) << "The request body gave more than was asked for";
        return false;
      }
    }
    if (chunked) {
      // "%08x" and CR LF, written without snprintf's terminating zero.
      char head[kChunkHeadSize + 1];
      snprintf(head, sizeof(head), "%08x\r\n", static_cast<unsigned>(count));
      memcpy(buffer.get(), head, kChunkHeadSize);
      memcpy(data + count, "\r\n", kChunkTailSize);
      if (!write(buffer.get(),
                 kChunkHeadSize + static_cast<size_t>(count) + kChunkTailSize))
        return false;
    } else if (count > 0 && !write(data, static_cast<size_t>(count))) {
      return false;
    }
    if (count == 0)
      return true;
  }
}

}  // namespace internal

// static
std::unique_ptr<HTTPTransport> HTTPTransport::Create() {
  return std::make_unique<HTTPTransportWin>();
}

}  // namespace crash_reporter
