#ifndef BASE_STRINGS_STRING_PIECE_H_
#define BASE_STRINGS_STRING_PIECE_H_

// A StringPiece is a read-only view of text that some other object owns: a
// pointer and a length, two words passed by value. Functions take views so
// that callers can hand in a literal, a string or a slice of a buffer without
// copying. Unlike std::string_view nothing here ever throws or fails: every
// out-of-range position is clamped, and a search that finds nothing returns
// npos.
//
// The viewed text is not NUL-terminated by the view, may hold NULs, and must
// outlive the view.

#include <stddef.h>
#include <string.h>

#include <functional>
#include <iosfwd>
#include <iterator>
#include <string>
#include <string_view>
#include <type_traits>

#include "base/strings/string_piece_forward.h"

namespace base {

// Search helpers shared by the member functions below. They are out of line
// because the narrow set searches build a lookup table and none of them is
// worth inlining at every call site.
namespace internal {

size_t find(const StringPiece& self, const StringPiece& s, size_t pos);
size_t find(const StringPiece16& self, const StringPiece16& s, size_t pos);
size_t find(const StringPiece& self, char c, size_t pos);
size_t find(const StringPiece16& self, wchar_t c, size_t pos);

size_t rfind(const StringPiece& self, const StringPiece& s, size_t pos);
size_t rfind(const StringPiece16& self, const StringPiece16& s, size_t pos);
size_t rfind(const StringPiece& self, char c, size_t pos);
size_t rfind(const StringPiece16& self, wchar_t c, size_t pos);

size_t find_first_of(const StringPiece& self, const StringPiece& s, size_t pos);
size_t find_first_of(const StringPiece16& self,
                     const StringPiece16& s,
                     size_t pos);

size_t find_first_not_of(const StringPiece& self,
                         const StringPiece& s,
                         size_t pos);
size_t find_first_not_of(const StringPiece16& self,
                         const StringPiece16& s,
                         size_t pos);
size_t find_first_not_of(const StringPiece& self, char c, size_t pos);
size_t find_first_not_of(const StringPiece16& self, wchar_t c, size_t pos);

size_t find_last_of(const StringPiece& self, const StringPiece& s, size_t pos);
size_t find_last_of(const StringPiece16& self,
                    const StringPiece16& s,
                    size_t pos);

size_t find_last_not_of(const StringPiece& self,
                        const StringPiece& s,
                        size_t pos);
size_t find_last_not_of(const StringPiece16& self,
                        const StringPiece16& s,
                        size_t pos);
size_t find_last_not_of(const StringPiece& self, char c, size_t pos);
size_t find_last_not_of(const StringPiece16& self, wchar_t c, size_t pos);

void CopyToString(const StringPiece& self, std::string* target);
void CopyToString(const StringPiece16& self, std::wstring* target);
void AppendToString(const StringPiece& self, std::string* target);
void AppendToString(const StringPiece16& self, std::wstring* target);

}  // namespace internal

template <typename STRING_TYPE>
class BasicStringPiece {
 public:
  using value_type = typename STRING_TYPE::value_type;
  using traits_type = typename STRING_TYPE::traits_type;
  using size_type = size_t;
  using difference_type = ptrdiff_t;
  using pointer = const value_type*;
  using const_pointer = const value_type*;
  using reference = const value_type&;
  using const_reference = const value_type&;
  using const_iterator = const value_type*;
  using iterator = const value_type*;
  using const_reverse_iterator = std::reverse_iterator<const_iterator>;
  using reverse_iterator = const_reverse_iterator;

  static constexpr size_type npos = static_cast<size_type>(-1);

  constexpr BasicStringPiece() : ptr_(nullptr), length_(0) {}
  // Implicit on purpose: a literal, a C string or a string is passed wherever
  // a view is taken. A null pointer gives an empty view.
  BasicStringPiece(const value_type* str)  // NOLINT(runtime/explicit)
      : ptr_(str), length_(str ? traits_type::length(str) : 0) {}
  BasicStringPiece(const STRING_TYPE& str)  // NOLINT(runtime/explicit)
      : ptr_(str.data()), length_(str.size()) {}
  constexpr BasicStringPiece(const value_type* offset, size_type len)
      : ptr_(offset), length_(len) {}
  // A slice of a string between two of its iterators.
  BasicStringPiece(const typename STRING_TYPE::const_iterator& begin,
                   const typename STRING_TYPE::const_iterator& end)
      : ptr_(end > begin ? &*begin : nullptr),
        length_(end > begin ? static_cast<size_type>(end - begin) : 0) {}

