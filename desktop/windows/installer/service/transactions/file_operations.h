#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_FILE_OPERATIONS_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_FILE_OPERATIONS_H_

#include <windows.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "desktop/windows/installer/service/transactions/transaction_operation.h"

namespace installer {

class LzmaUtil;
class UnpackProgressObserver;

// Copies one file over whatever is at |destination|; an existing file there
// is first moved aside, so that a rollback can put it back. A read-only
// source loses the attribute for the copy and gets it back on rollback.
class CopyFileOperation : public TransactionOperation {
 public:
  CopyFileOperation(const base::FilePath& source,
                    const base::FilePath& destination);
  ~CopyFileOperation() override;

  bool Execute(Transaction* nested, std::string* error) override;
  void Rollback() override;

 private:
  const base::FilePath source_;
  const base::FilePath destination_;
  bool copied_ = false;
  // The source's attributes before Execute cleared its read-only bit;
  // INVALID_FILE_ATTRIBUTES when it did not.
  DWORD cleared_source_attributes_ = INVALID_FILE_ATTRIBUTES;

  DISALLOW_COPY_AND_ASSIGN(CopyFileOperation);
};

// Creates a folder with its missing ancestors and takes away exactly the
// levels it created on rollback.
class CreateFolderOperation : public TransactionOperation {
 public:
  explicit CreateFolderOperation(const base::FilePath& folder);
  ~CreateFolderOperation() override;

  bool Execute(Transaction* nested, std::string* error) override;
  void Rollback() override;

 private:
  const base::FilePath folder_;
  // The nearest folder that existed before; empty unless Execute created
  // something.
  base::FilePath existing_ancestor_;

  DISALLOW_COPY_AND_ASSIGN(CreateFolderOperation);
};

// Moves a file aside to "<path>.<seconds since 1970>.old" (or, when that is
// taken, "<path>.<seconds>_<n>.old") and deletes it only at commit, so that
// the deletion can still be undone.
class DeleteFileOperation : public TransactionOperation {
 public:
  // With |check_in_use|, an executable or DLL that some process holds open
  // (a running program) is refused. With |remove_empty_parents|, the commit
  // also removes the folders that the deletion left empty, below |root| (the
  // package or installation folder the file belongs to), which stays; without
  // a root containing the file no folder is removed.
  DeleteFileOperation(const base::FilePath& path,
                      bool check_in_use,
                      bool remove_empty_parents,
                      const base::FilePath& root = base::FilePath());
  ~DeleteFileOperation() override;

  bool Execute(Transaction* nested, std::string* error) override;
  void Rollback() override;

  // The clock that names the moved-aside file, in whole seconds since 1970;
  // null puts the system clock back.
  static void SetClockForTesting(int64_t (*seconds_since_1970)());

 protected:
  // base::MoveUnsafe; apart so that tests can have the move back of a busy
  // file fail, which a real system does only under a race.
  virtual bool MoveBack(const base::FilePath& from, const base::FilePath& to);

 private:
  // Puts the moved-aside file back at its name; on failure it stays where it
  // is, and the operation never deletes it.
  void RestoreMovedFile();

  const base::FilePath path_;
  base::FilePath moved_path_;
  bool moved_ = false;
  // Execute found the file busy after moving it aside and could not move it
  // back: the moved-aside file is the only copy and must come back, never go.
  bool restore_pending_ = false;
  const bool check_in_use_;
  const bool remove_empty_parents_;
  const base::FilePath root_;

  DISALLOW_COPY_AND_ASSIGN(DeleteFileOperation);
};

// Moves one file; the commit removes the source folders the move emptied,
// below |root| (the package or installation folder the source belongs to),
// which stays. A read-only source loses the attribute for the move and gets
// it back on rollback.
class MoveFileOperation : public TransactionOperation {
 public:
  MoveFileOperation(const base::FilePath& source,
                    const base::FilePath& destination,
                    const base::FilePath& root);
  ~MoveFileOperation() override;

  bool Execute(Transaction* nested, std::string* error) override;
  void Rollback() override;

 private:
  const base::FilePath source_;
  const base::FilePath destination_;
  const base::FilePath root_;
  bool moved_ = false;
  // As for CopyFileOperation.
  DWORD cleared_source_attributes_ = INVALID_FILE_ATTRIBUTES;

  DISALLOW_COPY_AND_ASSIGN(MoveFileOperation);
};

// Extracts a whole 7z archive into a folder. The reader and the observer
// are borrowed; the reader is used only during Execute. Nothing outside the
// folder is written or deleted: an archive with an entry that would land
// outside is refused before anything is extracted, and a file in the folder
// that an entry replaces is moved aside first, so that a rollback brings it
// back.
class UnpackArchiveOperation : public TransactionOperation {
 public:
  UnpackArchiveOperation(const base::FilePath& archive,
                         const base::FilePath& destination,
                         LzmaUtil* reader,
                         UnpackProgressObserver* observer);
  ~UnpackArchiveOperation() override;

  bool Execute(Transaction* nested, std::string* error) override;
  void Rollback() override;

 private:
  // Execute's work between opening and closing the archive.
  bool UnpackOpenArchive(Transaction* nested, std::string* error);

  const base::FilePath archive_;
  const base::FilePath destination_;
  std::vector<base::FilePath> extracted_files_;
  std::vector<base::FilePath> created_folders_;
  LzmaUtil* reader_;
  UnpackProgressObserver* const observer_;
  bool unpacked_ = false;

  DISALLOW_COPY_AND_ASSIGN(UnpackArchiveOperation);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_FILE_OPERATIONS_H_
