#include "desktop/windows/installer/lzma_util/archive_reading.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>

#include "base/files/file_util.h"
#include "base/logging.h"

namespace installer {
namespace lzma {

namespace {

const uint8_t kSignature[] = {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C};
const DWORD kSignatureSearchRead = 1024;
// The signature must start within the first MiB.
const uint64_t kSignatureSearchLimit = 0xFFFFF;

std::atomic<DecoderReadHook> g_decoder_read_hook{nullptr};
std::atomic<FreeSpaceQuery> g_free_space_query{nullptr};

}  // namespace

bool GetFreeBytes(const base::FilePath& folder, uint64_t* bytes) {
  FreeSpaceQuery query = g_free_space_query.load();
  if (query)
    return query(folder, bytes);
  // The folder to unpack into may not be there yet.
  base::FilePath existing = folder;
  while (!base::DirectoryExists(existing) && existing.DirName() != existing)
    existing = existing.DirName();
  ULARGE_INTEGER available = {};
  if (!::GetDiskFreeSpaceExW(existing.value().c_str(), &available, nullptr,
                             nullptr)) {
    PLOG(WARNING) << "Cannot tell the free space of " << existing.value();
    return false;
  }
  *bytes = available.QuadPart;
  return true;
}

void SetFreeSpaceQueryForTesting(FreeSpaceQuery query) {
  g_free_space_query.store(query);
}

base::FilePath GetVolumeRoot(const base::FilePath& path) {
  wchar_t root[MAX_PATH + 1] = {};
  if (!::GetVolumePathNameW(path.value().c_str(), root, MAX_PATH))
    return path;
  return base::FilePath(root);
}

bool FindArchiveSignature(HANDLE file) {
  uint8_t buffer[kSignatureSearchRead];
  uint64_t before = 0;  // Bytes before |buffer|, from the starting position.
  LARGE_INTEGER start = {};
  if (!::SetFilePointerEx(file, start, &start, FILE_CURRENT))
    return false;
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) ||
        read < sizeof(kSignature) + 1) {
      return false;
    }
    for (DWORD i = 0; i + sizeof(kSignature) <= read; ++i) {
      if (memcmp(buffer + i, kSignature, sizeof(kSignature)) != 0)
        continue;
      LARGE_INTEGER position;
      position.QuadPart = start.QuadPart + before + i;
      return ::SetFilePointerEx(file, position, nullptr, FILE_BEGIN) != 0;
    }
    // A signature split over two reads is found by the next one.
    LARGE_INTEGER back;
    back.QuadPart = -static_cast<LONGLONG>(sizeof(kSignature));
    if (!::SetFilePointerEx(file, back, nullptr, FILE_CURRENT))
      return false;
    before += read - sizeof(kSignature);
    if (before > kSignatureSearchLimit)
      return false;
  }
}

namespace {

// The 7z start header: signature, version, its CRC, then the next header's
// offset (from the start header's end) and size, then that header's CRC.
const DWORD kStartHeaderSize = 32;
const DWORD kNextHeaderOffsetAt = 12;
const DWORD kNextHeaderSizeAt = 20;

uint64_t ReadLe64(const uint8_t* at) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i)
    value = (value << 8) | at[i];
  return value;
}

// Reads up to |size| bytes at |offset|; |*read| tells how many there were.
// Moves the file position.
bool ReadAt(HANDLE file, uint64_t offset, void* buffer, DWORD size,
            DWORD* read) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  *read = 0;
  if (::ReadFile(file, buffer, size, read, &at))
    return true;
  return ::GetLastError() == ERROR_HANDLE_EOF;
}

// Reads exactly |size| bytes at |offset|: false for fewer or an error,
// |*error| telling which.
bool ReadWhole(HANDLE file, uint64_t offset, void* buffer, DWORD size,
               bool* error) {
  DWORD read = 0;
  *error = !ReadAt(file, offset, buffer, size, &read);
  return !*error && read == size;
}