  // data() may be null, and the text is not NUL-terminated.
  constexpr const value_type* data() const { return ptr_; }
  constexpr size_type size() const { return length_; }
  constexpr size_type length() const { return length_; }
  constexpr bool empty() const { return length_ == 0; }

  void clear() {
    ptr_ = nullptr;
    length_ = 0;
  }
  void set(const value_type* data, size_type len) {
    ptr_ = data;
    length_ = len;
  }
  void set(const value_type* str) {
    ptr_ = str;
    length_ = str ? traits_type::length(str) : 0;
  }

  constexpr value_type operator[](size_type i) const { return ptr_[i]; }
  value_type front() const { return ptr_[0]; }
  value_type back() const { return ptr_[length_ - 1]; }

  // Both clamp to the view instead of failing.
  void remove_prefix(size_type n) {
    if (n > length_)
      n = length_;
    ptr_ += n;
    length_ -= n;
  }
  void remove_suffix(size_type n) {
    if (n > length_)
      n = length_;
    length_ -= n;
  }

  int compare(const BasicStringPiece& x) const {
    const size_type min_len = length_ < x.length_ ? length_ : x.length_;
    int r = min_len ? traits_type::compare(ptr_, x.ptr_, min_len) : 0;
    if (r == 0) {
      if (length_ < x.length_)
        r = -1;
      else if (length_ > x.length_)
        r = +1;
    }
    return r;
  }

  STRING_TYPE as_string() const {
    // An empty view may have a null pointer, which the string constructor
    // must not see.
    return empty() ? STRING_TYPE() : STRING_TYPE(data(), size());
  }
  // Non-throwing view of the standard library's kind, for code that needs one.
  std::basic_string_view<value_type> as_string_view() const {
    return std::basic_string_view<value_type>(ptr_, length_);
  }

  // The target becomes the view's text (cleared for an empty view).
  void CopyToString(STRING_TYPE* target) const {
    internal::CopyToString(*this, target);
  }
  // Appends the view's text; nothing happens for an empty view.
  void AppendToString(STRING_TYPE* target) const {
    internal::AppendToString(*this, target);
  }

  // Copies at most n units starting at pos into buf; returns the count.
  size_type copy(value_type* buf, size_type n, size_type pos = 0) const {
    if (pos >= length_)
      return 0;
    size_type ret = length_ - pos < n ? length_ - pos : n;
    if (ret)
      traits_type::copy(buf, ptr_ + pos, ret);
    return ret;
  }

  bool starts_with(const BasicStringPiece& x) const {
    return length_ >= x.length_ &&
           (x.length_ == 0 ||
            traits_type::compare(ptr_, x.ptr_, x.length_) == 0);
  }
  bool ends_with(const BasicStringPiece& x) const {
    return length_ >= x.length_ &&
           (x.length_ == 0 || traits_type::compare(ptr_ + (length_ - x.length_),
                                                   x.ptr_, x.length_) == 0);
  }

  constexpr const_iterator begin() const { return ptr_; }
  constexpr const_iterator end() const { return ptr_ + length_; }
  constexpr const_iterator cbegin() const { return ptr_; }
  constexpr const_iterator cend() const { return ptr_ + length_; }
  const_reverse_iterator rbegin() const {
    return const_reverse_iterator(ptr_ + length_);
  }
  const_reverse_iterator rend() const { return const_reverse_iterator(ptr_); }

  size_type max_size() const { return length_; }
  size_type capacity() const { return length_; }

