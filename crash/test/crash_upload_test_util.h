#ifndef CRASH_TEST_CRASH_UPLOAD_TEST_UTIL_H_
#define CRASH_TEST_CRASH_UPLOAD_TEST_UTIL_H_

#include <windows.h>

#include <stdlib.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/loopback_http_server.h"
#include "crash/crash_product_info.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace test {

// Sets (or, with a null value, removes) an environment variable while it
// lives.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    char old[4096];
    const DWORD length = ::GetEnvironmentVariableA(name, old, sizeof(old));
    had_ = length > 0 && length < sizeof(old);
    if (had_)
      old_.assign(old, length);
    ::SetEnvironmentVariableA(name, value);
  }
  ~ScopedVariable() {
    ::SetEnvironmentVariableA(name_.c_str(), had_ ? old_.c_str() : nullptr);
  }

 private:
  std::string name_;
  bool had_ = false;
  std::string old_;

  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;
};

// A product of the tests' own, with a company key below HKCU that nothing
// else uses; the key is deleted and the product put back at the end.
class ScopedTestProduct {
 public:
  ScopedTestProduct() : saved_(GetCrashProductInfo()) {
    company_key_ = L"Software\\KavorCrashTests\\P" +
                   base::UintToString16(::GetCurrentProcessId()) + L"-" +
                   base::UintToString16(++serial_);
    CrashProductInfo info;
    info.product_word = "Kavor";
    info.crash_product_name = "KavorDesktop";
    info.version = "47.0.4127.0";
    info.channel = "developer";
    info.channel_id = 4;
    info.ubn = 12;
    info.build_timestamp = "20261207";
    info.build_number = 1234567;
    info.company_registry_key = company_key_;
    SetCrashProductInfo(info);
  }
  ~ScopedTestProduct() {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, company_key_.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, company_key_.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\KavorCrashTests");
    SetCrashProductInfo(saved_);
  }

  const std::wstring& company_key() const { return company_key_; }

 private:
  static inline unsigned serial_ = 0;
  CrashProductInfo saved_;
  std::wstring company_key_;

  ScopedTestProduct(const ScopedTestProduct&) = delete;
  ScopedTestProduct& operator=(const ScopedTestProduct&) = delete;
};

inline base::FilePath TestProgram(const wchar_t* name) {
  base::FilePath exe_dir;
  if (!base::PathService::Get(base::DIR_EXE, &exe_dir))
    return base::FilePath();
  return exe_dir.Append(name);
}

// Starts |program| with |arguments|, its standard output into |output|.
inline base::Process StartChild(const base::FilePath& program,
                                const std::wstring& arguments,
                                const base::FilePath& output) {
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  HANDLE file = ::CreateFileW(output.value().c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return base::Process();
  base::LaunchOptions options;
  options.start_hidden = true;
  options.stdout_handle = file;
  options.stderr_handle = file;
  options.handles_to_inherit.push_back(file);
  base::Process child = base::LaunchProcess(
      L"\"" + program.value() + L"\" " + arguments, options);
  ::CloseHandle(file);
  return child;
}

// The inflated form of a gzip body; empty when it is not one.
inline std::string Gunzip(const std::string& compressed) {
  z_stream stream = {};
  if (inflateInit2(&stream, 15 + 16) != Z_OK)
    return std::string();
  stream.next_in =
      reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  stream.avail_in = static_cast<uInt>(compressed.size());
  std::string out;
  char buffer[16384];
  int result = Z_OK;
  while (result == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof(buffer);
    result = inflate(&stream, Z_NO_FLUSH);
    out.append(buffer, sizeof(buffer) - stream.avail_out);
  }
  const bool whole = result == Z_STREAM_END && stream.avail_in == 0;
  inflateEnd(&stream);
  return whole ? out : std::string();
}

// One multipart upload as the server received it, taken apart.
struct ReceivedUpload {
  std::string boundary;
  std::vector<std::pair<std::string, std::string>> fields;
  std::string dump_file_name;
  std::string dump;
  bool has_dump = false;
  // Every byte was accounted for: parts, closing boundary and nothing more.
  bool well_formed = false;

  std::string Field(const std::string& name) const {
    for (const auto& field : fields) {
      if (field.first == name)
        return field.second;
    }
    return "<absent>";
  }
  bool Has(const std::string& name) const {
    for (const auto& field : fields) {
      if (field.first == name)
        return true;
    }
    return false;
  }
};

// Parses |body| (already inflated) with the boundary of |content_type|.
inline ReceivedUpload ParseUpload(const std::string& content_type,
                                  const std::string& body) {
  ReceivedUpload upload;
  const std::string prefix = "multipart/form-data; boundary=";
  if (content_type.compare(0, prefix.size(), prefix) != 0)
    return upload;
  upload.boundary = content_type.substr(prefix.size());
  const std::string delimiter = "--" + upload.boundary;
  size_t at = 0;
  for (;;) {
    if (body.compare(at, delimiter.size(), delimiter) != 0)
      return upload;
    at += delimiter.size();
    if (body.compare(at, 4, "--\r\n") == 0) {
      upload.well_formed = at + 4 == body.size();
      return upload;
    }
    if (body.compare(at, 2, "\r\n") != 0)
      return upload;
    at += 2;
    const size_t head_end = body.find("\r\n\r\n", at);
    if (head_end == std::string::npos)
      return upload;
    const std::string head = body.substr(at, head_end - at);
    const size_t next = body.find("\r\n" + delimiter, head_end + 4);
    if (next == std::string::npos)
      return upload;
    const std::string content = body.substr(head_end + 4, next - head_end - 4);
    at = next + 2;
    const std::string name_key = "name=\"";
    const size_t name_at = head.find(name_key);
    if (name_at == std::string::npos)
      return upload;
    const size_t name_end = head.find('"', name_at + name_key.size());
    const std::string name = head.substr(name_at + name_key.size(),
                                         name_end - name_at - name_key.size());
    const std::string file_key = "; filename=\"";
    const size_t file_at = head.find(file_key);
    if (file_at == std::string::npos) {
      upload.fields.emplace_back(name, content);
      continue;
    }
    if (name != "upload_file_minidump" ||
        head.find("\r\nContent-Type: application/octet-stream") ==
            std::string::npos) {
      return upload;
    }
    const size_t file_end = head.find('"', file_at + file_key.size());
    upload.dump_file_name = head.substr(file_at + file_key.size(),
                                        file_end - file_at - file_key.size());
    upload.dump = content;
    upload.has_dump = true;
  }
}

inline ReceivedUpload ParseRequest(
    const base::LoopbackHttpServer::Request& request) {
  std::string body = request.body;
  if (request.Header("Content-Encoding") == "gzip")
    body = Gunzip(body);
  return ParseUpload(request.Header("Content-Type"), body);
}

}  // namespace test
}  // namespace crash_reporter

#endif  // CRASH_TEST_CRASH_UPLOAD_TEST_UTIL_H_
