#include "ASSessionAccess.h"

namespace {
std::string savepointName(int level) { return "jrx_sp" + std::to_string(level); }
}  // namespace

ASTransaction::ASTransaction(ASSession* session, ASTransactionMode mode)
    : session_(session), level_(0) {
  if (!session) throw AException("a transaction needs a session");
  ASDriverConnection& conn = ASSessionAccess::Connection(*session);
  const int level = session->depth_ + 1;
  try {
    if (level == 1)
      conn.Begin(mode);
    else
      conn.Savepoint(savepointName(level));
  } catch (const AException& e) {
    if (e.ConnectionLost()) session->lost_ = true;
    throw;
  }
  level_ = level;
  session->depth_ = level;
}

void ASTransaction::Commit() {
  if (done_) throw AException("transaction committed twice");
  if (session_->depth_ != level_)
    throw AException("a transaction was committed while an inner one is still open");
  ASDriverConnection& conn = ASSessionAccess::Connection(*session_);
  try {
    if (level_ == 1)
      conn.Commit();
    else
      conn.ReleaseSavepoint(savepointName(level_));
  } catch (const AException& e) {
    if (e.ConnectionLost()) session_->lost_ = true;
    throw;
  }
  done_ = true;
  session_->depth_ = level_ - 1;
}

ASTransaction::~ASTransaction() {
  if (done_) return;
  try {
    ASDriverConnection& conn = ASSessionAccess::Connection(*session_);
    if (level_ == 1) {
      conn.Rollback();
    } else {
      conn.RollbackToSavepoint(savepointName(level_));
      conn.ReleaseSavepoint(savepointName(level_));
    }
  } catch (...) {
    // Nothing to undo on a lost connection: the database already dropped the transaction.
    // Any other failure may leave it open on the connection, work and all: the next
    // transaction would fail to begin (SQLite) or commit it (MariaDB). Only a new connection
    // is sure to be rid of it, and an outer transaction must fail rather than commit the
    // work its inner one could not undo; a lost session does both.
    session_->lost_ = true;
  }
  session_->depth_ = level_ - 1;
}
