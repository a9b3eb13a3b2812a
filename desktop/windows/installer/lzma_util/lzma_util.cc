#include "desktop/windows/installer/lzma_util/lzma_util.h"

#include <string.h>

#include <algorithm>
#include <memory>
#include <string>

#include "7z.h"
#include "7zCrc.h"
#include "Bra.h"
#include "Lzma2Dec.h"
#include "LzmaDec.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/time/time.h"
#include "desktop/windows/installer/installer_utils.h"
#include "desktop/windows/installer/lzma_util/archive_reading.h"
#include "desktop/windows/installer/lzma_util/entry_writers.h"

namespace installer {

namespace {

// What the archive database may hold in memory: a real package's is a few
// MiB; a damaged one may claim millions of entries or a huge header.
const uint64_t kMinDatabaseMemory = 32ull << 20;
const uint64_t kMaxDatabaseMemory = 1ull << 30;
const uint64_t kDatabaseMemoryPerArchiveByte = 256;
// The look-ahead reader's buffer.
const size_t kLookBufferSize = 1 << 16;

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


// Method ids of the coders a folder may chain for the overlapped reading.
const UInt32 kMethodLzma = 0x30101;
const UInt32 kMethodLzma2 = 0x21;
const UInt32 kMethodBcj = 0x3030103;
// Input handed to the decoder per step; about a MiB of output each.
const size_t kStepInput = 1 << 18;
// Writer threads: creating and closing files is what costs; beyond a few
// writers they only queue up in the file system.
const size_t kMinWriters = 2;
const size_t kMaxWriters = 4;

size_t WriterCount() {
  SYSTEM_INFO info = {};
  ::GetSystemInfo(&info);
  return std::max(kMinWriters,
                  std::min<size_t>(kMaxWriters, info.dwNumberOfProcessors));
}

// The coders of |folder_index|, when they are one LZMA or LZMA2 stream,
// alone or behind the x86 branch filter: what 7z packages hold. Other
// chains are unpacked whole by the decoder.
bool ReadStreamableFolder(const CSzAr* ar,
                          UInt32 folder_index,
                          CSzFolder* folder,
                          bool* bcj) {
  CSzData data;
  data.Data = ar->CodersData + ar->FoCodersOffsets[folder_index];
  data.Size = ar->FoCodersOffsets[folder_index + 1] -
              ar->FoCodersOffsets[folder_index];
  if (SzGetNextFolderItem(folder, &data) != SZ_OK || data.Size != 0 ||
      folder->UnpackStream != ar->FoToMainUnpackSizeIndex[folder_index]) {
    return false;
  }
  const CSzCoderInfo& main = folder->Coders[0];
  if (main.NumStreams != 1 ||
      (main.MethodID != kMethodLzma && main.MethodID != kMethodLzma2) ||
      folder->NumPackStreams != 1 || folder->PackStreams[0] != 0) {
    return false;
  }
  if (folder->NumCoders == 1 && folder->NumBonds == 0) {
    *bcj = false;
    return true;
  }
  const CSzCoderInfo& filter = folder->Coders[1];
  *bcj = true;
  return folder->NumCoders == 2 && folder->NumBonds == 1 &&
         folder->Bonds[0].InIndex == 1 && folder->Bonds[0].OutIndex == 0 &&
         filter.MethodID == kMethodBcj && filter.NumStreams == 1 &&
         filter.PropsSize == 0;
}

// Which folders of |db| can be decoded step by step.
std::vector<bool> StreamableFolders(const CSzArEx* db) {
  std::vector<bool> streamable(db->db.NumFolders);
  for (UInt32 f = 0; f < db->db.NumFolders; ++f) {
    CSzFolder folder;
    bool bcj = false;
    streamable[f] = ReadStreamableFolder(&db->db, f, &folder, &bcj);
  }
  return streamable;
}

// One folder's decoding, a step at a time. Plain data: a step that the
// in-page guard abandons leaves nothing to unwind.
struct FolderSteps {
  ILookInStreamPtr stream;
  bool lzma2;
  CLzmaDec lzma;
  CLzma2Dec lzma2_state;
  bool bcj;
  UInt32 bcj_state;
  Byte* out;
  size_t out_size;
  UInt64 in_left;
  // The bytes from the block's start that are final: decoded, and past the
  // branch filter.
  size_t ready;
  bool done;
  SRes result;
};

size_t DecodedBytes(const FolderSteps* s) {
  return s->lzma2 ? s->lzma2_state.decoder.dicPos : s->lzma.dicPos;
}

// One step of the decoder's own loop over a folder, with the branch filter
// run over what it added.
void RunFolderStep(void* argument) {
  FolderSteps* s = static_cast<FolderSteps*>(argument);
  const void* in = nullptr;
  size_t look = static_cast<size_t>(
      std::min<UInt64>(kStepInput, s->in_left));
  s->result = ILookInStream_Look(s->stream, &in, &look);
  if (s->result != SZ_OK) {
    s->done = true;
    return;
  }
  SizeT processed = look;
  const size_t before = DecodedBytes(s);
  ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
  s->result =
      s->lzma2
          ? Lzma2Dec_DecodeToDic(&s->lzma2_state, s->out_size,
                                 static_cast<const Byte*>(in), &processed,
                                 LZMA_FINISH_END, &status)
          : LzmaDec_DecodeToDic(&s->lzma, s->out_size,
                                static_cast<const Byte*>(in), &processed,
                                LZMA_FINISH_END, &status);
  s->in_left -= processed;
  if (s->result != SZ_OK) {
    s->done = true;
    return;
  }
  const size_t decoded = DecodedBytes(s);
  if (status == LZMA_STATUS_FINISHED_WITH_MARK) {
    if (decoded != s->out_size || s->in_left != 0)
      s->result = SZ_ERROR_DATA;
    s->done = true;
  } else if (!s->lzma2 && decoded == s->out_size && s->in_left == 0 &&
             status == LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK) {
    s->done = true;
  } else if (processed == 0 && decoded == before) {
    s->result = SZ_ERROR_DATA;
    s->done = true;
  } else {
    s->result = ILookInStream_Skip(s->stream, processed);
    if (s->result != SZ_OK)
      s->done = true;
  }
  if (s->result != SZ_OK)
    return;
  if (!s->bcj) {
    s->ready = decoded;
    return;
  }
  // The filter changes the bytes in place, and the decoder copies its
  // matches from the bytes behind it, up to its dictionary's size: only
  // what lies further back may be filtered. The filter looks a few bytes
  // ahead, so it stops short of its limit and goes on from there next
  // time, at that position in the block.
  const UInt32 dictionary =
      s->lzma2 ? s->lzma2_state.decoder.prop.dicSize : s->lzma.prop.dicSize;
  const size_t limit =
      s->done ? decoded : decoded - std::min<size_t>(decoded, dictionary);
  if (limit > s->ready) {
    Byte* end = z7_BranchConvSt_X86_Dec(s->out + s->ready, limit - s->ready,
                                        static_cast<UInt32>(s->ready),
                                        &s->bcj_state);
    s->ready = static_cast<size_t>(end - s->out);
  }
  // The last few bytes of a block stay as they are, as the decoder's
  // single pass over a whole block leaves them.
  if (s->done)
    s->ready = decoded;
}

// Unpacks the folders of an archive step by step into the mapped block, so
// that each entry is handed to the writers as soon as its bytes are there
// while the rest of the block is still being decoded.
class FolderStreamer {
 public:
  FolderStreamer(const CSzArEx* db,
                 ILookInStreamPtr stream,
                 lzma::MappedFileAllocator* allocator,
                 ISzAllocPtr temp_alloc,
                 lzma::InPageErrorGuard* guard,
                 lzma::EntryWriters* writers)
      : db_(db),
        allocator_(allocator),
        temp_alloc_(temp_alloc),
        guard_(guard),
        writers_(writers) {
    memset(&steps_, 0, sizeof(steps_));
    steps_.stream = stream;
    LzmaDec_CONSTRUCT(&steps_.lzma);
    Lzma2Dec_CONSTRUCT(&steps_.lzma2_state);
  }
  ~FolderStreamer() { Release(); }

