#ifndef BASE_TEST_SCOPED_PATH_OVERRIDE_H_
#define BASE_TEST_SCOPED_PATH_OVERRIDE_H_

#include "base/files/file_path.h"
#include "base/macros.h"

namespace base {

// Makes PathService answer |path| for |key| while it lives, then restores
// the answer there was before (or none, for a key that had none).
class ScopedPathOverride {
 public:
  ScopedPathOverride(int key, const FilePath& path);
  ~ScopedPathOverride();

 private:
  const int key_;
  FilePath original_;
  bool had_answer_ = false;

  DISALLOW_COPY_AND_ASSIGN(ScopedPathOverride);
};

}  // namespace base

#endif  // BASE_TEST_SCOPED_PATH_OVERRIDE_H_
