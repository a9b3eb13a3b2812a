#include "base/threading/sequence_local_storage_map.h"

#include <utility>

#include "base/check.h"
#include "base/lazy_instance.h"
#include "base/threading/thread_local_storage.h"

namespace base {
namespace internal {

namespace {

LazyInstance<ThreadLocalStorage::Slot>::Leaky g_current_map_slot =
    LAZY_INSTANCE_INITIALIZER;

}  // namespace

SequenceLocalStorageMap::ValueDestructorPair::ValueDestructorPair(
    void* value, DestructorFunc* destructor)
    : value_(value), destructor_(destructor) {}

SequenceLocalStorageMap::ValueDestructorPair::ValueDestructorPair(
    ValueDestructorPair&& other)
    : value_(other.value_), destructor_(other.destructor_) {
  other.value_ = nullptr;
  other.destructor_ = nullptr;
}

SequenceLocalStorageMap::ValueDestructorPair&
SequenceLocalStorageMap::ValueDestructorPair::operator=(
    ValueDestructorPair&& other) {
  if (this != &other) {
    if (destructor_ && value_)
      destructor_(value_);
    value_ = other.value_;
    destructor_ = other.destructor_;
    other.value_ = nullptr;
    other.destructor_ = nullptr;
  }
  return *this;
}

SequenceLocalStorageMap::ValueDestructorPair::~ValueDestructorPair() {
  if (destructor_ && value_)
    destructor_(value_);
}

SequenceLocalStorageMap::SequenceLocalStorageMap() = default;

SequenceLocalStorageMap::~SequenceLocalStorageMap() = default;

// static
SequenceLocalStorageMap& SequenceLocalStorageMap::GetForCurrentThread() {
  SequenceLocalStorageMap* current =
      static_cast<SequenceLocalStorageMap*>(g_current_map_slot.Get().Get());
  CHECK(current);
  return *current;
}

// static
bool SequenceLocalStorageMap::IsSetForCurrentThread() {
  return g_current_map_slot.Get().Get() != nullptr;
}

void* SequenceLocalStorageMap::Get(int slot_id) {
  auto it = sls_map_.find(slot_id);
  return it == sls_map_.end() ? nullptr : it->second.value();
}

void SequenceLocalStorageMap::Set(int slot_id,
                                  ValueDestructorPair value_destructor_pair) {
  auto it = sls_map_.find(slot_id);
  if (it == sls_map_.end())
    sls_map_.emplace(slot_id, std::move(value_destructor_pair));
  else
    it->second = std::move(value_destructor_pair);
}

ScopedSetSequenceLocalStorageMapForCurrentThread::
    ScopedSetSequenceLocalStorageMapForCurrentThread(
        SequenceLocalStorageMap* map) {
  DCHECK(!g_current_map_slot.Get().Get());
  g_current_map_slot.Get().Set(map);
}

ScopedSetSequenceLocalStorageMapForCurrentThread::
    ~ScopedSetSequenceLocalStorageMapForCurrentThread() {
  g_current_map_slot.Get().Set(nullptr);
}

}  // namespace internal
}  // namespace base
