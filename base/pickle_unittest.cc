#include "base/pickle.h"

#include <limits.h>
#include <stdint.h>
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

std::vector<uint8_t> Image(const Pickle& pickle) {
  const uint8_t* bytes = static_cast<const uint8_t*>(pickle.data());
  return std::vector<uint8_t>(bytes, bytes + pickle.size());
}

// Little-endian bytes of |values|, for building foreign records by hand.
std::string Words(std::initializer_list<uint32_t> values) {
  std::string out;
  for (uint32_t v : values)
    out.append(reinterpret_cast<const char*>(&v), sizeof(v));
  return out;
}

TEST(PickleTest, NewPickleIsFourZeroBytes) {
  Pickle pickle;
  EXPECT_EQ(std::vector<uint8_t>({0, 0, 0, 0}), Image(pickle));
  EXPECT_EQ(4u, pickle.header_size());
  EXPECT_EQ(64u, pickle.capacity_after_header());
}

TEST(PickleTest, StringImages) {
  Pickle pickle;
  pickle.WriteString("abc");
  EXPECT_EQ(std::vector<uint8_t>({8, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 'c', 0}),
            Image(pickle));

  Pickle empty;
  empty.WriteString("");
  EXPECT_EQ(std::vector<uint8_t>({4, 0, 0, 0, 0, 0, 0, 0}), Image(empty));

  Pickle wide;
  wide.WriteString16(L"xyz");
  EXPECT_EQ(std::vector<uint8_t>(
                {12, 0, 0, 0, 3, 0, 0, 0, 'x', 0, 'y', 0, 'z', 0, 0, 0}),
            Image(wide));
}

TEST(PickleTest, Int64IsAlignedToFourOnly) {
  Pickle pickle;
  pickle.WriteInt(7);
  pickle.WriteInt64(0x0102030405060708LL);
  std::vector<uint8_t> image = Image(pickle);
  ASSERT_EQ(16u, image.size());
  EXPECT_EQ(12u, pickle.payload_size());
  EXPECT_EQ(0x08, image[8]);
  EXPECT_EQ(0x01, image[15]);
  PickleIterator iter(pickle);
  int i;
  int64_t j;
  EXPECT_TRUE(iter.ReadInt(&i));
  EXPECT_TRUE(iter.ReadInt64(&j));
  EXPECT_EQ(7, i);
  EXPECT_EQ(0x0102030405060708LL, j);
  EXPECT_TRUE(iter.ReachedEnd());
}

TEST(PickleTest, RoundTripOfEveryField) {
  Pickle pickle;
  pickle.WriteBool(true);
  pickle.WriteBool(false);
  pickle.WriteInt(-5);
  pickle.WriteUInt32(0xFFFFFFFFu);
  pickle.WriteUInt64(0xFEDCBA9876543210ULL);
  pickle.WriteString("hello");
  pickle.WriteString16(L"w\u00e9");

  PickleIterator iter(pickle);
  bool b1 = false, b2 = true;
  int i = 0;
  uint32_t u = 0;
  uint64_t u64 = 0;
  std::string s;
  string16 s16;
  EXPECT_TRUE(iter.ReadBool(&b1));
  EXPECT_TRUE(iter.ReadBool(&b2));
  EXPECT_TRUE(iter.ReadInt(&i));
  EXPECT_TRUE(iter.ReadUInt32(&u));
  EXPECT_TRUE(iter.ReadUInt64(&u64));
  EXPECT_TRUE(iter.ReadString(&s));
  EXPECT_TRUE(iter.ReadString16(&s16));
  EXPECT_TRUE(b1);
  EXPECT_FALSE(b2);
  EXPECT_EQ(-5, i);
  EXPECT_EQ(0xFFFFFFFFu, u);
  EXPECT_EQ(0xFEDCBA9876543210ULL, u64);
  EXPECT_EQ("hello", s);
  EXPECT_EQ(L"w\u00e9", s16);
  EXPECT_FALSE(iter.ReadInt(&i));
  EXPECT_EQ(-5, i);
}

TEST(PickleTest, CapacityGrowthSteps) {
  Pickle pickle;
  for (int i = 0; i < 16; ++i)
    pickle.WriteInt(i);
  EXPECT_EQ(64u, pickle.capacity_after_header());
  pickle.WriteInt(16);
  EXPECT_EQ(128u, pickle.capacity_after_header());

  std::vector<size_t> steps;
  size_t last = pickle.capacity_after_header();
  while (pickle.payload_size() < 32704) {
    pickle.WriteInt(0);
    if (pickle.capacity_after_header() != last) {
      last = pickle.capacity_after_header();
      steps.push_back(last);
    }
  }
  EXPECT_EQ(
      std::vector<size_t>({256, 512, 1024, 2048, 4096, 8128, 16320, 32704}),
      steps);

  // A single large field outgrows doubling: the capacity is the new size
  // rounded up to the payload unit.
  Pickle big;
  std::string blob(1000, 'x');
  big.WriteString(blob);
  EXPECT_EQ(1024u, big.capacity_after_header());
  EXPECT_EQ(1004u, big.payload_size());
}

