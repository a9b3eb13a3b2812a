#include "base/files/file_util.h"

#include <windows.h>

#include <string>

#include "base/files/file.h"
#include "base/files/file_enumerator.h"
#include "base/files/scoped_temp_dir.h"
#include "base/test/test_file_link.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace base {

namespace {

class FileUtilTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_dir_.CreateUniqueTempDir()); }

  const FilePath& root() const { return temp_dir_.GetPath(); }
  FilePath Path(const wchar_t* relative) const {
    return root().Append(relative);
  }

  FilePath MakeDir(const wchar_t* relative) {
    const FilePath path = Path(relative);
    EXPECT_TRUE(CreateDirectory(path)) << path;
    return path;
  }

  FilePath MakeFile(const wchar_t* relative,
                    const std::string& contents = "x") {
    const FilePath path = Path(relative);
    EXPECT_EQ(
        static_cast<int>(contents.size()),
        WriteFile(path, contents.data(), static_cast<int>(contents.size())))
        << path;
    return path;
  }

  static void MakeReadOnly(const FilePath& path) {
    const DWORD attributes = ::GetFileAttributesW(path.value().c_str());
    ASSERT_TRUE(::SetFileAttributesW(path.value().c_str(),
                                     attributes | FILE_ATTRIBUTE_READONLY));
  }

  static std::string Contents(const FilePath& path) {
    std::string contents;
    EXPECT_TRUE(ReadFileToString(path, &contents)) << path;
    return contents;
  }

  // A path of exactly |length| code units below the root.
  FilePath PathOfLength(size_t length) const {
    std::wstring value = root().value() + L"\\";
    value.append(length - value.size(), L'a');
    return FilePath(value);
  }

  ScopedTempDir temp_dir_;
};

}  // namespace

TEST_F(FileUtilTest, DeleteSimpleCases) {
  EXPECT_TRUE(DeleteFile(FilePath(), false));
  EXPECT_TRUE(DeleteFile(Path(L"missing"), false));

  const FilePath read_only = MakeFile(L"ro");
  MakeReadOnly(read_only);
  EXPECT_TRUE(DeleteFile(read_only, false));
  EXPECT_FALSE(PathExists(read_only));

  const FilePath dir = MakeDir(L"dir");
  MakeFile(L"dir\\f");
  EXPECT_FALSE(DeleteFile(dir, false));
  EXPECT_TRUE(PathExists(Path(L"dir\\f")));

  MakeDir(L"dir\\sub");
  MakeReadOnly(MakeFile(L"dir\\sub\\ro"));
  MakeReadOnly(Path(L"dir\\sub"));
  EXPECT_TRUE(DeleteFile(dir, true));
  EXPECT_FALSE(PathExists(dir));
}

TEST_F(FileUtilTest, LengthLimits) {
  const FilePath at_limit = PathOfLength(kMaxPathLength);
  const FilePath below_limit = PathOfLength(kMaxPathLength - 1);
  EXPECT_FALSE(DeleteFile(at_limit, false));
  EXPECT_FALSE(DeleteFileAfterReboot(at_limit));
  EXPECT_FALSE(DoCopyFile(MakeFile(L"src"), at_limit, false));
  EXPECT_FALSE(DoCopyDirectory(root(), at_limit, true, false));
  EXPECT_FALSE(MoveUnsafe(Path(L"src"), at_limit));
  EXPECT_TRUE(PathExists(Path(L"src")));
  // One unit shorter is acceptable to the checks (the system may still
  // refuse the name itself).
  EXPECT_TRUE(DeleteFile(below_limit, false));
}

