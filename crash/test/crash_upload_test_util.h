#ifndef CRASH_TEST_CRASH_UPLOAD_TEST_UTIL_H_
#define CRASH_TEST_CRASH_UPLOAD_TEST_UTIL_H_

#include <windows.h>

#include <stdlib.h>

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
#include "crash/test/http_body_test_util.h"
#include "crash/test/test_program.h"
#include "crash/test/test_product.h"
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
    CrashProductInfo info = TestCrashProduct();
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
  base::Process child = StartTestProgram(
      L"\"" + program.value() + L"\" " + arguments, options);
  ::CloseHandle(file);
  return child;
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

// The value of the parameter |key| (e.g. "name=\"") of a disposition.
inline bool DispositionValue(const std::string& disposition,
                             const std::string& key,
                             std::string* value) {
  const size_t at = disposition.find(key);
  if (at == std::string::npos)
    return false;
  const size_t end = disposition.find('"', at + key.size());
  if (end == std::string::npos)
    return false;
  *value = disposition.substr(at + key.size(), end - at - key.size());
  return true;
}

// Parses |body| (already inflated) with the boundary of |content_type|: its
// fields, and one file, the dump.
inline ReceivedUpload ParseUpload(const std::string& content_type,
                                  const std::string& body) {
  ReceivedUpload upload;
  const std::string prefix = "multipart/form-data; boundary=";
  if (content_type.compare(0, prefix.size(), prefix) != 0)
    return upload;
  upload.boundary = content_type.substr(prefix.size());
  std::vector<Part> parts;
  const bool parsed =
      ParseMultipart({{"Content-Type", content_type}}, body, &parts);
  for (const Part& part : parts) {
    std::string name;
    if (!DispositionValue(part.disposition, "name=\"", &name))
      return upload;
    std::string file_name;
    if (!DispositionValue(part.disposition, "; filename=\"", &file_name)) {
      upload.fields.emplace_back(name, part.data);
      continue;
    }
    if (name != "upload_file_minidump" ||
        part.content_type != "application/octet-stream") {
      return upload;
    }
    upload.dump_file_name = file_name;
    upload.dump = part.data;
    upload.has_dump = true;
  }
  upload.well_formed = parsed;
  return upload;
}

inline ReceivedUpload ParseRequest(
    const base::LoopbackHttpServer::Request& request) {
  std::string body = request.body;
  if (request.Header("Content-Encoding") == "gzip") {
    std::string inflated;
    if (!GunzipOneMember(body, &inflated))
      return ReceivedUpload();
    body = inflated;
  }
  return ParseUpload(request.Header("Content-Type"), body);
}

}  // namespace test
}  // namespace crash_reporter

#endif  // CRASH_TEST_CRASH_UPLOAD_TEST_UTIL_H_