TEST(PickleTest, ReadOnlyHeaderRules) {
  const struct {
    std::string data;
    int length;
  } kBroken[] = {
      {std::string(3, '\0'), 3},  // Too short to hold a payload size.
      {Words({100, 1}), 8},       // Payload larger than the data.
      // 10 bytes with a payload of 4: a 6-byte header is not a multiple of 4.
      {Words({4, 0}) + std::string("\1\0", 2), 10},
      {Words({8, 5}), 8},     // No room left for the header.
      {Words({100, 1}), -4},  // Negative length.
  };
  for (const auto& c : kBroken) {
    SCOPED_TRACE(c.length);
    Pickle pickle(c.data.data(), c.length);
    EXPECT_EQ(0u, pickle.header_size());
    EXPECT_EQ(nullptr, pickle.data());
    int value = 42;
    PickleIterator iter(pickle);
    EXPECT_FALSE(iter.ReadInt(&value));
    EXPECT_EQ(42, value);
  }
}

TEST(PickleTest, ReadOnlyWithLongerHeader) {
  std::string data = Words({4, 0xAAAAAAAA, 77});
  Pickle pickle(data.data(), 12);
  EXPECT_EQ(8u, pickle.header_size());
  EXPECT_EQ(4u, pickle.payload_size());
  EXPECT_EQ(12u, pickle.size());
  PickleIterator iter(pickle);
  int value = 0;
  EXPECT_TRUE(iter.ReadInt(&value));
  EXPECT_EQ(77, value);
  EXPECT_FALSE(iter.ReadInt(&value));
}

TEST(PickleTest, ShortReadsAtTheEnd) {
  // Payload of 3 bytes: too few for an int, enough for a bool.
  std::string data = Words({3}) + std::string("\1\0\0", 3);
  Pickle pickle(data.data(), static_cast<int>(data.size()));
  {
    PickleIterator iter(pickle);
    int value = 9;
    bool flag = false;
    EXPECT_FALSE(iter.ReadInt(&value));
    EXPECT_EQ(9, value);
    EXPECT_TRUE(iter.ReachedEnd());
    EXPECT_FALSE(iter.ReadBool(&flag));
  }
  {
    PickleIterator iter(pickle);
    bool flag = false;
    EXPECT_TRUE(iter.ReadBool(&flag));
    EXPECT_TRUE(flag);
    EXPECT_TRUE(iter.ReachedEnd());
  }
  {
    // A 3-byte string missing its padding byte at the end of the data.
    std::string text = Words({7, 3}) + "abc";
    Pickle unpadded(text.data(), static_cast<int>(text.size()));
    PickleIterator iter(unpadded);
    std::string s;
    EXPECT_TRUE(iter.ReadString(&s));
    EXPECT_EQ("abc", s);
    EXPECT_TRUE(iter.ReachedEnd());
  }
}

// Each record is a string count, then the int 5 or the string's bytes.
TEST(PickleTest, HostileStringCounts) {
  const struct {
    std::string data;
    bool wide;
    bool read_ok;
    bool int_follows;  // whether the next ReadInt gives the 5
  } kCases[] = {
      // Count -1: the narrow read fails and moves to the end; the 16-bit
      // read stays behind the count, so the next field is read.
      {Words({8, 0xFFFFFFFF, 5}), false, false, false},
      {Words({8, 0xFFFFFFFF, 5}), true, false, true},
      // A count whose doubled size overflows 31 bits.
      {Words({8, 0x40000000u, 5}), true, false, true},
      // Large but formable counts run past the data.
      {Words({8, 0x7FFFFFFF, 5}), false, false, false},
      {Words({8, 0x3FFFFFFF, 5}), true, false, false},
      // A count that exactly fits succeeds; one byte more fails.
      {Words({8, 4}) + "wxyz", false, true, false},
      {Words({8, 5}) + "wxyz", false, false, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message()
                 << (c.wide ? "wide " : "narrow ") << c.data.size()
                 << " bytes, count "
                 << *reinterpret_cast<const uint32_t*>(c.data.data() + 4));
    Pickle pickle(c.data.data(), static_cast<int>(c.data.size()));
    PickleIterator iter(pickle);
    if (c.wide) {
      string16 s = L"keep";
      EXPECT_EQ(c.read_ok, iter.ReadString16(&s));
      EXPECT_EQ(L"keep", s);
    } else {
      std::string s = "keep";
      EXPECT_EQ(c.read_ok, iter.ReadString(&s));
      EXPECT_EQ(c.read_ok ? "wxyz" : "keep", s);
      PickleIterator piece_iter(pickle);
      StringPiece piece;
      EXPECT_EQ(c.read_ok, piece_iter.ReadStringPiece(&piece));
    }
    int value = 0;
    EXPECT_EQ(c.int_follows, iter.ReadInt(&value));
    EXPECT_EQ(c.int_follows ? 5 : 0, value);
  }
}