  // Decodes until the bytes of entry |index| (in a folder) are final and
  // points |data| at them. Returns EXTRACT_SUCCESS, EXTRACT_DECODER_ERROR
  // (logged) or EXTRACT_IN_PAGE_ERROR (|in_page_status| tells which).
  uint8_t Reach(UInt32 index, const Byte** data, uint32_t* in_page_status) {
    const UInt32 folder = db_->FileToFolder[index];
    SRes result = SZ_OK;
    if (folder != folder_) {
      // A damaged end of the previous block still fails the extraction.
      const uint8_t finished = Finish(in_page_status);
      if (finished != LzmaUtil::EXTRACT_SUCCESS)
        return finished;
      result = Start(folder);
      if (result != SZ_OK)
        return Failed(result);
    }
    const UInt64 block_start = db_->UnpackPositions[db_->FolderToFile[folder]];
    const UInt64 offset = db_->UnpackPositions[index] - block_start;
    const UInt64 end = db_->UnpackPositions[index + 1] - block_start;
    if (end > steps_.out_size)
      return Failed(SZ_ERROR_FAIL);
    // A block checked as a whole gives nothing before it is checked.
    const bool whole = SzBitWithVals_Check(&db_->db.FolderCRCs, folder);
    const uint8_t decoded = DecodeWhile(
        [&] { return steps_.ready < end || (whole && !steps_.done); },
        in_page_status);
    if (decoded != LzmaUtil::EXTRACT_SUCCESS)
      return decoded;
    *data = steps_.out + offset;
    return LzmaUtil::EXTRACT_SUCCESS;
  }

