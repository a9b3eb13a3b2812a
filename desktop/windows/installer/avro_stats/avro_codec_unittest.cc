#include "desktop/windows/installer/avro_stats/avro_codec.h"
#include "desktop/windows/installer/test/spaced_hex.h"

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

const uint32_t kId = 7;

using SchemaRef = base::scoped_refptr<AvroSchema>;

// "06 61 62 63" -> the four bytes.
std::string Bytes(const std::string& spaced_hex) {
  std::string hex;
  base::ReplaceChars(spaced_hex, " ", "", &hex);
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(hex.empty() || base::HexStringToBytes(hex, &bytes)) << hex;
  return std::string(bytes.begin(), bytes.end());
}

SchemaRef Optional(SchemaRef type) {
  return AvroSchema::MakeUnion(kId, {AvroSchema::MakeNull(kId), type});
}

std::string Encode(const AvroDatum& datum) {
  return AvroEncoder().Encode(datum);
}

TEST(AvroCodecTest, LongsAndIntsAreZigzagVarints) {
  const struct {
    int64_t value;
    const char* bytes;
  } kCases[] = {
      {0, "00"},
      {-1, "01"},
      {1, "02"},
      {63, "7E"},
      {-64, "7F"},
      {64, "80 01"},
      {8192, "80 80 01"},
      {INT64_MAX, "FE FF FF FF FF FF FF FF FF 01"},
      {INT64_MIN, "FF FF FF FF FF FF FF FF FF 01"},
  };
  SchemaRef long_schema = AvroSchema::MakeLong(kId);
  SchemaRef int_schema = AvroSchema::MakeInt(kId);
  for (const auto& c : kCases) {
    AvroDatum datum(long_schema);
    datum.SetLong(c.value);
    EXPECT_EQ(c.bytes, test::SpacedHex(Encode(datum))) << c.value;
    std::unique_ptr<AvroDatum> back =
        AvroEncoder().Decode(long_schema, Bytes(c.bytes));
    ASSERT_TRUE(back) << c.value;
    EXPECT_EQ(c.value, back->GetLong());
    if (c.value >= INT32_MIN && c.value <= INT32_MAX) {
      AvroDatum narrow(int_schema);
      narrow.SetInt(static_cast<int32_t>(c.value));
      EXPECT_EQ(c.bytes, test::SpacedHex(Encode(narrow))) << c.value;
    } else {
      // Too wide for an int.
      EXPECT_FALSE(AvroEncoder().Decode(int_schema, Bytes(c.bytes)));
    }
  }
  // The tenth byte carries bit 63 only.
  EXPECT_FALSE(AvroEncoder().Decode(long_schema,
                                    Bytes("FF FF FF FF FF FF FF FF FF 7F")));
}

TEST(AvroCodecTest, ValuesOfEachKind) {
  SchemaRef string_schema = AvroSchema::MakeString(kId);
  AvroDatum text(string_schema);
  text.SetString("abc");
  EXPECT_EQ("06 61 62 63", test::SpacedHex(Encode(text)));

  AvroDatum optional_text(Optional(string_schema));
  EXPECT_EQ("00",
            test::SpacedHex(Encode(optional_text)));  // null until selected
  optional_text.SelectBranch(1);
  EXPECT_EQ("02 00", test::SpacedHex(Encode(optional_text)));

  AvroDatum flag(AvroSchema::MakeBoolean(kId));
  flag.SetBool(true);
  EXPECT_EQ("01", test::SpacedHex(Encode(flag)));

  AvroDatum numbers(AvroSchema::MakeArray(kId, AvroSchema::MakeInt(kId)));
  EXPECT_EQ("00", test::SpacedHex(Encode(numbers)));
  numbers.AppendItem()->SetInt(1);
  numbers.AppendItem()->SetInt(2);
  EXPECT_EQ("04 02 04 00", test::SpacedHex(Encode(numbers)));

  AvroDatum map(AvroSchema::MakeMap(kId, string_schema));
  EXPECT_EQ("00", test::SpacedHex(Encode(map)));
  map.MapValue("b")->SetString("x");
  map.MapValue("a")->SetString("y");
  EXPECT_EQ("04 02 61 02 79 02 62 02 78 00", test::SpacedHex(Encode(map)));

  AvroDatum colour(AvroSchema::MakeEnum(kId, "", "Colour", {"red", "green"}));
  EXPECT_TRUE(colour.SetEnumBySymbol("green"));
  EXPECT_FALSE(colour.SetEnumBySymbol("blue"));
  EXPECT_FALSE(colour.SetEnumIndex(2));
  EXPECT_EQ("02", test::SpacedHex(Encode(colour)));
}

