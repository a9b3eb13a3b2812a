#include "base/files/file_path.h"

#include <windows.h>

#include <stdint.h>

#include <algorithm>
#include <ostream>

#include "base/check.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"

namespace base {

using StringType = FilePath::StringType;
using CharType = FilePath::CharType;

namespace {

constexpr size_t npos = StringType::npos;

// Second parts of double extensions such as ".tar.gz", and whole double
// extensions, all lower case.
const CharType* const kCommonDoubleExtensionSuffixes[] = {L"gz", L"z", L"bz2",
                                                          L"bz"};
const CharType* const kCommonDoubleExtensions[] = {L"user.js"};

// Cuts |text| at its first NUL: a path never holds one, and the system
// functions that receive it would see a different path than we do.
StringType CutAtNul(StringPiece16 text) {
  StringType result = text.as_string();
  const size_t nul = result.find(L'\0');
  if (nul != npos)
    result.resize(nul);
  return result;
}

bool IsAsciiLetter(CharType c) {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// Index of the drive letter's colon, or npos. The rules below rely on
// npos + 1 == 0 and npos + 2 == 1.
size_t FindDriveLetter(const StringType& path) {
  if (path.length() >= 2 && path[1] == L':' && IsAsciiLetter(path[0]))
    return 1;
  return npos;
}

bool EqualsLowerLiteral(const StringType& text, const CharType* lower) {
  return ToLowerASCII(text) == lower;
}

bool EqualDriveLetterCaseInsensitive(const StringType& a, const StringType& b) {
  const size_t a_letter_pos = FindDriveLetter(a);
  const size_t b_letter_pos = FindDriveLetter(b);
  if (a_letter_pos == npos || b_letter_pos == npos)
    return a == b;
  if (ToLowerASCII(StringPiece16(a.data(), a_letter_pos + 1)) !=
      ToLowerASCII(StringPiece16(b.data(), b_letter_pos + 1))) {
    return false;
  }
  return a.compare(a_letter_pos + 1, npos, b, b_letter_pos + 1, npos) == 0;
}

bool IsPathAbsolute(const StringType& path) {
  const size_t letter = FindDriveLetter(path);
  if (letter != npos) {
    return path.length() > letter + 1 &&
           FilePath::IsSeparator(path[letter + 1]);
  }
  return path.length() > 1 && FilePath::IsSeparator(path[0]) &&
         FilePath::IsSeparator(path[1]);
}

bool AreAllSeparators(const StringType& input) {
  for (CharType c : input) {
    if (!FilePath::IsSeparator(c))
      return false;
  }
  return true;
}

size_t FindLastSeparator(const StringType& path, size_t pos = npos) {
  return path.find_last_of(FilePath::kSeparators, pos,
                           FilePath::kSeparatorsLength);
}

// Position of the last dot of |path|, or npos for "." and "..".
size_t FinalExtensionSeparatorPosition(const StringType& path) {
  if (path == FilePath::kCurrentDirectory || path == FilePath::kParentDirectory)
    return npos;
  return path.rfind(FilePath::kExtensionSeparator);
}

// Position where the extension of |path| begins, honouring the double
// extensions: ".tar.gz" is one extension, ".tarball.gz" is not.
size_t ExtensionSeparatorPosition(const StringType& path) {
  const size_t last_dot = FinalExtensionSeparatorPosition(path);
  // A name whose only dot is its first character is all extension.
  if (last_dot == npos || last_dot == 0)
    return last_dot;

  const size_t penultimate_dot =
      path.rfind(FilePath::kExtensionSeparator, last_dot - 1);
  const size_t last_separator = FindLastSeparator(path, last_dot - 1);
  if (penultimate_dot == npos ||
      (last_separator != npos && penultimate_dot < last_separator)) {
    return last_dot;
  }

  const StringType double_extension = path.substr(penultimate_dot + 1);
  for (const CharType* extension : kCommonDoubleExtensions) {
    if (EqualsLowerLiteral(double_extension, extension))
      return penultimate_dot;
  }

  const StringType extension = path.substr(last_dot + 1);
  for (const CharType* suffix : kCommonDoubleExtensionSuffixes) {
    if (EqualsLowerLiteral(extension, suffix)) {
      // Only a short middle part counts ("tar", "user"): "x..gz" and
      // "foo.tarball.gz" are single extensions.
      const size_t distance = last_dot - penultimate_dot;
      if (distance > 1 && distance <= 5)
        return penultimate_dot;
    }
  }
  return last_dot;
}

// Empty, "." and "..": names that cannot carry an extension.
bool IsEmptyOrSpecialCase(const StringType& path) {
  return path.empty() || path == FilePath::kCurrentDirectory ||
         path == FilePath::kParentDirectory;
}

// CharUpperW in its single-character form, looked up in the already loaded
// user32. This reference makes every module that compares paths import
// user32, so the lookup below can rely on it being loaded (shell32 loads it
// too on Windows, but nothing should hang on that).
using CharUpperFunction = LPWSTR(WINAPI*)(LPWSTR);
__attribute__((used)) const CharUpperFunction kUser32ImportAnchor =
    &::CharUpperW;

CharUpperFunction GetCharUpperFunction() {
  static const CharUpperFunction char_upper = [] {
    HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    CHECK(user32);
    auto function = reinterpret_cast<CharUpperFunction>(
        ::GetProcAddress(user32, "CharUpperW"));
    CHECK(function);
    return function;
  }();
  return char_upper;
}

inline wchar_t ToUpperUnit(CharUpperFunction char_upper, wchar_t c) {
  // A pointer whose high part is zero carries one character in its low
  // word, and the upper-case character comes back the same way.
  const uintptr_t unit = static_cast<uint16_t>(c);
  LPWSTR result = char_upper(reinterpret_cast<LPWSTR>(unit));
  return static_cast<wchar_t>(reinterpret_cast<uintptr_t>(result) & 0xFFFF);
}

}  // namespace

FilePath::FilePath() = default;

FilePath::FilePath(const FilePath& that) = default;

FilePath::FilePath(FilePath&& that) noexcept : path_(std::move(that.path_)) {
  that.path_.clear();
}

FilePath::FilePath(StringPiece16 path) : path_(CutAtNul(path)) {}

FilePath::~FilePath() = default;

FilePath& FilePath::operator=(const FilePath& that) {
  if (this != &that)
    path_ = that.path_;
  return *this;
}

FilePath& FilePath::operator=(FilePath&& that) noexcept {
  if (this != &that) {
    path_ = std::move(that.path_);
    that.path_.clear();
  }
  return *this;
}

bool FilePath::operator==(const FilePath& that) const {
  return EqualDriveLetterCaseInsensitive(path_, that.path_);
}

bool FilePath::operator!=(const FilePath& that) const {
  return !(*this == that);
}

// static
bool FilePath::IsSeparator(CharType character) {
  for (size_t i = 0; i < kSeparatorsLength; ++i) {
    if (character == kSeparators[i])
      return true;
  }
  return false;
}

FilePath FilePath::DirName() const {
  FilePath new_path(*this);
  new_path.StripTrailingSeparatorsInternal();
  StringType& path = new_path.path_;

  // Positions below are relative to the drive letter's colon; without a
  // drive letter, letter + 1 wraps to 0.
  const size_t letter = FindDriveLetter(path);
  const size_t last_separator = FindLastSeparator(path);
  if (last_separator == npos) {
    // "C:a" gives "C:", "a" gives "" (made "." below).
    path.resize(letter + 1);
  } else if (last_separator == letter + 1) {
    // In the root: keep the root separator.
    path.resize(letter + 2);
  } else if (last_separator == letter + 2 && IsSeparator(path[letter + 1])) {
    // In the alternate root: keep both of its separators.
    path.resize(letter + 3);
  } else if (last_separator != 0) {
    path.resize(last_separator);
  }

  new_path.StripTrailingSeparatorsInternal();
  if (path.empty())
    path = kCurrentDirectory;
  return new_path;
}

FilePath FilePath::BaseName() const {
  FilePath new_path(*this);
  new_path.StripTrailingSeparatorsInternal();
  StringType& path = new_path.path_;

  const size_t letter = FindDriveLetter(path);
  if (letter != npos)
    path.erase(0, letter + 1);

  // A path made only of separators keeps them.
  const size_t last_separator = FindLastSeparator(path);
  if (last_separator != npos && last_separator < path.length() - 1)
    path.erase(0, last_separator + 1);
  return new_path;
}

void FilePath::GetComponents(std::vector<StringType>* components) const {
  DCHECK(components);
  if (!components)
    return;
  components->clear();
  if (path_.empty())
    return;

  std::vector<StringType> leaf_to_root;
  FilePath current = *this;
  FilePath dir = current.DirName();
  while (current != dir) {
    FilePath base = current.BaseName();
    if (!AreAllSeparators(base.value()))
      leaf_to_root.push_back(base.value());
    current = std::move(dir);
    dir = current.DirName();
  }

  // The root separator or separators.
  FilePath base = current.BaseName();
  if (!base.empty() && base.value() != kCurrentDirectory)
    leaf_to_root.push_back(base.value());

  // The drive letter with its colon.
  const size_t letter = FindDriveLetter(dir.value());
  if (letter != npos)
    leaf_to_root.push_back(dir.value().substr(0, letter + 1));

  components->assign(leaf_to_root.rbegin(), leaf_to_root.rend());
}

bool FilePath::IsParent(const FilePath& child) const {
  return AppendRelativePath(child, nullptr);
}

bool FilePath::AppendRelativePath(const FilePath& child, FilePath* path) const {
  std::vector<StringType> parent_components;
  std::vector<StringType> child_components;
  GetComponents(&parent_components);
  child.GetComponents(&child_components);

  if (parent_components.empty() ||
      parent_components.size() >= child_components.size()) {
    return false;
  }

  auto parent_it = parent_components.begin();
  auto child_it = child_components.begin();
  // Drive letters are case-insensitive; everything after them is not.
  if (FindDriveLetter(*parent_it) != npos &&
      FindDriveLetter(*child_it) != npos) {
    if (ToLowerASCII(*parent_it) != ToLowerASCII(*child_it))
      return false;
    ++parent_it;
    ++child_it;
  }
  for (; parent_it != parent_components.end(); ++parent_it, ++child_it) {
    if (*parent_it != *child_it)
      return false;
  }

  if (path) {
    for (; child_it != child_components.end(); ++child_it)
      *path = path->Append(*child_it);
  }
  return true;
}

FilePath FilePath::Append(StringPiece16 component) const {
  // Copied first: |component| may point into |path_|.
  const StringType appended = CutAtNul(component);

  if (path_ == kCurrentDirectory && !appended.empty()) {
    // "." + "a" is "a", not ".\a".
    return FilePath(appended);
  }

  FilePath new_path(*this);
  new_path.StripTrailingSeparatorsInternal();
  StringType& path = new_path.path_;
  // No separator after one already there, nor after a bare drive letter
  // ("C:" + "a" is the relative "C:a").
  if (!appended.empty() && !path.empty() && !IsSeparator(path.back()) &&
      FindDriveLetter(path) + 1 != path.length()) {
    path.push_back(kSeparators[0]);
  }
  path.append(appended);
  return new_path;
}

FilePath FilePath::Append(const FilePath& component) const {
  return Append(StringPiece16(component.value()));
}

FilePath FilePath::AppendASCII(StringPiece component) const {
  DCHECK(IsStringASCII(component));
  return Append(ASCIIToUTF16(component));
}

FilePath FilePath::StripTrailingSeparators() const {
  FilePath new_path(*this);
  new_path.StripTrailingSeparatorsInternal();
  return new_path;
}

FilePath FilePath::NormalizePathSeparators() const {
  return NormalizePathSeparatorsTo(kSeparators[0]);
}

FilePath FilePath::NormalizePathSeparatorsTo(CharType separator) const {
  StringType copy = path_;
  for (CharType& c : copy) {
    if (IsSeparator(c))
      c = separator;
  }
  return FilePath(copy);
}

bool FilePath::IsAbsolute() const {
  return IsPathAbsolute(path_);
}

bool FilePath::ReferencesParent() const {
  // Most paths hold no "..": answer those without splitting (and so
  // without allocating).
  if (path_.find(kParentDirectory) == npos)
    return false;

  std::vector<StringType> components;
  GetComponents(&components);
  for (const StringType& component : components) {
    // The system treats a name of dots and trailing blanks as "..", so
    // "...", ". .." and ".. " all climb too.
    if (component.find_first_not_of(L". \n\r\t") == npos &&
        component.find(kParentDirectory) != npos) {
      return true;
    }
  }
  return false;
}

StringType FilePath::Extension() const {
  const FilePath base(BaseName());
  const size_t dot = ExtensionSeparatorPosition(base.path_);
  if (dot == npos)
    return StringType();
  return base.path_.substr(dot);
}

StringType FilePath::FinalExtension() const {
  const FilePath base(BaseName());
  const size_t dot = FinalExtensionSeparatorPosition(base.path_);
  if (dot == npos)
    return StringType();
  return base.path_.substr(dot);
}

FilePath FilePath::RemoveExtension() const {
  if (Extension().empty())
    return *this;
  const size_t dot = ExtensionSeparatorPosition(path_);
  if (dot == npos)
    return *this;
  return FilePath(StringPiece16(path_.data(), dot));
}

FilePath FilePath::InsertBeforeExtension(StringPiece16 suffix) const {
  if (suffix.empty())
    return *this;
  if (IsEmptyOrSpecialCase(BaseName().value()))
    return FilePath();

  StringType result = RemoveExtension().value();
  result.append(suffix.data(), suffix.size());
  result.append(Extension());
  return FilePath(result);
}

FilePath FilePath::AddExtension(StringPiece16 extension) const {
  if (IsEmptyOrSpecialCase(BaseName().value()))
    return FilePath();
  if (extension.empty() ||
      (extension.size() == 1 && extension[0] == kExtensionSeparator)) {
    return *this;
  }

  StringType result = path_;
  if (extension[0] != kExtensionSeparator &&
      (result.empty() || result.back() != kExtensionSeparator)) {
    result.push_back(kExtensionSeparator);
  }
  result.append(extension.data(), extension.size());
  return FilePath(result);
}

FilePath FilePath::ReplaceExtension(StringPiece16 extension) const {
  if (IsEmptyOrSpecialCase(BaseName().value()))
    return FilePath();

  FilePath no_extension = RemoveExtension();
  if (extension.empty() ||
      (extension.size() == 1 && extension[0] == kExtensionSeparator)) {
    return no_extension;
  }

  StringType result = no_extension.value();
  if (extension[0] != kExtensionSeparator)
    result.push_back(kExtensionSeparator);
  result.append(extension.data(), extension.size());
  return FilePath(result);
}

bool FilePath::MatchesExtension(StringPiece16 extension) const {
  const StringType current_extension = Extension();
  if (current_extension.length() != extension.size())
    return false;
  return CompareIgnoreCase(current_extension, extension) == 0;
}

std::string FilePath::AsUTF8Unsafe() const {
  return WideToUTF8(path_);
}

std::string FilePath::MaybeAsASCII() const {
  if (!IsStringASCII(path_))
    return std::string();
  return UTF16ToASCII(path_);
}

// static
FilePath FilePath::FromUTF8Unsafe(StringPiece utf8) {
  return FilePath(UTF8ToWide(utf8));
}

// static
FilePath FilePath::FromUTF16Unsafe(StringPiece16 utf16) {
  return FilePath(utf16);
}

// static
int FilePath::CompareIgnoreCase(StringPiece16 string1, StringPiece16 string2) {
  const CharUpperFunction char_upper = GetCharUpperFunction();
  const size_t common = std::min(string1.size(), string2.size());
  for (size_t i = 0; i < common; ++i) {
    const uint16_t c1 =
        static_cast<uint16_t>(ToUpperUnit(char_upper, string1[i]));
    const uint16_t c2 =
        static_cast<uint16_t>(ToUpperUnit(char_upper, string2[i]));
    if (c1 < c2)
      return -1;
    if (c1 > c2)
      return 1;
  }
  if (string1.size() < string2.size())
    return -1;
  if (string1.size() > string2.size())
    return 1;
  return 0;
}

void FilePath::StripTrailingSeparatorsInternal() {
  // One separator after the root must survive ("C:\", "\"), and so must the
  // two leading separators of the alternate root ("\\"); three or more
  // leading separators shrink to one.
  const size_t start = FindDriveLetter(path_) + 2;
  size_t last_stripped = npos;
  for (size_t pos = path_.length(); pos > start && IsSeparator(path_[pos - 1]);
       --pos) {
    if (pos != start + 1 || last_stripped == start + 2 ||
        !IsSeparator(path_[start - 1])) {
      path_.resize(pos - 1);
      last_stripped = pos;
    }
  }
}

std::ostream& operator<<(std::ostream& out, const FilePath& path) {
  return out << path.AsUTF8Unsafe();
}

}  // namespace base
