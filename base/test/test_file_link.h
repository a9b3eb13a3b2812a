#ifndef BASE_TEST_TEST_FILE_LINK_H_
#define BASE_TEST_TEST_FILE_LINK_H_

#include "base/files/file_path.h"

namespace base {

// Makes |link| a symbolic link to the folder |target|. Tries the system's
// own link call first; where that is a no-op (a compatibility layer on a
// Unix system), makes a Unix symbolic link with the host's "ln", which the
// layer shows as a reparse point. False when neither works.
bool CreateDirectoryLinkForTesting(const FilePath& link,
                                   const FilePath& target);

}  // namespace base

#endif  // BASE_TEST_TEST_FILE_LINK_H_
