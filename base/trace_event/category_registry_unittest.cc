#include "base/trace_event/category_registry.h"

#include <string.h>

#include <string>

#include "base/trace_event/trace_log.h"
#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

// The process-wide table is shared with every test and thread of the
// process: only read-only checks, and lookups through the trace log's own
// locked path, are made on it.
TEST(CategoryRegistryTest, FixedEntriesAndStableStatePointer) {
  TraceCategory* table = CategoryRegistry::GetAllCategories().begin();
  const char* const kFixed[] = {
      "tracing categories exhausted; must increase kMaxCategories",
      "tracing already shutdown", "__metadata", "toplevel"};
  for (size_t i = 0; i < 4; ++i)
    EXPECT_STREQ(kFixed[i], table[i].name()) << i;
  EXPECT_EQ(&table[3], CategoryRegistry::GetCategoryByName("toplevel"));
  EXPECT_EQ(table[3].state_ptr(),
            TraceLog::GetCategoryGroupEnabled("toplevel"));

  const char kName[] = "CategoryRegistryTest.stable";
  const unsigned char* state = TraceLog::GetCategoryGroupEnabled(kName);
  EXPECT_EQ(state, TraceLog::GetCategoryGroupEnabled(kName));
  EXPECT_EQ(state, CategoryRegistry::GetCategoryByName(kName)->state_ptr());
  EXPECT_STREQ(kName, TraceCategory::FromStatePtr(state)->name());
}

// Creation is tried on a table of the same size made here.
TraceCategory g_entries[CategoryRegistry::kMaxCategories];
const char* const kFixedNames[] = {"exhausted", "shutdown", "__metadata",
                                   "toplevel"};
internal::CategoryTable* g_table = nullptr;
int g_initialized = 0;
bool g_visible_during_init = false;

// Sets the state as the trace log's initialiser does, and notes whether
// lock-free readers could already see the entry.
void Initializer(TraceCategory* category) {
  ++g_initialized;
  g_visible_during_init |= g_table->FindByName(category->name()) != nullptr;
  category->set_state(TraceCategory::ENABLED_FOR_RECORDING);
}

class CategoryTableTest : public testing::Test {
 protected:
  CategoryTableTest() {
    for (size_t i = 0; i < CategoryRegistry::kMaxCategories; ++i) {
      g_entries[i].set_name(i < 4 ? kFixedNames[i] : nullptr);
      g_entries[i].set_state(0);
    }
    g_table = &table_;
    g_initialized = 0;
    g_visible_during_init = false;
  }

  // Checks that the answer "made" comes exactly with one initialisation.
  TraceCategory* GetOrCreate(const char* name) {
    TraceCategory* category = nullptr;
    const int initialized = g_initialized;
    const bool made = table_.GetOrCreateLocked(name, &Initializer, &category);
    EXPECT_EQ(initialized + (made ? 1 : 0), g_initialized) << name;
    return category;
  }

  internal::CategoryTable table_{g_entries, CategoryRegistry::kMaxCategories,
                                 4};
};

TEST_F(CategoryTableTest, OneEntryPerExactText) {
  char name[] = "stable";
  TraceCategory* category = GetOrCreate(name);
  EXPECT_EQ(&g_entries[4], category);
  EXPECT_EQ(1, g_initialized);
  EXPECT_FALSE(g_visible_during_init);
  EXPECT_EQ(TraceCategory::ENABLED_FOR_RECORDING, category->state());

  // The entry keeps its own copy of the text; asked again it comes back
  // without a second initialisation.
  strcpy(name, "xxxxxx");
  EXPECT_EQ(category, GetOrCreate("stable"));
  EXPECT_EQ(&g_entries[3], GetOrCreate("toplevel"));
  EXPECT_EQ(1, g_initialized);

  // Case matters, and a group text is one category of its own.
  EXPECT_EQ(&g_entries[5], GetOrCreate("STABLE"));
  EXPECT_EQ(&g_entries[6], GetOrCreate("a,b"));
  EXPECT_EQ(nullptr, table_.FindByName("a"));
}

TEST_F(CategoryTableTest, TheFirstNamePastCapacityGetsEntryZero) {
  for (size_t i = 4; i < CategoryRegistry::kMaxCategories; ++i) {
    const std::string name = "name" + std::to_string(i);
    ASSERT_EQ(&g_entries[i], GetOrCreate(name.c_str())) << name;
  }
  const int initialized = g_initialized;
  EXPECT_EQ(&g_entries[0], GetOrCreate("one too many"));
  EXPECT_EQ(initialized, g_initialized);
  EXPECT_EQ(0, g_entries[0].state());
  EXPECT_EQ(nullptr, table_.FindByName("one too many"));
  EXPECT_EQ(&g_entries[199], GetOrCreate("name199"));
}

}  // namespace
}  // namespace trace_event
}  // namespace base
