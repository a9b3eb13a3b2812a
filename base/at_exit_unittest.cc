#include "base/at_exit.h"

#include <windows.h>

#include <memory>
#include <vector>

#include "base/test/test_thread.h"
#include "gtest/gtest.h"

namespace base {

namespace {

std::vector<int> g_ran;

void Record(void* param) {
  g_ran.push_back(*static_cast<int*>(param));
}

int g_one = 1;
int g_two = 2;
int g_three = 3;
int g_late = 99;

void RegisterAnotherWhileRunning(void* param) {
  Record(param);
  AtExitManager::RegisterCallback(&Record, &g_late);
}

class AtExitTest : public testing::Test {
 protected:
  void SetUp() override { g_ran.clear(); }
};

TEST_F(AtExitTest, CallbacksRunLastRegisteredFirst) {
  {
    AtExitManager manager;
    AtExitManager::RegisterCallback(&Record, &g_one);
    AtExitManager::RegisterCallback(&Record, &g_two);
    AtExitManager::RegisterCallback(&Record, &g_three);
    EXPECT_TRUE(g_ran.empty());
  }
  EXPECT_EQ(std::vector<int>({3, 2, 1}), g_ran);
}

TEST_F(AtExitTest, CallbackRegisteredWhileRunningIsReleasedUnrun) {
  {
    AtExitManager outer;
    {
      AtExitManager inner;
      AtExitManager::RegisterCallback(&RegisterAnotherWhileRunning, &g_one);
    }
    EXPECT_EQ(std::vector<int>({1}), g_ran);
  }
  // Neither the inner manager nor the one beneath it ran it.
  EXPECT_EQ(std::vector<int>({1}), g_ran);
}

TEST_F(AtExitTest, NestedManagerHandsBackToThePreviousOne) {
  {
    AtExitManager outer;
    AtExitManager::RegisterCallback(&Record, &g_one);
    {
      AtExitManager inner;
      AtExitManager::RegisterCallback(&Record, &g_two);
    }
    EXPECT_EQ(std::vector<int>({2}), g_ran);
    AtExitManager::RegisterCallback(&Record, &g_three);
  }
  EXPECT_EQ(std::vector<int>({2, 3, 1}), g_ran);
}

std::vector<int> g_thread_values;
void RecordFromThread(void* param) {
  g_thread_values.push_back(
      static_cast<int>(reinterpret_cast<intptr_t>(param)));
}

TEST_F(AtExitTest, RegistrationFromManyThreads) {
  g_thread_values.clear();
  {
    AtExitManager manager;
    std::vector<std::unique_ptr<TestThread>> threads;
    for (intptr_t i = 0; i < 4; ++i) {
      threads.push_back(std::make_unique<TestThread>([i] {
        for (intptr_t j = 0; j < 100; ++j) {
          AtExitManager::RegisterCallback(
              &RecordFromThread, reinterpret_cast<void*>(i * 1000 + j));
        }
      }));
    }
    for (auto& thread : threads)
      thread->Join();
  }
  ASSERT_EQ(400u, g_thread_values.size());
  // Each thread's own callbacks still run in reverse order.
  std::vector<int> last_seen(4, 100000);
  for (int value : g_thread_values) {
    const int thread = value / 1000;
    EXPECT_LT(value, last_seen[thread]);
    last_seen[thread] = value;
  }
}

}  // namespace

}  // namespace base
