#include "desktop/windows/installer/installer.h"

#include "desktop/windows/installer/installer_observer.h"

// Placeholder bodies; the real ones replace this file.
namespace installer {

Installer::Installer() = default;
Installer::~Installer() = default;
void Installer::AddObserver(InstallerObserver* observer) {
  observers_.AddObserver(observer);
}
void Installer::RemoveObserver(InstallerObserver* observer) {
  observers_.RemoveObserver(observer);
}
bool Installer::Run(Settings* settings) {
  return false;
}

}  // namespace installer
