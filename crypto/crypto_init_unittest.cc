#include "crypto/crypto_init.h"

#include <windows.h>
#include <stdlib.h>

#include <memory>
#include <string>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/time/time.h"
#include "crypto/hmac.h"
#include "crypto/symmetric_key.h"
#include "gtest/gtest.h"

namespace crypto {
namespace {

// The library reads the variable once, when it initialises; this test
// executable has long done that, so the check runs in a child process of
// the same executable that starts with the variable set.
const wchar_t kForceFipsVariable[] = L"LIBGCRYPT_FORCE_FIPS_MODE";
const wchar_t kChildMarker[] = L"KAVOR_CRYPTO_FIPS_CHILD";

bool IsChild() {
  return ::GetEnvironmentVariableW(kChildMarker, nullptr, 0) != 0;
}

// Runs in the child only: what the glue promises must hold there too.
TEST(CryptoInitChildTest, ShortKeysWorkUnderForcedFipsVariable) {
  if (!IsChild())
    GTEST_SKIP() << "runs in the child of EnvironmentCannotForceFipsMode";
  EnsureCryptoInit();
  // The variable is hidden from the library only while it initialises.
  const char* variable = getenv("LIBGCRYPT_FORCE_FIPS_MODE");
  ASSERT_TRUE(variable);
  EXPECT_STREQ("1", variable);

  // RFC 6070, first vector: an 8-byte password FIPS mode refuses.
  std::unique_ptr<SymmetricKey> key = SymmetricKey::DeriveKeyFromPassword(
      SymmetricKey::AES, "password", "salt", 1, 128);
  ASSERT_TRUE(key);
  EXPECT_EQ("0c60c80f961f0e71f3a9b524af601206",
            base::ToLowerASCII(
                base::HexEncode(key->key().data(), key->key().size())));

  // RFC 4231, test case 2: a 4-byte key.
  std::unique_ptr<SymmetricKey> jefe = SymmetricKey::CreateForTesting("Jefe");
  HMAC hmac(HMAC::SHA256);
  ASSERT_TRUE(hmac.Init(jefe.get()));
  unsigned char digest[32];
  ASSERT_TRUE(
      hmac.Sign("what do ya want for nothing?", digest, sizeof(digest)));
  EXPECT_EQ("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843",
            base::ToLowerASCII(base::HexEncode(digest, sizeof(digest))));
}

TEST(CryptoInitTest, EnvironmentCannotForceFipsMode) {
  if (IsChild())
    GTEST_SKIP() << "the parent's half";
  base::FilePath exe;
  ASSERT_TRUE(base::PathService::Get(base::FILE_EXE, &exe));
  base::CommandLine command(exe);
  command.AppendArg(
      "--gtest_filter=CryptoInitChildTest."
      "ShortKeysWorkUnderForcedFipsVariable");

  // The child inherits this process's environment.
  ASSERT_TRUE(::SetEnvironmentVariableW(kForceFipsVariable, L"1"));
  ASSERT_TRUE(::SetEnvironmentVariableW(kChildMarker, L"1"));
  base::LaunchOptions options;
  options.start_hidden = true;
  base::Process child = base::LaunchProcess(command, options);
  ::SetEnvironmentVariableW(kForceFipsVariable, nullptr);
  ::SetEnvironmentVariableW(kChildMarker, nullptr);
  ASSERT_TRUE(child.IsValid());

  int exit_code = -1;
  bool ended = child.WaitForExitWithTimeout(base::TimeDelta::FromSeconds(30),
                                            &exit_code);
  if (!ended)
    child.Terminate(1, true);
  ASSERT_TRUE(ended) << "child did not end within 30 s";
  EXPECT_EQ(0, exit_code) << "the child's checks failed (see its output)";
}

}  // namespace
}  // namespace crypto