  // Decodes the rest of the current folder, if any, and checks it.
  uint8_t Finish(uint32_t* in_page_status) {
    if (folder_ == kNoFolder)
      return LzmaUtil::EXTRACT_SUCCESS;
    const uint8_t decoded =
        DecodeWhile([&] { return !steps_.done; }, in_page_status);
    if (decoded != LzmaUtil::EXTRACT_SUCCESS)
      return decoded;
    Release();
    return LzmaUtil::EXTRACT_SUCCESS;
  }

 private:
  static const UInt32 kNoFolder = 0xFFFFFFFF;

  template <typename Condition>
  uint8_t DecodeWhile(Condition more, uint32_t* in_page_status) {
    if (steps_.result != SZ_OK)
      return Failed(steps_.result);
    while (more()) {
      if (steps_.done)
        return Failed(SZ_ERROR_DATA);
      if (!guard_->Run(RunFolderStep, &steps_, in_page_status))
        return LzmaUtil::EXTRACT_IN_PAGE_ERROR;
      if (steps_.result != SZ_OK)
        return Failed(steps_.result);
      if (steps_.done && !checked_) {
        checked_ = true;
        if (SzBitWithVals_Check(&db_->db.FolderCRCs, folder_) &&
            CrcCalc(steps_.out, steps_.out_size) !=
                db_->db.FolderCRCs.Vals[folder_]) {
          steps_.result = SZ_ERROR_CRC;
          return Failed(steps_.result);
        }
      }
    }
    return LzmaUtil::EXTRACT_SUCCESS;
  }

  uint8_t Failed(SRes result) {
    LOG(ERROR) << "Error returned by SzExtract: " << result;
    return LzmaUtil::EXTRACT_DECODER_ERROR;
  }

