#include "desktop/windows/installer/runner/main_process_installer_runner_impl.h"

#include <windows.h>
#include <tlhelp32.h>

#include <functional>
#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/scoped_temp_dir.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/run_loop.h"
#include "base/win/scoped_handle.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/bounded_wait.h"
#include "base/test/test_thread.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/installer_observer.h"
#include "desktop/windows/installer/runner/installer_progress_notifier.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/test/fake_settings.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::FilePath;
using test::FakeSettings;

// Writes every installer and progress event, in arrival order, as text.
class RecordingObserver : public InstallerObserver,
                          public InstallerProgressObserver {
 public:
  std::vector<std::string> events;
  // Runs after the event of that name was recorded.
  std::function<void()> on_folder_ready;
  std::function<void()> on_terminated;

  void OnInstallFolderReady() override {
    events.push_back("folder-ready");
    if (on_folder_ready)
      on_folder_ready();
  }
  void OnStartingNewMainProcess(bool elevated) override {
    events.push_back("starting-new(" + std::to_string(elevated) + ")");
  }
  void OnEnteringPhase(int) override { events.push_back("observer-phase"); }
  void OnReturnedToPreviousMainProcess() override {
    events.push_back("returned");
  }
  // Both interfaces have it; only the notifier's should be called.
  void OnTotalSteps(int total) override {
    events.push_back("total(" + std::to_string(total) + ")");
  }
  void OnStepStarting(const std::string& name) override {
    events.push_back("step-starting(" + name + ")");
  }
  void OnStepFinished(const std::string& name,
                      int attempt,
                      int count) override {
    events.push_back("step-finished(" + name + "," + std::to_string(attempt) +
                     "," + std::to_string(count) + ")");
  }
  void OnImportantEvent(const std::string& name) override {
    events.push_back("important(" + name + ")");
  }
  void OnError(int code,
               const base::string16& path,
               const std::string& message) override {
    // The text is the backend's business; the relay carries the code.
    events.push_back("error(" + std::to_string(code) + ")");
  }
  void OnSuccess() override { events.push_back("success"); }
  void OnInstallationCancelled() override { events.push_back("cancelled"); }
  void OnBackendProcessTerminated(int result) override {
    events.push_back("terminated(" + std::to_string(result) + ")");
    if (on_terminated)
      on_terminated();
  }
  // InstallerProgressObserver:
  void OnPhaseEntered(int phase) override {
    events.push_back("phase(" + std::to_string(phase) + ")");
  }
  void OnStepFinished(int count) override {
    events.push_back("progress(" + std::to_string(count) + ")");
  }
};

// Ends this process's children of that file name; returns how many.
int TerminateChildren(const wchar_t* exe_name) {
  base::win::ScopedHandle snapshot(
      ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.IsValid())
    return 0;
  PROCESSENTRY32W entry = {sizeof(entry)};
  int count = 0;
  for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
       more = ::Process32NextW(snapshot.Get(), &entry)) {
    if (entry.th32ParentProcessID != ::GetCurrentProcessId() ||
        _wcsicmp(entry.szExeFile, exe_name) != 0) {
      continue;
    }
    base::win::ScopedHandle child(
        ::OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID));
    if (child.IsValid() && ::TerminateProcess(child.Get(), 1))
      ++count;
  }
  return count;
}

// The runner in this process starts the real host as its backend, which
// finds no package in these runs and ends with an error.
class MainProcessInstallerRunnerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    settings_.folder = temp_.GetPath().Append(L"Kavor");
    ASSERT_TRUE(base::PathService::Get(base::FILE_EXE, &own_program_));
    ASSERT_TRUE(base::PathService::OverrideAndCreateIfNeeded(
        base::FILE_EXE, own_program_.DirName().Append(L"kavor_setup.exe"), true,
        false));
    notifier_.AddObserver(&observer_);
    runner_.AddObserver(&observer_);
    observer_.on_terminated = [this] { run_loop_.Quit(); };
  }

  void TearDown() override {
    ASSERT_TRUE(base::PathService::OverrideAndCreateIfNeeded(
        base::FILE_EXE, own_program_, true, false));
  }

  // Runs the loop until the backend has ended.
  testing::AssertionResult RunUntilBackendEnds() {
    return base::RunWithin(&run_loop_, "the backend's end",
                           base::TimeDelta::FromSeconds(30));
  }

  // The backend's events end with one error whose code is also its exit
  // result.
  void ExpectEndsWithError() const {
    const std::vector<std::string>& events = observer_.events;
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ("folder-ready", events.front());
    const std::string& error = events[events.size() - 2];
    ASSERT_EQ(0u, error.find("error("));
    EXPECT_EQ("terminated(" + error.substr(6), events.back());
  }

  base::MessageLoop message_loop_;
  base::RunLoop run_loop_;
  ScopedInstallerErrorRecord error_record_;
  base::ScopedTempDir temp_;
  FilePath own_program_;
  FakeSettings settings_;
  RecordingObserver observer_;
  InstallerProgressNotifier notifier_;
  MainProcessInstallerRunnerImpl runner_{&notifier_};
};

