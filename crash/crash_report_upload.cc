#include "crash/crash_report_upload.h"

#include <windows.h>
#include <psapi.h>

#include <utility>

#include "base/bind.h"
#include "base/files/file.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/time/time.h"
#include "crash/crash_key_table.h"
#include "crash/crash_product_info.h"
#include "crash/reporter_common.h"
#include "crash/util/file/file_reader.h"
#include "crash/util/net/http_body.h"
#include "crash/util/net/http_multipart_builder.h"
#include "crash/util/net/http_transport.h"

namespace crash_reporter {

namespace {

constexpr char kDumpPartName[] = "upload_file_minidump";
constexpr char kDumpContentType[] = "application/octet-stream";
// Pieces in which the body is measured; the transport reads it in pieces of
// the same size.

// NtQueryInformationProcess's ProcessVmCounters class and its record.
constexpr int kProcessVmCounters = 3;
struct VmCounters {
  SIZE_T peak_virtual_size;
  SIZE_T virtual_size;
  ULONG page_fault_count;
  SIZE_T peak_working_set_size;
  SIZE_T working_set_size;
  SIZE_T quota_peak_paged_pool_usage;
  SIZE_T quota_paged_pool_usage;
  SIZE_T quota_peak_non_paged_pool_usage;
  SIZE_T quota_non_paged_pool_usage;
  SIZE_T pagefile_usage;
  SIZE_T peak_pagefile_usage;
};
static_assert(sizeof(VmCounters) == 88, "virtual-memory counters layout");
static_assert(sizeof(PROCESS_MEMORY_COUNTERS_EX) == 80,
              "extended memory counters layout");

using NtQueryInformationProcessFunction =
    LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);

// Seconds since 1970, as the crash service files them.
int64_t ReportSeconds(base::Time time) {
  return time.ToJavaTime() / 1000;
}

// The executable of |process|; empty when it cannot be asked.
base::FilePath ProcessExecutable(HANDLE process) {
  if (!process)
    return base::FilePath();
  wchar_t path[MAX_PATH];
  DWORD length = MAX_PATH;
  if (!::QueryFullProcessImageNameW(process, 0, path, &length) || length == 0)
    return base::FilePath();
  return base::FilePath(base::string16(path, length));
}

// Steps shared by clients and crashed reporters: times, install time,
// memory and the product. |uptime| is null when unknown.
void CollectProcessFields(HANDLE process,
                          const base::TimeDelta* uptime,
                          CrashReportFields* fields) {
  // Never the pseudo handle of this process, which has the same value.
  if (process == INVALID_HANDLE_VALUE)
    process = nullptr;
  const base::Time now = base::Time::Now();
  base::Time start;
  base::Time crash;
  FILETIME creation, exit, kernel, user;
  if (process && ::GetProcessTimes(process, &creation, &exit, &kernel, &user)) {
    start = base::Time::FromFileTime(creation);
    crash = uptime ? start + *uptime : now;
  } else {
    crash = now;
    start = uptime ? now - *uptime : now;
  }
  fields->SetInt64("StartupTime", ReportSeconds(start));
  fields->SetInt64("CrashTime", ReportSeconds(crash));

  const base::FilePath executable = ProcessExecutable(process);
  if (!executable.empty()) {
    base::File file(executable, base::File::FLAG_OPEN | base::File::FLAG_READ);
    base::File::Info info;
    if (file.IsValid() && file.GetInfo(&info))
      fields->SetInt64("InstallTime", ReportSeconds(info.creation_time));
  }

  MEMORYSTATUSEX memory = {};
  memory.dwLength = sizeof(memory);
  if (::GlobalMemoryStatusEx(&memory)) {
    fields->SetUint32("mem_load", memory.dwMemoryLoad);
    fields->SetUint64("mem_page_file_avail", memory.ullAvailPageFile);
    fields->SetUint64("mem_page_file_total", memory.ullTotalPageFile);
    fields->SetUint64("mem_physical_avail", memory.ullAvailPhys);
    fields->SetUint64("mem_physical_total", memory.ullTotalPhys);
  }

  // ntdll is in every process already: no load, no search.
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  auto query_process =
      ntdll ? reinterpret_cast<NtQueryInformationProcessFunction>(
                  ::GetProcAddress(ntdll, "NtQueryInformationProcess"))
            : nullptr;
  VmCounters vm = {};
  if (process && query_process &&
      query_process(process, kProcessVmCounters, &vm, sizeof(vm), nullptr) >=
          0) {
    fields->SetUint64("mem_virtual_size", vm.virtual_size);
  }

  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof(counters);
  if (process &&
      ::GetProcessMemoryInfo(
          process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
          sizeof(counters))) {
    fields->SetUint64("process_page_file_peak_usage",
                      counters.PeakPagefileUsage);
    fields->SetUint64("process_page_file_usage", counters.PagefileUsage);
    fields->SetUint64("process_private_usage", counters.PrivateUsage);
    fields->SetUint64("process_working_set_peak_size",
                      counters.PeakWorkingSetSize);
    fields->SetUint64("process_working_set_size", counters.WorkingSetSize);
  }

  const CrashProductInfo& product = GetCrashProductInfo();
  fields->SetText("prod", product.crash_product_name);
  fields->SetText("ver", product.version);
  fields->SetInt64("UBN", product.ubn);
  fields->SetText("BuildID", ComputeBuildId(product));
  fields->SetText("ReleaseChannel", ComputeReleaseChannel(product));
  if (!fields->Has("symbols-package") && !executable.empty())
    fields->SetText("symbols-package", SymbolsPackageFor(executable));
}

void CopyKey(CrashReportFields* fields,
             bool* has_uptime,
             base::TimeDelta* uptime,
             const std::wstring& name,
             const std::wstring& value) {
  if (name == L"crash_guid")
    return;
  if (name == L"ptime") {
    int64_t milliseconds = 0;
    if (!value.empty() && base::StringToInt64(value, &milliseconds)) {
      *uptime = base::TimeDelta::FromMilliseconds(milliseconds);
      *has_uptime = true;
    }
    return;
  }
  fields->SetWide(name, value);
}

DWORD WINAPI UploadWorkItem(void* parameter) {
  std::unique_ptr<CrashUploadTask> task(
      static_cast<CrashUploadTask*>(parameter));
  (void)task->Upload();
  task.reset();
  PendingWorkCounter::GetInstance()->Release();
  return 0;
}

}  // namespace

