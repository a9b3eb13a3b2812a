#include "base/trace_event/category_registry.h"

#include <string.h>

#include <atomic>
#include <memory>
#include <string>

#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

// Marks a new entry the way the trace log's initialiser would, and checks
// that the entry is not yet visible to lock-free readers while it runs.
std::atomic<int> g_initialized{0};
bool g_visible_during_init = false;
void MarkingInitializer(TraceCategory* category) {
  g_visible_during_init |=
      CategoryRegistry::GetCategoryByName(category->name()) != nullptr;
  category->set_state(TraceCategory::ENABLED_FOR_FILTERING);
  category->set_enabled_filters(5);
  g_initialized.fetch_add(1);
}

void SetStateInitializer(TraceCategory* category) {
  category->set_state(1);
}

TraceCategory* GetOrCreate(const char* name, bool* created = nullptr) {
  TraceCategory* category = nullptr;
  const bool made = CategoryRegistry::GetOrCreateCategoryLocked(
      name, &MarkingInitializer, &category);
  if (created)
    *created = made;
  return category;
}

TEST(CategoryRegistryTest, FixedEntriesAtTheirIndexes) {
  CategoryRegistry::Range all = CategoryRegistry::GetAllCategories();
  ASSERT_GE(all.end() - all.begin(), 4);
  TraceCategory* table = all.begin();
  EXPECT_STREQ("tracing categories exhausted; must increase kMaxCategories",
               table[0].name());
  EXPECT_STREQ("tracing already shutdown", table[1].name());
  EXPECT_STREQ("__metadata", table[2].name());
  EXPECT_STREQ("toplevel", table[3].name());
  EXPECT_EQ(&table[0], CategoryRegistry::kCategoryExhausted);
  EXPECT_EQ(&table[1], CategoryRegistry::kCategoryAlreadyShutdown);
  EXPECT_EQ(&table[2], CategoryRegistry::kCategoryMetadata);

  // "toplevel" exists before anybody asked for it, and is not made again.
  EXPECT_EQ(&table[3], CategoryRegistry::GetCategoryByName("toplevel"));
  bool created = true;
  EXPECT_EQ(&table[3], GetOrCreate("toplevel", &created));
  EXPECT_FALSE(created);
  EXPECT_EQ(0, table[3].state());

  EXPECT_TRUE(CategoryRegistry::IsBuiltinCategory(&table[3]));
  EXPECT_FALSE(CategoryRegistry::IsBuiltinCategory(
      GetOrCreate("CategoryRegistryTest.not_builtin")));
}

TEST(CategoryRegistryTest, OneEntryPerTextWithAStableStatePointer) {
  const int initialized_before = g_initialized.load();
  char name[] = "CategoryRegistryTest.stable";
  EXPECT_EQ(nullptr, CategoryRegistry::GetCategoryByName(name));
  bool created = false;
  TraceCategory* category = GetOrCreate(name, &created);
  ASSERT_NE(nullptr, category);
  EXPECT_TRUE(created);
  EXPECT_FALSE(g_visible_during_init);
  EXPECT_EQ(initialized_before + 1, g_initialized.load());
  EXPECT_EQ(TraceCategory::ENABLED_FOR_FILTERING, category->state());
  EXPECT_EQ(5u, category->enabled_filters());
  const uint8_t* state = category->state_ptr();

  // The entry keeps its own copy of the text.
  strcpy(name, "CategoryRegistryTest.xxxxxx");
  EXPECT_STREQ("CategoryRegistryTest.stable", category->name());
  EXPECT_EQ(nullptr, CategoryRegistry::GetCategoryByName(name));

  // Asked again, after other entries were added, the same entry comes back
  // and the initialiser does not run again.
  GetOrCreate("CategoryRegistryTest.later1");
  GetOrCreate("CategoryRegistryTest.later2");
  const int initialized_now = g_initialized.load();
  EXPECT_EQ(category, GetOrCreate("CategoryRegistryTest.stable", &created));
  EXPECT_FALSE(created);
  EXPECT_EQ(initialized_now, g_initialized.load());
  EXPECT_EQ(state,
            CategoryRegistry::GetCategoryByName("CategoryRegistryTest.stable")
                ->state_ptr());
  EXPECT_STREQ("CategoryRegistryTest.stable",
               TraceCategory::FromStatePtr(state)->name());

  // Texts are compared exactly: case matters and a group is not split.
  TraceCategory* upper = GetOrCreate("CATEGORYREGISTRYTEST.STABLE", &created);
  EXPECT_TRUE(created);
  EXPECT_NE(category, upper);
  TraceCategory* group =
      GetOrCreate("CategoryRegistryTest.a,CategoryRegistryTest.b", &created);
  EXPECT_TRUE(created);
  EXPECT_EQ(nullptr,
            CategoryRegistry::GetCategoryByName("CategoryRegistryTest.a"));
  EXPECT_STREQ("CategoryRegistryTest.a,CategoryRegistryTest.b", group->name());

  // The entries in use are listed in the order they were made.
  CategoryRegistry::Range all = CategoryRegistry::GetAllCategories();
  ASSERT_LT(group, all.end());
  EXPECT_EQ(group + 1, all.end());
  EXPECT_EQ(upper + 1, group);
}