TEST_F(MainProcessInstallerRunnerTest, PackageReadyBeforeStartRunsThrough) {
  // Without --wait-for-package the backend goes on by itself; were it told
  // to wait, nothing here would release it.
  runner_.OnPackageReady();
  ASSERT_EQ(0, runner_.Start(&settings_));
  EXPECT_FALSE(settings_.editable);
  ASSERT_TRUE(RunUntilBackendEnds());
  ExpectEndsWithError();
}

TEST_F(MainProcessInstallerRunnerTest, PackageReadyAfterStartReleasesBackend) {
  observer_.on_folder_ready = [this] {
    runner_.OnPackageReady();
    runner_.OnPackageReady();  // Changes nothing.
  };
  ASSERT_EQ(0, runner_.Start(&settings_));
  ASSERT_TRUE(RunUntilBackendEnds());
  ExpectEndsWithError();
}

TEST_F(MainProcessInstallerRunnerTest, StopInterruptsTheBackend) {
  // The backend waits for the package; only the interruption ends it, with
  // nothing more sent and its result still "not finished".
  observer_.on_folder_ready = [this] { runner_.Stop(); };
  ASSERT_EQ(0, runner_.Start(&settings_));
  ASSERT_TRUE(RunUntilBackendEnds());
  EXPECT_EQ((std::vector<std::string>{"folder-ready", "terminated(20)"}),
            observer_.events);
}

// Any local process may write into the mailslot: an end marker without
// this runner's token must not report the backend's end ahead of its last
// messages. Stopped, the runner reports the end itself, once.
TEST_F(MainProcessInstallerRunnerTest,
       StopAfterTheEndReportsItBehindTheMessages) {
  base::RunLoop folder_ready;
  observer_.on_folder_ready = [&] { folder_ready.Quit(); };
  ASSERT_EQ(0, runner_.Start(&settings_));
  ASSERT_TRUE(base::RunWithin(&folder_ready, "the folder-ready message"));
  // As the watcher would: the end marker is now on its way, and the
  // receiver is closed before it can come back.
  runner_.OnObjectSignaled(nullptr);
  for (uint64_t token : {uint64_t{0}, ~uint64_t{0}}) {
    base::Pickle forged;
    forged.WriteString(":Installer backend ended:");
    forged.WriteUInt64(token);
    runner_.OnMessageReceived(forged);
  }
  EXPECT_EQ(std::vector<std::string>{"folder-ready"}, observer_.events)
      << "a forged end marker was taken for the runner's own";
  runner_.Stop();
  base::RunLoop idle;
  idle.QuitWhenIdle();
  idle.Run();
  // The backend still ran when it was "signaled": its exit code was unknown.
  EXPECT_EQ((std::vector<std::string>{"folder-ready", "terminated(15)"}),
            observer_.events);
  // The interrupted backend's real end, before its folder goes.
  base::RunLoop ended;
  observer_.on_terminated = [&] { ended.Quit(); };
  EXPECT_TRUE(base::RunWithin(&ended, "the backend's end"));
}

TEST_F(MainProcessInstallerRunnerTest, SecondFrontEndOnTheFolderIsRefused) {
  observer_.on_folder_ready = [this] {
    // The mutex is re-entrant for the thread that holds it: the second
    // front end runs on a thread of its own.
    base::RunOnThreadAndJoin([this] {
      base::MessageLoop message_loop;
      ScopedInstallerErrorRecord record;
      FakeSettings settings;
      settings.folder = settings_.folder;
      InstallerProgressNotifier notifier;
      MainProcessInstallerRunnerImpl second(&notifier);
      EXPECT_EQ(RESULT_MUTEX_BUSY, second.Start(&settings));
      std::string message;
      GetLastInstallerError(nullptr, &message, nullptr);
      EXPECT_EQ("Could not acquire installer mutex", message);
    });
    runner_.Stop();
  };
  ASSERT_EQ(0, runner_.Start(&settings_));
  ASSERT_TRUE(RunUntilBackendEnds());
}

// Settings whose folder was found unusable.
class InvalidSettings : public FakeSettings {
 public:
  FolderProblem GetFolderProblem() const override {
    return FOLDER_PROBLEM_INVALID_PATH;
  }
};

