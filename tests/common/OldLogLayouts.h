// Log layouts as earlier builds made them, one SQL statement a string: the upgrade tests
// make them again to open them with this build, and the upgrade benchmark fills the oldest.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace jrxtest {

struct OldLayout {
  const char* name;
  std::vector<const char*> sqlite;
  std::vector<const char*> mariadb;
  bool uniqueEnvKey;  // env_log could hold an environment twice when false
  int version = 0;    // the layout version it recorded; 0 where none was
};

// The first layout (no keys of the tables' own columns: MariaDB gave them a hidden row key
// and indexed texts a width), here without the status index, as some logs of it are.
inline const OldLayout kFirst = {
    "first",
    {"CREATE TABLE op_log (op_id INTEGER PRIMARY KEY AUTOINCREMENT, op TEXT, id TEXT, "
     "parent_id TEXT, time INTEGER, status INTEGER, session_id TEXT)",
     "CREATE INDEX op_log_id ON op_log (id)", "CREATE INDEX op_log_time ON op_log (time, op_id)",
     "CREATE INDEX op_log_session ON op_log (session_id)",
     "CREATE TABLE op_log_data (data_id INTEGER PRIMARY KEY AUTOINCREMENT, op_id INTEGER, "
     "progress INTEGER, time INTEGER, status INTEGER, info BLOB)",
     "CREATE INDEX op_log_data_op ON op_log_data (op_id, data_id)",
     "CREATE TABLE op_log_env (op_id INTEGER, env_id INTEGER, role TEXT, is_default TEXT)",
     "CREATE INDEX op_log_env_op ON op_log_env (op_id, role)",
     "CREATE INDEX op_log_env_env ON op_log_env (env_id, role)",
     "CREATE TABLE op_log_task (op_id INTEGER, task_id TEXT)",
     "CREATE INDEX op_log_task_op ON op_log_task (op_id)",
     "CREATE TABLE env_log (id INTEGER PRIMARY KEY AUTOINCREMENT, eid BLOB, title TEXT, type TEXT)",
     "CREATE INDEX env_log_eid_title ON env_log (eid, title)",
     "CREATE TABLE Environment (eid BLOB)", "CREATE INDEX Environment_eid ON Environment (eid)",
     "CREATE TABLE events_log (event_id INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT, code "
     "INTEGER, time INTEGER, category TEXT, type TEXT, sid TEXT, info_bin BLOB, info BLOB, data "
     "BLOB)",
     "CREATE UNIQUE INDEX events_log_guid ON events_log (guid)",
     "CREATE INDEX events_log_time ON events_log (time, event_id)",
     "CREATE TABLE events_log_env (event_id INTEGER, env_id INTEGER, role TEXT)",
     "CREATE INDEX events_log_env_event ON events_log_env (event_id)",
     "CREATE INDEX events_log_env_env ON events_log_env (env_id, role, event_id)",
     "CREATE TABLE events_log_resource (event_id INTEGER, resource_id TEXT, resource_type TEXT)",
     "CREATE INDEX events_log_resource_event ON events_log_resource (event_id)",
     "CREATE TABLE events_log_status (event_id INTEGER, old_status INTEGER, old_transition "
     "INTEGER, new_status INTEGER, new_transition INTEGER)",
     "CREATE INDEX events_log_status_event ON events_log_status (event_id)",
     "CREATE TABLE events_log_audit (event_id INTEGER, session_id TEXT, address TEXT, address_bin "
     "BLOB, detail TEXT)",
     "CREATE INDEX events_log_audit_event ON events_log_audit (event_id)",
     "CREATE INDEX events_log_audit_session ON events_log_audit (session_id)"},
    {"CREATE TABLE op_log (op_id INT NOT NULL AUTO_INCREMENT, op LONGBLOB, id VARBINARY(3070), "
     "parent_id LONGBLOB, time INT, status INT, session_id VARBINARY(3070), PRIMARY KEY (op_id), "
     "KEY op_log_id (id), KEY op_log_time (time, op_id), KEY op_log_session (session_id)) "
     "ENGINE=InnoDB",
     "CREATE TABLE op_log_data (data_id INT NOT NULL AUTO_INCREMENT, op_id INT, progress INT, "
     "time INT, status INT, info LONGBLOB, PRIMARY KEY (data_id), KEY op_log_data_op (op_id, "
     "data_id)) ENGINE=InnoDB",
     "CREATE TABLE op_log_env (op_id INT, env_id INT, role VARBINARY(3066), is_default LONGBLOB, "
     "jrx_row BIGINT NOT NULL AUTO_INCREMENT, PRIMARY KEY (jrx_row), KEY op_log_env_op (op_id, "
     "role), KEY op_log_env_env (env_id, role)) ENGINE=InnoDB",
     "CREATE TABLE op_log_task (op_id INT, task_id LONGBLOB, jrx_row BIGINT NOT NULL "
     "AUTO_INCREMENT, PRIMARY KEY (jrx_row), KEY op_log_task_op (op_id)) ENGINE=InnoDB",
     "CREATE TABLE env_log (id INT NOT NULL AUTO_INCREMENT, eid BINARY(16), title "
     "VARBINARY(3054), type LONGBLOB, PRIMARY KEY (id), KEY env_log_eid_title (eid, title)) "
     "ENGINE=InnoDB",
     "CREATE TABLE Environment (eid BINARY(16), jrx_row BIGINT NOT NULL AUTO_INCREMENT, PRIMARY "
     "KEY (jrx_row), KEY Environment_eid (eid)) ENGINE=InnoDB",
     "CREATE TABLE events_log (event_id INT NOT NULL AUTO_INCREMENT, guid VARBINARY(3070), code "
     "INT, time INT, category LONGBLOB, type LONGBLOB, sid LONGBLOB, info_bin LONGBLOB, info "
     "LONGBLOB, data LONGBLOB, PRIMARY KEY (event_id), UNIQUE KEY events_log_guid (guid), KEY "
     "events_log_time (time, event_id)) ENGINE=InnoDB",
     "CREATE TABLE events_log_env (event_id INT, env_id INT, role VARBINARY(3062), jrx_row BIGINT "
     "NOT NULL AUTO_INCREMENT, PRIMARY KEY (jrx_row), KEY events_log_env_event (event_id), KEY "
     "events_log_env_env (env_id, role, event_id)) ENGINE=InnoDB",
     "CREATE TABLE events_log_resource (event_id INT, resource_id LONGBLOB, resource_type "
     "LONGBLOB, jrx_row BIGINT NOT NULL AUTO_INCREMENT, PRIMARY KEY (jrx_row), KEY "
     "events_log_resource_event (event_id)) ENGINE=InnoDB",
     "CREATE TABLE events_log_status (event_id INT, old_status INT, old_transition INT, "
     "new_status INT, new_transition INT, jrx_row BIGINT NOT NULL AUTO_INCREMENT, PRIMARY KEY "
     "(jrx_row), KEY events_log_status_event (event_id)) ENGINE=InnoDB",
     "CREATE TABLE events_log_audit (event_id INT, session_id VARBINARY(3070), address LONGBLOB, "
     "address_bin LONGBLOB, detail LONGBLOB, jrx_row BIGINT NOT NULL AUTO_INCREMENT, PRIMARY KEY "
     "(jrx_row), KEY events_log_audit_event (event_id), KEY events_log_audit_session "
     "(session_id)) ENGINE=InnoDB"},
    false};

