#include "desktop/windows/installer/installer_startup.h"

#include <map>
#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/environment.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/package_fetcher/payload_manager.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

base::CommandLine MakeCommandLine(const std::vector<std::string>& switches) {
  base::CommandLine command_line(base::FilePath(L"kavor_setup.exe"));
  for (const std::string& name : switches)
    command_line.AppendSwitch(name);
  return command_line;
}

TEST(InstallerStartupTest, ChooseProcessRole) {
  const struct {
    std::vector<std::string> switches;
    bool silent;
    ProcessRole role;
  } kCases[] = {
      {{"version", "help"}, false, ProcessRole::kPrintVersion},
      {{"stream", "internal-version"},
       false,
       ProcessRole::kPrintInternalVersion},
      {{"stream", "backend"}, false, ProcessRole::kPrintStream},
      {{"help", "crash-reporter-parent-id"},
       false,
       ProcessRole::kCrashReporterChild},
      {{"?", "set-folder-permission"}, false, ProcessRole::kConsoleHelp},
      {{"set-folder-permission", "backend"},
       false,
       ProcessRole::kFolderPermission},
      {{"backend"}, true, ProcessRole::kBackend},
      {{"register-kavor-as-protocol-handler"}, false, ProcessRole::kBackend},
      {{}, true, ProcessRole::kSilentFrontEnd},
      {{"runimmediately"}, false, ProcessRole::kFrontEndWithWindow},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.role, ChooseProcessRole(MakeCommandLine(c.switches), c.silent))
        << MakeCommandLine(c.switches).GetCommandLineString();
  }
}

TEST(InstallerStartupTest, MessageLoopOfTheRole) {
  EXPECT_EQ(base::MessageLoop::TYPE_DEFAULT,
            ChooseMessageLoopType(true, false));
  EXPECT_EQ(base::MessageLoop::TYPE_DEFAULT,
            ChooseMessageLoopType(false, true));
  EXPECT_EQ(base::MessageLoop::TYPE_UI, ChooseMessageLoopType(false, false));
}

class FakeEnvironment : public base::Environment {
 public:
  bool GetVar(base::StringPiece name, std::string* result) override {
    auto it = vars_.find(name.as_string());
    if (it == vars_.end())
      return false;
    *result = it->second;
    return true;
  }
  bool SetVar(base::StringPiece name, const std::string& value) override {
    vars_[name.as_string()] = value;
    return true;
  }
  bool UnSetVar(base::StringPiece name) override {
    return vars_.erase(name.as_string()) != 0;
  }

 private:
  std::map<std::string, std::string> vars_;
};

TEST(InstallerStartupTest, VerbosityFromEnvironment) {
  const struct {
    const char* variable;    // null: not set.
    const char* explicit_v;  // null: no --v.
    const char* want_v;      // null: no --v afterwards.
  } kCases[] = {
      {"3", nullptr, "3"},         {"0", nullptr, "0"},
      {"9", nullptr, "9"},         {"12", nullptr, nullptr},
      {"-1", nullptr, nullptr},    {"10", nullptr, nullptr},
      {"x", nullptr, nullptr},     {"", nullptr, nullptr},
      {nullptr, nullptr, nullptr}, {"3", "1", "1"},
  };
  for (const auto& c : kCases) {
    FakeEnvironment environment;
    if (c.variable)
      environment.SetVar(kVerbosityVariable, c.variable);
    base::CommandLine command_line(base::FilePath(L"kavor_setup.exe"));
    if (c.explicit_v)
      command_line.AppendSwitchASCII("v", c.explicit_v);
    ApplyVerbosityFromEnvironment(&environment, &command_line);
    SCOPED_TRACE(c.variable ? c.variable : "(unset)");
    EXPECT_EQ(c.want_v != nullptr, command_line.HasSwitch("v"));
    if (c.want_v) {
      EXPECT_EQ(c.want_v, command_line.GetSwitchValueASCII("v"));
    }
  }
}

TEST(InstallerStartupTest, LogFileNameHasTheTimeToTheMillisecond) {
  base::Time::Exploded march = {2018, 3, 2, 13, 15, 30, 5, 123};
  EXPECT_EQ(L"kavor_installer_20180313153005123.log", MakeLogFileName(march));
  base::Time::Exploded padded = {2026, 1, 5, 2, 3, 4, 5, 6};
  EXPECT_EQ(L"kavor_installer_20260102030405006.log", MakeLogFileName(padded));
}

