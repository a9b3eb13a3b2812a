#include "base/bind.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/callback.h"
#include "base/memory/ref_counted.h"
#include "base/memory/weak_ptr.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Counts its own destructions, through a virtual destructor.
class Tracked {
 public:
  explicit Tracked(int* deleted) : deleted_(deleted) {}
  virtual ~Tracked() { ++*deleted_; }
  virtual int Value() const { return 1; }

 private:
  int* deleted_;
};

class DerivedTracked : public Tracked {
 public:
  DerivedTracked(int* deleted, int* derived_deleted)
      : Tracked(deleted), derived_deleted_(derived_deleted) {}
  ~DerivedTracked() override { ++*derived_deleted_; }
  int Value() const override { return 2; }

 private:
  int* derived_deleted_;
};

class Shared : public RefCountedThreadSafe<Shared> {
 public:
  explicit Shared(int* deleted) : deleted_(deleted) {}
  int value = 0;
  void Bump(int by) { value += by; }

 private:
  friend class RefCountedThreadSafe<Shared>;
  ~Shared() { ++*deleted_; }
  int* deleted_;
};

int Add(int a, int b) {
  return a + b;
}

std::string Join3(const std::string& a, const std::string& b, int c) {
  return a + "," + b + "," + std::to_string(c);
}

void SetInt(int* out, int value) {
  *out = value;
}

void DeleteTracked(const void* object) {
  delete static_cast<const Tracked*>(object);
}

int ValueOf(Tracked* tracked) {
  return tracked ? tracked->Value() : -1;
}

int TakeUnique(std::unique_ptr<int> value) {
  return value ? *value : -1;
}

// Two bases so that a method of the second needs a receiver adjustment.
class First {
 public:
  virtual ~First() = default;
  int first_data = 1;
};

class Second {
 public:
  virtual ~Second() = default;
  void Record(int value) { recorded.push_back(value); }
  int Sum(int a) const { return a + static_cast<int>(recorded.size()); }
  std::vector<int> recorded;
};

class Both : public First, public Second {};

class Target {
 public:
  void Set(int value) {
    value_ = value;
    ++calls_;
  }
  void Take(std::unique_ptr<int> owned,
            OnceCallback<void(int)> first,
            OnceCallback<void(int)> second) {
    int v = owned ? *owned : -1;
    std::move(first).Run(v);
    std::move(second).Run(v + 1);
  }
  int value() const { return value_; }
  int calls() const { return calls_; }
  WeakPtr<Target> AsWeak() { return factory_.GetWeakPtr(); }
  void Invalidate() { factory_.InvalidateWeakPtrs(); }
  bool HasWeakPtrs() const { return factory_.HasWeakPtrs(); }

 private:
  int value_ = 0;
  int calls_ = 0;
  WeakPtrFactory<Target> factory_{this};
};

// Plain destroy: a raw pointer argument is left alone unless the call runs.
TEST(BindTest, PlainDestroyLeavesRawArgumentsAlone) {
  int deleted = 0;
  Tracked* tracked = new Tracked(&deleted);
  {
    OnceClosure deleter =
        BindOnce(&DeleteTracked, static_cast<const void*>(tracked));
    EXPECT_FALSE(deleter.IsCancelled());
  }
  EXPECT_EQ(0, deleted);
  OnceClosure deleter =
      BindOnce(&DeleteTracked, static_cast<const void*>(tracked));
  std::move(deleter).Run();
  EXPECT_EQ(1, deleted);
}

// Owning destroy: Owned() and unique_ptr arguments die with the state,
// through the virtual destructor; a null owned pointer is fine.
TEST(BindTest, OwningDestroyDeletesThroughVirtualDestructor) {
  int deleted = 0;
  int derived_deleted = 0;
  {
    Tracked* owned = new DerivedTracked(&deleted, &derived_deleted);
    RepeatingCallback<int()> cb = BindRepeating(&ValueOf, Owned(owned));
    EXPECT_EQ(2, cb.Run());
    EXPECT_EQ(2, cb.Run());
    EXPECT_EQ(0, deleted);
  }
  EXPECT_EQ(1, deleted);
  EXPECT_EQ(1, derived_deleted);

  {
    std::unique_ptr<Tracked> owned =
        std::make_unique<DerivedTracked>(&deleted, &derived_deleted);
    OnceCallback<int()> cb = BindOnce(&ValueOf, Owned(std::move(owned)));
  }
  EXPECT_EQ(2, deleted);
  EXPECT_EQ(2, derived_deleted);

  OnceCallback<int()> null_owned =
      BindOnce(&ValueOf, Owned(static_cast<Tracked*>(nullptr)));
  EXPECT_EQ(-1, std::move(null_owned).Run());

  // A bound unique_ptr that the call never takes dies with the state too.
  {
    OnceClosure cb = BindOnce([](const std::unique_ptr<Tracked>&) {},
                              std::make_unique<Tracked>(&deleted));
    std::move(cb).Run();
    EXPECT_EQ(3, deleted);
  }
}

