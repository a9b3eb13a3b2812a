#include "base/metrics/persistent_sample_map.h"

#include <utility>

#include "base/check.h"
#include "base/metrics/sample_map.h"

namespace base {

namespace {

// Records read from the queue per load at least, so that a sample map that
// finds its own record at once still takes in some for the others.
constexpr int kMinimumRecordsPerLoad = 10;

}  // namespace

// Free functions --------------------------------------------------------------

PersistentMemoryAllocator::Reference CreatePersistentRecord(
    PersistentMemoryAllocator* allocator,
    uint64_t id,
    HistogramBase::Sample value) {
  const PersistentMemoryAllocator::Reference ref =
      allocator->Allocate(sizeof(PersistentSampleRecord),
                          PersistentSampleRecord::kPersistentTypeId);
  PersistentSampleRecord* record =
      allocator->GetAsObject<PersistentSampleRecord>(ref);
  if (!record)
    return 0;
  record->id = id;
  record->value = value;
  record->count.store(0, std::memory_order_relaxed);
  allocator->MakeIterable(ref);
  return ref;
}

PersistentMemoryAllocator::Reference GetNextPersistentRecord(
    PersistentMemoryAllocator::Iterator* iterator, uint64_t* id) {
  const PersistentMemoryAllocator::Reference ref =
      iterator->GetNextOfType(PersistentSampleRecord::kPersistentTypeId);
  if (!ref)
    return 0;
  *id = 0;
  // The iterator has checked the block; its size is checked here.
  const PersistentSampleRecord* record =
      iterator->allocator()->GetAsObject<PersistentSampleRecord>(ref);
  if (!record)
    return 0;
  *id = record->id;
  return ref;
}

// PersistentSparseHistogramDataManager ----------------------------------------

PersistentSparseHistogramDataManager::PersistentSparseHistogramDataManager(
    PersistentMemoryAllocator* allocator)
    : allocator_(allocator), record_iterator_(allocator) {}

PersistentSparseHistogramDataManager::~PersistentSparseHistogramDataManager() =
    default;

PersistentSampleMapRecords*
PersistentSparseHistogramDataManager::UseSampleMapRecords(uint64_t id,
                                                          const void* user) {
  AutoLock lock(lock_);
  PersistentSampleMapRecords* records = GetSampleMapRecordsWhileLocked(id);
  records->user_ = user;
  records->seen_ = 0;
  return records;
}

PersistentSampleMapRecords*
PersistentSparseHistogramDataManager::GetSampleMapRecordsWhileLocked(
    uint64_t id) {
  std::unique_ptr<PersistentSampleMapRecords>& slot = sample_records_[id];
  if (!slot)
    slot = std::make_unique<PersistentSampleMapRecords>(this, id);
  return slot.get();
}

bool PersistentSparseHistogramDataManager::LoadRecords(
    PersistentSampleMapRecords* records) {
  AutoLock lock(lock_);
  bool found = false;
  if (!records->found_.empty()) {
    records->records_.insert(records->records_.end(), records->found_.begin(),
                             records->found_.end());
    records->found_.clear();
    found = true;
  }

  // Read on until one of ours turns up, taking in a few others' meanwhile.
  for (int read = 0;; ++read) {
    if (found && read >= kMinimumRecordsPerLoad)
      break;
    uint64_t id;
    const PersistentMemoryAllocator::Reference ref =
        GetNextPersistentRecord(&record_iterator_, &id);
    if (!ref)
      break;
    if (id == records->sample_map_id_) {
      records->records_.push_back(ref);
      found = true;
    } else {
      GetSampleMapRecordsWhileLocked(id)->found_.push_back(ref);
    }
  }
  return found;
}

// PersistentSampleMapRecords --------------------------------------------------

PersistentSampleMapRecords::PersistentSampleMapRecords(
    PersistentSparseHistogramDataManager* manager, uint64_t sample_map_id)
    : manager_(manager), sample_map_id_(sample_map_id) {}

PersistentSampleMapRecords::~PersistentSampleMapRecords() = default;

PersistentMemoryAllocator::Reference PersistentSampleMapRecords::GetNext() {
  // A load that finds anything adds it to |records_|.
  if (seen_ == records_.size() && !manager_->LoadRecords(this))
    return 0;
  return records_[seen_++];
}

PersistentMemoryAllocator::Reference PersistentSampleMapRecords::CreateNew(
    HistogramBase::Sample value) {
  return CreatePersistentRecord(manager_->allocator(), sample_map_id_, value);
}

void PersistentSampleMapRecords::Release(const void* user) {
  // A later user may have taken the records over meanwhile.
  if (user_ == user)
    user_ = nullptr;
}

// PersistentSampleMap ---------------------------------------------------------

PersistentSampleMap::PersistentSampleMap(
    uint64_t id, PersistentSparseHistogramDataManager* manager, Metadata* meta)
    : HistogramSamples(id, meta), manager_(manager) {}

PersistentSampleMap::~PersistentSampleMap() {
  if (records_)
    records_->Release(this);
}

void PersistentSampleMap::Accumulate(Sample value, Count count) {
  std::atomic<Count>* storage = GetOrCreateSampleCountStorage(value);
  const Count old_count = storage->fetch_add(count, std::memory_order_relaxed);
  const Count new_count = static_cast<Count>(static_cast<uint32_t>(old_count) +
                                             static_cast<uint32_t>(count));
  if (count < 0) {
    RecordNegativeSample(new_count < 0 ? SAMPLES_ACCUMULATE_WENT_NEGATIVE
                                       : SAMPLES_ACCUMULATE_NEGATIVE_COUNT,
                         -count);
  } else if (count > 0 && (old_count < 0) != (new_count < 0)) {
    RecordNegativeSample(SAMPLES_ACCUMULATE_OVERFLOW, count);
  }
  IncreaseSumAndCount(int64_t{value} * count, count);
}

HistogramBase::Count PersistentSampleMap::GetCount(Sample value) const {
  const std::atomic<Count>* storage = GetSampleCountStorage(value);
  return storage ? storage->load(std::memory_order_relaxed) : 0;
}

HistogramBase::Count PersistentSampleMap::TotalCount() const {
  ImportSamples(0, true);
  Count total = 0;
  for (const auto& entry : sample_counts_)
    total += entry.second->load(std::memory_order_relaxed);
  return total;
}

std::unique_ptr<SampleCountIterator> PersistentSampleMap::Iterator() const {
  ImportSamples(0, true);
  return std::make_unique<SampleToCountIterator<std::atomic<Count>*>>(
      sample_counts_);
}

bool PersistentSampleMap::AddSubtractImpl(SampleCountIterator* iter,
                                          Operator op) {
  Sample min;
  int64_t max;
  Count count;
  for (; !iter->Done(); iter->Next()) {
    iter->Get(&min, &max, &count);
    if (int64_t{min} + 1 != max)
      return false;
    GetOrCreateSampleCountStorage(min)->fetch_add(op == ADD ? count : -count,
                                                  std::memory_order_relaxed);
  }
  return true;
}

std::atomic<HistogramBase::Count>* PersistentSampleMap::GetSampleCountStorage(
    Sample value) const {
  auto it = sample_counts_.find(value);
  if (it != sample_counts_.end())
    return it->second;
  return ImportSamples(value, false);
}

std::atomic<HistogramBase::Count>*
PersistentSampleMap::GetOrCreateSampleCountStorage(Sample value) {
  if (std::atomic<Count>* storage = GetSampleCountStorage(value))
    return storage;

  // A new record is taken in through the queue like any other, so if
  // another process made one for this value first, that one wins.
  if (GetRecords()->CreateNew(value)) {
    if (std::atomic<Count>* storage = ImportSamples(value, false))
      return storage;
  }
  // The segment is full or broken: count here, unshared.
  heap_counts_.push_back(std::make_unique<std::atomic<Count>>(0));
  std::atomic<Count>* storage = heap_counts_.back().get();
  sample_counts_[value] = storage;
  return storage;
}

PersistentSampleMapRecords* PersistentSampleMap::GetRecords() const {
  if (!records_)
    records_ = manager_->UseSampleMapRecords(id(), this);
  return records_;
}

std::atomic<HistogramBase::Count>* PersistentSampleMap::ImportSamples(
    Sample until_value, bool import_everything) const {
  PersistentSampleMapRecords* records = GetRecords();
  PersistentMemoryAllocator* allocator = records->allocator();
  while (PersistentMemoryAllocator::Reference ref = records->GetNext()) {
    PersistentSampleRecord* record =
        allocator->GetAsObject<PersistentSampleRecord>(ref);
    if (!record)
      continue;
    // The first record of a value wins; later ones are left alone.
    const Sample value = record->value;
    auto inserted = sample_counts_.emplace(value, &record->count);
    if (!import_everything && value == until_value)
      return inserted.first->second;
  }
  if (import_everything) {
    auto it = sample_counts_.find(until_value);
    return it == sample_counts_.end() ? nullptr : it->second;
  }
  return nullptr;
}

}  // namespace base