// Puts |file|'s position back where it was when made.
class ScopedFilePosition {
 public:
  explicit ScopedFilePosition(HANDLE file) : file_(file) {
    LARGE_INTEGER zero = {};
    valid_ = ::SetFilePointerEx(file_, zero, &position_, FILE_CURRENT) != 0;
  }
  ~ScopedFilePosition() {
    if (valid_)
      ::SetFilePointerEx(file_, position_, nullptr, FILE_BEGIN);
  }
  bool valid() const { return valid_; }
  uint64_t position() const { return static_cast<uint64_t>(position_.QuadPart); }

 private:
  HANDLE file_;
  LARGE_INTEGER position_ = {};
  bool valid_ = false;

  DISALLOW_COPY_AND_ASSIGN(ScopedFilePosition);
};

}  // namespace

bool FindSignedRegionEnd(HANDLE file, uint64_t* end) {
  *end = UINT64_MAX;
  ScopedFilePosition kept(file);
  if (!kept.valid())
    return false;
  bool error = false;
  IMAGE_DOS_HEADER dos;
  if (!ReadWhole(file, 0, &dos, sizeof(dos), &error))
    return !error;
  if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0)
    return true;
  // The signature, the file header and the optional header up to its data
  // directories, in either of its forms; read as the 64-bit one, which is
  // the longer.
  const uint64_t nt = static_cast<uint64_t>(dos.e_lfanew);
  IMAGE_NT_HEADERS64 headers;
  const DWORD headers_size = offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                             offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
  DWORD read = 0;
  if (!ReadAt(file, nt, &headers, headers_size, &read))
    return false;
  const size_t magic_end = offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                           sizeof(headers.OptionalHeader.Magic);
  if (read < magic_end || headers.Signature != IMAGE_NT_SIGNATURE)
    return true;
  uint64_t directories = 0;
  DWORD count = 0;
  const uint64_t optional = nt + offsetof(IMAGE_NT_HEADERS64, OptionalHeader);
  if (headers.OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC &&
      read == headers_size) {
    directories = optional + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
    count = headers.OptionalHeader.NumberOfRvaAndSizes;
  } else if (headers.OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC &&
             read >= offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                         offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory)) {
    directories = optional + offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
    count = reinterpret_cast<const IMAGE_NT_HEADERS32*>(&headers)
                ->OptionalHeader.NumberOfRvaAndSizes;
  } else {
    return true;  // No image the system would take for one.
  }
  if (count <= IMAGE_DIRECTORY_ENTRY_SECURITY)
    return true;
  IMAGE_DATA_DIRECTORY security;
  if (!ReadWhole(file,
                 directories + IMAGE_DIRECTORY_ENTRY_SECURITY *
                                   sizeof(IMAGE_DATA_DIRECTORY),
                 &security, sizeof(security), &error)) {
    return !error;
  }
  if (security.Size != 0)
    *end = security.VirtualAddress;
  return true;
}

bool ReadArchiveEnd(HANDLE file, uint64_t* end) {
  ScopedFilePosition kept(file);
  uint8_t header[kStartHeaderSize];
  bool error = false;
  if (!kept.valid() ||
      !ReadWhole(file, kept.position(), header, sizeof(header), &error)) {
    return false;
  }
  const uint64_t offset = ReadLe64(header + kNextHeaderOffsetAt);
  const uint64_t size = ReadLe64(header + kNextHeaderSizeAt);
  const uint64_t after_start = kept.position() + kStartHeaderSize;
  if (offset > UINT64_MAX - after_start ||
      size > UINT64_MAX - after_start - offset) {
    return false;
  }
  *end = after_start + offset + size;
  return true;
}

void InitArchiveFileStream(ArchiveFileStream* stream, HANDLE file) {
  stream->vt.Read = ArchiveFileRead;
  stream->vt.Seek = ArchiveFileSeek;
  stream->file = file;
}

