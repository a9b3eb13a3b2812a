#include "base/trace_event/memory_dump_provider_info.h"

#include <algorithm>
#include <functional>
#include <tuple>
#include <vector>

#include "base/memory/ref_counted.h"
#include "base/test/test_task_runner.h"
#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

class FakeProvider : public MemoryDumpProvider {
 public:
  bool OnMemoryDump(const MemoryDumpArgs&, ProcessMemoryDump*) override {
    return true;
  }
};

scoped_refptr<MemoryDumpProviderInfo> MakeInfo(
    MemoryDumpProvider* provider, scoped_refptr<SequencedTaskRunner> runner) {
  return MakeRefCounted<MemoryDumpProviderInfo>(
      provider, "Test", std::move(runner), MemoryDumpProvider::Options(), false,
      false);
}

TEST(MemoryDumpProviderInfoTest, SetOrdersBoundRunnersFirstThenProviders) {
  FakeProvider providers[2];
  FakeProvider *low, *high;
  std::tie(low, high) =
      std::minmax(&providers[0], &providers[1], std::less<FakeProvider*>());
  scoped_refptr<TestTaskRunner> runners[2] = {MakeRefCounted<TestTaskRunner>(),
                                              MakeRefCounted<TestTaskRunner>()};
  TestTaskRunner *low_runner, *high_runner;
  std::tie(low_runner, high_runner) = std::minmax(
      runners[0].get(), runners[1].get(), std::less<TestTaskRunner*>());

  // Greater runner first; one runner's providers higher address first; the
  // records without a runner last.
  const std::vector<scoped_refptr<MemoryDumpProviderInfo>> expected = {
      MakeInfo(low, high_runner), MakeInfo(high, low_runner),
      MakeInfo(low, low_runner), MakeInfo(high, nullptr),
      MakeInfo(low, nullptr)};
  MemoryDumpProviderInfo::OrderedSet set;
  for (int i : {4, 1, 3, 0, 2})
    EXPECT_TRUE(set.insert(expected[i]).second);
  EXPECT_EQ(expected, std::vector<scoped_refptr<MemoryDumpProviderInfo>>(
                          set.begin(), set.end()));
  // The same provider and runner again is the same element.
  EXPECT_FALSE(set.insert(MakeInfo(low, low_runner)).second);
  EXPECT_FALSE(set.insert(MakeInfo(high, nullptr)).second);

  // Null references go by pointer value.
  MemoryDumpProviderInfo::Comparator less;
  EXPECT_TRUE(less(nullptr, expected[0]));
  EXPECT_FALSE(less(expected[0], nullptr));
}

}  // namespace
}  // namespace trace_event
}  // namespace base