// Each failure of Start leaves its code and text in the last-error record,
// and the runner lets go of the mutex the attempt took.
TEST_F(MainProcessInstallerRunnerTest, StartFailuresAreRecorded) {
  struct {
    // An object of another kind under this name makes its creation fail.
    const wchar_t* squatted_name;
    bool invalid_settings;
    int code;
    const char* message;
  } cases[] = {
      {nullptr, true, RESULT_INVALID_LOCATION,
       "Attempting to start installation with invalid settings\n"
       "The path is invalid\nThe settings are not valid"},
      {L"Kavor/Installer", false, RESULT_MUTEX_CREATION_FAILED,
       "Could not create installer mutex"},
      {L"KavorInstaller/InstallationInterrupted", false, RESULT_GENERAL_ERROR,
       "Could not create installation interruption event"},
      {L"KavorInstaller/PackageReady", false, RESULT_GENERAL_ERROR,
       "Package ready event invalid\nCannot create the package ready event"},
      // Last: the program stays missing.
      {nullptr, false, RESULT_GENERAL_ERROR,
       "Could not launch installer backend process"},
  };
  int serial = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    InvalidSettings invalid;
    FakeSettings valid;
    FakeSettings* settings = c.invalid_settings ? &invalid : &valid;
    settings->folder = temp_.GetPath().Append(L"F" + std::to_wstring(++serial));
    const base::string16 mutex_name =
        MakeKernelObjectName(L"Kavor/Installer", settings->folder, true);
    base::win::ScopedHandle squatter;
    if (c.squatted_name) {
      const base::string16 name =
          MakeKernelObjectName(c.squatted_name, settings->folder, true);
      squatter.Set(name == mutex_name
                       ? ::CreateEventW(nullptr, TRUE, FALSE, name.c_str())
                       : ::CreateMutexW(nullptr, FALSE, name.c_str()));
      ASSERT_TRUE(squatter.IsValid());
    } else if (!c.invalid_settings) {
      ASSERT_TRUE(base::PathService::OverrideAndCreateIfNeeded(
          base::FILE_EXE, temp_.GetPath().Append(L"missing.exe"), true, false));
    }
    // Keeps the mutex alive past the runner's handle: closing the last
    // handle would free even a mutex never released.
    base::win::ScopedHandle witness;
    {
      InstallerProgressNotifier notifier;
      MainProcessInstallerRunnerImpl runner(&notifier);
      EXPECT_EQ(c.code, runner.Start(settings));
      witness.Set(::CreateMutexW(nullptr, FALSE, mutex_name.c_str()));
      InstallerResult code;
      std::string message;
      std::wstring path;
      GetLastInstallerError(&code, &message, &path);
      EXPECT_EQ(c.code, code);
      EXPECT_EQ(c.message, message);
      EXPECT_TRUE(path.empty());
      // Invalid settings are not locked.
      EXPECT_EQ(c.invalid_settings, settings->IsEditable());
    }
    squatter.Close();
    // Another thread: the holder's own thread could always take it again.
    base::RunOnThreadAndJoin([&] {
      base::win::ScopedHandle mutex(
          ::CreateMutexW(nullptr, FALSE, mutex_name.c_str()));
      EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(mutex.Get(), 0));
      ::ReleaseMutex(mutex.Get());
    });
  }
}

// Settings still waiting for their folder's examination.
class PendingSettings : public FakeSettings {
 public:
  bool IsFetchingFolderDetails() const override { return true; }
};

// Whether another installer could take the folder's mutex now.
bool MutexIsFree(const FilePath& folder) {
  const base::string16 name =
      MakeKernelObjectName(L"Kavor/Installer", folder, true);
  DWORD wait = WAIT_FAILED;
  // Another thread: the holder's own thread could always take it again.
  base::RunOnThreadAndJoin([&] {
    base::win::ScopedHandle mutex(::CreateMutexW(nullptr, FALSE, name.c_str()));
    wait = ::WaitForSingleObject(mutex.Get(), 0);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
      ::ReleaseMutex(mutex.Get());
  });
  return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

// A refused start never reads as "started": it gives a code other than 0,
// says why in the last-error record and launches nothing.
TEST_F(MainProcessInstallerRunnerTest, RefusedStartsAreFailures) {
  PendingSettings pending;
  FakeSettings no_operation;
  no_operation.operation = OPERATION_NONE;
  const struct {
    const char* label;
    FakeSettings* settings;
    const char* message;
  } kCases[] = {
      {"folder examined", &pending,
       "The install folder is still being examined"},
      {"no operation", &no_operation, "The settings are not valid"},
  };
  int serial = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    c.settings->folder =
        temp_.GetPath().Append(L"R" + std::to_wstring(++serial));
    SetLastInstallerError(RESULT_SUCCESS, "");
    InstallerProgressNotifier notifier;
    MainProcessInstallerRunnerImpl runner(&notifier);
    RecordingObserver observer;
    runner.AddObserver(&observer);
    EXPECT_NE(0, runner.Start(c.settings));
    InstallerResult code = RESULT_SUCCESS;
    std::string message;
    GetLastInstallerError(&code, &message, nullptr);
    EXPECT_NE(RESULT_SUCCESS, code);
    EXPECT_NE(std::string::npos, message.find(c.message)) << message;
    EXPECT_TRUE(MutexIsFree(c.settings->folder)) << "the start went ahead";
    base::RunLoop idle;
    idle.QuitWhenIdle();
    idle.Run();
    EXPECT_TRUE(observer.events.empty()) << "a backend was started";
  }
}

