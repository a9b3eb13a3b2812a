#include "desktop/windows/installer/interprocess_state_impl.h"

#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/files/scoped_temp_dir.h"
#include "base/path_service.h"
#include "desktop/windows/installer/common/tracking_data_dictionary.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

base::CommandLine MakeCommandLine(const std::vector<std::wstring>& arguments) {
  std::vector<std::wstring> argv = {L"kavor_setup.exe"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return base::CommandLine(argv);
}

std::unique_ptr<InterprocessStateImpl> MakeState(
    const base::CommandLine& command_line) {
  return std::make_unique<InterprocessStateImpl>(
      std::make_unique<TrackingDataDictionary>(), &command_line);
}

TEST(InterprocessStateTest, TrackingValuesOfTheCommandLine) {
  const struct {
    std::vector<std::wstring> arguments;
    std::vector<std::pair<std::string, std::string>> expected;
  } kCases[] = {
      {{L"--otd=a:1,b,c:x:y,,"}, {{"a", "1"}, {"c", "x:y"}, {"b", ""}}},
      {{L"--niuid=42", L"--otd=uuid:7"}, {{"uuid", "42"}}},
      {{L"--otd=utm.medium:m", L"--medium=cpc"}, {{"utm.medium", "cpc"}}},
      {{L"--otd=uuid:7", L"--niuid="}, {{"uuid", "7"}}},
  };
  for (const auto& c : kCases) {
    base::CommandLine command_line = MakeCommandLine(c.arguments);
    auto state = MakeState(command_line);
    for (const auto& [key, value] : c.expected) {
      std::optional<std::string> got = state->GetTrackingData()->GetString(key);
      if (value.empty())
        EXPECT_EQ(std::nullopt, got) << key;
      else
        EXPECT_EQ(value, got) << key;
    }
  }
}

// A dotted key of |parts| parts.
std::string KeyOfParts(size_t parts) {
  std::string key = "k";
  for (size_t i = 1; i < parts; ++i)
    key += ".k";
  return key;
}

// A key nested deeper than the next process's JSON reader reads is dropped
// alone: what this process passes on reads back whole, and the keys that
// start the installation survive.
TEST(InterprocessStateTest, TrackingKeysTooDeepToReadBackAreDropped) {
  const struct {
    size_t parts;
    bool kept;
  } kCases[] = {{198, true}, {199, true}, {200, false}, {5000, false}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.parts);
    const std::string key = KeyOfParts(c.parts);
    base::CommandLine command_line = MakeCommandLine(
        {L"--otd=utm.defbr:1," + base::UTF8ToWide(key) + L":v,utm.fsce:2"});
    auto state = MakeState(command_line);
    TrackingDataDictionary* sent = state->GetTrackingData();
    EXPECT_EQ(c.kept, sent->GetString(key).has_value());

    const std::string blob = sent->SerializeTrackingBlob();
    TrackingDataDictionary received;
    ASSERT_TRUE(received.ParseTrackingBlob(blob));
    EXPECT_EQ(std::optional<std::string>("1"), received.GetString("utm.defbr"));
    EXPECT_EQ(std::optional<std::string>("2"), received.GetString("utm.fsce"));
    EXPECT_EQ(c.kept ? std::optional<std::string>("v") : std::nullopt,
              received.GetString(key));
  }
}

constexpr char kSession[] = "5d0a4e8b-0000-4000-8000-7a1d2e4b6c80";

// Makes |folder| as a front end of |session| would, ready or not.
void MakePackageFolder(const base::FilePath& folder,
                       const std::string& session,
                       bool ready) {
  ASSERT_TRUE(base::CreateDirectory(folder));
  ASSERT_EQ(static_cast<int>(session.size()),
            base::WriteFile(folder.Append(L"session"), session.data(),
                            static_cast<int>(session.size())));
  if (ready) {
    ASSERT_EQ(1, base::WriteFile(folder.Append(L"ready"), "x", 1));
  }
}

TEST(InterprocessStateTest, PackageFolderIsTheFirstReadyOneOfThePrefix) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  for (const wchar_t* name : {L"pkg_1", L"pkg_2", L"pkg_3", L"other"})
    MakePackageFolder(temp.GetPath().Append(name), kSession, false);
  ASSERT_TRUE(base::WriteFile(temp.GetPath().Append(L"pkg_2\\ready"), "x", 1));
  ASSERT_TRUE(base::WriteFile(temp.GetPath().Append(L"other\\ready"), "x", 1));

  base::CommandLine command_line = MakeCommandLine(
      {L"--package-dir-prefix=" + temp.GetPath().Append(L"pkg_").value(),
       L"--session-guid=" + base::ASCIIToUTF16(kSession)});
  auto state = MakeState(command_line);
  EXPECT_EQ(temp.GetPath().Append(L"pkg_2"), state->GetPackageDir());

  // Nothing ready yet: the folder stays unknown, and the prefix is passed on.
  ASSERT_TRUE(base::DeleteFile(temp.GetPath().Append(L"pkg_2\\ready"), false));
  auto waiting = MakeState(command_line);
  EXPECT_TRUE(waiting->GetPackageDir().empty());
  base::CommandLine child(base::FilePath(L"child.exe"));
  waiting->AppendToCommandLine(&child);
  EXPECT_EQ(temp.GetPath().Append(L"pkg_"),
            child.GetSwitchValuePath("package-dir-prefix"));
}

