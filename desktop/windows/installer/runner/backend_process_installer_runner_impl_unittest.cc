#include "desktop/windows/installer/runner/backend_process_installer_runner_impl.h"

#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/location.h"
#include "base/macros.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/pickle.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/run_loop.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/time/time.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/ipc/installer_messages.h"
#include "desktop/windows/installer/ipc/ipc_receiver.h"
#include "desktop/windows/installer/service/service_utils.h"
#include <gtest/gtest.h>

namespace installer {
namespace {

// Process start-up under Wine is slow on a loaded machine.
const base::TimeDelta kProcessBound = base::TimeDelta::FromSeconds(20);

TEST(ParseInitialProcessHandleTest, AcceptsFourOrEightBytes) {
  const struct {
    const char* text;
    bool ok;
    intptr_t value;
  } kCases[] = {
      {"A401000000000000", true, 0x1A4},
      {"A4010000", true, 0x1A4},
      {"a4010000", true, 0x1A4},
      // Four bytes come from a 32-bit front end: sign-extended.
      {"FEFFFFFF", true, -2},
      {"0100000000000080", true, static_cast<intptr_t>(0x8000000000000001)},
      {"A401", false, 0},
      {"A401000000000000FF", false, 0},
      {"", false, 0},
      {"A4010000000000ZZ", false, 0},
      {"0xA40100", false, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    HANDLE handle = nullptr;
    EXPECT_EQ(c.ok, ParseInitialProcessHandle(c.text, &handle));
    if (c.ok) {
      EXPECT_EQ(c.value, reinterpret_cast<intptr_t>(handle));
    }
  }
}

base::FilePath BinFile(const wchar_t* name) {
  base::FilePath bin;
  EXPECT_TRUE(base::PathService::Get(base::DIR_EXE, &bin));
  return bin.Append(name);
}

// A child of the test that is ended when the test leaves its scope, so that
// a failed assertion leaves no process behind.
struct ScopedChild {
  ~ScopedChild() {
    if (process.IsValid())
      process.Terminate(1, true);
  }
  base::Process process;
};

base::Process LaunchSleeper() {
  return base::LaunchProcess(
      base::CommandLine({BinFile(L"kavor_test_child.exe").value(), L"sleep"}),
      base::LaunchOptions());
}

base::Process LaunchBackend(
    const std::vector<std::pair<std::string, std::string>>& switches,
    const base::HandlesToInheritVector& handles,
    const base::FilePath& install_folder = base::FilePath()) {
  base::CommandLine command_line(BinFile(L"kavor_setup.exe"));
  command_line.AppendSwitch("backend");
  if (!install_folder.empty())
    command_line.AppendSwitchPath("installfolder", install_folder);
  for (const auto& item : switches) {
    if (item.second.empty())
      command_line.AppendSwitch(item.first);
    else
      command_line.AppendSwitchASCII(item.first, item.second);
  }
  base::LaunchOptions options;
  options.start_hidden = true;
  options.handles_to_inherit = handles;
  return base::LaunchProcess(command_line, options);
}

// A running backend that was told to stop, or whose front end ended, is
// gone well within this, rollback included, even on a loaded machine; one
// that ignores it is named long before the old fixed waits ran out.
const base::TimeDelta kStopBound = base::TimeDelta::FromSeconds(15);

int ExitCodeOf(const base::Process& process,
               base::TimeDelta bound = kProcessBound) {
  int exit_code = -1;
  if (!process.WaitForExitWithTimeout(bound, &exit_code)) {
    ADD_FAILURE() << "the backend did not end in time";
    process.Terminate(1, true);
  }
  return exit_code;
}

TEST(BackendProcessRunnerTest, StartUpFailuresExitWithTheirCodes) {
  ScopedChild child{LaunchSleeper()};
  ASSERT_TRUE(child.process.IsValid());
  const std::string child_pid = base::UintToString(child.process.Pid());
  const struct {
    std::vector<std::pair<std::string, std::string>> switches;
    int exit_code;
  } kCases[] = {
      // The handle, unparsable, wins over a usable process id.
      {{{"initial-proc-handle", "A401"}, {"initial-pid", child_pid}}, 124},
      {{{"initial-pid", "-4"}}, 123},
      {{{"initial-pid", "4294967292"}}, 117},
      {{}, 121},
      // Watches nothing; gets as far as the installer, which finds no
      // front end's event to open.
      {{{"register-kavor-as-protocol-handler", "1"}}, 101},
  };
  for (size_t i = 0; i < arraysize(kCases); ++i) {
    SCOPED_TRACE(i);
    ScopedChild backend{LaunchBackend(kCases[i].switches, {})};
    ASSERT_TRUE(backend.process.IsValid());
    EXPECT_EQ(kCases[i].exit_code, ExitCodeOf(backend.process));
  }
}

// Plays the front end of one run: the mailslot, the two events and a
// stand-in process the backend watches.
class BackendFrontEndTest : public testing::Test, public IpcReceiver::Delegate {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.CreateUniqueTempDir());
    // Made by the backend itself: what it leaves shows what it undid.
    install_folder_ = folder_.GetPath().Append(L"Kavor");
    for (const wchar_t* name : {L"KavorInstaller/InstallationInterrupted",
                                L"KavorInstaller/PackageReady"}) {
      base::string16 kernel_name =
          MakeKernelObjectName(name, install_folder_, true);
      events_.emplace_back(
          ::CreateEventW(nullptr, TRUE, FALSE, kernel_name.c_str()));
      ASSERT_TRUE(events_.back().IsValid()) << kernel_name;
    }
    receiver_ = std::make_unique<IpcReceiver>(this);
    ASSERT_TRUE(
        receiver_->Connect(L"kavor_installer\\" + install_folder_.value()));
  }

