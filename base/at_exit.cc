#include "base/at_exit.h"

#include <atomic>
#include <utility>

#include "base/bind.h"
#include "base/check.h"

namespace base {

namespace {

// The manager callbacks go to; null when there is none.
std::atomic<AtExitManager*> g_top_manager{nullptr};

}  // namespace

AtExitManager::AtExitManager()
    : next_manager_(g_top_manager.load(std::memory_order_acquire)) {
  g_top_manager.store(this, std::memory_order_release);
}

AtExitManager::~AtExitManager() {
  if (g_top_manager.load(std::memory_order_acquire)) {
    // Managers are destroyed in the reverse order of their making.
    DCHECK_EQ(this, g_top_manager.load(std::memory_order_acquire));
    ProcessCallbacksNow();
    g_top_manager.store(next_manager_, std::memory_order_release);
  }
  // What is left on the stack now was registered while the callbacks ran and
  // is released without running.
}

// static
void AtExitManager::RegisterCallback(AtExitCallbackType func, void* param) {
  DCHECK(func);
  AtExitManager* manager = g_top_manager.load(std::memory_order_acquire);
  if (!manager)
    return;
  RepeatingClosure closure = BindRepeating(func, param);
  AutoLock lock(manager->lock_);
  manager->stack_.push(std::move(closure));
}

// static
void AtExitManager::ProcessCallbacksNow() {
  AtExitManager* manager = g_top_manager.load(std::memory_order_acquire);
  if (!manager)
    return;

  std::stack<RepeatingClosure, std::deque<RepeatingClosure>> tasks;
  {
    AutoLock lock(manager->lock_);
    tasks.swap(manager->stack_);
  }
  while (!tasks.empty()) {
    // A copy, so that the closure outlives its own run even if running it
    // somehow reaches this stack.
    RepeatingClosure task = tasks.top();
    task.Run();
    tasks.pop();
  }
}

}  // namespace base
