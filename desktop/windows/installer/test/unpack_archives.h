#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_UNPACK_ARCHIVES_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_UNPACK_ARCHIVES_H_

#include <algorithm>
#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/md5.h"
#include "base/path_service.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"

namespace installer {
namespace test {

// What the build makes for the tests in testdata beside bin: the 7z
// archives of lzma_util (lzma_util/test/make_test_archives.py says what
// each holds).
inline base::FilePath TestData(const wchar_t* relative) {
  base::FilePath bin;
  if (!base::PathService::Get(base::DIR_EXE, &bin))
    return base::FilePath();
  return bin.DirName().Append(L"testdata").Append(relative);
}

// Everything below |folder|, sorted: "name\" for a folder, "name size md5"
// for a file; "" for a missing or empty folder.
inline std::string TreeListing(const base::FilePath& folder) {
  std::vector<std::string> lines;
  base::FileEnumerator e(
      folder, true,
      base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES);
  for (base::FilePath path = e.Next(); !path.empty(); path = e.Next()) {
    std::string line =
        base::WideToUTF8(path.value().substr(folder.value().size() + 1));
    if (e.GetInfo().IsDirectory()) {
      line += "\\";
    } else {
      std::string data;
      if (!base::ReadFileToString(path, &data))
        data = "<unreadable>";
      base::MD5Digest digest;
      base::MD5Sum(data.data(), data.size(), &digest);
      line += " " + std::to_string(data.size()) + " " +
              base::MD5DigestToBase16(digest);
    }
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  return base::JoinString(lines, "\n");
}

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_UNPACK_ARCHIVES_H_
