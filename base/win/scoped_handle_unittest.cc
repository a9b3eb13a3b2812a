#include "base/win/scoped_handle.h"

#include <windows.h>

#include <utility>

#include "base/test/handle_verifier_export.h"
#include "base/win/scoped_handle_verifier.h"
#include "gtest/gtest.h"

namespace base {
namespace win {
namespace {

using internal::ChooseVerifier;
using internal::ScopedHandleVerifier;
using internal::VerifierChoice;

// A fresh kernel object owned by nobody yet.
HANDLE NewEvent() {
  HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_NE(nullptr, event);
  return event;
}

// Whether |handle| still names an open kernel object of this process.
bool IsOpen(HANDLE handle) {
  DWORD flags = 0;
  return ::GetHandleInformation(handle, &flags) != FALSE;
}

// A handle value that no kernel object of this process has.
HANDLE BogusHandle() {
  return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7ff0));
}

// The test executable exports the library's own GetHandleVerifier, so every
// handle in these tests is verified.
class ScopedHandleTest : public testing::Test {
 protected:
  void SetUp() override { test::EnableHandleVerifierExport(); }
};

using ScopedHandleDeathTest = ScopedHandleTest;

TEST_F(ScopedHandleTest, HostExportingOwnFunctionGetsEnabledVerifier) {
  FARPROC host_export =
      ::GetProcAddress(::GetModuleHandleW(nullptr), "GetHandleVerifier");
  ASSERT_NE(nullptr, host_export);
  EXPECT_EQ(reinterpret_cast<FARPROC>(&::GetHandleVerifier), host_export);

  ActiveVerifier* active = internal::GetActiveVerifier();
  EXPECT_EQ(active, ::GetHandleVerifier());
  EXPECT_EQ(active, internal::GetActiveVerifier());
  EXPECT_EQ(::GetModuleHandleW(nullptr), active->GetModule());
  EXPECT_TRUE(static_cast<ScopedHandleVerifier*>(active)->enabled());
}

TEST_F(ScopedHandleTest, VerifierChoiceFollowsHostExport) {
  FARPROC own = reinterpret_cast<FARPROC>(&::GetHandleVerifier);
  FARPROC other = reinterpret_cast<FARPROC>(&::GetTickCount);
  EXPECT_EQ(VerifierChoice::kLocalDisabled, ChooseVerifier(nullptr, own));
  EXPECT_EQ(VerifierChoice::kLocalEnabled, ChooseVerifier(own, own));
  EXPECT_EQ(VerifierChoice::kAdoptHost, ChooseVerifier(other, own));
}

TEST_F(ScopedHandleTest, EmptyAndInvalidHandles) {
  ScopedHandle empty;
  EXPECT_FALSE(empty.IsValid());
  EXPECT_EQ(nullptr, empty.Get());

  ScopedHandle invalid(INVALID_HANDLE_VALUE);
  EXPECT_FALSE(invalid.IsValid());
  EXPECT_EQ(nullptr, invalid.Get());
  invalid.Close();  // Nothing to close, nothing tracked.
  EXPECT_EQ(nullptr, invalid.Take());
}

TEST_F(ScopedHandleTest, MoveKeepsHandleTrackedUnderNewOwner) {
  HANDLE raw = NewEvent();
  ScopedHandle first(raw);
  ScopedHandle second(std::move(first));
  EXPECT_FALSE(first.IsValid());
  EXPECT_EQ(raw, second.Get());

  // Move assignment closes what the target held before.
  HANDLE replaced = NewEvent();
  ScopedHandle third(replaced);
  third = std::move(second);
  EXPECT_FALSE(second.IsValid());
  EXPECT_EQ(raw, third.Get());
  EXPECT_TRUE(IsOpen(raw));
  EXPECT_FALSE(IsOpen(replaced));

  // Only the current owner may close it: closing through it works.
  third.Close();
  EXPECT_FALSE(third.IsValid());
  EXPECT_FALSE(IsOpen(raw));
}

TEST_F(ScopedHandleTest, TakeReturnsHandleUntracked) {
  HANDLE raw = NewEvent();
  ScopedHandle owner(raw);
  EXPECT_EQ(raw, owner.Take());
  EXPECT_FALSE(owner.IsValid());
  EXPECT_TRUE(IsOpen(raw));

  // Untracked now: a direct close is not reported, and another owner may
  // take it up without being taken for a second owner.
  internal::GetActiveVerifier()->OnHandleBeingClosed(raw);
  {
    ScopedHandle next_owner(raw);
    EXPECT_EQ(raw, next_owner.Get());
  }
  EXPECT_FALSE(IsOpen(raw));

  HANDLE direct = NewEvent();
  ScopedHandle(direct).Take();
  internal::GetActiveVerifier()->OnHandleBeingClosed(direct);
  EXPECT_TRUE(::CloseHandle(direct));
}

TEST_F(ScopedHandleTest, SetReplacesAndClosesHeldHandle) {
  HANDLE first = NewEvent();
  HANDLE second = NewEvent();
  ScopedHandle owner(first);
  owner.Set(first);  // The held handle again changes nothing.
  EXPECT_TRUE(IsOpen(first));
  owner.Set(second);
  EXPECT_FALSE(IsOpen(first));
  EXPECT_EQ(second, owner.Get());

  owner.Set(INVALID_HANDLE_VALUE);
  EXPECT_FALSE(owner.IsValid());
  EXPECT_FALSE(IsOpen(second));
}

TEST_F(ScopedHandleTest, LastErrorSurvivesSet) {
  HANDLE first = NewEvent();
  HANDLE second = NewEvent();
  ScopedHandle owner;

  // Taking a handle, swapping it for another (which closes the first) and
  // dropping it all leave the caller's error alone.
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  owner.Set(first);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ::GetLastError());
  ::SetLastError(ERROR_ACCESS_DENIED);
  owner.Set(second);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ::GetLastError());
  ::SetLastError(ERROR_SHARING_VIOLATION);
  owner.Set(nullptr);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), ::GetLastError());
  EXPECT_FALSE(IsOpen(second));

  // The constructor is a Set: storing the result of a failed call keeps its
  // error for the caller to read.
  ScopedHandle failed(::CreateFileW(L"Z:\\no such folder\\no such file",
                                    GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                    nullptr));
  EXPECT_FALSE(failed.IsValid());
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), ::GetLastError());
}