// Destroy holding a callback: releasing the outer state releases the inner.
TEST(BindTest, DestroyReleasesBoundCallback) {
  int deleted = 0;
  OnceCallback<int()> inner = BindOnce(&ValueOf, Owned(new Tracked(&deleted)));
  OnceClosure outer = BindOnce(
      [](OnceCallback<int()> cb) { ignore_result(std::move(cb).Run()); },
      std::move(inner));
  EXPECT_TRUE(inner.is_null());
  EXPECT_EQ(0, deleted);
  outer.Reset();
  EXPECT_EQ(1, deleted);
}

// Destroy holding a weak receiver: the flag reference goes with the state.
TEST(BindTest, DestroyDropsWeakReceiverFlag) {
  Target target;
  OnceCallback<void(int)> cb = BindOnce(&Target::Set, target.AsWeak());
  EXPECT_TRUE(target.HasWeakPtrs());
  cb.Reset();
  EXPECT_FALSE(target.HasWeakPtrs());
}

TEST(BindTest, BoundArgumentsComeFirstInBindingOrder) {
  RepeatingCallback<int(int)> add2 = BindRepeating(&Add, 2);
  EXPECT_EQ(5, add2.Run(3));
  EXPECT_EQ(12, add2.Run(10));

  OnceCallback<std::string()> two = BindOnce(&Join3, "a", std::string("b"), 3);
  EXPECT_EQ("a,b,3", std::move(two).Run());

  RepeatingCallback<std::string(const std::string&, int)> one =
      BindRepeating(&Join3, "x");
  EXPECT_EQ("x,y,7", one.Run("y", 7));

  int out = 0;
  BindOnce(&SetInt, &out, 42).Run();
  EXPECT_EQ(42, out);
}

TEST(BindTest, MethodOnPlainReceiverAppliesAdjustment) {
  Both both;
  Second* second = &both;
  ASSERT_NE(static_cast<void*>(&both), static_cast<void*>(second));

  // A pointer to a method of the second base, held as a method of the
  // derived class, carries the adjustment to that base.
  void (Both::*record)(int) = &Second::Record;
  RepeatingCallback<void(int)> cb = BindRepeating(record, Unretained(&both));
  cb.Run(4);
  cb.Run(5);
  EXPECT_EQ((std::vector<int>{4, 5}), both.recorded);

  OnceCallback<int()> sum = BindOnce(&Second::Sum, Unretained(&both), 10);
  EXPECT_EQ(12, std::move(sum).Run());
  EXPECT_EQ(1, both.first_data);
}

TEST(BindTest, MethodOnWeakReceiver) {
  auto target = std::make_unique<Target>();
  RepeatingClosure cb = BindRepeating(&Target::Set, target->AsWeak(), 7);
  EXPECT_FALSE(cb.IsCancelled());
  cb.Run();
  EXPECT_EQ(7, target->value());

  target->Invalidate();
  EXPECT_TRUE(cb.IsCancelled());
  cb.Run();
  EXPECT_EQ(1, target->calls());

  // A pointer made after the invalidation reaches the object again, until
  // the object dies.
  OnceClosure later = BindOnce(&Target::Set, target->AsWeak(), 9);
  OnceClosure later2 = BindOnce(&Target::Set, target->AsWeak(), 10);
  EXPECT_FALSE(later.IsCancelled());
  std::move(later).Run();
  EXPECT_EQ(9, target->value());
  target.reset();
  EXPECT_TRUE(later2.IsCancelled());
  std::move(later2).Run();  // Must not touch the dead object.
  EXPECT_TRUE(later2.is_null());

  // A null weak receiver is cancelled from the start.
  OnceClosure null_receiver = BindOnce(&Target::Set, WeakPtr<Target>(), 1);
  EXPECT_TRUE(null_receiver.IsCancelled());
  std::move(null_receiver).Run();
}

TEST(BindTest, MethodWithPassedOwnedArgumentAndTwoCallbacks) {
  Target target;
  std::vector<int> seen;
  auto record = [](std::vector<int>* seen, int v) { seen->push_back(v); };

  OnceClosure once =
      BindOnce(&Target::Take, Unretained(&target), std::make_unique<int>(5),
               BindOnce(record, &seen), BindOnce(record, &seen));
  std::move(once).Run();
  EXPECT_EQ((std::vector<int>{5, 6}), seen);

  // Through a repeating callback the owned argument must be Passed().
  RepeatingClosure repeating = BindRepeating(
      &Target::Take, Unretained(&target), Passed(std::make_unique<int>(8)),
      Passed(BindOnce(record, &seen)), Passed(BindOnce(record, &seen)));
  repeating.Run();
  EXPECT_EQ((std::vector<int>{5, 6, 8, 9}), seen);
}

