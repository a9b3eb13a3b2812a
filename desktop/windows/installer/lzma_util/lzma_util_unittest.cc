#include "desktop/windows/installer/lzma_util/lzma_util.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/path_service.h"
#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/scoped_log_lines.h"
#include "desktop/windows/installer/lzma_util/archive_reading.h"
#include "desktop/windows/installer/lzma_util/entry_writers.h"
#include "desktop/windows/installer/test/unpack_archives.h"
#include "gtest/gtest.h"

namespace installer {

namespace {

// The time the test archives give every file: 2021-03-04 05:06:07 UTC.
const uint64_t kPackedTime = (1614834367ull + 11644473600ull) * 10000000ull;
const DWORD kStatusDiskFull = 0xC000007F;

class RecordingObserver : public UnpackProgressObserver {
 public:
  void OnFilesToUnpackCounted(int32_t count) override {
    counted.push_back(count);
  }
  void OnUnpackProgressChanged(int32_t done) override {
    progress.push_back(done);
  }
  bool ShouldStopExtracting() override {
    return stop_at >= 0 && static_cast<int>(progress.size()) >= stop_at;
  }
  std::vector<int32_t> counted;
  std::vector<int32_t> progress;
  // Stops before the entry of this index; never when negative.
  int stop_at = -1;
};

// Everything below |root|, relative, sorted, folders with a trailing "\".
std::vector<base::string16> Tree(const base::FilePath& root) {
  std::vector<base::string16> tree;
  base::FileEnumerator it(
      root, true,
      base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES);
  for (base::FilePath path = it.Next(); !path.empty(); path = it.Next()) {
    base::string16 relative = path.value().substr(root.value().size() + 1);
    if (base::DirectoryExists(path))
      relative += L"\\";
    tree.push_back(relative);
  }
  std::sort(tree.begin(), tree.end());
  return tree;
}

uint64_t LastWriteTime(const base::FilePath& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!::GetFileAttributesExW(path.value().c_str(), GetFileExInfoStandard,
                              &data)) {
    return 0;
  }
  return (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
         data.ftLastWriteTime.dwLowDateTime;
}

std::string Contents(const base::FilePath& path) {
  std::string contents;
  EXPECT_TRUE(base::ReadFileToString(path, &contents)) << path.value();
  return contents;
}

// What the free space seam answers.
uint64_t g_free_bytes = 0;

bool AnswerFreeBytes(const base::FilePath&, uint64_t* bytes) {
  *bytes = g_free_bytes;
  return true;
}

class LzmaUtilTest : public testing::Test {
 protected:
  void SetUp() override {
    data_ = test::TestData(L"lzma_util");
    ASSERT_TRUE(base::PathExists(data_.Append(L"package.exe")));
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    dest_ = temp_.GetPath().Append(L"x").Append(L"dest");
  }
  void TearDown() override {
    lzma::SetDecoderReadHookForTesting(nullptr);
    lzma::SetEntryReadHookForTesting(nullptr);
    lzma::SetFreeSpaceQueryForTesting(nullptr);
  }

  // Opens |name| of the test archives and extracts |names| into dest_.
  uint8_t Unpack(const wchar_t* name,
                 const std::set<base::FilePath>& names = {}) {
    LzmaUtil util;
    EXPECT_EQ(LzmaUtil::OPEN_SUCCESS, util.Open(data_.Append(name)));
    uint8_t result =
        util.Extract(dest_, names, &observer_, &written_, &created_);
    in_page_error_ = util.GetLastInPageError();
    return result;
  }

