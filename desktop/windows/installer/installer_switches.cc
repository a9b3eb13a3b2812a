#include "desktop/windows/installer/installer_switches.h"

#include <iterator>

namespace installer {

namespace {

// Built into the image, so it exists as soon as the library is loaded.
constexpr SwitchHelp kSwitchHelp[] = {
    {"silent", nullptr,
     "Run the installer fully unattended. No dialog will be displayed in this "
     "mode. If it isn't running with sufficient privileges, the installer "
     "will fail instead of prompting the user.",
     nullptr},
    {"runimmediately", nullptr,
     "Run the installer mostly unattended. The installation will start "
     "immediately and the progress dialog will be displayed. The installer "
     "will prompt the user for elevation if needed.",
     nullptr},
    {"language", "LANGUAGE",
     "Install %s in the specified language.This language will also be used "
     "during installation.",
     "The Operating system UI language."},
    {"installfolder", "FOLDER", "Install %s in the specified folder.", nullptr},
    {"allusers", "[0|1]", "If true, install %s for all users on the system.",
     "True when running from an administrative acount."},
    {"copyonly", "[0|1]",
     "If true, the installer will only copy the files to the installation "
     "folder and will otherwise not perform any modification on the system.",
     "False."},
    {"singleprofile", "[0|1]",
     "If true, the installer will set up %s to use a singleprofile located in "
     "the installation folder.",
     "False."},
    {"setdefaultbrowser", "[0|1]",
     "If true, make %s the default browser for this user or computer.",
     "True for %s Stable."},
    {"desktopshortcut", "[0|1]",
     "If true, create a shortcut for %s on the desktop.", "True."},
    {"startmenushortcut", "[0|1]",
     "If true, create a shortcut for %s on the start menu.", "True."},
    {"quicklaunchshortcut", "[0|1]",
     "If true, create a shortcut for %s on the quick launch menu.",
     "False on Window 7 and later. True otherwise"},
    {"pintotaskbar", "[0|1]", "If true, pin %s to the taskbar.",
     "True on Window 7 and later. False otherwise."},
    {"import-browser-data", "[0|1]",
     "If true, %s is set up to import user data from the previously default "
     "browser when creating new user profiles.",
     "True."},
    {"enable-stats", "[0|1]",
     "If true, %s will by default gather and report statistics.", "True."},
    {"enable-installer-stats", "[0|1]",
     "If true, installer will by default gather and report statistics.",
     "True."},
    {"launchbrowser", "[0|1]",
     "If true, %s is launched once the installation is completed.", "True."},
};

}  // namespace

const SwitchHelp* GetSwitchHelpTable(size_t* count) {
  *count = std::size(kSwitchHelp);
  return kSwitchHelp;
}

}  // namespace installer
