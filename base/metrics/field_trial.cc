#include "base/metrics/field_trial.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/debug/activity_tracker.h"
#include "base/location.h"
#include "base/metrics/field_trial_param_associator.h"
#include "base/metrics/persistent_memory_allocator.h"
#include "base/pickle.h"
#include "base/sequenced_task_runner.h"
#include "base/strings/string_piece.h"
#include "base/threading/sequenced_task_runner_handle.h"
#include "base/threading/thread_local_storage.h"

namespace base {

namespace {

// The one list of the process. Lookups run on any thread, so it is read
// atomically; it is set and cleared by the list's own constructor and
// destructor.
std::atomic<FieldTrialList*> g_field_trial_list{nullptr};

// Type id of a trial's shared-memory entry.
constexpr uint32_t kFieldTrialEntryType = 0xABA17E15;

// A trial's shared-memory entry. Its layout is shared with other processes
// and must not change: the pickle follows the two fixed fields.
struct FieldTrialEntry {
  std::atomic<uint32_t> activated;
  uint32_t pickle_size;
};
static_assert(sizeof(FieldTrialEntry) == 8, "entry header is 8 bytes");

std::atomic<FieldTrialList::EntryCheckedHook> g_entry_checked_hook{nullptr};

ThreadLocalStorage::Slot& CurrentNotificationSlot() {
  // Never destroyed: observer tasks may run on any thread until the end.
  static ThreadLocalStorage::Slot* const slot = new ThreadLocalStorage::Slot();
  return *slot;
}

}  // namespace

// Observers paired with the runner of the sequence they registered on.
// Posted notifications hold a reference, so the registry outlives a list
// destroyed while tasks are still queued.
class FieldTrialList::ObserverRegistry
    : public RefCountedThreadSafe<ObserverRegistry> {
 public:
  ObserverRegistry() = default;

  bool Add(Observer* observer) {
    if (!SequencedTaskRunnerHandle::IsSet())
      return false;
    AutoLock auto_lock(lock_);
    for (const Entry& entry : entries_) {
      if (entry.observer == observer)
        return true;
    }
    entries_.push_back({observer, SequencedTaskRunnerHandle::Get()});
    return true;
  }

  void Remove(Observer* observer) {
    AutoLock auto_lock(lock_);
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [observer](const Entry& entry) {
                                    return entry.observer == observer;
                                  }),
                   entries_.end());
  }

  void NotifyAll(const std::string& trial_name, const std::string& group_name) {
    std::vector<Entry> entries;
    {
      AutoLock auto_lock(lock_);
      entries = entries_;
    }
    // Posting happens outside the lock: a runner may run the task at once.
    for (const Entry& entry : entries) {
      entry.task_runner->PostTask(
          Location::CreateFromHere("NotifyFieldTrialGroupSelection", __FILE__,
                                   __LINE__),
          BindOnce(&ObserverRegistry::Deliver,
                   scoped_refptr<ObserverRegistry>(this), entry.observer,
                   trial_name, group_name));
    }
  }

 private:
  friend class RefCountedThreadSafe<ObserverRegistry>;

  struct Entry {
    Observer* observer;
    scoped_refptr<SequencedTaskRunner> task_runner;
  };

  ~ObserverRegistry() = default;

  void Deliver(Observer* observer,
               const std::string& trial_name,
               const std::string& group_name) {
    {
      // An observer removed after the post must not be called.
      AutoLock auto_lock(lock_);
      if (std::none_of(entries_.begin(), entries_.end(),
                       [observer](const Entry& entry) {
                         return entry.observer == observer;
                       })) {
        return;
      }
    }
    Notification notification{trial_name, group_name};
    ThreadLocalStorage::Slot& slot = CurrentNotificationSlot();
    void* const outer = slot.Get();
    slot.Set(&notification);
    observer->OnFieldTrialGroupFinalized(trial_name, group_name);
    slot.Set(outer);
  }

  Lock lock_;
  std::vector<Entry> entries_;

  DISALLOW_COPY_AND_ASSIGN(ObserverRegistry);
};

// FieldTrial -----------------------------------------------------------------

FieldTrial::FieldTrial(const std::string& trial_name,
                       uint32_t total_probability,
                       const std::string& default_group_name)
    : trial_name_(trial_name),
      divisor_(total_probability),
      default_group_name_(default_group_name) {}

FieldTrial::~FieldTrial() = default;

int FieldTrial::group_number_for_testing() {
  FinalizeGroupChoiceImpl(false);
  return group_.load(std::memory_order_acquire);
}

const std::string& FieldTrial::group_name() {
  FinalizeGroupChoiceImpl(false);
  if (registered_)
    FieldTrialList::NotifyFieldTrialGroupSelection(this);
  return group_name_;
}