  base::FilePath data_;
  base::ScopedTempDir temp_;
  base::FilePath dest_;
  RecordingObserver observer_;
  std::vector<base::FilePath> written_;
  std::vector<base::FilePath> created_;
  uint32_t in_page_error_ = 0;
};

TEST_F(LzmaUtilTest, ExtractsThePackageBehindAStub) {
  ASSERT_EQ(LzmaUtil::EXTRACT_SUCCESS, Unpack(L"package.exe"));
  const base::FilePath src = data_.Append(L"package_src");
  EXPECT_EQ(Tree(src), Tree(dest_));  // Also: no temporary file is left.
  for (const wchar_t* file :
       {L"setup.exe", L"bin\\helper.exe", L"data\\random.bin", L"readme.txt"}) {
    SCOPED_TRACE(file);
    EXPECT_EQ(Contents(src.Append(file)), Contents(dest_.Append(file)));
    EXPECT_EQ(kPackedTime, LastWriteTime(dest_.Append(file)));
  }
  EXPECT_EQ(4u, written_.size());
  EXPECT_EQ(std::vector<int32_t>{7}, observer_.counted);
  EXPECT_EQ(std::vector<int32_t>({0, 1, 2, 3, 4, 5, 6}), observer_.progress);
  // The destination and its missing parent come first.
  ASSERT_LE(2u, created_.size());
  EXPECT_EQ(dest_.DirName(), created_[0]);
  EXPECT_EQ(dest_, created_[1]);
}

// A block of plain LZMA2, or LZMA behind the x86 branch filter, is decoded
// step by step while its entries are written; the result is the same as a
// whole block's decoding, and so are its failures.
TEST_F(LzmaUtilTest, WritesEntriesWhileDecodingTheBlock) {
  const base::FilePath src = data_.Append(L"many_src");
  for (const wchar_t* archive : {L"many.7z", L"many_bcj.7z"}) {
    SCOPED_TRACE(archive);
    ASSERT_TRUE(base::DeleteFile(dest_, true));
    written_.clear();
    observer_ = RecordingObserver();
    base::ScopedLogLines log(base::logging::LOG_INFO,
                             base::logging::LOG_INFO);
    ASSERT_EQ(LzmaUtil::EXTRACT_SUCCESS, Unpack(archive));
    EXPECT_NE(std::string::npos,
              log.text().find("1 of 1 blocks decoded step by step"))
        << log.text();
    EXPECT_EQ(Tree(src), Tree(dest_));
    ASSERT_EQ(40u, written_.size());
    for (const base::FilePath& file : written_) {
      const base::FilePath relative(
          file.value().substr(dest_.value().size() + 1));
      ASSERT_EQ(Contents(src.Append(relative)), Contents(file)) << file.value();
      EXPECT_EQ(kPackedTime, LastWriteTime(file));
    }
    EXPECT_EQ(std::vector<int32_t>{44}, observer_.counted);
    EXPECT_EQ(44u, observer_.progress.size());
  }

  // Damaged midway: what came before the damage was written and is listed.
  ASSERT_TRUE(base::DeleteFile(dest_, true));
  written_.clear();
  {
    base::ScopedLogLines log(base::logging::LOG_ERROR,
                             base::logging::LOG_ERROR);
    EXPECT_EQ(LzmaUtil::EXTRACT_DECODER_ERROR, Unpack(L"damaged_many.7z"));
    EXPECT_NE(std::string::npos, log.text().find("Error returned by SzExtract"))
        << log.text();
  }
  EXPECT_GT(40u, written_.size());
  for (const base::FilePath& file : written_)
    EXPECT_TRUE(base::PathExists(file)) << file.value();

  // Stopped midway: the entries before the stop are all written, and only
  // they, once Extract returns.
  ASSERT_TRUE(base::DeleteFile(dest_, true));
  written_.clear();
  observer_ = RecordingObserver();
  observer_.stop_at = 20;
  EXPECT_EQ(LzmaUtil::EXTRACT_INTERRUPTED, Unpack(L"many.7z"));
  EXPECT_EQ(20u, observer_.progress.size());
  std::vector<base::string16> names;
  {
    LzmaUtil util;
    ASSERT_EQ(LzmaUtil::OPEN_SUCCESS, util.Open(data_.Append(L"many.7z")));
    ASSERT_EQ(0, util.ListEntries(&names));
  }
  std::vector<base::FilePath> expected;
  for (size_t i = 0; i < 20; ++i) {
    std::replace(names[i].begin(), names[i].end(), L'/', L'\\');
    const base::FilePath path = dest_.Append(names[i]);
    if (!base::DirectoryExists(path))
      expected.push_back(path);
  }
  EXPECT_EQ(expected, written_);
  for (const base::FilePath& file : written_) {
    const base::FilePath relative(
        file.value().substr(dest_.value().size() + 1));
    EXPECT_EQ(Contents(src.Append(relative)), Contents(file)) << file.value();
  }
}

// Every folder made is listed, the parents of an entry too, outermost first.
TEST_F(LzmaUtilTest, ListsEveryFolderItMade) {
  ASSERT_EQ(LzmaUtil::EXTRACT_SUCCESS, Unpack(L"nested.7z"));
  EXPECT_EQ(
      std::vector<base::FilePath>(
          {dest_.DirName(), dest_, dest_.Append(L"a"), dest_.Append(L"a\\b")}),
      created_);
  EXPECT_EQ("nested file\n", Contents(dest_.Append(L"a\\b\\c.txt")));
}

// A file where a folder entry's folder goes: the folder is missing, which is
// not a success.
TEST_F(LzmaUtilTest, AFileWhereAFolderGoes) {
  const base::FilePath empty = dest_.Append(L"empty");
  ASSERT_TRUE(base::CreateDirectory(dest_));
  ASSERT_EQ(4, base::WriteFile(empty, "file", 4));
  base::ScopedLogLines log(base::logging::LOG_ERROR, base::logging::LOG_ERROR);
  EXPECT_EQ(LzmaUtil::EXTRACT_CREATE_FILE_FAILED, Unpack(L"package.exe"));
  EXPECT_NE(std::string::npos,
            log.text().find("Cannot create the folder " +
                            base::UTF16ToUTF8(empty.value())))
      << log.text();
  EXPECT_EQ("file", Contents(empty));
  EXPECT_EQ(created_.end(), std::find(created_.begin(), created_.end(), empty));
}

// An entry the archive holds no time for gets the time it is written at.
TEST_F(LzmaUtilTest, EntryWithoutTimeKeepsItsWritingTime) {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  // The file system's clock may lag the system's by a tick.
  const uint64_t before =
      ((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) -
      20000000;
  ASSERT_EQ(LzmaUtil::EXTRACT_SUCCESS, Unpack(L"no_time.7z"));
  EXPECT_LE(before, LastWriteTime(dest_.Append(L"a.txt")));
}

// Folders a reader made are remembered across extractions: reported again,
// never made again, even when they have gone meanwhile.
TEST_F(LzmaUtilTest, RemembersTheFoldersItMade) {
  const base::FilePath small = data_.Append(L"small.7z");
  const base::FilePath sub = dest_.Append(L"sub");
  LzmaUtil util;
  std::vector<base::FilePath> created;
  ASSERT_EQ(LzmaUtil::OPEN_SUCCESS, util.Open(small));
  ASSERT_EQ(LzmaUtil::EXTRACT_SUCCESS,
            util.Extract(dest_, {}, nullptr, nullptr, &created));
  EXPECT_EQ(
      std::vector<base::FilePath>({dest_.DirName(), dest_, sub, dest_, sub}),
      created);
  ASSERT_TRUE(base::DeleteFile(dest_, true));
  created.clear();
  ASSERT_EQ(LzmaUtil::OPEN_SUCCESS, util.Open(small));
  EXPECT_EQ(LzmaUtil::EXTRACT_CREATE_FILE_FAILED,
            util.Extract(dest_, {}, nullptr, nullptr, &created));
  // a.txt fails on a writer thread; the entry after it may have been
  // reached before that was known.
  ASSERT_LE(3u, created.size());
  EXPECT_EQ(std::vector<base::FilePath>({dest_, sub, dest_}),
            std::vector<base::FilePath>(created.begin(), created.begin() + 3));
  EXPECT_GE(4u, created.size());
  if (created.size() == 4) {
    EXPECT_EQ(sub, created[3]);
  }
  EXPECT_FALSE(base::PathExists(dest_));
  // Another reader lists only what it made itself.
  ASSERT_TRUE(base::CreateDirectory(dest_));
  created.clear();
  LzmaUtil other;
  ASSERT_EQ(LzmaUtil::OPEN_SUCCESS, other.Open(small));
  EXPECT_EQ(LzmaUtil::EXTRACT_SUCCESS,
            other.Extract(dest_, {}, nullptr, nullptr, &created));
  EXPECT_EQ(std::vector<base::FilePath>({sub, sub}), created);
}

TEST_F(LzmaUtilTest, ExtractsOnlyTheNamedFile) {
  ASSERT_EQ(LzmaUtil::EXTRACT_SUCCESS,
            Unpack(L"package.exe", {base::FilePath(L"bin\\helper.exe"),
                                    base::FilePath(L"not\\there.txt")}));
  EXPECT_EQ(std::vector<base::string16>({L"bin\\", L"bin\\helper.exe"}),
            Tree(dest_));
  EXPECT_EQ(std::vector<base::FilePath>{dest_.Append(L"bin\\helper.exe")},
            written_);
  EXPECT_EQ(std::vector<int32_t>{2}, observer_.counted);
  EXPECT_EQ(std::vector<int32_t>{0}, observer_.progress);
}

// The names as the archive holds them; Extract then finds the archive again.
TEST_F(LzmaUtilTest, ListEntriesBeforeExtract) {
  LzmaUtil util;
  std::vector<base::string16> names;
  EXPECT_EQ(LzmaUtil::EXTRACT_NOT_OPEN, util.ListEntries(&names));
  ASSERT_EQ(LzmaUtil::OPEN_SUCCESS, util.Open(data_.Append(L"package.exe")));
  ASSERT_EQ(LzmaUtil::EXTRACT_SUCCESS, util.ListEntries(&names));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(std::vector<base::string16>({L"bin", L"bin/helper.exe", L"data",
                                         L"data/random.bin", L"empty",
                                         L"readme.txt", L"setup.exe"}),
            names);
  EXPECT_EQ(LzmaUtil::EXTRACT_SUCCESS,
            util.Extract(dest_, {}, nullptr, nullptr, nullptr));
  ASSERT_EQ(LzmaUtil::OPEN_SUCCESS, util.Open(data_.Append(L"beyond_mib.exe")));
  EXPECT_EQ(LzmaUtil::EXTRACT_NO_SIGNATURE, util.ListEntries(&names));
}

TEST_F(LzmaUtilTest, ResultCodes) {
  const struct {
    const wchar_t* archive;
    uint8_t result;
    const char* log;  // A part of the error logged, or null for none.
  } kCases[] = {
      {L"straddle.7z", LzmaUtil::EXTRACT_SUCCESS, nullptr},
      {L"beyond_mib.exe", LzmaUtil::EXTRACT_NO_SIGNATURE, nullptr},
      {L"damaged_truncated.7z", LzmaUtil::EXTRACT_BAD_ARCHIVE,
       "Error returned by SzArchiveOpen: 6"},
      {L"damaged_random_after_signature.7z", LzmaUtil::EXTRACT_BAD_ARCHIVE,
       "Error returned by SzArchiveOpen: "},
      {L"damaged_header.7z", LzmaUtil::EXTRACT_BAD_ARCHIVE,
       "Error returned by SzArchiveOpen: 16"},
      // Refused before the claimed 400 MB are asked of the heap.
      {L"damaged_millions_of_entries.7z", LzmaUtil::EXTRACT_BAD_ARCHIVE,
       "Error returned by SzArchiveOpen: 2"},
      // Nor the 3 GiB claimed for the packed header.
      {L"damaged_huge_packed_header.7z", LzmaUtil::EXTRACT_BAD_ARCHIVE,
       "Error returned by SzArchiveOpen: 2"},
      {L"damaged_stream.7z", LzmaUtil::EXTRACT_DECODER_ERROR,
       "Error returned by SzExtract: "},
      // 2^60 bytes: larger than any file and than the memory.
      {L"damaged_huge_block.7z", LzmaUtil::EXTRACT_DECODER_ERROR,
       "Error returned by SzExtract: 2"},
      // No file system takes a name of 10,000 characters.
      {L"damaged_long_name.7z", LzmaUtil::EXTRACT_UNSAFE_NAME,
       "not a valid file name"},
      // 20,000 folders deep: refused before the first is made.
      {L"damaged_deep_name.7z", LzmaUtil::EXTRACT_UNSAFE_NAME,
       "\"a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/"},
  };
  // A drive with room for any claim: these cases are about the archive.
  g_free_bytes = 1ull << 62;
  lzma::SetFreeSpaceQueryForTesting(AnswerFreeBytes);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.archive);
    base::ScopedLogLines log(base::logging::LOG_ERROR,
                             base::logging::LOG_ERROR);
    EXPECT_EQ(c.result, Unpack(c.archive));
    if (c.log)
      EXPECT_NE(std::string::npos, log.text().find(c.log)) << log.text();
    else
      EXPECT_EQ("", log.text());
    // The allocator's temporary file is gone whatever happened.
    for (const base::string16& entry : Tree(dest_))
      EXPECT_FALSE(
          base::EndsWith(entry, L".tmp", base::CompareCase::INSENSITIVE_ASCII))
          << entry;
  }

