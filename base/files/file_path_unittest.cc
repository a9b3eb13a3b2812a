#include "base/files/file_path.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

using StringType = FilePath::StringType;

struct UnaryCase {
  const wchar_t* input;
  const wchar_t* expected;
};

struct BinaryCase {
  const wchar_t* path;
  const wchar_t* argument;
  const wchar_t* expected;
};

TEST(FilePathTest, DirName) {
  const UnaryCase cases[] = {
      {L"C:\\a\\b", L"C:\\a"},
      {L"C:\\a", L"C:\\"},
      {L"C:\\", L"C:\\"},
      {L"C:", L"C:"},
      {L"C:a", L"C:"},
      {L"c:a\\b", L"c:a"},
      {L"a", L"."},
      {L"", L"."},
      {L".", L"."},
      {L"..", L"."},
      {L"\\\\server\\share", L"\\\\server"},
      {L"\\\\server", L"\\\\"},
      {L"\\\\", L"\\\\"},
      {L"\\\\\\", L"\\"},
      {L"\\a", L"\\"},
      {L"a\\b\\\\\\", L"a"},
      {L"/a/b", L"/a"},
      {L"C:/a", L"C:/"},
      {L"C:\\\\server", L"C:\\\\"},
      {L"1:\\a", L"1:"},  // Not a drive letter: "1:" is a component.
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, FilePath(c.input).DirName().value())
        << "input: " << FilePath(c.input);
  }
}

TEST(FilePathTest, BaseName) {
  const UnaryCase cases[] = {
      {L"C:\\a\\b\\", L"b"},
      {L"C:\\a\\b", L"b"},
      {L"C:\\", L"\\"},
      {L"C:", L""},
      {L"C:a", L"a"},
      {L"\\\\", L"\\\\"},
      {L"\\\\server", L"server"},
      {L"a", L"a"},
      {L"", L""},
      {L"a/b//", L"b"},
      {L"..", L".."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, FilePath(c.input).BaseName().value())
        << "input: " << FilePath(c.input);
  }
}

TEST(FilePathTest, GetComponents) {
  struct {
    const wchar_t* input;
    std::vector<StringType> expected;
  } cases[] = {
      {L"C:\\a\\b", {L"C:", L"\\", L"a", L"b"}},
      {L"\\\\server\\share\\x", {L"\\\\", L"server", L"share", L"x"}},
      {L"a\\b", {L"a", L"b"}},
      {L"C:", {L"C:"}},
      {L"C:a", {L"C:", L"a"}},
      {L"\\a\\\\b\\", {L"\\", L"a", L"b"}},
      {L"", {}},
  };
  for (const auto& c : cases) {
    std::vector<StringType> components = {L"stale"};
    FilePath(c.input).GetComponents(&components);
    EXPECT_EQ(c.expected, components) << "input: " << FilePath(c.input);
  }
}

TEST(FilePathTest, IsParentAndAppendRelativePath) {
  const FilePath parent(L"C:\\a");
  EXPECT_TRUE(parent.IsParent(FilePath(L"c:\\a\\b")));
  EXPECT_TRUE(FilePath(L"C:\\a\\").IsParent(FilePath(L"C:\\a\\b")));
  EXPECT_FALSE(parent.IsParent(FilePath(L"C:\\A\\b")));
  EXPECT_FALSE(parent.IsParent(FilePath(L"C:\\a")));
  EXPECT_FALSE(parent.IsParent(FilePath(L"C:\\ab")));
  EXPECT_FALSE(parent.IsParent(FilePath(L"D:\\a\\b")));
  EXPECT_FALSE(FilePath().IsParent(FilePath(L"a")));
  EXPECT_TRUE(FilePath(L"\\\\server").IsParent(FilePath(L"\\\\server\\s")));
  EXPECT_FALSE(FilePath(L"\\server").IsParent(FilePath(L"\\\\server\\s")));

  FilePath out(L"X:\\base");
  EXPECT_TRUE(parent.AppendRelativePath(FilePath(L"c:\\a\\b\\c"), &out));
  EXPECT_EQ(L"X:\\base\\b\\c", out.value());
  FilePath untouched(L"keep");
  EXPECT_FALSE(parent.AppendRelativePath(FilePath(L"C:\\x\\y"), &untouched));
  EXPECT_EQ(L"keep", untouched.value());
}

