#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_ACCESS_ENTRIES_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_ACCESS_ENTRIES_H_

#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

namespace installer {
namespace test {

// One entry of an access-control list, with its trustee as a SID string
// ("S-1-1-0").
struct AccessEntry {
  BYTE type;
  BYTE flags;
  ACCESS_MASK mask;
  std::wstring sid;
};

// The entries of |dacl| in order; none for a null list.
inline std::vector<AccessEntry> ReadAccessEntries(PACL dacl) {
  std::vector<AccessEntry> entries;
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    LPWSTR sid = nullptr;
    if (!::GetAce(dacl, i, reinterpret_cast<void**>(&ace)) ||
        !::ConvertSidToStringSidW(&ace->SidStart, &sid)) {
      continue;
    }
    entries.push_back(
        {ace->Header.AceType, ace->Header.AceFlags, ace->Mask, sid});
    ::LocalFree(sid);
  }
  return entries;
}

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_ACCESS_ENTRIES_H_