TEST_F(FileUtilTest, WildcardDelete) {
  MakeFile(L"a.tmp");
  MakeFile(L"b.tmp");
  MakeFile(L"keep.txt");
  MakeDir(L"sub.tmp");
  MakeFile(L"sub.tmp\\inner.tmp");

  // Not recursive: matching files only; the matching folder stays.
  EXPECT_TRUE(DeleteFile(Path(L"*.tmp"), false));
  EXPECT_FALSE(PathExists(Path(L"a.tmp")));
  EXPECT_FALSE(PathExists(Path(L"b.tmp")));
  EXPECT_TRUE(PathExists(Path(L"keep.txt")));
  EXPECT_TRUE(PathExists(Path(L"sub.tmp\\inner.tmp")));

  // Recursive: the matching folder is emptied of matches and removed.
  EXPECT_TRUE(DeleteFile(Path(L"*.tmp"), true));
  EXPECT_FALSE(PathExists(Path(L"sub.tmp")));
  EXPECT_TRUE(PathExists(Path(L"keep.txt")));

  // A matching folder that still holds other entries is reported.
  MakeDir(L"full.tmp");
  MakeFile(L"full.tmp\\x.tmp");
  MakeFile(L"full.tmp\\other.txt");
  MakeFile(L"c.tmp");
  EXPECT_FALSE(DeleteFile(Path(L"*.tmp"), true));
  EXPECT_FALSE(PathExists(Path(L"full.tmp\\x.tmp")));
  EXPECT_TRUE(PathExists(Path(L"full.tmp\\other.txt")));
  EXPECT_FALSE(PathExists(Path(L"c.tmp")));
}

TEST_F(FileUtilTest, RecursiveDeleteNeverFollowsLinks) {
  const FilePath outside = MakeDir(L"outside");
  const FilePath secret = MakeFile(L"outside\\secret", "keep me");
  MakeDir(L"outside\\deeper");
  const FilePath deeper_secret = MakeFile(L"outside\\deeper\\secret2");
  const FilePath tree = MakeDir(L"tree");
  MakeFile(L"tree\\own");
  const FilePath link = Path(L"tree\\link");
  if (!CreateDirectoryLinkForTesting(link, outside))
    GTEST_SKIP() << "cannot make a directory link here";
  ASSERT_TRUE(::GetFileAttributesW(link.value().c_str()) &
              FILE_ATTRIBUTE_REPARSE_POINT);

  // Inside a tree. Where the system cannot remove a link by itself the
  // delete reports failure, but it must never reach the target.
  const bool tree_deleted = DeleteFile(tree, true);
  EXPECT_EQ("keep me", Contents(secret));
  EXPECT_TRUE(PathExists(deeper_secret));
  EXPECT_FALSE(PathExists(Path(L"tree\\own")));
  if (tree_deleted) {
    EXPECT_FALSE(PathExists(tree));
  }

  // As the top path.
  const FilePath top_link = Path(L"top_link");
  ASSERT_TRUE(CreateDirectoryLinkForTesting(top_link, outside));
  const bool link_deleted = DeleteFile(top_link, true);
  EXPECT_EQ("keep me", Contents(secret));
  EXPECT_TRUE(PathExists(deeper_secret));
  if (link_deleted) {
    EXPECT_FALSE(PathExists(top_link));
  }

  // Through a wildcard.
  const FilePath other_tree = MakeDir(L"other");
  ASSERT_TRUE(CreateDirectoryLinkForTesting(Path(L"other\\link2"), outside));
  DeleteFile(Path(L"other\\*"), true);
  EXPECT_EQ("keep me", Contents(secret));
  EXPECT_TRUE(PathExists(deeper_secret));
}

