#include <windows.h>

#include <set>
#include <string>

#include "base/base_paths.h"
#include "base/files/file_path.h"
#include "base/path_service.h"
#include "base/strings/string_util.h"
#include "base/win/pe_image.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// The loader takes these from the system folder whatever folder the program
// runs from (the known DLLs of Windows 7 and later).
const char* const kKnownDlls[] = {
    "advapi32.dll", "comdlg32.dll", "gdi32.dll",   "imm32.dll",
    "kernel32.dll", "msvcrt.dll",   "ole32.dll",   "oleaut32.dll",
    "rpcrt4.dll",   "setupapi.dll", "shell32.dll", "shlwapi.dll",
    "user32.dll",   "ws2_32.dll",   "ntdll.dll",
};

// The installer starts from a download folder; a DLL it imports by name and
// the loader looks for beside the program first could be anyone's. Every
// other system DLL is looked up at run time in the system folder.
TEST(LibraryImportsTest, ImportsOnlyKnownDlls) {
  base::FilePath bin;
  ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &bin));
  HMODULE image =
      ::LoadLibraryExW(bin.Append(L"kavor_installer.dll").value().c_str(),
                       nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(nullptr, image) << ::GetLastError();
  // A resource mapping marks its handle in the low bits.
  base::win::PEImage pe(reinterpret_cast<HMODULE>(
      reinterpret_cast<ULONG_PTR>(image) & ~static_cast<ULONG_PTR>(3)));
  PIMAGE_NT_HEADERS nt = pe.GetNTHeaders();
  ASSERT_NE(nullptr, nt);
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  ASSERT_NE(0u, directory.VirtualAddress);

  std::set<std::string> known(std::begin(kKnownDlls), std::end(kKnownDlls));
  int imports = 0;
  for (auto* entry = static_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
           pe.RVAToAddr(directory.VirtualAddress));
       entry->Name; ++entry) {
    std::string name =
        base::ToLowerASCII(static_cast<const char*>(pe.RVAToAddr(entry->Name)));
    EXPECT_TRUE(known.count(name)) << name << " is not a known DLL";
    ++imports;
  }
  EXPECT_GT(imports, 0);
  ::FreeLibrary(image);
}

}  // namespace
}  // namespace installer