  // No real drive holds the huge block's claim.
  lzma::SetFreeSpaceQueryForTesting(nullptr);
  EXPECT_EQ(LzmaUtil::EXTRACT_DISK_FULL, Unpack(L"damaged_huge_block.7z"));

  LzmaUtil util;
  EXPECT_EQ(LzmaUtil::EXTRACT_NOT_OPEN,
            util.Extract(dest_, {}, nullptr, nullptr, nullptr));
  EXPECT_EQ(LzmaUtil::OPEN_FILE_NOT_FOUND,
            util.Open(data_.Append(L"missing.7z")));
  EXPECT_EQ(LzmaUtil::EXTRACT_NOT_OPEN,
            util.Extract(dest_, {}, nullptr, nullptr, nullptr));
}

// A signed file's signature covers nothing from its certificate table on,
// the padding after the signature data included: an archive read from
// there would be unpacked with no signature behind it.
TEST_F(LzmaUtilTest, ReadsOnlyWhatTheSignatureCovers) {
  base::FilePath bin;
  ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &bin));
  data_ = bin.Append(L"signature_fixtures");
  const struct {
    const wchar_t* file;
    uint8_t result;
  } kCases[] = {
      {L"package.exe", LzmaUtil::EXTRACT_SUCCESS},
      // Bytes after a signed archive change nothing here.
      {L"padded_garbage.exe", LzmaUtil::EXTRACT_SUCCESS},
      {L"padded_archive.exe", LzmaUtil::EXTRACT_NO_SIGNATURE},
      // Signed start header and packed streams, header in the padding.
      {L"straddling_archive.exe", LzmaUtil::EXTRACT_BAD_ARCHIVE},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.file);
    ASSERT_TRUE(base::DeleteFile(dest_, true));
    written_.clear();
    base::ScopedLogLines log(base::logging::LOG_ERROR,
                             base::logging::LOG_ERROR);
    EXPECT_EQ(c.result, Unpack(c.file));
    LzmaUtil util;
    std::vector<base::string16> names;
    ASSERT_EQ(LzmaUtil::OPEN_SUCCESS, util.Open(data_.Append(c.file)));
    EXPECT_EQ(c.result, util.ListEntries(&names));
    if (c.result == LzmaUtil::EXTRACT_SUCCESS) {
      EXPECT_EQ("A test package.\r\n", Contents(dest_.Append(L"readme.txt")));
      EXPECT_EQ("", log.text());
      continue;
    }
    EXPECT_TRUE(written_.empty());
    EXPECT_FALSE(base::PathExists(dest_));
    EXPECT_TRUE(names.empty());
    EXPECT_NE(std::string::npos,
              log.text().find("Refusing the archive at offset "))
        << log.text();
  }
}

