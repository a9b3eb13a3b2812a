#include "base/win/scoped_generic.h"

#include <windows.h>
#include <sddl.h>

#include <utility>
#include <vector>

#include "base/base_paths.h"
#include "base/files/file_path.h"
#include "base/path_service.h"
#include "gtest/gtest.h"

namespace base {
namespace win {
namespace {

// The values the fake kind below has released, in order; -1 owns nothing.
std::vector<int>* g_released = nullptr;

void ReleaseFake(int value) {
  g_released->push_back(value);
}

int MinusOne() {
  return -1;
}

using ScopedFake = ScopedGeneric<ReleaseTraits<int, &ReleaseFake, &MinusOne>>;

class ScopedGenericTest : public testing::Test {
 protected:
  void SetUp() override { g_released = &released_; }
  void TearDown() override { g_released = nullptr; }

  std::vector<int> released_;
};

TEST_F(ScopedGenericTest, ReleasesOnceAtScopeEnd) {
  {
    ScopedFake owner(7);
    EXPECT_TRUE(owner.is_valid());
    EXPECT_EQ(7, owner.get());
  }
  { ScopedFake nothing; }
  EXPECT_EQ(std::vector<int>{7}, released_);
}

TEST_F(ScopedGenericTest, ResetReleasesTheOldValueOnly) {
  ScopedFake owner(1);
  owner.reset(2);
  owner.reset(2);  // The same value: nothing to release.
  EXPECT_EQ(std::vector<int>{1}, released_);
  owner.reset();
  EXPECT_FALSE(owner.is_valid());
  EXPECT_EQ((std::vector<int>{1, 2}), released_);
}

TEST_F(ScopedGenericTest, ReleaseGivesUpAndReceiveTakesOwnership) {
  int value = -1;
  {
    ScopedFake owner(5);
    value = owner.release();
    EXPECT_FALSE(owner.is_valid());
  }
  EXPECT_EQ(5, value);
  EXPECT_TRUE(released_.empty());

  // And receive fills an empty owner, which then releases it.
  {
    ScopedFake owner;
    *owner.receive() = 9;
    EXPECT_EQ(9, owner.get());
  }
  EXPECT_EQ(std::vector<int>{9}, released_);
}

TEST_F(ScopedGenericTest, MoveTransfersOwnership) {
  {
    ScopedFake first(3);
    ScopedFake second(std::move(first));
    EXPECT_FALSE(first.is_valid());
    EXPECT_EQ(3, second.get());
    ScopedFake third(4);
    third = std::move(second);  // 4 goes now, 3 at scope end.
    EXPECT_EQ(std::vector<int>{4}, released_);
    EXPECT_EQ(3, third.get());
  }
  EXPECT_EQ((std::vector<int>{4, 3}), released_);
}

// The real kinds: their invalid values and release functions fit.
TEST(ScopedGenericKindsTest, RealResources) {
  ScopedLocalAlloc local(::LocalAlloc(LMEM_FIXED, 16));
  EXPECT_TRUE(local.is_valid());
  ScopedCoMem<wchar_t> co_mem(
      static_cast<wchar_t*>(::CoTaskMemAlloc(16 * sizeof(wchar_t))));
  EXPECT_TRUE(co_mem.is_valid());

  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  ScopedSid sid;
  ASSERT_TRUE(::AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0,
                                         0, 0, 0, 0, sid.receive()));
  EXPECT_TRUE(::IsValidSid(sid.get()));

  ScopedLocalSecurityDescriptor descriptor;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:(A;;GA;;;WD)", SDDL_REVISION_1, descriptor.receive(), nullptr));
  EXPECT_TRUE(::IsValidSecurityDescriptor(descriptor.get()));
  ScopedLocalAcl acl(static_cast<PACL>(::LocalAlloc(LPTR, sizeof(ACL))));
  EXPECT_TRUE(::InitializeAcl(acl.get(), sizeof(ACL), ACL_REVISION));

  FilePath exe_dir;
  ASSERT_TRUE(PathService::Get(DIR_EXE, &exe_dir));
  WIN32_FIND_DATAW data;
  ScopedFindHandle found(
      ::FindFirstFileW(exe_dir.Append(L"*").value().c_str(), &data));
  EXPECT_TRUE(found.is_valid());
  ScopedFindHandle missing(::FindFirstFileW(
      exe_dir.Append(L"no-such-file-*.none").value().c_str(), &data));
  EXPECT_FALSE(missing.is_valid());
}

}  // namespace
}  // namespace win
}  // namespace base
