#include "base/native_library.h"

#include <windows.h>

#include <memory>

#include "base/base_paths.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/metrics/histogram.h"
#include "base/path_service.h"
#include "base/scoped_native_library.h"
#include "base/test/histogram_counts.h"
#include "gtest/gtest.h"

namespace base {

namespace {

const wchar_t kDepLibrary[] = L"kavor_native_dep.dll";
const wchar_t kMainLibrary[] = L"kavor_native_main.dll";

int SampleCount(NativeLoadOutcome outcome) {
  return HistogramSampleCount("LibraryLoader.LoadNativeLibraryWindows",
                              outcome);
}

bool HasSafeSearch() {
  return !!::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"),
                            "AddDllDirectory");
}

// Copies the two test libraries into a fresh folder, away from the test
// executable's own copies.
class NativeLibraryTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_dir_.CreateUniqueTempDir());
    FilePath exe_dir;
    ASSERT_TRUE(PathService::Get(DIR_EXE, &exe_dir));
    for (const wchar_t* name : {kDepLibrary, kMainLibrary}) {
      ASSERT_TRUE(
          CopyFile(exe_dir.Append(name), temp_dir_.GetPath().Append(name)))
          << name;
    }
  }

  FilePath LibraryPath(const wchar_t* name) const {
    return temp_dir_.GetPath().Append(name);
  }

  ScopedTempDir temp_dir_;
};

}  // namespace

TEST_F(NativeLibraryTest, MissingLibraryFailsWithModNotFound) {
  const NativeLoadOutcome expected =
      HasSafeSearch() ? BOTH_LOADS_FAILED : NO_SAFE_SEARCH_PLAIN_FAILED;
  const int before = SampleCount(expected);
  FilePath current_before;
  ASSERT_TRUE(GetCurrentDirectory(&current_before));

  NativeLibraryLoadError error;
  NativeLibrary library =
      LoadNativeLibrary(LibraryPath(L"no_such_library.dll"), &error);
  EXPECT_EQ(nullptr, library);
  EXPECT_EQ(static_cast<uint32_t>(ERROR_MOD_NOT_FOUND), error.code);
  EXPECT_EQ(before + 1, SampleCount(expected));

  // The fall-back load put the current folder back.
  FilePath current_after;
  ASSERT_TRUE(GetCurrentDirectory(&current_after));
  EXPECT_EQ(current_before, current_after);

  // Without an error record it fails the same way.
  EXPECT_EQ(nullptr,
            LoadNativeLibrary(FilePath(L"no_such_library.dll"), nullptr));
  EXPECT_EQ(before + 2, SampleCount(expected));
}

TEST_F(NativeLibraryTest, DependencyComesFromTheLibrarysOwnFolder) {
  ASSERT_TRUE(HasSafeSearch()) << "the system lacks AddDllDirectory";
  const int before = SampleCount(SAFE_SEARCH_LOADED);

  NativeLibraryLoadError error;
  NativeLibrary library = LoadNativeLibrary(LibraryPath(kMainLibrary), &error);
  ASSERT_NE(nullptr, library) << error.code;
  EXPECT_EQ(before + 1, SampleCount(SAFE_SEARCH_LOADED));

  // The dependency loaded is the copy beside the library, not the one
  // beside the executable.
  HMODULE dep = ::GetModuleHandleW(kDepLibrary);
  ASSERT_NE(nullptr, dep);
  wchar_t dep_path[MAX_PATH];
  ASSERT_NE(0u, ::GetModuleFileNameW(dep, dep_path, MAX_PATH));
  EXPECT_EQ(0, FilePath::CompareIgnoreCase(dep_path,
                                           LibraryPath(kDepLibrary).value()))
      << dep_path;

  typedef int (*ValueFunction)();
  ValueFunction value = reinterpret_cast<ValueFunction>(
      GetFunctionPointerFromNativeLibrary(library, "KavorNativeMainValue"));
  ASSERT_NE(nullptr, value);
  EXPECT_EQ(43, value());
  EXPECT_EQ(nullptr,
            GetFunctionPointerFromNativeLibrary(library, "NoSuchFunction"));
  UnloadNativeLibrary(library);
  // The dependency went with the library that needed it.
  EXPECT_EQ(nullptr, ::GetModuleHandleW(kDepLibrary));
}

TEST_F(NativeLibraryTest, ScopedLibraryUnloadsOnDestruction) {
  {
    ScopedNativeLibrary library(LibraryPath(kDepLibrary));
    ASSERT_TRUE(library.is_valid());
    EXPECT_NE(nullptr, ::GetModuleHandleW(kDepLibrary));
    EXPECT_NE(nullptr, library.GetFunctionPointer("KavorNativeDepValue"));
    EXPECT_EQ(nullptr, library.GetFunctionPointer("NoSuchFunction"));
  }
  EXPECT_EQ(nullptr, ::GetModuleHandleW(kDepLibrary));

  ScopedNativeLibrary released(LibraryPath(kDepLibrary));
  NativeLibrary raw = released.Release();
  ASSERT_NE(nullptr, raw);
  EXPECT_FALSE(released.is_valid());
  ScopedNativeLibrary adopted(raw);
  EXPECT_EQ(raw, adopted.get());

  ScopedNativeLibrary failed(LibraryPath(L"no_such_library.dll"));
  EXPECT_FALSE(failed.is_valid());
  EXPECT_EQ(nullptr, failed.GetFunctionPointer("KavorNativeDepValue"));
}

}  // namespace base