// Where the 7z archive in the signed image |bytes| ends by its start header,
// and where the image's certificate table starts: read here, not by the
// reader under test.
template <typename T>
T ReadAt(const std::string& bytes, size_t at) {
  T value = 0;
  if (at <= bytes.size() && bytes.size() - at >= sizeof(T))
    memcpy(&value, bytes.data() + at, sizeof(T));
  return value;
}

void FindArchiveAndTable(const std::string& bytes,
                         uint64_t* archive_end,
                         uint64_t* table) {
  const size_t nt = ReadAt<uint32_t>(bytes, 0x3C);
  const bool pe32_plus = ReadAt<uint16_t>(bytes, nt + 24) == 0x20B;
  *table = ReadAt<uint32_t>(bytes, nt + 24 + (pe32_plus ? 144 : 128));
  const size_t archive = bytes.find(std::string("7z\xBC\xAF\x27\x1C", 6));
  ASSERT_NE(std::string::npos, archive);
  *archive_end = archive + 32 + ReadAt<uint64_t>(bytes, archive + 12) +
                 ReadAt<uint64_t>(bytes, archive + 20);
}

// The signature covers everything up to the certificate table, which the
// signing tool starts at a multiple of 8 bytes: a package whose stub and
// archive fill exactly that much has its archive end right where the table
// starts, and is read as any other.
TEST_F(LzmaUtilTest, ArchiveEndingWhereTheTableStartsIsRead) {
  base::FilePath bin;
  ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &bin));
  data_ = bin.Append(L"signature_fixtures");
  std::string bytes;
  ASSERT_TRUE(
      base::ReadFileToString(data_.Append(L"package_aligned.exe"), &bytes));
  uint64_t archive_end = 0;
  uint64_t table = 0;
  ASSERT_NO_FATAL_FAILURE(FindArchiveAndTable(bytes, &archive_end, &table));
  ASSERT_NE(0u, table);
  ASSERT_EQ(table, archive_end) << "the fixture's archive must end at its "
                                   "certificate table";
  base::ScopedLogLines log(base::logging::LOG_ERROR, base::logging::LOG_ERROR);
  EXPECT_EQ(LzmaUtil::EXTRACT_SUCCESS, Unpack(L"package_aligned.exe"));
  EXPECT_EQ("A test package.\r\n", Contents(dest_.Append(L"readme.txt")));
  EXPECT_TRUE(base::PathExists(dest_.Append(L"installer.exe")));
  LzmaUtil util;
  std::vector<base::string16> names;
  ASSERT_EQ(LzmaUtil::OPEN_SUCCESS,
            util.Open(data_.Append(L"package_aligned.exe")));
  EXPECT_EQ(LzmaUtil::EXTRACT_SUCCESS, util.ListEntries(&names));
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<base::string16>{L"filler.txt", L"installer.exe",
                                         L"readme.txt"}),
            names);
  EXPECT_EQ("", log.text());
}

