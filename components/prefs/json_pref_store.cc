#include "components/prefs/json_pref_store.h"

#include <stddef.h>

#include <algorithm>
#include <limits>
#include <utility>

#include "base/bind.h"
#include "base/check.h"
#include "base/features/feature_registry.h"
#include "base/files/file_util.h"
#include "base/json/json_file_value_serializer.h"
#include "base/json/json_reader.h"
#include "base/json/json_string_value_serializer.h"
#include "base/logging.h"
#include "base/metrics/histogram.h"
#include "base/metrics/histogram_base.h"
#include "base/strings/string_util.h"
#include "base/threading/sequenced_task_runner_handle.h"
#include "base/time/default_clock.h"

namespace {

const char kBackupPreferenceFilesFeature[] = "backup-preference-files";
const wchar_t kBadExtension[] = L"bad";
const wchar_t kBackupExtension[] = L".backup";
const wchar_t kLocalStateFileName[] = L"Local State";

// |name| as ASCII (empty when it is not) with spaces made underscores, for
// histogram names.
std::string SpacelessName(const base::FilePath& name) {
  std::string spaceless;
  base::ReplaceChars(name.MaybeAsASCII(), " ", "_", &spaceless);
  return spaceless;
}

PersistentPrefStore::PrefReadError ErrorFromFileCode(int error_code) {
  switch (error_code) {
    case base::JSONFileValueDeserializer::kAccessDenied:
      return PersistentPrefStore::kReadErrorAccessDenied;
    case base::JSONFileValueDeserializer::kCannotReadFile:
      return PersistentPrefStore::kReadErrorFileOther;
    case base::JSONFileValueDeserializer::kFileLocked:
      return PersistentPrefStore::kReadErrorFileLocked;
    case base::JSONFileValueDeserializer::kNoSuchFile:
      return PersistentPrefStore::kReadErrorNoFile;
    default:
      return PersistentPrefStore::kReadErrorJsonParse;
  }
}

bool IsParseError(PersistentPrefStore::PrefReadError error) {
  return error == PersistentPrefStore::kReadErrorJsonParse ||
         error == PersistentPrefStore::kReadErrorJsonRepeat;
}

// The value tree of a dictionary |value|, as the dictionary type.
std::unique_ptr<base::DictionaryValue> TakeDictionary(
    std::unique_ptr<base::Value> value) {
  auto dictionary = std::make_unique<base::DictionaryValue>();
  std::swap(dictionary->dict_storage(), value->dict_storage());
  return dictionary;
}

void DoNothing() {}

// The most lists and dictionaries that may be open at once in a file that
// the reader still reads back.
constexpr size_t kMaxNesting = base::JSONReader::kStackMaxDepth;

// The dictionaries that a dotted |key| opens in the file: the root and one
// for each part but the last.
size_t KeyNesting(const std::string& key) {
  return static_cast<size_t>(std::count(key.begin(), key.end(), '.')) + 1;
}

// Whether |value| opens more than |budget| nested lists and dictionaries.
// Recurses no deeper than |budget| + 1 levels, however deep |value| is.
bool NestsDeeperThan(const base::Value& value, size_t budget) {
  if (!value.is_dict() && !value.is_list())
    return false;
  if (budget == 0)
    return true;
  if (value.is_dict()) {
    for (const auto& entry : value.dict_storage()) {
      if (NestsDeeperThan(*entry.second, budget - 1))
        return true;
    }
    return false;
  }
  for (const auto& item : value.list_storage()) {
    if (NestsDeeperThan(*item, budget - 1))
      return true;
  }
  return false;
}

// Drops from |container| every list or dictionary that would open more
// than |budget| further levels below it, so that what is left reads back;
// |path| names |container| for the log. Recurses no deeper than |budget|.
void DropWhatNestsTooDeep(base::Value* container,
                          size_t budget,
                          const std::string& path) {
  auto too_deep = [budget](const base::Value& child) {
    return (child.is_dict() || child.is_list()) && budget == 0;
  };
  if (container->is_dict()) {
    auto& storage = container->dict_storage();
    for (auto it = storage.begin(); it != storage.end();) {
      const std::string child_path =
          path.empty() ? it->first : path + "." + it->first;
      if (too_deep(*it->second)) {
        LOG(ERROR) << "Preference value under \"" << child_path.substr(0, 64)
                   << "\" dropped: it nests deeper than the " << kMaxNesting
                   << " levels that the preference file can hold";
        it = storage.erase(it);
        continue;
      }
      if (budget > 0)
        DropWhatNestsTooDeep(it->second.get(), budget - 1, child_path);
      ++it;
    }
    return;
  }
  if (container->is_list()) {
    auto& storage = container->list_storage();
    for (auto it = storage.begin(); it != storage.end();) {
      if (too_deep(**it)) {
        LOG(ERROR) << "Preference list item under \"" << path.substr(0, 64)
                   << "\" dropped: it nests deeper than the " << kMaxNesting
                   << " levels that the preference file can hold";
        it = storage.erase(it);
        continue;
      }
      if (budget > 0)
        DropWhatNestsTooDeep(it->get(), budget - 1, path);
      ++it;
    }
  }
}

// Stores |value| under |key| in |prefs| unless an equal value is already
// there. Returns whether anything changed.
bool SetIfChanged(base::DictionaryValue* prefs,
                  const std::string& key,
                  std::unique_ptr<base::Value> value) {
  // Stored, such a value would be written as JSON that the next start
  // cannot read: the whole file would be moved aside and every preference
  // lost. Refusing it here also keeps the writer, the copies and the
  // destructor of the preferences from recursing past the reader's limit.
  const size_t key_nesting = KeyNesting(key);
  if (key_nesting > kMaxNesting ||
      NestsDeeperThan(*value, kMaxNesting - key_nesting)) {
    LOG(ERROR) << "Preference refused: key of " << key_nesting
               << " parts beginning \"" << key.substr(0, 64)
               << "\" would nest deeper than the " << kMaxNesting
               << " levels that the preference file can hold";
    return false;
  }
  base::Value* old_value = nullptr;
  prefs->Get(key, &old_value);
  if (old_value && old_value->Equals(value.get()))
    return false;
  prefs->Set(key, std::move(value));
  return true;
}

}  // namespace

