#include "store/LogTables.h"

#include "JRXLogDBLocal.h"
#include "store/LogLayout.h"

namespace JRX {

std::vector<std::unique_ptr<ASDomain>> logTables() {
  std::vector<std::unique_ptr<ASDomain>> tables;
  tables.emplace_back(new op_log_domain);
  tables.emplace_back(new op_log_data_domain);
  tables.emplace_back(new op_log_env_domain);
  tables.emplace_back(new op_log_task_domain);
  tables.emplace_back(new env_log_domain);
  tables.emplace_back(new Environment_domain);
  tables.emplace_back(new events_log_domain);
  tables.emplace_back(new events_log_env_domain);
  tables.emplace_back(new events_log_resource_domain);
  tables.emplace_back(new events_log_status_domain);
  tables.emplace_back(new events_log_audit_domain);
  // Last: an upgrade writes the version when every table before it is up to date.
  tables.emplace_back(new jrxlog_layout_domain);
  return tables;
}

void createLogTables(ASSession* session) { upgradeLogLayout(session); }

}  // namespace JRX
