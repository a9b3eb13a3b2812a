#include "base/metrics/persistent_histogram_allocator.h"

#include <stddef.h>
#include <string.h>

#include <algorithm>
#include <limits>
#include <utility>

#include "base/check.h"
#include "base/logging.h"
#include "base/metrics/bucket_ranges.h"
#include "base/metrics/histogram.h"
#include "base/metrics/metrics_hashes.h"
#include "base/metrics/sparse_histogram.h"
#include "base/metrics/statistics_recorder.h"

namespace base {

namespace {

// The histogram of creation results, made on first use. While one thread
// makes it (which may itself come back here), the word holds this marker
// and results are dropped.
constexpr uintptr_t kResultHistogramBeingCreated = 1;
std::atomic<uintptr_t> g_result_histogram{0};

std::atomic<GlobalHistogramAllocator*> g_histogram_allocator{nullptr};

// Null while another thread makes the histogram.
HistogramBase* GetResultHistogram() {
  uintptr_t word = g_result_histogram.load(std::memory_order_acquire);
  if (word == 0) {
    uintptr_t expected = 0;
    if (g_result_histogram.compare_exchange_strong(
            expected, kResultHistogramBeingCreated, std::memory_order_acq_rel,
            std::memory_order_acquire)) {
      HistogramBase* histogram = LinearHistogram::FactoryGet(
          "UMA.CreatePersistentHistogram.Result", 1, 10, 11,
          HistogramBase::kUmaTargetedHistogramFlag);
      word = reinterpret_cast<uintptr_t>(histogram);
      g_result_histogram.store(word, std::memory_order_release);
    } else {
      word = expected;
    }
  }
  if (word == kResultHistogramBeingCreated)
    return nullptr;
  return reinterpret_cast<HistogramBase*>(word);
}

void RecordCreateHistogramResult(
    PersistentHistogramAllocator::CreateHistogramResult result) {
  if (HistogramBase* histogram = GetResultHistogram())
    histogram->Add(result);
}

}  // namespace

// The record of one histogram. Its layout is shared with other processes
// and later readers of the segment.
struct PersistentHistogramAllocator::PersistentHistogramData {
  static constexpr uint32_t kPersistentTypeId = kTypeIdHistogram;

