#include "FaultStatement.h"

#include "FaultConnection.h"

void FaultStatement::Execute(const std::vector<ASBindValue>& params) {
  conn_.Check(sql_);
  inner_->Execute(params);
}
