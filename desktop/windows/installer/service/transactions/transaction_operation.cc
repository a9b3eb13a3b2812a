#include "desktop/windows/installer/service/transactions/transaction_operation.h"

// Placeholder bodies; the real ones replace this file.
namespace installer {

bool ExecuteOperation(Transaction* transaction,
                      std::unique_ptr<TransactionOperation> operation,
                      std::string* error) {
  return false;
}
void RollbackOperations(Transaction* transaction) {}
void CommitOperations(Transaction* transaction) {}

}  // namespace installer
