#ifndef BASE_METRICS_FIELD_TRIAL_H_
#define BASE_METRICS_FIELD_TRIAL_H_

#include <stdint.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>

#include "base/macros.h"
#include "base/memory/ref_counted.h"
#include "base/synchronization/lock.h"

namespace base {

class FieldTrialList;
class PersistentMemoryAllocator;

// A named experiment. Code asks for the chosen group (and, through
// FieldTrialParamAssociator, that group's parameters) and varies its
// behaviour accordingly. The group is chosen once, on first use.
class FieldTrial : public RefCountedThreadSafe<FieldTrial> {
 public:
  typedef std::map<std::string, std::string> Params;

  static constexpr int kNotFinalized = -1;
  static constexpr int kDefaultGroupNumber = 0;

  const std::string& trial_name() const { return trial_name_; }

  // The chosen group's number; finalizes the choice but does not report it.
  int group_number_for_testing();

  // The chosen group's name. Finalizes the choice and, for a registered
  // trial, reports it (once) to the list's observers.
  const std::string& group_name();

  // A disabled trial still answers its group but is neither written to
  // shared memory nor reported to observers.
  void Disable() { enabled_ = false; }
  bool enabled() const { return enabled_; }

  bool group_reported_for_testing() const { return group_reported_; }
  uint32_t shared_memory_ref_for_testing() const { return ref_; }

 private:
  friend class FieldTrialList;
  class PersistentMemoryAllocator;
  friend class RefCountedThreadSafe<FieldTrial>;

  FieldTrial(const std::string& trial_name,
             uint32_t total_probability,
             const std::string& default_group_name);
  ~FieldTrial();

  // |is_locked| tells whether the caller already holds the list's lock.
  void FinalizeGroupChoiceImpl(bool is_locked);

  const std::string trial_name_;
  const uint32_t divisor_;
  const std::string default_group_name_;
  uint32_t accumulated_probability_ = 0;

  // Published with release order once |group_name_| is written, so a
  // reader that sees it finalized sees the name too.
  std::atomic<int> group_{kNotFinalized};
  std::string group_name_;

  bool enabled_ = true;
  bool forced_ = false;
  // Guarded by the list's lock.
  bool group_reported_ = false;
  bool registered_ = false;

  // The trial's entry in the list's allocator; 0 while it has none.
  uint32_t ref_ = 0;

  DISALLOW_COPY_AND_ASSIGN(FieldTrial);
};

// The process-wide registry of field trials. At most one exists; while none
// does, every lookup finds nothing and every parameter is empty. The
// installer never makes one, so the static functions below must stay cheap
// on that path: a single pointer test.
class FieldTrialList {
 public:
  // Told on the observer's own sequence when a trial's group was chosen and
  // reported.
  class Observer {
   public:
    virtual void OnFieldTrialGroupFinalized(const std::string& trial_name,
                                            const std::string& group_name) = 0;

   protected:
    virtual ~Observer() = default;
  };

  // The notification the current thread is delivering to an observer.
  struct Notification {
    std::string trial_name;
    std::string group_name;
  };

  FieldTrialList();
  ~FieldTrialList();

  // Whether a list exists.
  static bool IsSet();

  // Makes a trial whose group is not yet chosen and registers it with the
  // list, when there is one. A name already registered answers the trial
  // that holds it. Without a list the trial is returned unregistered: its
  // group can be asked but is reported nowhere.
  static scoped_refptr<FieldTrial> FactoryGetFieldTrial(
      const std::string& trial_name,
      uint32_t total_probability,
      const std::string& default_group_name);

  // The registered trial of that name, or null (also without a list).
  static FieldTrial* Find(const std::string& trial_name);

  // Reports a trial's choice once: shared memory, the global activity
  // tracker and the observers. Nothing without a list.
  static void NotifyFieldTrialGroupSelection(FieldTrial* trial);

  // Observers are registered from a sequence with a task runner and are
  // called there. False without a list or without a sequence.
  static bool AddObserver(Observer* observer);
  static void RemoveObserver(Observer* observer);

  // What the calling thread is delivering to an observer right now, or null.
  static const Notification* GetCurrentNotification();

  // Reads a trial's parameters back from its shared-memory entry.
  static bool GetParamsFromSharedMemory(FieldTrial* trial,
                                        FieldTrial::Params* params);

  // Gives the list a segment to publish its trials in, for other processes
  // to read. Nothing in the installer installs one. A trial gets its entry
  // when its group is chosen or first reported with the segment in place.
  static void InstallAllocator(
      std::unique_ptr<PersistentMemoryAllocator> allocator);
  static PersistentMemoryAllocator* GetAllocator();

  // Called by GetParamsFromSharedMemory, with the list's lock held, once a
  // trial's entry has been checked and before its contents are parsed:
  // lets a test write the entry there as another process could. Null (the
  // default) for none.
  using EntryCheckedHook = void (*)(FieldTrial* trial);
  static void SetEntryCheckedHookForTesting(EntryCheckedHook hook);

 private:
  friend class FieldTrial;
  class ObserverRegistry;

  // Chooses a registered trial's group under the list's lock: the trial is
  // reachable from every thread through Find.
  static void FinalizeGroupChoiceUnderLock(FieldTrial* trial);

  // Called, with |lock_| held, by a registered trial whose group was just
  // chosen.
  static void OnGroupFinalized(FieldTrial* trial);

  // Both with |lock_| held; both do nothing without a writable allocator.
  static void AddToAllocatorWhileLocked(PersistentMemoryAllocator* allocator,
                                        FieldTrial* trial);
  static void ActivateInAllocatorWhileLocked(
      PersistentMemoryAllocator* allocator, FieldTrial* trial);

  Lock lock_;
  std::map<std::string, scoped_refptr<FieldTrial>> registered_;
  scoped_refptr<ObserverRegistry> observers_;
  std::unique_ptr<PersistentMemoryAllocator> allocator_;

  DISALLOW_COPY_AND_ASSIGN(FieldTrialList);
};

}  // namespace base

#endif  // BASE_METRICS_FIELD_TRIAL_H_
