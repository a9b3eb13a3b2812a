#include "desktop/windows/installer/service/transactions/file_operations.h"

#include <windows.h>

#include <string.h>

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/string_number_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/lzma_util/lzma_util.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/service/transactions/transaction_operation.h"
#include "desktop/windows/installer/test/unpack_archives.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

constexpr int64_t kNow = 1520900000;
int64_t FixedClock() {
  return kNow;
}

// Writes its steps into a shared log; can run a nested operation and fail.
class RecordingOperation : public TransactionOperation {
 public:
  RecordingOperation(std::vector<std::string>* log,
                     const std::string& name,
                     bool succeed,
                     std::unique_ptr<TransactionOperation> nested = nullptr)
      : log_(log), name_(name), succeed_(succeed), nested_(std::move(nested)) {}
  ~RecordingOperation() override { log_->push_back("destroy " + name_); }
  bool Execute(Transaction* nested, std::string* error) override {
    if (nested_ && !ExecuteOperation(nested, std::move(nested_), error))
      return false;
    return succeed_;
  }
  void Rollback() override { log_->push_back("rollback " + name_); }

 private:
  std::vector<std::string>* log_;
  std::string name_;
  bool succeed_;
  std::unique_ptr<TransactionOperation> nested_;
};

TEST(TransactionTest, FailedOperationUndoesItselfBeforeItsNestedOnes) {
  std::vector<std::string> log;
  Transaction transaction;
  auto make = [&log](const std::string& name, bool succeed) {
    return std::make_unique<RecordingOperation>(
        &log, name, succeed,
        std::make_unique<RecordingOperation>(&log, name + ".nested", true));
  };
  ASSERT_TRUE(ExecuteOperation(&transaction, make("a", true), nullptr));
  EXPECT_FALSE(ExecuteOperation(&transaction, make("b", false), nullptr));
  EXPECT_EQ(2u, transaction.size());
  ASSERT_TRUE(ExecuteOperation(&transaction, make("c", true), nullptr));
  RollbackOperations(&transaction);
  EXPECT_TRUE(transaction.empty());
  EXPECT_EQ(
      std::vector<std::string>(
          {"rollback b", "rollback b.nested", "destroy b.nested", "destroy b",
           "rollback c", "rollback c.nested", "rollback a", "rollback a.nested",
           "destroy a.nested", "destroy a", "destroy c.nested", "destroy c"}),
      log);
  log.clear();
  ASSERT_TRUE(ExecuteOperation(&transaction, make("d", true), nullptr));
  CommitOperations(&transaction);
  EXPECT_EQ(std::vector<std::string>({"destroy d.nested", "destroy d"}), log);
}

class FileOperationsTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    // Keeps the temporary folder from being one of the emptied parents.
    Write(Path(L"keep"), "keep");
    DeleteFileOperation::SetClockForTesting(&FixedClock);
  }
  void TearDown() override { DeleteFileOperation::SetClockForTesting(nullptr); }

  base::FilePath Path(const wchar_t* relative) const {
    return temp_.GetPath().Append(relative);
  }
  static void Write(const base::FilePath& path, const std::string& text) {
    ASSERT_TRUE(base::CreateDirectory(path.DirName()));
    ASSERT_EQ(
        static_cast<int>(text.size()),
        base::WriteFile(path, text.data(), static_cast<int>(text.size())));
  }
  static std::string Read(const base::FilePath& path) {
    std::string text;
    return base::ReadFileToString(path, &text) ? text : "<missing>";
  }
  bool Run(std::unique_ptr<TransactionOperation> operation) {
    error_.clear();
    return ExecuteOperation(&transaction_, std::move(operation), &error_);
  }

  base::ScopedTempDir temp_;
  Transaction transaction_;
  std::string error_;
};