// CrashReportFields -----------------------------------------------------------

CrashReportFields::CrashReportFields() = default;
CrashReportFields::~CrashReportFields() = default;

void CrashReportFields::SetText(base::StringPiece name,
                                base::StringPiece value) {
  SetWide(base::UTF8ToWide(name), base::UTF8ToWide(value));
}

void CrashReportFields::SetWide(const base::string16& name,
                                const base::string16& value) {
  fields_.insert(Map::value_type(name, value));
}

void CrashReportFields::SetUint32(base::StringPiece name, uint32_t value) {
  SetWide(base::UTF8ToWide(name), base::Uint64ToString16(value));
}

void CrashReportFields::SetInt64(base::StringPiece name, int64_t value) {
  SetWide(base::UTF8ToWide(name), base::Int64ToString16(value));
}

void CrashReportFields::SetUint64(base::StringPiece name, uint64_t value) {
  SetWide(base::UTF8ToWide(name), base::Uint64ToString16(value));
}

bool CrashReportFields::Has(base::StringPiece name) const {
  return fields_.count(base::UTF8ToWide(name)) != 0;
}

// CrashUploadTask -------------------------------------------------------------

CrashUploadTask::CrashUploadTask(std::unique_ptr<CrashReportFields> fields,
                                 const base::FilePath& dump_path,
                                 bool gzip,
                                 bool delete_dump)
    : fields_(std::move(fields)),
      dump_path_(dump_path),
      gzip_(gzip),
      delete_dump_(delete_dump) {}

CrashUploadTask::~CrashUploadTask() {
  if (delete_dump_)
    ::DeleteFileW(dump_path_.value().c_str());
}

