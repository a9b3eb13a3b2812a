#include "desktop/windows/installer/common/tracking_data_dictionary.h"

#include "base/base64.h"
#include "base/json/json_writer.h"
#include "base/strings/string_util.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

std::string Blob(const std::string& text) {
  std::string blob;
  base::Base64Encode(text, &blob);
  return blob;
}

TEST(TrackingDataDictionaryTest, BlobRoundTripMergesLocalValues) {
  TrackingDataDictionary sender;
  ASSERT_TRUE(sender.ParseTrackingBlob(
      Blob("ignored-hash:{\"a\":\"1\",\"utm\":{\"source\":\"x\",\"medium\":"
           "\"y\"}}")));
  sender.SetString("utm.medium", "local");
  sender.SetString("uuid", "42");

  std::string blob = sender.SerializeTrackingBlob();
  EXPECT_EQ(0u, blob.size() % 8);
  std::string decoded;
  ASSERT_TRUE(base::Base64Decode(
      base::TrimWhitespaceASCII(blob, base::TRIM_TRAILING), &decoded));
  // The hash of the JSON text, in lower case, stands before it.
  EXPECT_EQ(64u, decoded.find(":{"));
  EXPECT_EQ(decoded.substr(0, 64), base::ToLowerASCII(decoded.substr(0, 64)));
  EXPECT_EQ(sender.ToJson(), decoded.substr(65));

  TrackingDataDictionary receiver;
  ASSERT_TRUE(receiver.ParseTrackingBlob(blob));
  EXPECT_TRUE(receiver.HasTrackingData());
  EXPECT_EQ("1", receiver.GetString("a"));
  EXPECT_EQ("x", receiver.GetString("utm.source"));
  EXPECT_EQ("local", receiver.GetString("utm.medium"));
  EXPECT_EQ("42", receiver.GetString("uuid"));
}

TEST(TrackingDataDictionaryTest, PaddingAndLocalValuesAlone) {
  TrackingDataDictionary data;
  EXPECT_EQ("", data.SerializeTrackingBlob());
  EXPECT_EQ("", data.ToJson());
  // Values set locally do not count as received data, but are sent.
  for (std::string value : {"", "a", "ab", "abc", "abcd", "abcde"}) {
    data.SetString("k", value);
    EXPECT_FALSE(data.HasTrackingData());
    std::string blob = data.SerializeTrackingBlob();
    std::string trimmed =
        base::TrimWhitespaceASCII(blob, base::TRIM_TRAILING).as_string();
    EXPECT_EQ(0u, blob.size() % 8) << value;
    EXPECT_LT(blob.size() - trimmed.size(), 8u) << value;
    TrackingDataDictionary receiver;
    ASSERT_TRUE(receiver.ParseTrackingBlob(blob)) << value;
    EXPECT_EQ(value, receiver.GetString("k"));
  }
}

TEST(TrackingDataDictionaryTest, DamagedBlobsAreRefusedAndKeepTheOldData) {
  const std::string kDamaged[] = {
      "",
      "not base64!",
      Blob("no braces at all"),
      Blob("}{"),
      Blob("h:{\"a\":"),
      Blob("h:{\"a\":1"),
      Blob("h:[1,2]"),
      Blob("h:{1:2}"),
      Blob("h:{\"a\":1}").substr(0, 8),
  };
  TrackingDataDictionary data;
  ASSERT_TRUE(data.ParseTrackingBlob(Blob("h:{\"keep\":\"me\"}")));
  for (const std::string& blob : kDamaged) {
    EXPECT_FALSE(data.ParseTrackingBlob(blob)) << blob;
    EXPECT_EQ("me", data.GetString("keep")) << blob;
  }
}

TEST(TrackingDataDictionaryTest, LocalValuesHideReceivedOnes) {
  TrackingDataDictionary data;
  ASSERT_TRUE(data.ParseTrackingBlob(Blob("{\"a\":{\"b\":\"r\"},\"n\":5}")));
  EXPECT_EQ("r", data.GetString("a.b"));
  EXPECT_EQ(std::nullopt, data.GetString("n"));
  data.SetString("a.b", "l");
  EXPECT_EQ("l", data.GetString("a.b"));
  // A local dictionary where the received data has a string hides it.
  data.SetString("a.b.c", "deep");
  EXPECT_EQ(std::nullopt, data.GetString("a.b"));
  EXPECT_EQ("deep", data.GetString("a.b.c"));
}

}  // namespace
}  // namespace installer
