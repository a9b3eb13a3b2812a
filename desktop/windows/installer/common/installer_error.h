#ifndef DESKTOP_WINDOWS_INSTALLER_COMMON_INSTALLER_ERROR_H_
#define DESKTOP_WINDOWS_INSTALLER_COMMON_INSTALLER_ERROR_H_

#include <string>

#include "base/macros.h"
#include "desktop/windows/installer/common/installer_result.h"

namespace installer {

// The last failure of the current thread. Deep code records why it failed
// here instead of returning the reason through every caller; each caller on
// the way up adds one context line, and the code that reports the failure
// reads the whole record.
struct InstallerErrorRecord {
  InstallerResult code = RESULT_SUCCESS;
  std::wstring path;
  // UTF-8; context lines follow after line feeds.
  std::string message;
};

// Gives the current thread a fresh record for its lifetime. Threads without
// one do not take part: setting and adding do nothing there.
class ScopedInstallerErrorRecord {
 public:
  ScopedInstallerErrorRecord();
  ~ScopedInstallerErrorRecord();

 private:
  DISALLOW_COPY_AND_ASSIGN(ScopedInstallerErrorRecord);
};

// Overwrites all three fields of the thread's record. Always returns false,
// so that a failing function can `return SetLastInstallerError(...)`.
bool SetLastInstallerError(InstallerResult code,
                           const std::string& message,
                           const std::wstring& path = std::wstring());

// Appends a line feed and |message|; replaces the code only when |code| is
// not RESULT_SUCCESS and the path only when |path| is not empty, so the
// innermost failure's code survives. Always returns false.
bool AddLastInstallerErrorContext(const std::string& message,
                                  InstallerResult code = RESULT_SUCCESS,
                                  const std::wstring& path = std::wstring());

// Copies the thread's record out; an empty record on a thread without one.
// Any out pointer may be null.
void GetLastInstallerError(InstallerResult* code,
                           std::string* message,
                           std::wstring* path);
InstallerResult GetLastInstallerErrorCode();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_COMMON_INSTALLER_ERROR_H_