TEST(AvroCodecTest, RecordsRoundTripThroughPaths) {
  SchemaRef inner = AvroSchema::MakeRecord(
      kId, "", "inner",
      {{"count", Optional(AvroSchema::MakeInt(kId))},
       {"tags", AvroSchema::MakeMap(kId, AvroSchema::MakeString(kId))}});
  SchemaRef outer = AvroSchema::MakeRecord(
      kId, "", "outer",
      {{"when", AvroSchema::MakeLong(kId)}, {"inner", Optional(inner)}});
  AvroDatum datum(outer);
  EXPECT_EQ("00 00", test::SpacedHex(Encode(datum)));
  EXPECT_FALSE(datum.FieldByPath("inner.missing"));
  datum.FieldByPath("inner.count")->SetInt(-3);
  datum.FieldByPath("inner.tags")->MapValue("k")->SetString("v");
  datum.FieldByName("when")->SetLong(1);
  const std::string bytes = Encode(datum);
  EXPECT_EQ("02 02 02 05 02 02 6B 02 76 00", test::SpacedHex(bytes));
  std::unique_ptr<AvroDatum> back = AvroEncoder().Decode(outer, bytes);
  ASSERT_TRUE(back);
  EXPECT_EQ(bytes, Encode(*back));
  EXPECT_EQ("v",
            back->FieldByPath("inner.tags")->FieldByName("k")->GetString());
}

TEST(AvroCodecTest, DatumKeepsItsSchemaAlive) {
  std::unique_ptr<AvroDatum> datum;
  {
    SchemaRef record = AvroSchema::MakeRecord(
        kId, "", "kept", {{"name", Optional(AvroSchema::MakeString(kId))}});
    datum = std::make_unique<AvroDatum>(record);
  }
  // Schemas made meanwhile would reuse a freed node's memory.
  std::vector<SchemaRef> others;
  for (int i = 0; i < 16; ++i)
    others.push_back(AvroSchema::MakeEnum(kId, "", "other", {"a"}));
  datum->FieldByPath("name")->SetString("x");
  EXPECT_EQ("kept", datum->schema()->name());
  EXPECT_EQ("02 02 78", test::SpacedHex(Encode(*datum)));
}

TEST(AvroCodecTest, SchemaConstructionRules) {
  SchemaRef null = AvroSchema::MakeNull(kId);
  SchemaRef text = AvroSchema::MakeString(kId);
  SchemaRef record_a = AvroSchema::MakeRecord(kId, "", "a", {});
  SchemaRef record_b = AvroSchema::MakeRecord(kId, "", "b", {});
  SchemaRef enum_a = AvroSchema::MakeEnum(kId, "", "e", {"x"});
  const struct {
    const char* name;
    std::vector<SchemaRef> branches;
    bool made;
  } kUnions[] = {
      {"null and string", {null, text}, true},
      {"two strings", {null, text, AvroSchema::MakeString(kId)}, false},
      {"two nulls", {null, AvroSchema::MakeNull(kId)}, false},
      {"two records", {null, record_a, record_b}, true},
      {"two enums", {enum_a, enum_a}, true},
      {"missing branch", {null, nullptr}, false},
  };
  for (const auto& c : kUnions) {
    SchemaRef made = AvroSchema::MakeUnion(kId, c.branches);
    EXPECT_EQ(c.made, !!made) << c.name;
    if (made) {
      EXPECT_EQ(c.branches.size(), made->GetChildCount()) << c.name;
    }
  }

  SchemaRef colours =
      AvroSchema::MakeEnum(kId, "", "c", {"red", "green", "red", "blue"});
  EXPECT_EQ((std::vector<std::string>{"red", "green", "blue"}),
            colours->symbols());
  SchemaRef record = AvroSchema::MakeRecord(
      kId, "", "r",
      {{"a", text}, {"b", AvroSchema::MakeInt(kId)}, {"a", record_a}});
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), record->GetFieldNames());
  EXPECT_EQ(AVRO_STRING, record->GetChild(0)->type());
  EXPECT_FALSE(record->GetChild(2));
  EXPECT_FALSE(text->GetItemsSchema());
}