bool CrashUploadTask::Send(bool with_length, bool* chunks_not_carried) {
  *chunks_not_carried = false;
  // The reader outlives the transport, whose body reads through it.
  FileReader reader;
  if (!reader.Open(dump_path_)) {
    LOG(ERROR) << "Crash upload: cannot open " << dump_path_.value();
    return false;
  }

  HTTPMultipartBuilder builder;
  builder.SetGzipEnabled(gzip_);
  if (fields_) {
    for (const auto& field : fields_->fields())
      builder.SetFormData(base::WideToUTF8(field.first),
                          base::WideToUTF8(field.second));
  }
  builder.SetFileAttachment(kDumpPartName,
                            base::WideToUTF8(dump_path_.BaseName().value()),
                            &reader, kDumpContentType);

  HTTPHeaders headers;
  builder.PopulateContentHeaders(&headers);
  std::unique_ptr<HTTPBodyStream> body;
  if (with_length) {
    int64_t length = 0;
    body = builder.GetBodyStreamWithLength(&length);
    if (!body) {
      LOG(ERROR) << "Crash upload: cannot measure the body of "
                 << dump_path_.value();
      return false;
    }
    headers["Content-Length"] = base::Int64ToString(length);
  } else {
    body = builder.GetBodyStream();
    if (!body)
      return false;
  }

  std::unique_ptr<HTTPTransport> transport = HTTPTransport::Create();
  if (!transport)
    return false;
  transport->SetMethod("POST");
  transport->SetBodyStream(std::move(body));
  transport->SetURL(base::WideToUTF8(GetCrashUploadUrl()));
  for (const auto& header : headers)
    transport->SetHeader(header.first, header.second);
  const bool sent = transport->ExecuteSynchronously(nullptr);
  *chunks_not_carried = transport->chunks_not_carried();
  return sent;
}

bool CrashUploadTask::Upload() {
  // Some servers and proxies refuse request bodies sent in chunks; the
  // product setting sends the body with its length.
  const bool with_length =
      GetEnvironmentFlag(ProductEnvironmentVariable("CRASH_UPLOAD_WITH_LENGTH"));
  bool chunks_not_carried = false;
  bool uploaded = Send(with_length, &chunks_not_carried);
  // Where WinHTTP cannot send a body in chunks, the report goes again with
  // its length rather than being lost.
  if (!uploaded && chunks_not_carried) {
    LOG(WARNING) << "Crash upload of " << dump_path_.value()
                 << ": sending it again with its length";
    uploaded = Send(true, &chunks_not_carried);
  }
  LOG(INFO) << "Crash upload of " << dump_path_.value()
            << (uploaded ? " succeeded" : " failed");
  return uploaded;
}

// Fields ----------------------------------------------------------------------

void CollectClientCrashFields(HANDLE process,
                              const ParsedCrashKeys& keys,
                              CrashReportFields* fields) {
  bool has_uptime = false;
  base::TimeDelta uptime;
  keys.ForEach(base::BindRepeating(&CopyKey, base::Unretained(fields),
                                   base::Unretained(&has_uptime),
                                   base::Unretained(&uptime)));
  CollectProcessFields(process, has_uptime ? &uptime : nullptr, fields);
}

void CollectReporterCrashFields(DWORD process_id, CrashReportFields* fields) {
  const std::string email =
      GetEnvironmentValue(ProductEnvironmentVariable("CRASH_EMAIL"));
  if (!email.empty())
    fields->SetText("Email", email);
  fields->SetText("ptype", "crash_reporter");
  HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, process_id);
  CollectProcessFields(process, nullptr, fields);
  if (process)
    ::CloseHandle(process);
}

// Uploads ---------------------------------------------------------------------

bool UploadCrashReportAsync(const base::FilePath& dump_path,
                            std::unique_ptr<CrashReportFields> fields,
                            bool delete_dump) {
  auto task = std::make_unique<CrashUploadTask>(std::move(fields), dump_path,
                                                true, delete_dump);
  PendingWorkCounter* pending = PendingWorkCounter::GetInstance();
  pending->Add();
  if (!::QueueUserWorkItem(&UploadWorkItem, task.get(),
                           WT_EXECUTELONGFUNCTION)) {
    PLOG(ERROR) << "QueueUserWorkItem";
    task.reset();
    pending->Release();
    return false;
  }
  (void)task.release();  // The work item owns it now.
  return true;
}

bool UploadCrashReport(const base::FilePath& dump_path,
                       std::unique_ptr<CrashReportFields> fields,
                       bool gzip) {
  CrashUploadTask task(std::move(fields), dump_path, gzip, true);
  return task.Upload();
}

}  // namespace crash_reporter
