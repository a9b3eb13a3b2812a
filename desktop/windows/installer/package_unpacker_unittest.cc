#include "desktop/windows/installer/package_unpacker.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/waitable_event.h"
#include "base/time/time.h"
#include "desktop/windows/installer/common/file_version_utils.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/common/tracking_data_dictionary.h"
#include "desktop/windows/installer/installer_step_context_impl.h"
#include "desktop/windows/installer/interprocess_state_impl.h"
#include "desktop/windows/installer/lzma_util/entry_writers.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/package_fetcher/signature_check.h"
#include "desktop/windows/installer/service/transactions/file_operations.h"
#include "desktop/windows/installer/test/fake_settings.h"
#include "desktop/windows/installer/test/fake_signature_checker.h"
#include "desktop/windows/installer/test/unpack_archives.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// Answers with |version|, or fails when it is empty.
class FakeFileVersionUtils : public FileVersionUtils {
 public:
  explicit FakeFileVersionUtils(const std::string& version)
      : version_(version) {}
  bool GetPackageFileVersion(const base::FilePath&,
                             base::Version* full_version,
                             base::Version* internal_version,
                             std::string*) override {
    *full_version = base::Version(version_);
    return !version_.empty() &&
           GetInternalVersion(*full_version, internal_version);
  }
  bool GetVersionFromExe(const base::FilePath&,
                         base::Version*,
                         base::Version*,
                         std::string*) override {
    return false;
  }

 private:
  std::string version_;
};

class PackageUnpackerTest : public testing::Test,
                            public PackageUnpackerDelegate {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    install_ = temp_.GetPath().Append(L"install");
    package_ = temp_.GetPath().Append(L"package");
    ASSERT_TRUE(base::CreateDirectory(install_));
    ASSERT_TRUE(base::CreateDirectory(package_));
    settings_.folder = install_;
    // A backend run from outside the package folder, and one run inside it.
    for (bool inside : {false, true}) {
      base::CommandLine& command_line = command_lines_[inside];
      command_line.AppendSwitch("backend");
      command_line.AppendSwitchPath("package-dir", package_);
      if (inside)
        command_line.AppendSwitch("inside-package");
      states_[inside] = std::make_unique<InterprocessStateImpl>(
          std::make_unique<TrackingDataDictionary>(), &command_line);
    }
    context_ = std::make_unique<InstallerStepContextImpl>(states_[0].get());
    context_->set_settings(&settings_);
  }
  void TearDown() override {
    SetSignatureCheckerForTesting(nullptr);
    lzma::SetEntryReadHookForTesting(nullptr);
  }
  bool ShouldStopUnpacking() override {
    EXPECT_EQ(::GetCurrentThreadId(), test_thread_);
    if (before_stop_answer_)
      before_stop_answer_(asked_to_stop_);
    return stop_after_ >= 0 && asked_to_stop_++ >= stop_after_;
  }
  void OnTotalSteps(int count) override {
    EXPECT_EQ(::GetCurrentThreadId(), test_thread_);
    events_.push_back("total " + base::IntToString(count));
  }
  void OnStepFinished(const std::string& name, int count) override {
    EXPECT_EQ(::GetCurrentThreadId(), test_thread_);
    events_.push_back(name + " " + base::IntToString(count));
  }

  std::unique_ptr<PackageUnpacker> MakeUnpacker(
      const std::string& version,
      std::unique_ptr<LzmaUtil> lzma = nullptr,
      bool inside_package = false) {
    return std::make_unique<PackageUnpacker>(
        std::make_unique<FakeFileVersionUtils>(version), std::move(lzma),
        context_.get(), this, states_[inside_package].get());
  }
  void WritePackageFile(const base::string16& name, const std::string& text) {
    const base::FilePath path = package_.Append(name);
    ASSERT_TRUE(base::CreateDirectory(path.DirName()));
    ASSERT_EQ(static_cast<int>(text.size()),
              base::WriteFile(path, text.data(), text.size()));
  }
  // The names below the install folder, sorted, folders ending in "\".
  std::string InstallTree() {
    std::vector<std::string> names;
    base::FileEnumerator e(
        install_, true,
        base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES);
    for (base::FilePath p = e.Next(); !p.empty(); p = e.Next()) {
      names.push_back(
          base::WideToUTF8(p.value().substr(install_.value().size() + 1)) +
          (e.GetInfo().IsDirectory() ? "\\" : ""));
    }
    std::sort(names.begin(), names.end());
    return base::JoinString(names, " ");
  }
  std::string LastError(InstallerResult* code = nullptr,
                        std::wstring* path = nullptr) {
    std::string message;
    GetLastInstallerError(code, &message, path);
    return message;
  }

  ScopedInstallerErrorRecord error_record_;
  base::ScopedTempDir temp_;
  base::FilePath install_;
  base::FilePath package_;
  base::CommandLine command_lines_[2] = {
      base::CommandLine(base::CommandLine::NO_PROGRAM),
      base::CommandLine(base::CommandLine::NO_PROGRAM)};
  std::unique_ptr<InterprocessStateImpl> states_[2];
  std::unique_ptr<InstallerStepContextImpl> context_;
  test::FakeSettings settings_;
  std::vector<std::string> events_;
  // ShouldStopUnpacking answers true from its call of this index on; never
  // when negative.
  int stop_after_ = -1;
  int asked_to_stop_ = 0;
  // Called with the index of each stop question before it is answered.
  std::function<void(int)> before_stop_answer_;
  const DWORD test_thread_ = ::GetCurrentThreadId();
};