  SRes Start(UInt32 folder_index) {
    const CSzAr* ar = &db_->db;
    CSzFolder folder;
    bool bcj = false;
    if (!ReadStreamableFolder(ar, folder_index, &folder, &bcj))
      return SZ_ERROR_UNSUPPORTED;
    const UInt64 size = SzAr_GetFolderUnpackSize(ar, folder_index);
    if (size != static_cast<size_t>(size))
      return SZ_ERROR_MEM;
    folder_ = folder_index;
    checked_ = false;
    steps_.lzma2 = folder.Coders[0].MethodID == kMethodLzma2;
    steps_.bcj = bcj;
    steps_.bcj_state = Z7_BRANCH_CONV_ST_X86_STATE_INIT_VAL;
    steps_.out_size = static_cast<size_t>(size);
    steps_.ready = 0;
    steps_.done = false;
    steps_.result = SZ_OK;
    const UInt32 pack = ar->FoStartPackStreamIndex[folder_index];
    steps_.in_left = ar->PackPositions[pack + 1] - ar->PackPositions[pack];
    if (size == 0) {
      steps_.done = true;
      return SZ_OK;
    }
    steps_.out =
        static_cast<Byte*>(ISzAlloc_Alloc(allocator_->get(), steps_.out_size));
    if (!steps_.out)
      return SZ_ERROR_MEM;
    const Byte* props = ar->CodersData + ar->FoCodersOffsets[folder_index] +
                        folder.Coders[0].PropsOffset;
    const unsigned props_size = folder.Coders[0].PropsSize;
    if (steps_.lzma2) {
      if (props_size != 1)
        return SZ_ERROR_DATA;
      RINOK(Lzma2Dec_AllocateProbs(&steps_.lzma2_state, props[0], temp_alloc_))
      steps_.lzma2_state.decoder.dic = steps_.out;
      steps_.lzma2_state.decoder.dicBufSize = steps_.out_size;
      Lzma2Dec_Init(&steps_.lzma2_state);
    } else {
      RINOK(LzmaDec_AllocateProbs(&steps_.lzma, props, props_size, temp_alloc_))
      steps_.lzma.dic = steps_.out;
      steps_.lzma.dicBufSize = steps_.out_size;
      LzmaDec_Init(&steps_.lzma);
    }
    return LookInStream_SeekTo(steps_.stream, db_->dataPos + ar->PackPositions[pack]);
  }

  // Lets go of the block once no writer reads it any more.
  void Release() {
    if (writers_)
      writers_->WaitIdle();
    LzmaDec_FreeProbs(&steps_.lzma, temp_alloc_);
    Lzma2Dec_FreeProbs(&steps_.lzma2_state, temp_alloc_);
    ISzAlloc_Free(allocator_->get(), steps_.out);
    steps_.out = nullptr;
    steps_.out_size = 0;
    folder_ = kNoFolder;
  }

  const CSzArEx* const db_;
  lzma::MappedFileAllocator* const allocator_;
  const ISzAllocPtr temp_alloc_;
  lzma::InPageErrorGuard* const guard_;
  lzma::EntryWriters* const writers_;
  FolderSteps steps_;
  UInt32 folder_ = kNoFolder;
  bool checked_ = false;

  DISALLOW_COPY_AND_ASSIGN(FolderStreamer);
};

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

