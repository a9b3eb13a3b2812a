#include "base/win/pe_image.h"

#include <string.h>

namespace base {
namespace win {

void* PEImage::RVAToAddr(uint32_t rva) const {
  if (rva == 0)
    return nullptr;
  return reinterpret_cast<char*>(module_) + rva;
}

PIMAGE_DOS_HEADER PEImage::GetDosHeader() const {
  return reinterpret_cast<PIMAGE_DOS_HEADER>(module_);
}

PIMAGE_NT_HEADERS PEImage::GetNTHeaders() const {
  PIMAGE_DOS_HEADER dos_header = GetDosHeader();
  if (!dos_header || dos_header->e_magic != IMAGE_DOS_SIGNATURE)
    return nullptr;
  PIMAGE_NT_HEADERS nt_headers = reinterpret_cast<PIMAGE_NT_HEADERS>(
      reinterpret_cast<char*>(dos_header) + dos_header->e_lfanew);
  if (nt_headers->Signature != IMAGE_NT_SIGNATURE)
    return nullptr;
  return nt_headers;
}

WORD PEImage::GetNumSections() const {
  PIMAGE_NT_HEADERS nt_headers = GetNTHeaders();
  return nt_headers ? nt_headers->FileHeader.NumberOfSections : 0;
}

const IMAGE_SECTION_HEADER* PEImage::GetSectionHeader(UINT section) const {
  PIMAGE_NT_HEADERS nt_headers = GetNTHeaders();
  if (!nt_headers || section >= nt_headers->FileHeader.NumberOfSections)
    return nullptr;
  return IMAGE_FIRST_SECTION(nt_headers) + section;
}

const IMAGE_SECTION_HEADER* PEImage::GetImageSectionHeaderByName(
    const char* section_name) const {
  if (!section_name)
    return nullptr;
  const WORD num_sections = GetNumSections();
  for (UINT i = 0; i < num_sections; ++i) {
    const IMAGE_SECTION_HEADER* section = GetSectionHeader(i);
    if (strncmp(reinterpret_cast<const char*>(section->Name), section_name,
                IMAGE_SIZEOF_SHORT_NAME) == 0) {
      return section;
    }
  }
  return nullptr;
}

}  // namespace win
}  // namespace base
