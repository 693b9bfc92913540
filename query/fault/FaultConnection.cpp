#include "FaultConnection.h"

#include "FaultError.h"
#include "FaultStatement.h"

FaultConnection::FaultConnection(std::unique_ptr<ASDriverConnection> inner)
    : inner_(std::move(inner)) {}

void FaultConnection::Check(const std::string& sql) {
  if (dropped_) faultThrowLost();
  std::string text;
  const FaultAction action = faultCheck(sql, text);
  switch (action) {
    case FaultAction::None:
      return;
    case FaultAction::Fail:
      faultThrowFailure(text);
    case FaultAction::Drop:
    case FaultAction::Conflict:
      // What the server does with the transaction of a connection that went away, or of
      // the victim it picks to resolve a deadlock.
      if (inTransaction_) {
        try {
          inner_->Rollback();
        } catch (...) {
        }
      }
      inTransaction_ = false;
      if (action == FaultAction::Conflict) faultThrowConflict();
      dropped_ = true;
      faultThrowLost();
  }
}

std::unique_ptr<ASDriverStatement> FaultConnection::Prepare(const std::string& sql) {
  if (dropped_) faultThrowLost();
  faultCountPrepare();
  return std::unique_ptr<ASDriverStatement>(new FaultStatement(*this, inner_->Prepare(sql), sql));
}

void FaultConnection::ExecuteSql(const std::string& sql) {
  Check(sql);
  inner_->ExecuteSql(sql);
}

void FaultConnection::Begin(ASTransactionMode mode) {
  Check("BEGIN");
  inner_->Begin(mode);
  inTransaction_ = true;
}

void FaultConnection::Commit() {
  Check("COMMIT");
  inner_->Commit();
  inTransaction_ = false;
}

void FaultConnection::Rollback() {
  Check("ROLLBACK");
  inTransaction_ = false;
  inner_->Rollback();
}

void FaultConnection::Savepoint(const std::string& name) {
  Check("SAVEPOINT " + name);
  inner_->Savepoint(name);
}

void FaultConnection::ReleaseSavepoint(const std::string& name) {
  Check("RELEASE SAVEPOINT " + name);
  inner_->ReleaseSavepoint(name);
}

void FaultConnection::RollbackToSavepoint(const std::string& name) {
  Check("ROLLBACK TO SAVEPOINT " + name);
  inner_->RollbackToSavepoint(name);
}

void FaultConnection::Reconnect() {
  inner_->Reconnect();
  dropped_ = false;
  inTransaction_ = false;
}
