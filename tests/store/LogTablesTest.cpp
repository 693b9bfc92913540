// The tables as laid out: exactly their own columns, in order, on both databases, and the
// rows each table keeps unique.
#include <gtest/gtest.h>

#include <string>

#include "JRXRdbms.h"
#include "LogDbFixture.h"
#include "store/LogTables.h"

namespace {

using LogTables = jrxtest::LogDbFixture;

// A row given by position, with no column list: the table must have exactly these columns.
struct Row {
  const char* table;
  const char* values;
  bool unique;  // a second identical row is refused
};

TEST_P(LogTables, HoldExactlyTheirColumnsAndKeepTheirKeysUnique) {
  const Row rows[] = {
      {"op_log", "(NULL, 'op', 'id', 'parent', 5, 1, 'session')", false},
      {"op_log_data", "(NULL, 1, 40, 5, 1, 'info')", false},
      {"op_log_env", "(1, 2, 'S', 'N')", true},
      {"op_log_task", "(1, 'task')", true},
      {"env_log", "(NULL, x'00000000000000000000000000000001', 'title', 'type')", false},
      {"events_log", "(NULL, 'guid', 0, 5, 'cat', 'type', 'sid', 'b', 'i', NULL)", false},
      {"events_log_env", "(1, 2, 'S')", false},
      {"events_log_resource", "(1, 'id', 'type')", true},
      {"events_log_status", "(1, 1, 2, 3, 4)", true},
      {"events_log_audit", "(1, 'session', '::1', 'bin', 'detail')", true},
  };
  JRX::JRXRdbmsTran tran;
  ASSession* s = *tran;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.table);
    const std::string insert = std::string("INSERT INTO ") + r.table + " VALUES " + r.values;
    ASSERT_NO_THROW(s->ExecuteSql(insert));
    if (std::string(r.values).compare(0, 5, "(NULL") == 0) continue;  // a new key each time
    if (r.unique)
      EXPECT_THROW(s->ExecuteSql(insert), AException);
    else
      EXPECT_NO_THROW(s->ExecuteSql(insert));
  }
}

JRX_ON_EVERY_BACKEND(LogTables);

}  // namespace