// Anyone who can write to the download folder can make a ready folder of
// the prefix's name, and a front end started in the same second makes one
// too: found by the prefix, only a folder of this session is taken.
TEST(InterprocessStateTest, PrefixFindsOnlyAFolderOfThisSession) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const base::FilePath planted = temp.GetPath().Append(L"pkg_1");
  ASSERT_TRUE(base::CreateDirectory(planted));
  ASSERT_EQ(1, base::WriteFile(planted.Append(L"ready"), "x", 1));
  MakePackageFolder(temp.GetPath().Append(L"pkg_2"),
                    "11111111-2222-4333-8444-555555555555", true);
  MakePackageFolder(temp.GetPath().Append(L"pkg_3"), std::string(kSession) + "x",
                    true);
  const base::FilePath own = temp.GetPath().Append(L"pkg_4");
  MakePackageFolder(own, kSession, true);

  const std::wstring prefix =
      L"--package-dir-prefix=" + temp.GetPath().Append(L"pkg_").value();
  base::CommandLine command_line = MakeCommandLine(
      {L"--backend", prefix, L"--session-guid=" + base::ASCIIToUTF16(kSession)});
  EXPECT_EQ(own, MakeState(command_line)->GetPackageDir());

  // A run of another session finds none of them.
  base::CommandLine other = MakeCommandLine(
      {L"--backend", prefix,
       L"--session-guid=99999999-2222-4333-8444-555555555555"});
  EXPECT_TRUE(MakeState(other)->GetPackageDir().empty());
}

TEST(InterprocessStateTest, BackendWithoutPackageSwitches) {
  base::CommandLine command_line = MakeCommandLine({L"--backend"});
  auto state = MakeState(command_line);
  base::FilePath exe_folder;
  ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &exe_folder));
  EXPECT_FALSE(state->IsPackageDirKnown());
  EXPECT_EQ(exe_folder, state->GetPackageDir());
  base::CommandLine child(base::FilePath(L"child.exe"));
  state->AppendToCommandLine(&child);
  EXPECT_FALSE(child.HasSwitch("package-dir"));
  EXPECT_FALSE(child.HasSwitch("package-dir-prefix"));
}

TEST(InterprocessStateTest, UiThreadId) {
  const struct {
    std::vector<std::wstring> arguments;
    uint32_t expected;
  } kCases[] = {
      {{}, 0xFFFFFFFF},
      {{L"--ui-thread-id=abc"}, 0xFFFFFFFF},
      {{L"--ui-thread-id=-3"}, 0xFFFFFFFF},
      {{L"--ui-thread-id=1234"}, 1234},
  };
  for (const auto& c : kCases) {
    base::CommandLine command_line = MakeCommandLine(c.arguments);
    EXPECT_EQ(c.expected, MakeState(command_line)->GetUiThreadId());
  }
}

TEST(InterprocessStateTest, AppendToCommandLineWritesTheStateInOrder) {
  base::CommandLine command_line =
      MakeCommandLine({L"--backend", L"--silent", L"--autoupdate",
                       L"--inside-package", L"--fix-downloadable-resources",
                       L"--package-dir=C:\\p", L"--session-guid=abc",
                       L"--otd=k:v", L"--uninstall", L"--ui-thread-id=5"});
  auto state = MakeState(command_line);
  base::CommandLine child(base::CommandLine::NO_PROGRAM);
  state->AppendToCommandLine(&child);
  std::string blob = state->GetTrackingData()->SerializeTrackingBlob();
  ASSERT_FALSE(blob.empty());
  // A child is given the run's state, not the parent's role or its UI.
  EXPECT_EQ(
      L"--package-dir=\"C:\\p\" --inside-package --session-guid=abc "
      L"--fix-downloadable-resources --server-tracking-blob=\"" +
          std::wstring(blob.begin(), blob.end()) + L"\" --autoupdate --silent",
      child.GetArgumentsString());
}

TEST(InterprocessStateTest, SessionGuidIsPassedOnOrMade) {
  base::CommandLine first_line = MakeCommandLine({});
  auto first = MakeState(first_line);
  EXPECT_EQ(36u, first->GetSessionGuid().size());
  base::CommandLine child(base::FilePath(L"child.exe"));
  first->AppendToCommandLine(&child);
  auto second = MakeState(child);
  EXPECT_EQ(first->GetSessionGuid(), second->GetSessionGuid());
}

}  // namespace
}  // namespace installer
