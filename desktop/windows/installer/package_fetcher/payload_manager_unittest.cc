#include "desktop/windows/installer/package_fetcher/payload_manager.h"

#include <string>

#include "base/path_service.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

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
