#ifndef BASE_MEMORY_REF_COUNTED_H_
#define BASE_MEMORY_REF_COUNTED_H_

#include <stdint.h>

#include <atomic>

#include "base/check.h"
#include "base/macros.h"
#include "base/memory/scoped_refptr.h"

namespace base {

namespace subtle {

// The count shared by every thread-safe reference-counted object. It starts
// at 0: the first holder adds the first reference.
class RefCountedThreadSafeBase {
 public:
  // Only meaningful while the caller holds a reference itself: then "one"
  // means no other holder can appear behind its back.
  bool HasOneRef() const {
    return ref_count_.load(std::memory_order_acquire) == 1;
  }
  bool HasAtLeastOneRef() const {
    return ref_count_.load(std::memory_order_acquire) != 0;
  }

 protected:
  RefCountedThreadSafeBase() = default;
  ~RefCountedThreadSafeBase() {
    // Deleting an object that a holder still points at leaves that holder
    // dangling.
    DCHECK(ref_count_.load(std::memory_order_relaxed) == 0);
  }

  void AddRef() const { ref_count_.fetch_add(1, std::memory_order_relaxed); }

  // Returns true when this call dropped the last reference. The
  // acquire-release order makes every write of the other holders visible to
  // the thread that goes on to destroy the object.
  bool Release() const {
    uint32_t previous = ref_count_.fetch_sub(1, std::memory_order_acq_rel);
    DCHECK(previous != 0);
    return previous == 1;
  }

 private:
  mutable std::atomic<uint32_t> ref_count_{0};

  DISALLOW_COPY_AND_ASSIGN(RefCountedThreadSafeBase);
};

}  // namespace subtle

template <typename T, typename Traits>
class RefCountedThreadSafe;

// Destroys the object with delete. Classes that must die somewhere else
// (a task runner on its own thread, for one) name other traits with a
// static Destruct(const T*).
template <typename T>
struct DefaultRefCountedThreadSafeTraits {
  static void Destruct(const T* x) {
    RefCountedThreadSafe<T, DefaultRefCountedThreadSafeTraits>::DeleteInternal(
        x);
  }
};

// Base of objects shared between threads:
//
//   class Job : public base::RefCountedThreadSafe<Job> {
//    private:
//     friend class base::RefCountedThreadSafe<Job>;
//     ~Job();
//   };
//
// Keep the destructor private (or protected) so that only the last holder
// can end the object's life.
template <typename T, typename Traits = DefaultRefCountedThreadSafeTraits<T>>
class RefCountedThreadSafe : public subtle::RefCountedThreadSafeBase {
 public:
  RefCountedThreadSafe() = default;

  void AddRef() const { subtle::RefCountedThreadSafeBase::AddRef(); }

  void Release() const {
    if (subtle::RefCountedThreadSafeBase::Release())
      Traits::Destruct(static_cast<const T*>(this));
  }

 protected:
  ~RefCountedThreadSafe() = default;

 private:
  friend struct DefaultRefCountedThreadSafeTraits<T>;
  static void DeleteInternal(const T* x) { delete x; }

  DISALLOW_COPY_AND_ASSIGN(RefCountedThreadSafe);
};

}  // namespace base

#endif  // BASE_MEMORY_REF_COUNTED_H_
