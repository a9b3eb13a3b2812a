#include "base/trace_event/memory_dump_provider_info.h"

#include <functional>
#include <vector>

#include "base/memory/ref_counted.h"
#include "base/test/test_task_runner.h"
#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

class FakeProvider : public MemoryDumpProvider {
 public:
  FakeProvider() = default;
  explicit FakeProvider(bool* destroyed) : destroyed_(destroyed) {}
  ~FakeProvider() override {
    if (destroyed_)
      *destroyed_ = true;
  }
  bool OnMemoryDump(const MemoryDumpArgs&, ProcessMemoryDump*) override {
    return true;
  }

 private:
  bool* destroyed_ = nullptr;
};

scoped_refptr<MemoryDumpProviderInfo> MakeInfo(
    MemoryDumpProvider* provider, scoped_refptr<SequencedTaskRunner> runner) {
  return MakeRefCounted<MemoryDumpProviderInfo>(
      provider, "Test", std::move(runner), MemoryDumpProvider::Options(), false,
      false);
}

// Two objects of the same type ordered by address, lower first.
template <typename T>
void SortByAddress(T** a, T** b) {
  if (std::less<T*>()(*b, *a))
    std::swap(*a, *b);
}

TEST(MemoryDumpProviderInfoTest, SetOrdersBoundRunnersFirstThenProviders) {
  FakeProvider provider_storage[2];
  FakeProvider* low_provider = &provider_storage[0];
  FakeProvider* high_provider = &provider_storage[1];
  SortByAddress(&low_provider, &high_provider);
  scoped_refptr<TestTaskRunner> runner_a = MakeRefCounted<TestTaskRunner>();
  scoped_refptr<TestTaskRunner> runner_b = MakeRefCounted<TestTaskRunner>();
  TestTaskRunner* low_runner = runner_a.get();
  TestTaskRunner* high_runner = runner_b.get();
  SortByAddress(&low_runner, &high_runner);

  auto unbound_high = MakeInfo(high_provider, nullptr);
  auto unbound_low = MakeInfo(low_provider, nullptr);
  auto low_runner_low = MakeInfo(low_provider, low_runner);
  auto low_runner_high = MakeInfo(high_provider, low_runner);
  auto high_runner_low = MakeInfo(low_provider, high_runner);

  MemoryDumpProviderInfo::OrderedSet set;
  for (const auto& info : {unbound_low, low_runner_low, unbound_high,
                           high_runner_low, low_runner_high}) {
    EXPECT_TRUE(set.insert(info).second);
  }
  // Greater runner first; one runner's providers higher address first;
  // the records without a runner last.
  const std::vector<scoped_refptr<MemoryDumpProviderInfo>> expected = {
      high_runner_low, low_runner_high, low_runner_low, unbound_high,
      unbound_low};
  ASSERT_EQ(expected.size(), set.size());
  size_t i = 0;
  for (const auto& info : set)
    EXPECT_EQ(expected[i++], info) << "at " << i;

  // The same provider and runner again is the same element.
  EXPECT_FALSE(set.insert(MakeInfo(low_provider, low_runner)).second);
  EXPECT_FALSE(set.insert(MakeInfo(high_provider, nullptr)).second);
  EXPECT_EQ(expected.size(), set.size());
}

TEST(MemoryDumpProviderInfoTest, NullReferencesOrderByPointer) {
  FakeProvider provider;
  auto info = MakeInfo(&provider, nullptr);
  const scoped_refptr<MemoryDumpProviderInfo> null_info;
  MemoryDumpProviderInfo::Comparator less;
  EXPECT_TRUE(less(null_info, info));
  EXPECT_FALSE(less(info, null_info));
  EXPECT_FALSE(less(null_info, null_info));
  EXPECT_FALSE(less(info, info));
}

TEST(MemoryDumpProviderInfoTest, LastReferenceDestroysOwnedProvider) {
  bool destroyed = false;
  auto* provider = new FakeProvider(&destroyed);
  scoped_refptr<TestTaskRunner> runner = MakeRefCounted<TestTaskRunner>();
  auto info = MakeInfo(provider, runner);
  EXPECT_FALSE(info->disabled);
  EXPECT_EQ(0u, info->consecutive_failures);
  EXPECT_TRUE(info->task_runner);
  info->owned_dump_provider.reset(provider);

  scoped_refptr<MemoryDumpProviderInfo> second = info;
  info = nullptr;
  EXPECT_FALSE(destroyed);
  EXPECT_FALSE(runner->HasOneRef());
  second = nullptr;
  EXPECT_TRUE(destroyed);
  // The record let go of the runner too.
  EXPECT_TRUE(runner->HasOneRef());
}

}  // namespace
}  // namespace trace_event
}  // namespace base
