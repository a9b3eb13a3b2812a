#include "base/win/scoped_handle_verifier.h"

#include <winternl.h>

#include <atomic>
#include <memory>
#include <string>
#include <utility>

#include "base/check.h"
#include "base/debug/alias.h"
#include "base/hash.h"
#include "base/strings/sys_string_conversions.h"
#include "base/threading/platform_thread.h"

// The image base of the module this code is linked into, from the linker.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace base {
namespace win {
namespace internal {

namespace {

constexpr NTSTATUS kStatusInfoLengthMismatch =
    static_cast<NTSTATUS>(0xC0000004);
constexpr NTSTATUS kStatusNotImplemented = static_cast<NTSTATUS>(0xC0000002);
constexpr ULONG kObjectTypeInformation = 2;

// The map starts with this many buckets.
constexpr size_t kInitialBuckets = 8;

std::atomic<ActiveVerifier*> g_active_verifier{nullptr};

// Guards the choice of the active verifier and every map access. Made on
// first use and never destroyed: handles are closed until the very end of
// the process.
Lock* GetVerifierLock() {
  static Lock* lock = new Lock();
  return lock;
}

using NtQueryObjectFunction = NTSTATUS(WINAPI*)(HANDLE handle,
                                                ULONG info_class,
                                                PVOID info,
                                                ULONG info_length,
                                                PULONG result_length);

// The kernel's name for the type of object behind |handle| ("Process",
// "Event", ...), empty when it cannot be had; |*status| receives the
// query's status.
std::string GetObjectTypeName(HANDLE handle, NTSTATUS* status) {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  auto query = ntdll ? reinterpret_cast<NtQueryObjectFunction>(
                           ::GetProcAddress(ntdll, "NtQueryObject"))
                     : nullptr;
  if (!query) {
    *status = kStatusNotImplemented;
    return std::string();
  }
  ULONG size = 0;
  *status = query(handle, kObjectTypeInformation, nullptr, 0, &size);
  if (*status != kStatusInfoLengthMismatch || size < sizeof(UNICODE_STRING))
    return std::string();
  std::unique_ptr<char[]> buffer(new char[size]);
  *status = query(handle, kObjectTypeInformation, buffer.get(), size, &size);
  if (!NT_SUCCESS(*status))
    return std::string();
  // The information starts with the type name as a counted string.
  const UNICODE_STRING* name =
      reinterpret_cast<const UNICODE_STRING*>(buffer.get());
  if (!name->Buffer)
    return std::string();
  return SysWideToUTF8(
      std::wstring(name->Buffer, name->Length / sizeof(wchar_t)));
}

// Stops the process. Out of line and never folded with its siblings, so
// that the crash points at the verifier.
__attribute__((noinline, noreturn)) void HandleMisuse() {
  IMMEDIATE_CRASH();
}

}  // namespace

size_t HandleHash::operator()(HANDLE handle) const {
  return Hash(&handle, sizeof(handle));
}

bool CloseHandleWrapper(HANDLE handle) {
  if (::CloseHandle(handle))
    return true;

  // Everything known about the failure goes where a crash dump shows it.
  DWORD last_error = ::GetLastError();
  debug::Alias(&last_error);
  NTSTATUS query_status = 0;
  std::string type_name = GetObjectTypeName(handle, &query_status);
  char type_name_copy[32] = {};
  type_name.copy(type_name_copy, sizeof(type_name_copy) - 1);
  debug::Alias(type_name_copy);
  debug::Alias(&query_status);
  DWORD handle_flags = 0;
  if (!::GetHandleInformation(handle, &handle_flags))
    handle_flags = ::GetLastError();
  debug::Alias(&handle_flags);

  // A process handle protected from closing is the one failure that is
  // tolerated: some callers hand out such handles on purpose.
  if (type_name == "Process" && (handle_flags & HANDLE_FLAG_PROTECT_FROM_CLOSE))
    return false;

  HandleMisuse();
}

ScopedHandleVerifier::ScopedHandleVerifier(bool enabled)
    : enabled_(enabled), lock_(GetVerifierLock()), map_(kInitialBuckets) {
  map_.max_load_factor(1.0f);
}

bool ScopedHandleVerifier::CloseHandle(HANDLE handle) {
  if (!enabled_)
    return CloseHandleWrapper(handle);

  closing_.Set(reinterpret_cast<void*>(1));
  CloseHandleWrapper(handle);
  closing_.Set(nullptr);
  return true;
}

void ScopedHandleVerifier::StartTracking(HANDLE handle,
                                         const void* owner,
                                         const void* pc1,
                                         const void* pc2) {
  if (!enabled_)
    return;

  const uint32_t thread_id = PlatformThread::CurrentId();
  HandleInfo info = {owner, pc1, pc2, debug::StackTrace(), thread_id};
  AutoLock lock(*lock_);
  std::pair<HandleMap::iterator, bool> result =
      map_.insert(std::make_pair(handle, info));
  if (!result.second) {
    // Owned twice. Keep the first owner's record and the verifier's origin
    // for the crash dump.
    HandleInfo other = result.first->second;
    debug::Alias(&other);
    debug::StackTrace creation_stack = creation_stack_;
    debug::Alias(&creation_stack);
    HandleMisuse();
  }
}

void ScopedHandleVerifier::StopTracking(HANDLE handle,
                                        const void* owner,
                                        const void* pc1,
                                        const void* pc2) {
  if (!enabled_)
    return;

  AutoLock lock(*lock_);
  HandleMap::iterator i = map_.find(handle);
  if (i == map_.end()) {
    // Closing a handle that nobody owns.
    debug::StackTrace creation_stack = creation_stack_;
    debug::Alias(&creation_stack);
    HandleMisuse();
  }
  if (i->second.owner != owner) {
    // Closing a handle that someone else owns.
    HandleInfo other = i->second;
    debug::Alias(&other);
    debug::StackTrace creation_stack = creation_stack_;
    debug::Alias(&creation_stack);
    HandleMisuse();
  }
  map_.erase(i);
}

void ScopedHandleVerifier::Disable() {
  enabled_ = false;
}

void ScopedHandleVerifier::OnHandleBeingClosed(HANDLE handle) {
  if (!enabled_)
    return;
  if (closing_.Get())
    return;

  AutoLock lock(*lock_);
  HandleMap::iterator i = map_.find(handle);
  if (i != map_.end()) {
    // A tracked handle is being closed behind its owner's back.
    HandleInfo other = i->second;
    debug::Alias(&other);
    HandleMisuse();
  }
}

HMODULE ScopedHandleVerifier::GetModule() const {
  return reinterpret_cast<HMODULE>(&__ImageBase);
}

VerifierChoice ChooseVerifier(FARPROC host_export, FARPROC own_export) {
  if (!host_export)
    return VerifierChoice::kLocalDisabled;
  // A host that exports this library's own function (it is linked into the
  // host, or forwards to it) asks for verification by this library.
  if (host_export == own_export)
    return VerifierChoice::kLocalEnabled;
  return VerifierChoice::kAdoptHost;
}

ActiveVerifier* GetActiveVerifier() {
  ActiveVerifier* verifier = g_active_verifier.load(std::memory_order_acquire);
  if (verifier)
    return verifier;

  FARPROC host_export =
      ::GetProcAddress(::GetModuleHandleW(nullptr), "GetHandleVerifier");
  ActiveVerifier* adopted = nullptr;
  bool enabled = false;
  switch (ChooseVerifier(host_export,
                         reinterpret_cast<FARPROC>(&::GetHandleVerifier))) {
    case VerifierChoice::kLocalDisabled:
      break;
    case VerifierChoice::kLocalEnabled:
      enabled = true;
      break;
    case VerifierChoice::kAdoptHost:
      adopted = static_cast<ActiveVerifier*>(
          reinterpret_cast<void* (*)()>(host_export)());
      break;
  }

  AutoLock lock(*GetVerifierLock());
  verifier = g_active_verifier.load(std::memory_order_relaxed);
  if (!verifier) {
    // A host that answers with no verifier leaves this library on its own,
    // without verification.
    verifier = adopted ? adopted : new ScopedHandleVerifier(enabled);
    g_active_verifier.store(verifier, std::memory_order_release);
  }
  return verifier;
}

}  // namespace internal
}  // namespace win
}  // namespace base

extern "C" void* GetHandleVerifier() {
  return base::win::internal::GetActiveVerifier();
}