// An entry that would land outside the destination refuses the whole
// archive before its first, harmless, entry is written.
TEST_F(LzmaUtilTest, RefusesEntriesOutsideTheDestination) {
  std::string names;
  ASSERT_TRUE(
      base::ReadFileToString(data_.Append(L"unsafe_names.txt"), &names));
  const base::FilePath victims[] = {
      temp_.GetPath().Append(L"evil.txt"),
      base::FilePath(L"C:\\kavor_lzma_abs.txt"),
      base::FilePath(L"C:\\kavor_lzma_q.txt"),
      temp_.GetPath().Append(L"x\\x.txt"),
      base::FilePath(L"C:\\rooted.txt"),
  };
  ASSERT_TRUE(base::CreateDirectory(dest_.DirName()));
  for (const base::FilePath& victim : victims)
    ASSERT_EQ(6, base::WriteFile(victim, "victim", 6)) << victim.value();
  int index = 0;
  for (const std::string& name : base::SplitString(
           names, "\n", base::KEEP_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
    SCOPED_TRACE(name);
    base::ScopedLogLines log(base::logging::LOG_ERROR,
                             base::logging::LOG_ERROR);
    EXPECT_EQ(
        LzmaUtil::EXTRACT_UNSAFE_NAME,
        Unpack(base::UTF8ToWide("unsafe_" + std::to_string(index++) + ".7z")
                   .c_str()));
    EXPECT_NE(std::string::npos, log.text().find("\"" + name + "\""))
        << log.text();
    EXPECT_TRUE(written_.empty());
    EXPECT_TRUE(created_.empty());
    EXPECT_FALSE(base::PathExists(dest_));
    for (const base::FilePath& victim : victims)
      EXPECT_EQ("victim", Contents(victim));
  }
  for (const base::FilePath& victim : victims)
    EXPECT_TRUE(base::DeleteFile(victim, false));
}

// A joined path of MAX_PATH characters is one too long for CreateFileW;
// one character less is not the name check's to refuse.
TEST_F(LzmaUtilTest, JoinedPathOfMaxPathCharactersIsRefused) {
  const size_t kEntry = base::FilePath(L"\\a.txt").value().size();
  for (const size_t length : {size_t{MAX_PATH}, size_t{MAX_PATH - 1}}) {
    SCOPED_TRACE(length);
    // The destination's last part fills it up to |length| with the entry.
    const base::FilePath parent = temp_.GetPath().Append(L"p");
    ASSERT_LT(parent.value().size() + 1 + 8, length - kEntry);
    dest_ = parent.Append(
        std::wstring(length - kEntry - parent.value().size() - 1, L'd'));
    ASSERT_EQ(length, dest_.Append(L"a.txt").value().size());
    base::ScopedLogLines log(base::logging::LOG_ERROR,
                             base::logging::LOG_ERROR);
    const uint8_t result = Unpack(L"no_time.7z");
    const bool refused = log.text().find("would make a path of " +
                                         std::to_string(length)) !=
                         std::string::npos;
    if (length == MAX_PATH) {
      EXPECT_EQ(LzmaUtil::EXTRACT_UNSAFE_NAME, result);
      EXPECT_TRUE(refused) << log.text();
      EXPECT_FALSE(base::PathExists(parent));
    } else {
      // Whether the system makes such a folder is not the reader's rule.
      EXPECT_NE(LzmaUtil::EXTRACT_UNSAFE_NAME, result);
      EXPECT_FALSE(refused) << log.text();
    }
  }
}

// What was written before a failure stays listed.
TEST_F(LzmaUtilTest, ListsWhatItWroteBeforeAFailure) {
  // The output path of sub\b.txt is a folder.
  ASSERT_TRUE(base::CreateDirectory(dest_.Append(L"sub\\b.txt")));
  base::ScopedLogLines log(base::logging::LOG_ERROR, base::logging::LOG_ERROR);
  EXPECT_EQ(LzmaUtil::EXTRACT_CREATE_FILE_FAILED, Unpack(L"small.7z"));
  EXPECT_EQ(std::vector<base::FilePath>{dest_.Append(L"a.txt")}, written_);
  EXPECT_EQ(std::vector<base::FilePath>(), created_);
  EXPECT_EQ("first file\n", Contents(dest_.Append(L"a.txt")).substr(0, 11));
}

TEST_F(LzmaUtilTest, WriteFailure) {
  dest_ = data_.Append(L"write_fails");
  base::ScopedLogLines log(base::logging::LOG_ERROR, base::logging::LOG_ERROR);
  EXPECT_EQ(LzmaUtil::EXTRACT_WRITE_FAILED,
            Unpack(L"small.7z", {base::FilePath(L"a.txt")}));
  EXPECT_EQ(std::vector<base::FilePath>{dest_.Append(L"a.txt")}, written_);
  EXPECT_NE(std::string::npos,
            log.text().find("Error returned by WriteFile 112"))
      << log.text();
  EXPECT_EQ(std::vector<base::string16>{L"a.txt"}, Tree(dest_));
}

TEST_F(LzmaUtilTest, InPageErrorInTheMappedBlock) {
  static int outside_seen;
  outside_seen = 0;
  // A handler behind the reader's: sees what the reader lets pass.
  PVOID last =
      ::AddVectoredExceptionHandler(0, [](EXCEPTION_POINTERS* info) -> LONG {
        const DWORD code = info->ExceptionRecord->ExceptionCode;
        if (code != EXCEPTION_IN_PAGE_ERROR &&
            code != EXCEPTION_ACCESS_VIOLATION) {
          return EXCEPTION_CONTINUE_SEARCH;
        }
        ++outside_seen;
        return EXCEPTION_CONTINUE_EXECUTION;
      });
  const struct {
    lzma::DecoderReadHook hook;
    uint8_t result;
    uint32_t in_page_error;
    bool passed_on;
  } kCases[] = {
      {[](void* view, size_t size) {
         const ULONG_PTR info[] = {
             1, reinterpret_cast<ULONG_PTR>(view) + size - 1, kStatusDiskFull};
         ::RaiseException(EXCEPTION_IN_PAGE_ERROR, 0, 3, info);
       },
       LzmaUtil::EXTRACT_IN_PAGE_ERROR, kStatusDiskFull, false},
      // How Wine reports a page of the view that a full drive cannot take.
      {[](void* view, size_t size) {
         const ULONG_PTR info[] = {1, reinterpret_cast<ULONG_PTR>(view) + 1};
         ::RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 2, info);
       },
       LzmaUtil::EXTRACT_IN_PAGE_ERROR, EXCEPTION_ACCESS_VIOLATION, false},
      {[](void* view, size_t size) {
         const ULONG_PTR info[] = {1, reinterpret_cast<ULONG_PTR>(view) + size};
         ::RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 2, info);
       },
       LzmaUtil::EXTRACT_SUCCESS, 0, true},
      // Outside the view: not the reader's to catch.
      {[](void* view, size_t size) {
         const ULONG_PTR info[] = {1, reinterpret_cast<ULONG_PTR>(view) + size,
                                   kStatusDiskFull};
         ::RaiseException(EXCEPTION_IN_PAGE_ERROR, 0, 3, info);
       },
       LzmaUtil::EXTRACT_SUCCESS, 0, true},
      // Inside the view, but on another thread: that thread's decoding (if
      // any) is not the one guarded here.
      {[](void* view, size_t) {
         HANDLE thread = ::CreateThread(
             nullptr, 0,
             [](void* address) -> DWORD {
               const ULONG_PTR info[] = {
                   1, reinterpret_cast<ULONG_PTR>(address), kStatusDiskFull};
               ::RaiseException(EXCEPTION_IN_PAGE_ERROR, 0, 3, info);
               return 0;
             },
             view, 0, nullptr);
         ASSERT_NE(nullptr, thread);
         ::WaitForSingleObject(thread, INFINITE);
         ::CloseHandle(thread);
       },
       LzmaUtil::EXTRACT_SUCCESS, 0, true},
  };
  for (const auto& c : kCases) {
    outside_seen = 0;
    ASSERT_TRUE(base::DeleteFile(dest_, true));
    lzma::SetDecoderReadHookForTesting(c.hook);
    base::ScopedLogLines log(base::logging::LOG_ERROR,
                             base::logging::LOG_ERROR);
    EXPECT_EQ(c.result, Unpack(L"package.exe"));
    EXPECT_EQ(c.in_page_error, in_page_error_);
    EXPECT_EQ(c.passed_on, outside_seen > 0);
    if (c.in_page_error) {
      EXPECT_NE(std::string::npos,
                log.text().find("EXCEPTION_IN_PAGE_ERROR while accessing "
                                "mapped memory; NTSTATUS = " +
                                std::to_string(c.in_page_error)))
          << log.text();
      EXPECT_NE(std::string::npos,
                log.text().find("Cannot write the unpacked block to "))
          << log.text();
    }
    for (const base::string16& entry : Tree(dest_))
      EXPECT_FALSE(
          base::EndsWith(entry, L".tmp", base::CompareCase::INSENSITIVE_ASCII))
          << entry;
  }

  // Once Extract has returned, nothing of the reader watches the view's old
  // addresses any more.
  static void* old_view;
  old_view = nullptr;
  lzma::SetDecoderReadHookForTesting(
      [](void* view, size_t) { old_view = view; });
  ASSERT_TRUE(base::DeleteFile(dest_, true));
  EXPECT_EQ(LzmaUtil::EXTRACT_SUCCESS, Unpack(L"package.exe"));
  ASSERT_NE(nullptr, old_view);
  outside_seen = 0;
  const ULONG_PTR info[] = {1, reinterpret_cast<ULONG_PTR>(old_view),
                            kStatusDiskFull};
  ::RaiseException(EXCEPTION_IN_PAGE_ERROR, 0, 3, info);
  EXPECT_EQ(1, outside_seen);
  ::RemoveVectoredExceptionHandler(last);
}