TEST_F(FileUtilTest, ReadFileToStringWithMaxSize) {
  const FilePath ten = MakeFile(L"ten", "0123456789");
  const FilePath eleven = MakeFile(L"eleven", "0123456789A");
  std::string contents = "junk";
  EXPECT_TRUE(ReadFileToStringWithMaxSize(ten, &contents, 10));
  EXPECT_EQ("0123456789", contents);
  EXPECT_FALSE(ReadFileToStringWithMaxSize(eleven, &contents, 10));
  EXPECT_EQ("0123456789", contents);
  EXPECT_TRUE(ReadFileToStringWithMaxSize(ten, nullptr, 10));
  EXPECT_FALSE(ReadFileToStringWithMaxSize(eleven, nullptr, 10));

  contents = "junk";
  EXPECT_FALSE(ReadFileToStringWithMaxSize(
      Path(L"sub").Append(L"..").Append(L"ten"), &contents, 100));
  EXPECT_EQ("", contents);

  contents = "junk";
  ::SetLastError(0);
  EXPECT_FALSE(ReadFileToString(Path(L"missing"), &contents));
  EXPECT_EQ("", contents);
  const DWORD error = ::GetLastError();
  EXPECT_TRUE(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      << error;

  // Larger than one read chunk, limited exactly at and past its size.
  std::string big(65536 * 2 + 17, '\0');
  for (size_t i = 0; i < big.size(); ++i)
    big[i] = static_cast<char>(i * 7);
  const FilePath big_path = MakeFile(L"big", big);
  EXPECT_TRUE(ReadFileToStringWithMaxSize(big_path, &contents, big.size()));
  EXPECT_EQ(big, contents);
  EXPECT_FALSE(
      ReadFileToStringWithMaxSize(big_path, &contents, big.size() - 1));
  EXPECT_EQ(big.substr(0, big.size() - 1), contents);
  EXPECT_FALSE(ReadFileToStringWithMaxSize(big_path, &contents, 65536));
  EXPECT_EQ(big.substr(0, 65536), contents);
}

// A file larger than the heap lets the string grow (it refuses blocks near
// 2 GiB, the next doubling after 1 GiB) fails the read instead of ending
// the process. The file is sparse: only its size is written.
TEST_F(FileUtilTest, FileTooLargeForTheHeapFailsTheRead) {
  const FilePath path = Path(L"huge");
  {
    win::ScopedHandle file(::CreateFileW(path.value().c_str(), GENERIC_WRITE, 0,
                                         nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.IsValid());
    LARGE_INTEGER size;
    size.QuadPart = (int64_t{1} << 30) + 1;
    ASSERT_TRUE(::SetFilePointerEx(file.Get(), size, nullptr, FILE_BEGIN));
    ASSERT_TRUE(::SetEndOfFile(file.Get()));
  }
  std::string contents;
  ::SetLastError(0);
  EXPECT_FALSE(ReadFileToString(path, &contents));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), ::GetLastError());
  EXPECT_LE(contents.size(), size_t{1} << 30);
}

TEST_F(FileUtilTest, FailedReadKeepsLastErrorAcrossClose) {
  // A file held open without read sharing: the open fails, and the error
  // seen afterwards must be that failure's.
  const FilePath path = MakeFile(L"busy");
  HANDLE holder = ::CreateFileW(path.value().c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);
  std::string contents;
  EXPECT_FALSE(ReadFileToString(path, &contents));
  const DWORD error = ::GetLastError();
  ::CloseHandle(holder);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), error);
}

TEST_F(FileUtilTest, WriteAndAppend) {
  const FilePath path = MakeFile(L"w", "previous");
  EXPECT_EQ(0, WriteFile(path, "", 0));
  EXPECT_EQ("", Contents(path));
  EXPECT_TRUE(PathExists(path));
  EXPECT_EQ(0, WriteFile(Path(L"fresh"), "", 0));
  EXPECT_TRUE(PathExists(Path(L"fresh")));
  EXPECT_EQ(-1, WriteFile(Path(L"no_dir\\f"), "x", 1));

  EXPECT_TRUE(AppendToFile(path, "ab", 2));
  EXPECT_TRUE(AppendToFile(path, "cd", 2));
  EXPECT_EQ("abcd", Contents(path));
  EXPECT_FALSE(AppendToFile(Path(L"never"), "x", 1));
  EXPECT_FALSE(PathExists(Path(L"never")));

  // A negative size never reaches the system as a huge length: nothing is
  // created, truncated or appended.
  EXPECT_EQ(-1, WriteFile(path, "zz", -1));
  EXPECT_EQ("abcd", Contents(path));
  EXPECT_EQ(-1, WriteFile(Path(L"negative"), "zz", -2));
  EXPECT_FALSE(PathExists(Path(L"negative")));
  EXPECT_FALSE(AppendToFile(path, "zz", -1));
  EXPECT_EQ("abcd", Contents(path));
}

