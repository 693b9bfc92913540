#include "oplog/Players.h"

#include <algorithm>

#include "JRXRequest.h"

namespace JRX {
namespace logdb {

Players::Players(const JRXRequestProgressData& record) {
  getSourceEnv(record.info, source_);

  JRXEIDList unnamed = record.operands;
  if (source_.getEID().isValid()) unnamed.erase(source_.getEID());

  auto envs = record.info.getParameters().equal_range("env");
  for (auto it = envs.first; it != envs.second; ++it) {
    LogsEnvInfo env(it->second, false);
    if (env.getType().empty()) continue;
    operands_.push_back(env);
    unnamed.erase(env.getEID());
  }

  // Operands given by identifier only: the framework knows their type and title, and one it
  // knows nothing about is not worth a link.
  for (const JRXEID& eid : unnamed) {
    LogsEnvInfo env(eid, false);
    if (!env.getType().empty()) operands_.push_back(env);
  }
}

void Next::update(int op_id, JRXRdbmsTran& tran) const {
  update(players_.source(), players_.operands(), op_id, tran);
}

void Next::update(const LogsEnvInfo& source, const std::vector<LogsEnvInfo>& operands, int op_id,
                  JRXRdbmsTran& tran) {
  // Most later reports name no environment: nothing to find or link.
  if (!source.getEID().isValid() && operands.empty()) return;
  link(source, operands, op_id, tran, nullptr, false);
}

EnvRows Next::link(const LogsEnvInfo& source, const std::vector<LogsEnvInfo>& operands,
                   int op_id, JRXRdbmsTran& tran, const LogsEnvInfo* also, bool created) {
  const bool linkSource = source.getEID().isValid();
  std::vector<const LogsEnvInfo*> envs;
  envs.reserve(operands.size() + 2);
  if (linkSource) envs.push_back(&source);
  for (const LogsEnvInfo& operand : operands) envs.push_back(&operand);
  if (also) envs.push_back(also);
  EnvRows rows(tran, envs);
  auto linkOne = [&](const LogsEnvInfo& env, char role) {
    if (created)
      env.linkNewOperation(tran, op_id, role, rows.id(env));
    else
      env.linkOperation(tran, op_id, role, rows.id(env));
  };
  if (linkSource) linkOne(source, 'S');
  for (const LogsEnvInfo& operand : operands) linkOne(operand, 'O');
  return rows;
}

First::First(const JRXRequestProgressData& record)
    : players_(record),
      local_(JRXConfiguration::getLocalEID(), true),
      executing_(record.eid, false) {}

void First::update(int op_id, JRXRdbmsTran& tran) const {
  const bool namedSource = players_.source().getEID().isValid();
  const LogsEnvInfo& source = namedSource ? players_.source() : local_;

  std::vector<LogsEnvInfo> operands = players_.operands();
  if (!namedSource) {
    // The local environment already stands in as the source; as an operand it would only
    // repeat that, unless nothing else is left.
    auto local = std::find_if(operands.begin(), operands.end(), [this](const LogsEnvInfo& e) {
      return e.getEID() == local_.getEID();
    });
    if (local != operands.end()) operands.erase(local);
  }
  if (operands.empty()) operands.push_back(local_);

  EnvRows rows = Next::link(source, operands, op_id, tran, &executing_, true);
  executing_.linkNewOperation(tran, op_id, 'P', rows.id(executing_));
}

}  // namespace logdb
}  // namespace JRX
