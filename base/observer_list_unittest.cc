#include "base/observer_list.h"

#include <memory>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

class Foo {
 public:
  virtual ~Foo() = default;
  virtual void Observe(int x) = 0;
};

class Adder : public Foo {
 public:
  explicit Adder(int scaler) : scaler_(scaler) {}
  void Observe(int x) override { total += x * scaler_; }
  int total = 0;

 private:
  int scaler_;
};

// Removes |doomed| (possibly itself) when notified.
class Disrupter : public Foo {
 public:
  Disrupter(ObserverList<Foo>* list, Foo* doomed)
      : list_(list), doomed_(doomed) {}
  void Observe(int x) override {
    ++calls;
    list_->RemoveObserver(doomed_ ? doomed_ : this);
  }
  int calls = 0;

 private:
  ObserverList<Foo>* list_;
  Foo* doomed_;
};

class AddInObserve : public Foo {
 public:
  AddInObserve(ObserverList<Foo>* list, Foo* to_add)
      : list_(list), to_add_(to_add) {}
  void Observe(int x) override { list_->AddObserver(to_add_); }

 private:
  ObserverList<Foo>* list_;
  Foo* to_add_;
};

void Notify(ObserverList<Foo>* list, int x) {
  for (auto& observer : *list)
    observer.Observe(x);
}

TEST(ObserverListTest, AddRemoveAndDuplicates) {
  ObserverList<Foo> list;
  Adder a(1), b(-1), c(10);
  list.AddObserver(&a);
  list.AddObserver(&b);
  list.AddObserver(&a);  // Duplicate: ignored.
  EXPECT_EQ(2u, list.size_for_testing());
  list.RemoveObserver(&c);  // Not present: nothing happens.
  EXPECT_EQ(2u, list.size_for_testing());
  EXPECT_TRUE(list.HasObserver(&a));
  EXPECT_FALSE(list.HasObserver(&c));

  Notify(&list, 10);
  EXPECT_EQ(10, a.total);  // Called once despite the duplicate add.
  EXPECT_EQ(-10, b.total);

  list.RemoveObserver(&a);
  Notify(&list, 10);
  EXPECT_EQ(10, a.total);
  EXPECT_EQ(-20, b.total);
  EXPECT_EQ(1u, list.size_for_testing());

  ObserverList<Foo> empty;
  EXPECT_TRUE(empty.begin() == empty.end());
}

TEST(ObserverListTest, RemovalDuringNotificationLeavesNullsUntilTheEnd) {
  ObserverList<Foo> list;
  Adder a(1), b(1), c(1);
  Disrupter evil(&list, &b);  // Removes b before b is reached.
  Disrupter self_remover(&list, nullptr);
  list.AddObserver(&a);
  list.AddObserver(&evil);
  list.AddObserver(&b);
  list.AddObserver(&self_remover);
  list.AddObserver(&c);

  {
    auto it = list.begin();
    for (; it != list.end(); ++it) {
      it->Observe(1);
      // While the iterator lives, removed slots stay (as nulls).
      EXPECT_EQ(5u, list.size_for_testing());
    }
  }
  // The last iterator compacted the list.
  EXPECT_EQ(3u, list.size_for_testing());
  EXPECT_EQ(1, a.total);
  EXPECT_EQ(0, b.total);  // Removed before its turn.
  EXPECT_EQ(1, c.total);
  EXPECT_EQ(1, self_remover.calls);

  Notify(&list, 1);
  EXPECT_EQ(1, self_remover.calls);  // Not called again.
  EXPECT_EQ(2, evil.calls);
}

TEST(ObserverListTest, NestedNotificationsCompactOnlyAtTheOutermostEnd) {
  ObserverList<Foo> list;
  Adder a(1), b(1);
  struct Nester : public Foo {
    void Observe(int x) override {
      if (x == 0)
        return;
      list->RemoveObserver(doomed);
      Notify(list, 0);                        // Inner notification ends here...
      inner_size = list->size_for_testing();  // ...without compacting.
    }
    ObserverList<Foo>* list;
    Foo* doomed;
    size_t inner_size = 0;
  } nester;
  nester.list = &list;
  nester.doomed = &a;
  list.AddObserver(&a);
  list.AddObserver(&nester);
  list.AddObserver(&b);

  Notify(&list, 1);
  EXPECT_EQ(3u, nester.inner_size);
  EXPECT_EQ(2u, list.size_for_testing());
  EXPECT_EQ(1, a.total);  // Reached before its removal.
  EXPECT_EQ(1, b.total);  // Only the outer notification's value counts.
}

TEST(ObserverListTest, ExistingOnlyVersusAll) {
  // An observer added during a notification is reached in the same one only
  // by an ALL list.
  for (auto type : {ObserverList<Foo>::EXISTING_ONLY, ObserverList<Foo>::ALL}) {
    SCOPED_TRACE(type);
    Adder added(1);
    ObserverList<Foo> list(type);
    AddInObserve adder(&list, &added);
    list.AddObserver(&adder);
    Notify(&list, 1);
    EXPECT_EQ(type == ObserverList<Foo>::ALL ? 1 : 0, added.total);
    Notify(&list, 1);
    EXPECT_EQ(type == ObserverList<Foo>::ALL ? 2 : 1, added.total);
  }
}

TEST(ObserverListTest, DeletingTheListDuringNotificationEndsTheLoop) {
  struct Subject;
  struct Killer : public Foo {
    void Observe(int x) override { owner->reset(); }
    std::unique_ptr<ObserverList<Foo>>* owner;
  };
  auto list = std::make_unique<ObserverList<Foo>>();
  Killer killer;
  killer.owner = &list;
  Adder after(1);
  list->AddObserver(&killer);
  list->AddObserver(&after);

  int visited = 0;
  ObserverList<Foo>* raw = list.get();
  for (auto& observer : *raw) {
    ++visited;
    observer.Observe(1);
  }
  EXPECT_EQ(1, visited);
  EXPECT_EQ(0, after.total);
  EXPECT_FALSE(list);
}

TEST(ObserverListTest, IteratorsCompare) {
  ObserverList<Foo> list;
  Adder a(1), b(1);
  list.AddObserver(&a);
  list.AddObserver(&b);
  auto it1 = list.begin();
  auto it2 = list.begin();
  EXPECT_TRUE(it1 == it2);
  ++it2;
  EXPECT_FALSE(it1 == it2);
  ++it2;
  EXPECT_TRUE(it2 == list.end());
  // All nulls ahead: the iterator is at its end right away.
  list.RemoveObserver(&b);
  ++it1;
  EXPECT_TRUE(it1 == list.end());
}

}  // namespace
}  // namespace base
