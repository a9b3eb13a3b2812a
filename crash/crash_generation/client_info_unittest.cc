#include "crash/crash_generation/client_info.h"

#include <windows.h>
#include <wchar.h>

#include <string>

#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

// This process stands in for the client: its memory is read as a client's.
class ClientInfoTest : public testing::Test {
 protected:
  ClientInfo* MakeClient(const CustomInfoEntry* entries, size_t count) {
    client_.reset(new ClientInfo(nullptr, GetCurrentProcessId(), 0, &thread_id_,
                                 &pointers_, &assertion_,
                                 CustomClientInfo{entries, count}));
    return client_->Initialize() ? client_.get() : nullptr;
  }

  DWORD thread_id_ = 0;
  EXCEPTION_POINTERS* pointers_ = nullptr;
  AssertionInfo assertion_ = {};
  std::unique_ptr<ClientInfo> client_;
};

TEST_F(ClientInfoTest, CrashIdIsTheLowHalfOfTheProcessStart) {
  ClientInfo* client = MakeClient(nullptr, 0);
  ASSERT_TRUE(client);
  FILETIME creation, exit_time, kernel, user;
  ASSERT_TRUE(GetProcessTimes(GetCurrentProcess(), &creation, &exit_time,
                              &kernel, &user));
  EXPECT_EQ(creation.dwLowDateTime, client->crash_id());
  EXPECT_EQ(creation.dwHighDateTime, client->start_time() >> 32);
}

// The client's texts may run to the end of their fields: the copy always
// ends within them, and the uptime follows the client's own entries.
TEST_F(ClientInfoTest, CopiedKeysAreTerminated) {
  CustomInfoEntry entries[2];
  wmemset(entries[0].name, L'n', CustomInfoEntry::kNameMaxLength);
  wmemset(entries[0].value, L'v', CustomInfoEntry::kValueMaxLength);
  wcscpy(entries[1].name, L"channel");
  wcscpy(entries[1].value, L"beta");
  ClientInfo* client = MakeClient(entries, 2);
  ASSERT_TRUE(client);
  ASSERT_TRUE(client->PopulateCustomInfo());
  CustomClientInfo copy = client->GetCustomInfo();
  ASSERT_EQ(3u, copy.count);
  EXPECT_EQ(std::wstring(63, L'n'), copy.entries[0].name);
  EXPECT_EQ(std::wstring(63, L'v'), copy.entries[0].value);
  EXPECT_EQ(std::wstring(L"channel"), copy.entries[1].name);
  EXPECT_EQ(std::wstring(L"beta"), copy.entries[1].value);
  EXPECT_EQ(std::wstring(L"ptime"), copy.entries[2].name);
  // Entries declared where the client has no memory: nothing half-read.
  ClientInfo* unreadable =
      MakeClient(reinterpret_cast<const CustomInfoEntry*>(0x10), 2);
  ASSERT_TRUE(unreadable);
  EXPECT_FALSE(unreadable->PopulateCustomInfo());
  CustomClientInfo empty = unreadable->GetCustomInfo();
  ASSERT_EQ(3u, empty.count);
  EXPECT_EQ(L'\0', empty.entries[0].name[0]);
  EXPECT_EQ(L'\0', empty.entries[1].name[0]);
}

TEST_F(ClientInfoTest, TooManyKeysAreNotCopied) {
  ClientInfo* client =
      MakeClient(nullptr, ClientInfo::kMaxCustomInfoEntries + 1);
  ASSERT_TRUE(client);
  EXPECT_FALSE(client->PopulateCustomInfo());
  EXPECT_EQ(0u, client->GetCustomInfo().count);
  EXPECT_FALSE(client->GetCustomInfo().entries);
}

}  // namespace
}  // namespace crash_reporter
