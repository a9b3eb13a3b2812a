#ifndef BASE_OBSERVER_LIST_H_
#define BASE_OBSERVER_LIST_H_

#include <stddef.h>
#include <stdint.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "base/check.h"
#include "base/macros.h"
#include "base/memory/weak_ptr.h"

namespace base {

// The observers of one subject on one thread. Observers may add or remove
// themselves, and the subject may even die, while a notification runs:
//
//   for (auto& observer : observers_)
//     observer.OnSomethingHappened();
//
// Removal during a notification leaves a null slot that iterators skip; the
// last iterator to end compacts the vector, so nested notifications never see
// their indices shift. Iterators hold the list only by weak reference, so a
// subject that deletes itself from inside an observer call ends the loop
// cleanly.
template <class ObserverType>
class ObserverList {
 public:
  enum NotificationType {
    // An iteration also reaches observers added during it.
    ALL = 0,
    // An iteration stops at the observers present when it began.
    EXISTING_ONLY = 1,
  };

  class Iter {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = ObserverType;
    using difference_type = ptrdiff_t;
    using pointer = ObserverType*;
    using reference = ObserverType&;

    // An end iterator: no list.
    Iter() : index_(0), max_index_(0) {}

    explicit Iter(const ObserverList* list)
        : list_(list->weak_reference_owner_.GetRef()),
          list_ptr_(const_cast<ObserverList*>(list)),
          index_(0),
          max_index_(list->type_ == ALL ? std::numeric_limits<size_t>::max()
                                        : list->observers_.size()) {
      EnsureValidIndex();
      ++list_ptr_->live_iterator_count_;
    }

    Iter(const Iter& other)
        : list_(other.list_),
          list_ptr_(other.list_ptr_),
          index_(other.index_),
          max_index_(other.max_index_) {
      if (list())
        ++list_ptr_->live_iterator_count_;
    }

    Iter& operator=(Iter other) {
      Swap(other);
      return *this;
    }

    ~Iter() {
      if (!list())
        return;
      DCHECK_GT(list_ptr_->live_iterator_count_, 0);
      if (--list_ptr_->live_iterator_count_ == 0)
        list_ptr_->Compact();
    }

    bool operator==(const Iter& other) const {
      if (is_end() && other.is_end())
        return true;
      return list() == other.list() && index_ == other.index_;
    }
    bool operator!=(const Iter& other) const { return !(*this == other); }

    Iter& operator++() {
      if (list()) {
        ++index_;
        EnsureValidIndex();
      }
      return *this;
    }

    ObserverType* operator->() const {
      ObserverType* current = GetCurrent();
      DCHECK(current);
      return current;
    }
    ObserverType& operator*() const {
      ObserverType* current = GetCurrent();
      DCHECK(current);
      return *current;
    }

   private:
    ObserverList* list() const { return list_.IsValid() ? list_ptr_ : nullptr; }

    ObserverType* GetCurrent() const {
      if (!list())
        return nullptr;
      return index_ < clamped_max_index() ? list_ptr_->observers_[index_]
                                          : nullptr;
    }

    void EnsureValidIndex() {
      if (!list())
        return;
      size_t max_index = clamped_max_index();
      while (index_ < max_index && !list_ptr_->observers_[index_])
        ++index_;
    }

    size_t clamped_max_index() const {
      return std::min(max_index_, list_ptr_->observers_.size());
    }

    bool is_end() const { return !list() || index_ == clamped_max_index(); }

    void Swap(Iter& other) {
      std::swap(list_, other.list_);
      std::swap(list_ptr_, other.list_ptr_);
      std::swap(index_, other.index_);
      std::swap(max_index_, other.max_index_);
    }

    internal::WeakReference list_;
    // Only dereferenced while |list_| is valid.
    ObserverList* list_ptr_ = nullptr;
    size_t index_;
    size_t max_index_;
  };

  using iterator = Iter;
  using const_iterator = Iter;

  ObserverList() = default;
  explicit ObserverList(NotificationType type) : type_(type) {}
  ~ObserverList() = default;

  const_iterator begin() const {
    if (observers_.empty())
      return const_iterator();
    return const_iterator(this);
  }
  const_iterator end() const { return const_iterator(); }

  // Adding an observer that is already present changes nothing.
  void AddObserver(ObserverType* obs) {
    DCHECK(obs);
    if (HasObserver(obs))
      return;
    observers_.push_back(obs);
  }

  // Removing an observer that is not present does nothing.
  void RemoveObserver(const ObserverType* obs) {
    DCHECK(obs);
    auto it = std::find(observers_.begin(), observers_.end(), obs);
    if (it == observers_.end())
      return;
    DCHECK_GE(live_iterator_count_, 0);
    if (live_iterator_count_)
      *it = nullptr;
    else
      observers_.erase(it);
  }

  bool HasObserver(const ObserverType* observer) const {
    return observer && std::find(observers_.begin(), observers_.end(),
                                 observer) != observers_.end();
  }

  // Removes every observer; during a notification the slots are nulled.
  void Clear() {
    if (live_iterator_count_) {
      std::fill(observers_.begin(), observers_.end(), nullptr);
    } else {
      observers_.clear();
    }
  }

  bool might_have_observers() const { return !observers_.empty(); }

  // Slot count, null slots of a running notification included.
  size_t size_for_testing() const { return observers_.size(); }

 private:
  void Compact() {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), nullptr),
                     observers_.end());
  }

  internal::WeakReferenceOwner weak_reference_owner_;
  std::vector<ObserverType*> observers_;
  int32_t live_iterator_count_ = 0;
  NotificationType type_ = ALL;

  DISALLOW_COPY_AND_ASSIGN(ObserverList);
};

}  // namespace base

#endif  // BASE_OBSERVER_LIST_H_