TEST(FilePathTest, Append) {
  const BinaryCase cases[] = {
      {L"C:", L"a", L"C:a"},
      {L"C:\\", L"a", L"C:\\a"},
      {L"a\\\\", L"a", L"a\\a"},
      {L".", L"a", L"a"},
      {L"", L"a", L"a"},
      {L"a\\", L"", L"a"},
      {L"a", L"b\\c", L"a\\b\\c"},
      {L"a/", L"b", L"a\\b"},  // Written separator is the backslash.
      {L"\\\\", L"server", L"\\\\server"},
      {L".", L"", L"."},
      // Not checked for being relative: concatenated like any component.
      {L"a", L"C:\\b", L"a\\C:\\b"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, FilePath(c.path).Append(c.argument).value())
        << c.path << " + " << c.argument;
    EXPECT_EQ(c.expected,
              FilePath(c.path).Append(FilePath(c.argument)).value());
  }
  const StringType with_nul(L"b\0c", 3);
  EXPECT_EQ(L"a\\b", FilePath(L"a").Append(with_nul).value());
  EXPECT_EQ(L"a\\b.txt", FilePath(L"a").AppendASCII("b.txt").value());

  // The component may be the path's own text.
  const FilePath self(L"x");
  EXPECT_EQ(L"x\\x", self.Append(StringPiece16(self.value())).value());
}

TEST(FilePathTest, Extensions) {
  struct {
    const wchar_t* path;
    const wchar_t* extension;
    const wchar_t* final_extension;
  } cases[] = {
      {L"foo.tar.gz", L".tar.gz", L".gz"},
      {L"foo.TAR.GZ", L".TAR.GZ", L".GZ"},
      {L"foo.tarball.gz", L".gz", L".gz"},
      {L"foo.data.gz", L".data.gz", L".gz"},  // the longest middle part
      {L"foo.datum.gz", L".gz", L".gz"},
      {L"foo.tar.bz2", L".tar.bz2", L".bz2"},
      {L"foo.a.z", L".a.z", L".z"},
      {L"x..gz", L".gz", L".gz"},
      {L"prefs.user.js", L".user.js", L".js"},
      {L"prefs.USER.JS", L".USER.JS", L".JS"},
      {L"foo.tar.txt", L".txt", L".txt"},
      {L".profile", L".profile", L".profile"},
      {L"a.b\\c", L"", L""},
      {L"a.b\\c.gz", L".gz", L".gz"},
      {L"C:\\x\\foo.tar.gz", L".tar.gz", L".gz"},
      {L".", L"", L""},
      {L"..", L"", L""},
      {L"a\\..", L"", L""},
      {L"foo.", L".", L"."},
      {L"", L"", L""},
  };
  for (const auto& c : cases) {
    const FilePath path(c.path);
    EXPECT_EQ(c.extension, path.Extension()) << path;
    EXPECT_EQ(c.final_extension, path.FinalExtension()) << path;
  }
}

