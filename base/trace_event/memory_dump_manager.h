#ifndef BASE_TRACE_EVENT_MEMORY_DUMP_MANAGER_H_
#define BASE_TRACE_EVENT_MEMORY_DUMP_MANAGER_H_

#include <memory>

#include "base/memory/scoped_refptr.h"
#include "base/trace_event/memory_dump_provider.h"

namespace base {

class SequencedTaskRunner;
class SingleThreadTaskRunner;

namespace trace_event {

// The process-wide registry of memory dump providers (see memory_dump_
// provider_info.h for what it keeps of each).
class MemoryDumpManager {
 public:
  static MemoryDumpManager* GetInstance();

  // Registers |mdp| to be called on |task_runner| (null: on any thread).
  // |name| must outlive the registration.
  void RegisterDumpProvider(MemoryDumpProvider* mdp,
                            const char* name,
                            scoped_refptr<SingleThreadTaskRunner> task_runner);
  void RegisterDumpProvider(MemoryDumpProvider* mdp,
                            const char* name,
                            scoped_refptr<SingleThreadTaskRunner> task_runner,
                            MemoryDumpProvider::Options options);
  void RegisterDumpProviderWithSequencedTaskRunner(
      MemoryDumpProvider* mdp,
      const char* name,
      scoped_refptr<SequencedTaskRunner> task_runner,
      MemoryDumpProvider::Options options);

  void UnregisterDumpProvider(MemoryDumpProvider* mdp);
  // Unregisters |mdp| and destroys it once no dump can be using it.
  void UnregisterAndDeleteDumpProviderSoon(
      std::unique_ptr<MemoryDumpProvider> mdp);

 private:
  MemoryDumpManager();
  ~MemoryDumpManager();
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_MEMORY_DUMP_MANAGER_H_
