#include "base/metrics/metrics_hashes.h"

#include "base/md5.h"

namespace base {

uint64_t HashMetricName(StringPiece name) {
  MD5Digest digest;
  MD5Sum(name.data(), name.size(), &digest);
  uint64_t hash = 0;
  for (int i = 0; i < 8; ++i)
    hash = (hash << 8) | digest.a[i];
  return hash;
}

}  // namespace base
