#pragma once

#include "ASDriver.h"

class FaultConnection;

class FaultStatement : public ASDriverStatement {
 public:
  FaultStatement(FaultConnection& conn, std::unique_ptr<ASDriverStatement> inner,
                 std::string sql)
      : conn_(conn), inner_(std::move(inner)), sql_(std::move(sql)) {}
  void Execute(const std::vector<ASBindValue>& params) override;
  bool Next() override { return inner_->Next(); }
  size_t Columns() const override { return inner_->Columns(); }
  void Get(size_t column, ASBindValue& out) const override { inner_->Get(column, out); }
  long long Changes() const override { return inner_->Changes(); }
  void Reset() override { inner_->Reset(); }

 private:
  FaultConnection& conn_;
  std::unique_ptr<ASDriverStatement> inner_;
  std::string sql_;
};
