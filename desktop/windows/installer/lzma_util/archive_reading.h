#ifndef DESKTOP_WINDOWS_INSTALLER_LZMA_UTIL_ARCHIVE_READING_H_
#define DESKTOP_WINDOWS_INSTALLER_LZMA_UTIL_ARCHIVE_READING_H_

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include <map>

#include "7zTypes.h"
#include "base/files/file.h"
#include "base/files/file_path.h"
#include "base/macros.h"

// What the 7z reader feeds the decoder with: the archive file, allocators
// that hold the decoder to what the machine can give, and the guard that
// turns an in-page error in the mapped output block into a result.
namespace installer {
namespace lzma {

// Looks for the 7z signature from |file|'s current position on, at most
// about 1 MiB far. On success |file| is positioned at the signature.
bool FindArchiveSignature(HANDLE file);

// The bytes this user may still write on the volume that holds |folder| (or
// its nearest existing parent). False when the system cannot tell.
bool GetFreeBytes(const base::FilePath& folder, uint64_t* bytes);
// Tests only: |query| answers for GetFreeBytes (null: the system again).
using FreeSpaceQuery = bool (*)(const base::FilePath& folder, uint64_t* bytes);
void SetFreeSpaceQueryForTesting(FreeSpaceQuery query);
// The root of the volume holding |path| ("K:\"), for messages; |path|
// itself when the system cannot tell.
base::FilePath GetVolumeRoot(const base::FilePath& path);

// Where the part of |file| that a signature can vouch for ends: at its
// certificate table when it is a PE image with a security directory (no
// signature covers the table, nor what is padded into it after the
// signature data), else nowhere (UINT64_MAX). False when the file cannot be
// read. The file position is kept.
bool FindSignedRegionEnd(HANDLE file, uint64_t* end);

// Where the 7z archive whose start header is at |file|'s current position
// ends, by that header: after the header it names. False when the start
// header cannot be read whole or names an end past 2^64. The file position
// is kept.
bool ReadArchiveEnd(HANDLE file, uint64_t* end);

// The decoder's input stream over an open archive file.
struct ArchiveFileStream {
  ISeekInStream vt;  // First: the decoder hands back a pointer to it.
  HANDLE file;
};
void InitArchiveFileStream(ArchiveFileStream* stream, HANDLE file);
SRes ArchiveFileRead(ISeekInStreamPtr stream, void* buffer, size_t* size);
SRes ArchiveFileSeek(ISeekInStreamPtr stream, Int64* position, ESzSeek origin);

// Heap allocations for the decoder, refused once more than |limit| bytes
// would be held at a time: the sizes come from the archive, which may claim
// anything. Frees whatever is still held when it goes, which is all a
// decoding abandoned midway needs.
class HeapAllocator {
 public:
  explicit HeapAllocator(uint64_t limit);
  ~HeapAllocator();

  ISzAllocPtr get() const { return &interface_.vt; }
  void* Allocate(size_t size);
  void Free(void* address);

 private:
  struct Interface {
    ISzAlloc vt;
    HeapAllocator* owner;
  };
  static void* AllocateThunk(ISzAllocPtr p, size_t size);
  static void FreeThunk(ISzAllocPtr p, void* address);

  Interface interface_;
  const uint64_t limit_;
  uint64_t held_ = 0;
  std::map<void*, size_t> blocks_;

  DISALLOW_COPY_AND_ASSIGN(HeapAllocator);
};

// The decoder's main allocator during one extraction: the output block of a
// folder, which may be as large as the whole package, lives in a mapping of
// a temporary file in the destination folder (deleted when closed). One
// block is mapped at a time; everything else, and everything when the file
// cannot be made or mapped, comes from a HeapAllocator of |heap_limit|.
class MappedFileAllocator {
 public:
  MappedFileAllocator(const base::FilePath& folder, uint64_t heap_limit);
  ~MappedFileAllocator();

  ISzAllocPtr get() const { return &interface_.vt; }
  void* Allocate(size_t size);
  void Free(void* address);

  const base::FilePath& path() const { return path_; }
  const void* view() const { return view_; }
  size_t view_size() const { return view_size_; }

 private:
  struct Interface {
    ISzAlloc vt;
    MappedFileAllocator* owner;
  };
  static void* AllocateThunk(ISzAllocPtr p, size_t size);
  static void FreeThunk(ISzAllocPtr p, void* address);
  void* Map(size_t size);
  void Unmap();

  Interface interface_;
  base::FilePath path_;
  base::File file_;
  HANDLE mapping_ = nullptr;
  void* view_ = nullptr;
  size_t view_size_ = 0;
  HeapAllocator heap_;

  DISALLOW_COPY_AND_ASSIGN(MappedFileAllocator);
};

// Tests only: called with the mapped view (address and size) each time the
// decoder reads from the archive while a guarded decoding has a view mapped.
using DecoderReadHook = void (*)(void* view, size_t size);

// While it lives, a fault raised on this thread inside |allocator|'s mapped
// view during Run is caught: Run then returns false with the NTSTATUS of an
// EXCEPTION_IN_PAGE_ERROR, or the code of an access violation (which is how
// Wine reports a page it could not write to a full drive). Every other
// exception passes on.
class InPageErrorGuard {
 public:
  explicit InPageErrorGuard(const MappedFileAllocator* allocator);
  ~InPageErrorGuard();

  // Runs |function|(|argument|). False when an in-page error in the view
  // ended it: the frames it had entered are abandoned (the decoder's plain
  // C frames hold nothing but blocks of the allocators), |status| gets the
  // NTSTATUS.
  bool Run(void (*function)(void*), void* argument, uint32_t* status);

  struct State;  // Shared with the exception handler.

  // Calls |hook| with this thread's mapped view while a guarded run has one.
  static void CallReadHook(DecoderReadHook hook);

 private:
  State* const state_;
  void* handler_ = nullptr;

  DISALLOW_COPY_AND_ASSIGN(InPageErrorGuard);
};

void SetDecoderReadHookForTesting(DecoderReadHook hook);

}  // namespace lzma
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_LZMA_UTIL_ARCHIVE_READING_H_