TEST(InstallerStartupTest, LogFileGoesIntoTheInstallerFolder) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  base::FilePath log_file = ChooseLogFile(temp.GetPath(), L"a.log");
  EXPECT_EQ(temp.GetPath().Append(L"Kavor Installer").Append(L"a.log").value(),
            log_file.value());
  EXPECT_TRUE(base::DirectoryExists(log_file.DirName()));
}

TEST(InstallerStartupTest, LogFileFallsBackToTheBareName) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  // A file where the temporary folder should be: nothing can be made in it.
  base::FilePath not_a_folder = temp.GetPath().Append(L"file");
  ASSERT_EQ(1, base::WriteFile(not_a_folder, "x", 1));
  EXPECT_EQ(L"a.log", ChooseLogFile(not_a_folder, L"a.log").value());
}

class FakePayload : public PayloadManager {
 public:
  explicit FakePayload(uint32_t type) : type_(type) {}
  uint32_t GetPayloadType() const override { return type_; }
  std::string GetPayload() const override { return "tracking"; }
  bool WritePayloadToFile(const base::FilePath& path) const override {
    return false;
  }
  void SetPayload(const std::string& payload) override {}

 private:
  uint32_t type_;
};

TEST(InstallerStartupTest, ActOnPayload) {
  const struct {
    uint32_t type;
    InstallerArchitecture architecture;
  } kCases[] = {
      {PAYLOAD_NONE, InstallerArchitecture::X86},
      {PAYLOAD_TRACKING_DATA, InstallerArchitecture::X86},
      {PAYLOAD_EXTERNAL_TRACKING_DATA, InstallerArchitecture::X86},
      {PAYLOAD_FULL_PACKAGE, InstallerArchitecture::X64},
  };
  for (const auto& c : kCases) {
    InstallerArchitecture architecture = InstallerArchitecture::X86;
    EXPECT_EQ(RESULT_SUCCESS, ActOnPayload(FakePayload(c.type), &architecture))
        << PayloadTypeToString(c.type);
    EXPECT_EQ(c.architecture, architecture) << PayloadTypeToString(c.type);
  }
}

// Logs into a file of its own while alive and puts the process's logging
// back afterwards.
class ScopedTestLog {
 public:
  ScopedTestLog()
      : saved_(base::logging::internal::GetLoggingStateForTesting()) {
    EXPECT_TRUE(temp_.CreateUniqueTempDir());
    path_ = temp_.GetPath().Append(L"test.log");
    base::logging::LoggingSettings settings;
    settings.logging_dest = base::logging::LOG_TO_FILE;
    settings.log_file = path_.value().c_str();
    settings.delete_old = base::logging::DELETE_OLD_FILE;
    EXPECT_TRUE(base::logging::InitLogging(settings));
  }
  ~ScopedTestLog() {
    base::logging::internal::SetLoggingStateForTesting(saved_);
  }

  std::string Contents() {
    base::logging::CloseLogFile();
    std::string contents;
    EXPECT_TRUE(base::ReadFileToString(path_, &contents));
    return contents;
  }

 private:
  base::logging::internal::LoggingStateForTesting saved_;
  base::ScopedTempDir temp_;
  base::FilePath path_;
};

// In this build the browser feature "tamber-library" is on: no window, a
// FATAL line, and the run goes on to end with 118.
TEST(InstallerStartupTest, CorruptedPayloadEndsTheRunWith118) {
  ScopedTestLog log;
  InstallerArchitecture architecture = InstallerArchitecture::X86;
  InstallerResult result =
      ActOnPayload(FakePayload(PAYLOAD_CORRUPTED), &architecture);
  EXPECT_EQ(RESULT_CORRUPTED_PACKAGE, result);
  EXPECT_EQ(118, ResultToExitCode(result));
  EXPECT_NE(std::string::npos,
            log.Contents().find("FATAL:installer_startup.cc"));
  EXPECT_NE(std::string::npos, log.Contents().find("] Corrupted payload\n"));
}