// `layout` with each statement that begins as a key of `edits` replaced by its value (left
// out where that is null), and `added` after them.
inline std::vector<const char*> edited(
    std::vector<const char*> layout,
    std::initializer_list<std::pair<const char*, const char*>> edits,
    std::initializer_list<const char*> added = {}) {
  std::vector<const char*> out;
  for (const char* sql : layout) {
    for (const auto& e : edits)
      if (sql && std::string(sql).rfind(e.first, 0) == 0) sql = e.second;
    if (sql) out.push_back(sql);
  }
  out.insert(out.end(), added);
  return out;
}

// Keys of the tables' own columns and widths of short codes, but the environment key not yet
// unique and the event links indexed for the old event query.
inline const OldLayout kBeforeRoleIndex = {
    "before_role_index",
    edited(kFirst.sqlite,
           {{"CREATE TABLE op_log_env",
             "CREATE TABLE op_log_env (op_id INTEGER NOT NULL, env_id INTEGER NOT NULL, role TEXT "
             "NOT NULL, is_default TEXT, PRIMARY KEY (op_id, role, env_id))"},
            {"CREATE INDEX op_log_env_op", nullptr},
            {"CREATE TABLE op_log_task",
             "CREATE TABLE op_log_task (op_id INTEGER NOT NULL, task_id TEXT, PRIMARY KEY (op_id))"},
            {"CREATE INDEX op_log_task_op", nullptr},
            {"CREATE TABLE events_log_resource",
             "CREATE TABLE events_log_resource (event_id INTEGER NOT NULL, resource_id TEXT, "
             "resource_type TEXT, PRIMARY KEY (event_id))"},
            {"CREATE INDEX events_log_resource_event", nullptr},
            {"CREATE TABLE events_log_status",
             "CREATE TABLE events_log_status (event_id INTEGER NOT NULL, old_status INTEGER, "
             "old_transition INTEGER, new_status INTEGER, new_transition INTEGER, PRIMARY KEY (event_id))"},
            {"CREATE INDEX events_log_status_event", nullptr},
            {"CREATE TABLE events_log_audit",
             "CREATE TABLE events_log_audit (event_id INTEGER NOT NULL, session_id TEXT, address TEXT, "
             "address_bin TEXT, detail TEXT, PRIMARY KEY (event_id))"},
            {"CREATE INDEX events_log_audit_event", nullptr}},
           {"CREATE INDEX op_log_status_time ON op_log (status, time)"}),
    {"CREATE TABLE op_log (op_id INT NOT NULL AUTO_INCREMENT, op LONGBLOB, id LONGBLOB, "
     "parent_id LONGBLOB, time INT, status INT, session_id LONGBLOB, PRIMARY KEY (op_id), KEY "
     "op_log_id (id(255)), KEY op_log_time (time, op_id), KEY op_log_status_time (status, time), "
     "KEY op_log_session (session_id(255))) ENGINE=InnoDB",
     "CREATE TABLE op_log_data (data_id INT NOT NULL AUTO_INCREMENT, op_id INT, progress INT, "
     "time INT, status INT, info LONGBLOB, PRIMARY KEY (data_id), KEY op_log_data_op (op_id, "
     "data_id)) ENGINE=InnoDB",
     "CREATE TABLE op_log_env (op_id INT NOT NULL, env_id INT NOT NULL, role VARBINARY(1) NOT "
     "NULL, is_default VARBINARY(1), PRIMARY KEY (op_id, role, env_id), KEY op_log_env_env "
     "(env_id, role)) ENGINE=InnoDB",
     "CREATE TABLE op_log_task (op_id INT NOT NULL, task_id LONGBLOB, PRIMARY KEY (op_id)) "
     "ENGINE=InnoDB",
     "CREATE TABLE env_log (id INT NOT NULL AUTO_INCREMENT, eid BINARY(16), title LONGBLOB, type "
     "LONGBLOB, PRIMARY KEY (id), KEY env_log_eid_title (eid, title(255))) ENGINE=InnoDB",
     "CREATE TABLE Environment (eid BINARY(16), KEY Environment_eid (eid)) ENGINE=InnoDB",
     "CREATE TABLE events_log (event_id INT NOT NULL AUTO_INCREMENT, guid VARBINARY(38), code "
     "INT, time INT, category LONGBLOB, type LONGBLOB, sid LONGBLOB, info_bin LONGBLOB, info "
     "LONGBLOB, data LONGBLOB, PRIMARY KEY (event_id), UNIQUE KEY events_log_guid (guid), KEY "
     "events_log_time (time, event_id)) ENGINE=InnoDB",
     "CREATE TABLE events_log_env (event_id INT, env_id INT, role VARBINARY(1), KEY "
     "events_log_env_event (event_id), KEY events_log_env_env (env_id, role, event_id)) "
     "ENGINE=InnoDB",
     "CREATE TABLE events_log_resource (event_id INT NOT NULL, resource_id LONGBLOB, "
     "resource_type LONGBLOB, PRIMARY KEY (event_id)) ENGINE=InnoDB",
     "CREATE TABLE events_log_status (event_id INT NOT NULL, old_status INT, old_transition INT, "
     "new_status INT, new_transition INT, PRIMARY KEY (event_id)) ENGINE=InnoDB",
     "CREATE TABLE events_log_audit (event_id INT NOT NULL, session_id LONGBLOB, address "
     "LONGBLOB, address_bin LONGBLOB, detail LONGBLOB, PRIMARY KEY (event_id), KEY "
     "events_log_audit_session (session_id(255))) ENGINE=InnoDB"},
    false};

