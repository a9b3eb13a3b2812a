#include "base/test/scoped_path_override.h"

#include "base/logging.h"
#include "base/path_service.h"

namespace base {

ScopedPathOverride::ScopedPathOverride(int key, const FilePath& path)
    : key_(key) {
  had_answer_ = PathService::Get(key, &original_);
  CHECK(PathService::OverrideAndCreateIfNeeded(key, path, true, false));
}

ScopedPathOverride::~ScopedPathOverride() {
  // A key without an answer of its own gets none back.
  if (!had_answer_) {
    PathService::RemoveOverrideForTesting(key_);
    return;
  }
  CHECK(PathService::OverrideAndCreateIfNeeded(key_, original_, true, false));
}

}  // namespace base
