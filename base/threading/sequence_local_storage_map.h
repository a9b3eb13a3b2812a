#ifndef BASE_THREADING_SEQUENCE_LOCAL_STORAGE_MAP_H_
#define BASE_THREADING_SEQUENCE_LOCAL_STORAGE_MAP_H_

#include <map>

#include "base/macros.h"

namespace base {
namespace internal {

// The values that the tasks of one sequence keep for the sequence, by slot
// id. Owned by the sequence and made current on the thread that runs one of
// its tasks; the values are destroyed with the map.
class SequenceLocalStorageMap {
 public:
  // A value with the function that destroys it (null: nothing to destroy).
  class ValueDestructorPair {
   public:
    using DestructorFunc = void(void*);

    ValueDestructorPair(void* value, DestructorFunc* destructor);
    ValueDestructorPair(ValueDestructorPair&& other);
    ValueDestructorPair& operator=(ValueDestructorPair&& other);
    ~ValueDestructorPair();

    void* value() const { return value_; }

   private:
    void* value_;
    DestructorFunc* destructor_;

    DISALLOW_COPY_AND_ASSIGN(ValueDestructorPair);
  };

  SequenceLocalStorageMap();
  ~SequenceLocalStorageMap();

  // The map of the sequence whose task runs on this thread; calling it
  // outside such a task is fatal.
  static SequenceLocalStorageMap& GetForCurrentThread();
  static bool IsSetForCurrentThread();

  // The value of |slot_id|, or null.
  void* Get(int slot_id);
  // Replaces (and destroys) any earlier value of |slot_id|.
  void Set(int slot_id, ValueDestructorPair value_destructor_pair);

 private:
  std::map<int, ValueDestructorPair> sls_map_;

  DISALLOW_COPY_AND_ASSIGN(SequenceLocalStorageMap);
};

// While alive, makes |map| the current thread's sequence-local storage.
class ScopedSetSequenceLocalStorageMapForCurrentThread {
 public:
  explicit ScopedSetSequenceLocalStorageMapForCurrentThread(
      SequenceLocalStorageMap* map);
  ~ScopedSetSequenceLocalStorageMapForCurrentThread();

 private:
  DISALLOW_COPY_AND_ASSIGN(ScopedSetSequenceLocalStorageMapForCurrentThread);
};

}  // namespace internal
}  // namespace base

#endif  // BASE_THREADING_SEQUENCE_LOCAL_STORAGE_MAP_H_
