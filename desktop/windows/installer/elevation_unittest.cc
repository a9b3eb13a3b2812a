#include "desktop/windows/installer/elevation.h"

#include <windows.h>
#include <aclapi.h>

#include <string>

#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/test/access_entries.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// Whether the event's DACL has an entry of its own that lets the
// Administrators group do anything, without passing it on.
bool AdministratorsMayDoAnything(HANDLE event) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(event, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION,
                        nullptr, nullptr, &dacl, nullptr,
                        &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  bool found = false;
  for (const test::AccessEntry& entry : test::ReadAccessEntries(dacl)) {
    found |= entry.type == ACCESS_ALLOWED_ACE_TYPE && entry.flags == 0 &&
             entry.sid == L"S-1-5-32-544" &&
             ((entry.mask & GENERIC_ALL) ||
              (entry.mask & EVENT_ALL_ACCESS) == EVENT_ALL_ACCESS);
  }
  ::LocalFree(descriptor);
  return found;
}

TEST(ElevationTest, FixEventACLLetsAdministratorsIn) {
  base::win::ScopedHandle event(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  ASSERT_TRUE(event.IsValid());
  EXPECT_FALSE(AdministratorsMayDoAnything(event.Get()));
  EXPECT_TRUE(FixEventACL(event.Get()));
  EXPECT_TRUE(AdministratorsMayDoAnything(event.Get()));
  // A handle that names nothing is refused, not worked around.
  EXPECT_FALSE(FixEventACL(nullptr));
}

}  // namespace
}  // namespace installer
