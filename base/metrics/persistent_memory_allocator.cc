#include "base/metrics/persistent_memory_allocator.h"

#include <windows.h>

#include <stddef.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "base/check.h"
#include "base/files/memory_mapped_file.h"
#include "base/logging.h"
#include "base/metrics/histogram.h"
#include "base/metrics/histogram_base.h"

namespace base {

namespace {

// Marks a segment header that was set up by this allocator.
constexpr uint32_t kSegmentCookie = 0x6B53474D;
constexpr uint32_t kSegmentVersion = 1;

constexpr uint32_t kBlockCookieAllocated = 0xC8799269;
constexpr uint32_t kBlockCookieWasted = 0xFFFFFFFF;

// Flags of the segment header.
constexpr uint32_t kFlagCorrupt = 0x1;
constexpr uint32_t kFlagFull = 0x2;

// The smallest block there can be: a header and 8 bytes of data. A page
// ending with less than this left over gives its rest to the block before.
constexpr uint32_t kMinBlockSize = 24;

constexpr uint32_t kNameMaxLength = 256;

uint32_t SystemPageSize() {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  return info.dwPageSize ? info.dwPageSize : 4096;
}

// The segment size and page size actually used for |size| and |page_size|.
uint32_t UsableSize(size_t size) {
  return static_cast<uint32_t>(
      std::min(size, PersistentMemoryAllocator::kSegmentMaxSize) &
      ~size_t{PersistentMemoryAllocator::kAllocAlignment - 1});
}

}  // namespace

struct PersistentMemoryAllocator::BlockHeader {
  std::atomic<uint32_t> size;
  std::atomic<uint32_t> cookie;
  std::atomic<uint32_t> type_id;
  std::atomic<uint32_t> next;
};

struct PersistentMemoryAllocator::SharedMetadata {
  // Set up by the creator and not changed after.
  std::atomic<uint32_t> cookie;
  uint32_t version;
  uint64_t id;
  uint32_t size;
  uint32_t page_size;
  std::atomic<uint32_t> name;  // a block holding the NUL-terminated name
  uint32_t reserved[2];
  // Shared state of the allocator.
  std::atomic<uint32_t> flags;
  std::atomic<uint32_t> freeptr;
  std::atomic<uint32_t> tailptr;
  BlockHeader queue;
};

// Iterator ------------------------------------------------------------------

PersistentMemoryAllocator::Iterator::Iterator(
    const PersistentMemoryAllocator* allocator)
    : allocator_(allocator), last_record_(kReferenceQueue), record_count_(0) {}

void PersistentMemoryAllocator::Iterator::Reset() {
  last_record_.store(kReferenceQueue, std::memory_order_relaxed);
  record_count_.store(0, std::memory_order_relaxed);
}

PersistentMemoryAllocator::Reference
PersistentMemoryAllocator::Iterator::GetLast() const {
  const Reference last = last_record_.load(std::memory_order_acquire);
  return last == kReferenceQueue ? kReferenceNull : last;
}

PersistentMemoryAllocator::Reference
PersistentMemoryAllocator::Iterator::GetNext(uint32_t* type_return) {
  const uint32_t count = record_count_.load(std::memory_order_relaxed);
  Reference last = last_record_.load(std::memory_order_acquire);
  Reference next;
  while (true) {
    const BlockHeader* block =
        allocator_->GetBlock(last, kTypeIdAny, 0, true, false);
    if (!block)
      return kReferenceNull;
    next = block->next.load(std::memory_order_acquire);
    if (next == kReferenceQueue)
      return kReferenceNull;
    const BlockHeader* next_block =
        allocator_->GetBlock(next, kTypeIdAny, 0, false, false);
    if (!next_block) {
      allocator_->SetCorrupt();
      return kReferenceNull;
    }
    // Another thread sharing this iterator may have moved on; take what
    // it left and go on from there.
    if (last_record_.compare_exchange_strong(
            last, next, std::memory_order_acq_rel, std::memory_order_acquire)) {
      if (type_return)
        *type_return = next_block->type_id.load(std::memory_order_relaxed);
      break;
    }
  }

  // A queue that points back into itself would be walked forever. No
  // segment can hold more blocks than fit in its used space, so more
  // records than that means a loop.
  const uint32_t freeptr =
      std::min(allocator_->ReadFreePointer(), allocator_->mem_size_);
  if (count > freeptr / kMinBlockSize) {
    allocator_->SetCorrupt();
    return kReferenceNull;
  }
  record_count_.fetch_add(1, std::memory_order_relaxed);
  return next;
}

PersistentMemoryAllocator::Reference
PersistentMemoryAllocator::Iterator::GetNextOfType(uint32_t type_match) {
  uint32_t type_found;
  while (Reference ref = GetNext(&type_found)) {
    if (type_found == type_match)
      return ref;
  }
  return kReferenceNull;
}

// PersistentMemoryAllocator -------------------------------------------------

// static
bool PersistentMemoryAllocator::IsMemoryAcceptable(const void* base,
                                                   size_t size,
                                                   size_t page_size,
                                                   bool read_only) {
  if (!base || reinterpret_cast<uintptr_t>(base) % kAllocAlignment != 0)
    return false;
  const uint32_t usable = UsableSize(size);
  if (usable < kSegmentMinSize)
    return false;
  if (page_size == 0)
    return true;
  // A page must hold the segment header and a block, and pages must tile
  // the segment: a block absorbing the end of its page never runs past the
  // segment's end.
  return page_size % kAllocAlignment == 0 && page_size >= kSegmentMinSize &&
         page_size <= usable && usable % page_size == 0;
}

PersistentMemoryAllocator::PersistentMemoryAllocator(void* base,
                                                     size_t size,
                                                     size_t page_size,
                                                     uint64_t id,
                                                     StringPiece name,
                                                     bool read_only)
    : mem_base_(static_cast<char*>(base)),
      vm_page_size_(SystemPageSize()),
      read_only_(read_only) {
  // The layout is shared with other processes and later readers.
  static_assert(std::atomic<uint32_t>::is_always_lock_free &&
                    sizeof(std::atomic<uint32_t>) == 4,
                "shared words must be plain lock-free words");
  static_assert(sizeof(BlockHeader) == kBlockHeaderSize, "");
  static_assert(offsetof(SharedMetadata, flags) == 36, "");
  static_assert(offsetof(SharedMetadata, freeptr) == 40, "");
  static_assert(offsetof(SharedMetadata, tailptr) == 44, "");
  static_assert(offsetof(SharedMetadata, queue) == kReferenceQueue, "");
  static_assert(sizeof(SharedMetadata) == kSegmentHeaderSize, "");

  if (!IsMemoryAcceptable(base, size, page_size, read_only)) {
    // Nothing validates against a zero size, so every request fails.
    LOG(ERROR) << "Unusable memory for a persistent segment.";
    corrupt_.store(true, std::memory_order_relaxed);
    return;
  }
  const uint32_t usable = UsableSize(size);
  SharedMetadata* meta = shared_meta();
  if (meta->cookie.load(std::memory_order_acquire) == 0 && !read_only) {
    // A fresh segment is all zero; anything else in its header means
    // someone else's data, which is left alone.
    const char* header = mem_base_;
    if (std::all_of(header, header + kSegmentHeaderSize,
                    [](char c) { return c == 0; })) {
      mem_size_ = usable;
      mem_page_ = page_size ? static_cast<uint32_t>(page_size) : usable;
      SetUp(id, name);
      return;
    }
  }
  if (!Attach(usable)) {
    mem_size_ = 0;
    mem_page_ = 0;
    corrupt_.store(true, std::memory_order_relaxed);
    LOG(ERROR) << "Corruption detected in shared-memory segment.";
  }
}

PersistentMemoryAllocator::~PersistentMemoryAllocator() = default;

PersistentMemoryAllocator::SharedMetadata*
PersistentMemoryAllocator::shared_meta() const {
  return reinterpret_cast<SharedMetadata*>(mem_base_);
}

void PersistentMemoryAllocator::SetUp(uint64_t id, StringPiece name) {
  SharedMetadata* meta = shared_meta();
  meta->version = kSegmentVersion;
  meta->id = id;
  meta->size = mem_size_;
  meta->page_size = mem_page_;
  meta->flags.store(0, std::memory_order_relaxed);
  meta->freeptr.store(kSegmentHeaderSize, std::memory_order_relaxed);
  meta->tailptr.store(kReferenceQueue, std::memory_order_relaxed);
  meta->queue.size.store(kBlockHeaderSize, std::memory_order_relaxed);
  meta->queue.cookie.store(kBlockCookieAllocated, std::memory_order_relaxed);
  meta->queue.type_id.store(0, std::memory_order_relaxed);
  meta->queue.next.store(kReferenceQueue, std::memory_order_relaxed);
  meta->cookie.store(kSegmentCookie, std::memory_order_release);

  if (!name.empty()) {
    const size_t length = std::min<size_t>(name.size(), kNameMaxLength);
    // The name block is no one's record: type 0, never iterable.
    const Reference ref = AllocateImpl(length + 1, kTypeIdAny);
    char* copy = static_cast<char*>(GetBlockData(ref, kTypeIdAny, length + 1));
    if (copy) {
      memcpy(copy, name.data(), length);
      copy[length] = '\0';
      meta->name.store(ref, std::memory_order_release);
    }
  }
}

bool PersistentMemoryAllocator::Attach(size_t mapped_size) {
  const SharedMetadata* meta = shared_meta();
  if (meta->cookie.load(std::memory_order_acquire) != kSegmentCookie ||
      meta->version != kSegmentVersion) {
    return false;
  }
  // The header's own sizes must describe a segment this mapping holds.
  const uint32_t size = meta->size;
  const uint32_t page = meta->page_size;
  if (size > mapped_size || !IsMemoryAcceptable(mem_base_, size, page, true) ||
      page == 0) {
    return false;
  }
  mem_size_ = size;
  mem_page_ = page;
  return true;
}

uint64_t PersistentMemoryAllocator::Id() const {
  return mem_size_ ? shared_meta()->id : 0;
}

const char* PersistentMemoryAllocator::Name() const {
  if (!mem_size_)
    return "";
  const Reference ref = shared_meta()->name.load(std::memory_order_acquire);
  const char* name = static_cast<const char*>(GetBlockData(ref, kTypeIdAny, 1));
  if (!name)
    return "";
  // The name must end inside its block.
  const size_t capacity = GetAllocSize(ref);
  if (!capacity || !memchr(name, '\0', capacity))
    return "";
  return name;
}

uint32_t PersistentMemoryAllocator::ReadFreePointer() const {
  if (!mem_size_)
    return 0;
  return shared_meta()->freeptr.load(std::memory_order_acquire);
}

size_t PersistentMemoryAllocator::used() const {
  return std::min(ReadFreePointer(), mem_size_);
}

void PersistentMemoryAllocator::CreateTrackingHistograms(StringPiece name) {
  if (name.empty())
    return;
  const std::string prefix =
      "UMA.PersistentAllocator." + std::string(name.data(), name.size());
  allocs_histogram_ =
      Histogram::FactoryGet(prefix + ".Allocs", 1, 10000, 50,
                            HistogramBase::kUmaTargetedHistogramFlag);
  used_histogram_ =
      LinearHistogram::FactoryGet(prefix + ".UsedPct", 1, 101, 21,
                                  HistogramBase::kUmaTargetedHistogramFlag);
  errors_histogram_ = LinearHistogram::FactoryGet(
      prefix + ".Errors", 1, 10, 11, HistogramBase::kUmaTargetedHistogramFlag);
}

void PersistentMemoryAllocator::UpdateTrackingHistograms() {
  if (!used_histogram_ || !mem_size_)
    return;
  used_histogram_->Add(
      static_cast<HistogramBase::Sample>(uint64_t{used()} * 100 / mem_size_));
}

PersistentMemoryAllocator::BlockHeader* PersistentMemoryAllocator::GetBlock(
    Reference ref,
    uint32_t type_id,
    size_t size,
    bool queue_ok,
    bool free_ok) const {
  // 64-bit sums: no reference or size read from the segment can wrap.
  if (ref == kReferenceQueue && queue_ok) {
    // The queue head lies inside the segment header.
  } else if (ref < kSegmentHeaderSize || ref % kAllocAlignment != 0) {
    return nullptr;
  }
  if (uint64_t{ref} + kBlockHeaderSize + size > mem_size_)
    return nullptr;
  BlockHeader* block = reinterpret_cast<BlockHeader*>(mem_base_ + ref);
  if (!free_ok) {
    const uint32_t block_size = block->size.load(std::memory_order_relaxed);
    if (block->cookie.load(std::memory_order_relaxed) !=
            kBlockCookieAllocated ||
        block_size < uint64_t{kBlockHeaderSize} + size ||
        uint64_t{ref} + block_size > mem_size_) {
      return nullptr;
    }
    if (type_id != kTypeIdAny &&
        block->type_id.load(std::memory_order_relaxed) != type_id) {
      return nullptr;
    }
  }
  return block;
}

void* PersistentMemoryAllocator::GetBlockData(Reference ref,
                                              uint32_t type_id,
                                              size_t size) const {
  BlockHeader* block =
      GetBlock(ref, type_id, std::max<size_t>(size, 1), false, false);
  if (!block)
    return nullptr;
  return reinterpret_cast<char*>(block) + kBlockHeaderSize;
}

PersistentMemoryAllocator::Reference PersistentMemoryAllocator::GetAsReference(
    const void* memory, uint32_t type_id) const {
  const char* address = static_cast<const char*>(memory);
  if (!mem_size_ || address < mem_base_ + kBlockHeaderSize ||
      address >= mem_base_ + mem_size_) {
    return kReferenceNull;
  }
  const Reference ref =
      static_cast<Reference>(address - mem_base_ - kBlockHeaderSize);
  return GetBlock(ref, type_id, 1, false, false) ? ref : kReferenceNull;
}

size_t PersistentMemoryAllocator::GetAllocSize(Reference ref) const {
  const BlockHeader* block = GetBlock(ref, kTypeIdAny, 0, false, false);
  if (!block)
    return 0;
  // Read again: another process may be writing the segment.
  const uint32_t size = block->size.load(std::memory_order_relaxed);
  if (size <= kBlockHeaderSize || uint64_t{ref} + size > mem_size_) {
    SetCorrupt();
    return 0;
  }
  return size - kBlockHeaderSize;
}

uint32_t PersistentMemoryAllocator::GetType(Reference ref) const {
  const BlockHeader* block = GetBlock(ref, kTypeIdAny, 0, false, false);
  return block ? block->type_id.load(std::memory_order_acquire) : 0;
}

bool PersistentMemoryAllocator::ChangeType(Reference ref,
                                           uint32_t to_type_id,
                                           uint32_t from_type_id,
                                           bool clear) {
  if (read_only_)
    return false;
  BlockHeader* block = GetBlock(ref, kTypeIdAny, 0, false, false);
  if (!block)
    return false;
  if (!clear) {
    return block->type_id.compare_exchange_strong(from_type_id, to_type_id,
                                                  std::memory_order_acq_rel,
                                                  std::memory_order_acquire);
  }
  // While the data is cleared the block carries a type no user asks for.
  if (!block->type_id.compare_exchange_strong(
          from_type_id, kTypeIdTransitioning, std::memory_order_acq_rel,
          std::memory_order_acquire)) {
    return false;
  }
  const uint32_t size = block->size.load(std::memory_order_relaxed);
  if (size <= kBlockHeaderSize || uint64_t{ref} + size > mem_size_) {
    SetCorrupt();
    return false;
  }
  std::atomic<uint32_t>* words = reinterpret_cast<std::atomic<uint32_t>*>(
      reinterpret_cast<char*>(block) + kBlockHeaderSize);
  const uint32_t word_count = (size - kBlockHeaderSize) / 4;
  for (uint32_t i = 0; i < word_count; ++i)
    words[i].store(0, std::memory_order_relaxed);
  if (to_type_id == kTypeIdTransitioning)
    return true;
  uint32_t expected = kTypeIdTransitioning;
  return block->type_id.compare_exchange_strong(expected, to_type_id,
                                                std::memory_order_acq_rel,
                                                std::memory_order_acquire);
}

PersistentMemoryAllocator::Reference PersistentMemoryAllocator::Allocate(
    size_t size, uint32_t type_id) {
  const Reference ref = AllocateImpl(size, type_id);
  if (allocs_histogram_) {
    allocs_histogram_->Add(ref ? static_cast<HistogramBase::Sample>(size) : 0);
  }
  return ref;
}

PersistentMemoryAllocator::Reference PersistentMemoryAllocator::AllocateImpl(
    size_t req_size, uint32_t type_id) {
  if (read_only_ || req_size > kMaxAllocationRequest)
    return kReferenceNull;
  uint32_t size = static_cast<uint32_t>(
      (req_size + kBlockHeaderSize + kAllocAlignment - 1) &
      ~size_t{kAllocAlignment - 1});
  if (size <= kBlockHeaderSize || size > mem_page_)
    return kReferenceNull;

  SharedMetadata* meta = shared_meta();
  uint32_t freeptr = meta->freeptr.load(std::memory_order_acquire);
  while (true) {
    if (IsCorrupt())
      return kReferenceNull;
    if (uint64_t{freeptr} + size > mem_size_) {
      SetFlag(kFlagFull);
      return kReferenceNull;
    }
    BlockHeader* block = GetBlock(freeptr, kTypeIdAny, 0, false, true);
    if (!block) {
      SetCorrupt();
      return kReferenceNull;
    }

    // No block crosses a page: what is left of this page is given up as
    // a wasted block, and the request goes to the next page.
    const uint32_t page_free = mem_page_ - freeptr % mem_page_;
    if (size > page_free) {
      if (page_free <= kBlockHeaderSize) {
        SetCorrupt();
        return kReferenceNull;
      }
      const uint32_t new_freeptr = freeptr + page_free;
      if (meta->freeptr.compare_exchange_strong(freeptr, new_freeptr,
                                                std::memory_order_acq_rel,
                                                std::memory_order_acquire)) {
        block->size.store(page_free, std::memory_order_relaxed);
        block->cookie.store(kBlockCookieWasted, std::memory_order_release);
        freeptr = new_freeptr;
      }
      continue;
    }

    // A rest too small for any block goes with this one.
    uint32_t block_size = size;
    if (page_free - size < kMinBlockSize)
      block_size = page_free;
    if (uint64_t{freeptr} + block_size > mem_size_) {
      SetCorrupt();
      return kReferenceNull;
    }
    if (!meta->freeptr.compare_exchange_strong(freeptr, freeptr + block_size,
                                               std::memory_order_acq_rel,
                                               std::memory_order_acquire)) {
      continue;  // |freeptr| now holds what another thread left
    }

    // Fresh space is all zero; anything else means someone wrote where
    // no block was.
    if (block->size.load(std::memory_order_relaxed) != 0 ||
        block->cookie.load(std::memory_order_relaxed) != 0 ||
        block->type_id.load(std::memory_order_relaxed) != 0 ||
        block->next.load(std::memory_order_relaxed) != 0) {
      SetCorrupt();
      return kReferenceNull;
    }

    // Touch every further memory page of the block now, so that a segment
    // whose memory is missing fails here rather than in the block's user.
    const uintptr_t block_start = reinterpret_cast<uintptr_t>(block);
    const uintptr_t block_end = block_start + block_size;
    for (uintptr_t page = (block_start + kBlockHeaderSize + vm_page_size_ - 1) /
                          vm_page_size_ * vm_page_size_;
         page < block_end; page += vm_page_size_) {
      reinterpret_cast<volatile char*>(page)[0] = 0;
    }

    block->size.store(block_size, std::memory_order_relaxed);
    block->type_id.store(type_id, std::memory_order_relaxed);
    block->cookie.store(kBlockCookieAllocated, std::memory_order_release);
    return freeptr;
  }
}

void PersistentMemoryAllocator::MakeIterable(Reference ref) {
  if (read_only_ || IsCorrupt())
    return;
  BlockHeader* block = GetBlock(ref, kTypeIdAny, 0, false, false);
  if (!block)
    return;
  // Only one caller puts a block in the queue; a second does nothing.
  uint32_t expected = 0;
  if (!block->next.compare_exchange_strong(expected, kReferenceQueue,
                                           std::memory_order_acq_rel,
                                           std::memory_order_acquire)) {
    return;
  }

  SharedMetadata* meta = shared_meta();
  // Each failed exchange means the queue grew by a block; a queue longer
  // than the segment can hold blocks is a loop.
  uint32_t steps_left = mem_size_ / kMinBlockSize + 1;
  Reference tail = meta->tailptr.load(std::memory_order_acquire);
  while (steps_left-- > 0) {
    BlockHeader* tail_block = GetBlock(tail, kTypeIdAny, 0, true, false);
    if (!tail_block) {
      SetCorrupt();
      return;
    }
    uint32_t next = kReferenceQueue;
    if (tail_block->next.compare_exchange_strong(
            next, ref, std::memory_order_acq_rel, std::memory_order_acquire)) {
      // Whoever moves the tail pointer first is right; a failure here means
      // another thread already moved it on.
      meta->tailptr.compare_exchange_strong(
          tail, ref, std::memory_order_acq_rel, std::memory_order_acquire);
      return;
    }
    // Another block was appended but the tail pointer not yet moved: help
    // it along and try again at the real end.
    meta->tailptr.compare_exchange_strong(tail, next, std::memory_order_acq_rel,
                                          std::memory_order_acquire);
    tail = meta->tailptr.load(std::memory_order_acquire);
  }
  SetCorrupt();
}

void PersistentMemoryAllocator::SetFlag(uint32_t flag) const {
  if (read_only_ || !mem_size_)
    return;
  shared_meta()->flags.fetch_or(flag, std::memory_order_acq_rel);
}

bool PersistentMemoryAllocator::CheckFlag(uint32_t flag) const {
  if (!mem_size_)
    return false;
  return (shared_meta()->flags.load(std::memory_order_acquire) & flag) != 0;
}

void PersistentMemoryAllocator::SetCorrupt() const {
  // Mark the segment before saying anything: the log line may itself be
  // written into this segment (the activity tracker records log messages),
  // and that allocation must see the mark and fail quietly instead of
  // finding the corruption again and logging again without end.
  const bool first = !corrupt_.exchange(true, std::memory_order_relaxed) &&
                     !CheckFlag(kFlagCorrupt);
  SetFlag(kFlagCorrupt);
  if (!first)
    return;
  LOG(ERROR) << "Corruption detected in shared-memory segment.";
  if (errors_histogram_)
    errors_histogram_->Add(1);
}

bool PersistentMemoryAllocator::IsCorrupt() const {
  if (corrupt_.load(std::memory_order_relaxed) || CheckFlag(kFlagCorrupt)) {
    SetCorrupt();
    return true;
  }
  return false;
}

bool PersistentMemoryAllocator::IsFull() const {
  return CheckFlag(kFlagFull);
}

// LocalPersistentMemoryAllocator --------------------------------------------

LocalPersistentMemoryAllocator::LocalPersistentMemoryAllocator(size_t size,
                                                               uint64_t id,
                                                               StringPiece name)
    : PersistentMemoryAllocator(
          AllocateLocalMemory(size), size, 0, id, name, false) {}

LocalPersistentMemoryAllocator::~LocalPersistentMemoryAllocator() {
  if (data())
    ::VirtualFree(const_cast<void*>(data()), 0, MEM_RELEASE);
}

// static
void* LocalPersistentMemoryAllocator::AllocateLocalMemory(size_t size) {
  if (!size)
    return nullptr;
  // Committed pages come zeroed, as a fresh segment must be.
  return ::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT,
                        PAGE_READWRITE);
}

