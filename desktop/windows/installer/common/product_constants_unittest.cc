#include "desktop/windows/installer/common/product_constants.h"

#include "desktop/windows/installer/common/product_info.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(ProductConstantsTest, NamesAndVersionsOfThisBuild) {
  EXPECT_EQ("Kavor developer", GetProductNameWithChannel());
  EXPECT_EQ("Kavordeveloper", GetProductInternalName());
  EXPECT_EQ("Kavor developer Internet Browser", GetProductDisplayName());
  EXPECT_EQ("47.0.4127.0", GetVersionString());
  EXPECT_EQ("4127.0", GetInternalVersionString());
  EXPECT_EQ(2, GetChannelId());
  EXPECT_EQ('.', GetCompanyDomain()[0]);
}

TEST(ProductConstantsTest, NamedUrlsKeepTheirSchemesAndPaths) {
  const std::string autoupdate = GetNamedUrl("autoupdate");
  const std::string geolocation = GetNamedUrl("geolocation");
  ASSERT_EQ(0u, autoupdate.rfind("https://", 0));
  ASSERT_EQ(0u, geolocation.rfind("http://", 0));
  // Same host, different schemes.
  const std::string autoupdate_host =
      autoupdate.substr(8, autoupdate.size() - 9);
  EXPECT_EQ("http://" + autoupdate_host + "/geolocation/", geolocation);
  EXPECT_EQ('/', autoupdate.back());
  EXPECT_EQ('/', GetNamedUrl("homepage").back());

  const std::string crash = GetNamedUrl("crash");
  ASSERT_EQ(0u, crash.rfind("https://", 0));
  EXPECT_EQ(std::string::npos, crash.find('/', 8)) << crash;

  const std::string help = GetNamedUrl("help");
  EXPECT_EQ("/?p=", help.substr(help.size() - 4));
  EXPECT_NE(std::string::npos,
            GetNamedUrl("download_full_windows")
                .find("/download/get/?partner=www&opsys=Windows&utm_source="
                      "netinstaller"));
}

TEST(ProductConstantsTest, NamedUrlLookupIsExact) {
  EXPECT_FALSE(GetNamedUrl("help").empty());
  EXPECT_TRUE(GetNamedUrl("Help").empty());
  EXPECT_TRUE(GetNamedUrl("help ").empty());
  EXPECT_TRUE(GetNamedUrl("hel").empty());
  EXPECT_TRUE(GetNamedUrl("").empty());
  // A view that is not NUL-terminated still matches by length.
  const char kBuffer[] = "webstorexyz";
  EXPECT_EQ(GetNamedUrl("webstore"),
            GetNamedUrl(base::StringPiece(kBuffer, 8)));
}

TEST(ProductInfoTest, ShortcutNameIgnoresBaseNameOutsideReleaseStream) {
  ProductInfo* info = ProductInfoImpl::GetInstance();
  EXPECT_EQ(info, ProductInfoImpl::GetInstance());
  EXPECT_EQ(L"Kavor developer.lnk", info->GetShortcutFileName(L"Anything"));
  EXPECT_EQ(L"Kavor developer.lnk", info->GetShortcutFileName(L""));
  EXPECT_EQ(GetNamedUrl("autoupdate"), info->GetAutoupdateUrl());
  EXPECT_EQ("4127.0", info->GetInternalVersion());
}

}  // namespace
}  // namespace installer
