#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_COPY_FILE_STEP_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_COPY_FILE_STEP_H_

#include <string>

namespace installer {

// Copy steps are many and small; the front end weights them apart from the
// other steps and sends no statistics for them.
bool IsCopyFileStepName(const std::string& name);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_COPY_FILE_STEP_H_
