#ifndef BASE_THREADING_THREAD_LOCAL_STORAGE_H_
#define BASE_THREADING_THREAD_LOCAL_STORAGE_H_

#include <stdint.h>

#include <atomic>

#include "base/macros.h"

namespace base {

namespace internal {

// The kernel layer under the slots: one kernel TLS index serves the whole
// process, and its per-thread value is the thread's slot vector.
class PlatformThreadLocalStorage {
 public:
  typedef unsigned long TLSKey;  // A kernel TLS index (DWORD).
  static constexpr TLSKey TLS_KEY_OUT_OF_INDEXES = 0xFFFFFFFFul;

  // False when the kernel has no index left.
  static bool AllocTLS(TLSKey* key);
  static void FreeTLS(TLSKey key);
  // Leaves the thread's last error as it was: the kernel read clears it, and
  // callers that keep a failure code across a slot access must not lose it.
  static void* GetTLSValue(TLSKey key);
  static void SetTLSValue(TLSKey key, void* value);

  // Runs the slot destructors of the calling thread; called from the
  // module's TLS callback when a thread (or the process) ends.
  static void OnThreadExit();
};

}  // namespace internal

class ThreadLocalStorage {
 public:
  // Called at thread exit with the thread's non-null value of a slot.
  typedef void (*TLSDestructorFunc)(void* value);

  // Number of slots the process can hold at the same time.
  static constexpr int kThreadLocalStorageSize = 256;

  // One pointer per thread. Get and Set cost a kernel TLS read and an array
  // access. Values are tagged with the slot's version, so a slot can be freed
  // while threads still hold values in it: those read as null afterwards and
  // never reach a destructor. Process-wide slots normally live in a leaky
  // lazy instance; a destroyed Slot gives its index back.
  class Slot {
   public:
    explicit Slot(TLSDestructorFunc destructor = nullptr);
    ~Slot();

    // Takes a free slot; all slots in use is fatal.
    void Initialize(TLSDestructorFunc destructor);
    // Gives the slot back.
    void Free();

    // The calling thread's value, or null.
    void* Get() const;
    void Set(void* value);

    bool initialized() const {
      return initialized_.load(std::memory_order_acquire) != 0;
    }
    int index_for_testing() const { return slot_; }

   private:
    std::atomic<int32_t> initialized_{0};
    int32_t slot_ = -1;
    uint32_t version_ = 0;

    DISALLOW_COPY_AND_ASSIGN(Slot);
  };

 private:
  DISALLOW_COPY_AND_ASSIGN(ThreadLocalStorage);
};

}  // namespace base

#endif  // BASE_THREADING_THREAD_LOCAL_STORAGE_H_