TEST(BindTest, CallbackWithBoundInteger) {
  int out = 0;
  OnceCallback<void(int)> set = BindOnce(&SetInt, &out);
  OnceClosure bound = BindOnce(std::move(set), 31);
  EXPECT_TRUE(set.is_null());
  std::move(bound).Run();
  EXPECT_EQ(31, out);

  // A repeating callback bound again stays runnable.
  RepeatingCallback<int(int)> add = BindRepeating(&Add, 1);
  RepeatingCallback<int()> add_one_and_two = BindRepeating(add, 2);
  EXPECT_EQ(3, add_one_and_two.Run());
  EXPECT_EQ(3, add_one_and_two.Run());
  EXPECT_EQ(4, add.Run(3));
}

TEST(BindTest, PassedValueIsTakenOnce) {
  RepeatingCallback<int()> cb =
      BindRepeating(&TakeUnique, Passed(std::make_unique<int>(17)));
  EXPECT_EQ(17, cb.Run());

  std::unique_ptr<int> from_pointer = std::make_unique<int>(3);
  RepeatingCallback<int()> cb2 =
      BindRepeating(&TakeUnique, Passed(&from_pointer));
  EXPECT_FALSE(from_pointer);
  EXPECT_EQ(3, cb2.Run());
}

TEST(BindDeathTest, PassedValueTakenTwiceIsFatal) {
  RepeatingCallback<int()> cb =
      BindRepeating(&TakeUnique, Passed(std::make_unique<int>(17)));
  EXPECT_EQ(17, cb.Run());
  EXPECT_DEATH(cb.Run(), "");
}

TEST(BindTest, BoundCallbackQueryAsksTheInnerCallback) {
  Target target;
  OnceCallback<void(int)> inner = BindOnce(&Target::Set, target.AsWeak());
  OnceClosure outer = BindOnce(std::move(inner), 3);
  EXPECT_FALSE(outer.IsCancelled());
  target.Invalidate();
  EXPECT_TRUE(outer.IsCancelled());
  std::move(outer).Run();
  EXPECT_EQ(0, target.calls());

  // A plain function has nothing to lose.
  OnceCallback<int()> plain = BindOnce(&Add, 1, 2);
  EXPECT_FALSE(plain.IsCancelled());
  OnceClosure wraps_plain =
      BindOnce([](OnceCallback<int()> cb) {}, std::move(plain));
  EXPECT_FALSE(wraps_plain.IsCancelled());
}

void RunBothWithShared(OnceClosure first,
                       const scoped_refptr<Shared>& shared,
                       OnceClosure second) {
  shared->Bump(1);
  std::move(first).Run();
  std::move(second).Run();
}

// Two callbacks and a shared object: the state takes a reference to the
// object and gives it back when it dies.
TEST(BindTest, BuildWithCallbackSharedObjectCallback) {
  int deleted = 0;
  scoped_refptr<Shared> shared = MakeRefCounted<Shared>(&deleted);
  int a = 0;
  int b = 0;
  OnceClosure cb = BindOnce(&RunBothWithShared, BindOnce(&SetInt, &a, 1),
                            shared, BindOnce(&SetInt, &b, 2));
  EXPECT_FALSE(shared->HasOneRef());
  std::move(cb).Run();
  EXPECT_EQ(1, a);
  EXPECT_EQ(2, b);
  EXPECT_EQ(1, shared->value);
  EXPECT_TRUE(shared->HasOneRef());

  // The bound reference alone keeps the object alive.
  OnceClosure keeps = BindOnce(&Shared::Bump, shared, 5);
  shared = nullptr;
  EXPECT_EQ(0, deleted);
  std::move(keeps).Run();
  EXPECT_EQ(1, deleted);
}

// Counts copies and moves to show how bound values reach the call.
struct CopyCounter {
  CopyCounter(int* copies, int* moves) : copies(copies), moves(moves) {}
  CopyCounter(const CopyCounter& other)
      : copies(other.copies), moves(other.moves) {
    ++*copies;
  }
  CopyCounter(CopyCounter&& other) noexcept
      : copies(other.copies), moves(other.moves) {
    ++*moves;
  }
  int* copies;
  int* moves;
};

void TakeByValue(CopyCounter) {}
void TakeByRef(const CopyCounter&) {}

TEST(BindTest, OnceMovesBoundValuesRepeatingCopiesThem) {
  int copies = 0;
  int moves = 0;
  CopyCounter counter(&copies, &moves);

  OnceClosure once = BindOnce(&TakeByValue, counter);
  EXPECT_EQ(1, copies);  // Into the state.
  std::move(once).Run();
  EXPECT_EQ(1, copies);  // Moved into the call, never copied again.

  copies = moves = 0;
  RepeatingClosure repeating = BindRepeating(&TakeByValue, counter);
  repeating.Run();
  repeating.Run();
  EXPECT_EQ(3, copies);  // Into the state, then one per run.

  copies = moves = 0;
  RepeatingClosure by_ref = BindRepeating(&TakeByRef, counter);
  by_ref.Run();
  EXPECT_EQ(1, copies);
}

TEST(BindDeathTest, NullFunctorIsFatal) {
  int (*null_function)(int, int) = nullptr;
  EXPECT_DEATH(BindOnce(null_function, 1, 2), "");
  EXPECT_DEATH(BindOnce(OnceCallback<void(int)>(), 1), "");
}

}  // namespace
}  // namespace base
