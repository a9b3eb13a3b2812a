#ifndef DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_H_

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

namespace installer {

class InstallerProgressNotifier;
class ProgressCalculator;
class Settings;

// The wizard's pages, in the order the window numbers them.
enum InstallerPage : int {
  PAGE_WELCOME = 0,
  PAGE_MAINTENANCE = 1,
  PAGE_TERMS = 2,
  PAGE_OPTIONS = 3,
  PAGE_PROGRESS = 4,
  PAGE_ERROR = 5,
  PAGE_NONE = 6,
};

// What the user decides in the wizard, told to the controller.
class InstallerWindowDelegate {
 public:
  virtual ~InstallerWindowDelegate() = default;
  virtual void Accept() = 0;
  // The user closes the wizard.
  virtual void Cancel() = 0;
  // The error page's try-again button.
  virtual void Retry() = 0;
  virtual void ObtainFullPackage() = 0;
};

// The wizard window as the controller sees it. UI thread only.
class InstallerWindow {
 public:
  virtual ~InstallerWindow() = default;
  // The main dialog.
  virtual HWND GetWindowHandle() = 0;
  virtual void ShowProgressPage() = 0;
  // Shows the error page with |text|; the full-package button shows only
  // when |offer_full_package|. |detail| goes into the page statistics.
  virtual void DisplayError(const std::wstring& text,
                            bool offer_full_package,
                            const std::optional<std::string>& detail) = 0;
  // A modal error box; then every delegate's Cancel.
  virtual void ShowErrorMessageBox(const std::wstring& text) = 0;
  virtual void AddObserver(InstallerWindowDelegate* delegate) = 0;
  virtual void RemoveObserver(InstallerWindowDelegate* delegate) = 0;
};

// Makes and shows the wizard; null (after logging) when its dialogs cannot
// be made. The arguments must outlive the window.
std::unique_ptr<InstallerWindow> CreateInstallerWindow(
    Settings* settings,
    InstallerProgressNotifier* notifier,
    ProgressCalculator* calculator);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_H_