// What the writers' tests make unreadable, and what reaches the handler
// behind the reader's.
std::atomic<uintptr_t> g_unreadable_start{0};
std::atomic<uintptr_t> g_unreadable_end{0};
std::atomic<int> g_passed_on{0};

// Behind the reader's handler: counts what the reader lets pass, and makes
// the unreadable pages readable again so that the faulting read goes on.
LONG CALLBACK LastHandler(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  if (record->ExceptionCode != EXCEPTION_IN_PAGE_ERROR &&
      record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  ++g_passed_on;
  const uintptr_t address = record->ExceptionInformation[1];
  if (address >= g_unreadable_start && address < g_unreadable_end) {
    DWORD old = 0;
    ::VirtualProtect(reinterpret_cast<void*>(g_unreadable_start.load()),
                     g_unreadable_end - g_unreadable_start, PAGE_READWRITE,
                     &old);
  }
  return EXCEPTION_CONTINUE_EXECUTION;
}

// Makes the whole pages of [start, end) unreadable.
void MakeUnreadable(uintptr_t start, uintptr_t end) {
  const uintptr_t page = 4096;
  start = (start + page - 1) & ~(page - 1);
  end &= ~(page - 1);
  ASSERT_LT(start, end);
  g_unreadable_start = start;
  g_unreadable_end = end;
  DWORD old = 0;
  ASSERT_TRUE(::VirtualProtect(reinterpret_cast<void*>(start), end - start,
                               PAGE_NOACCESS, &old));
}

// A page of the block that a writer thread cannot read back (the drive
// failed, or is full) fails that entry with the in-page result, and with it
// the extraction, instead of the process; the entry's file is not made. A
// WriteFile from such a page fails too.
TEST_F(LzmaUtilTest, UnreadablePageOfTheBlockFailsAWriter) {
  const DWORD kStatusDeviceData = 0xC000009C;
  PVOID last = ::AddVectoredExceptionHandler(0, LastHandler);
  static std::atomic<int> reads;
  static std::atomic<uintptr_t> view_end;

  // Raised on the tenth entry a writer reads.
  reads = 0;
  g_passed_on = 0;
  lzma::SetEntryReadHookForTesting([](const void* data, size_t size) {
    if (++reads != 10)
      return;
    const ULONG_PTR info[] = {
        0, reinterpret_cast<ULONG_PTR>(data) + size - 1, kStatusDeviceData};
    ::RaiseException(EXCEPTION_IN_PAGE_ERROR, 0, 3, info);
  });
  {
    base::ScopedLogLines log(base::logging::LOG_ERROR,
                             base::logging::LOG_ERROR);
    EXPECT_EQ(LzmaUtil::EXTRACT_IN_PAGE_ERROR, Unpack(L"many.7z"));
    EXPECT_NE(std::string::npos,
              log.text().find("EXCEPTION_IN_PAGE_ERROR while accessing "
                              "mapped memory; NTSTATUS = " +
                              std::to_string(kStatusDeviceData)))
        << log.text();
    EXPECT_NE(std::string::npos,
              log.text().find("Cannot read back the unpacked block on "))
        << log.text();
  }
  EXPECT_EQ(kStatusDeviceData, in_page_error_);
  EXPECT_EQ(0, g_passed_on.load());
  EXPECT_LE(10, reads.load());
  // The failed entry has no file; what was written is listed.
  EXPECT_GT(40u, written_.size());
  size_t files = 0;
  for (const base::string16& entry : Tree(dest_)) {
    EXPECT_FALSE(
        base::EndsWith(entry, L".tmp", base::CompareCase::INSENSITIVE_ASCII))
        << entry;
    files += entry.back() != L'\\';
  }
  EXPECT_EQ(written_.size(), files);

  // A real fault: the inner pages of the block's last entry, which the
  // decoder has done with once it hands the entry out, cannot be read.
  ASSERT_TRUE(base::DeleteFile(dest_, true));
  written_.clear();
  view_end = 0;
  g_passed_on = 0;
  lzma::SetDecoderReadHookForTesting([](void* view, size_t size) {
    view_end = reinterpret_cast<uintptr_t>(view) + size;
  });
  lzma::SetEntryReadHookForTesting([](const void* data, size_t size) {
    const uintptr_t start = reinterpret_cast<uintptr_t>(data);
    if (start + size == view_end)
      MakeUnreadable(start, start + size);
  });
  EXPECT_EQ(LzmaUtil::EXTRACT_IN_PAGE_ERROR, Unpack(L"many.7z"));
  EXPECT_EQ(static_cast<uint32_t>(EXCEPTION_ACCESS_VIOLATION), in_page_error_);
  EXPECT_EQ(0, g_passed_on.load());
  EXPECT_NE(0u, g_unreadable_start.load());
  EXPECT_EQ(39u, written_.size());
  EXPECT_FALSE(base::PathExists(dest_.Append(L"part3\\file39.bin")));
  g_unreadable_start = 0;
  g_unreadable_end = 0;

  // WriteFile from a page it cannot read fails, and says so.
  const size_t page = 4096;
  uint8_t* buffer = static_cast<uint8_t*>(
      ::VirtualAlloc(nullptr, 2 * page, MEM_COMMIT | MEM_RESERVE,
                     PAGE_READWRITE));
  ASSERT_NE(nullptr, buffer);
  memset(buffer, 'k', 2 * page);
  MakeUnreadable(reinterpret_cast<uintptr_t>(buffer) + page,
                 reinterpret_cast<uintptr_t>(buffer) + 2 * page);
  g_passed_on = 0;
  bool created = false;
  {
    base::ScopedLogLines log(base::logging::LOG_ERROR,
                             base::logging::LOG_ERROR);
    EXPECT_EQ(LzmaUtil::EXTRACT_WRITE_FAILED,
              lzma::WriteEntryFile(dest_.Append(L"bad_page.bin"), buffer,
                                   2 * page, nullptr, &created));
    EXPECT_NE(std::string::npos, log.text().find("Error returned by WriteFile"))
        << log.text();
  }
  EXPECT_TRUE(created);
  EXPECT_EQ(0, g_passed_on.load());
  g_unreadable_start = 0;
  g_unreadable_end = 0;
  ::VirtualFree(buffer, 0, MEM_RELEASE);
  ::RemoveVectoredExceptionHandler(last);
}

uint64_t FileSize(const base::FilePath& path) {
  return Contents(path).size();
}

// A drive without room for the entries to write refuses the extraction
// before anything is made; a block larger than the free space is never
// mapped (its pages would fault once the drive is full), so an extraction
// of fewer entries than the block holds still succeeds.
TEST_F(LzmaUtilTest, FreeSpaceIsCheckedBeforeWritingOrMapping) {
  static bool mapped;
  mapped = false;
  lzma::SetDecoderReadHookForTesting([](void*, size_t) { mapped = true; });
  lzma::SetFreeSpaceQueryForTesting(AnswerFreeBytes);
  const base::FilePath src = data_.Append(L"package_src");
  uint64_t all = 0;
  for (const wchar_t* file :
       {L"setup.exe", L"bin\\helper.exe", L"data\\random.bin", L"readme.txt"}) {
    all += FileSize(src.Append(file));
  }
  g_free_bytes = all - 1;
  {
    base::ScopedLogLines log(base::logging::LOG_ERROR,
                             base::logging::LOG_ERROR);
    EXPECT_EQ(LzmaUtil::EXTRACT_DISK_FULL, Unpack(L"package.exe"));
    EXPECT_NE(std::string::npos,
              log.text().find("Not enough space on ")) << log.text();
    EXPECT_NE(std::string::npos,
              log.text().find(std::to_string(all) + " bytes needed, " +
                              std::to_string(all - 1) + " free"))
        << log.text();
  }
  EXPECT_TRUE(written_.empty());
  EXPECT_TRUE(created_.empty());
  EXPECT_FALSE(base::PathExists(dest_.DirName()));
  EXPECT_FALSE(mapped);

  const base::FilePath helper(L"bin\\helper.exe");
  g_free_bytes = FileSize(src.Append(helper));
  ASSERT_LT(g_free_bytes, all);
  ASSERT_EQ(LzmaUtil::EXTRACT_SUCCESS, Unpack(L"package.exe", {helper}));
  EXPECT_EQ(Contents(src.Append(helper)), Contents(dest_.Append(helper)));
  EXPECT_FALSE(mapped);

  g_free_bytes = all;
  ASSERT_TRUE(base::DeleteFile(dest_, true));
  EXPECT_EQ(LzmaUtil::EXTRACT_SUCCESS, Unpack(L"package.exe"));
  EXPECT_TRUE(mapped);
}

// Run by the full-drive end-to-end test, which mounts a small drive and
// names a folder on it in KAVOR_SMALL_DRIVE: a view whose pages the drive
// cannot take faults, and that fails the extraction instead of the process.
TEST_F(LzmaUtilTest, DISABLED_OnASmallDriveFaultsInTheViewFailTheExtraction) {
  const char* drive = getenv("KAVOR_SMALL_DRIVE");
  ASSERT_TRUE(drive) << "KAVOR_SMALL_DRIVE names no folder";
  const base::FilePath root = base::FilePath(base::UTF8ToWide(drive))
                                  .Append(L"lzma_util_test");
  ASSERT_TRUE(base::CreateDirectory(root));
  // Leaves 64 KiB free, less than the package's block.
  ULARGE_INTEGER available = {};
  ASSERT_TRUE(::GetDiskFreeSpaceExW(root.value().c_str(), &available, nullptr,
                                    nullptr));
  ASSERT_GT(available.QuadPart, 64u << 10);
  const std::string fill(available.QuadPart - (64 << 10), '\0');
  ASSERT_EQ(static_cast<int>(fill.size()),
            base::WriteFile(root.Append(L"fill"), fill.data(),
                            static_cast<int>(fill.size())));
  dest_ = root.Append(L"dest");
  // The drive is said to have room, so the block is mapped.
  g_free_bytes = 1ull << 40;
  lzma::SetFreeSpaceQueryForTesting(AnswerFreeBytes);
  EXPECT_EQ(LzmaUtil::EXTRACT_IN_PAGE_ERROR, Unpack(L"package.exe"));
  EXPECT_NE(0u, in_page_error_);
  // Told the truth, the reader refuses before it writes.
  lzma::SetFreeSpaceQueryForTesting(nullptr);
  ASSERT_TRUE(base::DeleteFile(dest_, true));
  written_.clear();
  EXPECT_EQ(LzmaUtil::EXTRACT_DISK_FULL, Unpack(L"package.exe"));
  EXPECT_TRUE(written_.empty());
  EXPECT_TRUE(base::DeleteFile(root, true));
}

// Claimed sizes the heap cannot give are refused, not asked for.
TEST_F(LzmaUtilTest, AllocatorLimits) {
  {
    lzma::MappedFileAllocator no_file(temp_.GetPath().Append(L"none"), 1 << 20);
    EXPECT_EQ(nullptr, no_file.Allocate(2 << 20));
    void* block = no_file.Allocate(512 << 10);
    EXPECT_NE(nullptr, block);
    EXPECT_EQ(nullptr, no_file.Allocate(768 << 10));
    no_file.Free(block);
  }
  base::FilePath temporary;
  {
    lzma::MappedFileAllocator mapped(temp_.GetPath(), 256 << 20);
    temporary = mapped.path();
    EXPECT_TRUE(base::PathExists(temporary));
    char* view = static_cast<char*>(mapped.Allocate(2 << 20));
    ASSERT_NE(nullptr, view);
    EXPECT_EQ(view, mapped.view());
    view[(2 << 20) - 1] = 1;
    // Only one block is mapped at a time: a second, larger one comes from
    // the heap and leaves the view as it was.
    void* second = mapped.Allocate(64 << 20);
    ASSERT_NE(nullptr, second);
    EXPECT_NE(view, second);
    EXPECT_EQ(view, mapped.view());
    EXPECT_EQ(2u << 20, mapped.view_size());
    EXPECT_EQ(1, view[(2 << 20) - 1]);
    mapped.Free(second);
    mapped.Free(view);
    EXPECT_EQ(nullptr, mapped.view());
    // With the view gone, the next block is mapped again.
    void* again = mapped.Allocate(4 << 20);
    ASSERT_NE(nullptr, again);
    EXPECT_EQ(again, mapped.view());
    mapped.Free(again);
  }
  EXPECT_FALSE(base::PathExists(temporary));
}

}  // namespace

}  // namespace installer
