#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_SETTING_CHANGE_RECORDER_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_SETTING_CHANGE_RECORDER_H_

#include <windows.h>

#include <string>
#include <vector>

namespace installer {
namespace test {

inline std::vector<std::wstring>*& SettingChangesBeingRecorded() {
  static std::vector<std::wstring>* recording = nullptr;
  return recording;
}

inline LRESULT CALLBACK RecordSettingChange(HWND window,
                                            UINT message,
                                            WPARAM wparam,
                                            LPARAM lparam) {
  std::vector<std::wstring>* recording = SettingChangesBeingRecorded();
  if (message == WM_SETTINGCHANGE && recording && lparam)
    recording->push_back(reinterpret_cast<const wchar_t*>(lparam));
  return ::DefWindowProcW(window, message, wparam, lparam);
}

// The texts of the WM_SETTINGCHANGE messages that a top-level window of this
// thread receives while |broadcast| runs; a broadcast that the system
// refuses (a posted message cannot carry text) leaves it empty.
inline bool RecordSettingChanges(void (*broadcast)(),
                                 std::vector<std::wstring>* changes) {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = &RecordSettingChange;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"KavorSettingChangeRecorder";
  ::RegisterClassW(&window_class);
  HWND window = ::CreateWindowExW(0, window_class.lpszClassName, L"",
                                  WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr,
                                  nullptr, window_class.hInstance, nullptr);
  if (!window)
    return false;
  SettingChangesBeingRecorded() = changes;
  broadcast();
  SettingChangesBeingRecorded() = nullptr;
  ::DestroyWindow(window);
  return true;
}

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_SETTING_CHANGE_RECORDER_H_
