#ifndef BASE_FILES_FILE_UTIL_H_
#define BASE_FILES_FILE_UTIL_H_

#include <stdint.h>
#include <stdio.h>

// Several names below (DeleteFile, CopyFile, CreateDirectory, ReplaceFile,
// GetCurrentDirectory, SetCurrentDirectory) are also macros of the Windows
// headers. Including them here makes every user see the same spelling.
#include <windows.h>

#include <string>

#include "base/files/file.h"
#include "base/files/file_path.h"

namespace base {

// Paths of this many code units or more are refused by the functions that
// say so, without touching the file system.
constexpr size_t kMaxPathLength = MAX_PATH;

// The full path, or an empty path on failure.
FilePath MakeAbsoluteFilePath(const FilePath& input);

bool PathExists(const FilePath& path);
bool DirectoryExists(const FilePath& path);
// For a folder: whether a file may be added to it.
bool PathIsWritable(const FilePath& path);

// Deletes a file, a folder (with its contents when |recursive|) or, when
// the base name holds '*' or '?', the matching entries of the folder above.
// A missing path counts as deleted. Links and junctions are removed
// themselves; what they point to is never touched.
bool DeleteFile(const FilePath& path, bool recursive);
bool DeleteFileAfterReboot(const FilePath& path);

// Puts |from_path| in the place of |to_path|, which may exist.
[[nodiscard]] bool ReplaceFile(const FilePath& from_path,
                               const FilePath& to_path,
                               File::Error* error);

// Overwrites |to_path|. The copy is never read-only.
[[nodiscard]] bool CopyFile(const FilePath& from_path, const FilePath& to_path);
[[nodiscard]] bool DoCopyFile(const FilePath& from_path,
                              const FilePath& to_path,
                              bool fail_if_exists);
// Copies a file or a folder tree. When |recursive| and |to_path| is an
// existing folder, the source folder lands inside it as a subfolder. A tree
// is never copied into itself.
[[nodiscard]] bool DoCopyDirectory(const FilePath& from_path,
                                   const FilePath& to_path,
                                   bool recursive,
                                   bool fail_if_exists);
inline bool CopyDirectory(const FilePath& from_path,
                          const FilePath& to_path,
                          bool recursive) {
  return DoCopyDirectory(from_path, to_path, recursive, false);
}

// Refuses paths that refer to a parent folder.
[[nodiscard]] bool Move(const FilePath& from_path, const FilePath& to_path);
// On failure the thread's last error is the one of the first move attempt.
[[nodiscard]] bool MoveUnsafe(const FilePath& from_path,
                              const FilePath& to_path);

// Creates the folder and its missing parents.
[[nodiscard]] bool CreateDirectoryAndGetError(const FilePath& full_path,
                                              File::Error* error);
[[nodiscard]] bool CreateDirectory(const FilePath& full_path);

[[nodiscard]] bool GetTempDir(FilePath* path);
// The user's profile folder; else the temporary folder; else "C:\\". Never
// empty.
FilePath GetHomeDir();
// Creates a new empty file with a unique "<guid>.tmp" name in |dir|.
[[nodiscard]] bool CreateTemporaryFileInDir(const FilePath& dir,
                                            FilePath* temp_file);

[[nodiscard]] bool GetCurrentDirectory(FilePath* path);
[[nodiscard]] bool SetCurrentDirectory(const FilePath& path);

// A C runtime stream shared with everybody and not inherited by children.
FILE* OpenFile(const FilePath& filename, const char* mode);
bool CloseFile(FILE* file);

// Reads the whole file. When it holds more than |max_size| bytes the result
// is false and |contents| holds the first |max_size| bytes. |contents| may
// be null. The thread's last error after a failed read is the failure's.
[[nodiscard]] bool ReadFileToStringWithMaxSize(const FilePath& path,
                                               std::string* contents,
                                               size_t max_size);
[[nodiscard]] bool ReadFileToString(const FilePath& path,
                                    std::string* contents);

// Creates or truncates the file. |size| on success, -1 on failure. A
// negative |size| is refused without touching the file.
[[nodiscard]] int WriteFile(const FilePath& filename,
                            const char* data,
                            int size);
// The file must exist. A negative |size| is refused.
[[nodiscard]] bool AppendToFile(const FilePath& filename,
                                const char* data,
                                int size);

namespace internal {

// GetHomeDir's choice: |profile|, else |temp|, else "C:\\", an empty path
// standing for one the system could not give.
FilePath ChooseHomeDir(const FilePath& profile, const FilePath& temp);

// The mode given to the C runtime by OpenFile: "N" goes before the first
// ',' or at the end.
std::wstring MakeNonInheritableFileMode(const char* mode);

}  // namespace internal

}  // namespace base

#endif  // BASE_FILES_FILE_UTIL_H_