// Strings whose counts fit the data but not the heap (the heap refuses
// blocks near 2 GiB) fail the read instead of ending the process. Only the
// first page of the data is committed: a reader that checks before it
// allocates never touches the rest.
TEST(PickleTest, StringsTooLargeForTheHeapFailTheRead) {
  const size_t kDataSize = INT_MAX;
  char* data = static_cast<char*>(
      ::VirtualAlloc(nullptr, kDataSize, MEM_RESERVE, PAGE_NOACCESS));
  ASSERT_TRUE(data);
  ASSERT_TRUE(::VirtualAlloc(data, 4096, MEM_COMMIT, PAGE_READWRITE));
  const uint32_t payload_size = INT_MAX - 4;
  memcpy(data, &payload_size, 4);
  const struct {
    uint32_t count;
    bool wide;
  } kCases[] = {
      {INT_MAX - 8, false},       // Every payload byte after the count.
      {(INT_MAX - 8) / 2, true},  // About 2^30 16-bit units.
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.count);
    memcpy(data + 4, &c.count, 4);
    Pickle pickle(data, static_cast<int>(kDataSize));
    PickleIterator iter(pickle);
    int value = 0;
    if (c.wide) {
      string16 s = L"keep";
      EXPECT_FALSE(iter.ReadString16(&s));
      EXPECT_EQ(L"keep", s);
    } else {
      std::string s = "keep";
      EXPECT_FALSE(iter.ReadString(&s));
      EXPECT_EQ("keep", s);
    }
    EXPECT_FALSE(iter.ReadInt(&value));
  }
  ::VirtualFree(data, 0, MEM_RELEASE);
}

TEST(PickleTest, CopyOfReadOnlyPickleIsWritable) {
  std::string data = Words({4, 11});
  const std::string original = data;
  Pickle read_only(data.data(), static_cast<int>(data.size()));
  ASSERT_TRUE(read_only.is_read_only());
  Pickle copy(read_only);
  EXPECT_FALSE(copy.is_read_only());
  EXPECT_EQ(64u, copy.capacity_after_header());
  copy.WriteInt(22);
  EXPECT_EQ(original, data);
  EXPECT_EQ(8u, copy.payload_size());
  PickleIterator iter(copy);
  int a = 0, b = 0;
  EXPECT_TRUE(iter.ReadInt(&a));
  EXPECT_TRUE(iter.ReadInt(&b));
  EXPECT_EQ(11, a);
  EXPECT_EQ(22, b);

  // Copy and assignment of a writable pickle are deep.
  Pickle assigned;
  assigned = copy;
  copy.WriteInt(33);
  EXPECT_EQ(8u, assigned.payload_size());
  EXPECT_EQ(12u, copy.payload_size());

  // A copy of a pickle without header is an empty writable one.
  Pickle broken("\1\2\3", 3);
  Pickle fixed(broken);
  EXPECT_EQ(std::vector<uint8_t>({0, 0, 0, 0}), Image(fixed));
  fixed.WriteInt(1);
  EXPECT_EQ(4u, fixed.payload_size());
}

class CountedAttachment : public Pickle::Attachment {
 public:
  explicit CountedAttachment(int* destroyed) : destroyed_(destroyed) {}

 private:
  ~CountedAttachment() override { ++*destroyed_; }
  int* destroyed_;
};

TEST(PickleTest, PlainPickleRefusesAttachments) {
  int destroyed = 0;
  Pickle pickle;
  EXPECT_FALSE(pickle.AttachObject(new CountedAttachment(&destroyed)));
  EXPECT_EQ(1, destroyed);
  EXPECT_FALSE(pickle.HasAttachedObjects());
  PickleIterator iter(pickle);
  scoped_refptr<Pickle::Attachment> out;
  EXPECT_FALSE(pickle.ReadAttachedObject(&iter, &out));
}

}  // namespace
}  // namespace base
