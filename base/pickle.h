#ifndef BASE_PICKLE_H_
#define BASE_PICKLE_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "base/memory/ref_counted.h"
#include "base/strings/string16.h"
#include "base/strings/string_piece.h"

namespace base {

class Pickle;

// Reads the fields of a Pickle back in the order they were written. It
// borrows the pickle's bytes: it must not outlive the pickle, and it never
// changes it. Every read returns false and leaves its output untouched on
// failure; almost every failure also moves the iterator to the end, so a
// reader that checks each result abandons a damaged record at once.
class PickleIterator {
 public:
  PickleIterator() = default;
  explicit PickleIterator(const Pickle& pickle);

  [[nodiscard]] bool ReadBool(bool* result);
  [[nodiscard]] bool ReadInt(int* result);
  [[nodiscard]] bool ReadUInt32(uint32_t* result);
  [[nodiscard]] bool ReadInt64(int64_t* result);
  [[nodiscard]] bool ReadUInt64(uint64_t* result);
  [[nodiscard]] bool ReadString(std::string* result);
  // Points into the pickle's payload; valid while the pickle lives.
  [[nodiscard]] bool ReadStringPiece(StringPiece* result);
  [[nodiscard]] bool ReadString16(string16* result);

  size_t read_index() const { return read_index_; }
  size_t end_index() const { return end_index_; }
  bool ReachedEnd() const { return read_index_ == end_index_; }

 private:
  // Copies |size| bytes of a fixed-size value and steps over its slot.
  [[nodiscard]] bool ReadBuiltinType(void* result, size_t size);
  // Returns the next |num_bytes| bytes and steps over them and their
  // padding, or null (with the iterator at the end) when they are not there.
  const char* GetReadPointerAndAdvance(size_t num_bytes);
  void Advance(size_t size);

  const char* payload_ = nullptr;
  size_t read_index_ = 0;
  size_t end_index_ = 0;
};

// A flat binary record: a 4-byte little-endian payload size, then the
// fields, each starting on a 4-byte boundary of the payload and padded with
// zeros. No type tags and no names: writer and reader agree on the sequence.
// The interprocess messages travel as pickle images, so the layout is a wire
// format and must not change.
class Pickle {
 public:
  // Side objects that a derived message kind may carry next to its bytes.
  class Attachment : public RefCountedThreadSafe<Attachment> {
   public:
    Attachment() = default;

   protected:
    friend class RefCountedThreadSafe<Attachment>;
    virtual ~Attachment() = default;

   private:
    DISALLOW_COPY_AND_ASSIGN(Attachment);
  };

  // An empty writable pickle: header of 4 bytes, room for 64 payload bytes.
  Pickle();
  // A read-only pickle over bytes it does not own (they must outlive it).
  // Bytes whose stored payload size does not fit their length give a
  // pickle without header, from which every read fails.
  Pickle(const char* data, int data_len);
  // Always writable and owning its buffer, even as a copy of a read-only
  // pickle.
  Pickle(const Pickle& other);
  Pickle& operator=(const Pickle& other);
  virtual ~Pickle();

  // A plain pickle carries no side objects: it drops the reference and
  // refuses.
  virtual bool AttachObject(scoped_refptr<Attachment> attachment);
  virtual bool ReadAttachedObject(PickleIterator* iter,
                                  scoped_refptr<Attachment>* attachment) const;
  virtual bool HasAttachedObjects() const;

  void WriteBool(bool value) { WriteInt(value ? 1 : 0); }
  void WriteInt(int value) { WriteBytes(&value, sizeof(value)); }
  void WriteUInt32(uint32_t value) { WriteBytes(&value, sizeof(value)); }
  void WriteInt64(int64_t value) { WriteBytes(&value, sizeof(value)); }
  void WriteUInt64(uint64_t value) { WriteBytes(&value, sizeof(value)); }
  void WriteString(StringPiece value);
  void WriteString16(StringPiece16 value);
  // Appends |length| raw bytes padded to a multiple of 4.
  void WriteBytes(const void* data, size_t length);

  // The image a sender writes out: header and payload.
  const void* data() const { return header_; }
  size_t size() const {
    return header_ ? header_size_ + payload_size() : header_size_;
  }
  size_t header_size() const { return header_size_; }
  size_t payload_size() const { return header_ ? header_->payload_size : 0; }
  const char* payload() const {
    return header_ ? reinterpret_cast<const char*>(header_) + header_size_
                   : nullptr;
  }
  size_t capacity_after_header() const { return capacity_after_header_; }
  bool is_read_only() const {
    return capacity_after_header_ == kCapacityReadOnly;
  }

 private:
  struct Header {
    uint32_t payload_size;
  };

  static constexpr size_t kCapacityReadOnly = static_cast<size_t>(-1);
  static constexpr size_t kPayloadUnit = 64;
  static constexpr size_t kGrowthPage = 4096;

  void Resize(size_t new_capacity);
  void CopyFrom(const Pickle& other);
  void FreeBuffer();

  Header* header_ = nullptr;
  size_t header_size_ = 0;
  size_t capacity_after_header_ = 0;
  size_t write_offset_ = 0;
};

}  // namespace base

#endif  // BASE_PICKLE_H_
