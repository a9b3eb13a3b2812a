#include "base/environment.h"

#include <windows.h>

#include <memory>
#include <string>

#include "gtest/gtest.h"

namespace base {

namespace {

class EnvironmentTest : public testing::Test {
 protected:
  void TearDown() override {
    for (const wchar_t* name :
         {L"KAVOR_ENV_TEST", L"_KAVOR_ENV_UNDERSCORE", L"KAVOR_ENV_EMPTY"}) {
      ::SetEnvironmentVariableW(name, nullptr);
    }
  }

  std::unique_ptr<Environment> env_ = Environment::Create();
};

}  // namespace

TEST_F(EnvironmentTest, SetGetUnset) {
  EXPECT_FALSE(env_->HasVar("KAVOR_ENV_TEST"));
  ASSERT_TRUE(env_->SetVar("KAVOR_ENV_TEST", "value"));
  std::string value;
  EXPECT_TRUE(env_->GetVar("KAVOR_ENV_TEST", &value));
  EXPECT_EQ("value", value);
  EXPECT_TRUE(env_->HasVar("KAVOR_ENV_TEST"));
  EXPECT_TRUE(env_->GetVar("KAVOR_ENV_TEST", nullptr));

  ASSERT_TRUE(env_->UnSetVar("KAVOR_ENV_TEST"));
  value = "untouched";
  EXPECT_FALSE(env_->GetVar("KAVOR_ENV_TEST", &value));
  EXPECT_EQ("untouched", value);
}

TEST_F(EnvironmentTest, EmptyValueIsFound) {
  ASSERT_TRUE(::SetEnvironmentVariableW(L"KAVOR_ENV_EMPTY", L""));
  std::string value = "junk";
  ::SetLastError(ERROR_ENVVAR_NOT_FOUND);
  EXPECT_TRUE(env_->GetVar("KAVOR_ENV_EMPTY", &value));
  EXPECT_EQ("", value);
  EXPECT_TRUE(env_->HasVar("KAVOR_ENV_EMPTY"));
}

TEST_F(EnvironmentTest, EmptyNameIsRefused) {
  std::string value = "untouched";
  EXPECT_FALSE(env_->GetVar("", &value));
  EXPECT_EQ("untouched", value);
  EXPECT_FALSE(env_->HasVar(""));
}

TEST_F(EnvironmentTest, SecondLookupFlipsCaseByFirstLetter) {
  // The Windows environment ignores case itself, so the second lookup is
  // observed through a name that only differs after case flipping: a
  // lower-case first letter is retried in upper case.
  ASSERT_TRUE(env_->SetVar("KAVOR_ENV_TEST", "upper"));
  std::string value;
  EXPECT_TRUE(env_->GetVar("kavor_env_test", &value));
  EXPECT_EQ("upper", value);
  EXPECT_TRUE(env_->HasVar("kavor_env_test"));
  EXPECT_TRUE(env_->GetVar("Kavor_Env_Test", &value));
  EXPECT_EQ("upper", value);
}

TEST_F(EnvironmentTest, NonLetterFirstCharacter) {
  ASSERT_TRUE(env_->SetVar("_KAVOR_ENV_UNDERSCORE", "u"));
  std::string value;
  EXPECT_TRUE(env_->GetVar("_KAVOR_ENV_UNDERSCORE", &value));
  EXPECT_EQ("u", value);
  EXPECT_FALSE(env_->HasVar("1KAVOR_ENV_MISSING"));
}

TEST_F(EnvironmentTest, NonAsciiValueIsUtf8) {
  ASSERT_TRUE(::SetEnvironmentVariableW(L"KAVOR_ENV_TEST", L"caf\u00e9 \u20ac"));
  std::string value;
  EXPECT_TRUE(env_->GetVar("KAVOR_ENV_TEST", &value));
  EXPECT_EQ("caf\xc3\xa9 \xe2\x82\xac", value);

  ASSERT_TRUE(env_->SetVar("KAVOR_ENV_TEST", "\xe2\x82\xac"));
  wchar_t buffer[8] = {};
  EXPECT_EQ(1u, ::GetEnvironmentVariableW(L"KAVOR_ENV_TEST", buffer, 8));
  EXPECT_EQ(L'\u20ac', buffer[0]);
}

}  // namespace base