TEST(AvroCodecTest, DecodingRefusesMalformedInput) {
  SchemaRef colour = AvroSchema::MakeEnum(kId, "", "c", {"red", "green"});
  SchemaRef pair =
      AvroSchema::MakeRecord(kId, "", "pair",
                             {{"flag", AvroSchema::MakeBoolean(kId)},
                              {"name", Optional(AvroSchema::MakeString(kId))},
                              {"colour", colour}});
  const struct {
    const char* name;
    const char* bytes;
    bool valid;
  } kCases[] = {
      {"well formed", "01 02 02 61 02", true},
      {"null name", "00 00 00", true},
      {"boolean byte 2", "02 00 00", false},
      {"trailing byte", "00 00 00 00", false},
      {"cut short", "00 02 04 61", false},
      {"negative string length", "00 02 01", false},
      {"union branch 2", "00 04 00", false},
      {"negative union branch", "00 01 00", false},
      {"enum index 2", "00 00 04", false},
      {"negative enum index", "00 00 01", false},
      {"eleven varint bytes", "00 00 80 80 80 80 80 80 80 80 80 80 00", false},
      // Bit 64 set: without it the branch would read as 1.
      {"varint wider than 64 bits", "00 82 80 80 80 80 80 80 80 80 02 00 00",
       false},
      {"string length near 2^63", "00 02 FE FF FF FF FF FF FF FF FF 01 61 00",
       false},
      {"string length 0x7FFFFFFF, short body", "00 02 FE FF FF FF 0F 61 00",
       false},
      {"empty input", "", false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.valid, !!AvroEncoder().Decode(pair, Bytes(c.bytes))) << c.name;
  }

  // Arrays and maps: blocks until a zero count; a repeated key overwrites.
  SchemaRef map = AvroSchema::MakeMap(kId, AvroSchema::MakeInt(kId));
  std::unique_ptr<AvroDatum> values =
      AvroEncoder().Decode(map, Bytes("02 02 61 02 02 02 61 04 00"));
  ASSERT_TRUE(values);
  ASSERT_EQ(1u, values->map_entries().size());
  EXPECT_EQ(2, values->FieldByName("a")->GetInt());
  // Values that could merge (arrays would append, records keep fields the
  // later value leaves unset) are replaced whole.
  SchemaRef map_of_arrays = AvroSchema::MakeMap(
      kId, AvroSchema::MakeArray(kId, AvroSchema::MakeInt(kId)));
  std::unique_ptr<AvroDatum> lists = AvroEncoder().Decode(
      map_of_arrays, Bytes("02 02 63 02 02 00 02 02 63 02 04 00 00"));
  ASSERT_TRUE(lists);
  ASSERT_EQ(1u, lists->map_entries().size());
  const AvroDatum* c = lists->FieldByName("c");
  ASSERT_TRUE(c);
  ASSERT_EQ(1u, c->GetItemCount());
  EXPECT_EQ(2, c->GetChild(0)->GetInt());
  SchemaRef array = AvroSchema::MakeArray(kId, AvroSchema::MakeInt(kId));
  std::unique_ptr<AvroDatum> items =
      AvroEncoder().Decode(array, Bytes("02 02 04 04 06 00"));
  ASSERT_TRUE(items);
  EXPECT_EQ(3u, items->GetItemCount());
  EXPECT_FALSE(AvroEncoder().Decode(array, Bytes("04 02")));  // no terminator
  EXPECT_FALSE(AvroEncoder().Decode(map, Bytes("D0 0F 02 61 02 00")));
  // A block may not count more items than there are bytes left, even items
  // of no size.
  SchemaRef nulls = AvroSchema::MakeArray(kId, AvroSchema::MakeNull(kId));
  EXPECT_TRUE(AvroEncoder().Decode(nulls, Bytes("02 00")));
  EXPECT_FALSE(AvroEncoder().Decode(nulls, Bytes("D0 0F 00")));
}

TEST(AvroCodecTest, SignedFormIsTheHmacOfTheEncoding) {
  AvroDatum text(AvroSchema::MakeString(kId));
  text.SetString("abc");
  // HMAC-SHA256 under PBKDF2-HMAC-SHA1 of the empty password with the salt
  // "QmTr8WvkPz3LxnBy5sHd", 5 iterations, 16 bytes; worked out apart from
  // the installer's code.
  const std::string kSignature = Bytes(
      "81 f5 06 6e 1e b1 14 aa a7 a9 3d 36 55 1c e2 21"
      "b9 5c 5f 17 aa 8f 12 5d a4 3a 93 d9 c2 e6 38 d2");
  const std::string signed_bytes = AvroEncoder().EncodeSigned(text);
  EXPECT_EQ(test::SpacedHex(kSignature + Bytes("06 61 62 63")),
            test::SpacedHex(signed_bytes));

  std::unique_ptr<AvroDatum> back =
      AvroEncoder().DecodeSigned(AvroSchema::MakeString(kId), signed_bytes);
  ASSERT_TRUE(back);
  EXPECT_EQ("abc", back->GetString());

  std::string tampered = signed_bytes;
  tampered.back() = 'x';
  EXPECT_FALSE(
      AvroEncoder().DecodeSigned(AvroSchema::MakeString(kId), tampered));
  EXPECT_FALSE(AvroEncoder().DecodeSigned(AvroSchema::MakeString(kId),
                                          signed_bytes.substr(0, 31)));
}

TEST(AvroCodecTest, SchemaIdFrame) {
  AvroDatum number(AvroSchema::MakeInt(0x01020304));
  number.SetInt(1);
  EXPECT_EQ("00 01 02 03 04 02",
            test::SpacedHex(AvroEncoder().EncodeWithSchemaId(number)));
}

}  // namespace
}  // namespace installer
