#include "base/strings/string_piece.h"

#include <algorithm>
#include <ostream>

namespace base {

std::ostream& operator<<(std::ostream& o, const StringPiece& piece) {
  o.write(piece.data(), static_cast<std::streamsize>(piece.size()));
  return o;
}

namespace internal {

namespace {

constexpr size_t npos = StringPiece::npos;

// A table of 256 booleans, one per byte value, marking the bytes of |set|.
// It lives on the caller's stack; building it is one pass over the set.
void BuildLookupTable(const StringPiece& set, bool* table) {
  const size_t length = set.size();
  const char* data = set.data();
  for (size_t i = 0; i < length; ++i)
    table[static_cast<unsigned char>(data[i])] = true;
}

template <typename STR>
void CopyToStringT(const BasicStringPiece<STR>& self, STR* target) {
  if (self.empty())
    target->clear();
  else
    target->assign(self.data(), self.size());
}

template <typename STR>
void AppendToStringT(const BasicStringPiece<STR>& self, STR* target) {
  if (!self.empty())
    target->append(self.data(), self.size());
}

template <typename STR>
size_t FindSubstringT(const BasicStringPiece<STR>& self,
                      const BasicStringPiece<STR>& s,
                      size_t pos) {
  if (pos > self.size())
    return npos;
  auto result = std::search(self.begin() + pos, self.end(), s.begin(), s.end());
  const size_t xpos = static_cast<size_t>(result - self.begin());
  return xpos + s.size() <= self.size() ? xpos : npos;
}

template <typename STR>
size_t RFindSubstringT(const BasicStringPiece<STR>& self,
                       const BasicStringPiece<STR>& s,
                       size_t pos) {
  if (self.size() < s.size())
    return npos;
  if (s.empty())
    return std::min(self.size(), pos);
  auto last = self.begin() + std::min(self.size() - s.size(), pos) + s.size();
  auto result = std::find_end(self.begin(), last, s.begin(), s.end());
  return result != last ? static_cast<size_t>(result - self.begin()) : npos;
}

template <typename STR>
size_t FindCharT(const BasicStringPiece<STR>& self,
                 typename STR::value_type c,
                 size_t pos) {
  if (pos >= self.size())
    return npos;
  for (size_t i = pos; i < self.size(); ++i) {
    if (self[i] == c)
      return i;
  }
  return npos;
}

template <typename STR>
size_t RFindCharT(const BasicStringPiece<STR>& self,
                  typename STR::value_type c,
                  size_t pos) {
  if (self.empty())
    return npos;
  for (size_t i = std::min(pos, self.size() - 1);; --i) {
    if (self[i] == c)
      return i;
    if (i == 0)
      break;
  }
  return npos;
}

template <typename STR>
size_t FindFirstNotOfCharT(const BasicStringPiece<STR>& self,
                           typename STR::value_type c,
                           size_t pos) {
  if (self.empty())
    return npos;
  for (; pos < self.size(); ++pos) {
    if (self[pos] != c)
      return pos;
  }
  return npos;
}

template <typename STR>
size_t FindLastNotOfCharT(const BasicStringPiece<STR>& self,
                          typename STR::value_type c,
                          size_t pos) {
  if (self.empty())
    return npos;
  for (size_t i = std::min(pos, self.size() - 1);; --i) {
    if (self[i] != c)
      return i;
    if (i == 0)
      break;
  }
  return npos;
}

// Wide sets are compared unit by unit: a table over 65536 values would cost
// more than the short sets callers pass.
bool InWideSet(const StringPiece16& set, wchar_t c) {
  for (size_t j = 0; j < set.size(); ++j) {
    if (set[j] == c)
      return true;
  }
  return false;
}

}  // namespace

void CopyToString(const StringPiece& self, std::string* target) {
  CopyToStringT(self, target);
}
void CopyToString(const StringPiece16& self, std::wstring* target) {
  CopyToStringT(self, target);
}
void AppendToString(const StringPiece& self, std::string* target) {
  AppendToStringT(self, target);
}
void AppendToString(const StringPiece16& self, std::wstring* target) {
  AppendToStringT(self, target);
}

size_t find(const StringPiece& self, const StringPiece& s, size_t pos) {
  return FindSubstringT(self, s, pos);
}
size_t find(const StringPiece16& self, const StringPiece16& s, size_t pos) {
  return FindSubstringT(self, s, pos);
}

size_t find(const StringPiece& self, char c, size_t pos) {
  if (pos >= self.size())
    return npos;
  const void* result = memchr(self.data() + pos, c, self.size() - pos);
  return result ? static_cast<size_t>(static_cast<const char*>(result) -
                                      self.data())
                : npos;
}
size_t find(const StringPiece16& self, wchar_t c, size_t pos) {
  return FindCharT(self, c, pos);
}

size_t rfind(const StringPiece& self, const StringPiece& s, size_t pos) {
  return RFindSubstringT(self, s, pos);
}
size_t rfind(const StringPiece16& self, const StringPiece16& s, size_t pos) {
  return RFindSubstringT(self, s, pos);
}
size_t rfind(const StringPiece& self, char c, size_t pos) {
  return RFindCharT(self, c, pos);
}
size_t rfind(const StringPiece16& self, wchar_t c, size_t pos) {
  return RFindCharT(self, c, pos);
}

size_t find_first_of(const StringPiece& self,
                     const StringPiece& s,
                     size_t pos) {
  if (self.empty() || s.empty())
    return npos;
  if (s.size() == 1)
    return find(self, s[0], pos);
  bool lookup[256] = {false};
  BuildLookupTable(s, lookup);
  for (size_t i = pos; i < self.size(); ++i) {
    if (lookup[static_cast<unsigned char>(self[i])])
      return i;
  }
  return npos;
}

size_t find_first_of(const StringPiece16& self,
                     const StringPiece16& s,
                     size_t pos) {
  if (self.empty() || s.empty() || pos >= self.size())
    return npos;
  for (size_t i = pos; i < self.size(); ++i) {
    if (InWideSet(s, self[i]))
      return i;
  }
  return npos;
}

size_t find_first_not_of(const StringPiece& self,
                         const StringPiece& s,
                         size_t pos) {
  if (self.empty() || pos >= self.size())
    return npos;
  // Nothing is in an empty set, so the first position asked is the answer.
  if (s.empty())
    return pos;
  if (s.size() == 1)
    return find_first_not_of(self, s[0], pos);
  bool lookup[256] = {false};
  BuildLookupTable(s, lookup);
  for (size_t i = pos; i < self.size(); ++i) {
    if (!lookup[static_cast<unsigned char>(self[i])])
      return i;
  }
  return npos;
}

size_t find_first_not_of(const StringPiece16& self,
                         const StringPiece16& s,
                         size_t pos) {
  if (self.empty() || pos >= self.size())
    return npos;
  for (size_t i = pos; i < self.size(); ++i) {
    if (!InWideSet(s, self[i]))
      return i;
  }
  return npos;
}

size_t find_first_not_of(const StringPiece& self, char c, size_t pos) {
  return FindFirstNotOfCharT(self, c, pos);
}
size_t find_first_not_of(const StringPiece16& self, wchar_t c, size_t pos) {
  return FindFirstNotOfCharT(self, c, pos);
}

size_t find_last_of(const StringPiece& self, const StringPiece& s, size_t pos) {
  if (self.empty() || s.empty())
    return npos;
  if (s.size() == 1)
    return rfind(self, s[0], pos);
  bool lookup[256] = {false};
  BuildLookupTable(s, lookup);
  for (size_t i = std::min(pos, self.size() - 1);; --i) {
    if (lookup[static_cast<unsigned char>(self[i])])
      return i;
    if (i == 0)
      break;
  }
  return npos;
}

size_t find_last_of(const StringPiece16& self,
                    const StringPiece16& s,
                    size_t pos) {
  if (self.empty() || s.empty())
    return npos;
  for (size_t i = std::min(pos, self.size() - 1);; --i) {
    if (InWideSet(s, self[i]))
      return i;
    if (i == 0)
      break;
  }
  return npos;
}

size_t find_last_not_of(const StringPiece& self,
                        const StringPiece& s,
                        size_t pos) {
  if (self.empty())
    return npos;
  size_t i = std::min(pos, self.size() - 1);
  if (s.empty())
    return i;
  if (s.size() == 1)
    return find_last_not_of(self, s[0], pos);
  bool lookup[256] = {false};
  BuildLookupTable(s, lookup);
  for (;; --i) {
    if (!lookup[static_cast<unsigned char>(self[i])])
      return i;
    if (i == 0)
      break;
  }
  return npos;
}

size_t find_last_not_of(const StringPiece16& self,
                        const StringPiece16& s,
                        size_t pos) {
  if (self.empty())
    return npos;
  for (size_t i = std::min(pos, self.size() - 1);; --i) {
    if (!InWideSet(s, self[i]))
      return i;
    if (i == 0)
      break;
  }
  return npos;
}

size_t find_last_not_of(const StringPiece& self, char c, size_t pos) {
  return FindLastNotOfCharT(self, c, pos);
}
size_t find_last_not_of(const StringPiece16& self, wchar_t c, size_t pos) {
  return FindLastNotOfCharT(self, c, pos);
}

}  // namespace internal
}  // namespace base