TEST_F(ScopedHandleTest, DisabledVerifierTracksNothing) {
  // What a host without the export gets: misuse goes unnoticed and only a
  // failed close stops the process.
  ScopedHandleVerifier* verifier = new ScopedHandleVerifier(false);
  HANDLE raw = NewEvent();
  int owner_a = 0;
  int owner_b = 0;
  verifier->StartTracking(raw, &owner_a, nullptr, nullptr);
  verifier->StartTracking(raw, &owner_b, nullptr, nullptr);
  verifier->StopTracking(raw, &owner_b, nullptr, nullptr);
  verifier->StopTracking(raw, &owner_b, nullptr, nullptr);
  verifier->OnHandleBeingClosed(raw);
  EXPECT_TRUE(verifier->CloseHandle(raw));
  EXPECT_FALSE(IsOpen(raw));
  // Never deleted, as in production.
}

TEST_F(ScopedHandleTest, DisableEndsVerification) {
  ScopedHandleVerifier* verifier = new ScopedHandleVerifier(true);
  HANDLE raw = NewEvent();
  int owner = 0;
  int other = 0;
  verifier->StartTracking(raw, &owner, nullptr, nullptr);
  verifier->Disable();
  EXPECT_FALSE(verifier->enabled());
  verifier->StartTracking(raw, &other, nullptr, nullptr);
  verifier->StopTracking(raw, &other, nullptr, nullptr);
  EXPECT_TRUE(verifier->CloseHandle(raw));
}