TEST_F(FileOperationsTest, DeleteMovesAsideThenCommitsOrRestores) {
  const base::FilePath file = Path(L"x\\y\\setup.dll");
  const base::FilePath aside = Path(L"x\\y\\setup.dll.1520900000.old");
  Write(Path(L"x\\other\\g.txt"), "x");
  for (bool commit : {true, false}) {
    Write(file, "old");
    ASSERT_TRUE(Run(std::make_unique<DeleteFileOperation>(file, true, true,
                                                          temp_.GetPath())));
    EXPECT_FALSE(base::PathExists(file));
    EXPECT_EQ("old", Read(aside));
    if (commit)
      CommitOperations(&transaction_);
    else
      RollbackOperations(&transaction_);
    EXPECT_FALSE(base::PathExists(aside)) << commit;
    EXPECT_EQ(commit ? "<missing>" : "old", Read(file));
    // The commit takes away the emptied parents up to a non-empty one.
    EXPECT_EQ(!commit, base::PathExists(Path(L"x\\y")));
    EXPECT_TRUE(base::PathExists(Path(L"x\\other\\g.txt")));
  }
  // Nothing to delete: success, and nothing to undo or finish.
  EXPECT_TRUE(Run(std::make_unique<DeleteFileOperation>(file, false, false)));
  EXPECT_EQ(1u, transaction_.size());
}

TEST_F(FileOperationsTest, DeleteFailuresLeaveTheFileInPlace) {
  // A name that fits while its moved-aside name does not.
  const base::FilePath long_name = temp_.GetPath().Append(base::string16(
      base::kMaxPathLength - 10 - temp_.GetPath().value().size(), L'f'));
  const struct {
    base::FilePath file;
    std::string error;
  } kCases[] = {
      {Path(L"a.txt"), ".old file '" +
                           Path(L"a.txt.1520900000_99.old").AsUTF8Unsafe() +
                           "' already exists "},
      {long_name, "Cannot move the file to .old: " +
                      FormatWin32Error(ERROR_FILENAME_EXCED_RANGE)},
  };
  // Every name the file could be moved aside to is taken.
  Write(Path(L"a.txt.1520900000.old"), "older");
  for (int n = 1; n < 100; ++n) {
    Write(
        Path((L"a.txt.1520900000_" + base::IntToString16(n) + L".old").c_str()),
        "older");
  }
  for (const auto& c : kCases) {
    Write(c.file, "new");
    ::SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(
        Run(std::make_unique<DeleteFileOperation>(c.file, false, false)));
    EXPECT_EQ(c.error, error_);
    EXPECT_EQ("new", Read(c.file));
  }
  EXPECT_EQ("older", Read(Path(L"a.txt.1520900000_99.old")));
}

class NoAccessSecurityUtils : public SecurityUtilsImpl {
 public:
  bool HasAccess(const base::string16&, SE_OBJECT_TYPE, uint32_t) override {
    return granted_access != 0;
  }
  bool GrantAccess(const base::string16&,
                   SE_OBJECT_TYPE type,
                   uint32_t access,
                   bool do_not_save,
                   std::unique_ptr<SavedSecurityDescriptor>*) override {
    if (type == SE_FILE_OBJECT && do_not_save)
      granted_access = access;
    return true;
  }
  uint32_t granted_access = 0;
};

// Even a successful grant fails the attempt; the step's retry then works.
TEST_F(FileOperationsTest, DeleteWithoutAccessGrantsItAndFailsOnce) {
  NoAccessSecurityUtils security;
  SecurityUtilsImpl::SetInstanceForTesting(&security);
  const base::FilePath file = Path(L"a.txt");
  Write(file, "x");
  EXPECT_FALSE(Run(std::make_unique<DeleteFileOperation>(file, false, false)));
  EXPECT_EQ("Cannot obtain proper permissions on the file", error_);
  EXPECT_EQ(0x130116u, security.granted_access);
  EXPECT_TRUE(base::PathExists(file));
  EXPECT_TRUE(Run(std::make_unique<DeleteFileOperation>(file, false, false)));
  SecurityUtilsImpl::SetInstanceForTesting(nullptr);
  EXPECT_FALSE(base::PathExists(file));
}