// FilePersistentMemoryAllocator ---------------------------------------------

FilePersistentMemoryAllocator::FilePersistentMemoryAllocator(
    std::unique_ptr<MemoryMappedFile> file,
    size_t max_size,
    uint64_t id,
    StringPiece name,
    bool read_only)
    : PersistentMemoryAllocator(
          file && file->IsValid() ? file->data() : nullptr,
          file && file->IsValid() && max_size
              ? std::min(max_size, file->length())
              : (file ? file->length() : 0),
          0,
          id,
          name,
          read_only),
      mapped_file_(std::move(file)) {}

FilePersistentMemoryAllocator::~FilePersistentMemoryAllocator() = default;

// DelayedPersistentAllocation -----------------------------------------------

DelayedPersistentAllocation::DelayedPersistentAllocation(
    PersistentMemoryAllocator* allocator,
    std::atomic<PersistentMemoryAllocator::Reference>* ref,
    uint32_t type,
    size_t size,
    size_t offset,
    bool make_iterable)
    : allocator_(allocator),
      type_(type),
      size_(static_cast<uint32_t>(size)),
      offset_(static_cast<uint32_t>(offset)),
      make_iterable_(make_iterable),
      reference_(ref) {
  DCHECK(allocator_);
  DCHECK(reference_);
  DCHECK(size_ > 0);
  DCHECK(offset_ < size_);
}

DelayedPersistentAllocation::~DelayedPersistentAllocation() = default;

void* DelayedPersistentAllocation::Get() const {
  PersistentMemoryAllocator::Reference ref =
      reference_->load(std::memory_order_acquire);
  if (!ref) {
    ref = allocator_->Allocate(size_, type_);
    if (!ref)
      return nullptr;
    PersistentMemoryAllocator::Reference existing = 0;
    if (reference_->compare_exchange_strong(existing, ref,
                                            std::memory_order_acq_rel,
                                            std::memory_order_acquire)) {
      if (make_iterable_)
        allocator_->MakeIterable(ref);
    } else {
      // Another thread (or process) made the block first: give this one
      // up and use theirs.
      allocator_->ChangeType(ref, 0, type_, false);
      ref = existing;
    }
  }
  char* mem = allocator_->GetAsArray<char>(ref, type_, size_);
  return mem ? mem + offset_ : nullptr;
}

}  // namespace base
