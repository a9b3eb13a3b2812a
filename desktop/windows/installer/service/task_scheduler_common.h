#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_COMMON_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_COMMON_H_

#include <windows.h>

#include <string>

#include "base/time/time.h"
#include "base/win/scoped_bstr.h"

namespace installer {

// The product name, " scheduled " and the caller's part.
std::wstring GetScheduledTaskFullName(const std::wstring& name);

// Whether |full_name| is one of this product's tasks (the product name and
// " scheduled ", compared ASCII case-insensitively).
bool IsProductScheduledTaskName(const std::wstring& full_name);

// Local calendar fields as a time (milliseconds dropped); null time when
// they are not a valid date.
base::Time TimeFromLocalSystemTime(const SYSTEMTIME& local);

// A COM string holding |text|; running out of memory for one is fatal.
class TaskString {
 public:
  explicit TaskString(const std::wstring& text);
  ~TaskString();

  operator BSTR() const { return bstr_.Get(); }

 private:
  base::win::ScopedBstr bstr_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_COMMON_H_