SRes ArchiveFileRead(ISeekInStreamPtr p, void* buffer, size_t* size) {
  const ArchiveFileStream* stream =
      reinterpret_cast<const ArchiveFileStream*>(p);
  DecoderReadHook hook = g_decoder_read_hook.load();
  if (hook)
    InPageErrorGuard::CallReadHook(hook);
  // The decoder never asks for 4 GiB or more at once.
  const DWORD wanted = static_cast<DWORD>(*size);
  DWORD total = 0;
  while (total < wanted) {
    DWORD read = 0;
    if (!::ReadFile(stream->file, static_cast<uint8_t*>(buffer) + total,
                    wanted - total, &read, nullptr) &&
        read == 0) {
      break;
    }
    if (read == 0) {
      *size = total;
      return SZ_ERROR_READ;  // The end of the file.
    }
    total += read;
  }
  *size = total;
  return SZ_OK;
}

SRes ArchiveFileSeek(ISeekInStreamPtr p, Int64* position, ESzSeek origin) {
  const ArchiveFileStream* stream =
      reinterpret_cast<const ArchiveFileStream*>(p);
  if (origin > 2)
    return SZ_ERROR_PARAM;
  LONG high = static_cast<LONG>(*position >> 32);
  ::SetLastError(ERROR_SUCCESS);
  const DWORD low = ::SetFilePointer(stream->file, static_cast<LONG>(*position),
                                     &high, static_cast<DWORD>(origin));
  if (low == INVALID_SET_FILE_POINTER && ::GetLastError() != ERROR_SUCCESS)
    return SZ_ERROR_FAIL;
  *position = (static_cast<Int64>(high) << 32) | low;
  return SZ_OK;
}

// HeapAllocator --------------------------------------------------------------

HeapAllocator::HeapAllocator(uint64_t limit) : limit_(limit) {
  interface_.vt.Alloc = AllocateThunk;
  interface_.vt.Free = FreeThunk;
  interface_.owner = this;
}

HeapAllocator::~HeapAllocator() {
  for (const auto& block : blocks_)
    free(block.first);
}

void* HeapAllocator::Allocate(size_t size) {
  if (size == 0)
    return nullptr;
  if (size > limit_ - held_) {
    LOG(ERROR) << "Refusing to allocate " << size << " bytes for the archive ("
               << held_ << " held, at most " << limit_ << ")";
    return nullptr;
  }
  void* block = malloc(size);
  if (!block)
    return nullptr;
  blocks_[block] = size;
  held_ += size;
  return block;
}

void HeapAllocator::Free(void* address) {
  if (!address)
    return;
  auto it = blocks_.find(address);
  if (it == blocks_.end()) {
    LOG(ERROR) << "Not freeing a block this allocator did not give";
    return;
  }
  held_ -= it->second;
  blocks_.erase(it);
  free(address);
}

void* HeapAllocator::AllocateThunk(ISzAllocPtr p, size_t size) {
  return reinterpret_cast<const Interface*>(p)->owner->Allocate(size);
}

void HeapAllocator::FreeThunk(ISzAllocPtr p, void* address) {
  reinterpret_cast<const Interface*>(p)->owner->Free(address);
}

// MappedFileAllocator --------------------------------------------------------

MappedFileAllocator::MappedFileAllocator(const base::FilePath& folder,
                                         uint64_t heap_limit)
    : heap_(heap_limit) {
  interface_.vt.Alloc = AllocateThunk;
  interface_.vt.Free = FreeThunk;
  interface_.owner = this;
  if (!base::CreateTemporaryFileInDir(folder, &path_)) {
    PLOG(WARNING) << "No temporary file in " << folder.value()
                  << ": unpacking in memory";
    return;
  }
  file_.Initialize(path_, base::File::FLAG_CREATE_ALWAYS |
                              base::File::FLAG_READ | base::File::FLAG_WRITE |
                              base::File::FLAG_TEMPORARY |
                              base::File::FLAG_DELETE_ON_CLOSE);
  if (!file_.IsValid()) {
    PLOG(WARNING) << "Cannot open " << path_.value() << ": unpacking in memory";
    // Left by CreateTemporaryFileInDir, and not opened to go on close.
    if (!base::DeleteFile(path_, false))
      PLOG(WARNING) << "Cannot delete " << path_.value();
  }
}

