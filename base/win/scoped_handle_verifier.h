#ifndef BASE_WIN_SCOPED_HANDLE_VERIFIER_H_
#define BASE_WIN_SCOPED_HANDLE_VERIFIER_H_

#include <windows.h>
#include <stdint.h>

#include <unordered_map>

#include "base/debug/stack_trace.h"
#include "base/macros.h"
#include "base/synchronization/lock.h"
#include "base/threading/thread_local_storage.h"

namespace base {
namespace win {

// The handle verifier as other modules see it. One verifier serves the
// whole process and is shared across module boundaries through its virtual
// table, so the order of these operations is an interface between modules:
// never reorder them, never add a virtual destructor or any operation before
// the last one.
class ActiveVerifier {
 public:
  // Closes |handle|; see HandleTraits::CloseHandle.
  virtual bool CloseHandle(HANDLE handle) = 0;
  // |owner| now owns |handle|. |pc1| is the address the owning operation
  // returns to, |pc2| an address inside it.
  virtual void StartTracking(HANDLE handle,
                             const void* owner,
                             const void* pc1,
                             const void* pc2) = 0;
  // |owner| gives |handle| up.
  virtual void StopTracking(HANDLE handle,
                            const void* owner,
                            const void* pc1,
                            const void* pc2) = 0;
  // Stops all verification for good.
  virtual void Disable() = 0;
  // For code that watches raw CloseHandle calls: a tracked handle closed
  // behind its owner's back stops the process.
  virtual void OnHandleBeingClosed(HANDLE handle) = 0;
  // The module that made the verifier.
  virtual HMODULE GetModule() const = 0;

 protected:
  // The verifier lives as long as the process; nobody deletes it through
  // this interface.
  ~ActiveVerifier() = default;
};

namespace internal {

// What the verifier knows of a tracked handle. Kept plain so that a crash
// dump shows it as it was.
struct HandleInfo {
  const void* owner;
  const void* pc1;  // Where the owning operation returns to.
  const void* pc2;  // Inside the owning operation.
  debug::StackTrace stack;
  uint32_t thread_id;
};

struct HandleHash {
  size_t operator()(HANDLE handle) const;
};

// This library's verifier. Only an enabled one tracks; a disabled one just
// closes handles. Made once per process (see GetActiveVerifier) and never
// destroyed; tests make their own.
class ScopedHandleVerifier : public ActiveVerifier {
 public:
  explicit ScopedHandleVerifier(bool enabled);

  bool CloseHandle(HANDLE handle) override;
  void StartTracking(HANDLE handle,
                     const void* owner,
                     const void* pc1,
                     const void* pc2) override;
  void StopTracking(HANDLE handle,
                    const void* owner,
                    const void* pc1,
                    const void* pc2) override;
  void Disable() override;
  void OnHandleBeingClosed(HANDLE handle) override;
  HMODULE GetModule() const override;

  bool enabled() const { return enabled_; }

 private:
  using HandleMap = std::unordered_map<HANDLE, HandleInfo, HandleHash>;

  debug::StackTrace creation_stack_;
  bool enabled_;
  // Non-null while this thread closes a handle through the verifier, so
  // that the close is not taken for one behind the owner's back.
  ThreadLocalStorage::Slot closing_;
  base::Lock* lock_;
  HandleMap map_;

  DISALLOW_COPY_AND_ASSIGN(ScopedHandleVerifier);
};

// Closes |handle|. A failure stops the process after leaving what is known
// about the handle where a crash dump shows it; the one tolerated failure,
// a process handle protected from closing, answers false.
bool CloseHandleWrapper(HANDLE handle);

// The verifier every ScopedHandle in this module goes through, made on
// first use: the host executable's when it exports one, else a local one,
// enabled only when the host's export is this library's own.
ActiveVerifier* GetActiveVerifier();

// How the active verifier is chosen from the host's "GetHandleVerifier"
// export (null when the host has none) and this library's own.
enum class VerifierChoice { kLocalDisabled, kLocalEnabled, kAdoptHost };
VerifierChoice ChooseVerifier(FARPROC host_export, FARPROC own_export);

}  // namespace internal
}  // namespace win
}  // namespace base

// The process's active handle verifier, shared with other modules. This
// library exports it; a host executable that exports its own makes every
// module in the process use the host's verifier.
extern "C" void* GetHandleVerifier();

#endif  // BASE_WIN_SCOPED_HANDLE_VERIFIER_H_
