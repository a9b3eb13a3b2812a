#ifndef BASE_WIN_STARTUP_INFORMATION_H_
#define BASE_WIN_STARTUP_INFORMATION_H_

#include <windows.h>

#include <stddef.h>

#include "base/macros.h"

namespace base {
namespace win {

// The extended start-up record of process creation, with an attribute list
// that it owns. The attribute-list functions are looked up at run time.
class StartupInformation {
 public:
  StartupInformation();
  ~StartupInformation();

  // Makes an attribute list with room for |attribute_count| attributes.
  bool InitializeProcThreadAttributeList(DWORD attribute_count);

  // Sets one attribute of the list; |value| must outlive the record.
  bool UpdateProcThreadAttribute(DWORD_PTR attribute, void* value, size_t size);

  LPSTARTUPINFOW startup_info() { return &startup_info_.StartupInfo; }
  LPSTARTUPINFOW startup_info() const {
    return const_cast<LPSTARTUPINFOW>(&startup_info_.StartupInfo);
  }

  bool has_extended_startup_info() const {
    return !!startup_info_.lpAttributeList;
  }

 private:
  STARTUPINFOEXW startup_info_;

  DISALLOW_COPY_AND_ASSIGN(StartupInformation);
};

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_STARTUP_INFORMATION_H_