TEST_F(FileUtilTest, CreateDirectoryAndGetError) {
  File::Error error = File::FILE_OK;
  EXPECT_TRUE(CreateDirectoryAndGetError(root(), &error));
  EXPECT_EQ(File::FILE_OK, error);

  const FilePath deep = Path(L"a\\b\\c");
  EXPECT_TRUE(CreateDirectoryAndGetError(deep, &error));
  EXPECT_TRUE(DirectoryExists(deep));
  EXPECT_EQ(File::FILE_OK, error);

  const FilePath file = MakeFile(L"file");
  EXPECT_FALSE(CreateDirectoryAndGetError(file, &error));
  EXPECT_EQ(File::FILE_ERROR_NOT_A_DIRECTORY, error);
  error = File::FILE_OK;
  EXPECT_FALSE(CreateDirectoryAndGetError(file.Append(L"below"), &error));
  EXPECT_NE(File::FILE_OK, error);

  // A drive that does not exist.
  const DWORD drives = ::GetLogicalDrives();
  for (wchar_t letter = L'Q'; letter <= L'Y'; ++letter) {
    if (drives & (1u << (letter - L'A')))
      continue;
    const FilePath missing(std::wstring(1, letter) + L":\\kavor\\x");
    error = File::FILE_OK;
    EXPECT_FALSE(CreateDirectoryAndGetError(missing, &error));
    EXPECT_EQ(File::FILE_ERROR_NOT_FOUND, error);
    break;
  }
}