JsonPrefStore::ReadResult::ReadResult() = default;
JsonPrefStore::ReadResult::~ReadResult() = default;

constexpr base::TimeDelta JsonPrefStore::WriteCountRecorder::kReportInterval;

// static
std::unique_ptr<JsonPrefStore::ReadResult> JsonPrefStore::ReadPrefsFromDisk(
    const base::FilePath& path) {
  auto result = std::make_unique<ReadResult>();

  int error_code = 0;
  std::string error_message;
  base::JSONFileValueDeserializer deserializer(path);
  result->value = deserializer.Deserialize(&error_code, &error_message);
  if (result->value) {
    result->error =
        result->value->is_dict() ? kReadErrorNone : kReadErrorJsonType;
  } else {
    result->error = ErrorFromFileCode(error_code);
    if (result->error == kReadErrorJsonParse) {
      // Out of the way, so that the next write starts from a clean file.
      base::FilePath bad = path.ReplaceExtension(kBadExtension);
      // A file that has the "bad" name already would be moved onto itself,
      // and the next write would overwrite the text kept for inspection.
      if (base::FilePath::CompareIgnoreCase(bad.value(), path.value()) == 0)
        bad = path.AddExtension(kBadExtension);
      bool bad_existed = base::PathExists(bad);
      // Best effort: when the move fails the damaged file stays, is reported
      // the same way, and the next write replaces it.
      (void)base::Move(path, bad);
      result->error = bad_existed ? kReadErrorJsonRepeat : kReadErrorJsonParse;
    }
  }
  result->no_dir = !base::DirectoryExists(path.DirName());

  const bool is_local_state = path.BaseName().value() == kLocalStateFileName;
  const bool backups_enabled =
      base::IsFeatureEnabled(kBackupPreferenceFilesFeature);
  const bool is_backup = path.MatchesExtension(kBackupExtension);
  bool restored = false;

  if (IsParseError(result->error) && !is_local_state && backups_enabled &&
      !is_backup) {
    std::unique_ptr<ReadResult> backup_result =
        ReadPrefsFromDisk(path.AddExtension(kBackupExtension));
    if (backup_result->value) {
      result = std::move(backup_result);
      restored = true;
    }
  }

  if (is_backup) {
    base::BooleanHistogram::FactoryGet(
        "Settings.RestoreFromBackupResult." +
            SpacelessName(path.BaseName().RemoveExtension()),
        base::HistogramBase::kUmaTargetedHistogramFlag)
        ->AddBoolean(result->value != nullptr);
  }

  if (result->error == kReadErrorNone) {
    base::Histogram::FactoryGet(
        "Settings.JsonDataReadSizeKilobytes." + SpacelessName(path.BaseName()),
        1, 10000, 50, base::HistogramBase::kUmaTargetedHistogramFlag)
        ->Add(static_cast<int>(deserializer.get_last_read_size() / 1024));
    // The backup is best effort: the preferences themselves were read.
    if (!is_local_state && backups_enabled && !is_backup && !restored)
      (void)base::CopyFile(path, path.AddExtension(kBackupExtension));
  }
  return result;
}

