#ifndef BASE_PATH_SERVICE_H_
#define BASE_PATH_SERVICE_H_

#include "base/base_paths.h"
#include "base/files/file_path.h"

namespace base {

// Where a folder or file is, by key (base_paths.h, base_paths_win.h; other
// parts of the system define keys of their own that only overrides answer).
// Answers are cached per key for the life of the process; an answer never
// holds "..". Any thread may call.
class PathService {
 public:
  // The signature of a provider: true with |result| set when it knows the
  // key, false with |result| untouched when it does not.
  typedef bool (*ProviderFunc)(int key, FilePath* result);

  // True with |result| set when |key| has an answer.
  [[nodiscard]] static bool Get(int key, FilePath* result);

  // Makes |path| the answer of |key| from now on. With |create| a missing
  // folder is made first (parents too); unless |is_absolute|, |path| is
  // made absolute. Every cached answer is dropped, so keys derived from
  // |key| are computed again. False when the folder cannot be made or the
  // path has no absolute form.
  [[nodiscard]] static bool OverrideAndCreateIfNeeded(int key,
                                                      const FilePath& path,
                                                      bool is_absolute,
                                                      bool create);

  // Takes back the override of |key|, so that its providers answer again
  // (keys that only overrides answer have no answer then). False when
  // there was none.
  static bool RemoveOverrideForTesting(int key);
};

}  // namespace base

#endif  // BASE_PATH_SERVICE_H_
