#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_SECURITY_UTILS_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_SECURITY_UTILS_H_

#include "desktop/windows/installer/service/security_utils.h"

namespace installer {
namespace test {

// The real security utilities, except that the user is an administrator
// only while |admin| says so (Wine always runs elevated).
class FakeSecurityUtils : public SecurityUtilsImpl {
 public:
  explicit FakeSecurityUtils(bool admin = true) : admin(admin) {}

  bool IsUserAdmin(bool) override { return admin; }

  bool admin;
};

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_SECURITY_UTILS_H_
