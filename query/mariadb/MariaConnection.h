#pragma once

#include <mysql.h>

#include "ASDriver.h"
#include "MariaUrl.h"

// Hands the target's settings to Connector/C before it connects: the option files (the
// [client] and [jrxlog] groups) are read by the connector itself when it connects.
void applyClientOptions(MYSQL* db, const MariaTarget& target);
// Why the connection just made falls short of the target's ssl-mode, or "".
std::string tlsShortfall(MYSQL* db, const MariaTarget& target);

// A connection to a MariaDB or MySQL server through MariaDB Connector/C, with a binary
// character set so that every text travels and compares as the exact bytes given.
class MariaConnection : public ASDriverConnection {
 public:
  explicit MariaConnection(MariaTarget target);
  ~MariaConnection() override;

  const char* Dialect() const override { return "mariadb"; }
  std::unique_ptr<ASDriverStatement> Prepare(const std::string& sql) override;
  void ExecuteSql(const std::string& sql) override;
  long long LastInsertId() override { return lastInsertId_; }
  void SetLastInsertId(unsigned long long id) { lastInsertId_ = static_cast<long long>(id); }
  // Called after each statement (`ok`: it succeeded); ends what a statement outside a
  // transaction left open on the server.
  void StatementDone(bool ok);
  // Between Begin() and Commit() / Rollback(): StatementDone() leaves the server alone.
  bool InTransaction() const { return explicit_; }

  void Begin(ASTransactionMode mode) override;
  void Commit() override;
  void Rollback() override;
  void Savepoint(const std::string& name) override;
  void ReleaseSavepoint(const std::string& name) override;
  void RollbackToSavepoint(const std::string& name) override;
  void Reconnect() override;

  std::vector<std::string> TableDdl(const ASDomain& domain) const override;
  std::vector<std::string> RowKey(const ASDomain& domain) const override;
  std::string InsertDefaultsSql(const std::string& table) const override;
  const char* NoLimit() const override { return "18446744073709551615"; }
  // The primary key's name is PRIMARY here too.
  std::string IndexHint(const ASDomain&, const std::string& index) const override {
    return " FORCE INDEX (" + index + ")";
  }
  const char* OrderedJoin() const override { return " STRAIGHT_JOIN "; }
  const char* RowLockClause(ASFilter::RowLock lock) const override {
    return lock == ASFilter::kLockShare         ? " LOCK IN SHARE MODE"
           : lock == ASFilter::kLockSkipLocked ? " FOR UPDATE SKIP LOCKED"
                                                : " FOR UPDATE";
  }
  ASTableLayout DescribeTable(const std::string& table) override;
  ASTableLayout IntendedLayout(const ASDomain& domain) const override;
  std::vector<std::string> ReshapeSql(const ASDomain& domain, const ASTableLayout& have,
                                      const ASTableLayout& want) const override;
  bool Vacuum() override { return false; }
  bool LockName(const std::string& name, int timeoutSeconds) override;
  void UnlockName(const std::string& name) override;
  std::vector<ASPlanStep> Explain(const std::string& sql,
                                  const std::vector<ASBindValue>& params) override;
  std::string TableExistsSql() const override;
  std::string AutoIncrementUsedSql() const override;
  std::vector<std::string> ReserveAutoIncrementSql(const ASDomain& table,
                                                   long long used) const override;
  size_t MaxParameters() const override { return 65535; }

 private:
  void Connect();
  void Close();
  void Query(const std::string& sql);  // without StatementDone()
  bool ServerInTransaction() const;

  MariaTarget target_;
  MYSQL* db_ = nullptr;
  long long lastInsertId_ = 0;
  bool explicit_ = false;  // between Begin() and Commit() / Rollback()
};
