#include "base/location.h"

#include <stdint.h>
#include <string.h>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(LocationTest, DefaultHasNoSourceInfo) {
  Location location;
  EXPECT_EQ(nullptr, location.function_name());
  EXPECT_EQ(nullptr, location.file_name());
  EXPECT_EQ(-1, location.line_number());
  EXPECT_EQ(nullptr, location.program_counter());
  EXPECT_FALSE(location.has_source_info());
}

struct Sites {
  Location location;
  const void* pc_before;
  const void* pc_after;
};

__attribute__((noinline)) Sites MakeSites() {
  Sites sites;
  sites.pc_before = GetProgramCounter();
  sites.location = FROM_HERE;
  sites.pc_after = GetProgramCounter();
  return sites;
}

TEST(LocationTest, FromHereRecordsThePostingSite) {
  const int line = __LINE__ + 1;
  Location here = FROM_HERE;
  EXPECT_STREQ("TestBody", here.function_name());
  ASSERT_NE(nullptr, here.file_name());
  EXPECT_NE(nullptr, strstr(here.file_name(), "location_unittest.cc"));
  EXPECT_EQ(line, here.line_number());
  EXPECT_TRUE(here.has_source_info());

  // The program counter lies inside the posting function, between the
  // return addresses of the calls made around it.
  Sites sites = MakeSites();
  uintptr_t pc = reinterpret_cast<uintptr_t>(sites.location.program_counter());
  EXPECT_STREQ("MakeSites", sites.location.function_name());
  EXPECT_LT(reinterpret_cast<uintptr_t>(sites.pc_before), pc);
  EXPECT_LT(pc, reinterpret_cast<uintptr_t>(sites.pc_after));
}

TEST(LocationTest, CopiesAllFourFieldsWithoutOwningTheNames) {
  static const char kFunction[] = "StopSoon";
  static const char kFile[] = "run_loop.cc";
  int marker = 0;
  Location original(kFunction, kFile, 12, &marker);
  Location copy = original;
  EXPECT_EQ(kFunction, copy.function_name());
  EXPECT_EQ(kFile, copy.file_name());
  EXPECT_EQ(12, copy.line_number());
  EXPECT_EQ(&marker, copy.program_counter());
  Location assigned;
  assigned = original;
  EXPECT_EQ(kFunction, assigned.function_name());
  EXPECT_EQ("StopSoon@run_loop.cc:12", assigned.ToString());

  Location no_names(nullptr, nullptr, -1,
                    reinterpret_cast<const void*>(0x1234));
  EXPECT_EQ("pc:1234", no_names.ToString());
}

}  // namespace
}  // namespace base
