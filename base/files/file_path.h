#ifndef BASE_FILES_FILE_PATH_H_
#define BASE_FILES_FILE_PATH_H_

// FilePath carries every file and folder name of the system. It is a plain
// value around one wide string and only ever manipulates text: it never
// touches the file system, resolves links or makes a path absolute.
//
// Windows conventions apply: "\" and "/" both separate components (the
// backslash is the one written), a path may begin with a drive letter ("C:"),
// and two leading separators form the alternate root of network share names
// ("\\server\share").

#include <stddef.h>

#include <iosfwd>
#include <string>
#include <vector>

#include "base/strings/string_piece.h"

namespace base {

class FilePath {
 public:
  using StringType = std::wstring;
  using CharType = wchar_t;

  // Separators, the preferred one first; kSeparatorsLength of them, not
  // counting the terminating NUL.
  static constexpr CharType kSeparators[] = L"\\/";
  static constexpr size_t kSeparatorsLength =
      sizeof(kSeparators) / sizeof(kSeparators[0]) - 1;
  static constexpr CharType kCurrentDirectory[] = L".";
  static constexpr CharType kParentDirectory[] = L"..";
  static constexpr CharType kExtensionSeparator = L'.';

  FilePath();
  FilePath(const FilePath& that);
  FilePath(FilePath&& that) noexcept;
  // The text is cut at its first NUL, if any.
  explicit FilePath(StringPiece16 path);
  ~FilePath();

  FilePath& operator=(const FilePath& that);
  FilePath& operator=(FilePath&& that) noexcept;

  // Equal when the strings are equal, except that drive letters compare
  // without regard to ASCII case. Separators are not normalised.
  bool operator==(const FilePath& that) const;
  bool operator!=(const FilePath& that) const;
  // Byte-wise order of the strings, for ordered containers.
  bool operator<(const FilePath& that) const { return path_ < that.path_; }

  const StringType& value() const { return path_; }
  bool empty() const { return path_.empty(); }
  void clear() { path_.clear(); }

  static bool IsSeparator(CharType character);

  // The parent folder; "." when nothing is left.
  FilePath DirName() const;
  // The last component, without a drive letter.
  FilePath BaseName() const;
  // The components from the root to the leaf: "C:\a\b" gives "C:", "\",
  // "a", "b".
  void GetComponents(std::vector<StringType>* components) const;

  // True when this path is a proper ancestor of |child|; then the part of
  // |child| below this path is appended to |path| (when not null).
  bool AppendRelativePath(const FilePath& child, FilePath* path) const;
  bool IsParent(const FilePath& child) const;

  // Appends one component with at most one inserted separator. The
  // component is not checked for being relative.
  [[nodiscard]] FilePath Append(StringPiece16 component) const;
  [[nodiscard]] FilePath Append(const FilePath& component) const;
  // |component| must be ASCII.
  [[nodiscard]] FilePath AppendASCII(StringPiece component) const;

  [[nodiscard]] FilePath StripTrailingSeparators() const;
  [[nodiscard]] FilePath NormalizePathSeparators() const;
  [[nodiscard]] FilePath NormalizePathSeparatorsTo(CharType separator) const;

  bool IsAbsolute() const;
  // True when some component is made of dots and white space only and
  // holds "..".
  bool ReferencesParent() const;

  // The extension of the base name, dot included, honouring double
  // extensions such as ".tar.gz" and ".user.js"; empty when there is none.
  StringType Extension() const;
  // The text from the last dot of the base name.
  StringType FinalExtension() const;
  [[nodiscard]] FilePath RemoveExtension() const;
  // "foo.tar.gz" with " (1)" gives "foo (1).tar.gz".
  [[nodiscard]] FilePath InsertBeforeExtension(StringPiece16 suffix) const;
  [[nodiscard]] FilePath AddExtension(StringPiece16 extension) const;
  [[nodiscard]] FilePath ReplaceExtension(StringPiece16 extension) const;
  // |extension| includes its leading dot; compared without regard to case.
  bool MatchesExtension(StringPiece16 extension) const;

  // UTF-8 form of the path. "Unsafe" because a path is not necessarily
  // valid UTF-16; unpaired surrogates become U+FFFD.
  std::string AsUTF8Unsafe() const;
  // The path as 8-bit text when it is pure ASCII, else an empty string.
  std::string MaybeAsASCII() const;
  static FilePath FromUTF8Unsafe(StringPiece utf8);
  static FilePath FromUTF16Unsafe(StringPiece16 utf16);

  // Case-insensitive comparison through the system's single-character
  // upper-casing: -1, 0 or 1. No locale, no normalisation.
  static int CompareIgnoreCase(StringPiece16 string1, StringPiece16 string2);

 private:
  // Removes trailing separators, keeping a root separator and the two
  // separators of the alternate root.
  void StripTrailingSeparatorsInternal();

  StringType path_;
};

// Writes the path as UTF-8 (for test failure messages and logging).
std::ostream& operator<<(std::ostream& out, const FilePath& path);

}  // namespace base

#endif  // BASE_FILES_FILE_PATH_H_