// static
std::unique_ptr<base::DictionaryValue> JsonPrefStore::ReadPrefsWithoutChanges(
    const base::FilePath& path) {
  int error_code = 0;
  std::string error_message;
  base::JSONFileValueDeserializer deserializer(path);
  std::unique_ptr<base::Value> value =
      deserializer.Deserialize(&error_code, &error_message);
  if (value)
    return value->is_dict() ? TakeDictionary(std::move(value)) : nullptr;
  if (ErrorFromFileCode(error_code) != kReadErrorJsonParse)
    return nullptr;
  LOG(WARNING) << "Cannot read preferences " << path.value() << ": "
               << error_message;
  if (path.BaseName().value() == kLocalStateFileName ||
      !base::IsFeatureEnabled(kBackupPreferenceFilesFeature) ||
      path.MatchesExtension(kBackupExtension)) {
    return nullptr;
  }
  return ReadPrefsWithoutChanges(path.AddExtension(kBackupExtension));
}

JsonPrefStore::JsonPrefStore(
    const base::FilePath& pref_filename,
    base::scoped_refptr<base::SequencedTaskRunner> file_task_runner,
    std::unique_ptr<PrefFilter> pref_filter)
    : path_(pref_filename),
      file_task_runner_(std::move(file_task_runner)),
      prefs_(new base::DictionaryValue()),
      writer_(pref_filename, file_task_runner_),
      pref_filter_(std::move(pref_filter)),
      write_count_recorder_(writer_.commit_interval(),
                            path_,
                            std::make_unique<base::DefaultClock>()),
      weak_ptr_factory_(this) {}

void JsonPrefStore::AddObserver(PrefStoreObserver* observer) {
  observers_.AddObserver(observer);
}

void JsonPrefStore::RemoveObserver(PrefStoreObserver* observer) {
  observers_.RemoveObserver(observer);
}

bool JsonPrefStore::HasObservers() const {
  return observers_.might_have_observers();
}

bool JsonPrefStore::IsInitialized() const {
  return initialized_;
}

bool JsonPrefStore::GetValue(const std::string& key,
                             const base::Value** result) const {
  const base::Value* tmp = nullptr;
  if (!prefs_->Get(key, &tmp))
    return false;
  if (result)
    *result = tmp;
  return true;
}

std::unique_ptr<base::DictionaryValue> JsonPrefStore::GetAllValues() const {
  return prefs_->CreateDeepCopy();
}

bool JsonPrefStore::GetMutableValue(const std::string& key,
                                    base::Value** result) {
  base::Value* tmp = nullptr;
  if (!prefs_->Get(key, &tmp))
    return false;
  if (result)
    *result = tmp;
  return true;
}

void JsonPrefStore::SetValue(const std::string& key,
                             std::unique_ptr<base::Value> value,
                             uint32_t flags) {
  DCHECK(value);
  if (SetIfChanged(prefs_.get(), key, std::move(value)))
    NotifyValueChanged(key, flags);
}

void JsonPrefStore::SetValueWithoutNotification(
    const std::string& key,
    std::unique_ptr<base::Value> value,
    uint32_t flags) {
  DCHECK(value);
  if (SetIfChanged(prefs_.get(), key, std::move(value)))
    ScheduleWrite(flags);
}

void JsonPrefStore::RemoveValue(const std::string& key, uint32_t flags) {
  // Nothing is ever stored that deep; don't walk the path.
  if (KeyNesting(key) > kMaxNesting)
    return;
  if (prefs_->RemovePath(key, nullptr))
    NotifyValueChanged(key, flags);
}

void JsonPrefStore::NotifyValueChanged(const std::string& key, uint32_t flags) {
  if (pref_filter_)
    pref_filter_->FilterUpdate(key);
  for (PrefStoreObserver& observer : observers_)
    observer.OnPrefValueChanged(key);
  ScheduleWrite(flags);
}

bool JsonPrefStore::IsReadOnly() const {
  return read_only_;
}

PersistentPrefStore::PrefReadError JsonPrefStore::GetReadError() const {
  return read_error_;
}

PersistentPrefStore::PrefReadError JsonPrefStore::ReadPrefs() {
  OnFileRead(ReadPrefsFromDisk(path_));
  return filtering_in_progress_ ? kReadErrorAsyncIncomplete : read_error_;
}

