#include "base/threading/thread_local_storage.h"

#include <windows.h>
#include <stdlib.h>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "base/test/test_thread.h"
#include "gtest/gtest.h"

extern "C" PIMAGE_TLS_CALLBACK kavor_tls_thread_exit_callback;

namespace base {

namespace {

// Destructor calls, recorded by the exiting threads and read after the join.
std::vector<void*> g_destroyed_a;
std::vector<void*> g_destroyed_b;
void DestructorA(void* value) {
  g_destroyed_a.push_back(value);
}
void DestructorB(void* value) {
  g_destroyed_b.push_back(value);
}

class ThreadLocalStorageTest : public testing::Test {
 protected:
  void SetUp() override {
    g_destroyed_a.clear();
    g_destroyed_b.clear();
  }
};

TEST_F(ThreadLocalStorageTest, CallbackIsFirstInModuleTlsDirectory) {
  const auto* base = reinterpret_cast<const BYTE*>(::GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt =
      reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& entry =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS];
  ASSERT_NE(0u, entry.VirtualAddress);
  const auto* directory =
      reinterpret_cast<const IMAGE_TLS_DIRECTORY*>(base + entry.VirtualAddress);
  const auto* callbacks = reinterpret_cast<const PIMAGE_TLS_CALLBACK*>(
      directory->AddressOfCallBacks);
  ASSERT_NE(nullptr, callbacks);
  EXPECT_EQ(kavor_tls_thread_exit_callback, callbacks[0]);
}

TEST_F(ThreadLocalStorageTest, SlotsAreTakenFromOneAndZeroComesLast) {
  // A fresh process, so that no slot is taken yet.
  EXPECT_EXIT(
      {
        for (int i = 1; i < ThreadLocalStorage::kThreadLocalStorageSize; ++i) {
          if ((new ThreadLocalStorage::Slot())->index_for_testing() != i)
            ::ExitProcess(10);
        }
        if ((new ThreadLocalStorage::Slot())->index_for_testing() != 0)
          ::ExitProcess(11);
        ::ExitProcess(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST_F(ThreadLocalStorageTest, SlotBeyondTheLastIsFatal) {
  EXPECT_DEATH(
      {
        for (int i = 0; i <= ThreadLocalStorage::kThreadLocalStorageSize; ++i)
          new ThreadLocalStorage::Slot();
      },
      "");
}

TEST_F(ThreadLocalStorageTest, ValuesArePerThread) {
  ThreadLocalStorage::Slot slot;
  EXPECT_TRUE(slot.initialized());
  EXPECT_EQ(nullptr, slot.Get());
  int main_value = 0;
  slot.Set(&main_value);

  void* seen_on_thread = &main_value;
  int thread_value = 0;
  void* seen_after_set = nullptr;
  RunOnThreadAndJoin([&] {
    seen_on_thread = slot.Get();
    slot.Set(&thread_value);
    seen_after_set = slot.Get();
  });
  EXPECT_EQ(nullptr, seen_on_thread);
  EXPECT_EQ(&thread_value, seen_after_set);
  EXPECT_EQ(&main_value, slot.Get());

  slot.Free();
  EXPECT_FALSE(slot.initialized());
}

TEST_F(ThreadLocalStorageTest, GetKeepsLastError) {
  ThreadLocalStorage::Slot slot;
  ::SetLastError(1234);
  slot.Get();
  EXPECT_EQ(1234u, ::GetLastError());
  ::SetLastError(4321);
  slot.Set(&slot);
  EXPECT_EQ(4321u, ::GetLastError());
}

TEST_F(ThreadLocalStorageTest, NullAndDestructorlessValuesAreLeftAlone) {
  ThreadLocalStorage::Slot with_destructor(&DestructorA);
  ThreadLocalStorage::Slot without_destructor;
  int value = 0;
  RunOnThreadAndJoin([&] {
    with_destructor.Set(&value);
    with_destructor.Set(nullptr);
    without_destructor.Set(&value);
  });
  EXPECT_TRUE(g_destroyed_a.empty());

  // A thread that never touched a slot ends without running anything.
  RunOnThreadAndJoin([] {});
  EXPECT_TRUE(g_destroyed_a.empty());
}

TEST_F(ThreadLocalStorageTest, FreedSlotNeverHandsOldValuesToNewDestructor) {
  auto* old_slot = new ThreadLocalStorage::Slot(&DestructorA);
  const int index = old_slot->index_for_testing();

  HANDLE value_set = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE slot_reused = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ThreadLocalStorage::Slot* new_slot = nullptr;
  int old_thread_value = 0;
  void* seen_on_thread = &old_thread_value;

  TestThread thread([&] {
    old_slot->Set(&old_thread_value);
    ::SetEvent(value_set);
    ::WaitForSingleObject(slot_reused, INFINITE);
    seen_on_thread = new_slot->Get();
  });
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(value_set, INFINITE));

  int old_main_value = 0;
  old_slot->Set(&old_main_value);
  old_slot->Free();
  delete old_slot;

  // Take slots until the freed index comes round again.
  std::vector<ThreadLocalStorage::Slot*> others;
  for (;;) {
    auto* slot = new ThreadLocalStorage::Slot(&DestructorB);
    if (slot->index_for_testing() == index) {
      new_slot = slot;
      break;
    }
    others.push_back(slot);
  }
  for (ThreadLocalStorage::Slot* slot : others)
    delete slot;

  EXPECT_EQ(nullptr, new_slot->Get());
  ::SetEvent(slot_reused);
  thread.Join();
  ::CloseHandle(value_set);
  ::CloseHandle(slot_reused);

  EXPECT_EQ(nullptr, seen_on_thread);
  EXPECT_TRUE(g_destroyed_a.empty());
  EXPECT_TRUE(g_destroyed_b.empty());

  // A value stored under the new use reaches the new destructor.
  int new_thread_value = 0;
  RunOnThreadAndJoin([&] { new_slot->Set(&new_thread_value); });
  ASSERT_EQ(1u, g_destroyed_b.size());
  EXPECT_EQ(&new_thread_value, g_destroyed_b[0]);
  EXPECT_TRUE(g_destroyed_a.empty());
  delete new_slot;
}

ThreadLocalStorage::Slot* g_second_slot = nullptr;
int g_second_value = 0;
void SetSecondSlotDestructor(void* value) {
  g_destroyed_a.push_back(value);
  g_second_slot->Set(&g_second_value);
}

TEST_F(ThreadLocalStorageTest, DestructorStoringAValueCausesAnotherPass) {
  // The second slot must have the lower index, so that its value is stored
  // after the pass went past it. Slots are handed out upwards; retry once
  // the search wrapped round between the two.
  std::unique_ptr<ThreadLocalStorage::Slot> second;
  std::unique_ptr<ThreadLocalStorage::Slot> first;
  do {
    second = std::make_unique<ThreadLocalStorage::Slot>(&DestructorB);
    first =
        std::make_unique<ThreadLocalStorage::Slot>(&SetSecondSlotDestructor);
  } while (first->index_for_testing() < second->index_for_testing());
  g_second_slot = second.get();
  int value = 0;
  RunOnThreadAndJoin([&] { first->Set(&value); });
  ASSERT_EQ(1u, g_destroyed_a.size());
  EXPECT_EQ(&value, g_destroyed_a[0]);
  ASSERT_EQ(1u, g_destroyed_b.size());
  EXPECT_EQ(&g_second_value, g_destroyed_b[0]);
  g_second_slot = nullptr;
}

ThreadLocalStorage::Slot* g_stubborn_slot = nullptr;
int g_stubborn_calls = 0;
void StubbornDestructor(void* value) {
  ++g_stubborn_calls;
  g_stubborn_slot->Set(value);
}

TEST_F(ThreadLocalStorageTest, DestructorPassesAreCapped) {
  ThreadLocalStorage::Slot slot(&StubbornDestructor);
  g_stubborn_slot = &slot;
  g_stubborn_calls = 0;
  int value = 0;
  RunOnThreadAndJoin([&] { slot.Set(&value); });
  EXPECT_EQ(256, g_stubborn_calls);
  g_stubborn_slot = nullptr;
}

}  // namespace

}  // namespace base
