#include "base/metrics/bucket_ranges.h"

#include <math.h>

#include <limits>

namespace base {

namespace {

// The reflected CRC-32 table (polynomial 0xEDB88320), built once.
struct Crc32Table {
  uint32_t entries[256];
  Crc32Table() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k)
        c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      entries[i] = c;
    }
  }
};

const uint32_t* CrcTable() {
  static const Crc32Table table;
  return table.entries;
}

}  // namespace

BucketRanges::BucketRanges(size_t num_ranges) : ranges_(num_ranges, 0) {}

BucketRanges::~BucketRanges() = default;

uint32_t BucketRanges::CalculateChecksum() const {
  // CRC-32 without its initial and final inversion, seeded with the size so
  // that layouts of different length rarely collide.
  const uint32_t* table = CrcTable();
  uint32_t sum = static_cast<uint32_t>(ranges_.size());
  for (Sample range : ranges_) {
    uint32_t value = static_cast<uint32_t>(range);
    for (int i = 0; i < 4; ++i) {
      uint8_t byte = static_cast<uint8_t>(value >> (8 * i));
      sum = table[(sum ^ byte) & 0xff] ^ (sum >> 8);
    }
  }
  return sum;
}

bool BucketRanges::Equals(const BucketRanges* other) const {
  if (checksum_ != other->checksum_)
    return false;
  if (ranges_.size() != other->ranges_.size())
    return false;
  for (size_t i = 0; i < ranges_.size(); ++i) {
    if (ranges_[i] != other->ranges_[i])
      return false;
  }
  return true;
}

// static
void BucketRanges::InitializeExponential(Sample minimum,
                                         Sample maximum,
                                         BucketRanges* ranges) {
  const size_t bucket_count = ranges->bucket_count();
  const double log_max = log(static_cast<double>(maximum));
  ranges->set_range(1, minimum);
  Sample current = minimum;
  for (size_t index = 2; index < bucket_count; ++index) {
    const double log_current = log(static_cast<double>(current));
    const double log_ratio =
        (log_max - log_current) / static_cast<double>(bucket_count - index);
    const double log_next = log_current + log_ratio;
    const Sample next = static_cast<Sample>(lround(exp(log_next)));
    // Where the logarithmic step rounds back to the current value, the
    // bucket is one value wide so boundaries stay strictly ascending.
    current = next > current ? next : current + 1;
    ranges->set_range(index, current);
  }
  ranges->set_range(bucket_count, std::numeric_limits<Sample>::max());
  ranges->ResetChecksum();
}

// static
void BucketRanges::InitializeLinear(Sample minimum,
                                    Sample maximum,
                                    BucketRanges* ranges) {
  const size_t bucket_count = ranges->bucket_count();
  const double min = minimum;
  const double max = maximum;
  const double n = static_cast<double>(bucket_count);
  for (size_t i = 1; i < bucket_count; ++i) {
    const double di = static_cast<double>(i);
    const double linear = (min * (n - di - 1) + max * (di - 1)) / (n - 2);
    ranges->set_range(i, static_cast<Sample>(linear + 0.5));
  }
  ranges->set_range(bucket_count, std::numeric_limits<Sample>::max());
  ranges->ResetChecksum();
}

}  // namespace base
