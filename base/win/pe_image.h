#ifndef BASE_WIN_PE_IMAGE_H_
#define BASE_WIN_PE_IMAGE_H_

#include <windows.h>

#include <stdint.h>

namespace base {
namespace win {

// A view of a module image loaded in this process. It reads the image's
// headers in place and owns nothing.
class PEImage {
 public:
  explicit PEImage(HMODULE module) : module_(module) {}
  explicit PEImage(const void* module)
      : module_(reinterpret_cast<HMODULE>(const_cast<void*>(module))) {}
  virtual ~PEImage() = default;

  HMODULE module() const { return module_; }

  // The address of a relative virtual address inside the image; null for
  // 0. An image mapped as a plain file would override this.
  virtual void* RVAToAddr(uint32_t rva) const;

  // The DOS header of the image.
  PIMAGE_DOS_HEADER GetDosHeader() const;
  // The NT headers, or null when the image does not carry valid DOS and NT
  // signatures.
  PIMAGE_NT_HEADERS GetNTHeaders() const;

  // The number of sections, and the header of section |section| (0-based)
  // or null past the last one.
  WORD GetNumSections() const;
  const IMAGE_SECTION_HEADER* GetSectionHeader(UINT section) const;

  // The first section header whose name matches |section_name| in at most
  // 8 bytes (section names are NUL-padded only when shorter), or null.
  const IMAGE_SECTION_HEADER* GetImageSectionHeaderByName(
      const char* section_name) const;

 private:
  HMODULE module_;
};

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_PE_IMAGE_H_