TEST_F(PackageUnpackerTest, PreparesTheFirstFreeVersionNamedSubfolder) {
  const struct {
    InstallerOperation operation;
    const char* given;             // `install-subfolder` already there
    const char* resource_version;  // "" when the package has no resource
    const char* package_version;   // null when there is no file
    const char* expected;          // the switch afterwards, or the error
  } kCases[] = {
      // 47.0.4127.1 and 47.0.4127.1_0 are there already.
      {OPERATION_INSTALL, nullptr, "47.0.4127.1", "9.9.9.9", "47.0.4127.1_1"},
      {OPERATION_INSTALL, nullptr, "", nullptr, nullptr},  // this build's
      {OPERATION_UPGRADE, nullptr, "", "48.1.2.3", "48.1.2.3"},
      {OPERATION_INSTALL, nullptr, "", "48.1.x",
       "Invalid package version found in package folder 48.1.x"},
      {OPERATION_UNINSTALL, nullptr, "47.0.4127.0", nullptr, ""},
      {OPERATION_FIX_DOWNLOADABLE_RESOURCES, nullptr, "47.0.4127.0", nullptr,
       ""},
      {OPERATION_INSTALL, "given", "47.0.4127.0", nullptr, "given"},
  };
  ASSERT_TRUE(base::CreateDirectory(install_.Append(L"47.0.4127.1")));
  ASSERT_TRUE(base::CreateDirectory(install_.Append(L"47.0.4127.1_0")));
  const std::string before = InstallTree();
  for (const auto& c : kCases) {
    const std::string expected = c.expected ? c.expected : GetVersionString();
    SCOPED_TRACE(expected);
    settings_.operation = c.operation;
    base::DeleteFile(package_.Append(L"package_version"), false);
    if (c.package_version)
      WritePackageFile(L"package_version", c.package_version);
    base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
    if (c.given)
      command_line.AppendSwitchASCII("install-subfolder", c.given);
    InstallerResult code = RESULT_SUCCESS;
    const bool ok = MakeUnpacker(c.resource_version)
                        ->PrepareInstallSubfolder(&command_line);
    EXPECT_EQ(expected,
              ok ? command_line.GetSwitchValueASCII("install-subfolder")
                 : LastError(&code));
    EXPECT_EQ(ok ? RESULT_SUCCESS : RESULT_FOLDER_CREATION_FAILED, code);
    // A new folder goes into the run's transaction, and only a new one.
    const bool made = ok && !c.given && !expected.empty();
    EXPECT_EQ(made, base::DirectoryExists(install_.AppendASCII(expected)) &&
                        !context_->GetTransaction()->empty());
    RollbackOperations(context_->GetTransaction());
    EXPECT_EQ(before, InstallTree());
  }
}

