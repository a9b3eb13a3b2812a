#include "base/threading/thread_local_storage.h"

#include <windows.h>
#include <string.h>

#include "base/check.h"
#include "base/lazy_instance.h"
#include "base/synchronization/lock.h"

namespace base {

namespace {

using internal::PlatformThreadLocalStorage;

// The one kernel index of the process. Published by compare-and-swap and
// never released: threads may read it at any time, up to their exit.
std::atomic<PlatformThreadLocalStorage::TLSKey> g_native_tls_key{
    PlatformThreadLocalStorage::TLS_KEY_OUT_OF_INDEXES};

enum TlsStatus : uint32_t {
  FREE = 0,
  IN_USE = 1,
};

struct TlsMetadata {
  TlsStatus status;
  ThreadLocalStorage::TLSDestructorFunc destructor;
  uint32_t version;
};

struct TlsVectorEntry {
  void* data;
  uint32_t version;
};

constexpr int kSlotCount = ThreadLocalStorage::kThreadLocalStorageSize;

// The exit code runs at most this many passes over the slots: destructors
// that keep storing values must not keep a thread alive for ever.
constexpr int kMaxDestructorPasses = kSlotCount;

// Guards the metadata and the last assigned slot. Made on first use and
// never destroyed, since threads may end after static destructors ran.
LazyInstance<Lock>::Leaky g_tls_metadata_lock = LAZY_INSTANCE_INITIALIZER;
TlsMetadata g_tls_metadata[kSlotCount];
size_t g_last_assigned_slot = 0;

Lock& GetTlsMetadataLock() {
  return g_tls_metadata_lock.Get();
}

// Builds the calling thread's vector, allocating the process's kernel index
// when nobody has yet.
TlsVectorEntry* ConstructTlsVector() {
  PlatformThreadLocalStorage::TLSKey key =
      g_native_tls_key.load(std::memory_order_acquire);
  if (key == PlatformThreadLocalStorage::TLS_KEY_OUT_OF_INDEXES) {
    CHECK(PlatformThreadLocalStorage::AllocTLS(&key));
    PlatformThreadLocalStorage::TLSKey expected =
        PlatformThreadLocalStorage::TLS_KEY_OUT_OF_INDEXES;
    if (!g_native_tls_key.compare_exchange_strong(expected, key,
                                                  std::memory_order_acq_rel,
                                                  std::memory_order_acquire)) {
      // Another thread got there first; its index is the process's.
      PlatformThreadLocalStorage::FreeTLS(key);
      key = expected;
    }
  }
  CHECK(!PlatformThreadLocalStorage::GetTLSValue(key));

  // The heap allocation below may itself reach for a slot (an allocator
  // that keeps per-thread state); a zeroed vector on the stack answers it
  // meanwhile, and whatever it stored is carried over.
  TlsVectorEntry stack_vector[kSlotCount];
  memset(stack_vector, 0, sizeof(stack_vector));
  PlatformThreadLocalStorage::SetTLSValue(key, stack_vector);

  TlsVectorEntry* heap_vector = new TlsVectorEntry[kSlotCount];
  memcpy(heap_vector, stack_vector, sizeof(stack_vector));
  PlatformThreadLocalStorage::SetTLSValue(key, heap_vector);
  return heap_vector;
}

// The calling thread's vector, built on its first use of any slot.
TlsVectorEntry* GetOrCreateTlsVector() {
  const PlatformThreadLocalStorage::TLSKey key =
      g_native_tls_key.load(std::memory_order_acquire);
  if (key != PlatformThreadLocalStorage::TLS_KEY_OUT_OF_INDEXES) {
    void* vector = PlatformThreadLocalStorage::GetTLSValue(key);
    if (vector)
      return static_cast<TlsVectorEntry*>(vector);
  }
  return ConstructTlsVector();
}

}  // namespace

namespace internal {

bool PlatformThreadLocalStorage::AllocTLS(TLSKey* key) {
  const DWORD value = ::TlsAlloc();
  *key = value;
  return value != TLS_OUT_OF_INDEXES;
}

void PlatformThreadLocalStorage::FreeTLS(TLSKey key) {
  ::TlsFree(key);
}

void* PlatformThreadLocalStorage::GetTLSValue(TLSKey key) {
  const DWORD last_error = ::GetLastError();
  void* value = ::TlsGetValue(key);
  ::SetLastError(last_error);
  return value;
}

void PlatformThreadLocalStorage::SetTLSValue(TLSKey key, void* value) {
  CHECK(::TlsSetValue(key, value));
}

void PlatformThreadLocalStorage::OnThreadExit() {
  const TLSKey key = g_native_tls_key.load(std::memory_order_acquire);
  if (key == TLS_KEY_OUT_OF_INDEXES)
    return;
  TlsVectorEntry* heap_vector = static_cast<TlsVectorEntry*>(GetTLSValue(key));
  if (!heap_vector)
    return;  // The thread never used a slot.

  // Destructors may touch slots again; they work on a copy on the stack so
  // that nothing here allocates once the heap vector is gone.
  TlsVectorEntry stack_vector[kSlotCount];
  memcpy(stack_vector, heap_vector, sizeof(stack_vector));
  SetTLSValue(key, stack_vector);
  delete[] heap_vector;

  // Destructors run without the lock; slots freed or taken meanwhile are
  // judged by this snapshot.
  TlsMetadata metadata[kSlotCount];
  {
    AutoLock lock(GetTlsMetadataLock());
    memcpy(metadata, g_tls_metadata, sizeof(metadata));
  }

  bool ran_destructor = true;
  for (int pass = 0; ran_destructor && pass < kMaxDestructorPasses; ++pass) {
    ran_destructor = false;
    for (int slot = 0; slot < kSlotCount; ++slot) {
      void* value = stack_vector[slot].data;
      if (!value)
        continue;
      const TlsMetadata& record = metadata[slot];
      if (record.status != IN_USE ||
          record.version != stack_vector[slot].version || !record.destructor) {
        continue;
      }
      // Cleared first: the destructor may store a new value in its own slot,
      // which then gets a pass of its own.
      stack_vector[slot].data = nullptr;
      record.destructor(value);
      ran_destructor = true;
    }
  }

  SetTLSValue(key, nullptr);
}

}  // namespace internal

ThreadLocalStorage::Slot::Slot(TLSDestructorFunc destructor) {
  Initialize(destructor);
}

ThreadLocalStorage::Slot::~Slot() {
  if (initialized())
    Free();
}

void ThreadLocalStorage::Slot::Initialize(TLSDestructorFunc destructor) {
  const PlatformThreadLocalStorage::TLSKey key =
      g_native_tls_key.load(std::memory_order_acquire);
  if (key == PlatformThreadLocalStorage::TLS_KEY_OUT_OF_INDEXES ||
      !PlatformThreadLocalStorage::GetTLSValue(key)) {
    ConstructTlsVector();
  }

  slot_ = -1;
  version_ = 0;
  {
    AutoLock lock(GetTlsMetadataLock());
    for (int i = 0; i < kSlotCount; ++i) {
      const size_t candidate = (g_last_assigned_slot + 1 + i) % kSlotCount;
      TlsMetadata& record = g_tls_metadata[candidate];
      if (record.status != FREE)
        continue;
      record.status = IN_USE;
      record.destructor = destructor;
      g_last_assigned_slot = candidate;
      slot_ = static_cast<int32_t>(candidate);
      version_ = record.version;
      break;
    }
  }
  // Running out of slots is not something the process can work around.
  CHECK_NE(slot_, -1);
  initialized_.store(1, std::memory_order_release);
}

void ThreadLocalStorage::Slot::Free() {
  DCHECK(slot_ >= 0 && slot_ < kSlotCount);
  {
    AutoLock lock(GetTlsMetadataLock());
    TlsMetadata& record = g_tls_metadata[slot_];
    record.status = FREE;
    record.destructor = nullptr;
    ++record.version;
  }
  slot_ = -1;
  initialized_.store(0, std::memory_order_release);
}

void* ThreadLocalStorage::Slot::Get() const {
  DCHECK(slot_ >= 0 && slot_ < kSlotCount);
  const TlsVectorEntry& entry = GetOrCreateTlsVector()[slot_];
  if (entry.version != version_)
    return nullptr;
  return entry.data;
}

void ThreadLocalStorage::Slot::Set(void* value) {
  DCHECK(slot_ >= 0 && slot_ < kSlotCount);
  TlsVectorEntry& entry = GetOrCreateTlsVector()[slot_];
  entry.data = value;
  entry.version = version_;
}

}  // namespace base

// Thread ends are seen through the module's TLS callback list. The entry
// lives in this file, next to the slot code, so every module that uses a slot
// links it: were it in an object of its own, a static link could leave it out
// and destructors would silently never run.

namespace {

void NTAPI OnThreadExitTlsCallback(PVOID module, DWORD reason, PVOID reserved) {
  if (reason == DLL_THREAD_DETACH || reason == DLL_PROCESS_DETACH)
    base::internal::PlatformThreadLocalStorage::OnThreadExit();
}

}  // namespace

extern "C" {

// The TLS directory of the module, defined by the C runtime's TLS support.
// Referencing it makes the link pull that support in, so the loader sees a
// callback list at all.
extern const IMAGE_TLS_DIRECTORY _tls_used;
__attribute__((used)) const void* const kavor_tls_directory_reference =
    &_tls_used;

// The runtime's callback list runs from .CRT$XLA to .CRT$XLZ, sorted by
// section name; .CRT$XLB puts this entry first.
__attribute__((used, section(".CRT$XLB")))
PIMAGE_TLS_CALLBACK kavor_tls_thread_exit_callback = OnThreadExitTlsCallback;

}  // extern "C"