  // Every entry: written by writer threads while this one decodes the
  // entries after them, step by step where the folder allows it, else a
  // whole folder at a time. Only some entries: one entry after the other
  // on this thread.
  const bool overlapped = names.empty();
  const std::vector<bool> streamable =
      overlapped ? StreamableFolders(db) : std::vector<bool>();
  std::unique_ptr<lzma::EntryWriters> writers;
  std::unique_ptr<FolderStreamer> streamer;
  base::TimeTicks started;
  if (overlapped) {
    const size_t stepwise =
        std::count(streamable.begin(), streamable.end(), true);
    LOG(INFO) << "Unpacking " << db->NumFiles << " entries while writing them; "
              << stepwise << " of " << streamable.size()
              << " blocks decoded step by step";
    started = base::TimeTicks::Now();
    writers = std::make_unique<lzma::EntryWriters>(WriterCount(), &allocator,
                                                   &guard);
    streamer = std::make_unique<FolderStreamer>(db, archive.stream(),
                                                &allocator, temp_heap.get(),
                                                &guard, writers.get());
  }
  UInt32 block_index = 0xFFFFFFFF;
  Byte* out_buffer = nullptr;
  size_t out_buffer_size = 0;
  int32_t handled = 0;
  uint32_t in_page_status = 0;
  // Whether an in-page error hit a reading of the block rather than the
  // decoder's writing of it.
  bool read_back = false;
  for (UInt32 i = 0; i < db->NumFiles && status == EXTRACT_SUCCESS; ++i) {
    if (!names.empty() && pending.empty())
      break;
    // A writer failed: the entries after it are not worth decoding.
    if (writers && writers->failed())
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

    const Byte* data = nullptr;
    size_t size = 0;
    const UInt32 folder = db->FileToFolder[i];
    const bool streamed =
        overlapped && folder != 0xFFFFFFFF && streamable[folder];
    if (streamed) {
      // One block is mapped at a time, and none goes while a writer reads.
      if (out_buffer) {
        writers->WaitIdle();
        ISzAlloc_Free(allocator.get(), out_buffer);
        out_buffer = nullptr;
        block_index = 0xFFFFFFFF;
      }
      status = streamer->Reach(i, &data, &in_page_status);
      size = static_cast<size_t>(SzArEx_GetFileSize(db, i));
    } else if (folder != 0xFFFFFFFF) {
      if (writers) {
        status = streamer->Finish(&in_page_status);
        if (status != EXTRACT_SUCCESS)
          break;
        if (out_buffer && block_index != folder)
          writers->WaitIdle();
      }
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
      if (!guard.Run(RunExtractCall, &call, &in_page_status)) {
        status = EXTRACT_IN_PAGE_ERROR;
      } else if (call.result != SZ_OK) {
        LOG(ERROR) << "Error returned by SzExtract: " << call.result;
        status = EXTRACT_DECODER_ERROR;
      } else {
        data = out_buffer + call.offset;
        size = call.size;
      }
    }
    if (status != EXTRACT_SUCCESS)
      break;

    const bool is_dir = SzArEx_IsDir(db, i);
    if (!EnsureFolder(is_dir ? path : path.DirName(), created_folders)) {
      status = EXTRACT_CREATE_FILE_FAILED;
      break;
    }
    if (is_dir)
      continue;
    lzma::EntryJob job;
    job.index = i;
    job.path = path;
    job.data = data;
    job.size = size;
    job.has_time = SzBitWithVals_Check(&db->MTime, i);
    if (job.has_time) {
      job.modified.dwLowDateTime = db->MTime.Vals[i].Low;
      job.modified.dwHighDateTime = db->MTime.Vals[i].High;
    }
    if (writers) {
      // A whole block's decoding checks an entry's bytes before they are
      // used; a streamed entry's the writer checks before making the file.
      job.has_crc = streamed && SzBitWithVals_Check(&db->CRCs, i);
      if (job.has_crc)
        job.crc = db->CRCs.Vals[i];
      writers->Add(std::move(job));
      continue;
    }
    bool created = false;
    status = lzma::WriteEntry(job, &guard, &in_page_status, &created);
    read_back = status == EXTRACT_IN_PAGE_ERROR;
    if (created && written_files)
      written_files->push_back(path);
  }
  // The rest of the block is decoded too: an extraction that ends well had
  // a whole, undamaged archive.
  if (streamer && status == EXTRACT_SUCCESS && !writers->failed())
    status = streamer->Finish(&in_page_status);
  if (writers) {
    // Every writer ends before the block goes. A writer's failure came at
    // an earlier entry than whatever stopped this thread.
    const base::TimeTicks decoded = base::TimeTicks::Now();
    uint32_t writer_in_page_status = 0;
    const uint8_t written =
        writers->Finish(written_files, &writer_in_page_status);
    if (written != EXTRACT_SUCCESS)
      status = written;
    if (written == EXTRACT_IN_PAGE_ERROR) {
      in_page_status = writer_in_page_status;
      read_back = true;
    }
    streamer.reset();
    // Which side holds the extraction up: the decoder, or the writers.
    const base::TimeTicks end = base::TimeTicks::Now();
    LOG(INFO) << "Handled " << handled << " entries in "
              << (end - started).InMilliseconds() << " ms; the writers ended "
              << (end - decoded).InMilliseconds()
              << " ms after the last entry was decoded";
  }
  if (status == EXTRACT_IN_PAGE_ERROR) {
    last_in_page_error_ = in_page_status;
    LOG(ERROR) << "EXCEPTION_IN_PAGE_ERROR while accessing mapped memory; "
                  "NTSTATUS = "
               << in_page_status;
    LOG(ERROR) << (read_back ? "Cannot read back the unpacked block on "
                             : "Cannot write the unpacked block to ")
               << lzma::GetVolumeRoot(destination).value()
               << (read_back ? " (did the drive fail?)"
                             : " (is the drive full?)");
    // The abandoned decoder's working buffers go with |temp_heap|.
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
