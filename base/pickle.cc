#include "base/pickle.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "base/check.h"
#include "base/memory/allocation_probe.h"

namespace base {

namespace {

constexpr size_t AlignInt(size_t value, size_t alignment) {
  return ((value + alignment - 1) / alignment) * alignment;
}

}  // namespace

// PickleIterator --------------------------------------------------------------

PickleIterator::PickleIterator(const Pickle& pickle)
    : payload_(pickle.payload()),
      read_index_(0),
      end_index_(pickle.payload_size()) {}

void PickleIterator::Advance(size_t size) {
  size_t aligned = AlignInt(size, sizeof(uint32_t));
  if (end_index_ - read_index_ < aligned)
    read_index_ = end_index_;
  else
    read_index_ += aligned;
}

bool PickleIterator::ReadBuiltinType(void* result, size_t size) {
  if (end_index_ - read_index_ < size) {
    read_index_ = end_index_;
    return false;
  }
  memcpy(result, payload_ + read_index_, size);
  Advance(size);
  return true;
}

const char* PickleIterator::GetReadPointerAndAdvance(size_t num_bytes) {
  if (num_bytes > end_index_ - read_index_) {
    read_index_ = end_index_;
    return nullptr;
  }
  const char* current = payload_ + read_index_;
  Advance(num_bytes);
  return current;
}

bool PickleIterator::ReadBool(bool* result) {
  // Only the low byte of the 4-byte slot counts.
  uint8_t byte;
  if (!ReadBuiltinType(&byte, sizeof(byte)))
    return false;
  *result = byte != 0;
  return true;
}

bool PickleIterator::ReadInt(int* result) {
  return ReadBuiltinType(result, sizeof(*result));
}

bool PickleIterator::ReadUInt32(uint32_t* result) {
  return ReadBuiltinType(result, sizeof(*result));
}

bool PickleIterator::ReadInt64(int64_t* result) {
  return ReadBuiltinType(result, sizeof(*result));
}

bool PickleIterator::ReadUInt64(uint64_t* result) {
  return ReadBuiltinType(result, sizeof(*result));
}

bool PickleIterator::ReadStringPiece(StringPiece* result) {
  int length;
  if (!ReadInt(&length))
    return false;
  if (length < 0) {
    read_index_ = end_index_;
    return false;
  }
  const char* bytes = GetReadPointerAndAdvance(static_cast<size_t>(length));
  if (!bytes)
    return false;
  *result = StringPiece(bytes, static_cast<size_t>(length));
  return true;
}

bool PickleIterator::ReadString(std::string* result) {
  StringPiece piece;
  if (!ReadStringPiece(&piece))
    return false;
  // The count comes from the input; a string the heap cannot hold fails the
  // read instead of the process.
  if (!CanAllocate(piece.size() + 1)) {
    read_index_ = end_index_;
    return false;
  }
  result->assign(piece.data(), piece.size());
  return true;
}

bool PickleIterator::ReadString16(string16* result) {
  int length;
  if (!ReadInt(&length))
    return false;
  // A count whose byte size cannot even be formed is refused before it can
  // overflow; the iterator stays just behind the count.
  if (length < 0 || length > INT_MAX / 2)
    return false;
  size_t num_bytes = static_cast<size_t>(length) * sizeof(char16);
  const char* bytes = GetReadPointerAndAdvance(num_bytes);
  if (!bytes)
    return false;
  // The count comes from the input; a string the heap cannot hold fails the
  // read instead of the process.
  if (!CanAllocate(num_bytes + sizeof(char16))) {
    read_index_ = end_index_;
    return false;
  }
  string16 text(static_cast<size_t>(length), L'\0');
  if (num_bytes)
    memcpy(&text[0], bytes, num_bytes);
  result->swap(text);
  return true;
}

// Pickle ----------------------------------------------------------------------

Pickle::Pickle()
    : header_size_(sizeof(Header)),
      capacity_after_header_(0),
      write_offset_(0) {
  Resize(kPayloadUnit);
  header_->payload_size = 0;
}

Pickle::Pickle(const char* data, int data_len)
    : header_(reinterpret_cast<Header*>(const_cast<char*>(data))),
      header_size_(0),
      capacity_after_header_(kCapacityReadOnly),
      write_offset_(0) {
  if (data && data_len >= static_cast<int>(sizeof(Header))) {
    uint32_t payload_size;
    memcpy(&payload_size, data, sizeof(payload_size));
    // Unsigned arithmetic: a payload size larger than the data wraps to a
    // huge header size, which the next test throws out.
    uint32_t header_size = static_cast<uint32_t>(data_len) - payload_size;
    header_size_ = header_size;
    if (header_size_ > static_cast<size_t>(data_len))
      header_size_ = 0;
  }
  if (header_size_ != AlignInt(header_size_, sizeof(uint32_t)))
    header_size_ = 0;
  if (header_size_ == 0)
    header_ = nullptr;
}

Pickle::Pickle(const Pickle& other) {
  CopyFrom(other);
}

Pickle& Pickle::operator=(const Pickle& other) {
  if (this != &other) {
    FreeBuffer();
    CopyFrom(other);
  }
  return *this;
}

Pickle::~Pickle() {
  FreeBuffer();
}

void Pickle::FreeBuffer() {
  if (!is_read_only())
    free(header_);
  header_ = nullptr;
  capacity_after_header_ = 0;
}

void Pickle::CopyFrom(const Pickle& other) {
  header_ = nullptr;
  capacity_after_header_ = 0;
  if (!other.header_) {
    // A pickle without header holds nothing to copy; the copy is an empty
    // writable pickle rather than one that cannot record its size.
    header_size_ = sizeof(Header);
    write_offset_ = 0;
    Resize(kPayloadUnit);
    header_->payload_size = 0;
    return;
  }
  size_t payload_size = other.payload_size();
  header_size_ = other.header_size_;
  write_offset_ = payload_size;
  Resize(AlignInt(payload_size, kPayloadUnit));
  memcpy(header_, other.header_, header_size_ + payload_size);
}

void Pickle::Resize(size_t new_capacity) {
  CHECK(!is_read_only());
  CHECK(new_capacity <= (static_cast<size_t>(-1) >> 1) - header_size_);
  size_t bytes = header_size_ + new_capacity;
  void* buffer = realloc(header_, bytes ? bytes : 1);
  CHECK(buffer);
  header_ = static_cast<Header*>(buffer);
  capacity_after_header_ = new_capacity;
}

void Pickle::WriteBytes(const void* data, size_t length) {
  CHECK(!is_read_only());
  size_t aligned = AlignInt(length, sizeof(uint32_t));
  CHECK(aligned >= length);
  size_t new_size = write_offset_ + aligned;
  // The header records the payload size in 32 bits.
  CHECK(new_size >= write_offset_ && new_size <= UINT32_MAX);
  if (new_size > capacity_after_header_) {
    size_t candidate = capacity_after_header_ * 2;
    if (candidate > kGrowthPage)
      candidate = AlignInt(candidate, kGrowthPage) - kPayloadUnit;
    Resize(AlignInt(std::max(candidate, new_size), kPayloadUnit));
  }
  char* write = reinterpret_cast<char*>(header_) + header_size_ + write_offset_;
  memset(write + length, 0, aligned - length);
  header_->payload_size = static_cast<uint32_t>(new_size);
  if (length)
    memcpy(write, data, length);
  write_offset_ = new_size;
}

void Pickle::WriteString(StringPiece value) {
  CHECK(value.size() <= static_cast<size_t>(INT_MAX));
  WriteInt(static_cast<int>(value.size()));
  WriteBytes(value.data(), value.size());
}

void Pickle::WriteString16(StringPiece16 value) {
  CHECK(value.size() <= static_cast<size_t>(INT_MAX / 2));
  WriteInt(static_cast<int>(value.size()));
  WriteBytes(value.data(), value.size() * sizeof(char16));
}

bool Pickle::AttachObject(scoped_refptr<Attachment> attachment) {
  // |attachment| goes out of scope here, releasing the caller's reference.
  return false;
}

bool Pickle::ReadAttachedObject(PickleIterator* iter,
                                scoped_refptr<Attachment>* attachment) const {
  return false;
}

bool Pickle::HasAttachedObjects() const {
  return false;
}

}  // namespace base
