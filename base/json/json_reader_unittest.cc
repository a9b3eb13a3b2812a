#include "base/json/json_reader.h"

#include <string>

#include "base/json/string_escape.h"
#include "base/values.h"
#include "gtest/gtest.h"

namespace base {
namespace {

void ExpectError(
    StringPiece input, int options, int code, int line, int column) {
  SCOPED_TRACE(input.as_string());
  int out_code = -1, out_line = -1, out_column = -1;
  std::string message;
  std::unique_ptr<Value> root = JSONReader::ReadAndReturnError(
      input, options, &out_code, &message, &out_line, &out_column);
  EXPECT_EQ(nullptr, root);
  EXPECT_EQ(code, out_code);
  EXPECT_EQ(line, out_line);
  EXPECT_EQ(column, out_column);
}

std::unique_ptr<Value> ReadWith(StringPiece input, int options) {
  return JSONReader::ReadAndReturnError(input, options, nullptr, nullptr);
}

std::string ReadString(StringPiece input, int options = 0) {
  std::unique_ptr<Value> root = ReadWith(input, options);
  if (!root || !root->is_string())
    return "<failed>";
  return root->GetString();
}

TEST(JSONReaderTest, EmptyAndBlankInput) {
  int code = 0, line = 0, column = 0;
  std::string message;
  EXPECT_EQ(nullptr, JSONReader::ReadAndReturnError("", 0, &code, &message,
                                                    &line, &column));
  EXPECT_EQ(JSONReader::kUnexpectedToken, code);
  EXPECT_EQ("Line: 1, column: 1, Unexpected token.", message);
  ExpectError("   ", 0, 3, 1, 4);
  ExpectError("// only a comment", 0, 3, 1, 18);
  ExpectError("/* unterminated", 0, 3, 1, 16);
  ExpectError("\n\n", 0, 3, 3, 2);
}

TEST(JSONReaderTest, ScalarRoots) {
  const struct {
    const char* text;
    Value expected;
  } kCases[] = {
      {"-0", Value(0)},
      {"2147483647", Value(2147483647)},
      {"2147483648", Value(2147483648.0)},
      {"1.0", Value(1.0)},
      {"1e2", Value(100.0)},
      {"-1.5E-1", Value(-0.15)},
      {"true", Value(true)},
      {"null", Value()},
      {"\"\"", Value("")},
      // Subnormal numbers, which the writer writes too.
      {"5e-324", Value(4.9406564584124654e-324)},
      {"-5e-324", Value(-4.9406564584124654e-324)},
      {"4.9e-324", Value(4.9406564584124654e-324)},
      {"1e-310", Value(1e-310)},
      {"2.225073858507201e-308", Value(2.225073858507201e-308)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    std::unique_ptr<Value> v = JSONReader::Read(c.text);
    ASSERT_TRUE(v);
    EXPECT_EQ(c.expected, *v);
  }
}

TEST(JSONReaderTest, NumberErrors) {
  ExpectError("01", 0, 2, 1, 3);
  ExpectError("1.", 0, 2, 1, 3);
  ExpectError("1e", 0, 2, 1, 3);
  ExpectError("-", 0, 2, 1, 2);
  ExpectError("[1 2]", 0, 2, 1, 4);
  ExpectError("1x", 0, 2, 1, 2);

  // Too large for a double: a failure without code or message.
  int code = -1, line = -1, column = -1;
  std::string message = "x";
  EXPECT_EQ(nullptr, JSONReader::ReadAndReturnError("1e999", 0, &code, &message,
                                                    &line, &column));
  EXPECT_EQ(0, code);
  EXPECT_EQ("", message);
  EXPECT_EQ(0, line);
  EXPECT_EQ(0, column);
  EXPECT_EQ(nullptr, JSONReader::Read("[1, -1e999]"));
  // Too small for any double but zero: refused as well.
  EXPECT_EQ(nullptr, JSONReader::Read("1e-400"));
}

TEST(JSONReaderTest, LiteralsAndRootData) {
  ExpectError("nul", 0, 2, 1, 1);
  ExpectError("[tru]", 0, 2, 1, 2);
  ExpectError("true x", 0, 6, 1, 6);
  ExpectError("truex", 0, 6, 1, 5);
  ExpectError("[truex]", 0, 2, 1, 6);
  ExpectError("[] []", 0, 6, 1, 4);
  ExpectError("x", 0, 3, 1, 1);
  EXPECT_TRUE(JSONReader::Read(" [ ] // trailing comment"));
}

TEST(JSONReaderTest, Containers) {
  std::unique_ptr<Value> v =
      JSONReader::Read("{\"a\": 1, \"a\": 2, \"B\": []}");
  ASSERT_TRUE(v && v->is_dict());
  const DictionaryValue* dict = nullptr;
  ASSERT_TRUE(v->GetAsDictionary(&dict));
  int a = 0;
  EXPECT_TRUE(dict->GetInteger("a", &a));
  EXPECT_EQ(2, a);
  EXPECT_EQ("B", dict->dict_storage()[0].first);
  EXPECT_EQ(2u, dict->size());

  v = JSONReader::Read("[1, \"two\", [null], {}]");
  ASSERT_TRUE(v && v->is_list());
  EXPECT_EQ(4u, v->list_storage().size());

  ExpectError("{a: 1}", 0, 8, 1, 2);
  ExpectError("{\"a\": 1, 2}", 0, 8, 1, 10);
  ExpectError("{\"a\"", 0, 2, 1, 5);
  ExpectError("{\"a\" 1}", 0, 2, 1, 6);
  ExpectError("{\"a\": true \"b\": 2}", 0, 2, 1, 11);
  ExpectError("{\"a\": 1 \"b\": 2}", 0, 2, 1, 9);
  ExpectError("[true false]", 0, 2, 1, 7);
  ExpectError("[", 0, 3, 1, 2);
  ExpectError("{", 0, 8, 1, 2);
  ExpectError("[,1]", 0, 3, 1, 2);
}

TEST(JSONReaderTest, TrailingCommas) {
  ExpectError("[1,]", 0, 4, 1, 4);
  ExpectError("{\"a\": 1,}", 0, 4, 1, 9);
  EXPECT_TRUE(ReadWith("[1,]", kAllowTrailingCommas));
  EXPECT_TRUE(ReadWith("{\"a\": 1,}", kAllowTrailingCommas));
  EXPECT_FALSE(ReadWith("[1,,]", kAllowTrailingCommas));
  // The line break behind a number is counted twice.
  ExpectError("[1\n,]", 0, 4, 3, 3);
  ExpectError("[\r\n1,]", 0, 4, 2, 4);
  ExpectError("// c\n[1,]", 0, 4, 2, 5);
}

TEST(JSONReaderTest, NestingLimit) {
  std::string ok = std::string(199, '[') + std::string(199, ']');
  EXPECT_TRUE(JSONReader::Read(ok));
  std::string deep = std::string(200, '[') + std::string(200, ']');
  ExpectError(deep, 0, 5, 1, 200);
  std::string dicts;
  for (int i = 0; i < 200; ++i)
    dicts += "{\"a\":";
  ExpectError(dicts, 0, 5, 1, 5 * 199 + 1);
}

TEST(JSONReaderTest, Escapes) {
  EXPECT_EQ("\xC3\xA9", ReadString("\"\\u00e9\""));
  EXPECT_EQ("\xF0\x9F\x98\x80", ReadString("\"\\ud83d\\ude00\""));
  EXPECT_EQ("A", ReadString("\"\\u+041\""));
  EXPECT_EQ("A", ReadString("\"\\u0x41\""));
  EXPECT_EQ(std::string("a\0b", 3), ReadString("\"a\\u0000b\""));
  EXPECT_EQ("A", ReadString("\"\\x41\""));
  EXPECT_EQ("\xC3\xA9", ReadString("\"\\xe9\""));
  EXPECT_EQ("\"\\/\b\f\n\r\t\v",
            ReadString("\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\v\""));
  EXPECT_EQ("plain \xC3\xA9 text", ReadString("\"plain \xC3\xA9 text\""));

  ExpectError("\"\\ude00\"", 0, 1, 1, 6);
  ExpectError("\"\\ud83d\\u0041\"", 0, 1, 1, 12);
  ExpectError("\"\\ud83d\"", 0, 1, 1, 6);
  ExpectError("\"\\ud83dx\\ude00\"", 0, 1, 1, 7);
  ExpectError("\"\\a\"", 0, 1, 1, 3);
  ExpectError("\"\\u00", 0, 1, 1, 3);
  ExpectError("\"\\u00zz\"", 0, 1, 1, 3);
  ExpectError("\"\\uFFFF\"", 0, 1, 1, 6);
  ExpectError("\"\\ufdd0\"", 0, 1, 1, 6);
  ExpectError("\"\\u-041\"", 0, 1, 1, 6);
  ExpectError("\"\\x4\"", 0, 1, 1, 3);
  ExpectError("\"\\x4", 0, 1, 1, 4);
  ExpectError("\"\\xZZ\"", 0, 1, 1, 3);
  ExpectError("\"\\x-1\"", 0, 1, 1, 3);
  ExpectError("\"\\", 0, 1, 1, 3);
  // The pair U+1FFFF is a non-character.
  ExpectError("\"\\ud83f\\udfff\"", 0, 1, 1, 12);

  // Replacement applies to non-characters, never to broken surrogates.
  EXPECT_EQ("\xEF\xBF\xBD",
            ReadString("\"\\uFFFF\"", kReplaceInvalidCharacters));
  EXPECT_EQ("<failed>", ReadString("\"\\ude00\"", kReplaceInvalidCharacters));
}

TEST(JSONReaderTest, StringsAndEncoding) {
  // Raw control characters and line breaks are taken as they are and count
  // no lines.
  EXPECT_EQ("a\tb\nc", ReadString("\"a\tb\nc\""));
  ExpectError("[\"a\nb\", x]", 0, 3, 1, 9);
  ExpectError("\"", 0, 2, 1, 1);
  ExpectError("\"ab", 0, 2, 1, 3);
  ExpectError("\"\xFF\"", 0, 7, 1, 3);
  ExpectError("\"\xEF\xBF\xBF\"", 0, 7, 1, 5);
  ExpectError("\"\xED\xA0\x80\"", 0, 7, 1, 3);
  EXPECT_EQ(
      "a\xEF\xBF\xBD"
      "b",
      ReadString("\"a\xFF"
                 "b\"",
                 kReplaceInvalidCharacters));
}

TEST(JSONReaderTest, ByteOrderMarkAndComments) {
  std::unique_ptr<Value> v = JSONReader::Read("\xEF\xBB\xBF[1]");
  ASSERT_TRUE(v && v->is_list());
  ExpectError(
      "[\xEF\xBB\xBF"
      "1]",
      0, 3, 1, 2);
  ExpectError("\xEF\xBB\xBF", 0, 3, 1, 4);

  v = JSONReader::Read("/*/ 1");
  ASSERT_TRUE(v && v->is_int());
  EXPECT_EQ(1, v->GetInt());
  v = JSONReader::Read("// comment\n1");
  ASSERT_TRUE(v && v->is_int());
  v = JSONReader::Read("[1 /* a ** b */, /**/ 2] // end");
  ASSERT_TRUE(v && v->is_list());
  EXPECT_EQ(2u, v->list_storage().size());
  v = JSONReader::Read("1 /");
  ASSERT_TRUE(v && v->is_int());
  ExpectError("/x", 0, 3, 1, 2);
  ExpectError("[1,/x]", 0, 3, 1, 5);
}

TEST(JSONReaderTest, ErrorTextsAndReaderObject) {
  EXPECT_EQ("", JSONReader::ErrorCodeToString(0));
  EXPECT_EQ("", JSONReader::ErrorCodeToString(9));
  EXPECT_EQ("", JSONReader::ErrorCodeToString(-1));

  JSONReader reader;
  EXPECT_EQ(nullptr, reader.ReadToValue("[1,]"));
  EXPECT_EQ(JSONReader::kTrailingComma, reader.error_code());
  EXPECT_EQ("Line: 1, column: 4, Trailing comma not allowed.",
            reader.GetErrorMessage());
  EXPECT_TRUE(reader.ReadToValue("[1]"));
  EXPECT_EQ(0, reader.error_code());

  // Success leaves the out places untouched.
  int code = 77;
  std::string message = "kept";
  EXPECT_TRUE(JSONReader::ReadAndReturnError("{}", 0, &code, &message));
  EXPECT_EQ(77, code);
  EXPECT_EQ("kept", message);
}

TEST(StringEscapeTest, EscapeJSONString) {
  std::string out;
  EXPECT_TRUE(EscapeJSONString("a<b/c", true, &out));
  EXPECT_EQ("\"a\\u003Cb/c\"", out);

  out.clear();
  EXPECT_FALSE(EscapeJSONString("\xFF", false, &out));
  EXPECT_EQ("\xEF\xBF\xBD", out);

  out.clear();
  EXPECT_TRUE(EscapeJSONString("\x1F\b\f\n\r\t\"\\\x7F", false, &out));
  EXPECT_EQ("\\u001F\\b\\f\\n\\r\\t\\\"\\\\\x7F", out);

  out = "prefix:";
  EXPECT_TRUE(EscapeJSONString(std::string("\0\v", 2), false, &out));
  EXPECT_EQ("prefix:\\u0000\\u000B", out);

  out.clear();
  EXPECT_TRUE(
      EscapeJSONString("\xE2\x80\xA8\xE2\x80\xA9\xC3\xA9", false, &out));
  EXPECT_EQ("\\u2028\\u2029\xC3\xA9", out);

  // Non-characters and encoded surrogates are replaced too.
  out.clear();
  EXPECT_FALSE(EscapeJSONString("\xEF\xBF\xBEx\xED\xA0\x80", false, &out));
  EXPECT_EQ("\xEF\xBF\xBDx\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", out);

  EXPECT_EQ("\"\"", GetQuotedJSONString(""));

  // What the escaper writes, the reader reads back.
  std::string text = "tab\t<quote\"> \xF0\x9F\x98\x80 \x01";
  std::unique_ptr<Value> v = JSONReader::Read(GetQuotedJSONString(text));
  ASSERT_TRUE(v);
  EXPECT_EQ(text, v->GetString());
}

}  // namespace
}  // namespace base