TEST_F(FileUtilTest, CopyFile) {
  const FilePath from = MakeFile(L"from", "new");
  const FilePath to = MakeFile(L"to", "old contents");
  EXPECT_TRUE(CopyFile(from, to));
  EXPECT_EQ("new", Contents(to));
  EXPECT_FALSE(DoCopyFile(from, to, true));

  MakeReadOnly(from);
  const FilePath copy = Path(L"copy");
  EXPECT_TRUE(CopyFile(from, copy));
  EXPECT_FALSE(::GetFileAttributesW(copy.value().c_str()) &
               FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(3, WriteFile(copy, "abc", 3));

  EXPECT_FALSE(CopyFile(Path(L"x\\..\\from"), Path(L"copy2")));
  EXPECT_FALSE(PathExists(Path(L"copy2")));
  EXPECT_FALSE(CopyFile(Path(L"missing"), Path(L"copy3")));
  ::SetFileAttributesW(from.value().c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FileUtilTest, CopyDirectoryIntoExistingAndMissingTarget) {
  const FilePath a = MakeDir(L"a");
  MakeFile(L"a\\f", "F");
  MakeDir(L"a\\sub");
  MakeFile(L"a\\sub\\g", "G");

  const FilePath b = MakeDir(L"b");
  EXPECT_TRUE(DoCopyDirectory(a, b, true, false));
  EXPECT_EQ("F", Contents(Path(L"b\\a\\f")));
  EXPECT_EQ("G", Contents(Path(L"b\\a\\sub\\g")));
  EXPECT_FALSE(PathExists(Path(L"b\\f")));

  const FilePath c = Path(L"c");
  EXPECT_TRUE(DoCopyDirectory(a, c, true, false));
  EXPECT_EQ("F", Contents(Path(L"c\\f")));
  EXPECT_EQ("G", Contents(Path(L"c\\sub\\g")));

  // Not recursive: the top folder's files only.
  const FilePath d = Path(L"d");
  EXPECT_TRUE(DoCopyDirectory(a, d, false, false));
  EXPECT_EQ("F", Contents(Path(L"d\\f")));
  EXPECT_FALSE(PathExists(Path(L"d\\sub")));

  // fail_if_exists stops at the first existing file.
  EXPECT_FALSE(DoCopyDirectory(a, d, false, true));
  EXPECT_FALSE(DoCopyDirectory(Path(L"missing"), Path(L"e"), true, false));
  EXPECT_FALSE(PathExists(Path(L"e")));
}

TEST_F(FileUtilTest, CopyDirectoryNeverIntoItself) {
  const FilePath dir = MakeDir(L"Dir");
  MakeFile(L"Dir\\f");
  const FilePath sub = MakeDir(L"Dir\\sub");

  EXPECT_FALSE(DoCopyDirectory(dir, sub, true, false));
  EXPECT_FALSE(DoCopyDirectory(dir, dir, true, false));
  EXPECT_FALSE(DoCopyDirectory(dir, Path(L"Dir\\sub\\new"), true, false));
  // The same folders named in another case.
  EXPECT_FALSE(DoCopyDirectory(dir, Path(L"dir\\sub"), true, false));
  EXPECT_FALSE(DoCopyDirectory(dir, Path(L"DIR"), true, false));
  EXPECT_FALSE(
      DoCopyDirectory(Path(L"dIR"), Path(L"Dir\\SUB\\new"), true, false));

  FileEnumerator walk(sub, true,
                      FileEnumerator::FILES | FileEnumerator::DIRECTORIES);
  EXPECT_TRUE(walk.Next().empty());
  EXPECT_FALSE(PathExists(Path(L"Dir\\Dir")));

  // A sibling whose name merely starts with the same text is fine.
  EXPECT_TRUE(DoCopyDirectory(dir, Path(L"Dir2"), true, false));
  EXPECT_TRUE(PathExists(Path(L"Dir2\\f")));
}

TEST_F(FileUtilTest, MoveAndMoveUnsafe) {
  const FilePath dir = MakeDir(L"dir");
  MakeFile(L"dir\\f", "F");
  EXPECT_TRUE(Move(dir, Path(L"moved")));
  EXPECT_EQ("F", Contents(Path(L"moved\\f")));
  EXPECT_FALSE(PathExists(dir));

  const FilePath from = MakeFile(L"from", "new");
  const FilePath to = MakeFile(L"to", "old");
  EXPECT_TRUE(MoveUnsafe(from, to));
  EXPECT_EQ("new", Contents(to));

  EXPECT_FALSE(Move(Path(L"x\\..\\to"), Path(L"y")));
  EXPECT_TRUE(PathExists(to));

  ::SetLastError(0);
  EXPECT_FALSE(MoveUnsafe(Path(L"missing"), Path(L"elsewhere")));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ::GetLastError());
}

TEST_F(FileUtilTest, ReplaceFile) {
  const FilePath from = MakeFile(L"from", "new");
  const FilePath to = Path(L"to");
  File::Error error = File::FILE_OK;
  EXPECT_TRUE(ReplaceFile(from, to, &error));
  EXPECT_EQ("new", Contents(to));
  EXPECT_FALSE(PathExists(from));

  MakeFile(L"from", "newer");
  EXPECT_TRUE(ReplaceFile(from, to, &error));
  EXPECT_EQ("newer", Contents(to));
  EXPECT_EQ(File::FILE_OK, error);

  // The move fails because the source is busy; the replace then fails for
  // the missing target, and the move's reason is the one reported.
  MakeFile(L"busy", "b");
  HANDLE holder =
      ::CreateFileW(Path(L"busy").value().c_str(), GENERIC_READ,
                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);
  error = File::FILE_OK;
  EXPECT_FALSE(ReplaceFile(Path(L"busy"), Path(L"absent"), &error));
  ::CloseHandle(holder);
  EXPECT_EQ(File::FILE_ERROR_IN_USE, error);
  EXPECT_FALSE(ReplaceFile(Path(L"busy2"), Path(L"absent"), nullptr));
}

TEST_F(FileUtilTest, TemporaryFiles) {
  FilePath temp_file;
  ASSERT_TRUE(CreateTemporaryFileInDir(root(), &temp_file));
  EXPECT_EQ(L".tmp", temp_file.FinalExtension());
  EXPECT_EQ(root().value(), temp_file.DirName().value());
  EXPECT_EQ("", Contents(temp_file));
  FilePath second;
  ASSERT_TRUE(CreateTemporaryFileInDir(root(), &second));
  EXPECT_NE(temp_file, second);

  FilePath untouched(L"untouched");
  EXPECT_FALSE(CreateTemporaryFileInDir(Path(L"missing"), &untouched));
  EXPECT_EQ(L"untouched", untouched.value());

  FilePath temp_dir;
  ASSERT_TRUE(GetTempDir(&temp_dir));
  ASSERT_FALSE(temp_dir.empty());
  EXPECT_FALSE(FilePath::IsSeparator(temp_dir.value().back()));
  EXPECT_TRUE(DirectoryExists(temp_dir));
  EXPECT_FALSE(GetHomeDir().empty());
}

// The home folder never comes back empty: the profile, else the temporary
// folder, else the system drive's root.
TEST(HomeDirTest, FallBacksInOrder) {
  struct {
    const wchar_t* profile;
    const wchar_t* temp;
    const wchar_t* expected;
  } const kCases[] = {
      {L"C:\\Users\\me", L"C:\\Temp", L"C:\\Users\\me"},
      {L"C:\\Users\\me", L"", L"C:\\Users\\me"},
      {L"", L"C:\\Temp", L"C:\\Temp"},
      {L"", L"", L"C:\\"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(
        c.expected,
        internal::ChooseHomeDir(FilePath(c.profile), FilePath(c.temp)).value())
        << c.profile << " | " << c.temp;
  }
}

// Copying and deleting stands in for a folder move the system refuses; a
// move onto another volume is one. Wine's Z: drive reaches a tmpfs mount,
// another file system than the test folder's.
TEST_F(FileUtilTest, MoveUnsafeCopiesAndDeletesAFolderAcrossVolumes) {
  const FilePath other_volume(L"Z:\\dev\\shm");
  if (!DirectoryExists(other_volume) ||
      ::GetDriveTypeW(L"Z:\\") == DRIVE_NO_ROOT_DIR) {
    GTEST_SKIP() << "no second volume to move onto";
  }
  ScopedTempDir target_parent;
  ASSERT_TRUE(target_parent.CreateUniqueTempDirUnderPath(other_volume));
  const FilePath dir = MakeDir(L"tree");
  MakeDir(L"tree\\sub");
  MakeFile(L"tree\\sub\\f", "F");
  const FilePath target = target_parent.GetPath().Append(L"moved");

  // Shows that the fallback is what is tested: the system move fails.
  ASSERT_FALSE(
      ::MoveFileExW(dir.value().c_str(), target.value().c_str(),
                    MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING));

  EXPECT_TRUE(MoveUnsafe(dir, target));
  EXPECT_EQ("F", Contents(target.Append(L"sub\\f")));
  EXPECT_FALSE(PathExists(dir));
}

TEST_F(FileUtilTest, CurrentDirectoryAndAbsolutePaths) {
  FilePath original;
  ASSERT_TRUE(GetCurrentDirectory(&original));
  ASSERT_TRUE(SetCurrentDirectory(root()));
  FilePath now;
  EXPECT_TRUE(GetCurrentDirectory(&now));
  EXPECT_EQ(0, FilePath::CompareIgnoreCase(root().value(), now.value()));
  EXPECT_FALSE(FilePath::IsSeparator(now.value().back()));
  EXPECT_EQ(0, FilePath::CompareIgnoreCase(
                   root().Append(L"rel").value(),
                   MakeAbsoluteFilePath(FilePath(L"x\\..\\rel")).value()));
  EXPECT_TRUE(SetCurrentDirectory(original));
  EXPECT_FALSE(SetCurrentDirectory(Path(L"missing")));
}

TEST_F(FileUtilTest, ExistenceAndWritability) {
  const FilePath file = MakeFile(L"f");
  EXPECT_TRUE(PathExists(file));
  EXPECT_FALSE(DirectoryExists(file));
  EXPECT_TRUE(DirectoryExists(root()));
  EXPECT_FALSE(PathExists(Path(L"missing")));
  EXPECT_TRUE(PathIsWritable(root()));
  EXPECT_FALSE(PathIsWritable(Path(L"missing")));
}

TEST_F(FileUtilTest, OpenFileModes) {
  EXPECT_EQ(L"rbN", internal::MakeNonInheritableFileMode("rb"));
  EXPECT_EQ(L"rN,ccs=UTF-8",
            internal::MakeNonInheritableFileMode("r,ccs=UTF-8"));
  EXPECT_EQ(L"wN", internal::MakeNonInheritableFileMode("w"));

  const FilePath path = MakeFile(L"stream", "hello");
  FILE* stream = OpenFile(path, "rb");
  ASSERT_TRUE(stream);
  // Shared with everybody: another writer may open it meanwhile.
  HANDLE other = ::CreateFileW(path.value().c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, other);
  if (other != INVALID_HANDLE_VALUE)
    ::CloseHandle(other);
  char buffer[8] = {};
  EXPECT_EQ(5u, fread(buffer, 1, sizeof(buffer), stream));
  EXPECT_TRUE(CloseFile(stream));
  EXPECT_TRUE(CloseFile(nullptr));
  EXPECT_EQ(nullptr, OpenFile(Path(L"missing"), "rb"));
}

}  // namespace base