// The process-wide table is shared with every other test of the process,
// so filling it is tried on a table of the same size made here.
class CategoryTableTest : public testing::Test {
 protected:
  CategoryTableTest()
      : entries_(new TraceCategory[CategoryRegistry::kMaxCategories]()),
        table_(entries_.get(),
               CategoryRegistry::kMaxCategories,
               CategoryRegistry::kNumBuiltinCategories) {
    CategoryRegistry::Range all = CategoryRegistry::GetAllCategories();
    for (size_t i = 0; i < CategoryRegistry::kNumBuiltinCategories; ++i)
      entries_[i].set_name(all.begin()[i].name());
  }

  std::unique_ptr<TraceCategory[]> entries_;
  internal::CategoryTable table_;
};

TEST_F(CategoryTableTest, TheFirstNamePastCapacityGetsEntryZero) {
  TraceCategory* first = nullptr;
  EXPECT_TRUE(table_.GetOrCreateLocked("name0", &SetStateInitializer, &first));
  EXPECT_EQ(&entries_[4], first);
  for (size_t i = 1; i < CategoryRegistry::kMaxCategories - 4; ++i) {
    const std::string name = "name" + std::to_string(i);
    TraceCategory* category = nullptr;
    ASSERT_TRUE(
        table_.GetOrCreateLocked(name.c_str(), &SetStateInitializer, &category))
        << name;
    EXPECT_EQ(&entries_[4 + i], category);
  }
  EXPECT_EQ(CategoryRegistry::kMaxCategories, table_.count());

  // Full: new names share entry 0 and nothing is made or initialised.
  for (const char* name : {"one too many", "two too many"}) {
    TraceCategory* category = nullptr;
    EXPECT_FALSE(
        table_.GetOrCreateLocked(name, &SetStateInitializer, &category));
    EXPECT_EQ(&entries_[0], category);
    EXPECT_EQ(0, entries_[0].state());
    EXPECT_EQ(nullptr, table_.FindByName(name));
  }
  EXPECT_EQ(CategoryRegistry::kMaxCategories, table_.count());

  // What was made before is still found.
  EXPECT_EQ(first, table_.FindByName("name0"));
  EXPECT_EQ(&entries_[CategoryRegistry::kMaxCategories - 1],
            table_.FindByName("name195"));
  TraceCategory* again = nullptr;
  EXPECT_FALSE(
      table_.GetOrCreateLocked("name195", &SetStateInitializer, &again));
  EXPECT_EQ(&entries_[CategoryRegistry::kMaxCategories - 1], again);
}

}  // namespace
}  // namespace trace_event
}  // namespace base