  int32_t histogram_type;
  int32_t flags;
  int32_t minimum;
  int32_t maximum;
  uint32_t bucket_count;
  PersistentMemoryAllocator::Reference ranges_ref;
  uint32_t ranges_checksum;
  std::atomic<PersistentMemoryAllocator::Reference> counts_ref;
  HistogramSamples::Metadata samples_metadata;
  HistogramSamples::Metadata logged_metadata;
  // The name, NUL-terminated, runs on past the end of the structure.
  char name[8];
};

// PersistentSampleVector ------------------------------------------------------

PersistentSampleVector::PersistentSampleVector(
    uint64_t id,
    const BucketRanges* ranges,
    Metadata* meta,
    const DelayedPersistentAllocation& counts)
    : SampleVectorBase(id, meta, ranges), persistent_counts_(counts) {
  // Another user of the record may have moved on to a counts array.
  if (single_sample().IsDisabled())
    MountExistingCountsStorage();
}

PersistentSampleVector::~PersistentSampleVector() = default;

bool PersistentSampleVector::MountExistingCountsStorage() const {
  // Only an array someone made is mounted: making one is the mounting
  // lock's business.
  if (!persistent_counts_.reference())
    return false;
  void* memory = persistent_counts_.Get();
  if (!memory)
    return false;
  set_counts(static_cast<Count*>(memory));
  return true;
}

void PersistentSampleVector::OnCorruptSingleSample() const {
  persistent_counts_.allocator()->SetCorrupt();
}

HistogramBase::Count* PersistentSampleVector::CreateCountsStorageWhileLocked() {
  if (void* memory = persistent_counts_.Get())
    return static_cast<Count*>(memory);
  // No room in the segment: count in this process only.
  const size_t size = counts_size();
  heap_counts_.reset(new std::atomic<Count>[size]);
  for (size_t i = 0; i < size; ++i)
    heap_counts_[i].store(0, std::memory_order_relaxed);
  return reinterpret_cast<Count*>(heap_counts_.get());
}

// PersistentHistogramAllocator ------------------------------------------------

PersistentHistogramAllocator::PersistentHistogramAllocator(
    std::unique_ptr<PersistentMemoryAllocator> memory)
    : memory_(std::move(memory)),
      sparse_data_manager_(memory_.get()),
      import_iterator_(memory_.get()) {
  static_assert(offsetof(PersistentHistogramData, counts_ref) == 28, "");
  static_assert(offsetof(PersistentHistogramData, samples_metadata) == 32, "");
  static_assert(offsetof(PersistentHistogramData, logged_metadata) == 56, "");
  static_assert(offsetof(PersistentHistogramData, name) == 80, "");
  static_assert(sizeof(PersistentHistogramData) == 88, "");
  static_assert(sizeof(HistogramSamples::Metadata) == 24, "");
}

PersistentHistogramAllocator::~PersistentHistogramAllocator() = default;

// static
HistogramBase*
PersistentHistogramAllocator::GetCreateHistogramResultHistogram() {
  return GetResultHistogram();
}

PersistentSampleMapRecords* PersistentHistogramAllocator::UseSampleMapRecords(
    uint64_t id, const void* user) {
  return sparse_data_manager_.UseSampleMapRecords(id, user);
}

std::unique_ptr<HistogramBase> PersistentHistogramAllocator::GetHistogram(
    PersistentMemoryAllocator::Reference ref) {
  PersistentHistogramData* data =
      memory_->GetAsObject<PersistentHistogramData>(ref);
  const size_t size = memory_->GetAllocSize(ref);
  const char* bytes = reinterpret_cast<const char*>(data);
  // A record someone cut short or overwrote: the name must end inside the
  // block, and the sample sets must belong to the histogram of that name
  // (a truncated name no longer hashes to their id).
  if (!data || size < sizeof(PersistentHistogramData) || data->name[0] == 0 ||
      bytes[size - 1] != 0 || data->samples_metadata.id == 0 ||
      data->logged_metadata.id == 0 ||
      (data->logged_metadata.id != data->samples_metadata.id &&
       data->logged_metadata.id != data->samples_metadata.id + 1) ||
      HashMetricName(data->name) != data->samples_metadata.id) {
    RecordCreateHistogramResult(kCreateInvalidRecord);
    return nullptr;
  }
  return CreateHistogram(data, size);
}

std::unique_ptr<HistogramBase> PersistentHistogramAllocator::AllocateHistogram(
    HistogramType type,
    const std::string& name,
    HistogramBase::Sample minimum,
    HistogramBase::Sample maximum,
    const BucketRanges* ranges,
    int32_t flags,
    uint32_t* reference) {
  if (memory_->IsCorrupt()) {
    RecordCreateHistogramResult(kCreateAllocatorCorrupt);
    return nullptr;
  }

  const size_t record_size =
      std::max(sizeof(PersistentHistogramData),
               offsetof(PersistentHistogramData, name) + name.size() + 1);
  PersistentMemoryAllocator::Reference histogram_ref =
      memory_->Allocate(record_size, kTypeIdHistogram);
  PersistentHistogramData* data =
      memory_->GetAsObject<PersistentHistogramData>(histogram_ref);
  if (data) {
    memset(static_cast<void*>(data), 0, sizeof(PersistentHistogramData));
    memcpy(data->name, name.c_str(), name.size() + 1);
    data->histogram_type = type;
    data->flags = flags | HistogramBase::kIsPersistent;
  }

  if (type != SPARSE_HISTOGRAM) {
    if (!ranges || ranges->size() < 2) {
      if (data)
        memory_->ChangeType(histogram_ref, 0, kTypeIdHistogram, false);
      return nullptr;
    }
    const PersistentMemoryAllocator::Reference ranges_ref =
        GetOrMakeRangesArray(ranges);
    if (data && ranges_ref) {
      data->minimum = minimum;
      data->maximum = maximum;
      data->bucket_count = static_cast<uint32_t>(ranges->bucket_count());
      data->ranges_ref = ranges_ref;
      data->ranges_checksum = ranges->checksum();
    } else {
      if (data)
        memory_->ChangeType(histogram_ref, 0, kTypeIdHistogram, false);
      data = nullptr;
    }
  }

  if (data) {
    std::unique_ptr<HistogramBase> histogram =
        CreateHistogram(data, record_size);
    if (histogram) {
      *reference = histogram_ref;
      last_created_.store(histogram_ref, std::memory_order_relaxed);
    }
    return histogram;
  }

  CreateHistogramResult result;
  if (memory_->IsCorrupt()) {
    RecordCreateHistogramResult(kCreateAllocatorNewlyCorrupt);
    result = kCreateAllocatorCorrupt;
  } else if (memory_->IsFull()) {
    result = kCreateAllocatorFull;
  } else {
    result = kCreateAllocatorError;
  }
  RecordCreateHistogramResult(result);
  return nullptr;
}

PersistentMemoryAllocator::Reference
PersistentHistogramAllocator::GetOrMakeRangesArray(const BucketRanges* ranges) {
  const size_t bytes = ranges->size() * sizeof(HistogramBase::Sample);
  // A layout keeps the copy of one segment only; a copy elsewhere (another
  // allocator's) is recognised by not holding these boundaries here.
  PersistentMemoryAllocator::Reference ref = ranges->persistent_reference();
  if (ref) {
    const HistogramBase::Sample* existing =
        memory_->GetAsArray<HistogramBase::Sample>(ref, kTypeIdRangesArray,
                                                   ranges->size());
    if (existing && memcmp(existing, ranges->data(), bytes) == 0)
      return ref;
  }
  ref = memory_->Allocate(bytes, kTypeIdRangesArray);
  HistogramBase::Sample* copy = memory_->GetAsArray<HistogramBase::Sample>(
      ref, kTypeIdRangesArray, ranges->size());
  if (!copy)
    return 0;
  memcpy(copy, ranges->data(), bytes);
  if (!ranges->persistent_reference())
    ranges->set_persistent_reference(ref);
  return ref;
}

std::unique_ptr<HistogramBase> PersistentHistogramAllocator::CreateHistogram(
    PersistentHistogramData* data, size_t capacity) {
  if (!data) {
    RecordCreateHistogramResult(kCreateMissingRecord);
    return nullptr;
  }
  // Everything is copied out first: other processes may write the segment
  // while this one checks it.
  const size_t name_capacity =
      capacity > offsetof(PersistentHistogramData, name)
          ? capacity - offsetof(PersistentHistogramData, name)
          : 0;
  const std::string name(data->name, strnlen(data->name, name_capacity));
  const char* permanent_name = GetPermanentName(name);
  const uint64_t id = HashMetricName(name);
  const int32_t histogram_type = data->histogram_type;
  const int32_t flags = data->flags;

  if (histogram_type == SPARSE_HISTOGRAM) {
    std::unique_ptr<HistogramBase> histogram =
        SparseHistogram::PersistentCreate(
            permanent_name,
            std::make_unique<PersistentSampleMap>(id, &sparse_data_manager_,
                                                  &data->samples_metadata),
            std::make_unique<PersistentSampleMap>(id + 1, &sparse_data_manager_,
                                                  &data->logged_metadata));
    histogram->SetFlags(flags);
    RecordCreateHistogramResult(kCreateSuccess);
    return histogram;
  }

  const uint32_t bucket_count = data->bucket_count;
  const PersistentMemoryAllocator::Reference ranges_ref = data->ranges_ref;
  const uint32_t ranges_checksum = data->ranges_checksum;
  const HistogramBase::Sample* boundaries =
      memory_->GetAsArray<HistogramBase::Sample>(
          ranges_ref, kTypeIdRangesArray, PersistentMemoryAllocator::kSizeAny);
  if (!boundaries || bucket_count < 2 || bucket_count >= 0x3FFFFFFF ||
      memory_->GetAllocSize(ranges_ref) <
          (bucket_count + 1) * sizeof(HistogramBase::Sample)) {
    RecordCreateHistogramResult(kCreateInvalidBoundaries);
    return nullptr;
  }
  std::unique_ptr<BucketRanges> ranges(new BucketRanges(bucket_count + 1));
  for (uint32_t i = 0; i <= bucket_count; ++i) {
    const HistogramBase::Sample boundary =
        reinterpret_cast<const volatile HistogramBase::Sample*>(boundaries)[i];
    if (i > 0 && boundary <= ranges->range(i - 1)) {
      RecordCreateHistogramResult(kCreateInvalidBoundaries);
      return nullptr;
    }
    ranges->set_range(i, boundary);
  }
  // Recording clamps values to [0, max) and then needs a bucket for each:
  // a layout that does not cover that range would stop the process.
  if (ranges->range(0) != 0 ||
      ranges->range(bucket_count) != HistogramBase::kSampleType_MAX ||
      ranges->CalculateChecksum() != ranges_checksum) {
    RecordCreateHistogramResult(kCreateInvalidBoundaries);
    return nullptr;
  }
  // The single-sample words index the buckets directly: one naming a
  // bucket the layout lacks would be read and written beyond the counts.
  for (const HistogramSamples::Metadata* meta :
       {&data->samples_metadata, &data->logged_metadata}) {
    const HistogramSamples::SingleSample sample = meta->single_sample.Load();
    if (sample.count != 0 && sample.bucket >= bucket_count) {
      LOG(ERROR) << "Histogram record \"" << name << "\" holds a sample of "
                 << "bucket " << sample.bucket << " of " << bucket_count
                 << "; the record is ignored.";
      memory_->SetCorrupt();
      RecordCreateHistogramResult(kCreateInvalidRecord);
      return nullptr;
    }
  }
  ranges->ResetChecksum();
  const BucketRanges* registered_ranges =
      StatisticsRecorder::RegisterOrDeleteDuplicateRanges(ranges.release());

  const size_t counts_bytes =
      size_t{bucket_count} * 2 * sizeof(HistogramBase::Count);
  const PersistentMemoryAllocator::Reference counts_ref =
      data->counts_ref.load(std::memory_order_acquire);
  if (counts_ref && memory_->GetAllocSize(counts_ref) < counts_bytes) {
    RecordCreateHistogramResult(kCreateInvalidCounts);
    return nullptr;
  }
  // Both halves of one block, made when either is first needed.
  DelayedPersistentAllocation counts(memory_.get(), &data->counts_ref,
                                     kTypeIdCountsArray, counts_bytes, 0,
                                     false);
  DelayedPersistentAllocation logged_counts(memory_.get(), &data->counts_ref,
                                            kTypeIdCountsArray, counts_bytes,
                                            counts_bytes / 2, false);
  auto unlogged = std::make_unique<PersistentSampleVector>(
      id, registered_ranges, &data->samples_metadata, counts);
  auto logged = std::make_unique<PersistentSampleVector>(
      id, registered_ranges, &data->logged_metadata, logged_counts);

  std::unique_ptr<HistogramBase> histogram;
  switch (histogram_type) {
    case HISTOGRAM:
      histogram = Histogram::PersistentCreate(
          permanent_name, std::move(unlogged), std::move(logged));
      break;
    case LINEAR_HISTOGRAM:
      histogram = LinearHistogram::PersistentCreate(
          permanent_name, std::move(unlogged), std::move(logged));
      break;
    case BOOLEAN_HISTOGRAM:
      histogram = BooleanHistogram::PersistentCreate(
          permanent_name, std::move(unlogged), std::move(logged));
      break;
    case CUSTOM_HISTOGRAM:
      histogram = CustomHistogram::PersistentCreate(
          permanent_name, std::move(unlogged), std::move(logged));
      break;
    default:
      RecordCreateHistogramResult(kCreateUnknownType);
      return nullptr;
  }
  histogram->SetFlags(flags);
  RecordCreateHistogramResult(kCreateSuccess);
  return histogram;
}

void PersistentHistogramAllocator::FinalizeHistogram(uint32_t reference,
                                                     bool registered) {
  if (registered)
    memory_->MakeIterable(reference);
  else
    memory_->ChangeType(reference, 0, kTypeIdHistogram, false);
}

void PersistentHistogramAllocator::ImportHistogramsToStatisticsRecorder() {
  // This process's newest histogram is registered already.
  const PersistentMemoryAllocator::Reference last_created =
      last_created_.load(std::memory_order_relaxed);
  while (PersistentMemoryAllocator::Reference ref =
             import_iterator_.GetNextOfType(kTypeIdHistogram)) {
    if (ref == last_created)
      continue;
    std::unique_ptr<HistogramBase> histogram = GetHistogram(ref);
    if (!histogram)
      break;
    StatisticsRecorder::RegisterOrDeleteDuplicate(histogram.release());
  }
}

// GlobalHistogramAllocator ----------------------------------------------------

GlobalHistogramAllocator::GlobalHistogramAllocator(
    std::unique_ptr<PersistentMemoryAllocator> memory)
    : PersistentHistogramAllocator(std::move(memory)) {}

GlobalHistogramAllocator::~GlobalHistogramAllocator() = default;

// static
void GlobalHistogramAllocator::CreateWithPersistentMemory(
    void* base, size_t size, size_t page_size, uint64_t id, StringPiece name) {
  CreateWithAllocator(std::make_unique<PersistentMemoryAllocator>(
      base, size, page_size, id, name, false));
}

// static
void GlobalHistogramAllocator::CreateWithLocalMemory(size_t size,
                                                     uint64_t id,
                                                     StringPiece name) {
  CreateWithAllocator(
      std::make_unique<LocalPersistentMemoryAllocator>(size, id, name));
}

// static
void GlobalHistogramAllocator::CreateWithAllocator(
    std::unique_ptr<PersistentMemoryAllocator> memory) {
  GlobalHistogramAllocator* allocator =
      new GlobalHistogramAllocator(std::move(memory));
  GlobalHistogramAllocator* expected = nullptr;
  // Histograms already made point into the installed segment.
  CHECK(g_histogram_allocator.compare_exchange_strong(expected, allocator));
  SetHistogramPersistence(allocator);
}

// static
GlobalHistogramAllocator* GlobalHistogramAllocator::Get() {
  return g_histogram_allocator.load(std::memory_order_acquire);
}

// static
std::unique_ptr<GlobalHistogramAllocator>
GlobalHistogramAllocator::ReleaseForTesting() {
  SetHistogramPersistence(nullptr);
  return std::unique_ptr<GlobalHistogramAllocator>(
      g_histogram_allocator.exchange(nullptr));
}

}  // namespace base