TEST_F(PackageUnpackerTest, DirectUnpackingCopiesTheListedFiles) {
  const struct {
    const char* files_list;
    InstallerResult code;  // RESULT_SUCCESS when the copy works
    const char* error_start;
    bool path_is_list;  // the record names the files list
  } kCases[] = {
      {"kavor.dll\r\nresources/a.pak\r\n", RESULT_SUCCESS, "", false},
      // A damaged package fails before anything is copied.
      {"", RESULT_GENERAL_ERROR,
       "No files in normal files list\nCannot read debug files list\n"
       "Cannot copy unpacked files to subfolder.",
       true},
      {"kavor.dll\r\n..\\x\r\n", RESULT_GENERAL_ERROR,
       "Files list entry '..\\x' refused: it has an empty, \".\" or \"..\" "
       "part\n"
       "Cannot read debug files list\n"
       "Cannot copy unpacked files to subfolder.",
       true},
      {"kavor.dll\r\nresources\\nul.pak\r\n", RESULT_GENERAL_ERROR,
       "Files list entry 'resources\\nul.pak' refused: it names a device or "
       "is not a valid file name\n"
       "Cannot read debug files list",
       true},
      {"kavor.dll\r\nmissing.dll\r\n", RESULT_COPY_FAILED,
       "Cannot copy package file 'missing.dll'\nThe source file ", false},
  };
  for (const wchar_t* name :
       {L"kavor.dll", L"resources\\a.pak", L"kavor_setup.exe", L"launcher.exe",
        L"installer_helper_64.exe"}) {
    WritePackageFile(name, "x");
  }
  WritePackageFile(L"root_files_list", "kavor_setup.exe\r\n");
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.files_list);
    events_.clear();
    WritePackageFile(L"files_list", c.files_list);
    base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
    ASSERT_EQ(c.code == RESULT_SUCCESS,
              MakeUnpacker("47.0.4127.0", nullptr, true)->Unpack(&command_line))
        << LastError();
    if (c.code != RESULT_SUCCESS) {
      InstallerResult code;
      std::wstring path;
      EXPECT_EQ(0u, LastError(&code, &path).find(c.error_start)) << LastError();
      EXPECT_EQ(c.code, code);
      EXPECT_EQ(c.path_is_list ? package_.Append(L"files_list").value() : L"",
                path);
    } else {
      std::vector<std::string> expected_events = {"total 7"};
      for (int i = 0; i < 7; ++i)
        expected_events.push_back("direct_unpacking " + base::IntToString(i));
      EXPECT_EQ(expected_events, events_);
      // A 64-bit process runs only on a 64-bit system: the x64 helper.
      EXPECT_EQ(
          "47.0.4127.0\\ 47.0.4127.0\\files_list "
          "47.0.4127.0\\installer_helper_64.exe 47.0.4127.0\\kavor.dll "
          "47.0.4127.0\\kavor_setup.exe 47.0.4127.0\\launcher.exe "
          "47.0.4127.0\\resources\\ 47.0.4127.0\\resources\\a.pak "
          "47.0.4127.0\\root_files_list",
          InstallTree());
    }
    RollbackOperations(context_->GetTransaction());
    EXPECT_TRUE(InstallTree().empty());
  }
}

