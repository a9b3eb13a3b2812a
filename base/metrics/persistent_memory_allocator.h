#ifndef BASE_METRICS_PERSISTENT_MEMORY_ALLOCATOR_H_
#define BASE_METRICS_PERSISTENT_MEMORY_ALLOCATOR_H_

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <memory>
#include <type_traits>

#include "base/strings/string_piece.h"

namespace base {

class HistogramBase;
class MemoryMappedFile;

// Hands out blocks of one flat memory segment that several threads, and
// several processes mapping the same segment, share without locks. A block
// is named by its reference: the offset of its header from the segment's
// start, so a reference means the same wherever the segment is mapped.
// Blocks are never freed; an unwanted one is retyped to 0.
//
// Nothing in the segment is trusted: every reference and header is checked
// on use, and an inconsistency marks the segment corrupt, after which no
// more is allocated. Failures answer 0 or null.
//
// Segment layout: a 64-byte header (the creator's identification and sizes,
// then the flags, the free pointer, the tail pointer and the head of the
// iteration queue), then the blocks, each with a 16-byte header (size,
// cookie, type id, next iterable block) before its data.
class PersistentMemoryAllocator {
 public:
  typedef uint32_t Reference;

  static constexpr Reference kReferenceNull = 0;
  // The head of the iteration queue, inside the segment header.
  static constexpr Reference kReferenceQueue = 48;

  static constexpr uint32_t kTypeIdAny = 0;
  // The type id a block carries while ChangeType clears it.
  static constexpr uint32_t kTypeIdTransitioning = 0xFFFFFFFF;

  static constexpr uint32_t kAllocAlignment = 8;
  static constexpr uint32_t kBlockHeaderSize = 16;
  static constexpr uint32_t kSegmentHeaderSize = 64;
  // The largest request Allocate accepts: 1 GiB less the block header.
  static constexpr uint32_t kMaxAllocationRequest = 0x3FFFFFF0;
  // A segment too small for its header and one block is refused.
  static constexpr size_t kSegmentMinSize = 128;
  // References and sizes are 32-bit.
  static constexpr size_t kSegmentMaxSize = 0xFFFFFFF8;
  // GetAsArray with this count accepts a block of any data size (at least
  // one byte).
  static constexpr size_t kSizeAny = 1;

  // Walks the iteration queue. Several threads may share one iterator; each
  // block is then returned to only one of them. A queue that loops back on
  // itself is reported as corruption instead of being followed forever.
  class Iterator {
   public:
    explicit Iterator(const PersistentMemoryAllocator* allocator);

    Iterator(const Iterator&) = delete;
    Iterator& operator=(const Iterator&) = delete;

    // The next iterable block and, when |type_return| is given, its type
    // id; 0 at the end of the queue or when the queue is broken.
    Reference GetNext(uint32_t* type_return);
    // The next iterable block of type |type_match|, skipping the others.
    Reference GetNextOfType(uint32_t type_match);
    // The last block returned; 0 before the first.
    Reference GetLast() const;
    // Starts again from the head of the queue.
    void Reset();

    const PersistentMemoryAllocator* allocator() const { return allocator_; }

   private:
    const PersistentMemoryAllocator* const allocator_;
    std::atomic<uint32_t> last_record_;
    std::atomic<uint32_t> record_count_;
  };

  // Attaches to the |size| bytes at |base|, which must be 8-byte aligned.
  // Blocks never cross a multiple of |page_size| (0: the whole segment is
  // one page); |size| must be a multiple of it. A segment whose header is
  // still all zero is set up here with |id| and |name| (unless
  // |read_only|); one set up before keeps its own id, name and sizes. An
  // unusable segment (bad arguments, or a header that does not describe a
  // segment fitting |size|) makes a corrupt allocator that answers every
  // request with 0 or null. Whoever maps the segment first sets it up,
  // before any other process attaches.
  //
  // A read-only allocator never writes to the segment: it allocates nothing
  // and changes no type, and corruption it finds is marked only locally.
  PersistentMemoryAllocator(void* base,
                            size_t size,
                            size_t page_size,
                            uint64_t id,
                            StringPiece name,
                            bool read_only);
  virtual ~PersistentMemoryAllocator();

  PersistentMemoryAllocator(const PersistentMemoryAllocator&) = delete;
  PersistentMemoryAllocator& operator=(const PersistentMemoryAllocator&) =
      delete;

  // Whether the arguments could make a usable allocator (not whether the
  // memory's contents are sound).
  static bool IsMemoryAcceptable(const void* base,
                                 size_t size,
                                 size_t page_size,
                                 bool read_only);

  uint64_t Id() const;
  // The name the segment was set up with; "" when there is none.
  const char* Name() const;
  bool IsReadonly() const { return read_only_; }
  const void* data() const { return mem_base_; }
  size_t size() const { return mem_size_; }
  // Bytes handed out so far, the segment header included.
  size_t used() const;

  // Creates the histograms "UMA.PersistentAllocator.<name>.Allocs" (the
  // requested sizes, 0 for a failure), ".UsedPct" (see below) and ".Errors"
  // (1 when corruption is first seen). Nothing is recorded before.
  void CreateTrackingHistograms(StringPiece name);
  // Records the used space, in percent of the segment.
  void UpdateTrackingHistograms();

  // A new block with at least |size| bytes of data, typed |type_id|; 0 when
  // the request is too large, the segment is full or corrupt, or the
  // allocator is read-only.
  Reference Allocate(size_t size, uint32_t type_id);