TEST_F(ScopedHandleTest, EnabledVerifierAcceptsOrderlyUse) {
  ScopedHandleVerifier* verifier = new ScopedHandleVerifier(true);
  int owner = 0;
  // More handles than the initial buckets, so the map grows while tracking.
  HANDLE handles[40];
  for (HANDLE& handle : handles) {
    handle = NewEvent();
    verifier->StartTracking(handle, &owner, nullptr, nullptr);
  }
  for (HANDLE handle : handles) {
    verifier->StopTracking(handle, &owner, nullptr, nullptr);
    verifier->OnHandleBeingClosed(handle);  // Untracked now.
    EXPECT_TRUE(verifier->CloseHandle(handle));
    EXPECT_FALSE(IsOpen(handle));
  }
}

TEST_F(ScopedHandleTest, ProtectedProcessHandleIsTheToleratedFailure) {
  HANDLE process = nullptr;
  ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(),
                                ::GetCurrentProcess(), &process, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
  ASSERT_TRUE(::SetHandleInformation(process, HANDLE_FLAG_PROTECT_FROM_CLOSE,
                                     HANDLE_FLAG_PROTECT_FROM_CLOSE));

  EXPECT_FALSE(internal::CloseHandleWrapper(process));
  EXPECT_FALSE((new ScopedHandleVerifier(false))->CloseHandle(process));
  // An enabled verifier reports every close it survives as done.
  EXPECT_TRUE((new ScopedHandleVerifier(true))->CloseHandle(process));
  EXPECT_TRUE(IsOpen(process));

  ASSERT_TRUE(
      ::SetHandleInformation(process, HANDLE_FLAG_PROTECT_FROM_CLOSE, 0));
  EXPECT_TRUE(internal::CloseHandleWrapper(process));
}

TEST_F(ScopedHandleDeathTest, SecondOwnerStopsProcess) {
  HANDLE raw = NewEvent();
  ScopedHandle first(raw);
  EXPECT_DEATH({ ScopedHandle second(raw); }, "");

  ScopedHandleVerifier* verifier = new ScopedHandleVerifier(true);
  int owner = 0;
  verifier->StartTracking(raw, &owner, nullptr, nullptr);
  EXPECT_DEATH(verifier->StartTracking(raw, &owner, nullptr, nullptr), "");
}

TEST_F(ScopedHandleDeathTest, CloseByNonOwnerStopsProcess) {
  HANDLE raw = NewEvent();
  ScopedHandle owner(raw);
  ScopedHandle not_owner;
  EXPECT_DEATH(VerifierTraits::StopTracking(raw, &not_owner, nullptr, nullptr),
               "");

  // A moved-from object is no owner any more.
  ScopedHandle new_owner(std::move(owner));
  EXPECT_DEATH(VerifierTraits::StopTracking(raw, &owner, nullptr, nullptr), "");

  // Nor is anybody the owner of a handle nobody tracks.
  HANDLE untracked = NewEvent();
  int someone = 0;
  EXPECT_DEATH(
      VerifierTraits::StopTracking(untracked, &someone, nullptr, nullptr), "");
  ::CloseHandle(untracked);
}

TEST_F(ScopedHandleDeathTest, DirectCloseOfTrackedHandleStopsProcess) {
  HANDLE raw = NewEvent();
  ScopedHandle owner(raw);
  // A close through the verifier on this thread ends its "closing" state:
  // it does not hide a later direct close.
  ScopedHandle(NewEvent()).Close();
  EXPECT_DEATH(internal::GetActiveVerifier()->OnHandleBeingClosed(raw), "");
}

TEST_F(ScopedHandleDeathTest, FailedCloseOfBogusHandleStopsProcess) {
  ASSERT_FALSE(IsOpen(BogusHandle()));
  EXPECT_DEATH(HandleTraits::CloseHandle(BogusHandle()), "");
  EXPECT_DEATH({ ScopedHandle bogus(BogusHandle()); }, "");
  // Even with verification off, a failed close is fatal.
  EXPECT_DEATH((new ScopedHandleVerifier(false))->CloseHandle(BogusHandle()),
               "");
}

}  // namespace
}  // namespace win
}  // namespace base