TEST_F(FileOperationsTest, DeleteOfARunningProgramIsRefused) {
  base::FilePath bin;
  ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &bin));
  const base::FilePath program = Path(L"child.exe");
  ASSERT_TRUE(base::CopyFile(bin.Append(L"kavor_test_child.exe"), program));
  base::CommandLine command_line(program);
  command_line.AppendArg("sleep");
  base::Process child =
      base::LaunchProcess(command_line, base::LaunchOptions());
  ASSERT_TRUE(child.IsValid());
  const bool deleted =
      Run(std::make_unique<DeleteFileOperation>(program, true, false));
  EXPECT_TRUE(child.Terminate(1, true));
  EXPECT_FALSE(deleted);
  EXPECT_EQ("Cannot move the file to .old: " +
                FormatWin32Error(ERROR_SHARING_VIOLATION),
            error_);
  EXPECT_TRUE(base::PathExists(program));
  EXPECT_FALSE(base::PathExists(Path(L"child.exe.1520900000.old")));
}

TEST_F(FileOperationsTest, CopyOverAFileKeepsItAsideUntilRollback) {
  const base::FilePath source = Path(L"source.txt");
  const base::FilePath destination = Path(L"destination.txt");
  Write(destination, "old");
  // The source is missing: the copy fails after the old file moved aside.
  EXPECT_FALSE(Run(std::make_unique<CopyFileOperation>(source, destination)));
  EXPECT_EQ("The source file " + source.AsUTF8Unsafe() + " does not exist.",
            error_);
  EXPECT_EQ("old", Read(destination));
  EXPECT_FALSE(base::PathExists(Path(L"destination.txt.1520900000.old")));

  // Copied over twice within the same second: each file moved aside keeps
  // its own name, and the rollback brings the first one back.
  for (const char* text : {"new", "newer"}) {
    Write(source, text);
    ASSERT_TRUE(
        ::SetFileAttributesW(source.value().c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(Run(std::make_unique<CopyFileOperation>(source, destination)))
        << error_;
    EXPECT_EQ(text, Read(destination));
    EXPECT_FALSE(::GetFileAttributesW(destination.value().c_str()) &
                 FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(
        ::SetFileAttributesW(source.value().c_str(), FILE_ATTRIBUTE_NORMAL));
  }
  EXPECT_EQ("old", Read(Path(L"destination.txt.1520900000.old")));
  EXPECT_EQ("new", Read(Path(L"destination.txt.1520900000_1.old")));
  RollbackOperations(&transaction_);
  EXPECT_EQ("old", Read(destination));
  EXPECT_FALSE(base::PathExists(Path(L"destination.txt.1520900000.old")));
  EXPECT_FALSE(base::PathExists(Path(L"destination.txt.1520900000_1.old")));
}

TEST_F(FileOperationsTest, CopyRefusesUnsafePaths) {
  Write(Path(L"sub\\a.txt"), "x");
  const base::FilePath too_long = temp_.GetPath().Append(base::string16(
      base::kMaxPathLength - 1 - temp_.GetPath().value().size(), L'f'));
  const struct {
    base::FilePath source;
    base::FilePath destination;
    const char* error;
  } kCases[] = {
      {Path(L"sub\\..\\sub\\a.txt"), Path(L"b.txt"),
       "One of the paths references parent."},
      {Path(L"sub\\a.txt"), too_long, "One of the paths is too long."},
  };
  for (const auto& c : kCases) {
    EXPECT_FALSE(
        Run(std::make_unique<CopyFileOperation>(c.source, c.destination)));
    EXPECT_EQ(c.error, error_);
    EXPECT_FALSE(base::PathExists(c.destination));
  }
}

TEST_F(FileOperationsTest, CreatedFolderLevelsAndOnlyThoseAreRemoved) {
  for (const wchar_t* existing : {L"", L"a"}) {
    if (*existing) {
      ASSERT_TRUE(base::CreateDirectory(Path(existing)));
    }
    ASSERT_TRUE(Run(std::make_unique<CreateFolderOperation>(Path(L"a\\b\\c"))));
    EXPECT_TRUE(base::DirectoryExists(Path(L"a\\b\\c")));
    RollbackOperations(&transaction_);
    EXPECT_FALSE(base::PathExists(Path(L"a\\b")));
    EXPECT_EQ(*existing != 0, base::PathExists(Path(L"a")));
    EXPECT_TRUE(base::PathExists(Path(L"keep")));
  }
  // A level that cannot be made takes away the levels made above it.
  EXPECT_FALSE(
      Run(std::make_unique<CreateFolderOperation>(Path(L"x\\y\\a?b"))));
  EXPECT_EQ("Cannot create directory: " + FormatWin32Error(ERROR_INVALID_NAME),
            error_);
  EXPECT_FALSE(base::PathExists(Path(L"x")));
}

TEST_F(FileOperationsTest, MoveIsUndoneOrLeavesNoEmptySourceFolder) {
  const base::FilePath source = Path(L"s\\t\\f.txt");
  const base::FilePath destination = Path(L"d\\f.txt");
  for (bool commit : {false, true}) {
    Write(source, "x");
    ASSERT_TRUE(Run(std::make_unique<MoveFileOperation>(source, destination,
                                                        temp_.GetPath())));
    EXPECT_EQ("x", Read(destination));
    if (commit)
      CommitOperations(&transaction_);
    else
      RollbackOperations(&transaction_);
    EXPECT_EQ(commit ? "<missing>" : "x", Read(source));
    EXPECT_EQ(!commit, base::PathExists(Path(L"s")));
    EXPECT_EQ(commit, base::PathExists(destination));
  }
}

// Writes a folder and a file below the destination (listing the
// destination too when it makes it), then fails.
class FailingReader : public LzmaUtil {
 public:
  int Open(const base::FilePath& archive) override { return open_result; }
  int ListEntries(std::vector<base::string16>* names) override {
    *names = {L"sub\\f.txt"};
    return 0;
  }
  uint8_t Extract(const base::FilePath& destination,
                  const std::set<base::FilePath>& entries,
                  UnpackProgressObserver* observer,
                  std::vector<base::FilePath>* extracted_files,
                  std::vector<base::FilePath>* created_folders) override {
    const base::FilePath file = destination.Append(L"sub\\f.txt");
    for (const base::FilePath& folder : {destination, file.DirName()}) {
      if (!base::DirectoryExists(folder)) {
        EXPECT_TRUE(base::CreateDirectory(folder));
        created_folders->push_back(folder);
      }
    }
    EXPECT_EQ(1, base::WriteFile(file, "x", 1));
    extracted_files->push_back(file);
    return extract_result;
  }
  void Close() override {}
  int open_result = 0;
  uint8_t extract_result = EXTRACT_IN_PAGE_ERROR;
};

TEST_F(FileOperationsTest, FailedUnpackTakesAwayWhatItWrote) {
  const base::FilePath archive = Path(L"kavor_package");
  Write(archive, "7z");
  FailingReader reader;
  // A failure to write names the drive written to.
  const std::string drive = Path(L"").AsUTF8Unsafe().substr(0, 3);
  const std::string cannot_write =
      "\nCannot write the unpacked files to " + drive;
  const struct {
    int open_result;
    uint8_t extract_result;
    bool destination_existed;
    std::string error;
  } kCases[] = {
      {0, 5, false,
       "Could not lzma unpack, error code: 5" + cannot_write +
           " (is the drive full?)"},
      {2, 5, false, "Could not open the archive: 2"},
      {0, 8, false, "Could not lzma unpack, error code: 8" + cannot_write},
      {0, 13, false,
       "Could not lzma unpack, error code: 13\nNot enough space on " + drive +
           " to unpack the archive"},
      {0, 4, false, "Could not lzma unpack, error code: 4"},
      {0, 5, true,
       "Could not lzma unpack, error code: 5" + cannot_write +
           " (is the drive full?)"}};
  for (const auto& c : kCases) {
    if (c.destination_existed) {
      ASSERT_TRUE(base::CreateDirectory(Path(L"p\\q")));
    }
    reader.open_result = c.open_result;
    reader.extract_result = c.extract_result;
    EXPECT_FALSE(Run(std::make_unique<UnpackArchiveOperation>(
        archive, Path(L"p\\q"), &reader, nullptr)));
    EXPECT_EQ(c.error, error_);
    // Empty folders that were there before the run are still there.
    EXPECT_EQ(c.destination_existed, base::DirectoryExists(Path(L"p\\q")));
    EXPECT_EQ(c.destination_existed, base::DirectoryExists(Path(L"p")));
    EXPECT_FALSE(base::PathExists(Path(L"p\\q\\sub")));
    EXPECT_TRUE(base::PathExists(Path(L"keep")));
  }
}

// Lists |listed| and writes |written| (relative to the destination, ".."
// allowed, like a reader that does not check names; a trailing "\" makes a
// folder) with the text "new", then returns |result|.
class ScriptedReader : public LzmaUtil {
 public:
  ScriptedReader(std::vector<base::string16> listed,
                 std::vector<base::string16> written,
                 int result)
      : listed_(std::move(listed)),
        written_(std::move(written)),
        result_(result) {}
  int Open(const base::FilePath&) override { return 0; }
  int ListEntries(std::vector<base::string16>* names) override {
    *names = listed_;
    return 0;
  }
  uint8_t Extract(const base::FilePath& destination,
                  const std::set<base::FilePath>&,
                  UnpackProgressObserver*,
                  std::vector<base::FilePath>* extracted_files,
                  std::vector<base::FilePath>* created_folders) override {
    for (const base::string16& entry : written_) {
      const base::FilePath path = destination.Append(entry);
      if (entry.back() == L'\\') {
        EXPECT_TRUE(base::CreateDirectory(path));
        created_folders->push_back(path.StripTrailingSeparators());
        continue;
      }
      EXPECT_EQ(3, base::WriteFile(path, "new", 3));
      extracted_files->push_back(path);
    }
    return result_;
  }
  void Close() override {}

 private:
  std::vector<base::string16> listed_;
  std::vector<base::string16> written_;
  int result_;
};

// An entry naming a file outside the destination (a neighbour of it here)
// must neither be written nor deleted, and a file of the destination that
// an entry replaced comes back on rollback.
TEST_F(FileOperationsTest, UnpackLeavesOutsideFilesAloneAndRestoresReplaced) {
  const base::FilePath archive = Path(L"kavor_package");
  Write(archive, "7z");
  const base::FilePath destination = Path(L"u\\dest");
  const base::FilePath victim = Path(L"u\\victim.txt");
  const base::FilePath replaced = destination.Append(L"a.txt");
  const struct {
    const char* name;
    std::vector<base::string16> listed;
    std::vector<base::string16> written;  // empty: as listed
    int result;
    const char* error;  // null: succeeds, then is rolled back
    const char* victim_after;
  } kCases[] = {
      {"escaping entry",
       {L"a.txt", L"..\\victim.txt"},
       {},
       0,
       "Archive entry outside the destination folder: ..\\victim.txt",
       "precious"},
      {"failed extraction",
       {L"a.txt", L"b.txt"},
       {},
       5,
       "Could not lzma unpack, error code: 5",
       "precious"},
      // Only overwritten, not made: still there after the rollback.
      {"reader writing unlisted",
       {L"b.txt"},
       {L"b.txt", L"..\\victim.txt"},
       0,
       "Archive entry outside the destination folder: ",
       "new"},
      {"rolled back",
       {L"a.txt", L"sub\\", L"sub\\c.txt"},
       {},
       0,
       nullptr,
       "precious"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Write(replaced, "old");
    Write(victim, "precious");
    ScriptedReader reader(c.listed, c.written.empty() ? c.listed : c.written,
                          c.result);
    const bool unpacked = Run(std::make_unique<UnpackArchiveOperation>(
        archive, destination, &reader, nullptr));
    EXPECT_EQ(c.error == nullptr, unpacked) << "outcome";
    if (c.error) {
      EXPECT_EQ(c.error, error_.substr(0, strlen(c.error))) << "error text";
    } else {
      EXPECT_EQ("new", Read(replaced)) << "replaced file after extraction";
      RollbackOperations(&transaction_);
    }
    EXPECT_EQ(c.victim_after, Read(victim)) << "file outside the destination";
    EXPECT_EQ("old", Read(replaced)) << "replaced file after rollback";
    EXPECT_FALSE(base::PathExists(destination.Append(L"b.txt")))
        << "new file after rollback";
    EXPECT_FALSE(base::PathExists(destination.Append(L"sub")))
        << "new folder after rollback";
    EXPECT_FALSE(base::PathExists(Path(L"u\\dest\\a.txt.1520900000.old")))
        << "moved-aside file after rollback";
  }
  // Committed, the replaced file is gone for good.
  ScriptedReader reader({L"a.txt"}, {L"a.txt"}, 0);
  ASSERT_TRUE(Run(std::make_unique<UnpackArchiveOperation>(archive, destination,
                                                           &reader, nullptr)));
  CommitOperations(&transaction_);
  EXPECT_EQ("new", Read(replaced)) << "replaced file after commit";
  EXPECT_FALSE(base::PathExists(Path(L"u\\dest\\a.txt.1520900000.old")))
      << "moved-aside file after commit";
}

// The real reader over crafted archives whose second entry climbs out of
// the destination: the operation's check of the listed names refuses the
// archive first, and a listing that hides the entry still meets the
// reader's own refusal. Either way nothing is written, and the file where
// the entry points keeps its bytes through the rollback.
class UnlistingReader : public LzmaUtil {
 public:
  int ListEntries(std::vector<base::string16>* names) override {
    names->clear();
    return 0;
  }
};

TEST_F(FileOperationsTest, UnpackOfAnEscapingArchiveLeavesTheVictimAlone) {
  const base::FilePath destination = Path(L"u\\v\\dest");
  const struct {
    const wchar_t* archive;
    const wchar_t* victim;
    bool listed;
    const char* error;
  } kCases[] = {
      {L"lzma_util\\unsafe_0.7z", L"u\\evil.txt", true,
       "Archive entry outside the destination folder: ../../evil.txt"},
      {L"lzma_util\\unsafe_4.7z", L"u\\v\\x.txt", true,
       "Archive entry outside the destination folder: a/../../x.txt"},
      {L"lzma_util\\unsafe_0.7z", L"u\\evil.txt", false,
       "Could not lzma unpack, error code: 12"},
      {L"lzma_util\\unsafe_4.7z", L"u\\v\\x.txt", false,
       "Could not lzma unpack, error code: 12"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.archive << " listed " << c.listed);
    Write(Path(c.victim), "ORIGINAL");
    LzmaUtil reader;
    UnlistingReader unlisting;
    EXPECT_FALSE(Run(std::make_unique<UnpackArchiveOperation>(
        test::TestData(c.archive), destination, c.listed ? &reader : &unlisting,
        nullptr)));
    EXPECT_EQ(c.error, error_);
    EXPECT_FALSE(base::PathExists(destination));
    RollbackOperations(&transaction_);
    EXPECT_EQ("ORIGINAL", Read(Path(c.victim)));
    EXPECT_TRUE(base::DeleteFile(Path(L"u"), true));
  }
}

// Copy and move clear a read-only source's attribute; a rollback, also of
// an attempt that failed after that, puts it back.
TEST_F(FileOperationsTest, RollbackGivesTheSourceItsReadOnlyAttributeBack) {
  const base::FilePath source = Path(L"ro.txt");
  const base::FilePath too_long = temp_.GetPath().Append(base::string16(
      base::kMaxPathLength - 1 - temp_.GetPath().value().size(), L'f'));
  const auto read_only = [&source]() {
    const DWORD attributes = ::GetFileAttributesW(source.value().c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_READONLY);
  };
  const struct {
    const char* name;
    bool move;
    base::FilePath destination;
    bool succeeds;
  } kCases[] = {
      {"copy", false, Path(L"c\\copy.txt"), true},
      {"failed copy", false, too_long, false},
      {"move", true, Path(L"m\\moved.txt"), true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Write(source, "x");
    ASSERT_TRUE(
        ::SetFileAttributesW(source.value().c_str(), FILE_ATTRIBUTE_READONLY));
    std::unique_ptr<TransactionOperation> operation;
    if (c.move) {
      operation = std::make_unique<MoveFileOperation>(source, c.destination,
                                                      temp_.GetPath());
    } else {
      operation = std::make_unique<CopyFileOperation>(source, c.destination);
    }
    EXPECT_EQ(c.succeeds, Run(std::move(operation))) << "outcome";
    RollbackOperations(&transaction_);
    EXPECT_EQ("x", Read(source)) << "source after rollback";
    EXPECT_TRUE(read_only()) << "read-only attribute after rollback";
    EXPECT_FALSE(base::PathExists(c.destination)) << "destination";
    ASSERT_TRUE(
        ::SetFileAttributesW(source.value().c_str(), FILE_ATTRIBUTE_NORMAL));
  }
}

// The folders emptied by a committed move or delete go, but never the
// operation's root (here a folder that held nothing else) nor what is above.
TEST_F(FileOperationsTest, CommitRemovesEmptiedFoldersOnlyBelowTheRoot) {
  const base::FilePath root = Path(L"root");
  const base::FilePath file = root.Append(L"s\\t\\f.txt");
  for (int kind = 0; kind < 3; ++kind) {
    const char* const kNames[] = {"move", "delete", "delete without root"};
    SCOPED_TRACE(kNames[kind]);
    Write(file, "x");
    std::unique_ptr<TransactionOperation> operation;
    if (kind == 0) {
      operation =
          std::make_unique<MoveFileOperation>(file, Path(L"d\\f.txt"), root);
    } else {
      operation = std::make_unique<DeleteFileOperation>(
          file, false, true, kind == 1 ? root : base::FilePath());
    }
    ASSERT_TRUE(Run(std::move(operation)));
    CommitOperations(&transaction_);
    EXPECT_FALSE(base::PathExists(file)) << "the file";
    EXPECT_TRUE(base::DirectoryExists(root)) << "the root";
    EXPECT_EQ(kind == 2, base::DirectoryExists(root.Append(L"s\\t")))
        << "emptied folders below the root";
    ASSERT_TRUE(base::DeleteFile(root.Append(L"s"), true));
  }
}

// Makes the first |failures| moves of a moved-aside file back fail.
class StuckDeleteOperation : public DeleteFileOperation {
 public:
  StuckDeleteOperation(const base::FilePath& path, int failures)
      : DeleteFileOperation(path, true, false), failures_(failures) {}

 protected:
  bool MoveBack(const base::FilePath& from, const base::FilePath& to) override {
    if (failures_ > 0) {
      --failures_;
      ::SetLastError(ERROR_SHARING_VIOLATION);
      return false;
    }
    return DeleteFileOperation::MoveBack(from, to);
  }

 private:
  int failures_;
};

// A busy program that cannot be moved back at once is tried again by the
// rollback; when it stays under its moved-aside name, nothing deletes it.
TEST_F(FileOperationsTest, BusyFileThatCannotGoBackIsNeverDeleted) {
  const base::FilePath program = Path(L"busy.exe");
  const base::FilePath aside = Path(L"busy.exe.1520900000.old");
  for (int failures : {1, 2}) {
    SCOPED_TRACE(failures);
    Write(program, "program");
    {
      // Held open the way a running program is: it can be renamed, not
      // opened for writing.
      base::win::ScopedHandle busy(
          ::CreateFileW(program.value().c_str(), GENERIC_READ,
                        FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      ASSERT_TRUE(busy.IsValid());
      EXPECT_FALSE(
          Run(std::make_unique<StuckDeleteOperation>(program, failures)))
          << "delete of a busy program";
    }
    CommitOperations(&transaction_);
    if (failures == 1) {
      EXPECT_EQ("program", Read(program)) << "program back at its name";
      EXPECT_FALSE(base::PathExists(aside)) << "moved-aside name";
    } else {
      EXPECT_EQ("program", Read(aside)) << "the only copy left";
      ASSERT_TRUE(base::DeleteFile(aside, false));
    }
  }
}

}  // namespace
}  // namespace installer
