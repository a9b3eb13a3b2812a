#include "desktop/windows/installer/lzma_util/lzma_util.h"

#include <algorithm>
#include <memory>
#include <string>

#include "7z.h"
#include "7zCrc.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "desktop/windows/installer/installer_utils.h"
#include "desktop/windows/installer/lzma_util/archive_reading.h"

namespace installer {

namespace {

// What the archive database may hold in memory: a real package's is a few
// MiB; a damaged one may claim millions of entries or a huge header.
const uint64_t kMinDatabaseMemory = 32ull << 20;
const uint64_t kMaxDatabaseMemory = 1ull << 30;
const uint64_t kDatabaseMemoryPerArchiveByte = 256;
// The look-ahead reader's buffer.
const size_t kLookBufferSize = 1 << 16;
// A single WriteFile stays below 4 GiB.
const DWORD kMaxWrite = 0xFFFF0000;

uint64_t DatabaseMemoryLimit(HANDLE file) {
  LARGE_INTEGER size = {};
  LARGE_INTEGER position = {};
  LARGE_INTEGER zero = {};
  if (!::GetFileSizeEx(file, &size) ||
      !::SetFilePointerEx(file, zero, &position, FILE_CURRENT)) {
    return kMinDatabaseMemory;
  }
  const uint64_t archive_bytes = static_cast<uint64_t>(
      std::max<LONGLONG>(0, size.QuadPart - position.QuadPart));
  return std::min(kMaxDatabaseMemory,
                  std::max(kMinDatabaseMemory,
                           archive_bytes * kDatabaseMemoryPerArchiveByte));
}

// Blocks the decoder takes from the heap while unpacking: the output block
// when it cannot be mapped, and its working buffers. Their sizes come from
// the archive, so they are held to half the machine's memory.
uint64_t DecoderHeapLimit() {
  MEMORYSTATUSEX status = {};
  status.dwLength = sizeof(status);
  if (!::GlobalMemoryStatusEx(&status))
    return 1ull << 30;
  return status.ullTotalPhys / 2;
}

void GenerateCrcTable() {
  static const bool generated = [] {
    CrcGenerateTable();
    return true;
  }();
  (void)generated;
}

// The archive database over the open archive, read from the file's current
// position.
class ArchiveDatabase {
 public:
  explicit ArchiveDatabase(HANDLE file)
      : heap_(DatabaseMemoryLimit(file)), look_buffer_(kLookBufferSize) {
    lzma::InitArchiveFileStream(&file_stream_, file);
    LookToRead2_CreateVTable(&look_, False);
    look_.buf = look_buffer_.data();
    look_.bufSize = look_buffer_.size();
    look_.realStream = &file_stream_.vt;
    LookToRead2_INIT(&look_);
    GenerateCrcTable();
    SzArEx_Init(&db_);
  }
  ~ArchiveDatabase() { SzArEx_Free(&db_, heap_.get()); }

  SRes Open() { return SzArEx_Open(&db_, &look_.vt, heap_.get(), heap_.get()); }

  const CSzArEx* db() const { return &db_; }
  ILookInStreamPtr stream() const { return &look_.vt; }

  // The entry's name as the archive holds it; false when it has none.
  bool GetName(UInt32 index, base::string16* name) const {
    const size_t length = SzArEx_GetFileNameUtf16(&db_, index, nullptr);
    if (length == 0)
      return false;
    std::vector<UInt16> buffer(length);
    SzArEx_GetFileNameUtf16(&db_, index, buffer.data());
    name->assign(buffer.begin(), buffer.end() - 1);
    return true;
  }

 private:
  lzma::ArchiveFileStream file_stream_;
  CLookToRead2 look_;
  lzma::HeapAllocator heap_;
  std::vector<Byte> look_buffer_;
  CSzArEx db_;

