#ifndef BASE_TEST_TEST_WATCHDOG_H_
#define BASE_TEST_TEST_WATCHDOG_H_

namespace base {
namespace test {

// Ends the test executable, naming the test, once a single test has run for
// |limit_seconds|: a lost wake-up that some wait in a test does not bound
// (a thread's Stop, a join) then fails that test at once, instead of
// holding every later test up until an outer time-out kills the run without
// saying where. Uses only the operating system's own primitives, so that a
// fault in base's threading cannot disable it. Call once, after
// testing::InitGoogleTest.
void InstallTestWatchdog(unsigned int limit_seconds);

}  // namespace test
}  // namespace base

#endif  // BASE_TEST_TEST_WATCHDOG_H_
