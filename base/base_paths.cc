#include "base/base_paths.h"

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/path_service.h"

namespace base {

bool PathProvider(int key, FilePath* result) {
  FilePath cur;
  switch (key) {
    case DIR_EXE:
      if (!PathService::Get(FILE_EXE, &cur))
        return false;
      cur = cur.DirName();
      break;
    case DIR_MODULE:
      if (!PathService::Get(FILE_MODULE, &cur))
        return false;
      cur = cur.DirName();
      break;
    case DIR_ASSETS:
      if (!PathService::Get(DIR_MODULE, &cur))
        return false;
      break;
    case DIR_TEMP:
      if (!GetTempDir(&cur))
        return false;
      break;
    case DIR_HOME:
      cur = GetHomeDir();
      break;
    case DIR_TEST_DATA:
      if (!PathService::Get(DIR_SOURCE_ROOT, &cur))
        return false;
      cur = cur.Append(L"base").Append(L"test").Append(L"data");
      if (!PathExists(cur))
        return false;
      break;
    default:
      return false;
  }
  *result = cur;
  return true;
}

}  // namespace base
