#include "desktop/windows/installer/service/transactions/transaction_operation.h"

#include <utility>

namespace installer {

bool ExecuteOperation(Transaction* transaction,
                      std::unique_ptr<TransactionOperation> operation,
                      std::string* error) {
  Transaction nested;
  if (operation->Execute(&nested, error)) {
    for (auto& nested_operation : nested)
      transaction->push_back(std::move(nested_operation));
    transaction->push_back(std::move(operation));
    return true;
  }
  // The outer change may stand on what the nested ones prepared (a file in
  // a folder they created), so it goes first.
  operation->Rollback();
  for (auto it = nested.rbegin(); it != nested.rend(); ++it)
    (*it)->Rollback();
  for (auto& nested_operation : nested)
    nested_operation.reset();
  operation.reset();
  return false;
}

void RollbackOperations(Transaction* transaction) {
  for (auto it = transaction->rbegin(); it != transaction->rend(); ++it)
    (*it)->Rollback();
  for (auto& operation : *transaction)
    operation.reset();
  transaction->clear();
}

void CommitOperations(Transaction* transaction) {
  for (auto& operation : *transaction)
    operation.reset();
  Transaction().swap(*transaction);
}

}  // namespace installer
