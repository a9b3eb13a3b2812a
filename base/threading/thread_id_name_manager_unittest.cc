#include "base/threading/thread_id_name_manager.h"

#include <windows.h>

#include <string>

#include "base/test/test_thread.h"
#include "base/threading/platform_thread.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Ids and handles that no real thread has: kernel ids are multiples of 4.
const PlatformThreadId kFirstId = 0x7FFF0001;
const PlatformThreadId kSecondId = 0x7FFF0005;
PlatformThreadHandle::Handle FakeHandle(uintptr_t n) {
  return reinterpret_cast<PlatformThreadHandle::Handle>(0x7FFF0000 + n);
}

TEST(ThreadIdNameManagerTest, UnregisteredThreadsShareTheMainThreadSlot) {
  ThreadIdNameManager manager;
  EXPECT_STREQ("", manager.GetName(kFirstId));
  EXPECT_STREQ("", manager.GetName(kInvalidThreadId));

  manager.SetName(kFirstId, "First");
  EXPECT_STREQ("First", manager.GetName(kFirstId));
  manager.SetName(kSecondId, "Second");
  EXPECT_STREQ("Second", manager.GetName(kSecondId));
  // The first lost the single slot.
  EXPECT_STREQ("", manager.GetName(kFirstId));
}

TEST(ThreadIdNameManagerTest, RegisteredThreadsKeepTheirOwnNames) {
  ThreadIdNameManager manager;
  manager.SetName(kFirstId, "Main");
  manager.RegisterThread(FakeHandle(1), kSecondId);
  EXPECT_STREQ("", manager.GetName(kSecondId));

  manager.SetName(kSecondId, "Worker");
  const char* worker = manager.GetName(kSecondId);
  EXPECT_STREQ("Worker", worker);
  // Naming a registered thread leaves the main slot alone.
  EXPECT_STREQ("Main", manager.GetName(kFirstId));

  manager.SetName(kSecondId, "Renamed");
  EXPECT_STREQ("Renamed", manager.GetName(kSecondId));
  // A name is interned once, and what was handed out stays readable.
  manager.SetName(kSecondId, "Worker");
  EXPECT_EQ(worker, manager.GetName(kSecondId));
  manager.RemoveName(FakeHandle(1), kSecondId);
  EXPECT_STREQ("", manager.GetName(kSecondId));
  EXPECT_STREQ("Worker", worker);
}

TEST(ThreadIdNameManagerTest, RemovingAnOldThreadKeepsANewerThreadsId) {
  ThreadIdNameManager manager;
  manager.RegisterThread(FakeHandle(1), kFirstId);
  manager.SetName(kFirstId, "Old");
  // The old thread ended but has not unregistered yet when the system
  // hands its id to a new thread.
  manager.RegisterThread(FakeHandle(2), kFirstId);
  manager.SetName(kFirstId, "New");

  manager.RemoveName(FakeHandle(1), kFirstId);
  EXPECT_STREQ("New", manager.GetName(kFirstId));

  manager.RemoveName(FakeHandle(2), kFirstId);
  EXPECT_STREQ("", manager.GetName(kFirstId));
}

TEST(ThreadIdNameManagerTest, ThreadsOfOtherOriginsNameThemselves) {
  // Threads made without PlatformThread land in the main-thread slot.
  ThreadIdNameManager* manager = ThreadIdNameManager::GetInstance();
  const std::string main_thread_name =
      manager->GetName(PlatformThread::CurrentId());
  PlatformThreadId ids[2];
  const char* names[2] = {"ForeignOne", "ForeignTwo"};
  for (int i = 0; i < 2; ++i) {
    const char* name = names[i];
    TestThread thread([name] { PlatformThread::SetName(name); });
    ids[i] = thread.thread_id();
    thread.Join();
  }
  EXPECT_STREQ("ForeignTwo", manager->GetName(ids[1]));
  if (ids[0] != ids[1]) {
    EXPECT_STREQ("", manager->GetName(ids[0]));
  }

  // Give the slot back to this thread: the dead thread's id is soon reused
  // by a thread that names itself, and the slot would shadow that name.
  manager->SetName(PlatformThread::CurrentId(), main_thread_name);
  EXPECT_EQ(main_thread_name, manager->GetName(PlatformThread::CurrentId()));
}

}  // namespace
}  // namespace base
