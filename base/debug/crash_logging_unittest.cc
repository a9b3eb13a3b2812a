#include "base/debug/crash_logging.h"

#include <string>
#include <vector>

#include "base/debug/dump_without_crashing.h"
#include "gtest/gtest.h"

namespace base {
namespace debug {
namespace {

// Records what reaches it, its own end included.
class RecordingImplementation : public CrashKeyImplementation {
 public:
  explicit RecordingImplementation(std::vector<std::string>* calls)
      : calls_(calls) {}
  ~RecordingImplementation() override { calls_->push_back("destroyed"); }

  CrashKeyString* Allocate(const char* name, uint32_t size) override {
    calls_->push_back("allocate " + std::string(name));
    keys_.push_back(std::make_unique<CrashKeyString>(name, size));
    return keys_.back().get();
  }
  void Set(CrashKeyString* key, StringPiece value) override {
    calls_->push_back("set " + std::string(key->name) + "=" +
                      value.as_string());
  }
  void Clear(CrashKeyString* key) override {
    calls_->push_back("clear " + std::string(key->name));
  }

 private:
  std::vector<std::string>* const calls_;
  std::vector<std::unique_ptr<CrashKeyString>> keys_;
};

TEST(CrashLoggingTest, CallsReachOnlyTheRegisteredImplementation) {
  // Nothing registered: no key, and setting one goes nowhere.
  EXPECT_EQ(nullptr, AllocateCrashKeyString("key", kCrashKeySize32));
  CrashKeyString early("early", kCrashKeySize32);
  SetCrashKeyString(&early, "value");
  ClearCrashKeyString(&early);

  std::vector<std::string> first;
  std::vector<std::string> second;
  SetCrashKeyImplementation(std::make_unique<RecordingImplementation>(&first));
  CrashKeyString* key = AllocateCrashKeyString("Email", kCrashKeySize64);
  ASSERT_NE(nullptr, key);
  EXPECT_EQ(kCrashKeySize64, key->size);
  SetCrashKeyString(key, "a@b");
  ClearCrashKeyString(key);
  // A null key (an allocation that failed) goes nowhere.
  SetCrashKeyString(nullptr, "lost");
  ClearCrashKeyString(nullptr);

  // The second implementation replaces and destroys the first.
  SetCrashKeyImplementation(std::make_unique<RecordingImplementation>(&second));
  SetCrashKeyString(&early, "later");
  EXPECT_EQ((std::vector<std::string>{"allocate Email", "set Email=a@b",
                                      "clear Email", "destroyed"}),
            first);
  SetCrashKeyImplementation(nullptr);
  EXPECT_EQ((std::vector<std::string>{"set early=later", "destroyed"}), second);
  EXPECT_EQ(nullptr, AllocateCrashKeyString("key", kCrashKeySize32));
}

int g_dumps = 0;
void CountDump() {
  ++g_dumps;
}

TEST(DumpWithoutCrashingTest, OnlyARegisteredFunctionDumps) {
  // The count outlives the test: a repeated run starts it again.
  g_dumps = 0;
  EXPECT_FALSE(DumpWithoutCrashing());
  SetDumpWithoutCrashingFunction(&CountDump);
  EXPECT_TRUE(DumpWithoutCrashing());
  EXPECT_EQ(1, g_dumps);
  SetDumpWithoutCrashingFunction(nullptr);
  EXPECT_FALSE(DumpWithoutCrashing());
  EXPECT_EQ(1, g_dumps);
}

}  // namespace
}  // namespace debug
}  // namespace base
