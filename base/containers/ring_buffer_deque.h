#ifndef BASE_CONTAINERS_RING_BUFFER_DEQUE_H_
#define BASE_CONTAINERS_RING_BUFFER_DEQUE_H_

#include <stddef.h>

#include <algorithm>
#include <new>
#include <utility>

#include "base/check.h"
#include "base/macros.h"

namespace base {

// A double-ended queue in one ring buffer. One slot always stays unused so
// that a full buffer can be told from an empty one; the usable capacity is
// the buffer size minus one and, once a buffer exists, at least 3. It grows
// by a quarter when full and shrinks when a removal from the front leaves it
// at least half empty, so a queue that drains gives its memory back.
template <typename T>
class RingBufferDeque {
 public:
  static constexpr size_t kMinCapacity = 3;

  RingBufferDeque() = default;
  RingBufferDeque(RingBufferDeque&& other) noexcept { swap(other); }
  RingBufferDeque& operator=(RingBufferDeque&& other) noexcept {
    RingBufferDeque(std::move(other)).swap(*this);
    return *this;
  }
  ~RingBufferDeque() { DestroyAll(); }

  size_t size() const {
    return end_ >= begin_ ? end_ - begin_ : buffer_size_ - begin_ + end_;
  }
  bool empty() const { return begin_ == end_; }
  size_t capacity() const { return buffer_size_ ? buffer_size_ - 1 : 0; }

  T& front() {
    DCHECK(!empty());
    return buffer_[begin_];
  }
  const T& front() const {
    DCHECK(!empty());
    return buffer_[begin_];
  }
  T& back() {
    DCHECK(!empty());
    return buffer_[(end_ + buffer_size_ - 1) % buffer_size_];
  }
  T& operator[](size_t i) {
    DCHECK_LT(i, size());
    return buffer_[(begin_ + i) % buffer_size_];
  }

  void push_back(T value) {
    GrowFor(size() + 1);
    new (&buffer_[end_]) T(std::move(value));
    end_ = (end_ + 1) % buffer_size_;
  }

  void pop_front() {
    DCHECK(!empty());
    buffer_[begin_].~T();
    begin_ = (begin_ + 1) % buffer_size_;
    ShrinkIfSparse();
  }

  // Destroys every element and frees the buffer.
  void clear() { DestroyAll(); }

  void swap(RingBufferDeque& other) noexcept {
    std::swap(buffer_, other.buffer_);
    std::swap(buffer_size_, other.buffer_size_);
    std::swap(begin_, other.begin_);
    std::swap(end_, other.end_);
  }

 private:
  void GrowFor(size_t needed) {
    size_t cap = capacity();
    if (needed <= cap)
      return;
    Reallocate(std::max(std::max(needed, kMinCapacity), cap + cap / 4));
  }

  void ShrinkIfSparse() {
    size_t cap = capacity();
    size_t sz = size();
    if (cap <= kMinCapacity || cap - sz < sz)
      return;
    size_t new_cap = std::max(kMinCapacity, sz + sz / 4);
    if (new_cap < cap)
      Reallocate(new_cap);
  }

  void Reallocate(size_t new_capacity) {
    size_t count = size();
    DCHECK_GE(new_capacity, count);
    T* new_buffer =
        static_cast<T*>(::operator new(sizeof(T) * (new_capacity + 1)));
    for (size_t i = 0; i < count; ++i) {
      T& src = buffer_[(begin_ + i) % buffer_size_];
      new (&new_buffer[i]) T(std::move(src));
      src.~T();
    }
    ::operator delete(buffer_);
    buffer_ = new_buffer;
    buffer_size_ = new_capacity + 1;
    begin_ = 0;
    end_ = count;
  }

  void DestroyAll() {
    while (!empty()) {
      buffer_[begin_].~T();
      begin_ = (begin_ + 1) % buffer_size_;
    }
    ::operator delete(buffer_);
    buffer_ = nullptr;
    buffer_size_ = 0;
    begin_ = end_ = 0;
  }

  T* buffer_ = nullptr;
  size_t buffer_size_ = 0;
  size_t begin_ = 0;
  size_t end_ = 0;

  DISALLOW_COPY_AND_ASSIGN(RingBufferDeque);
};

}  // namespace base

#endif  // BASE_CONTAINERS_RING_BUFFER_DEQUE_H_
