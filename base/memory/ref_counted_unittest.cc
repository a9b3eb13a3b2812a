#include "base/memory/ref_counted.h"

#include <thread>
#include <utility>
#include <vector>

#include "base/memory/scoped_refptr.h"
#include "gtest/gtest.h"

namespace base {
namespace {

class Counted : public RefCountedThreadSafe<Counted> {
 public:
  explicit Counted(int* deleted) : deleted_(deleted) {}

 protected:
  friend class RefCountedThreadSafe<Counted>;
  virtual ~Counted() { ++*deleted_; }

 private:
  int* deleted_;
};

class DerivedCounted : public Counted {
 public:
  explicit DerivedCounted(int* deleted) : Counted(deleted) {}

 private:
  ~DerivedCounted() override = default;
};

// Traits that record the last release instead of deleting at once, as a
// runner that must die on its own thread would.
class Deferred;
struct DeferredTraits {
  static void Destruct(const Deferred* deferred);
  static const Deferred* last_released;
};
const Deferred* DeferredTraits::last_released = nullptr;

class Deferred : public RefCountedThreadSafe<Deferred, DeferredTraits> {
 public:
  ~Deferred() = default;
};

void DeferredTraits::Destruct(const Deferred* deferred) {
  last_released = deferred;
}

TEST(RefCountedTest, HasOneRefFollowsHolders) {
  int deleted = 0;
  Counted* raw = new Counted(&deleted);
  EXPECT_FALSE(raw->HasAtLeastOneRef());  // A new object starts at 0.
  scoped_refptr<Counted> first(raw);
  EXPECT_TRUE(first->HasOneRef());
  {
    scoped_refptr<Counted> second = first;
    EXPECT_FALSE(first->HasOneRef());
  }
  EXPECT_TRUE(first->HasOneRef());
  first = nullptr;
  EXPECT_EQ(1, deleted);
}

TEST(RefCountedTest, SelfAssignmentAndMoves) {
  int deleted = 0;
  scoped_refptr<Counted> ptr = MakeRefCounted<Counted>(&deleted);
  scoped_refptr<Counted>& alias = ptr;
  ptr = alias;
  EXPECT_EQ(0, deleted);
  EXPECT_TRUE(ptr->HasOneRef());
  ptr = ptr.get();
  EXPECT_EQ(0, deleted);
  EXPECT_TRUE(ptr->HasOneRef());

  scoped_refptr<Counted> moved = std::move(ptr);
  EXPECT_EQ(nullptr, ptr);
  EXPECT_TRUE(moved->HasOneRef());
  Counted* raw = moved.get();
  ptr = std::move(moved);
  EXPECT_EQ(raw, ptr.get());
  EXPECT_TRUE(moved == nullptr);
  EXPECT_EQ(0, deleted);
  // Assigning another object releases the previous one.
  int deleted_other = 0;
  ptr = MakeRefCounted<Counted>(&deleted_other);
  EXPECT_EQ(1, deleted);
  ptr.reset();
  EXPECT_EQ(1, deleted_other);
}

TEST(RefCountedTest, ConvertsToBaseAndComparesByPointer) {
  int deleted = 0;
  scoped_refptr<DerivedCounted> derived =
      MakeRefCounted<DerivedCounted>(&deleted);
  scoped_refptr<Counted> base = derived;
  EXPECT_TRUE(base == derived);
  EXPECT_TRUE(base == derived.get());
  EXPECT_FALSE(base != derived);
  scoped_refptr<Counted> moved_base = std::move(derived);
  EXPECT_TRUE(derived == nullptr);
  base = nullptr;
  EXPECT_EQ(0, deleted);
  moved_base = nullptr;
  EXPECT_EQ(1, deleted);  // Through the virtual destructor.
}

TEST(RefCountedTest, LastReleaseGoesThroughTraits) {
  Deferred* deferred = new Deferred();
  DeferredTraits::last_released = nullptr;
  {
    scoped_refptr<Deferred> a(deferred);
    scoped_refptr<Deferred> b = a;
  }
  EXPECT_EQ(deferred, DeferredTraits::last_released);
  delete deferred;
}

// Holders on many threads: exactly one of them destroys the object, and only
// after every other has let go.
TEST(RefCountedTest, ConcurrentHoldersDestroyOnce) {
  int deleted = 0;
  scoped_refptr<Counted> shared = MakeRefCounted<Counted>(&deleted);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([copy = shared]() mutable {
      for (int j = 0; j < 10000; ++j) {
        scoped_refptr<Counted> local = copy;
        scoped_refptr<Counted> moved = std::move(local);
      }
      copy = nullptr;
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_TRUE(shared->HasOneRef());
  EXPECT_EQ(0, deleted);
  shared = nullptr;
  EXPECT_EQ(1, deleted);
}

}  // namespace
}  // namespace base