void JsonPrefStore::ReadPrefsAsync(ReadErrorDelegate* error_delegate) {
  initialized_ = false;
  error_delegate_.reset(error_delegate);

  // The task fills the holder that the reply then owns; a store that is
  // gone by then hears nothing.
  auto* holder = new std::unique_ptr<ReadResult>();
  file_task_runner_->PostTaskAndReply(
      FROM_HERE,
      base::BindOnce(
          [](const base::FilePath& path, std::unique_ptr<ReadResult>* out) {
            *out = ReadPrefsFromDisk(path);
          },
          path_, base::Unretained(holder)),
      base::BindOnce(
          [](base::WeakPtr<JsonPrefStore> store,
             std::unique_ptr<ReadResult>* holder) {
            if (store)
              store->OnFileRead(std::move(*holder));
          },
          weak_ptr_factory_.GetWeakPtr(), base::Owned(holder)));
}

void JsonPrefStore::CommitPendingWrite(base::OnceClosure done_callback) {
  ScheduleLossyWrites();
  if (writer_.HasPendingWrite() && !read_only_)
    writer_.DoScheduledWrite();

  // The write just posted, and every one before it, ends before this reply.
  if (done_callback) {
    file_task_runner_->PostTaskAndReply(FROM_HERE, base::BindOnce(&DoNothing),
                                        std::move(done_callback));
  }
}

void JsonPrefStore::ScheduleLossyWrites() {
  if (pending_lossy_write_)
    writer_.ScheduleWrite(this);
}

void JsonPrefStore::ClearUserValues() {
  LOG(ERROR) << "NOT IMPLEMENTED";
}

void JsonPrefStore::OnFileDeleted() {
  if (pref_filter_)
    pref_filter_->OnFileDeleted();
}

void JsonPrefStore::RegisterOnNextSuccessfulWrite(
    base::OnceClosure on_next_successful_write) {
  on_next_successful_write_reply_ = std::move(on_next_successful_write);
  if (has_pending_write_reply_)
    return;
  has_pending_write_reply_ = true;
  writer_.RegisterOnNextWriteCallbacks(
      base::OnceClosure(),
      base::BindOnce(&JsonPrefStore::PostWriteCallback,
                     base::OnceCallback<void(bool success)>(),
                     base::BindOnce(&JsonPrefStore::OnWriteReply,
                                    weak_ptr_factory_.GetWeakPtr()),
                     base::SequencedTaskRunnerHandle::Get()));
}

void JsonPrefStore::RegisterWriteCallbacks(
    PrefFilter::OnWriteCallbackPair callbacks) {
  has_pending_write_reply_ = true;
  writer_.RegisterOnNextWriteCallbacks(
      std::move(callbacks.first),
      base::BindOnce(&JsonPrefStore::PostWriteCallback,
                     std::move(callbacks.second),
                     base::BindOnce(&JsonPrefStore::OnWriteReply,
                                    weak_ptr_factory_.GetWeakPtr()),
                     base::SequencedTaskRunnerHandle::Get()));
}

// static
void JsonPrefStore::PostWriteCallback(
    base::OnceCallback<void(bool success)> callback,
    base::OnceCallback<void(bool success)> reply,
    base::scoped_refptr<base::SequencedTaskRunner> reply_task_runner,
    bool write_success) {
  if (callback)
    std::move(callback).Run(write_success);
  reply_task_runner->PostTask(FROM_HERE,
                              base::BindOnce(std::move(reply), write_success));
}

void JsonPrefStore::OnWriteReply(bool success) {
  has_pending_write_reply_ = false;
  if (on_next_successful_write_reply_.is_null())
    return;
  base::OnceClosure reply = std::move(on_next_successful_write_reply_);
  if (success)
    std::move(reply).Run();
  else
    RegisterOnNextSuccessfulWrite(std::move(reply));
}

JsonPrefStore::~JsonPrefStore() {
  CommitPendingWrite(base::OnceClosure());
  write_count_recorder_.ReportOutstandingWrites();
}

bool JsonPrefStore::SerializeData(std::string* output) {
  pending_lossy_write_ = false;
  write_count_recorder_.RecordWriteOccurred();

  // SetValue refuses such values, but a value changed in place through
  // GetMutableValue comes only with NotifyValueChanged, if at all: written,
  // it would make the next read fail and every preference be lost. Cut
  // before the filter sees the data, so that it sees what is written.
  if (NestsDeeperThan(*prefs_, kMaxNesting))
    DropWhatNestsTooDeep(prefs_.get(), kMaxNesting - 1, std::string());

  if (pref_filter_) {
    PrefFilter::OnWriteCallbackPair callbacks =
        pref_filter_->FilterSerializeData(prefs_.get());
    if (callbacks.first || callbacks.second)
      RegisterWriteCallbacks(std::move(callbacks));
  }

  base::JSONStringValueSerializer serializer(output);
  serializer.set_pretty_print(false);
  return serializer.Serialize(*prefs_);
}