// The environment key unique, over titles of any length (MariaDB kept a hash of them), before
// the title had a width; the layout version not yet recorded.
inline const OldLayout kBeforeTitleWidth = {
    "before_title_width",
    edited(kBeforeRoleIndex.sqlite,
           {{"CREATE INDEX env_log_eid_title", "CREATE UNIQUE INDEX env_log_eid_title ON env_log (eid, title)"},
            {"CREATE INDEX events_log_env_event",
             "CREATE INDEX events_log_env_link ON events_log_env (event_id, role, env_id)"},
            {"CREATE INDEX events_log_env_env",
             "CREATE INDEX events_log_env_role ON events_log_env (role, env_id, event_id)"}}),
    edited(kBeforeRoleIndex.mariadb,
           {{"CREATE TABLE env_log",
             "CREATE TABLE env_log (id INT NOT NULL AUTO_INCREMENT, eid BINARY(16), title LONGBLOB, "
             "type LONGBLOB, PRIMARY KEY (id), UNIQUE KEY env_log_eid_title (eid, title), KEY "
             "env_log_eid_title_find (eid, title(255))) ENGINE=InnoDB"},
            {"CREATE TABLE events_log_env",
             "CREATE TABLE events_log_env (event_id INT, env_id INT, role VARBINARY(1), KEY "
             "events_log_env_link (event_id, role, env_id), KEY events_log_env_role (role, env_id, "
             "event_id)) ENGINE=InnoDB"}}),
    true};

// Layout version 1, the first recorded: on SQLite the tables of the layout before it, on
// MariaDB with the title's width; none of the indexes that estimates and rare filters read.
inline const OldLayout kVersion1 = {
    "version_1",
    edited(kBeforeTitleWidth.sqlite, {},
           {"CREATE TABLE jrxlog_layout (part TEXT NOT NULL, version INTEGER, PRIMARY KEY (part))",
            "INSERT INTO jrxlog_layout (part, version) VALUES ('log', 1)"}),
    edited(kBeforeTitleWidth.mariadb,
           {{"CREATE TABLE env_log",
             "CREATE TABLE env_log (id INT NOT NULL AUTO_INCREMENT, eid BINARY(16), title "
             "VARBINARY(1024), type LONGBLOB, PRIMARY KEY (id), UNIQUE KEY env_log_eid_title (eid, "
             "title)) ENGINE=InnoDB"}},
           {"CREATE TABLE jrxlog_layout (part VARBINARY(64) NOT NULL, version INT, PRIMARY KEY "
            "(part)) ENGINE=InnoDB",
            "INSERT INTO jrxlog_layout (part, version) VALUES ('log', 1)"}),
    true, 1};

}  // namespace jrxtest
