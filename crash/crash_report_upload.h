#ifndef CRASH_CRASH_REPORT_UPLOAD_H_
#define CRASH_CRASH_REPORT_UPLOAD_H_

#include <windows.h>

#include <stdint.h>

#include <map>
#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/strings/string16.h"
#include "base/strings/string_piece.h"

namespace crash_reporter {

class ParsedCrashKeys;

// The named text fields sent with a dump. The first value stored under a
// name wins, so the crashed process's own keys, stored first, are never
// replaced by the reporter's.
class CrashReportFields {
 public:
  using Map = std::map<base::string16, base::string16>;

  CrashReportFields();
  ~CrashReportFields();

  // |value| is UTF-8.
  void SetText(base::StringPiece name, base::StringPiece value);
  void SetWide(const base::string16& name, const base::string16& value);
  void SetUint32(base::StringPiece name, uint32_t value);
  void SetInt64(base::StringPiece name, int64_t value);
  void SetUint64(base::StringPiece name, uint64_t value);
  bool Has(base::StringPiece name) const;

  const Map& fields() const { return fields_; }

 private:
  Map fields_;

  DISALLOW_COPY_AND_ASSIGN(CrashReportFields);
};

// A dump with its fields, on its way to the crash service.
class CrashUploadTask {
 public:
  CrashUploadTask(std::unique_ptr<CrashReportFields> fields,
                  const base::FilePath& dump_path,
                  bool gzip,
                  bool delete_dump);
  // Deletes the dump when asked to.
  ~CrashUploadTask();

  // Sends the dump and its fields to the upload URL; true when the service
  // took them.
  bool Upload();

 private:
  // One request, the body in chunks or with its length; |chunks_not_carried|
  // tells that chunks could not be sent at all.
  bool Send(bool with_length, bool* chunks_not_carried);

  std::unique_ptr<CrashReportFields> fields_;
  const base::FilePath dump_path_;
  const bool gzip_;
  const bool delete_dump_;

  DISALLOW_COPY_AND_ASSIGN(CrashUploadTask);
};

// The fields of a client's crash: its crash keys (but "crash_guid"), its
// times ("ptime" is its uptime in ms), its memory figures and the product.
void CollectClientCrashFields(HANDLE process,
                              const ParsedCrashKeys& keys,
                              CrashReportFields* fields);
// The fields of a crash of the crash reporter |process_id| itself.
void CollectReporterCrashFields(DWORD process_id, CrashReportFields* fields);

// Uploads on a thread-pool thread, gzipped, counted as pending work of the
// reporter; the dump is deleted afterwards when |delete_dump|. False when
// the work cannot be queued (the dump is deleted then too, when asked).
bool UploadCrashReportAsync(const base::FilePath& dump_path,
                            std::unique_ptr<CrashReportFields> fields,
                            bool delete_dump);
// Uploads on this thread and deletes the dump afterwards.
bool UploadCrashReport(const base::FilePath& dump_path,
                       std::unique_ptr<CrashReportFields> fields,
                       bool gzip);

}  // namespace crash_reporter

#endif  // CRASH_CRASH_REPORT_UPLOAD_H_
