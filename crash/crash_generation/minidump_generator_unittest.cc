#include "crash/crash_generation/minidump_generator.h"

#include <windows.h>
#include <dbghelp.h>
#include <string.h>

#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/files/file_path.h"
#include "base/files/scoped_temp_dir.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "crash/crash_generation/handle_trace.h"
#include "crash/test/minidump_file.h"
#include "crash/test/test_program.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

using test::FileNamesIn;
using test::IsUuidName;
using test::MinidumpFile;

// An exception of this thread, as a filter would receive it.
struct LocalException {
  explicit LocalException(DWORD code) {
    ::RtlCaptureContext(&context);
    record.ExceptionCode = code;
    record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
  }
  EXCEPTION_RECORD record = {};
  CONTEXT context = {};
  EXCEPTION_POINTERS pointers = {&record, &context};
};

AssertionInfo MakeAssertion() {
  AssertionInfo assertion = {};
  wcscpy(assertion.expression, L"size <= capacity");
  wcscpy(assertion.function, L"Reserve");
  wcscpy(assertion.file, L"buffer.cc");
  assertion.line = 42;
  assertion.type = ASSERTION_INVALID_PARAMETER;
  return assertion;
}

// Stands in for verifier.dll, which Wine lacks.
struct FakeVerifier {
  static int loads;
  static int enumerations;
  static HANDLE enumerated_process;
  static ULONG answer;
  static std::vector<AVRF_HANDLE_OPERATION> records;

  static VerifierEnumerateResourceFunction Load(HMODULE* module) {
    ++loads;
    *module = nullptr;
    return &Enumerate;
  }
  static ULONG NTAPI Enumerate(HANDLE process,
                               ULONG flags,
                               ULONG resource_type,
                               AVRF_RESOURCE_ENUMERATE_CALLBACK callback,
                               PVOID context) {
    ++enumerations;
    enumerated_process = process;
    EXPECT_EQ(0u, flags);
    EXPECT_EQ(static_cast<ULONG>(AvrfResourceHandleTrace), resource_type);
    for (AVRF_HANDLE_OPERATION& record : records) {
      ULONG level = 0xffffffff;
      EXPECT_EQ(0u, callback(&record, context, &level));
      EXPECT_EQ(0u, level);
    }
    return answer;
  }
};
int FakeVerifier::loads;
int FakeVerifier::enumerations;
HANDLE FakeVerifier::enumerated_process;
ULONG FakeVerifier::answer;
std::vector<AVRF_HANDLE_OPERATION> FakeVerifier::records;

AVRF_HANDLE_OPERATION Operation(ULONG64 handle, ULONG type, ULONG thread) {
  AVRF_HANDLE_OPERATION record = {};
  record.Handle = handle;
  record.OperationType = type;
  record.ThreadId = thread;
  record.BackTraceInformation.Depth = 1;
  record.BackTraceInformation.ReturnAddresses[0] = handle * 16 + thread;
  return record;
}

