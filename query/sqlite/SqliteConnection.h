#pragma once

#include <sqlite3.h>

#include <chrono>

#include "ASDriver.h"

// A connection to a SQLite database: a file (WAL journal, busy timeout) or an in-memory
// database shared by the connections of one pool.
class SqliteConnection : public ASDriverConnection {
 public:
  SqliteConnection(const std::string& target, bool memory);
  ~SqliteConnection() override;

  const char* Dialect() const override { return "sqlite"; }
  std::unique_ptr<ASDriverStatement> Prepare(const std::string& sql) override;
  void ExecuteSql(const std::string& sql) override;
  long long LastInsertId() override { return sqlite3_last_insert_rowid(db_); }

  void Begin(ASTransactionMode mode) override;
  void Commit() override;
  void Rollback() override;
  void Savepoint(const std::string& name) override;
  void ReleaseSavepoint(const std::string& name) override;
  void RollbackToSavepoint(const std::string& name) override;
  void Reconnect() override;
  void ReleaseMemory() override { sqlite3_db_release_memory(db_); }

  std::vector<std::string> TableDdl(const ASDomain& domain) const override;
  std::vector<std::string> RowKey(const ASDomain& domain) const override;
  std::string InsertDefaultsSql(const std::string& table) const override;
  const char* NoLimit() const override { return "-1"; }
  std::string IndexHint(const ASDomain& table, const std::string& index) const override;
  // CROSS JOIN is SQLite's way of fixing the join order.
  const char* OrderedJoin() const override { return " CROSS JOIN "; }
  // A write transaction holds the file's write lock from its start.
  const char* RowLockClause(ASFilter::RowLock) const override { return ""; }
  ASTableLayout DescribeTable(const std::string& table) override;
  ASTableLayout IntendedLayout(const ASDomain& domain) const override;
  std::vector<std::string> ReshapeSql(const ASDomain& domain, const ASTableLayout& have,
                                      const ASTableLayout& want) const override;
  // A full vacuum: the file is written anew without its free pages (README tells why not
  // the incremental kind).
  bool Vacuum() override {
    ExecuteSql("VACUUM");
    return true;
  }
  // The write transaction that changes the layout is the lock. While it is held the page
  // cache is large (SqliteConnection.cpp tells why).
  bool LockName(const std::string&, int) override;
  void UnlockName(const std::string&) override;
  std::vector<ASPlanStep> Explain(const std::string& sql,
                                  const std::vector<ASBindValue>& params) override;
  std::string TableExistsSql() const override;
  std::string AutoIncrementUsedSql() const override;
  std::vector<std::string> ReserveAutoIncrementSql(const ASDomain& table,
                                                   long long used) const override;
  size_t MaxParameters() const override;

 private:
  enum Verb { kBegin, kBeginRead, kCommit, kRollback, kVerbs };
  void Control(Verb verb, const char* sql);

  sqlite3* db_ = nullptr;
  sqlite3_stmt* control_[kVerbs] = {};
  std::chrono::steady_clock::time_point busySince_;  // when the current wait for a lock began
  long long cacheSize_ = 0;  // the page cache's setting outside a layout change
};
