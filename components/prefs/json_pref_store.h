#ifndef COMPONENTS_PREFS_JSON_PREF_STORE_H_
#define COMPONENTS_PREFS_JSON_PREF_STORE_H_

#include <stdint.h>

#include <memory>
#include <string>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "base/files/important_file_writer.h"
#include "base/macros.h"
#include "base/memory/scoped_refptr.h"
#include "base/memory/weak_ptr.h"
#include "base/metrics/histogram_base.h"
#include "base/observer_list.h"
#include "base/sequenced_task_runner.h"
#include "base/time/clock.h"
#include "base/time/time.h"
#include "components/prefs/persistent_pref_store.h"
#include "components/prefs/pref_filter.h"

// Keeps one JSON file of preferences in memory. The file is read once and
// written back whole, coalesced, through an atomic writer on
// |file_task_runner|. Everything else happens on the sequence that made
// the store.
class JsonPrefStore : public PersistentPrefStore,
                      public base::ImportantFileWriter::DataSerializer {
 public:
  // What reading the file produced.
  struct ReadResult {
    ReadResult();
    ~ReadResult();

    std::unique_ptr<base::Value> value;
    PrefReadError error = kReadErrorNone;
    // The file's folder does not exist.
    bool no_dir = false;

   private:
    DISALLOW_COPY_AND_ASSIGN(ReadResult);
  };

  // Counts writes and reports them in periods of |kReportInterval|.
  class WriteCountRecorder {
   public:
    static constexpr base::TimeDelta kReportInterval =
        base::TimeDelta::FromMinutes(5);

    WriteCountRecorder(base::TimeDelta commit_interval,
                       const base::FilePath& path,
                       std::unique_ptr<base::Clock> clock);
    ~WriteCountRecorder();

    // Reports what is due, then counts one write.
    void RecordWriteOccurred();
    // Reports the writes of every whole period that ended.
    void ReportOutstandingWrites();

    int writes_since_last_report() const { return writes_since_last_report_; }

   private:
    base::HistogramBase* GetHistogram();

    const base::TimeDelta commit_interval_;
    const base::FilePath path_;
    const std::unique_ptr<base::Clock> clock_;
    base::Time last_report_time_;
    int writes_since_last_report_ = 0;

    DISALLOW_COPY_AND_ASSIGN(WriteCountRecorder);
  };

  // Reads |path| on the calling thread, with the ".backup" rules when the
  // feature "backup-preference-files" is on.
  static std::unique_ptr<ReadResult> ReadPrefsFromDisk(
      const base::FilePath& path);

  // The preferences a store of |path| would start from, read on the calling
  // thread without changing anything on disk: a damaged file is neither
  // moved aside nor replaced by its ".backup" (which is read when the store
  // would read it), and no ".backup" is made. Null when there are none to
  // read. For looking into another installation's files.
  static std::unique_ptr<base::DictionaryValue> ReadPrefsWithoutChanges(
      const base::FilePath& path);

  // |pref_filter| may be null.
  JsonPrefStore(const base::FilePath& pref_filename,
                base::scoped_refptr<base::SequencedTaskRunner> file_task_runner,
                std::unique_ptr<PrefFilter> pref_filter);

  // PrefStore:
  void AddObserver(PrefStoreObserver* observer) override;
  void RemoveObserver(PrefStoreObserver* observer) override;
  bool HasObservers() const override;
  bool IsInitialized() const override;
  bool GetValue(const std::string& key,
                const base::Value** result) const override;
  std::unique_ptr<base::DictionaryValue> GetAllValues() const override;

  // WritablePrefStore:
  void SetValue(const std::string& key,
                std::unique_ptr<base::Value> value,
                uint32_t flags) override;
  void RemoveValue(const std::string& key, uint32_t flags) override;
  bool GetMutableValue(const std::string& key, base::Value** result) override;
  void NotifyValueChanged(const std::string& key, uint32_t flags) override;
  void SetValueWithoutNotification(const std::string& key,
                                   std::unique_ptr<base::Value> value,
                                   uint32_t flags) override;

  // PersistentPrefStore:
  bool IsReadOnly() const override;
  PrefReadError GetReadError() const override;
  PrefReadError ReadPrefs() override;
  void ReadPrefsAsync(ReadErrorDelegate* error_delegate) override;
  void CommitPendingWrite(base::OnceClosure done_callback) override;
  void ScheduleLossyWrites() override;
  void ClearUserValues() override;
  void OnFileDeleted() override;

  // Runs |on_next_successful_write| on this sequence after the next write
  // that succeeds.
  void RegisterOnNextSuccessfulWrite(
      base::OnceClosure on_next_successful_write);

  bool HasPendingWriteForTesting() const { return writer_.HasPendingWrite(); }

 protected:
  ~JsonPrefStore() override;

 private:
  // ImportantFileWriter::DataSerializer:
  bool SerializeData(std::string* output) override;

  void RegisterWriteCallbacks(PrefFilter::OnWriteCallbackPair callbacks);

  // On the file task runner after a write: runs |callback| and sends the
  // result home.
  static void PostWriteCallback(
      base::OnceCallback<void(bool success)> callback,
      base::OnceCallback<void(bool success)> reply,
      base::scoped_refptr<base::SequencedTaskRunner> reply_task_runner,
      bool write_success);
  void OnWriteReply(bool success);

  void OnFileRead(std::unique_ptr<ReadResult> read_result);
  void FinishInitialization(bool initialization_successful,
                            std::unique_ptr<base::DictionaryValue> prefs,
                            bool schedule_write);
  void ScheduleWrite(uint32_t flags);

  const base::FilePath path_;
  const base::scoped_refptr<base::SequencedTaskRunner> file_task_runner_;
  std::unique_ptr<base::DictionaryValue> prefs_;
  bool read_only_ = false;
  base::ImportantFileWriter writer_;
  std::unique_ptr<PrefFilter> pref_filter_;
  base::ObserverList<PrefStoreObserver> observers_;
  std::unique_ptr<ReadErrorDelegate> error_delegate_;
  bool initialized_ = false;
  bool filtering_in_progress_ = false;
  bool pending_lossy_write_ = false;
  PrefReadError read_error_ = kReadErrorNone;
  bool has_pending_write_reply_ = false;
  base::OnceClosure on_next_successful_write_reply_;
  WriteCountRecorder write_count_recorder_;

  // Last, so that replies die before the rest.
  base::WeakPtrFactory<JsonPrefStore> weak_ptr_factory_;

  DISALLOW_COPY_AND_ASSIGN(JsonPrefStore);
};

#endif  // COMPONENTS_PREFS_JSON_PREF_STORE_H_
