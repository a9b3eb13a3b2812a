#include "desktop/windows/installer/common/installer_error.h"

#include "base/threading/thread_local_storage.h"

namespace installer {

namespace {

// One slot for the whole process, never freed. It has no destructor: the
// record belongs to its scoped owner, not to the thread.
base::ThreadLocalStorage::Slot& ErrorRecordSlot() {
  static base::ThreadLocalStorage::Slot* const slot =
      new base::ThreadLocalStorage::Slot(nullptr);
  return *slot;
}

InstallerErrorRecord* CurrentRecord() {
  return static_cast<InstallerErrorRecord*>(ErrorRecordSlot().Get());
}

}  // namespace

ScopedInstallerErrorRecord::ScopedInstallerErrorRecord() {
  ErrorRecordSlot().Set(new InstallerErrorRecord());
}

ScopedInstallerErrorRecord::~ScopedInstallerErrorRecord() {
  delete CurrentRecord();
  ErrorRecordSlot().Set(nullptr);
}

bool SetLastInstallerError(InstallerResult code,
                           const std::string& message,
                           const std::wstring& path) {
  InstallerErrorRecord* record = CurrentRecord();
  if (record) {
    record->code = code;
    record->message = message;
    record->path = path;
  }
  return false;
}

bool AddLastInstallerErrorContext(const std::string& message,
                                  InstallerResult code,
                                  const std::wstring& path) {
  InstallerErrorRecord* record = CurrentRecord();
  if (record) {
    if (code != RESULT_SUCCESS)
      record->code = code;
    if (!path.empty())
      record->path = path;
    record->message += '\n';
    record->message += message;
  }
  return false;
}

void GetLastInstallerError(InstallerResult* code,
                           std::string* message,
                           std::wstring* path) {
  static const InstallerErrorRecord kEmpty;
  const InstallerErrorRecord* record = CurrentRecord();
  if (!record)
    record = &kEmpty;
  if (code)
    *code = record->code;
  if (message)
    *message = record->message;
  if (path)
    *path = record->path;
}

InstallerResult GetLastInstallerErrorCode() {
  InstallerResult code = RESULT_SUCCESS;
  GetLastInstallerError(&code, nullptr, nullptr);
  return code;
}

}  // namespace installer