  // The usable bytes of a block (its size less the header); 0 for a bad
  // reference.
  size_t GetAllocSize(Reference ref) const;
  // The type id of a block; 0 for a bad reference.
  uint32_t GetType(Reference ref) const;

  // Changes a block's type from |from_type_id| to |to_type_id| atomically;
  // false when the block is not of |from_type_id|. With |clear| its data is
  // zeroed in between, while the block carries kTypeIdTransitioning (and
  // keeps it when that is |to_type_id|).
  bool ChangeType(Reference ref,
                  uint32_t to_type_id,
                  uint32_t from_type_id,
                  bool clear);

  // Appends a block to the iteration queue; a block already in it stays
  // where it is.
  void MakeIterable(Reference ref);

  // The data of a block of T's type id (T::kPersistentTypeId) holding at
  // least a T; null otherwise.
  template <typename T>
  T* GetAsObject(Reference ref) const {
    static_assert(std::is_standard_layout<T>::value, "plain layout only");
    return static_cast<T*>(GetBlockData(ref, T::kPersistentTypeId, sizeof(T)));
  }

  // The data of a block of |type_id| holding at least |count| Ts (any
  // number, when |count| is kSizeAny); null otherwise.
  template <typename T>
  T* GetAsArray(Reference ref, uint32_t type_id, size_t count) const {
    static_assert(std::is_standard_layout<T>::value, "plain layout only");
    return static_cast<T*>(
        GetBlockData(ref, type_id, count == kSizeAny ? 1 : count * sizeof(T)));
  }

  // The data of a block of |type_id| (kTypeIdAny: of any type) with at
  // least |size| bytes (at least 1 when |size| is 0); null otherwise.
  void* GetBlockData(Reference ref, uint32_t type_id, size_t size) const;

  // The reference of the block whose data starts at |memory| and that is of
  // |type_id| (or of any type for kTypeIdAny); 0 otherwise.
  Reference GetAsReference(const void* memory, uint32_t type_id) const;

  // Corruption is sticky: once seen, by this allocator or by another
  // mapping of the segment, it stays.
  bool IsCorrupt() const;
  bool IsFull() const;
  void SetCorrupt() const;

 private:
  struct BlockHeader;
  struct SharedMetadata;

  SharedMetadata* shared_meta() const;
  BlockHeader* GetBlock(Reference ref,
                        uint32_t type_id,
                        size_t size,
                        bool queue_ok,
                        bool free_ok) const;
  void SetUp(uint64_t id, StringPiece name);
  bool Attach(size_t mapped_size);
  void SetFlag(uint32_t flag) const;
  bool CheckFlag(uint32_t flag) const;
  uint32_t ReadFreePointer() const;
  Reference AllocateImpl(size_t size, uint32_t type_id);

  char* const mem_base_;
  uint32_t mem_size_ = 0;
  uint32_t mem_page_ = 0;
  const uint32_t vm_page_size_;
  const bool read_only_;
  mutable std::atomic<bool> corrupt_{false};

  HistogramBase* allocs_histogram_ = nullptr;
  HistogramBase* used_histogram_ = nullptr;
  HistogramBase* errors_histogram_ = nullptr;
};

// An allocator over memory of its own, zeroed, for a segment only this
// process uses.
class LocalPersistentMemoryAllocator : public PersistentMemoryAllocator {
 public:
  LocalPersistentMemoryAllocator(size_t size, uint64_t id, StringPiece name);
  ~LocalPersistentMemoryAllocator() override;

 private:
  static void* AllocateLocalMemory(size_t size);
};

// An allocator over a mapped file, which other processes may map too. A
// file of zeros is set up as a new segment (unless read-only).
class FilePersistentMemoryAllocator : public PersistentMemoryAllocator {
 public:
  // |max_size| 0 takes the whole file; a read-only mapping needs
  // |read_only|.
  FilePersistentMemoryAllocator(std::unique_ptr<MemoryMappedFile> file,
                                size_t max_size,
                                uint64_t id,
                                StringPiece name,
                                bool read_only);
  ~FilePersistentMemoryAllocator() override;

 private:
  std::unique_ptr<MemoryMappedFile> mapped_file_;
};

// A block of a persistent segment that is made on first use. Its reference
// lives in a slot of another record; several delayed allocations may share
// one slot (each with its own offset) to split one block between them.
class DelayedPersistentAllocation {
 public:
  // |allocator| and |ref| must outlive this object. |offset| is where this
  // user's part starts in the block; it lies below |size|.
  DelayedPersistentAllocation(
      PersistentMemoryAllocator* allocator,
      std::atomic<PersistentMemoryAllocator::Reference>* ref,
      uint32_t type,
      size_t size,
      size_t offset,
      bool make_iterable);
  ~DelayedPersistentAllocation();

  // This user's part of the block, allocating the block when the slot is
  // still empty; null when it cannot be made or found.
  void* Get() const;

  PersistentMemoryAllocator* allocator() const { return allocator_; }

  // The block's reference; 0 while it has not been made.
  PersistentMemoryAllocator::Reference reference() const {
    return reference_->load(std::memory_order_relaxed);
  }

 private:
  PersistentMemoryAllocator* const allocator_;
  const uint32_t type_;
  const uint32_t size_;
  const uint32_t offset_;
  const bool make_iterable_;
  std::atomic<PersistentMemoryAllocator::Reference>* const reference_;
};

}  // namespace base

#endif  // BASE_METRICS_PERSISTENT_MEMORY_ALLOCATOR_H_