// An earlier run's events live on, signalled, while a process of that run
// keeps them open; the new run's backend must neither take the old
// interruption nor the old package for its own.
TEST_F(MainProcessInstallerRunnerTest, NewRunInheritsNoSignalledEvents) {
  std::vector<base::win::ScopedHandle> old_events;
  for (const wchar_t* name : {L"KavorInstaller/InstallationInterrupted",
                              L"KavorInstaller/PackageReady"}) {
    const base::string16 kernel_name =
        MakeKernelObjectName(name, settings_.folder, true);
    old_events.emplace_back(
        ::CreateEventW(nullptr, TRUE, TRUE, kernel_name.c_str()));
    ASSERT_TRUE(old_events.back().IsValid());
  }
  // Still waiting for the package when it tells the folder is ready; only
  // then is the package released.
  observer_.on_folder_ready = [this] { runner_.OnPackageReady(); };
  ASSERT_EQ(0, runner_.Start(&settings_));
  ASSERT_TRUE(RunUntilBackendEnds());
  ExpectEndsWithError();
}

// The mutex of an installer that died without letting go is free for the
// next one; the runner then keeps it for as long as its backend runs, also
// past Stop. The backend here is a stand-in that holds nothing itself.
TEST_F(MainProcessInstallerRunnerTest, AbandonedMutexIsTakenAndKeptPastStop) {
  const base::string16 name =
      MakeKernelObjectName(L"Kavor/Installer", settings_.folder, true);
  base::win::ScopedHandle witness;
  base::RunOnThreadAndJoin(
      [&] { witness.Set(::CreateMutexW(nullptr, TRUE, name.c_str())); });
  ASSERT_TRUE(witness.IsValid());
  ASSERT_TRUE(base::PathService::OverrideAndCreateIfNeeded(
      base::FILE_EXE, own_program_.DirName().Append(L"kavor_test_child.exe"),
      true, false));
  ASSERT_EQ(0, runner_.Start(&settings_)) << "an abandoned mutex was refused";
  runner_.Stop();
  EXPECT_FALSE(MutexIsFree(settings_.folder))
      << "the folder was let go while its backend runs";
  // The stand-in waits until it is killed.
  ASSERT_EQ(1, TerminateChildren(L"kavor_test_child.exe"));
  ASSERT_TRUE(RunUntilBackendEnds());
}

// The wizard's retry after an error: a stopped runner starts no second
// backend while the first still holds the folder, and starts a new one once
// it has ended.
TEST_F(MainProcessInstallerRunnerTest, StartsAgainOnceStoppedBackendEnded) {
  ASSERT_TRUE(base::PathService::OverrideAndCreateIfNeeded(
      base::FILE_EXE, own_program_.DirName().Append(L"kavor_test_child.exe"),
      true, false));
  ASSERT_EQ(0, runner_.Start(&settings_));
  runner_.Stop();
  settings_.SetEditable(true);
  SetLastInstallerError(RESULT_SUCCESS, "");
  EXPECT_NE(0, runner_.Start(&settings_));
  std::string message;
  GetLastInstallerError(nullptr, &message, nullptr);
  EXPECT_NE(std::string::npos, message.find("still ending")) << message;

  ASSERT_EQ(1, TerminateChildren(L"kavor_test_child.exe"));
  ASSERT_TRUE(RunUntilBackendEnds());
  ASSERT_EQ(0, runner_.Start(&settings_)) << "no new run after the stop";
  EXPECT_FALSE(MutexIsFree(settings_.folder));
  base::RunLoop second_end;
  observer_.on_terminated = [&second_end] { second_end.Quit(); };
  ASSERT_EQ(1, TerminateChildren(L"kavor_test_child.exe"))
      << "the second backend was not launched";
  EXPECT_TRUE(base::RunWithin(&second_end, "the second backend's end",
                              base::TimeDelta::FromSeconds(30)));
}

}  // namespace
}  // namespace installer
