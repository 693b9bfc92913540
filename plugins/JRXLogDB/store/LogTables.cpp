#include "store/LogTables.h"

namespace JRX {

void createLogTables(ASSession* session) {
  session->CreateTable(op_log_domain());
  session->CreateTable(op_log_data_domain());
  session->CreateTable(op_log_env_domain());
  session->CreateTable(op_log_task_domain());
  session->CreateTable(env_log_domain());
  session->CreateTable(Environment_domain());
  session->CreateTable(events_log_domain());
  session->CreateTable(events_log_env_domain());
  session->CreateTable(events_log_resource_domain());
  session->CreateTable(events_log_status_domain());
  session->CreateTable(events_log_audit_domain());
}

}  // namespace JRX
