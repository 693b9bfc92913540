// The log tables read and written directly: whole-table reads, and rows of shapes the
// recording path never makes (operations without progress rows, shared ids, chosen links).
// Header only: it needs the plug-in's table classes, which the common library does not see.
#pragma once

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ASQuery.h"
#include "JRXConversions.h"
#include "JRXRdbms.h"
#include "store/LogTables.h"
#include "store/LogsEnvInfo.h"

namespace jrxtest {

typedef std::vector<std::string> Lines;
typedef std::vector<Lines> Fields;

// Bytes as text, a NUL shown as "\0" and a backslash doubled.
inline std::string escaped(const std::string& bytes) {
  std::string out;
  for (char c : bytes) out += c == '\0' ? "\\0" : c == '\\' ? "\\\\" : std::string(1, c);
  return out;
}

// An identifier as "first:second" in hex.
inline std::string eidText(const JRX::JRXGUIDBase& eid) {
  unsigned long long first, second;
  eid.getData(first, second);
  char text[40];
  std::snprintf(text, sizeof text, "%llx:%llx", first, second);
  return text;
}

// A stored value as text: NULL as "NULL", identifiers by eidText, anything else escaped.
inline std::string valueText(const ASValue& v) {
  if (v.IsNull()) return "NULL";
  if (v.Type() != AS_GUID) return escaped(v.Str().str());
  return eidText(JRX::rdbmsGuidToGuid(Guid::FromBytes(v.Bytes().data(), v.size())));
}

// The named columns of `tables` (joined by `where`) of each row, ordered by those columns.
inline Fields fieldsOf(std::vector<ASDomain*> tables, std::vector<const ASAttribute*> columns,
                       const ASComparison& where = ASComparison()) {
  std::vector<const ASValue*> values;
  JRX::JRXRdbmsTran tran;
  ASCursor c(*tran);
  for (const ASAttribute* column : columns)
    for (ASDomain* t : tables)
      for (size_t i = 0; i < t->Size(); ++i)
        if (column == &t->Attribute(i)) {
          c.Project() << *column;
          c.Order(*column);
          values.push_back(&t->Value(i));
        }
  c.Set(where);
  Fields rows;
  while (c.Fetch()) {
    rows.emplace_back();
    for (const ASValue* v : values) rows.back().push_back(valueText(*v));
  }
  return rows;
}

template <class Table>
Fields fieldsOf() {
  Table t;
  std::vector<const ASAttribute*> all;
  for (size_t i = 0; i < t.Size(); ++i) all.push_back(&t.Attribute(i));
  return fieldsOf({&t}, all);
}

inline std::string joined(const Lines& fields) {
  std::string out;
  for (size_t i = 0; i < fields.size(); ++i) out += (i ? "|" : "") + fields[i];
  return out;
}

inline Lines joined(const Fields& rows) {
  Lines out;
  for (const Lines& r : rows) out.push_back(joined(r));
  return out;
}

// The same rows as "v1|v2|..." texts.
inline Lines rowsOf(std::vector<ASDomain*> tables, std::vector<const ASAttribute*> columns,
                    const ASComparison& where = ASComparison()) {
  return joined(fieldsOf(tables, columns, where));
}

template <class Table>
Lines rowsOf() {
  return joined(fieldsOf<Table>());
}

// Rows of a table, and the columns of its keys with their kind ('o' operation, 'd' progress
// row, 'e' environment, 'v' event).
struct KeyedRows {
  const char* name;
  Fields rows;
  std::vector<std::pair<size_t, char>> keys;
};

// The rows as "name: v1|v2|...", keys shown as their rank among the keys of their kind in
// use, which the databases agree on even where one of them spent keys on rows rolled back.
inline Lines ranked(std::vector<KeyedRows> tables) {
  std::map<char, std::set<long long>> used;
  for (const KeyedRows& t : tables)
    for (const auto& r : t.rows)
      for (const auto& k : t.keys) used[k.second].insert(std::stoll(r[k.first]));
  Lines all;
  for (KeyedRows& t : tables)
    for (auto& r : t.rows) {
      for (const auto& k : t.keys) {
        const std::set<long long>& keys = used[k.second];
        r[k.first] = std::to_string(std::distance(keys.begin(), keys.find(std::stoll(r[k.first]))) + 1);
      }
      all.push_back(std::string(t.name) + ": " + joined(r));
    }
  return all;
}

// Every row of both logs: the whole stored state.
inline Lines allLogRows() {
  return ranked({{"op_log", fieldsOf<JRX::op_log>(), {{0, 'o'}}},
                 {"op_log_data", fieldsOf<JRX::op_log_data>(), {{0, 'd'}, {1, 'o'}}},
                 {"op_log_env", fieldsOf<JRX::op_log_env>(), {{0, 'o'}, {1, 'e'}}},
                 {"op_log_task", fieldsOf<JRX::op_log_task>(), {{0, 'o'}}},
                 {"env_log", fieldsOf<JRX::env_log>(), {{0, 'e'}}},
                 {"events_log", fieldsOf<JRX::events_log>(), {{0, 'v'}}},
                 {"events_log_env", fieldsOf<JRX::events_log_env>(), {{0, 'v'}, {1, 'e'}}},
                 {"events_log_resource", fieldsOf<JRX::events_log_resource>(), {{0, 'v'}}},
                 {"events_log_status", fieldsOf<JRX::events_log_status>(), {{0, 'v'}}},
                 {"events_log_audit", fieldsOf<JRX::events_log_audit>(), {{0, 'v'}}}});
}

inline void emptyLogTables() {
  JRX::JRXRdbmsTran tran;
  for (const char* table : {"op_log", "op_log_data", "op_log_env", "op_log_task", "env_log",
                            "events_log", "events_log_env", "events_log_resource",
                            "events_log_status", "events_log_audit"})
    (*tran)->ExecuteSql(std::string("DELETE FROM ") + table);
  tran.commit();
}

// Inserts `row` in a transaction of its own; returns the key it got.
inline int insertRow(ASDomain& row) {
  JRX::JRXRdbmsTran tran;
  (*tran)->Insert(row);
  int id = static_cast<int>((*tran)->GetInsertId());
  tran.commit();
  return id;
}

// The env_log row of that identifier and title, made when missing.
inline int envRow(const JRX::JRXEID& eid, const std::string& title = "env") {
  JRX::JRXInfo ref;
  ref.addParameter("eid", eid.toString());
  ref.addParameter("title", title);
  ref.addParameter("type", "node");
  JRX::JRXRdbmsTran tran;
  int id = JRX::logdb::LogsEnvInfo(ref, false).getSqlID(tran);
  tran.commit();
  return id;
}

// A node of the management system.
inline void nodeRow(const JRX::JRXEID& eid) {
  JRX::Environment row;
  row.eid = JRX::guidToRDBMSGuid(eid);
  insertRow(row);
}

inline int opRow(const std::string& id, const std::string& name, int status, int time,
                 const std::string& parentId = "", const std::string& sessionId = "") {
  JRX::op_log row;
  row.op = name;
  row.id = id;
  row.parent_id = parentId;
  row.time = time;
  row.status = status;
  row.session_id = sessionId;
  return insertRow(row);
}

inline void linkRow(int opId, int envId, const char* role) {
  JRX::op_log_env row;
  row.op_id = opId;
  row.env_id = envId;
  row.role = role;
  row.is_default = "N";
  insertRow(row);
}

// A progress row holding a record of that text in its stored form.
inline void progressRow(int opId, int progress, int time, int status, const std::string& text) {
  std::string info;
  JRX::JRXInfo(text).serializeToString(info);
  JRX::op_log_data row;
  row.op_id = opId;
  row.progress = progress;
  row.time = time;
  row.status = status;
  row.info = RealBlob(info.size() + 1, info.c_str(), true);
  insertRow(row);
}

}  // namespace jrxtest