TEST(InstallerStartupTest, FatalLineIsLoggedAndTheProcessGoesOn) {
  ScopedTestLog log;
  LOG(INFO) << "before";
  LogFatalAndGoOn("here.cc", 7, "Corrupted payload");
  LOG(INFO) << "after";
  std::string contents = log.Contents();
  size_t before = contents.find("before");
  size_t fatal = contents.find("FATAL:here.cc(7)] Corrupted payload\n");
  size_t after = contents.find("after");
  ASSERT_NE(std::string::npos, fatal) << contents;
  EXPECT_LT(before, fatal);
  ASSERT_NE(std::string::npos, after) << contents;
  EXPECT_LT(fatal, after);
}

TEST(InstallerStartupTest, UnsupportedSystems) {
  const struct {
    int version;
    bool sse2;
    const char* message;
  } kCases[] = {
      {base::win::WIN7, true, ""},
      {base::win::WIN10, true, ""},
      {base::win::VISTA, true,
       "This version of Kavor doesn't support windows versions prior to "
       "Windows 7"},
      {base::win::XP, false,
       "This version of Kavor doesn't support windows versions prior to "
       "Windows 7"},
      {base::win::WIN7, false, "SSE2 not supported by the computer"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.message, GetUnsupportedSystemMessage(c.version, c.sse2))
        << c.version << " " << c.sse2;
  }
}

// The running system, as Wine reports it, is one the installer accepts.
TEST(InstallerStartupTest, RunningSystemIsSupported) {
  EXPECT_EQ("", GetUnsupportedSystemMessage(base::win::GetVersion(), true));
}

std::vector<std::wstring>* g_shown = nullptr;

void RecordError(const wchar_t* text, const wchar_t* caption) {
  g_shown->push_back(text);
  g_shown->push_back(caption);
}

TEST(InstallerStartupTest, ProcessorWithoutSse2IsRefusedAtLoad) {
  std::vector<std::wstring> shown;
  g_shown = &shown;
  EXPECT_EQ(0, CheckSse2AtLoad(true, &RecordError));
  EXPECT_TRUE(shown.empty());
  EXPECT_EQ(1, CheckSse2AtLoad(false, &RecordError));
  EXPECT_EQ((std::vector<std::wstring>{
                L"This program requires a computer that supports SSE2 "
                L"instructions.",
                L"Error"}),
            shown);
  g_shown = nullptr;
}

// Runs the probe program from |folder|: the path it loaded |dll| from, or
// "" when it loaded nothing.
std::string LoadFromProbe(const base::FilePath& probe,
                          bool restrict_search,
                          const std::wstring& dll) {
  base::CommandLine command_line(probe);
  if (restrict_search)
    command_line.AppendArgNative(L"restrict");
  command_line.AppendArgNative(dll);
  std::string output;
  EXPECT_TRUE(base::GetAppOutput(command_line, &output));
  return output;
}

// An installer runs from a download folder, where anyone may have left a
// DLL under a system DLL's name; after start-up's restriction a bare-name
// load takes the system's copy.
TEST(InstallerStartupTest, PlantedDllIsNotLoadedAfterRestriction) {
  base::FilePath bin;
  ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &bin));
  base::ScopedTempDir download;
  ASSERT_TRUE(download.CreateUniqueTempDir());
  base::FilePath probe =
      download.GetPath().Append(L"kavor_dll_search_probe.exe");
  ASSERT_TRUE(base::CopyFile(bin.Append(L"kavor_dll_search_probe.exe"), probe));
  const std::wstring kName = L"wtsapi32.dll";
  base::FilePath planted = download.GetPath().Append(kName);
  ASSERT_TRUE(base::CopyFile(bin.Append(L"kavor_native_dep.dll"), planted));

  // Without the restriction the planted copy is taken: the test's premise.
  EXPECT_EQ(base::WideToUTF8(planted.value()),
            LoadFromProbe(probe, false, kName));
  std::string loaded = LoadFromProbe(probe, true, kName);
  EXPECT_NE(std::string::npos, loaded.find("system32")) << loaded;
  EXPECT_NE(base::WideToUTF8(planted.value()), loaded);
}

}  // namespace
}  // namespace installer