// The dumps are of a small child process: Wine's DbgHelp takes seconds to
// dump a process with as many modules as the test executable.
class MinidumpGeneratorTest : public testing::Test {
 protected:
  void SetUp() override {
    test::SkipDebugInfoWhileDumping();
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    base::FilePath exe_dir;
    ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &exe_dir));
    child_ = test::StartTestProgram(
        L"\"" + exe_dir.Append(L"kavor_test_child.exe").value() + L"\" sleep",
        base::LaunchOptions());
    ASSERT_TRUE(child_.IsValid()) << "the test child did not start";
    ASSERT_TRUE(test::WaitForFirstThread(child_.Pid(), &child_thread_));

    FakeVerifier::loads = 0;
    FakeVerifier::enumerations = 0;
    FakeVerifier::enumerated_process = nullptr;
    FakeVerifier::answer = 0;
    // Three handles; the last bad reference is to 0x20.
    FakeVerifier::records = {
        Operation(0x10, OperationDbOPEN, 1),
        Operation(0x20, OperationDbOPEN, 2),
        Operation(0x30, OperationDbOPEN, 3),
        Operation(0x10, OperationDbBADREF, 4),
        Operation(0x20, OperationDbCLOSE, 5),
        Operation(0x20, OperationDbBADREF, 6),
        Operation(0x30, OperationDbCLOSE, 7),
    };
  }

  void TearDown() override {
    SetVerifierLoaderForTesting(nullptr);
    if (child_.IsValid())
      child_.Terminate(0, true);
  }

  const base::FilePath& folder() const { return temp_.GetPath(); }

  // A generator for a dump of the child, as if its thread had crashed.
  std::unique_ptr<MinidumpGenerator> ChildGenerator(
      EXCEPTION_POINTERS* pointers,
      AssertionInfo* assertion,
      uint32_t dump_type,
      bool client_pointers) {
    return std::make_unique<MinidumpGenerator>(
        folder().value(), child_.Handle(), child_.Pid(), child_thread_,
        kRequestingThread, pointers, assertion, dump_type, client_pointers);
  }

  // Copies |size| bytes into fresh memory of the child; its address there.
  void* CopyToChild(const void* data, size_t size) {
    void* remote = ::VirtualAllocEx(child_.Handle(), nullptr, size,
                                    MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    SIZE_T written = 0;
    EXPECT_TRUE(
        remote &&
        ::WriteProcessMemory(child_.Handle(), remote, data, size, &written) &&
        written == size);
    return remote;
  }

  // An exception of the child, in the child's memory: its pointers.
  EXCEPTION_POINTERS* ChildException(DWORD code) {
    LocalException local(code);
    EXCEPTION_POINTERS remote = {static_cast<EXCEPTION_RECORD*>(CopyToChild(
                                     &local.record, sizeof(local.record))),
                                 static_cast<CONTEXT*>(CopyToChild(
                                     &local.context, sizeof(local.context)))};
    return static_cast<EXCEPTION_POINTERS*>(
        CopyToChild(&remote, sizeof(remote)));
  }

  // Writes the dump of |generator|, closes it and opens the dump.
  void WriteAndOpen(std::unique_ptr<MinidumpGenerator> generator,
                    MinidumpFile* dump) {
    std::wstring path;
    ASSERT_TRUE(generator->GenerateDumpFile(&path));
    ASSERT_TRUE(generator->WriteMinidump());
    generator.reset();
    ASSERT_TRUE(dump->Open(base::FilePath(path)));
  }

  static constexpr DWORD kRequestingThread = 4242;

  base::ScopedTempDir temp_;
  base::Process child_;
  DWORD child_thread_ = 0;
};

TEST_F(MinidumpGeneratorTest, GUIDStringIsLowerCaseWithLeadingZeros) {
  const GUID guid = {0x0a1b2c3d,
                     0x00ef,
                     0x0001,
                     {0x00, 0xff, 0x01, 0x23, 0x45, 0x67, 0x89, 0xab}};
  EXPECT_EQ(L"0a1b2c3d-00ef-0001-00ff-0123456789ab", GUIDString(guid));
}

TEST_F(MinidumpGeneratorTest, LocalPointers) {
  LocalException exception(EXCEPTION_ACCESS_VIOLATION);
  AssertionInfo assertion = MakeAssertion();
  auto generator =
      ChildGenerator(&exception.pointers, &assertion, MiniDumpNormal, false);
  std::wstring path;
  ASSERT_TRUE(generator->GenerateDumpFile(&path));
  EXPECT_EQ(folder().value(), base::FilePath(path).DirName().value());
  // One dump file per generator.
  EXPECT_FALSE(generator->GenerateDumpFile(nullptr));
  // Without a full-memory type there is no full dump.
  EXPECT_FALSE(generator->GenerateFullDumpFile(nullptr));
  ASSERT_TRUE(generator->WriteMinidump());
  generator.reset();

  std::vector<std::wstring> names = FileNamesIn(folder());
  ASSERT_EQ(1u, names.size());
  EXPECT_TRUE(IsUuidName(names[0], L".dmp")) << names[0];

  MinidumpFile dump;
  ASSERT_TRUE(dump.Open(base::FilePath(path)));
  const MINIDUMP_EXCEPTION_STREAM* stream = dump.exception();
  ASSERT_TRUE(stream);
  EXPECT_EQ(child_thread_, stream->ThreadId);
  EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION),
            stream->ExceptionRecord.ExceptionCode);
  const HandlerInfo* info = dump.handler_info();
  ASSERT_TRUE(info);
  EXPECT_EQ(3u, info->validity);
  EXPECT_EQ(child_thread_, info->dump_thread_id);
  EXPECT_EQ(kRequestingThread, info->requesting_thread_id);
  const AssertionInfo* stored = dump.assertion();
  ASSERT_TRUE(stored);
  EXPECT_EQ(0, memcmp(&assertion, stored, sizeof(assertion)));
  EXPECT_FALSE(dump.HasStream(HandleOperationListStream));
}

