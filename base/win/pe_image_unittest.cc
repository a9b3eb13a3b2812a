#include "base/win/pe_image.h"

#include <stdint.h>
#include <string.h>

#include "gtest/gtest.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace base {
namespace win {

namespace {

HMODULE SelfModule() {
  return reinterpret_cast<HMODULE>(&__ImageBase);
}

}  // namespace

TEST(PEImageTest, RVAToAddrIsRelativeToTheBase) {
  PEImage image(SelfModule());
  EXPECT_EQ(nullptr, image.RVAToAddr(0));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(SelfModule()) + 0x1234,
            reinterpret_cast<uintptr_t>(image.RVAToAddr(0x1234)));
}

TEST(PEImageTest, FindsSectionsByName) {
  PEImage image(SelfModule());
  ASSERT_NE(nullptr, image.GetNTHeaders());
  ASSERT_GT(image.GetNumSections(), 0);

  const IMAGE_SECTION_HEADER* text = image.GetImageSectionHeaderByName(".text");
  ASSERT_NE(nullptr, text);
  EXPECT_EQ(0, memcmp(text->Name, ".text\0\0\0", 8));
  // This function's code lies inside the section found.
  const char* start =
      static_cast<const char*>(image.RVAToAddr(text->VirtualAddress));
  const char* code = reinterpret_cast<const char*>(&SelfModule);
  EXPECT_GE(code, start);
  EXPECT_LT(code, start + text->Misc.VirtualSize);

  // The first section is also found by its own name.
  const IMAGE_SECTION_HEADER* first = image.GetSectionHeader(0);
  char name[IMAGE_SIZEOF_SHORT_NAME + 1] = {};
  memcpy(name, first->Name, IMAGE_SIZEOF_SHORT_NAME);
  EXPECT_EQ(first, image.GetImageSectionHeaderByName(name));
  EXPECT_EQ(nullptr, image.GetSectionHeader(image.GetNumSections()));

  EXPECT_EQ(nullptr, image.GetImageSectionHeaderByName(".tex"));
  EXPECT_EQ(nullptr, image.GetImageSectionHeaderByName(".thunks"));
  EXPECT_EQ(nullptr, image.GetImageSectionHeaderByName(".syzygy"));
}

TEST(PEImageTest, ComparesAtMostEightBytes) {
  // A name longer than a section header holds matches on its first 8
  // bytes, as a header of exactly 8 characters has no terminating NUL.
  char header_bytes[sizeof(IMAGE_DOS_HEADER) + sizeof(IMAGE_NT_HEADERS) +
                    2 * sizeof(IMAGE_SECTION_HEADER)] = {};
  IMAGE_DOS_HEADER* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(header_bytes);
  dos->e_magic = IMAGE_DOS_SIGNATURE;
  dos->e_lfanew = sizeof(IMAGE_DOS_HEADER);
  IMAGE_NT_HEADERS* nt =
      reinterpret_cast<IMAGE_NT_HEADERS*>(header_bytes + dos->e_lfanew);
  nt->Signature = IMAGE_NT_SIGNATURE;
  nt->FileHeader.NumberOfSections = 2;
  nt->FileHeader.SizeOfOptionalHeader = sizeof(nt->OptionalHeader);
  IMAGE_SECTION_HEADER* sections = IMAGE_FIRST_SECTION(nt);
  memcpy(sections[0].Name, ".a", 2);
  memcpy(sections[1].Name, ".longnam", 8);

  PEImage image(static_cast<const void*>(header_bytes));
  EXPECT_EQ(&sections[0], image.GetImageSectionHeaderByName(".a"));
  EXPECT_EQ(&sections[1], image.GetImageSectionHeaderByName(".longnam"));
  EXPECT_EQ(&sections[1], image.GetImageSectionHeaderByName(".longname"));
  EXPECT_EQ(nullptr, image.GetImageSectionHeaderByName(".longna"));

  dos->e_magic = 0;
  EXPECT_EQ(nullptr, image.GetNTHeaders());
  EXPECT_EQ(nullptr, image.GetImageSectionHeaderByName(".a"));
}

}  // namespace win
}  // namespace base
