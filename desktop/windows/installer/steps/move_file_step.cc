#include "desktop/windows/installer/steps/move_file_step.h"

namespace installer {

bool IsMoveFileStepName(const std::string& name) {
  return name == "move_file";
}

}  // namespace installer