TEST_F(MinidumpGeneratorTest, ClientPointersAndTheHandleTrace) {
  SetVerifierLoaderForTesting(&FakeVerifier::Load);
  AssertionInfo assertion = MakeAssertion();
  auto* remote_assertion =
      static_cast<AssertionInfo*>(CopyToChild(&assertion, sizeof(assertion)));
  MinidumpFile dump;
  ASSERT_NO_FATAL_FAILURE(
      WriteAndOpen(ChildGenerator(ChildException(STATUS_INVALID_HANDLE),
                                  remote_assertion, MiniDumpNormal, true),
                   &dump));

  // The records were read out of the client.
  const AssertionInfo* stored = dump.assertion();
  ASSERT_TRUE(stored);
  EXPECT_STREQ(L"size <= capacity", stored->expression);
  EXPECT_EQ(42u, stored->line);
  ASSERT_TRUE(dump.exception());
  EXPECT_EQ(static_cast<DWORD>(STATUS_INVALID_HANDLE),
            dump.exception()->ExceptionRecord.ExceptionCode);
  // Thread ids of the server mean nothing in the client's dump.
  const HandlerInfo* info = dump.handler_info();
  ASSERT_TRUE(info);
  EXPECT_EQ(0u, info->validity);
  EXPECT_EQ(0u, info->dump_thread_id);
  EXPECT_EQ(0u, info->requesting_thread_id);

  // The trace of the handle of the last bad reference only.
  EXPECT_EQ(1, FakeVerifier::loads);
  EXPECT_EQ(1, FakeVerifier::enumerations);
  EXPECT_EQ(child_.Handle(), FakeVerifier::enumerated_process);
  ULONG size = 0;
  const auto* list = static_cast<const MINIDUMP_HANDLE_OPERATION_LIST*>(
      dump.Stream(HandleOperationListStream, &size));
  ASSERT_TRUE(list);
  ASSERT_EQ(16u + 3 * 288u, size);
  EXPECT_EQ(16u, list->SizeOfHeader);
  EXPECT_EQ(288u, list->SizeOfEntry);
  EXPECT_EQ(3u, list->NumberOfEntries);
  EXPECT_EQ(0u, list->Reserved);
  const auto* records =
      reinterpret_cast<const AVRF_HANDLE_OPERATION*>(list + 1);
  const ULONG expected_threads[] = {2, 5, 6};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(0x20u, records[i].Handle);
    EXPECT_EQ(expected_threads[i], records[i].ThreadId);
    EXPECT_EQ(0x20u * 16 + expected_threads[i],
              records[i].BackTraceInformation.ReturnAddresses[0]);
  }
}

TEST_F(MinidumpGeneratorTest, UnreadableClientRecordFailsAndClosesTheFile) {
  // Just above the highest user address: never mapped.
  auto* unmapped = reinterpret_cast<void*>(0x0000800000000000ULL);
  auto generator = ChildGenerator(ChildException(EXCEPTION_ACCESS_VIOLATION),
                                  static_cast<AssertionInfo*>(unmapped),
                                  MiniDumpNormal, true);
  std::wstring path;
  ASSERT_TRUE(generator->GenerateDumpFile(&path));
  EXPECT_FALSE(generator->WriteMinidump());
  // Closed, though the generator lives: the file can go.
  EXPECT_TRUE(::DeleteFileW(path.c_str()));

  generator = ChildGenerator(static_cast<EXCEPTION_POINTERS*>(unmapped),
                             nullptr, MiniDumpNormal, true);
  ASSERT_TRUE(generator->GenerateDumpFile(&path));
  EXPECT_FALSE(generator->WriteMinidump());
  EXPECT_TRUE(::DeleteFileW(path.c_str()));
}

TEST_F(MinidumpGeneratorTest, DumpWithoutException) {
  auto generator = ChildGenerator(nullptr, nullptr, MiniDumpNormal, false);
  // Nothing to write into yet.
  EXPECT_FALSE(generator->WriteMinidump());
  MinidumpFile dump;
  ASSERT_NO_FATAL_FAILURE(WriteAndOpen(std::move(generator), &dump));
  EXPECT_FALSE(dump.HasStream(ExceptionStream));
  EXPECT_TRUE(dump.handler_info());
}

TEST_F(MinidumpGeneratorTest, MissingFolderFails) {
  MinidumpGenerator generator(folder().Append(L"missing").value(),
                              child_.Handle(), child_.Pid(), child_thread_, 0,
                              nullptr, nullptr, MiniDumpNormal, false);
  EXPECT_FALSE(generator.GenerateDumpFile(nullptr));
  EXPECT_FALSE(generator.WriteMinidump());
}

