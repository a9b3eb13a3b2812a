#include <windows.h>

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/json/json_file_value_serializer.h"
#include "base/json/json_reader.h"
#include "base/json/json_string_value_serializer.h"
#include "base/values.h"
#include "gtest/gtest.h"

namespace base {
namespace {

TEST(JSONValueSerializerTest, StringSerializer) {
  DictionaryValue dict;
  dict.SetInteger("x", 1);

  std::string out = "stale";
  JSONStringValueSerializer serializer(&out);
  EXPECT_FALSE(serializer.pretty_print());
  EXPECT_TRUE(serializer.Serialize(dict));
  EXPECT_EQ("{\"x\":1}", out);
  serializer.set_pretty_print(true);
  EXPECT_TRUE(serializer.Serialize(dict));
  EXPECT_EQ("{\r\n   \"x\": 1\r\n}\r\n", out);

  JSONStringValueSerializer no_destination(nullptr);
  EXPECT_FALSE(no_destination.Serialize(dict));

  dict.Set("b", std::make_unique<Value>(Value::BlobStorage{1}));
  serializer.set_pretty_print(false);
  EXPECT_FALSE(serializer.Serialize(dict));
}

TEST(JSONValueSerializerTest, StringDeserializer) {
  JSONStringValueDeserializer good("{\"a\": [1, 2,]}", kAllowTrailingCommas);
  std::unique_ptr<Value> value = good.Deserialize(nullptr, nullptr);
  ASSERT_TRUE(value);
  EXPECT_EQ(2u, value->FindPath({"a"})->list_storage().size());

  JSONStringValueDeserializer strict("{\"a\": [1, 2,]}");
  int code = 0;
  std::string message;
  EXPECT_FALSE(strict.Deserialize(&code, &message));
  EXPECT_EQ(JSONReader::kTrailingComma, code);
  EXPECT_EQ("Line: 1, column: 13, Trailing comma not allowed.", message);
}

class JSONFileValueDeserializerTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_dir_.CreateUniqueTempDir()); }

  FilePath WriteTestFile(const wchar_t* name, const std::string& contents) {
    FilePath path = temp_dir_.GetPath().Append(name);
    EXPECT_EQ(
        static_cast<int>(contents.size()),
        WriteFile(path, contents.data(), static_cast<int>(contents.size())));
    return path;
  }

  ScopedTempDir temp_dir_;
};

TEST_F(JSONFileValueDeserializerTest, ReadsFile) {
  FilePath path = WriteTestFile(L"good.json", "{\"k\": \"v\"}\n");
  JSONFileValueDeserializer deserializer(path);
  EXPECT_EQ(0u, deserializer.get_last_read_size());
  int code = -1;
  std::string message = "untouched";
  std::unique_ptr<Value> value = deserializer.Deserialize(&code, &message);
  ASSERT_TRUE(value);
  EXPECT_EQ(-1, code);
  EXPECT_EQ("untouched", message);
  EXPECT_EQ(11u, deserializer.get_last_read_size());
}

TEST_F(JSONFileValueDeserializerTest, MissingFile) {
  JSONFileValueDeserializer deserializer(
      temp_dir_.GetPath().Append(L"missing.json"));
  int code = 0;
  std::string message;
  EXPECT_FALSE(deserializer.Deserialize(&code, &message));
  EXPECT_EQ(JSONFileValueDeserializer::kNoSuchFile, code);
  EXPECT_EQ("File doesn't exist.", message);
  EXPECT_EQ(0u, deserializer.get_last_read_size());
  // The out places are optional.
  EXPECT_FALSE(deserializer.Deserialize(nullptr, nullptr));
}

TEST_F(JSONFileValueDeserializerTest, LockedFile) {
  FilePath path = WriteTestFile(L"locked.json", "{}");
  HANDLE handle = ::CreateFileW(path.value().c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, handle);
  JSONFileValueDeserializer deserializer(path);
  int code = 0;
  std::string message;
  EXPECT_FALSE(deserializer.Deserialize(&code, &message));
  EXPECT_EQ(JSONFileValueDeserializer::kFileLocked, code);
  EXPECT_EQ("File locked.", message);
  ::CloseHandle(handle);

  EXPECT_TRUE(deserializer.Deserialize(&code, &message));
}

TEST_F(JSONFileValueDeserializerTest, FolderIsAccessDenied) {
  // Opening a folder as a file fails with ERROR_ACCESS_DENIED.
  JSONFileValueDeserializer deserializer(temp_dir_.GetPath());
  int code = 0;
  std::string message;
  EXPECT_FALSE(deserializer.Deserialize(&code, &message));
  EXPECT_EQ(JSONFileValueDeserializer::kAccessDenied, code);
  EXPECT_EQ("Access denied.", message);
}

TEST_F(JSONFileValueDeserializerTest, InvalidJsonKeepsSize) {
  FilePath path = WriteTestFile(L"bad.json", "{\n  \"a\": 1,\n}");
  JSONFileValueDeserializer deserializer(path);
  int code = 0;
  std::string message;
  EXPECT_FALSE(deserializer.Deserialize(&code, &message));
  EXPECT_EQ(JSONReader::kTrailingComma, code);
  EXPECT_EQ("Line: 3, column: 2, Trailing comma not allowed.", message);
  EXPECT_EQ(13u, deserializer.get_last_read_size());
}

}  // namespace
}  // namespace base
