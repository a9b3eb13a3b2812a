#include "base/environment.h"

#include <windows.h>

#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "base/strings/string_util.h"
#include "gtest/gtest.h"

namespace base {

namespace {

// The process environment ignores case, so a second lookup with the case
// flipped cannot be seen in what GetVar answers. This routes the test
// executable's own import of GetEnvironmentVariableW through a recorder for
// its lifetime, so the test sees every name that was asked for.
class ScopedEnvironmentReadRecorder {
 public:
  ScopedEnvironmentReadRecorder() {
    slot_ = FindImportSlot();
    if (!slot_)
      return;
    original_ = reinterpret_cast<GetVariableFunction>(*slot_);
    current_ = this;
    Patch(reinterpret_cast<void*>(&Record));
  }
  ~ScopedEnvironmentReadRecorder() {
    if (!slot_)
      return;
    Patch(reinterpret_cast<void*>(original_));
    current_ = nullptr;
  }
  ScopedEnvironmentReadRecorder(const ScopedEnvironmentReadRecorder&) = delete;
  ScopedEnvironmentReadRecorder& operator=(
      const ScopedEnvironmentReadRecorder&) = delete;

  bool installed() const { return slot_ != nullptr; }

  // The names asked for that start with |prefix| (ASCII case ignored), so
  // that reads by unrelated code do not disturb the test.
  std::vector<std::wstring> NamesStartingWith(const wchar_t* prefix) const {
    std::vector<std::wstring> result;
    for (const std::wstring& name : names_) {
      if (StartsWith(name, prefix, CompareCase::INSENSITIVE_ASCII))
        result.push_back(name);
    }
    return result;
  }

 private:
  using GetVariableFunction = DWORD(WINAPI*)(LPCWSTR, LPWSTR, DWORD);

  static DWORD WINAPI Record(LPCWSTR name, LPWSTR buffer, DWORD size) {
    ScopedEnvironmentReadRecorder* self = current_;
    self->names_.push_back(name ? name : L"");
    return self->original_(name, buffer, size);
  }

  // The import address table entry of kernel32's GetEnvironmentVariableW
  // in the main module, found by its name in the import name table.
  static void** FindImportSlot() {
    BYTE* base = reinterpret_cast<BYTE*>(::GetModuleHandleW(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!directory.VirtualAddress)
      return nullptr;
    for (auto* import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(
             base + directory.VirtualAddress);
         import->Name; ++import) {
      if (_stricmp(reinterpret_cast<char*>(base + import->Name),
                   "kernel32.dll") != 0 ||
          !import->OriginalFirstThunk) {
        continue;
      }
      auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(
          base + import->OriginalFirstThunk);
      auto* slots =
          reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
      for (; names->u1.AddressOfData; ++names, ++slots) {
        if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
          continue;
        auto* by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(
            base + names->u1.AddressOfData);
        if (strcmp(reinterpret_cast<char*>(by_name->Name),
                   "GetEnvironmentVariableW") == 0) {
          return reinterpret_cast<void**>(&slots->u1.Function);
        }
      }
    }
    return nullptr;
  }

  void Patch(void* function) {
    DWORD old_protection;
    ::VirtualProtect(slot_, sizeof(*slot_), PAGE_READWRITE, &old_protection);
    *slot_ = function;
    ::VirtualProtect(slot_, sizeof(*slot_), old_protection, &old_protection);
  }

  static ScopedEnvironmentReadRecorder* current_;

  void** slot_ = nullptr;
  GetVariableFunction original_ = nullptr;
  std::vector<std::wstring> names_;
};

ScopedEnvironmentReadRecorder* ScopedEnvironmentReadRecorder::current_ =
    nullptr;

class EnvironmentTest : public testing::Test {
 protected:
  void TearDown() override {
    for (const wchar_t* name : {L"KAVOR_ENV_TEST", L"KAVOR_ENV_EMPTY"}) {
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
  EXPECT_FALSE(env_->GetVar("", &value));
  EXPECT_FALSE(env_->HasVar(""));
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

TEST_F(EnvironmentTest, NonAsciiValueIsUtf8) {
  ASSERT_TRUE(
      ::SetEnvironmentVariableW(L"KAVOR_ENV_TEST", L"caf\u00e9 \u20ac"));
  std::string value;
  EXPECT_TRUE(env_->GetVar("KAVOR_ENV_TEST", &value));
  EXPECT_EQ("caf\xc3\xa9 \xe2\x82\xac", value);

  ASSERT_TRUE(env_->SetVar("KAVOR_ENV_TEST", "\xe2\x82\xac"));
  wchar_t buffer[8] = {};
  EXPECT_EQ(1u, ::GetEnvironmentVariableW(L"KAVOR_ENV_TEST", buffer, 8));
  EXPECT_EQ(L'\u20ac', buffer[0]);
}

TEST_F(EnvironmentTest, MissingNameIsAskedAgainWithCaseFlipped) {
  ScopedEnvironmentReadRecorder recorder;
  ASSERT_TRUE(recorder.installed());
  std::string value = "untouched";

  // A lower-case first letter: the whole name again in upper case.
  EXPECT_FALSE(env_->GetVar("kavor_env_Missing", &value));
  EXPECT_EQ(
      (std::vector<std::wstring>{L"kavor_env_Missing", L"KAVOR_ENV_MISSING"}),
      recorder.NamesStartingWith(L"kavor_env_missing"));

  // An upper-case first letter: the whole name again in lower case; HasVar
  // takes the same two steps.
  EXPECT_FALSE(env_->HasVar("Kavor_Env_Absent"));
  EXPECT_EQ(
      (std::vector<std::wstring>{L"Kavor_Env_Absent", L"kavor_env_absent"}),
      recorder.NamesStartingWith(L"kavor_env_absent"));

  // Any other first byte: asked once.
  EXPECT_FALSE(env_->GetVar("_kavor_env_none", &value));
  EXPECT_FALSE(env_->GetVar("1kavor_env_none", &value));
  EXPECT_EQ(std::vector<std::wstring>{L"_kavor_env_none"},
            recorder.NamesStartingWith(L"_kavor_env_none"));
  EXPECT_EQ(std::vector<std::wstring>{L"1kavor_env_none"},
            recorder.NamesStartingWith(L"1kavor_env_none"));
  EXPECT_EQ("untouched", value);

  // A name that exists is not asked for a second time; the value is read
  // with the size the first question gave.
  ASSERT_TRUE(env_->SetVar("KAVOR_ENV_TEST", "v"));
  EXPECT_TRUE(env_->GetVar("KAVOR_ENV_TEST", &value));
  EXPECT_EQ("v", value);
  EXPECT_EQ((std::vector<std::wstring>{L"KAVOR_ENV_TEST", L"KAVOR_ENV_TEST"}),
            recorder.NamesStartingWith(L"kavor_env_test"));
}

}  // namespace base
