#pragma once

#include "ASDriver.h"

// Wraps another driver's connection; every statement first meets the faults armed through
// ASFaults. A dropped connection rolls the inner transaction back and refuses everything
// until Reconnect().
class FaultConnection : public ASDriverConnection {
 public:
  explicit FaultConnection(std::unique_ptr<ASDriverConnection> inner);

  // Runs the armed faults for `sql`; throws when one fires or the connection is down.
  void Check(const std::string& sql);

  const char* Dialect() const override { return inner_->Dialect(); }
  std::unique_ptr<ASDriverStatement> Prepare(const std::string& sql) override;
  void ExecuteSql(const std::string& sql) override;
  long long LastInsertId() override { return inner_->LastInsertId(); }

  void Begin(ASTransactionMode mode) override;
  void Commit() override;
  void Rollback() override;
  void Savepoint(const std::string& name) override;
  void ReleaseSavepoint(const std::string& name) override;
  void RollbackToSavepoint(const std::string& name) override;
  void Reconnect() override;
  void ReleaseMemory() override { inner_->ReleaseMemory(); }

  std::vector<std::string> TableDdl(const ASDomain& d) const override { return inner_->TableDdl(d); }
  std::vector<std::string> RowKey(const ASDomain& d) const override { return inner_->RowKey(d); }
  std::string InsertDefaultsSql(const std::string& t) const override {
    return inner_->InsertDefaultsSql(t);
  }
  const char* NoLimit() const override { return inner_->NoLimit(); }
  std::string IndexHint(const ASDomain& table, const std::string& index) const override {
    return inner_->IndexHint(table, index);
  }
  const char* OrderedJoin() const override { return inner_->OrderedJoin(); }
  const char* RowLockClause(ASFilter::RowLock lock) const override {
    return inner_->RowLockClause(lock);
  }
  ASTableLayout DescribeTable(const std::string& table) override {
    return inner_->DescribeTable(table);
  }
  ASTableLayout IntendedLayout(const ASDomain& d) const override {
    return inner_->IntendedLayout(d);
  }
  std::vector<std::string> ReshapeSql(const ASDomain& d, const ASTableLayout& have,
                                      const ASTableLayout& want) const override {
    return inner_->ReshapeSql(d, have, want);
  }
  bool Vacuum() override { return inner_->Vacuum(); }
  bool LockName(const std::string& name, int timeoutSeconds) override {
    return inner_->LockName(name, timeoutSeconds);
  }
  void UnlockName(const std::string& name) override { inner_->UnlockName(name); }
  std::vector<ASPlanStep> Explain(const std::string& sql,
                                  const std::vector<ASBindValue>& params) override {
    return inner_->Explain(sql, params);
  }
  std::string TableExistsSql() const override { return inner_->TableExistsSql(); }
  std::string AutoIncrementUsedSql() const override { return inner_->AutoIncrementUsedSql(); }
  std::vector<std::string> ReserveAutoIncrementSql(const ASDomain& table,
                                                   long long used) const override {
    return inner_->ReserveAutoIncrementSql(table, used);
  }
  size_t MaxParameters() const override { return inner_->MaxParameters(); }

 private:
  std::unique_ptr<ASDriverConnection> inner_;
  bool dropped_ = false;
  bool inTransaction_ = false;
};
