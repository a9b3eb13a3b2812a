#include "base/trace_event/category_registry.h"

#include <string.h>

#include <type_traits>

#include "base/check.h"

namespace base {
namespace trace_event {

namespace {

// Call sites cache the state byte's address and the name is read from the
// same address, so the state must sit at the start of an entry.
static_assert(std::is_standard_layout<TraceCategory>::value,
              "TraceCategory must be standard layout");
static_assert(offsetof(TraceCategory, state_) == 0,
              "the state byte must be the first member of TraceCategory");

// Constant-initialised: no static constructor, so call sites may ask for
// categories from any static initialiser.
TraceCategory g_categories[CategoryRegistry::kMaxCategories] = {
    {0, 0, "tracing categories exhausted; must increase kMaxCategories"},
    {0, 0, "tracing already shutdown"},
    {0, 0, "__metadata"},
    {0, 0, "toplevel"},
};

internal::CategoryTable g_table(g_categories,
                                CategoryRegistry::kMaxCategories,
                                CategoryRegistry::kNumBuiltinCategories);

}  // namespace

namespace internal {

TraceCategory* CategoryTable::FindByName(const char* category_name) const {
  DCHECK(category_name);
  const size_t count = count_.load(std::memory_order_acquire);
  for (size_t i = 0; i < count; ++i) {
    if (strcmp(entries_[i].name(), category_name) == 0)
      return &entries_[i];
  }
  return nullptr;
}

bool CategoryTable::GetOrCreateLocked(
    const char* category_name,
    CategoryRegistry::CategoryInitializerFn initializer,
    TraceCategory** category) {
  *category = FindByName(category_name);
  if (*category)
    return false;

  // Only creators change the count, and they hold the trace log's lock.
  const size_t count = count_.load(std::memory_order_relaxed);
  if (count >= capacity_) {
    *category = &entries_[0];
    return false;
  }

  // Call sites keep the name for the life of the process: never freed.
  const size_t length = strlen(category_name);
  char* name_copy = new char[length + 1];
  memcpy(name_copy, category_name, length + 1);

  TraceCategory* entry = &entries_[count];
  DCHECK(!entry->name());
  entry->set_name(name_copy);
  if (initializer)
    initializer(entry);
  count_.store(count + 1, std::memory_order_release);
  *category = entry;
  return true;
}

}  // namespace internal

// static
TraceCategory* const CategoryRegistry::kCategoryExhausted = &g_categories[0];
// static
TraceCategory* const CategoryRegistry::kCategoryAlreadyShutdown =
    &g_categories[1];
// static
TraceCategory* const CategoryRegistry::kCategoryMetadata = &g_categories[2];

// static
TraceCategory* CategoryRegistry::GetCategoryByName(const char* category_name) {
  return g_table.FindByName(category_name);
}

// static
bool CategoryRegistry::GetOrCreateCategoryLocked(
    const char* category_name,
    CategoryInitializerFn initializer,
    TraceCategory** category) {
  return g_table.GetOrCreateLocked(category_name, initializer, category);
}

// static
CategoryRegistry::Range CategoryRegistry::GetAllCategories() {
  return Range{g_categories, g_categories + g_table.count()};
}

}  // namespace trace_event
}  // namespace base
