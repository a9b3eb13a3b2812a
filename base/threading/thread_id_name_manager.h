#ifndef BASE_THREADING_THREAD_ID_NAME_MANAGER_H_
#define BASE_THREADING_THREAD_ID_NAME_MANAGER_H_

#include <map>
#include <string>

#include "base/synchronization/lock.h"
#include "base/threading/platform_thread.h"

namespace base {

// The process-wide registry of thread names. Threads started through
// PlatformThread are registered by id and by their own handle; any other
// thread that names itself takes the single slot kept for the main thread.
// Every distinct name is copied once and never freed, so the pointers that
// GetName hands out stay valid for the life of the process.
class ThreadIdNameManager {
 public:
  static ThreadIdNameManager* GetInstance();

  // Production code uses GetInstance; tests may make their own.
  ThreadIdNameManager();
  // Leaves the interned names behind: pointers to them may still be held.
  ~ThreadIdNameManager();

  ThreadIdNameManager(const ThreadIdNameManager&) = delete;
  ThreadIdNameManager& operator=(const ThreadIdNameManager&) = delete;

  // Enters a thread started through PlatformThread, named "". |handle| is
  // the thread's own (non-pseudo) handle.
  void RegisterThread(PlatformThreadHandle::Handle handle, PlatformThreadId id);

  // Names thread |id|. Must be called on that thread: the heap profiler is
  // told the name of the calling thread.
  void SetName(PlatformThreadId id, const std::string& name);

  // Thread |id|'s name, "" when it has none.
  const char* GetName(PlatformThreadId id);

  // Forgets a registered thread that is about to end.
  void RemoveName(PlatformThreadHandle::Handle handle, PlatformThreadId id);

 private:
  typedef std::map<std::string, std::string*> NameToInternedNameMap;
  typedef std::map<PlatformThreadId, PlatformThreadHandle::Handle>
      ThreadIdToHandleMap;
  typedef std::map<PlatformThreadHandle::Handle, std::string*>
      ThreadHandleToInternedNameMap;

  // The interned copy of |name|, made on first sight. Lock held.
  std::string* InternName(const std::string& name);

  Lock lock_;
  NameToInternedNameMap name_to_interned_name_;
  ThreadIdToHandleMap thread_id_to_handle_;
  ThreadHandleToInternedNameMap thread_handle_to_interned_name_;
  std::string* main_process_name_ = nullptr;
  PlatformThreadId main_process_id_ = kInvalidThreadId;
  // The interned "", for quick hand-out.
  std::string* empty_name_ = nullptr;
};

}  // namespace base

#endif  // BASE_THREADING_THREAD_ID_NAME_MANAGER_H_
