#include "base/memory/weak_ptr.h"

#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

struct Base {
  virtual ~Base() = default;
  int base_member = 1;
};

struct Derived : Base {
  Derived() : factory(this) {}
  WeakPtrFactory<Derived> factory;
};

struct Target {
  Target() : factory(this) {}
  int value = 0;
  WeakPtrFactory<Target> factory;
};

TEST(WeakPtrTest, DefaultIsNull) {
  WeakPtr<Target> ptr;
  EXPECT_EQ(nullptr, ptr.get());
  EXPECT_FALSE(ptr);
  EXPECT_TRUE(ptr == nullptr);
  WeakPtr<Target> from_null = nullptr;
  EXPECT_FALSE(from_null);
  // Two words: the flag reference and the pointer.
  static_assert(sizeof(WeakPtr<Target>) == 2 * sizeof(void*), "");
}

TEST(WeakPtrTest, YieldsTheObjectWhileItLives) {
  auto target = std::make_unique<Target>();
  WeakPtr<Target> ptr = target->factory.GetWeakPtr();
  WeakPtr<Target> copy = ptr;
  EXPECT_EQ(target.get(), ptr.get());
  EXPECT_EQ(target.get(), copy.get());
  copy->value = 3;
  EXPECT_EQ(3, (*ptr).value);
  EXPECT_TRUE(ptr != nullptr);

  WeakPtr<Target> moved = std::move(copy);
  EXPECT_EQ(target.get(), moved.get());
  EXPECT_FALSE(copy);

  target.reset();
  EXPECT_EQ(nullptr, ptr.get());
  EXPECT_EQ(nullptr, moved.get());
}

TEST(WeakPtrTest, InvalidateSplitsGenerations) {
  Target target;
  WeakPtr<Target> before = target.factory.GetWeakPtr();
  target.factory.InvalidateWeakPtrs();
  EXPECT_EQ(nullptr, before.get());
  EXPECT_FALSE(target.factory.HasWeakPtrs());

  WeakPtr<Target> after = target.factory.GetWeakPtr();
  EXPECT_EQ(&target, after.get());
  EXPECT_EQ(nullptr, before.get());
  EXPECT_TRUE(target.factory.HasWeakPtrs());
}

TEST(WeakPtrTest, FlagOutlivesOwnerWhileWeakPointersRemain) {
  // The flag's count: 1 for the owner, plus one per weak pointer.
  auto target = std::make_unique<Target>();
  WeakPtr<Target> a = target->factory.GetWeakPtr();
  WeakPtr<Target> b = target->factory.GetWeakPtr();
  EXPECT_EQ(a.ref_for_testing().flag_for_testing(),
            b.ref_for_testing().flag_for_testing());
  const internal::WeakReference::Flag* flag =
      a.ref_for_testing().flag_for_testing();

  target.reset();
  // Both pointers still hold the (now invalid) flag; the last one frees it.
  EXPECT_EQ(flag, a.ref_for_testing().flag_for_testing());
  EXPECT_FALSE(flag->IsValid());
  EXPECT_FALSE(flag->HasOneRef());
  a.reset();
  EXPECT_TRUE(flag->HasOneRef());
  EXPECT_EQ(nullptr, b.get());
}

TEST(WeakPtrTest, FlagIsRenewedAfterAllWeakPointersDie) {
  Target target;
  WeakPtr<Target> first = target.factory.GetWeakPtr();
  const internal::WeakReference::Flag* first_flag =
      first.ref_for_testing().flag_for_testing();

  // While a pointer lives, new pointers share its flag.
  WeakPtr<Target> second = target.factory.GetWeakPtr();
  EXPECT_EQ(first_flag, second.ref_for_testing().flag_for_testing());

  first.reset();
  EXPECT_TRUE(target.factory.HasWeakPtrs());
  second.reset();
  EXPECT_FALSE(target.factory.HasWeakPtrs());

  // The owner alone holds the old flag now, so the next pointer gets a new
  // one. The new flag is made before the old one is dropped, so the two
  // addresses differ.

  WeakPtr<Target> third = target.factory.GetWeakPtr();
  EXPECT_NE(first_flag, third.ref_for_testing().flag_for_testing());
  EXPECT_EQ(&target, third.get());
  EXPECT_TRUE(third.ref_for_testing().flag_for_testing()->IsValid());
}

TEST(WeakPtrTest, ConvertsToBaseClass) {
  Derived derived;
  WeakPtr<Derived> derived_ptr = derived.factory.GetWeakPtr();
  WeakPtr<Base> base_ptr = derived_ptr;
  EXPECT_EQ(static_cast<Base*>(&derived), base_ptr.get());
  EXPECT_EQ(1, base_ptr->base_member);
  WeakPtr<Base> moved_base = std::move(derived_ptr);
  EXPECT_EQ(static_cast<Base*>(&derived), moved_base.get());
  derived.factory.InvalidateWeakPtrs();
  EXPECT_EQ(nullptr, base_ptr.get());
  EXPECT_EQ(nullptr, moved_base.get());
}

// Weak pointers may be copied and dropped on any thread: the flag's count
// is atomic, and it ends at exactly the owner's reference.
TEST(WeakPtrTest, CopiesOnManyThreads) {
  Target target;
  WeakPtr<Target> ptr = target.factory.GetWeakPtr();
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([ptr] {
      for (int j = 0; j < 10000; ++j) {
        WeakPtr<Target> copy = ptr;
        WeakPtr<Target> moved = std::move(copy);
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_TRUE(target.factory.HasWeakPtrs());
  ptr.reset();
  EXPECT_FALSE(target.factory.HasWeakPtrs());
}

}  // namespace
}  // namespace base
