#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_SCOPED_REGISTRY_ROOTS_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_SCOPED_REGISTRY_ROOTS_H_

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "base/win/registry.h"
#include "gtest/gtest.h"

namespace installer {
namespace test {

// HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE and HKEY_CLASSES_ROOT of this
// process lead into fresh keys of a test tree while the object lives; the
// classes root is the user's classes, as it is where the user's own
// registration wins. One at a time: the overrides do not nest.
class ScopedRegistryRoots {
 public:
  ScopedRegistryRoots()
      : tree_(L"Software\\KavorTest\\Roots-" +
              std::to_wstring(::GetCurrentProcessId()) + L"-" +
              std::to_wstring(::GetTickCount64()) + L"-" +
              std::to_wstring(++count_)),
        user_(HKEY_CURRENT_USER, (tree_ + L"\\user").c_str(), KEY_ALL_ACCESS),
        machine_(
            HKEY_CURRENT_USER, (tree_ + L"\\machine").c_str(), KEY_ALL_ACCESS),
        classes_(HKEY_CURRENT_USER,
                 (tree_ + L"\\user\\Software\\Classes").c_str(),
                 KEY_ALL_ACCESS),
        machine_software_(HKEY_CURRENT_USER,
                          (tree_ + L"\\machine\\Software").c_str(),
                          KEY_ALL_ACCESS) {
    const bool ok =
        user_.Valid() && machine_.Valid() && classes_.Valid() &&
        machine_software_.Valid() &&
        ::RegOverridePredefKey(HKEY_CURRENT_USER, user_.Handle()) ==
            ERROR_SUCCESS &&
        ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine_.Handle()) ==
            ERROR_SUCCESS &&
        ::RegOverridePredefKey(HKEY_CLASSES_ROOT, classes_.Handle()) ==
            ERROR_SUCCESS;
    // A test that goes on would write into the real hives of the prefix.
    if (!ok) {
      fprintf(stderr, "Cannot redirect the registry roots; stopping.\n");
      abort();
    }
  }
  ~ScopedRegistryRoots() {
    ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    user_.Close();
    machine_.Close();
    classes_.Close();
    machine_software_.Close();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, tree_.c_str());
  }

 private:
  static inline int count_ = 0;
  const std::wstring tree_;
  base::win::RegKey user_;
  base::win::RegKey machine_;
  base::win::RegKey classes_;
  base::win::RegKey machine_software_;
};

// "missing" when the value or its key is not there.
inline std::wstring ReadText(HKEY root,
                             const std::wstring& path,
                             const wchar_t* name) {
  base::win::RegKey key;
  std::wstring value;
  if (key.Open(root, path.c_str(), KEY_READ) != ERROR_SUCCESS ||
      key.ReadStringValue(name, &value) != ERROR_SUCCESS) {
    return L"missing";
  }
  return value;
}

// Creates the key when missing.
inline void WriteText(HKEY root,
                      const std::wstring& path,
                      const wchar_t* name,
                      const std::wstring& value) {
  base::win::RegKey key(root, path.c_str(), KEY_ALL_ACCESS);
  ASSERT_TRUE(key.Valid()) << path;
  ASSERT_EQ(ERROR_SUCCESS, key.WriteStringValue(name, value.c_str()));
}

inline bool KeyExists(HKEY root, const std::wstring& path) {
  base::win::RegKey key;
  return key.Open(root, path.c_str(), KEY_READ) == ERROR_SUCCESS;
}

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_SCOPED_REGISTRY_ROOTS_H_
