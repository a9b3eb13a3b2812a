#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_SIGNATURE_CHECKER_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_SIGNATURE_CHECKER_H_

#include <string>

#include "base/base_paths.h"
#include "base/files/file_path.h"
#include "base/path_service.h"
#include "desktop/windows/installer/package_fetcher/signature_check.h"
#include "gtest/gtest.h"

namespace installer {
namespace test {

// Says how the running installer is signed (|own_known|, |own_signed|);
// any other program is unsigned and verifies only with |verifies|.
class FakeSignatureChecker : public SignatureChecker {
 public:
  bool own_known = true, own_signed = false, verifies = false;

  bool HasSecurityDirectory(const base::FilePath& path,
                            bool* is_signed) override {
    base::FilePath exe;
    EXPECT_TRUE(base::PathService::Get(base::FILE_EXE, &exe));
    *is_signed = path == exe ? own_signed : false;
    return path == exe ? own_known : true;
  }
  bool VerifyFileSignature(const base::FilePath&, std::string*) override {
    return verifies;
  }
};

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_SIGNATURE_CHECKER_H_