MappedFileAllocator::~MappedFileAllocator() {
  Unmap();
  // Deletes the temporary file.
  file_.Close();
}

void* MappedFileAllocator::Allocate(size_t size) {
  if (size == 0)
    return nullptr;
  // Growing the file under a mapped view fails anyway.
  if (file_.IsValid() && !view_) {
    void* view = Map(size);
    if (view)
      return view;
  }
  return heap_.Allocate(size);
}

void MappedFileAllocator::Free(void* address) {
  if (!address)
    return;
  if (address == view_) {
    Unmap();
    return;
  }
  heap_.Free(address);
}

void* MappedFileAllocator::Map(size_t size) {
  // The mapped file may be sparse (it is under Wine): its pages take their
  // room on the drive only as the decoder fills them, and a page the drive
  // has no room for faults. A block larger than the free space is therefore
  // never mapped.
  uint64_t free_bytes = 0;
  if (GetFreeBytes(path_.DirName(), &free_bytes) && free_bytes < size) {
    LOG(WARNING) << "Only " << free_bytes << " bytes free on "
                 << GetVolumeRoot(path_.DirName()).value() << ": the " << size
                 << "-byte block is not mapped";
    return nullptr;
  }
  if (!file_.SetLength(static_cast<int64_t>(size))) {
    PLOG(WARNING) << "Cannot make " << path_.value() << " " << size
                  << " bytes long";
    return nullptr;
  }
  mapping_ = ::CreateFileMappingW(file_.GetPlatformFile(), nullptr,
                                  PAGE_READWRITE, 0, 0, nullptr);
  if (!mapping_) {
    PLOG(WARNING) << "CreateFileMapping failed for " << size << " bytes";
    return nullptr;
  }
  view_ = ::MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, size);
  if (!view_) {
    PLOG(WARNING) << "MapViewOfFile failed for " << size << " bytes";
    ::CloseHandle(mapping_);
    mapping_ = nullptr;
    return nullptr;
  }
  view_size_ = size;
  return view_;
}

void MappedFileAllocator::Unmap() {
  if (view_ && !::UnmapViewOfFile(view_))
    PLOG(WARNING) << "UnmapViewOfFile failed";
  view_ = nullptr;
  view_size_ = 0;
  if (mapping_)
    ::CloseHandle(mapping_);
  mapping_ = nullptr;
}

void* MappedFileAllocator::AllocateThunk(ISzAllocPtr p, size_t size) {
  return reinterpret_cast<const Interface*>(p)->owner->Allocate(size);
}

void MappedFileAllocator::FreeThunk(ISzAllocPtr p, void* address) {
  reinterpret_cast<const Interface*>(p)->owner->Free(address);
}

// InPageErrorGuard -----------------------------------------------------------
//
// GCC has no structured exception handling, so a vectored handler watches
// for the in-page error. It does not jump out of itself: that would abandon
// the system's exception dispatch midway (its handler list stays counted as
// in use). Instead it lets the dispatch finish by continuing execution with
// the faulting context changed to enter ResumeAfterInPageError, on the
// faulting thread's own stack below the faulting frame. That function
// leaves through __builtin_longjmp to the __builtin_setjmp in Run, a frame
// above the decoder's: GCC's own non-local goto, which restores the stack
// and frame pointers, and at whose receiver the function holds nothing in
// registers. The decoder's frames in between are plain C without cleanups;
// the blocks they had allocated belong to the allocators, which free them.

struct InPageErrorGuard::State {
  void* jump_buffer[5];
  const MappedFileAllocator* allocator;
  bool running;
  uint32_t status;
};