  // Searches. Every result is a position inside the view or npos.
  size_type find(const BasicStringPiece& s, size_type pos = 0) const {
    return internal::find(*this, s, pos);
  }
  size_type find(value_type c, size_type pos = 0) const {
    return internal::find(*this, c, pos);
  }
  size_type rfind(const BasicStringPiece& s, size_type pos = npos) const {
    return internal::rfind(*this, s, pos);
  }
  size_type rfind(value_type c, size_type pos = npos) const {
    return internal::rfind(*this, c, pos);
  }
  size_type find_first_of(const BasicStringPiece& s, size_type pos = 0) const {
    return internal::find_first_of(*this, s, pos);
  }
  size_type find_first_of(value_type c, size_type pos = 0) const {
    return find(c, pos);
  }
  size_type find_first_not_of(const BasicStringPiece& s,
                              size_type pos = 0) const {
    return internal::find_first_not_of(*this, s, pos);
  }
  size_type find_first_not_of(value_type c, size_type pos = 0) const {
    return internal::find_first_not_of(*this, c, pos);
  }
  size_type find_last_of(const BasicStringPiece& s,
                         size_type pos = npos) const {
    return internal::find_last_of(*this, s, pos);
  }
  size_type find_last_of(value_type c, size_type pos = npos) const {
    return rfind(c, pos);
  }
  size_type find_last_not_of(const BasicStringPiece& s,
                             size_type pos = npos) const {
    return internal::find_last_not_of(*this, s, pos);
  }
  size_type find_last_not_of(value_type c, size_type pos = npos) const {
    return internal::find_last_not_of(*this, c, pos);
  }

  // A view starting at min(pos, size()) of at most n units; never fails.
  BasicStringPiece substr(size_type pos, size_type n = npos) const {
    if (pos > length_)
      pos = length_;
    if (n > length_ - pos)
      n = length_ - pos;
    return BasicStringPiece(ptr_ + pos, n);
  }

 private:
  const value_type* ptr_;
  size_type length_;
};

// Comparison operators. They are plain functions on the two concrete view
// types (not templates), so that a std::string, a wide string or a literal
// converts implicitly on either side. That also makes std::less<> a
// transparent comparator for maps keyed by std::string:
//   std::map<std::string, V, std::less<>> m;  m.find(StringPiece(...));

inline bool operator==(const StringPiece& x, const StringPiece& y) {
  if (x.size() != y.size())
    return false;
  return x.size() == 0 ||
         StringPiece::traits_type::compare(x.data(), y.data(), x.size()) == 0;
}
inline bool operator!=(const StringPiece& x, const StringPiece& y) {
  return !(x == y);
}
inline bool operator<(const StringPiece& x, const StringPiece& y) {
  return x.compare(y) < 0;
}
inline bool operator>(const StringPiece& x, const StringPiece& y) {
  return y < x;
}
inline bool operator<=(const StringPiece& x, const StringPiece& y) {
  return !(x > y);
}
inline bool operator>=(const StringPiece& x, const StringPiece& y) {
  return !(x < y);
}

inline bool operator==(const StringPiece16& x, const StringPiece16& y) {
  if (x.size() != y.size())
    return false;
  return x.size() == 0 ||
         StringPiece16::traits_type::compare(x.data(), y.data(), x.size()) == 0;
}
inline bool operator!=(const StringPiece16& x, const StringPiece16& y) {
  return !(x == y);
}
inline bool operator<(const StringPiece16& x, const StringPiece16& y) {
  return x.compare(y) < 0;
}
inline bool operator>(const StringPiece16& x, const StringPiece16& y) {
  return y < x;
}
inline bool operator<=(const StringPiece16& x, const StringPiece16& y) {
  return !(x > y);
}
inline bool operator>=(const StringPiece16& x, const StringPiece16& y) {
  return !(x < y);
}

// Writes exactly the view's bytes (NULs included) as one unformatted write.
std::ostream& operator<<(std::ostream& o, const StringPiece& piece);
// Writes the view converted to UTF-8.
std::ostream& operator<<(std::ostream& o, const StringPiece16& piece);

// Hash functors, for unordered containers keyed by views, and usable with
// strings as keys through the implicit conversion.
struct StringPieceHash {
  size_t operator()(const StringPiece& sp) const {
    return std::hash<std::string_view>()(sp.as_string_view());
  }
};
struct StringPiece16Hash {
  size_t operator()(const StringPiece16& sp) const {
    return std::hash<std::wstring_view>()(sp.as_string_view());
  }
};

// A transparent less-than for ordered containers keyed by strings, for code
// that prefers a named comparator over std::less<>.
struct StringPieceLess {
  using is_transparent = void;
  bool operator()(const StringPiece& a, const StringPiece& b) const {
    return a < b;
  }
};

}  // namespace base

#endif  // BASE_STRINGS_STRING_PIECE_H_