TEST(FilePathTest, RemoveInsertAddReplaceExtension) {
  EXPECT_EQ(L"foo", FilePath(L"foo.tar.gz").RemoveExtension().value());
  EXPECT_EQ(L"C:\\d.x\\foo",
            FilePath(L"C:\\d.x\\foo.txt").RemoveExtension().value());
  EXPECT_EQ(L"a.b\\c", FilePath(L"a.b\\c").RemoveExtension().value());

  EXPECT_EQ(L"foo.html",
            FilePath(L"foo.txt").ReplaceExtension(L"html").value());
  EXPECT_EQ(L"foo.html",
            FilePath(L"foo.txt").ReplaceExtension(L".html").value());
  EXPECT_EQ(L"foo", FilePath(L"foo.txt").ReplaceExtension(L".").value());
  EXPECT_EQ(L"foo", FilePath(L"foo.txt").ReplaceExtension(L"").value());

  EXPECT_EQ(L"foo.txt", FilePath(L"foo.").AddExtension(L"txt").value());
  EXPECT_EQ(L"foo.txt", FilePath(L"foo").AddExtension(L".txt").value());
  EXPECT_EQ(L"foo.a.b", FilePath(L"foo.a").AddExtension(L"b").value());
  EXPECT_EQ(L"foo", FilePath(L"foo").AddExtension(L".").value());
  EXPECT_EQ(L"C:\\.txt", FilePath(L"C:\\").AddExtension(L"txt").value());

  EXPECT_EQ(L"foo (1).tar.gz",
            FilePath(L"foo.tar.gz").InsertBeforeExtension(L" (1)").value());
  EXPECT_EQ(L"foo_x", FilePath(L"foo").InsertBeforeExtension(L"_x").value());
  EXPECT_EQ(L"C:", FilePath(L"C:").InsertBeforeExtension(L"").value());

  // Names that cannot carry an extension give an empty path.
  for (const wchar_t* special : {L"C:", L"a\\..", L".", L""}) {
    const FilePath path(special);
    EXPECT_TRUE(path.AddExtension(L"txt").empty()) << path;
    EXPECT_TRUE(path.ReplaceExtension(L"txt").empty()) << path;
    EXPECT_TRUE(path.InsertBeforeExtension(L"x").empty()) << path;
  }
}

TEST(FilePathTest, MatchesExtension) {
  EXPECT_TRUE(FilePath(L"a.TXT").MatchesExtension(L".txt"));
  EXPECT_TRUE(FilePath(L"a.tar.gz").MatchesExtension(L".TAR.gz"));
  EXPECT_FALSE(FilePath(L"a.tar.gz").MatchesExtension(L".gz"));
  EXPECT_FALSE(FilePath(L"a.txt").MatchesExtension(L"txt"));
  EXPECT_TRUE(FilePath(L"a").MatchesExtension(L""));
}

TEST(FilePathTest, Equality) {
  EXPECT_EQ(FilePath(L"C:\\a"), FilePath(L"c:\\a"));
  EXPECT_NE(FilePath(L"C:\\a"), FilePath(L"C:\\A"));
  EXPECT_NE(FilePath(L"C:\\a"), FilePath(L"C:/a"));
  EXPECT_NE(FilePath(L"C:\\a"), FilePath(L"c:\\a\\"));
  EXPECT_NE(FilePath(L"a"), FilePath(L"A"));
  // Only a real drive letter is case-insensitive.
  EXPECT_NE(FilePath(L"\\\\x"), FilePath(L"\\\\X"));
}

TEST(FilePathTest, CompareIgnoreCase) {
  EXPECT_EQ(-1, FilePath::CompareIgnoreCase(L"abc", L"ABD"));
  EXPECT_EQ(1, FilePath::CompareIgnoreCase(L"ABD", L"abc"));
  EXPECT_EQ(0, FilePath::CompareIgnoreCase(L"ab", L"AB"));
  EXPECT_EQ(-1, FilePath::CompareIgnoreCase(L"ab", L"abc"));
  EXPECT_EQ(1, FilePath::CompareIgnoreCase(L"abc", L"AB"));
  EXPECT_EQ(0, FilePath::CompareIgnoreCase(L"", L""));
  // Beyond ASCII, through the system's upper-casing: a-umlaut, e-acute.
  EXPECT_EQ(0, FilePath::CompareIgnoreCase(L"\u00e4\u00e9", L"\u00c4\u00c9"));
  // Compared as unsigned units after upper-casing: '_' (0x5F) lies above
  // 'A'..'Z', so "_" sorts after "a" (upper-cased to 'A').
  EXPECT_EQ(1, FilePath::CompareIgnoreCase(L"_", L"a"));
  EXPECT_EQ(1, FilePath::CompareIgnoreCase(L"\uffff", L"a"));
  // A NUL inside a view is just a unit.
  EXPECT_EQ(-1, FilePath::CompareIgnoreCase(StringPiece16(L"a\0b", 3),
                                            StringPiece16(L"a\0c", 3)));
}

