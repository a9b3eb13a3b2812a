#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_MOVE_FILE_STEP_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_MOVE_FILE_STEP_H_

#include <string>

namespace installer {

// Every root file moved up into the install folder is a step of this one
// name.
bool IsMoveFileStepName(const std::string& name);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_MOVE_FILE_STEP_H_
