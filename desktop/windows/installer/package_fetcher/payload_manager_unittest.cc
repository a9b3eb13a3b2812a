#include "desktop/windows/installer/package_fetcher/payload_manager.h"

#include <string>

#include "base/path_service.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(PayloadManagerTest, TypeNames) {
  EXPECT_STREQ("none", PayloadTypeToString(PayloadType::NONE));
  EXPECT_STREQ("tracking_data",
               PayloadTypeToString(PayloadType::TRACKING_DATA));
  EXPECT_STREQ("external_tracking_data",
               PayloadTypeToString(PayloadType::EXTERNAL_TRACKING_DATA));
  EXPECT_STREQ("full_package", PayloadTypeToString(PayloadType::FULL_PACKAGE));
  EXPECT_STREQ("corrupted", PayloadTypeToString(PayloadType::CORRUPTED));
}

TEST(PayloadManagerTest, NoPayloadIsFoundYet) {
  base::FilePath exe;
  ASSERT_TRUE(base::PathService::Get(base::FILE_EXE, &exe));
  PayloadManagerImpl payload(exe);
  EXPECT_EQ(PayloadType::NONE, payload.GetType());
  std::string tracking_data = "untouched";
  EXPECT_FALSE(payload.GetTrackingData(&tracking_data));
  EXPECT_EQ("untouched", tracking_data);
}

}  // namespace
}  // namespace installer
