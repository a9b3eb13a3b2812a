#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_TRANSACTION_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_TRANSACTION_OPERATION_H_

#include <memory>
#include <string>
#include <vector>

namespace installer {

class TransactionOperation;

// Operations in the order they were executed; an operation's preparatory
// (nested) operations come before it.
using Transaction = std::vector<std::unique_ptr<TransactionOperation>>;

// One reversible change to the machine. A failed or cancelled run rolls its
// transaction back, newest first; a finished run commits it by destroying
// the operations in order, and the destructor is where an operation makes
// its change final (removes a file it only moved aside, puts back a key
// security it widened). Destructors act only on what the operation's own
// state records as done, so destroying a rolled-back or failed operation is
// harmless.
class TransactionOperation {
 public:
  virtual ~TransactionOperation() = default;

  // Makes the change; true also when there was nothing to do. Preparatory
  // changes go through ExecuteOperation into |nested|. |error| may be null;
  // when given, the operation writes its English failure text into it.
  virtual bool Execute(Transaction* nested, std::string* error) = 0;
  // Undoes what Execute did; nothing when it changed nothing.
  virtual void Rollback() = 0;
};

// The only way to run an operation. On success the operation and its nested
// operations join |transaction|; on failure everything it did is undone (the
// operation first, then its nested operations newest first) and
// |transaction| is left as it was.
bool ExecuteOperation(Transaction* transaction,
                      std::unique_ptr<TransactionOperation> operation,
                      std::string* error);

// Undoes every operation, newest first, then destroys them oldest first.
void RollbackOperations(Transaction* transaction);

// Destroys every operation oldest first, which makes each change final.
void CommitOperations(Transaction* transaction);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_TRANSACTION_OPERATION_H_
