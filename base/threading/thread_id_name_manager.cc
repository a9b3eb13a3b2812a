#include "base/threading/thread_id_name_manager.h"

#include "base/check.h"
#include "base/lazy_instance.h"
#include "base/trace_event/heap_profiler_allocation_context_tracker.h"

namespace base {

namespace {

LazyInstance<ThreadIdNameManager>::Leaky g_thread_id_name_manager =
    LAZY_INSTANCE_INITIALIZER;

}  // namespace

// static
ThreadIdNameManager* ThreadIdNameManager::GetInstance() {
  return g_thread_id_name_manager.Pointer();
}

ThreadIdNameManager::ThreadIdNameManager() {
  AutoLock locked(lock_);
  empty_name_ = InternName(std::string());
}

ThreadIdNameManager::~ThreadIdNameManager() = default;

std::string* ThreadIdNameManager::InternName(const std::string& name) {
  NameToInternedNameMap::iterator found = name_to_interned_name_.find(name);
  if (found != name_to_interned_name_.end())
    return found->second;
  std::string* interned = new std::string(name);
  name_to_interned_name_[name] = interned;
  return interned;
}

void ThreadIdNameManager::RegisterThread(PlatformThreadHandle::Handle handle,
                                         PlatformThreadId id) {
  AutoLock locked(lock_);
  thread_id_to_handle_[id] = handle;
  thread_handle_to_interned_name_[handle] = empty_name_;
}

void ThreadIdNameManager::SetName(PlatformThreadId id,
                                  const std::string& name) {
  std::string* interned;
  {
    AutoLock locked(lock_);
    interned = InternName(name);
    ThreadIdToHandleMap::iterator found = thread_id_to_handle_.find(id);
    if (found == thread_id_to_handle_.end()) {
      // Not started through PlatformThread: the process's main thread, or a
      // thread of the system or of some other library. They share one slot.
      main_process_name_ = interned;
      main_process_id_ = id;
      return;
    }
    thread_handle_to_interned_name_[found->second] = interned;
  }
  // The profiler may allocate, and its allocations may come back here; so
  // it is told without the lock held.
  trace_event::AllocationContextTracker::SetCurrentThreadName(
      interned->c_str());
}

const char* ThreadIdNameManager::GetName(PlatformThreadId id) {
  AutoLock locked(lock_);
  if (id == main_process_id_ && main_process_name_)
    return main_process_name_->c_str();

  ThreadIdToHandleMap::iterator found = thread_id_to_handle_.find(id);
  if (found == thread_id_to_handle_.end())
    return empty_name_->c_str();

  ThreadHandleToInternedNameMap::iterator name =
      thread_handle_to_interned_name_.find(found->second);
  DCHECK(name != thread_handle_to_interned_name_.end());
  return name->second->c_str();
}

void ThreadIdNameManager::RemoveName(PlatformThreadHandle::Handle handle,
                                     PlatformThreadId id) {
  AutoLock locked(lock_);
  ThreadHandleToInternedNameMap::iterator name =
      thread_handle_to_interned_name_.find(handle);
  DCHECK(name != thread_handle_to_interned_name_.end());
  if (name != thread_handle_to_interned_name_.end())
    thread_handle_to_interned_name_.erase(name);

  // The id may already belong to a newer thread that registered before this
  // one got here; its entry stays.
  ThreadIdToHandleMap::iterator found = thread_id_to_handle_.find(id);
  if (found != thread_id_to_handle_.end() && found->second == handle)
    thread_id_to_handle_.erase(found);
}

}  // namespace base
