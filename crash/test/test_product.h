#ifndef CRASH_TEST_TEST_PRODUCT_H_
#define CRASH_TEST_TEST_PRODUCT_H_

#include "crash/crash_product_info.h"

namespace crash_reporter {
namespace test {

// The product the crash tests and their programs report as. Callers add
// what their case needs (a company key of their own, an upload address).
inline CrashProductInfo TestCrashProduct() {
  CrashProductInfo info;
  info.product_word = "Kavor";
  info.crash_product_name = "KavorDesktop";
  info.version = "47.0.4127.0";
  info.channel = "developer";
  info.channel_id = 2;
  info.ubn = 957861;
  info.build_timestamp = "20180312_230013";
  info.build_number = 1234567;
  return info;
}

}  // namespace test
}  // namespace crash_reporter

#endif  // CRASH_TEST_TEST_PRODUCT_H_