// The archive road with the real reader: the version folder gets the
// package's tree as it is, the front end hears each entry once it is on
// disk, the last one too, and a failed unpacking takes away every file and
// folder it made.
TEST_F(PackageUnpackerTest, UnpacksTheArchiveOrTakesAwayWhatItWrote) {
  const base::FilePath victim = temp_.GetPath().Append(L"evil.txt");
  const struct {
    const wchar_t* archive;  // null: no "kavor_package"
    const char* error;       // after "Unpack archive operation failed\n"
    std::vector<std::string> events;
  } kCases[] = {
      // A 7z package behind a 600 KiB executable stub.
      {L"lzma_util\\package.exe",
       nullptr,
       {"total 7", "direct_unpacking 1", "direct_unpacking 2",
        "direct_unpacking 3", "direct_unpacking 4", "direct_unpacking 5",
        "direct_unpacking 6", "direct_unpacking 7"}},
      // first\, second\ and first\one.txt are done when two.txt fails.
      {L"lzma_util\\damaged_second_stream.7z",
       "Could not lzma unpack, error code: 4",
       {"total 4", "direct_unpacking 1", "direct_unpacking 2",
        "direct_unpacking 3"}},
      // ../../evil.txt: two levels up from the version folder is the test's
      // folder.
      {L"lzma_util\\unsafe_0.7z",
       "Archive entry outside the destination folder: ../../evil.txt",
       {}},
      {L"lzma_util\\package_src\\readme.txt",
       "Could not read the archive's entries: 11",
       {}},
      {nullptr, "The archive ", {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.archive ? c.archive : L"no archive");
    events_.clear();
    if (c.archive) {
      ASSERT_TRUE(base::CopyFile(test::TestData(c.archive),
                                 package_.Append(L"kavor_package")));
    }
    ASSERT_EQ(6, base::WriteFile(victim, "ORIGIN", 6));
    base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
    const std::unique_ptr<PackageUnpacker> unpacker =
        MakeUnpacker("47.0.4127.0", std::make_unique<LzmaUtil>());
    const bool ok = unpacker->Unpack(&command_line);
    ASSERT_EQ(c.error == nullptr, ok) << LastError();
    EXPECT_EQ(c.events, events_);
    // Read, the archive is no longer held open.
    if (c.archive) {
      EXPECT_TRUE(base::DeleteFile(package_.Append(L"kavor_package"), false));
    }
    if (ok) {
      EXPECT_EQ(test::TreeListing(test::TestData(L"lzma_util\\package_src")),
                test::TreeListing(install_.Append(L"47.0.4127.0")));
    } else {
      const std::string expected =
          std::string("Unpack archive operation failed\n") + c.error;
      EXPECT_EQ(expected, LastError().substr(0, expected.size()));
      EXPECT_NE(std::string::npos,
                LastError().find("\nCannot unpack the installer"));
    }
    RollbackOperations(context_->GetTransaction());
    EXPECT_EQ("", InstallTree());
    std::string victim_text;
    EXPECT_TRUE(base::ReadFileToString(victim, &victim_text));
    EXPECT_EQ("ORIGIN", victim_text);
  }
}

// Tries, while the backend checks the package's signature, to put another
// file in its place the ways a swap would.
class PackageSwapAttempt : public test::FakeSignatureChecker {
 public:
  bool VerifyFileSignature(const base::FilePath& path,
                           std::string* log) override {
    checked = path;
    const base::FilePath other = path.DirName().Append(L"other");
    EXPECT_EQ(5, base::WriteFile(other, "other", 5));
    replaced = ::MoveFileExW(other.value().c_str(), path.value().c_str(),
                             MOVEFILE_REPLACE_EXISTING) != 0;
    base::win::ScopedHandle writer(
        ::CreateFileW(path.value().c_str(), GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    written = writer.IsValid();
    return test::FakeSignatureChecker::VerifyFileSignature(path, log);
  }
  base::FilePath checked;
  bool replaced = true, written = true;
};

// The backend unpacks only a package whose signature it checked itself, on
// the file it then reads: nobody can replace or change it in between.
TEST_F(PackageUnpackerTest, ArchiveIsCheckedAndHeldUntilUnpacked) {
  PackageSwapAttempt checker;
  checker.own_signed = true;
  SetSignatureCheckerForTesting(&checker);
  const base::FilePath archive = package_.Append(L"kavor_package");
  for (bool verifies : {true, false}) {
    SCOPED_TRACE(verifies);
    checker.verifies = verifies;
    ASSERT_TRUE(
        base::CopyFile(test::TestData(L"lzma_util\\package.exe"), archive));
    base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
    EXPECT_EQ(verifies,
              MakeUnpacker("47.0.4127.0", std::make_unique<LzmaUtil>())
                  ->Unpack(&command_line))
        << LastError();
    EXPECT_EQ(archive, checker.checked);
    EXPECT_FALSE(checker.replaced);
    EXPECT_FALSE(checker.written);
    if (verifies) {
      EXPECT_EQ(test::TreeListing(test::TestData(L"lzma_util\\package_src")),
                test::TreeListing(install_.Append(L"47.0.4127.0")));
    } else {
      EXPECT_NE(std::string::npos,
                LastError().find("Signature incorrect for the package"));
    }
    // Let go once read.
    EXPECT_TRUE(base::DeleteFile(archive, false));
    RollbackOperations(context_->GetTransaction());
    EXPECT_EQ("", InstallTree());
  }
}

// An interrupted run stops the extraction between two entries, not after
// the last one, and takes away what it wrote.
TEST_F(PackageUnpackerTest, InterruptionStopsTheExtractionBetweenEntries) {
  ASSERT_TRUE(base::CopyFile(test::TestData(L"lzma_util\\package.exe"),
                             package_.Append(L"kavor_package")));
  stop_after_ = 2;
  base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
  EXPECT_FALSE(MakeUnpacker("47.0.4127.0", std::make_unique<LzmaUtil>())
                   ->Unpack(&command_line));
  EXPECT_NE(std::string::npos,
            LastError().find("Could not lzma unpack, error code: 14"))
      << LastError();
  // Two entries were unpacked before the third was refused.
  EXPECT_EQ(std::vector<std::string>({"total 7", "direct_unpacking 1"}),
            events_);
  EXPECT_EQ(3, asked_to_stop_);
  EXPECT_TRUE(base::DeleteFile(package_.Append(L"kavor_package"), false));
  RollbackOperations(context_->GetTransaction());
  EXPECT_EQ("", InstallTree());
}

// A package of many entries in one block is written while it is decoded:
// a run interrupted midway stops there, once the entries handed out are
// written, and nothing of them is left after the rollback.
TEST_F(PackageUnpackerTest, InterruptionInTheMiddleOfAnOverlappedExtraction) {
  ASSERT_TRUE(base::CopyFile(test::TestData(L"lzma_util\\many.7z"),
                             package_.Append(L"kavor_package")));
  stop_after_ = 20;
  base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
  EXPECT_FALSE(MakeUnpacker("47.0.4127.0", std::make_unique<LzmaUtil>())
                   ->Unpack(&command_line));
  EXPECT_NE(std::string::npos,
            LastError().find("Could not lzma unpack, error code: 14"))
      << LastError();
  ASSERT_EQ(20u, events_.size());
  EXPECT_EQ("total 44", events_[0]);
  EXPECT_EQ("direct_unpacking 19", events_.back());
  EXPECT_EQ(21, asked_to_stop_);
  EXPECT_TRUE(base::DeleteFile(package_.Append(L"kavor_package"), false));
  RollbackOperations(context_->GetTransaction());
  EXPECT_EQ("", InstallTree());
}

// Copies through CopyFileOperation and tells the test when the copy of
// each entry starts and ends, and on which thread; a copy may first wait
// for events of other copies.
class CopyWatch {
 public:
  // |entries|: the package's full list, in order, as copied to |target|.
  CopyWatch(const base::FilePath& target,
            const std::vector<std::string>& entries) {
    for (size_t i = 0; i < entries.size(); ++i) {
      index_of_[target.Append(base::UTF8ToWide(entries[i])).value()] = i;
      started_.push_back(std::make_unique<base::WaitableEvent>());
      ended_.push_back(std::make_unique<base::WaitableEvent>());
    }
  }

  PackageUnpacker::CopyOperationFactory Factory() {
    return
        [this](const base::FilePath& source, const base::FilePath& destination)
            -> std::unique_ptr<TransactionOperation> {
          return std::make_unique<Copy>(this, index_of_.at(destination.value()),
                                        source, destination);
        };
  }
  base::WaitableEvent* started(size_t i) { return started_[i].get(); }
  base::WaitableEvent* ended(size_t i) { return ended_[i].get(); }
  // The copy of entry |i| waits for |event| before it begins.
  void WaitBefore(size_t i, base::WaitableEvent* event) {
    waits_[i].push_back(event);
  }
  // What went wrong on the copying threads.
  std::vector<std::string> problems() {
    base::AutoLock hold(lock_);
    return problems_;
  }
  std::set<DWORD> threads() {
    base::AutoLock hold(lock_);
    return threads_;
  }

 private:
  class Copy : public TransactionOperation {
   public:
    Copy(CopyWatch* watch,
         size_t index,
         const base::FilePath& source,
         const base::FilePath& destination)
        : watch_(watch), index_(index), copy_(source, destination) {}
    bool Execute(Transaction* nested, std::string* error) override {
      {
        base::AutoLock hold(watch_->lock_);
        watch_->threads_.insert(::GetCurrentThreadId());
      }
      watch_->started_[index_]->Signal();
      for (base::WaitableEvent* event : watch_->waits_[index_]) {
        if (!event->TimedWait(base::TimeDelta::FromMinutes(1))) {
          base::AutoLock hold(watch_->lock_);
          watch_->problems_.push_back("the copy of entry " +
                                      std::to_string(index_) +
                                      " waited a minute in vain");
        }
      }
      const bool copied = copy_.Execute(nested, error);
      watch_->ended_[index_]->Signal();
      return copied;
    }
    void Rollback() override { copy_.Rollback(); }

   private:
    CopyWatch* const watch_;
    const size_t index_;
    CopyFileOperation copy_;
  };

  std::map<base::string16, size_t> index_of_;
  std::vector<std::unique_ptr<base::WaitableEvent>> started_;
  std::vector<std::unique_ptr<base::WaitableEvent>> ended_;
  std::map<size_t, std::vector<base::WaitableEvent*>> waits_;
  base::Lock lock_;
  std::vector<std::string> problems_;
  std::set<DWORD> threads_;
};

class PackageUnpackerCopyTest : public PackageUnpackerTest {
 protected:
  static constexpr size_t kFiles = 120;

  // A package of kFiles listed files in several folders, each with its own
  // bytes, but for those of |missing|; returns every entry the unpacker
  // copies, in order. |root_entry| (when given) goes to the root list.
  std::vector<std::string> MakePackage(const std::set<size_t>& missing,
                                       const std::string& root_entry = "") {
    const char* const kFolders[] = {"", "a\\", "b\\c\\", "b\\", "d\\e\\f\\"};
    std::vector<std::string> entries;
    std::string list;
    for (size_t i = 0; i < kFiles; ++i) {
      entries.push_back(std::string(kFolders[i % 5]) + "f" + std::to_string(i) +
                        ".bin");
      list += entries.back() + "\r\n";
      if (!missing.count(i)) {
        std::string bytes;
        for (size_t n = 0; n < 1 + (i * 37) % 300; ++n)
          bytes += "entry " + std::to_string(i) + ";";
        WritePackageFile(base::UTF8ToWide(entries.back()), bytes);
      }
    }
    WritePackageFile(L"files_list", list);
    WritePackageFile(L"kavor_setup.exe", "setup");
    WritePackageFile(L"root_files_list",
                     "kavor_setup.exe\r\n" + root_entry +
                         (root_entry.empty() ? "" : "\r\n"));
    entries.push_back("kavor_setup.exe");
    if (!root_entry.empty())
      entries.push_back(root_entry);
    for (const char* extra : {"files_list", "root_files_list", "launcher.exe",
                              "installer_helper_64.exe"}) {
      entries.push_back(extra);
    }
    WritePackageFile(L"launcher.exe", "launcher");
    WritePackageFile(L"installer_helper_64.exe", "helper");
    return entries;
  }

  bool Unpack(CopyWatch* watch) {
    std::unique_ptr<PackageUnpacker> unpacker =
        MakeUnpacker("47.0.4127.0", nullptr, true);
    unpacker->SetCopyOperationFactoryForTesting(watch->Factory());
    base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
    return unpacker->Unpack(&command_line);
  }

  // "total N" and then "direct_unpacking n" for n below |finished|.
  static std::vector<std::string> Progress(size_t total, size_t finished) {
    std::vector<std::string> events = {"total " + std::to_string(total)};
    for (size_t n = 0; n < finished; ++n)
      events.push_back("direct_unpacking " + std::to_string(n));
    return events;
  }

  // |listing| without the files moved aside for a commit, and without
  // case.
  static std::string Folded(const std::string& listing) {
    std::vector<std::string> lines =
        base::SplitString(base::ToLowerASCII(listing), "\n",
                          base::KEEP_WHITESPACE, base::SPLIT_WANT_ALL);
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const std::string& line) {
                                 return line.find(".old ") != std::string::npos;
                               }),
                lines.end());
    std::sort(lines.begin(), lines.end());
    return base::JoinString(lines, "\n");
  }

  // The installation subfolder the copies go to.
  base::FilePath version() const { return install_.Append(L"47.0.4127.0"); }
};