void JsonPrefStore::OnFileRead(std::unique_ptr<ReadResult> read_result) {
  DCHECK(read_result);
  auto unfiltered_prefs = std::make_unique<base::DictionaryValue>();
  read_error_ = read_result->error;
  // Without its folder the store could never write: it stays uninitialised.
  const bool initialization_successful = !read_result->no_dir;

  if (initialization_successful) {
    switch (read_error_) {
      case kReadErrorAccessDenied:
      case kReadErrorFileLocked:
      case kReadErrorJsonType:
      case kReadErrorFileOther:
        read_only_ = true;
        break;
      case kReadErrorNone:
        unfiltered_prefs = TakeDictionary(std::move(read_result->value));
        break;
      case kReadErrorJsonParse:
      case kReadErrorNoFile:
      case kReadErrorJsonRepeat:
        break;
      default:
        break;
    }
  }

  if (pref_filter_) {
    filtering_in_progress_ = true;
    pref_filter_->FilterOnLoad(
        base::BindOnce(
            [](base::WeakPtr<JsonPrefStore> store, bool success,
               std::unique_ptr<base::DictionaryValue> prefs,
               bool schedule_write) {
              if (store) {
                store->FinishInitialization(success, std::move(prefs),
                                            schedule_write);
              }
            },
            weak_ptr_factory_.GetWeakPtr(), initialization_successful),
        std::move(unfiltered_prefs));
  } else {
    FinishInitialization(initialization_successful, std::move(unfiltered_prefs),
                         false);
  }
}

void JsonPrefStore::FinishInitialization(
    bool initialization_successful,
    std::unique_ptr<base::DictionaryValue> prefs,
    bool schedule_write) {
  filtering_in_progress_ = false;

  if (!initialization_successful) {
    for (PrefStoreObserver& observer : observers_)
      observer.OnInitializationCompleted(false);
    return;
  }

  prefs_ = std::move(prefs);
  initialized_ = true;

  if (schedule_write)
    ScheduleWrite(DEFAULT_PREF_WRITE_FLAGS);

  if (error_delegate_ && read_error_ != kReadErrorNone)
    error_delegate_->OnError(read_error_);

  for (PrefStoreObserver& observer : observers_)
    observer.OnInitializationCompleted(true);
}

void JsonPrefStore::ScheduleWrite(uint32_t flags) {
  if (read_only_)
    return;
  if (flags & kLossyWrite)
    pending_lossy_write_ = true;
  else
    writer_.ScheduleWrite(this);
}

JsonPrefStore::WriteCountRecorder::WriteCountRecorder(
    base::TimeDelta commit_interval,
    const base::FilePath& path,
    std::unique_ptr<base::Clock> clock)
    : commit_interval_(commit_interval),
      path_(path),
      clock_(std::move(clock)),
      last_report_time_(clock_->Now()) {}

JsonPrefStore::WriteCountRecorder::~WriteCountRecorder() = default;

void JsonPrefStore::WriteCountRecorder::RecordWriteOccurred() {
  ReportOutstandingWrites();
  ++writes_since_last_report_;
}

void JsonPrefStore::WriteCountRecorder::ReportOutstandingWrites() {
  base::TimeDelta elapsed = clock_->Now() - last_report_time_;
  if (elapsed <= kReportInterval)
    return;

  base::HistogramBase* histogram = GetHistogram();
  histogram->Add(writes_since_last_report_);

  // Periods without a write count as periods of zero writes.
  int64_t intervals = elapsed / kReportInterval;
  if (intervals > 1) {
    histogram->AddCount(0,
                        static_cast<int>(std::min<int64_t>(
                            intervals - 1, std::numeric_limits<int>::max())));
  }

  writes_since_last_report_ = 0;
  last_report_time_ += kReportInterval * intervals;
}

base::HistogramBase* JsonPrefStore::WriteCountRecorder::GetHistogram() {
  const int max = static_cast<int>(kReportInterval / commit_interval_);
  return base::Histogram::FactoryGet(
      "Settings.JsonDataWriteCount." + SpacelessName(path_.BaseName()), 1, max,
      static_cast<uint32_t>(max + 1),
      base::HistogramBase::kUmaTargetedHistogramFlag);
}
