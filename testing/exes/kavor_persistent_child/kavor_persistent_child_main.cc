// A second process for the tests of persistent memory: it maps the segment
// file a test made and works in it while the test process does too. The
// first argument picks what it does:
//
//   allocate PATH OWNER COUNT
//       expects at least 10 blocks of type 0xA1 made by owner 1, then makes
//       COUNT blocks of type 0xA1 of 24 bytes, each holding OWNER and its
//       index three times over, and makes each iterable in turn.
//
//   histograms PATH
//       installs the segment as the process's histogram allocator, expects
//       the test process's histograms there ("Test.Shared.Exp" holding 5
//       three times, "Test.Shared.Sparse" holding 42 twice), then adds 500
//       twice to the first and 42 and -7 to the second.
//
// Exit codes: 0 done, 2 a block could not be made, 3 the test process's
// blocks were not seen, 4 the segment could not be mapped or is corrupt,
// 5 a histogram is not the test process's or lacks its samples, 99 bad
// usage.

#include <windows.h>
#include <shellapi.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <memory>

#include "base/files/file_path.h"
#include "base/files/memory_mapped_file.h"
#include "base/metrics/histogram.h"
#include "base/metrics/histogram_samples.h"
#include "base/metrics/persistent_histogram_allocator.h"
#include "base/metrics/persistent_memory_allocator.h"
#include "base/metrics/sparse_histogram.h"

namespace {

const int kDone = 0;
const int kAllocationFailed = 2;
const int kNotSeen = 3;
const int kNoSegment = 4;
const int kNotShared = 5;
const int kBadUsage = 99;

const uint32_t kTestType = 0xA1;

std::unique_ptr<base::PersistentMemoryAllocator> MapSegment(
    const wchar_t* path) {
  auto file = std::make_unique<base::MemoryMappedFile>();
  if (!file->Initialize(base::FilePath(path),
                        base::MemoryMappedFile::READ_WRITE)) {
    return nullptr;
  }
  auto allocator = std::make_unique<base::FilePersistentMemoryAllocator>(
      std::move(file), 0, 0, "", false);
  if (allocator->IsCorrupt())
    return nullptr;
  return allocator;
}

int Allocate(const wchar_t* path, uint32_t owner, uint32_t count) {
  std::unique_ptr<base::PersistentMemoryAllocator> allocator = MapSegment(path);
  if (!allocator)
    return kNoSegment;
  base::PersistentMemoryAllocator::Iterator iter(allocator.get());
  int parents = 0;
  while (base::PersistentMemoryAllocator::Reference ref =
             iter.GetNextOfType(kTestType)) {
    const uint32_t* words = allocator->GetAsArray<uint32_t>(ref, kTestType, 6);
    if (words && words[0] == 1)
      ++parents;
  }
  if (parents < 10)
    return kNotSeen;
  for (uint32_t i = 0; i < count; ++i) {
    const base::PersistentMemoryAllocator::Reference ref =
        allocator->Allocate(24, kTestType);
    uint32_t* words = allocator->GetAsArray<uint32_t>(ref, kTestType, 6);
    if (!words)
      return kAllocationFailed;
    for (int w = 0; w < 6; ++w)
      words[w] = w % 2 ? i : owner;
    allocator->MakeIterable(ref);
  }
  return allocator->IsCorrupt() ? kNoSegment : kDone;
}

int Histograms(const wchar_t* path) {
  std::unique_ptr<base::PersistentMemoryAllocator> allocator = MapSegment(path);
  if (!allocator)
    return kNoSegment;
  base::GlobalHistogramAllocator::CreateWithAllocator(std::move(allocator));

  base::HistogramBase* exponential = base::Histogram::FactoryGet(
      "Test.Shared.Exp", 1, 1000, 10,
      base::HistogramBase::kUmaTargetedHistogramFlag);
  if (!(exponential->flags() & base::HistogramBase::kIsPersistent) ||
      exponential->SnapshotSamples()->GetCount(5) != 3) {
    return kNotShared;
  }
  exponential->Add(500);
  exponential->Add(500);

  base::HistogramBase* sparse = base::SparseHistogram::FactoryGet(
      "Test.Shared.Sparse", base::HistogramBase::kUmaTargetedHistogramFlag);
  if (!(sparse->flags() & base::HistogramBase::kIsPersistent) ||
      sparse->SnapshotSamples()->GetCount(42) != 2) {
    return kNotShared;
  }
  sparse->Add(42);
  sparse->Add(-7);
  return base::GlobalHistogramAllocator::Get()->memory_allocator()->IsCorrupt()
             ? kNoSegment
             : kDone;
}

int Run(int argc, wchar_t** argv) {
  if (argc == 5 && wcscmp(argv[1], L"allocate") == 0)
    return Allocate(argv[2], _wtoi(argv[3]), _wtoi(argv[4]));
  if (argc == 3 && wcscmp(argv[1], L"histograms") == 0)
    return Histograms(argv[2]);
  return kBadUsage;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv)
    return kBadUsage;
  const int result = Run(argc, argv);
  ::LocalFree(argv);
  return result;
}
