#include "crash/crash_generation/client_info.h"

#include <string.h>
#include <wchar.h>

#include <string>

#include "crash/crash_generation/minidump_generator.h"

namespace crash_reporter {

namespace {

uint64_t FileTimeToUint64(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) |
         time.dwLowDateTime;
}

uint64_t Now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return FileTimeToUint64(now);
}

// The texts come from another process: never trust them to end.
void TerminateEntry(CustomInfoEntry* entry) {
  entry->name[CustomInfoEntry::kNameMaxLength - 1] = L'\0';
  entry->value[CustomInfoEntry::kValueMaxLength - 1] = L'\0';
}

}  // namespace

constexpr wchar_t ClientInfo::kProcessTimeEntryName[];

ClientInfo::ClientInfo(CrashGenerationServer* server,
                       DWORD pid,
                       uint32_t dump_type,
                       DWORD* thread_id_address,
                       EXCEPTION_POINTERS** exception_pointers_address,
                       AssertionInfo* assert_info_address,
                       const CustomClientInfo& custom_client_info)
    : server_(server),
      pid_(pid),
      dump_type_(dump_type),
      exception_pointers_address_(exception_pointers_address),
      assert_info_address_(assert_info_address),
      custom_client_info_(custom_client_info),
      thread_id_address_(thread_id_address) {
  // Stands in when the process's creation time cannot be read.
  start_time_ = Now();
  crash_id_ = static_cast<uint32_t>(start_time_);
}

ClientInfo::~ClientInfo() {
  if (dump_requested_event_)
    CloseHandle(dump_requested_event_);
  if (dump_generated_event_)
    CloseHandle(dump_generated_event_);
  if (process_handle_)
    CloseHandle(process_handle_);
}

bool ClientInfo::Initialize() {
  process_handle_ = OpenProcess(GENERIC_ALL, FALSE, pid_);
  if (!process_handle_)
    return false;

  FILETIME creation_time, exit_time, kernel_time, user_time;
  if (GetProcessTimes(process_handle_, &creation_time, &exit_time, &kernel_time,
                      &user_time)) {
    start_time_ = FileTimeToUint64(creation_time);
  }
  crash_id_ = static_cast<uint32_t>(start_time_);

  dump_requested_event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!dump_requested_event_)
    return false;
  dump_generated_event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return dump_generated_event_ != nullptr;
}

bool ClientInfo::GetClientThreadId(DWORD* thread_id) const {
  return ReadProcessMemoryExactly(process_handle_, thread_id_address_,
                                  thread_id, sizeof(*thread_id));
}

bool ClientInfo::GetClientExceptionPointers(
    EXCEPTION_POINTERS** pointers) const {
  return ReadProcessMemoryExactly(process_handle_, exception_pointers_address_,
                                  pointers, sizeof(*pointers));
}

uint64_t ClientInfo::GetProcessUptime() const {
  uint64_t now = Now();
  return now > start_time_ ? (now - start_time_) / 10000 : 0;
}

bool ClientInfo::PopulateCustomInfo() {
  const size_t count = custom_client_info_.count;
  if (count > kMaxCustomInfoEntries)
    return false;

  if (!custom_info_entries_) {
    custom_info_entries_.reset(new CustomInfoEntry[count + 1]);
    memset(custom_info_entries_.get(), 0,
           sizeof(CustomInfoEntry) * (count + 1));
    wcsncpy(custom_info_entries_[count].name, kProcessTimeEntryName,
            CustomInfoEntry::kNameMaxLength - 1);
  }

  if (count) {
    if (!ReadProcessMemoryExactly(process_handle_, custom_client_info_.entries,
                                  custom_info_entries_.get(),
                                  sizeof(CustomInfoEntry) * count)) {
      // A partial read leaves no half-copied keys behind.
      memset(custom_info_entries_.get(), 0, sizeof(CustomInfoEntry) * count);
      return false;
    }
    for (size_t i = 0; i < count; ++i)
      TerminateEntry(&custom_info_entries_[i]);
  }

  std::wstring uptime = std::to_wstring(GetProcessUptime());
  CustomInfoEntry& ptime = custom_info_entries_[count];
  memset(ptime.value, 0, sizeof(ptime.value));
  wcsncpy(ptime.value, uptime.c_str(), CustomInfoEntry::kValueMaxLength - 1);
  return true;
}

CustomClientInfo ClientInfo::GetCustomInfo() const {
  if (!custom_info_entries_)
    return CustomClientInfo{nullptr, 0};
  return CustomClientInfo{custom_info_entries_.get(),
                          custom_client_info_.count + 1};
}

}  // namespace crash_reporter