void FieldTrial::FinalizeGroupChoiceImpl(bool is_locked) {
  if (group_.load(std::memory_order_acquire) != kNotFinalized)
    return;
  if (registered_ && !is_locked) {
    // Two threads asking at once must not both write the name.
    FieldTrialList::FinalizeGroupChoiceUnderLock(this);
    return;
  }
  // No group beyond the default one is ever appended, so the whole
  // probability falls to it.
  accumulated_probability_ = divisor_;
  group_name_ = default_group_name_.empty()
                    ? std::to_string(kDefaultGroupNumber)
                    : default_group_name_;
  group_.store(kDefaultGroupNumber, std::memory_order_release);
  if (registered_)
    FieldTrialList::OnGroupFinalized(this);
}

// FieldTrialList -------------------------------------------------------------

FieldTrialList::FieldTrialList() : observers_(new ObserverRegistry()) {
  FieldTrialList* expected = nullptr;
  CHECK(g_field_trial_list.compare_exchange_strong(expected, this));
}

FieldTrialList::~FieldTrialList() {
  g_field_trial_list.store(nullptr, std::memory_order_release);
  AutoLock auto_lock(lock_);
  for (auto& it : registered_)
    it.second->registered_ = false;
  registered_.clear();
}

// static
bool FieldTrialList::IsSet() {
  return g_field_trial_list.load(std::memory_order_acquire) != nullptr;
}

// static
scoped_refptr<FieldTrial> FieldTrialList::FactoryGetFieldTrial(
    const std::string& trial_name,
    uint32_t total_probability,
    const std::string& default_group_name) {
  FieldTrialList* list = g_field_trial_list.load(std::memory_order_acquire);
  if (!list) {
    return scoped_refptr<FieldTrial>(
        new FieldTrial(trial_name, total_probability, default_group_name));
  }
  AutoLock auto_lock(list->lock_);
  auto it = list->registered_.find(trial_name);
  if (it != list->registered_.end())
    return it->second;
  scoped_refptr<FieldTrial> trial(
      new FieldTrial(trial_name, total_probability, default_group_name));
  trial->registered_ = true;
  list->registered_[trial_name] = trial;
  return trial;
}

// static
FieldTrial* FieldTrialList::Find(const std::string& trial_name) {
  FieldTrialList* list = g_field_trial_list.load(std::memory_order_acquire);
  if (!list)
    return nullptr;
  AutoLock auto_lock(list->lock_);
  auto it = list->registered_.find(trial_name);
  return it == list->registered_.end() ? nullptr : it->second.get();
}

// static
void FieldTrialList::NotifyFieldTrialGroupSelection(FieldTrial* trial) {
  FieldTrialList* list = g_field_trial_list.load(std::memory_order_acquire);
  if (!list)
    return;
  {
    AutoLock auto_lock(list->lock_);
    if (trial->group_reported_)
      return;
    trial->group_reported_ = true;
    if (!trial->enabled_)
      return;
    // Both skip a missing or read-only allocator.
    if (trial->ref_)
      ActivateInAllocatorWhileLocked(list->allocator_.get(), trial);
    else
      AddToAllocatorWhileLocked(list->allocator_.get(), trial);
  }

  if (debug::GlobalActivityTracker* tracker =
          debug::GlobalActivityTracker::Get()) {
    tracker->RecordFieldTrial(trial->trial_name(), trial->group_name_);
  }

  list->observers_->NotifyAll(trial->trial_name(), trial->group_name_);
}

// static
bool FieldTrialList::AddObserver(Observer* observer) {
  FieldTrialList* list = g_field_trial_list.load(std::memory_order_acquire);
  if (!list)
    return false;
  return list->observers_->Add(observer);
}

// static
void FieldTrialList::RemoveObserver(Observer* observer) {
  FieldTrialList* list = g_field_trial_list.load(std::memory_order_acquire);
  if (list)
    list->observers_->Remove(observer);
}

// static
const FieldTrialList::Notification* FieldTrialList::GetCurrentNotification() {
  return static_cast<const Notification*>(CurrentNotificationSlot().Get());
}

// static
void FieldTrialList::InstallAllocator(
    std::unique_ptr<PersistentMemoryAllocator> allocator) {
  FieldTrialList* list = g_field_trial_list.load(std::memory_order_acquire);
  if (!list)
    return;
  AutoLock auto_lock(list->lock_);
  list->allocator_ = std::move(allocator);
}

// static
PersistentMemoryAllocator* FieldTrialList::GetAllocator() {
  FieldTrialList* list = g_field_trial_list.load(std::memory_order_acquire);
  return list ? list->allocator_.get() : nullptr;
}