constexpr size_t PackageUnpackerCopyTest::kFiles;

// The copies run on several threads at once, yet the front end hears of
// each entry in order and from the run's thread, every file arrives whole,
// and the transaction holds every copy and every folder, folders first: a
// rollback leaves nothing. A list that names one file twice (whatever the
// case) is copied on the run's thread alone.
TEST_F(PackageUnpackerCopyTest, CopiesOnSeveralThreadsAsIfOneByOne) {
  for (bool twice : {false, true}) {
    SCOPED_TRACE(twice);
    events_.clear();
    const std::vector<std::string> entries =
        MakePackage({}, twice ? "B\\C\\F2.BIN" : "");
    CopyWatch watch(version(), entries);
    // Entry 0 is copied only once entry 1's copy has begun.
    if (!twice)
      watch.WaitBefore(0, watch.started(1));
    ASSERT_TRUE(Unpack(&watch)) << LastError();
    EXPECT_EQ(std::vector<std::string>(), watch.problems());
    EXPECT_EQ(Progress(entries.size(), entries.size()), events_);
    // The second copy of the file named twice moves the first aside (until
    // the commit) and gives the file its own spelling.
    EXPECT_EQ(Folded(test::TreeListing(package_)),
              Folded(test::TreeListing(version())));
    const std::set<DWORD> threads = watch.threads();
    if (twice) {
      EXPECT_EQ(std::set<DWORD>({test_thread_}), threads);
    } else {
      EXPECT_LE(2u, threads.size());
      EXPECT_EQ(0u, threads.count(test_thread_));
    }
    RollbackOperations(context_->GetTransaction());
    EXPECT_EQ("", InstallTree());
  }
}