namespace {

DWORD GuardSlot() {
  static const DWORD slot = ::TlsAlloc();
  return slot;
}

[[noreturn]] __attribute__((noinline)) void ResumeAfterInPageError(
    void** jump_buffer) {
  __builtin_longjmp(jump_buffer, 1);
}

LONG CALLBACK InPageErrorHandler(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  // A noncontinuable record cannot be resumed anywhere, not even below.
  // The view is writable all through, so an access violation inside it can
  // only be a page that could not be brought in: Wine reports a page it
  // cannot write to a full drive so.
  const bool in_page = record->ExceptionCode == EXCEPTION_IN_PAGE_ERROR &&
                       record->NumberParameters >= 3;
  const bool access = record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION &&
                      record->NumberParameters >= 2;
  if ((!in_page && !access) ||
      (record->ExceptionFlags & EXCEPTION_NONCONTINUABLE)) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  // Only the thread that set up the guard finds its state here.
  auto* state =
      static_cast<InPageErrorGuard::State*>(::TlsGetValue(GuardSlot()));
  if (!state || !state->running)
    return EXCEPTION_CONTINUE_SEARCH;
  const uintptr_t view = reinterpret_cast<uintptr_t>(state->allocator->view());
  const uintptr_t address = record->ExceptionInformation[1];
  if (!view || address < view ||
      address - view >= state->allocator->view_size()) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  state->status =
      in_page ? static_cast<uint32_t>(record->ExceptionInformation[2])
              : static_cast<uint32_t>(record->ExceptionCode);
  state->running = false;
  CONTEXT* context = info->ContextRecord;
  // As if called: the return address slot 8 bytes off a 16-byte boundary,
  // well below whatever the faulting frame had on its stack.
  context->Rsp = ((context->Rsp - 256) & ~static_cast<DWORD64>(15)) - 8;
  context->Rcx = reinterpret_cast<DWORD64>(state->jump_buffer);
  context->Rip = reinterpret_cast<DWORD64>(&ResumeAfterInPageError);
  // The faulting code may have run with the direction flag set (a
  // backwards copy); a function is entered with it clear.
  context->EFlags &= ~static_cast<DWORD>(0x400);
  return EXCEPTION_CONTINUE_EXECUTION;
}

// Kept out of line so that nothing of Run's caller lives in registers across
// the non-local return.
__attribute__((noinline)) bool RunWithReturnPoint(
    InPageErrorGuard::State* state, void (*function)(void*), void* argument) {
  if (__builtin_setjmp(state->jump_buffer))
    return false;
  state->running = true;
  function(argument);
  state->running = false;
  return true;
}

}  // namespace

InPageErrorGuard::InPageErrorGuard(const MappedFileAllocator* allocator)
    : state_(new State()) {
  state_->allocator = allocator;
  if (GuardSlot() == TLS_OUT_OF_INDEXES ||
      !::TlsSetValue(GuardSlot(), state_)) {
    PLOG(ERROR) << "No thread slot for the in-page error guard";
    return;
  }
  handler_ = ::AddVectoredExceptionHandler(1, InPageErrorHandler);
  if (!handler_)
    PLOG(ERROR) << "AddVectoredExceptionHandler failed";
}

InPageErrorGuard::~InPageErrorGuard() {
  if (handler_)
    ::RemoveVectoredExceptionHandler(handler_);
  if (GuardSlot() != TLS_OUT_OF_INDEXES)
    ::TlsSetValue(GuardSlot(), nullptr);
  delete state_;
}

bool InPageErrorGuard::Run(void (*function)(void*),
                           void* argument,
                           uint32_t* status) {
  if (!handler_) {
    function(argument);
    return true;
  }
  if (RunWithReturnPoint(state_, function, argument))
    return true;
  *status = state_->status;
  return false;
}

void InPageErrorGuard::CallReadHook(DecoderReadHook hook) {
  if (GuardSlot() == TLS_OUT_OF_INDEXES)
    return;
  auto* state = static_cast<State*>(::TlsGetValue(GuardSlot()));
  if (state && state->running && state->allocator->view()) {
    hook(const_cast<void*>(state->allocator->view()),
         state->allocator->view_size());
  }
}

void SetDecoderReadHookForTesting(DecoderReadHook hook) {
  g_decoder_read_hook.store(hook);
}

}  // namespace lzma
}  // namespace installer
