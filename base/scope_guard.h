#ifndef BASE_SCOPE_GUARD_H_
#define BASE_SCOPE_GUARD_H_

#include <utility>

namespace base {

// Runs a callable when the scope ends, unless cancelled first; for clean-up
// that has no owner type, on every way out of a function:
//   ScopeGuard undo([&] { RemoveHalfWrittenFile(path); });
//   ...
//   undo.Cancel();  // Done: keep the file.
template <typename F>
class ScopeGuard {
 public:
  explicit ScopeGuard(F function) : function_(std::move(function)) {}
  ScopeGuard(ScopeGuard&& other)
      : function_(std::move(other.function_)), active_(other.active_) {
    other.active_ = false;
  }
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;
  ScopeGuard& operator=(ScopeGuard&&) = delete;
  ~ScopeGuard() {
    if (active_)
      function_();
  }

  // The callable will not run.
  void Cancel() { active_ = false; }

 private:
  F function_;
  bool active_ = true;
};

}  // namespace base

#endif  // BASE_SCOPE_GUARD_H_