// Entry k's source is missing, and so is entry k+2's, whose copy fails
// first: the error is entry k's, the entries after it that were copied
// meanwhile go into the transaction all the same, and the rollback leaves
// neither files nor folders.
TEST_F(PackageUnpackerCopyTest, FailedCopyReportsTheFirstFailingEntry) {
  const size_t k = 57;
  const std::vector<std::string> entries = MakePackage({k, k + 2});
  CopyWatch watch(version(), entries);
  watch.WaitBefore(k, watch.ended(k + 1));
  watch.WaitBefore(k, watch.ended(k + 2));
  ASSERT_FALSE(Unpack(&watch));
  EXPECT_EQ(std::vector<std::string>(), watch.problems());
  InstallerResult code = RESULT_SUCCESS;
  const std::string expected =
      "Cannot copy package file '" + entries[k] + "'\nThe source file " +
      package_.AppendASCII(entries[k]).AsUTF8Unsafe() + " does not exist.";
  EXPECT_EQ(expected, LastError(&code).substr(0, expected.size()))
      << LastError();
  EXPECT_EQ(RESULT_COPY_FAILED, code);
  EXPECT_EQ(Progress(entries.size(), k), events_);
  EXPECT_TRUE(base::PathExists(version().AppendASCII(entries[k + 1])));
  RollbackOperations(context_->GetTransaction());
  EXPECT_EQ("", InstallTree());
}