TEST_F(MinidumpGeneratorTest, FullMemoryDumpGivesTwoFilesUnderOneUuid) {
  std::wstring path;
  std::wstring full_path;
  {
    auto generator =
        ChildGenerator(nullptr, nullptr, MiniDumpWithFullMemory, true);
    // A full dump needs its file too.
    ASSERT_TRUE(generator->GenerateDumpFile(&path));
    EXPECT_FALSE(generator->WriteMinidump());
    ASSERT_TRUE(generator->GenerateFullDumpFile(&full_path));
    EXPECT_FALSE(generator->GenerateFullDumpFile(nullptr));
    EXPECT_TRUE(generator->WriteMinidump());
  }

  std::wstring name = base::FilePath(path).BaseName().value();
  EXPECT_TRUE(IsUuidName(name, L".dmp")) << name;
  EXPECT_EQ(name.substr(0, 36) + L"-full.dmp",
            base::FilePath(full_path).BaseName().value());

  MinidumpFile normal;
  ASSERT_TRUE(normal.Open(base::FilePath(path)));
  EXPECT_EQ(0u,
            normal.flags() & (MiniDumpWithFullMemory | MiniDumpWithHandleData));
  EXPECT_FALSE(normal.HasStream(Memory64ListStream));
  EXPECT_TRUE(normal.HasStream(ThreadListStream));
  MinidumpFile full;
  ASSERT_TRUE(full.Open(base::FilePath(full_path)));
  // Wine's DbgHelp records the handle-data request but writes no handle
  // stream, so the header tells what was asked for.
  EXPECT_EQ(
      static_cast<uint64_t>(MiniDumpWithFullMemory | MiniDumpWithHandleData),
      full.flags());
  EXPECT_TRUE(full.HasStream(Memory64ListStream));
  EXPECT_GT(full.size(), normal.size());
}

TEST_F(MinidumpGeneratorTest, OnlyInvalidHandleCrashesAskTheVerifier) {
  SetVerifierLoaderForTesting(&FakeVerifier::Load);
  LocalException violation(EXCEPTION_ACCESS_VIOLATION);
  MinidumpFile dump;
  ASSERT_NO_FATAL_FAILURE(WriteAndOpen(
      ChildGenerator(&violation.pointers, nullptr, MiniDumpNormal, false),
      &dump));
  EXPECT_EQ(0, FakeVerifier::loads);
  EXPECT_FALSE(dump.HasStream(HandleOperationListStream));

  // A dump with handle data does without the trace.
  LocalException bad_handle(STATUS_INVALID_HANDLE);
  MinidumpFile with_handles;
  ASSERT_NO_FATAL_FAILURE(
      WriteAndOpen(ChildGenerator(&bad_handle.pointers, nullptr,
                                  MiniDumpWithHandleData, false),
                   &with_handles));
  EXPECT_EQ(0, FakeVerifier::loads);
  EXPECT_FALSE(with_handles.HasStream(HandleOperationListStream));
}

TEST_F(MinidumpGeneratorTest, FailedEnumerationLeavesTheTraceOut) {
  SetVerifierLoaderForTesting(&FakeVerifier::Load);
  FakeVerifier::answer = ERROR_INVALID_PARAMETER;
  LocalException exception(STATUS_INVALID_HANDLE);
  MinidumpFile dump;
  ASSERT_NO_FATAL_FAILURE(WriteAndOpen(
      ChildGenerator(&exception.pointers, nullptr, MiniDumpNormal, false),
      &dump));
  EXPECT_EQ(1, FakeVerifier::enumerations);
  EXPECT_FALSE(dump.HasStream(HandleOperationListStream));
  EXPECT_TRUE(dump.exception());
}

TEST_F(MinidumpGeneratorTest, NoVerifierStillWritesTheDump) {
  // The real loader: Wine, like most machines, has no verifier.dll.
  LocalException exception(STATUS_INVALID_HANDLE);
  MinidumpFile dump;
  ASSERT_NO_FATAL_FAILURE(WriteAndOpen(
      ChildGenerator(&exception.pointers, nullptr, MiniDumpNormal, false),
      &dump));
  EXPECT_FALSE(dump.HasStream(HandleOperationListStream));
  ASSERT_TRUE(dump.exception());
  EXPECT_EQ(static_cast<DWORD>(STATUS_INVALID_HANDLE),
            dump.exception()->ExceptionRecord.ExceptionCode);
}

}  // namespace
}  // namespace crash_reporter
