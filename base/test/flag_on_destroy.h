#ifndef BASE_TEST_FLAG_ON_DESTROY_H_
#define BASE_TEST_FLAG_ON_DESTROY_H_

namespace base {

// Bound state that tells when it is destroyed, for tests of when and where
// tasks and their arguments go away. Run() tells that the task ran.
class FlagOnDestroy {
 public:
  explicit FlagOnDestroy(bool* destroyed) : destroyed_(destroyed) {}
  ~FlagOnDestroy() { *destroyed_ = true; }
  void Run(bool* ran) { *ran = true; }

 private:
  bool* destroyed_;
};

}  // namespace base

#endif  // BASE_TEST_FLAG_ON_DESTROY_H_