TEST(FilePathTest, IsAbsolute) {
  for (const wchar_t* path : {L"C:\\a", L"C:/", L"\\\\s\\x", L"//s"})
    EXPECT_TRUE(FilePath(path).IsAbsolute()) << path;
  for (const wchar_t* path : {L"C:", L"C:a", L"\\a", L"a", L"", L"\\"})
    EXPECT_FALSE(FilePath(path).IsAbsolute()) << path;
}

TEST(FilePathTest, StripTrailingSeparators) {
  const UnaryCase cases[] = {
      {L"C:\\\\", L"C:\\\\"}, {L"C:\\\\\\", L"C:\\"}, {L"\\\\", L"\\\\"},
      {L"\\\\\\", L"\\"},     {L"a\\\\", L"a"},       {L"a/", L"a"},
      {L"C:\\", L"C:\\"},     {L"\\", L"\\"},         {L"", L""},
      {L"C:a\\", L"C:a"},     {L"\\\\\\\\\\", L"\\"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, FilePath(c.input).StripTrailingSeparators().value())
        << "input: " << FilePath(c.input);
  }
}

TEST(FilePathTest, NormalizePathSeparators) {
  EXPECT_EQ(L"a\\b\\c", FilePath(L"a/b\\c").NormalizePathSeparators().value());
  EXPECT_EQ(L"a/b/c",
            FilePath(L"a/b\\c").NormalizePathSeparatorsTo(L'/').value());

  // Callers size searches with the count: the terminating NUL is no
  // separator.
  EXPECT_EQ(std::wstring(FilePath::kSeparators).size(),
            FilePath::kSeparatorsLength);
}

TEST(FilePathTest, ReferencesParent) {
  for (const wchar_t* path :
       {L"..", L"a\\..\\b", L"...", L"a\\. ..", L"a\\.. ", L"..\\", L"/.."}) {
    EXPECT_TRUE(FilePath(path).ReferencesParent()) << path;
  }
  for (const wchar_t* path :
       {L"a..b", L"a\\b..", L"..a", L".", L"a\\.\\b", L"", L"C:\\a"}) {
    EXPECT_FALSE(FilePath(path).ReferencesParent()) << path;
  }
}

TEST(FilePathTest, ConstructionCutsAtNulAndMoves) {
  const StringType with_nul(L"a\\b\0c", 5);
  EXPECT_EQ(L"a\\b", FilePath(with_nul).value());
  EXPECT_EQ(L"a\\b", FilePath::FromUTF16Unsafe(with_nul).value());
  EXPECT_EQ(L"a", FilePath::FromUTF8Unsafe(std::string("a\0b", 3)).value());
  EXPECT_EQ(L"a.x",
            FilePath(L"a").AddExtension(StringPiece16(L"x\0y", 3)).value());

  FilePath source(L"C:\\moved");
  FilePath moved(std::move(source));
  EXPECT_EQ(L"C:\\moved", moved.value());
  EXPECT_TRUE(source.empty());  // NOLINT(bugprone-use-after-move)
  FilePath assigned;
  assigned = std::move(moved);
  EXPECT_EQ(L"C:\\moved", assigned.value());
  EXPECT_TRUE(moved.empty());  // NOLINT(bugprone-use-after-move)
  FilePath& alias = assigned;
  assigned = alias;
  EXPECT_EQ(L"C:\\moved", assigned.value());
}

TEST(FilePathTest, Conversions) {
  const FilePath path(L"C:\\\u00e9t\u00e9");
  EXPECT_EQ("C:\\\xc3\xa9t\xc3\xa9", path.AsUTF8Unsafe());
  EXPECT_EQ("", path.MaybeAsASCII());
  EXPECT_EQ("C:\\ascii", FilePath(L"C:\\ascii").MaybeAsASCII());
  EXPECT_EQ(path, FilePath::FromUTF8Unsafe(path.AsUTF8Unsafe()));
  // Ill-formed UTF-8 becomes U+FFFD.
  EXPECT_EQ(L"a\ufffd", FilePath::FromUTF8Unsafe("a\xff").value());
}

}  // namespace
}  // namespace base
