#include "desktop/windows/installer/steps/copy_file_step.h"

namespace installer {

bool IsCopyFileStepName(const std::string& name) {
  return name.find("copy_file") != std::string::npos;
}

}  // namespace installer