// static
void FieldTrialList::FinalizeGroupChoiceUnderLock(FieldTrial* trial) {
  FieldTrialList* list = g_field_trial_list.load(std::memory_order_acquire);
  if (!list) {
    trial->FinalizeGroupChoiceImpl(true);
    return;
  }
  AutoLock auto_lock(list->lock_);
  trial->FinalizeGroupChoiceImpl(true);
}

// static
void FieldTrialList::OnGroupFinalized(FieldTrial* trial) {
  FieldTrialList* list = g_field_trial_list.load(std::memory_order_acquire);
  if (!list)
    return;
  AddToAllocatorWhileLocked(list->allocator_.get(), trial);
}

// static
void FieldTrialList::AddToAllocatorWhileLocked(
    PersistentMemoryAllocator* allocator, FieldTrial* trial) {
  if (!allocator || allocator->IsReadonly() || !trial->enabled_)
    return;
  trial->FinalizeGroupChoiceImpl(true);
  if (trial->ref_)
    return;

  Pickle pickle;
  pickle.WriteString(trial->trial_name());
  pickle.WriteString(trial->group_name_);
  FieldTrial::Params params;
  FieldTrialParamAssociator::GetInstance()->GetFieldTrialParamsWithoutFallback(
      trial->trial_name(), trial->group_name_, &params);
  for (const auto& param : params) {
    pickle.WriteString(param.first);
    pickle.WriteString(param.second);
  }

  const size_t total_size = sizeof(FieldTrialEntry) + pickle.size();
  PersistentMemoryAllocator::Reference ref =
      allocator->Allocate(total_size, kFieldTrialEntryType);
  if (!ref)
    return;
  char* block =
      allocator->GetAsArray<char>(ref, kFieldTrialEntryType, total_size);
  if (!block)
    return;
  FieldTrialEntry* entry = reinterpret_cast<FieldTrialEntry*>(block);
  entry->activated.store(trial->group_reported_ ? 1 : 0,
                         std::memory_order_relaxed);
  entry->pickle_size = static_cast<uint32_t>(pickle.size());
  memcpy(block + sizeof(FieldTrialEntry), pickle.data(), pickle.size());
  allocator->MakeIterable(ref);
  trial->ref_ = ref;
}

// static
void FieldTrialList::ActivateInAllocatorWhileLocked(
    PersistentMemoryAllocator* allocator, FieldTrial* trial) {
  if (!allocator || allocator->IsReadonly())
    return;
  char* block = allocator->GetAsArray<char>(trial->ref_, kFieldTrialEntryType,
                                            sizeof(FieldTrialEntry));
  if (!block)
    return;
  reinterpret_cast<FieldTrialEntry*>(block)->activated.store(1);
}

// static
void FieldTrialList::SetEntryCheckedHookForTesting(EntryCheckedHook hook) {
  g_entry_checked_hook.store(hook, std::memory_order_release);
}

// static
bool FieldTrialList::GetParamsFromSharedMemory(FieldTrial* trial,
                                               FieldTrial::Params* params) {
  FieldTrialList* list = g_field_trial_list.load(std::memory_order_acquire);
  if (!list)
    return false;
  AutoLock auto_lock(list->lock_);
  PersistentMemoryAllocator* allocator = list->allocator_.get();
  if (!allocator || !trial->ref_)
    return false;

  const size_t alloc_size = allocator->GetAllocSize(trial->ref_);
  if (alloc_size < sizeof(FieldTrialEntry))
    return false;
  const char* block = allocator->GetAsArray<char>(
      trial->ref_, kFieldTrialEntryType, sizeof(FieldTrialEntry));
  if (!block)
    return false;
  const FieldTrialEntry* entry =
      reinterpret_cast<const FieldTrialEntry*>(block);
  // Another process may write the entry while it is read here: its size
  // is read once and must not reach past the block, and the pickle is
  // parsed from a copy, so that its own size, checked when the pickle is
  // made and read again while parsing, cannot change in between.
  const uint32_t pickle_size =
      *static_cast<const volatile uint32_t*>(&entry->pickle_size);
  if (alloc_size - sizeof(FieldTrialEntry) < pickle_size)
    return false;
  const std::string pickle_bytes(block + sizeof(FieldTrialEntry), pickle_size);

  Pickle pickle(pickle_bytes.data(), static_cast<int>(pickle_bytes.size()));
  if (EntryCheckedHook hook =
          g_entry_checked_hook.load(std::memory_order_acquire)) {
    hook(trial);
  }
  PickleIterator iter(pickle);
  StringPiece trial_name;
  StringPiece group_name;
  if (!iter.ReadStringPiece(&trial_name) || !iter.ReadStringPiece(&group_name))
    return false;
  while (true) {
    StringPiece key;
    StringPiece value;
    if (!iter.ReadStringPiece(&key))
      return true;
    if (!iter.ReadStringPiece(&value))
      return key.empty();
    (*params)[key.as_string()] = value.as_string();
  }
}

}  // namespace base