  void TearDown() override {
    if (receiver_)
      receiver_->Close();
  }

  // IpcReceiver::Delegate:
  void OnMessageReceived(const base::Pickle& message) override {
    base::PickleIterator iterator(message);
    std::string signature;
    int type = -1;
    if (iterator.ReadString(&signature) && iterator.ReadInt(&type))
      types_.push_back(type);
  }

  // Pumps the loop until |count| messages came, or for a bounded time.
  bool WaitForMessages(size_t count) {
    base::TimeTicks deadline = base::TimeTicks::Now() + kProcessBound;
    while (types_.size() < count && base::TimeTicks::Now() < deadline)
      Pump(base::TimeDelta::FromMilliseconds(50));
    return types_.size() >= count;
  }

  void Pump(base::TimeDelta time) {
    base::RunLoop run_loop;
    base::ThreadTaskRunnerHandle::Get()->PostDelayedTask(
        FROM_HERE, run_loop.QuitClosure(), time);
    run_loop.Run();
  }

  base::MessageLoopForIO loop_;
  base::ScopedTempDir folder_;
  base::FilePath install_folder_;
  std::vector<base::win::ScopedHandle> events_;
  std::unique_ptr<IpcReceiver> receiver_;
  std::vector<int> types_;
};

// The front end ends (watched by pid or by either form of the inherited
// handle), or interrupts the run, even before it began: the backend leaves
// with "not finished" and sends nothing more.
TEST_F(BackendFrontEndTest, StoppedRunEndsWithoutFurtherMessages) {
  enum Form { kPid, kHandle8Bytes, kHandle4Bytes, kInterrupted, kEarly };
  for (Form form : {kPid, kHandle8Bytes, kHandle4Bytes, kInterrupted, kEarly}) {
    SCOPED_TRACE(form);
    types_.clear();
    ScopedChild front_end{LaunchSleeper()};
    ASSERT_TRUE(front_end.process.IsValid());
    std::vector<std::pair<std::string, std::string>> switches = {
        {"wait-for-package", ""}};
    base::HandlesToInheritVector handles;
    if (form != kHandle8Bytes && form != kHandle4Bytes) {
      switches.push_back(
          {"initial-pid", base::UintToString(front_end.process.Pid())});
    } else {
      HANDLE value = front_end.process.Handle();
      switches.push_back(
          {"initial-proc-handle",
           base::HexEncode(&value, form == kHandle8Bytes ? 8 : 4)});
      handles.push_back(value);
    }
    if (form == kEarly) {
      ASSERT_TRUE(::SetEvent(events_[0].Get()));
    }
    ScopedChild backend{LaunchBackend(switches, handles, install_folder_)};
    ASSERT_TRUE(backend.process.IsValid());

    const size_t sent = form == kEarly ? 0 : 1;
    if (sent) {
      bool ready = WaitForMessages(1);
      EXPECT_TRUE(ready) << "no install-folder-ready message";
      if (ready) {
        EXPECT_EQ(IPC_MESSAGE_INSTALL_FOLDER_READY, types_[0]);
      }
    }
    if (form == kInterrupted) {
      ASSERT_TRUE(::SetEvent(events_[0].Get()));
    } else if (form != kEarly) {
      ASSERT_TRUE(front_end.process.Terminate(1, true));
    }
    // 20 "not finished yet" + 100. A backend that missed the stop would
    // wait for the package for ever: no point in trying the other forms.
    // One stopped before it began may still be starting up.
    ASSERT_EQ(120, ExitCodeOf(backend.process,
                              form == kEarly ? kProcessBound : kStopBound));
    // The folder the run made went with the cancel; kept, it would have
    // been committed.
    EXPECT_FALSE(base::PathExists(install_folder_)) << "the run's work stayed";
    ::ResetEvent(events_[0].Get());
    Pump(base::TimeDelta::FromMilliseconds(300));
    EXPECT_EQ(sent, types_.size()) << "messages after the run was stopped";
  }
}

// The package is ready before the backend starts, but its folder holds no
// package: the run unpacks at once, fails, and takes back what it made.
TEST_F(BackendFrontEndTest, MissingPackageEndsWithAnErrorAndNoTrace) {
  ScopedChild front_end{LaunchSleeper()};
  ASSERT_TRUE(front_end.process.IsValid());
  ASSERT_TRUE(::SetEvent(events_[1].Get()));
  base::ScopedTempDir package;
  ASSERT_TRUE(package.CreateUniqueTempDir());
  ScopedChild backend{LaunchBackend(
      {{"wait-for-package", ""},
       {"package-dir", base::UTF16ToUTF8(package.GetPath().value())},
       {"initial-pid", base::UintToString(front_end.process.Pid())}},
      {}, install_folder_)};
  ASSERT_TRUE(backend.process.IsValid());
  EXPECT_EQ(101, ExitCodeOf(backend.process));
  const std::vector<int> kExpected = {
      IPC_MESSAGE_INSTALL_FOLDER_READY,
      IPC_MESSAGE_ENTERING_PHASE,
      IPC_MESSAGE_ERROR,
  };
  WaitForMessages(kExpected.size());
  EXPECT_EQ(kExpected, types_);
  base::FileEnumerator left(
      folder_.GetPath(), false,
      base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES);
  EXPECT_EQ(base::FilePath(), left.Next()) << "the run left this behind";
}

}  // namespace
}  // namespace installer
