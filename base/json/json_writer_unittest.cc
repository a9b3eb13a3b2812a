#include "base/json/json_writer.h"

#include <string.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/json/json_reader.h"
#include "base/values.h"
#include "gtest/gtest.h"

namespace base {
namespace {

std::string Written(const Value& value, int options = 0) {
  std::string out;
  EXPECT_TRUE(JSONWriter::WriteWithOptions(value, options, &out));
  return out;
}

TEST(JSONWriterTest, CompactScalars) {
  EXPECT_EQ("null", Written(Value()));
  EXPECT_EQ("true", Written(Value(true)));
  EXPECT_EQ("-42", Written(Value(-42)));
  EXPECT_EQ("\"a\\u003Cb\"", Written(Value("a<b")));
  EXPECT_EQ("{}", Written(Value(Value::Type::DICTIONARY)));
  EXPECT_EQ("[]", Written(Value(Value::Type::LIST)));
  // Invalid UTF-8 is replaced without failing the write.
  EXPECT_EQ("\"\xEF\xBF\xBD\"", Written(Value("\xFF")));
}

TEST(JSONWriterTest, Doubles) {
  EXPECT_EQ("3.0", Written(Value(3.0)));
  EXPECT_EQ("-3",
            Written(Value(-3.0), JSONWriter::kOmitDoubleTypePreservation));
  EXPECT_EQ("-0.5", Written(Value(-0.5)));
  EXPECT_EQ("0.5",
            Written(Value(0.5), JSONWriter::kOmitDoubleTypePreservation));
  EXPECT_EQ("1e+300", Written(Value(1e300)));
  EXPECT_EQ("-0.0", Written(Value(-0.0)));
  EXPECT_EQ("0", Written(Value(-0.0), JSONWriter::kOmitDoubleTypePreservation));

  const double two_to_63 = 9223372036854775808.0;
  std::string text =
      Written(Value(two_to_63), JSONWriter::kOmitDoubleTypePreservation);
  EXPECT_EQ(std::string::npos, text.find('-'));
  EXPECT_NE(std::string::npos, text.find_first_of(".e"));
  EXPECT_EQ(text, Written(Value(two_to_63)));
  EXPECT_EQ(
      "-9223372036854775808",
      Written(Value(-two_to_63), JSONWriter::kOmitDoubleTypePreservation));
}

// Every finite double, written and read again, comes back bit for bit:
// subnormals, the extremes and random bit patterns over the whole range.
TEST(JSONWriterTest, EveryFiniteDoubleRoundTrips) {
  std::vector<double> values = {
      0.0,
      -0.0,
      std::numeric_limits<double>::denorm_min(),
      -std::numeric_limits<double>::denorm_min(),
      2 * std::numeric_limits<double>::denorm_min(),
      1e-310,
      std::nextafter(std::numeric_limits<double>::min(), 0.0),
      std::numeric_limits<double>::min(),
      std::numeric_limits<double>::max(),
      -std::numeric_limits<double>::max(),
      std::numeric_limits<double>::epsilon(),
      9007199254740993.0,
      2147483647.5,
      2147483648.0,
      1.0,
      0.1,
  };
  std::mt19937_64 random(20261207);
  while (values.size() < 20000) {
    double d;
    const uint64_t bits = random();
    memcpy(&d, &bits, sizeof(d));
    if (std::isfinite(d))
      values.push_back(d);
  }
  for (double d : values) {
    const std::string text = Written(Value(d));
    std::unique_ptr<Value> back = JSONReader::Read(text);
    ASSERT_TRUE(back && back->is_double()) << text;
    const double r = back->GetDouble();
    EXPECT_EQ(0, memcmp(&d, &r, sizeof(d))) << text;
  }
}

TEST(JSONWriterTest, CompactContainers) {
  DictionaryValue dict;
  dict.SetInteger("b", 1);
  auto list = std::make_unique<ListValue>();
  list->AppendBoolean(true);
  list->Append(std::make_unique<Value>());
  dict.Set("a", std::move(list));
  EXPECT_EQ("{\"a\":[true,null],\"b\":1}", Written(dict));
}

TEST(JSONWriterTest, PrettyPrint) {
  DictionaryValue one;
  one.SetInteger("x", 1);
  EXPECT_EQ("{\r\n   \"x\": 1\r\n}\r\n",
            Written(one, JSONWriter::kPrettyPrint));

  ListValue list;
  list.AppendInteger(1);
  list.AppendInteger(2);
  EXPECT_EQ("[ 1, 2 ]\r\n", Written(list, JSONWriter::kPrettyPrint));

  DictionaryValue nested;
  nested.SetInteger("a.b", 1);
  nested.SetBoolean("c", false);
  auto inner = std::make_unique<ListValue>();
  auto item = std::make_unique<DictionaryValue>();
  item->SetString("k", "v");
  inner->Append(std::move(item));
  nested.Set("d", std::move(inner));
  EXPECT_EQ(
      "{\r\n"
      "   \"a\": {\r\n"
      "      \"b\": 1\r\n"
      "   },\r\n"
      "   \"c\": false,\r\n"
      "   \"d\": [ {\r\n"
      "      \"k\": \"v\"\r\n"
      "   } ]\r\n"
      "}\r\n",
      Written(nested, JSONWriter::kPrettyPrint));

  EXPECT_EQ("{\r\n\r\n}\r\n",
            Written(Value(Value::Type::DICTIONARY), JSONWriter::kPrettyPrint));
}

TEST(JSONWriterTest, BinaryValues) {
  DictionaryValue dict;
  dict.SetInteger("a", 1);
  dict.Set("bin", std::make_unique<Value>(Value::BlobStorage{1, 2}));
  dict.SetInteger("c", 3);
  std::string out = "old text";
  EXPECT_FALSE(JSONWriter::Write(dict, &out));
  EXPECT_EQ("{\"a\":1,\"bin\":,\"c\":3}", out);
  EXPECT_EQ("{\"a\":1,\"c\":3}", Written(dict, JSONWriter::kOmitBinaryValues));

  ListValue list;
  list.Append(std::make_unique<Value>(Value::BlobStorage{}));
  list.AppendInteger(5);
  EXPECT_FALSE(JSONWriter::Write(list, &out));
  EXPECT_EQ("[,5]", out);
  EXPECT_EQ("[5]", Written(list, JSONWriter::kOmitBinaryValues));
  EXPECT_TRUE(JSONWriter::WriteWithOptions(
      Value(Value::BlobStorage{}), JSONWriter::kOmitBinaryValues, &out));
  EXPECT_EQ("", out);
}

TEST(JSONWriterTest, RoundTrip) {
  const char kText[] =
      "{\"B\":[1,2.5,\"\\u00e9\\n\"],\"a\":{\"\":null,\"x\":false},"
      "\"ab\":-7}";
  std::unique_ptr<Value> value = JSONReader::Read(kText);
  ASSERT_TRUE(value);
  std::string out;
  EXPECT_TRUE(JSONWriter::Write(*value, &out));
  std::unique_ptr<Value> again = JSONReader::Read(out);
  ASSERT_TRUE(again);
  EXPECT_EQ(*value, *again);
  EXPECT_EQ(
      "{\"B\":[1,2.5,\"\xC3\xA9\\n\"],\"a\":{\"\":null,\"x\":false},"
      "\"ab\":-7}",
      out);
}

}  // namespace
}  // namespace base