  DISALLOW_COPY_AND_ASSIGN(ArchiveDatabase);
};

// The arguments of one SzArEx_Extract call, run under the in-page guard.
struct ExtractCall {
  const CSzArEx* db;
  ILookInStreamPtr stream;
  UInt32 index;
  UInt32* block_index;
  Byte** out_buffer;
  size_t* out_buffer_size;
  size_t offset;
  size_t size;
  ISzAllocPtr main_alloc;
  ISzAllocPtr temp_alloc;
  SRes result;
};

void RunExtractCall(void* argument) {
  ExtractCall* call = static_cast<ExtractCall*>(argument);
  call->result =
      SzArEx_Extract(call->db, call->stream, call->index, call->block_index,
                     call->out_buffer, call->out_buffer_size, &call->offset,
                     &call->size, call->main_alloc, call->temp_alloc);
}

// Every name of the archive, checked: none may reach outside |destination|
// nor make a path longer than the system opens there (a name of thousands
// of parts would also make thousands of nested folders). |relative| gets
// them with "\" separators.
uint8_t CheckEntryNames(const ArchiveDatabase& archive,
                        const base::FilePath& destination,
                        std::vector<base::FilePath>* relative) {
  const CSzArEx* db = archive.db();
  for (UInt32 i = 0; i < db->NumFiles; ++i) {
    base::string16 name;
    if (!archive.GetName(i, &name)) {
      LOG(ERROR) << "Couldn't get file name";
      return LzmaUtil::EXTRACT_BAD_NAME;
    }
    base::FilePath path;
    std::string reason;
    // Only a folder's name may end in a separator.
    const bool safe = SzArEx_IsDir(db, i)
                          ? MakeSafeEntryPath(name, &path, &reason)
                          : MakeSafeRelativePath(name, &path, &reason);
    if (!safe) {
      LOG(ERROR) << "Refusing the archive: its entry \"" << PrintableEntry(name)
                 << "\" would be written outside the destination (" << reason
                 << ")";
      return LzmaUtil::EXTRACT_UNSAFE_NAME;
    }
    // CreateFileW takes no longer path without the "\\?\" prefix.
    const size_t length = destination.Append(path).value().size();
    if (length >= MAX_PATH) {
      // The name's start is enough to recognize it.
      LOG(ERROR) << "Refusing the archive: its entry \""
                 << PrintableEntry(name.substr(0, MAX_PATH))
                 << (name.size() > MAX_PATH ? "..." : "")
                 << "\" would make a path of " << length << " characters in "
                 << destination.value() << " (at most " << MAX_PATH - 1 << ")";
      return LzmaUtil::EXTRACT_UNSAFE_NAME;
    }
    relative->push_back(path);
  }
  return LzmaUtil::EXTRACT_SUCCESS;
}

// Refuses the extraction when the destination's drive cannot take the
// entries in |relative| that |names| asks for (all when empty), so that
// nothing is written in vain and a full drive is named as such.
uint8_t CheckFreeSpace(const CSzArEx* db,
                       const std::vector<base::FilePath>& relative,
                       const std::set<base::FilePath>& names,
                       const base::FilePath& destination) {
  uint64_t needed = 0;
  for (UInt32 i = 0; i < db->NumFiles; ++i) {
    if (SzArEx_IsDir(db, i) || (!names.empty() && !names.count(relative[i])))
      continue;
    // Sizes come from the archive, which may claim anything.
    needed += std::min<uint64_t>(SzArEx_GetFileSize(db, i), ~needed);
  }
  uint64_t free_bytes = 0;
  if (needed == 0 || !lzma::GetFreeBytes(destination, &free_bytes) ||
      free_bytes >= needed) {
    return LzmaUtil::EXTRACT_SUCCESS;
  }
  LOG(ERROR) << "Not enough space on "
             << lzma::GetVolumeRoot(destination).value() << " to unpack into "
             << destination.value() << ": " << needed << " bytes needed, "
             << free_bytes << " free";
  return LzmaUtil::EXTRACT_DISK_FULL;
}

// A signed file vouches for nothing from its certificate table on: an
// archive found there (in padding after the signature data, which no
// signature covers), or one whose header lies there, would be unpacked
// with no signature behind it, so it is refused. |file| is at the archive's
// signature and stays there.
uint8_t CheckArchiveIsSigned(HANDLE file) {
  LARGE_INTEGER zero = {};
  LARGE_INTEGER start = {};
  uint64_t signed_end = 0;
  if (!::SetFilePointerEx(file, zero, &start, FILE_CURRENT) ||
      !lzma::FindSignedRegionEnd(file, &signed_end)) {
    PLOG(ERROR) << "Cannot read the headers of the archive's file";
    return LzmaUtil::EXTRACT_BAD_ARCHIVE;
  }
  if (signed_end == UINT64_MAX)
    return LzmaUtil::EXTRACT_SUCCESS;
  const uint64_t at = static_cast<uint64_t>(start.QuadPart);
  uint64_t archive_end = 0;
  if (at >= signed_end || !lzma::ReadArchiveEnd(file, &archive_end) ||
      archive_end > signed_end) {
    LOG(ERROR) << "Refusing the archive at offset " << at
               << ": it does not lie whole before the certificate table at "
               << signed_end << ", the end of what the signature covers";
    return at >= signed_end ? LzmaUtil::EXTRACT_NO_SIGNATURE
                            : LzmaUtil::EXTRACT_BAD_ARCHIVE;
  }
  return LzmaUtil::EXTRACT_SUCCESS;
}

// Writes one entry's bytes into a new |path|, with its modification time.
uint8_t WriteEntry(const base::FilePath& path,
                   const Byte* data,
                   size_t size,
                   const FILETIME* modified,
                   std::vector<base::FilePath>* written_files) {
  HANDLE file = ::CreateFileW(path.value().c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    LOG(ERROR) << "Error returned by CreateFile: " << ::GetLastError();
    return LzmaUtil::EXTRACT_CREATE_FILE_FAILED;
  }
  if (written_files)
    written_files->push_back(path);
  // One write for every entry below 4 GiB. A drive about to fill up may
  // take part of a write and report success (Wine does so); the next write
  // then fails with the drive's own error, which is the one to report.
  size_t done = 0;
  while (done < size) {
    const DWORD chunk =
        static_cast<DWORD>(std::min<size_t>(size - done, kMaxWrite));
    DWORD written = 0;
    const bool wrote = ::WriteFile(file, data + done, chunk, &written, nullptr);
    if (wrote && written > 0) {
      done += written;
      continue;
    }
    DWORD error = wrote ? ERROR_DISK_FULL : ::GetLastError();
    if (error == ERROR_SUCCESS)
      error = ERROR_WRITE_FAULT;
    ::SetLastError(error);
    PLOG(ERROR) << "Error returned by WriteFile " << error;
    ::CloseHandle(file);
    return LzmaUtil::EXTRACT_WRITE_FAILED;
  }
  if (modified && !::SetFileTime(file, nullptr, nullptr, modified)) {
    const DWORD error = ::GetLastError();
    PLOG(ERROR) << "Error returned by SetFileTime " << error;
    ::CloseHandle(file);
    return LzmaUtil::EXTRACT_SET_TIME_FAILED;
  }
  if (!::CloseHandle(file)) {
    const DWORD error = ::GetLastError();
    PLOG(ERROR) << "Error returned by CloseHandle " << error;
    return LzmaUtil::EXTRACT_CLOSE_FAILED;
  }
  return LzmaUtil::EXTRACT_SUCCESS;
}

}  // namespace

LzmaUtil::LzmaUtil() = default;

LzmaUtil::~LzmaUtil() {
  Close();
}

int LzmaUtil::Open(const base::FilePath& archive) {
  Close();
  archive_ =
      ::CreateFileW(archive.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (archive_ == INVALID_HANDLE_VALUE) {
    archive_ = nullptr;
    const DWORD error = ::GetLastError();
    PLOG(ERROR) << "Cannot open the archive " << archive.value();
    return error == ERROR_FILE_NOT_FOUND ? OPEN_FILE_NOT_FOUND : OPEN_ERROR;
  }
  return OPEN_SUCCESS;
}

void LzmaUtil::Close() {
  if (archive_)
    ::CloseHandle(archive_);
  archive_ = nullptr;
}

bool LzmaUtil::EnsureFolder(const base::FilePath& folder,
                            std::vector<base::FilePath>* created_folders) {
  if (created_folders_.count(folder)) {
    if (created_folders)
      created_folders->push_back(folder);
    return true;
  }
  // The missing folders from |folder| up to one that exists (or that this
  // reader made: it is not made again), made one at a time from the
  // outermost so that each one made is known even when a later one fails.
  std::vector<base::FilePath> missing;
  for (base::FilePath path = folder;
       !base::DirectoryExists(path) && !created_folders_.count(path);
       path = path.DirName()) {
    missing.push_back(path);
    if (path.DirName() == path)
      break;  // A missing root: making it fails below.
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (!::CreateDirectoryW(it->value().c_str(), nullptr)) {
      const DWORD error = ::GetLastError();
      // Someone else made it meanwhile: not ours to report.
      if (error == ERROR_ALREADY_EXISTS && base::DirectoryExists(*it))
        continue;
      ::SetLastError(error);
      PLOG(ERROR) << "Cannot create the folder " << it->value();
      return false;
    }
    created_folders_.insert(*it);
    if (created_folders)
      created_folders->push_back(*it);
  }
  return true;
}

uint8_t LzmaUtil::Extract(const base::FilePath& destination,
                          const std::set<base::FilePath>& names,
                          UnpackProgressObserver* observer,
                          std::vector<base::FilePath>* written_files,
                          std::vector<base::FilePath>* created_folders) {
  if (!archive_)
    return EXTRACT_NOT_OPEN;
  if (!lzma::FindArchiveSignature(archive_))
    return EXTRACT_NO_SIGNATURE;
  const uint8_t placed = CheckArchiveIsSigned(archive_);
  if (placed != EXTRACT_SUCCESS)
    return placed;
  std::set<base::FilePath> pending = names;

  ArchiveDatabase archive(archive_);
  SRes result = archive.Open();
  if (result != SZ_OK) {
    LOG(ERROR) << "Error returned by SzArchiveOpen: " << result;
    return EXTRACT_BAD_ARCHIVE;
  }
  const CSzArEx* db = archive.db();
  // Nothing is written before every name is known to stay inside.
  std::vector<base::FilePath> relative_names;
  uint8_t status = CheckEntryNames(archive, destination, &relative_names);
  if (status != EXTRACT_SUCCESS)
    return status;
  status = CheckFreeSpace(db, relative_names, names, destination);
  if (status != EXTRACT_SUCCESS)
    return status;

  // The unpacked blocks go into a file in the destination, so it must be
  // there first.
  if (!EnsureFolder(destination, created_folders))
    return EXTRACT_CREATE_FILE_FAILED;
  const uint64_t heap_limit = DecoderHeapLimit();
  lzma::MappedFileAllocator allocator(destination, heap_limit);
  lzma::HeapAllocator temp_heap(heap_limit);
  lzma::InPageErrorGuard guard(&allocator);
  if (observer) {
    observer->OnFilesToUnpackCounted(
        static_cast<int32_t>(names.empty() ? db->NumFiles : names.size()));
  }

  UInt32 block_index = 0xFFFFFFFF;
  Byte* out_buffer = nullptr;
  size_t out_buffer_size = 0;
  int32_t handled = 0;
  for (UInt32 i = 0; i < db->NumFiles && status == EXTRACT_SUCCESS; ++i) {
    if (!names.empty() && pending.empty())
      break;
    const base::FilePath& name = relative_names[i];
    if (!names.empty() && pending.erase(name) == 0)
      continue;
    if (observer && observer->ShouldStopExtracting()) {
      LOG(INFO) << "Extraction interrupted after " << handled << " entries";
      status = EXTRACT_INTERRUPTED;
      break;
    }
    if (observer)
      observer->OnUnpackProgressChanged(handled);
    ++handled;
    const base::FilePath path = destination.Append(name);

    ExtractCall call = {db,
                        archive.stream(),
                        i,
                        &block_index,
                        &out_buffer,
                        &out_buffer_size,
                        0,
                        0,
                        allocator.get(),
                        temp_heap.get(),
                        SZ_OK};
    uint32_t in_page_status = 0;
    if (!guard.Run(RunExtractCall, &call, &in_page_status)) {
      last_in_page_error_ = in_page_status;
      LOG(ERROR) << "EXCEPTION_IN_PAGE_ERROR while accessing mapped memory; "
                    "NTSTATUS = "
                 << in_page_status;
      LOG(ERROR) << "Cannot write the unpacked block to "
                 << lzma::GetVolumeRoot(destination).value()
                 << " (is the drive full?)";
      // The abandoned decoder's working buffers go with |temp_heap|.
      status = EXTRACT_IN_PAGE_ERROR;
      break;
    }
    if (call.result != SZ_OK) {
      LOG(ERROR) << "Error returned by SzExtract: " << call.result;
      status = EXTRACT_DECODER_ERROR;
      break;
    }

    const bool is_dir = SzArEx_IsDir(db, i);
    if (!EnsureFolder(is_dir ? path : path.DirName(), created_folders)) {
      status = EXTRACT_CREATE_FILE_FAILED;
      break;
    }
    if (is_dir)
      continue;
    FILETIME modified;
    const bool has_time = SzBitWithVals_Check(&db->MTime, i);
    if (has_time) {
      modified.dwLowDateTime = db->MTime.Vals[i].Low;
      modified.dwHighDateTime = db->MTime.Vals[i].High;
    }
    status = WriteEntry(path, out_buffer + call.offset, call.size,
                        has_time ? &modified : nullptr, written_files);
  }
  ISzAlloc_Free(allocator.get(), out_buffer);
  return status;
}

uint32_t LzmaUtil::GetLastInPageError() const {
  return last_in_page_error_;
}

int LzmaUtil::ListEntries(std::vector<base::string16>* names) {
  if (!archive_)
    return EXTRACT_NOT_OPEN;
  LARGE_INTEGER start = {};
  LARGE_INTEGER zero = {};
  if (!::SetFilePointerEx(archive_, zero, &start, FILE_CURRENT))
    return EXTRACT_BAD_ARCHIVE;
  int result = EXTRACT_SUCCESS;
  if (!lzma::FindArchiveSignature(archive_))
    result = EXTRACT_NO_SIGNATURE;
  else
    result = CheckArchiveIsSigned(archive_);
  if (result == EXTRACT_SUCCESS) {
    ArchiveDatabase archive(archive_);
    const SRes opened = archive.Open();
    if (opened != SZ_OK) {
      LOG(ERROR) << "Error returned by SzArchiveOpen: " << opened;
      result = EXTRACT_BAD_ARCHIVE;
    }
    for (UInt32 i = 0; result == EXTRACT_SUCCESS && i < archive.db()->NumFiles;
         ++i) {
      base::string16 name;
      if (!archive.GetName(i, &name)) {
        LOG(ERROR) << "Couldn't get file name";
        result = EXTRACT_BAD_NAME;
        break;
      }
      names->push_back(name);
    }
  }
  // Extract looks for the archive from here again.
  if (!::SetFilePointerEx(archive_, start, nullptr, FILE_BEGIN))
    return EXTRACT_BAD_ARCHIVE;
  return result;
}

}  // namespace installer