// A page of the unpacked block that a writer cannot read back fails the
// extraction with the in-page result, and the rollback takes away every
// file written before.
TEST_F(PackageUnpackerTest, UnreadablePageOnAWriterFailsTheUnpacking) {
  ASSERT_TRUE(base::CopyFile(test::TestData(L"lzma_util\\many.7z"),
                             package_.Append(L"kavor_package")));
  static std::atomic<int> reads;
  reads = 0;
  lzma::SetEntryReadHookForTesting([](const void* data, size_t size) {
    if (++reads != 30)
      return;
    const ULONG_PTR info[] = {0, reinterpret_cast<ULONG_PTR>(data),
                              0xC000009C};
    ::RaiseException(EXCEPTION_IN_PAGE_ERROR, 0, 3, info);
  });
  base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
  EXPECT_FALSE(MakeUnpacker("47.0.4127.0", std::make_unique<LzmaUtil>())
                   ->Unpack(&command_line));
  EXPECT_NE(std::string::npos,
            LastError().find("Could not lzma unpack, error code: 5"))
      << LastError();
  EXPECT_LE(30, reads.load());
  // Files were written before the failure.
  EXPECT_NE("", InstallTree());
  EXPECT_TRUE(base::DeleteFile(package_.Append(L"kavor_package"), false));
  RollbackOperations(context_->GetTransaction());
  EXPECT_EQ("", InstallTree());
}

