#ifndef BASE_BASE_PATHS_WIN_H_
#define BASE_BASE_PATHS_WIN_H_

namespace base {

class FilePath;

// Keys of the path service for the Windows folders.
enum {
  PATH_WIN_START = 100,

  DIR_WINDOWS = 101,                 // The Windows folder.
  DIR_SYSTEM = 102,                  // The system folder.
  DIR_PROGRAM_FILES = 103,           // Program files of this process's kind.
  DIR_PROGRAM_FILESX86 = 104,        // 32-bit program files.
  DIR_PROGRAM_FILES6432 = 105,       // Native program files.
  DIR_IE_INTERNET_CACHE = 106,       // The internet cache.
  DIR_COMMON_START_MENU = 107,       // All users' start-menu programs.
  DIR_START_MENU = 108,              // The user's start-menu programs.
  DIR_APP_DATA = 109,                // Roaming application data.
  DIR_LOCAL_APP_DATA = 110,          // Local application data.
  DIR_COMMON_APP_DATA = 111,         // All users' application data.
  DIR_APP_SHORTCUTS = 112,           // Application shortcuts (Windows 8+).
  DIR_COMMON_DESKTOP = 113,          // All users' desktop.
  DIR_USER_QUICK_LAUNCH = 114,       // The user's quick-launch folder.
  DIR_TASKBAR_PINS = 115,            // Shortcuts pinned to the taskbar.
  DIR_IMPLICIT_APP_SHORTCUTS = 116,  // Implicit application shortcuts.
  DIR_WINDOWS_FONTS = 117,           // The fonts folder.

  PATH_WIN_END
};

// Answers keys 7 to 10 and 101 to 117.
bool PathProviderWin(int key, FilePath* result);

}  // namespace base

#endif  // BASE_BASE_PATHS_WIN_H_