// A stop asked for in the middle waits for the copies under way (entry
// s+3's ends only after the answer) and the rollback takes away every copy
// made, those after the stop too.
TEST_F(PackageUnpackerCopyTest, StopWaitsForTheCopiesUnderWay) {
  const size_t s = 43;
  const std::vector<std::string> entries = MakePackage({});
  CopyWatch watch(version(), entries);
  base::WaitableEvent stop_answered;
  watch.WaitBefore(s + 3, &stop_answered);
  stop_after_ = s;
  before_stop_answer_ = [&](int question) {
    if (question != static_cast<int>(s))
      return;
    EXPECT_TRUE(
        watch.started(s + 3)->TimedWait(base::TimeDelta::FromMinutes(1)))
        << "the copy of entry s+3 never began";
    stop_answered.Signal();
  };
  ASSERT_FALSE(Unpack(&watch));
  EXPECT_EQ(std::vector<std::string>(), watch.problems());
  InstallerResult code = RESULT_SUCCESS;
  EXPECT_EQ(
      "The unpacking was interrupted\nCannot copy unpacked files to "
      "subfolder.",
      LastError(&code));
  EXPECT_EQ(RESULT_GENERAL_ERROR, code);
  EXPECT_EQ(Progress(entries.size(), s), events_);
  EXPECT_EQ(static_cast<int>(s) + 1, asked_to_stop_);
  EXPECT_TRUE(base::PathExists(version().AppendASCII(entries[s + 3])));
  RollbackOperations(context_->GetTransaction());
  EXPECT_EQ("", InstallTree());
}

}  // namespace
}  // namespace installer
