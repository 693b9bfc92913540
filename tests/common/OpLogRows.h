// Rows of the operation-log tables written and read directly, for tests that need shapes
// the recording path never makes (operations without progress rows, shared request
// identifiers, hand-picked links and times) or that check what is stored.
// Header only: it needs the plug-in's table classes, which the common library does not see.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ASQuery.h"
#include "JRXConversions.h"
#include "JRXRdbms.h"
#include "JRXRecords.h"
#include "RowCount.h"
#include "store/LogTables.h"
#include "store/LogsEnvInfo.h"

namespace jrxtest {

struct OpRow {
  int op_id = 0;
  std::string op;
  std::string id;
  std::string parent_id;
  int time = 0;
  int status = 0;
  std::string session_id;
};

struct DataRow {
  int data_id = 0;
  int op_id = 0;
  int progress = 0;
  int time = 0;
  int status = 0;
  std::string info;  // the stored bytes, NUL included
};

class OpLogRows {
 public:
  // env_log row, made unless one with this identifier and title exists; returns its id.
  static int env(const JRX::JRXEID& eid, const std::string& title = "env",
                 const std::string& type = "node") {
    JRX::JRXInfo ref;
    ref.addParameter("eid", eid.toString());
    ref.addParameter("title", title);
    ref.addParameter("type", type);
    JRX::JRXRdbmsTran tran;
    int id = JRX::logdb::LogsEnvInfo(ref, false).getSqlID(tran);
    tran.commit();
    return id;
  }

  // A node of the management system (row of Environment).
  static void node(const JRX::JRXEID& eid) {
    JRX::Environment row;
    row.eid = JRX::guidToRDBMSGuid(eid);
    insert(row);
  }

  // op_log row; returns its op_id.
  static int op(const std::string& id, const std::string& name, int status, int time,
                const std::string& parentId = "", const std::string& sessionId = "") {
    JRX::op_log row;
    row.op = name;
    row.id = id;
    row.parent_id = parentId;
    row.time = time;
    row.status = status;
    row.session_id = sessionId;
    return insert(row, true);
  }

  static void link(int opId, int envId, const char* role, const char* isDefault = "N") {
    JRX::op_log_env row;
    row.op_id = opId;
    row.env_id = envId;
    row.role = role;
    row.is_default = isDefault;
    insert(row);
  }

  // op_log_data row holding the text form of `info`, NUL-terminated as stored.
  static void progress(int opId, int progress, int time, int status, const JRX::JRXInfo& info) {
    std::string text;
    info.serializeToString(text);
    JRX::op_log_data row;
    row.op_id = opId;
    row.progress = progress;
    row.time = time;
    row.status = status;
    row.info = RealBlob(text.size() + 1, text.c_str(), true);
    insert(row);
  }

  // All op_log rows, or those of one request identifier, in the order of their keys.
  static std::vector<OpRow> ops() { return ops(ASComparison()); }
  static std::vector<OpRow> ops(const std::string& id) {
    JRX::op_log row;
    return ops(row->id == id, &row);
  }

  static std::vector<DataRow> data(int opId) {
    JRX::JRXRdbmsTran tran;
    JRX::op_log_data row;
    ASCursor c(*tran);
    for (size_t i = 0; i < row.Size(); ++i) c.Project() << row.Attribute(i);
    c.Set(row->op_id == opId);
    c.Order(ASOrder(row->data_id));
    std::vector<DataRow> out;
    while (c.Fetch()) {
      DataRow r;
      r.data_id = static_cast<int>(row.data_id.Int());
      r.op_id = static_cast<int>(row.op_id.Int());
      r.progress = static_cast<int>(row.progress.Int());
      r.time = static_cast<int>(row.time.Int());
      r.status = static_cast<int>(row.status.Int());
      r.info = row.info.Bytes();
      out.push_back(r);
    }
    return out;
  }

  static long long count(const ASDomain& table) { return countRows(table); }

  static int status(int opId) {
    for (const OpRow& r : ops())
      if (r.op_id == opId) return r.status;
    return -1;
  }

 private:
  // Inserts `row` in a transaction of its own; with `keyed`, returns the key it got.
  static int insert(ASDomain& row, bool keyed = false) {
    JRX::JRXRdbmsTran tran;
    (*tran)->Insert(row);
    int id = keyed ? static_cast<int>((*tran)->GetInsertId()) : 0;
    tran.commit();
    return id;
  }

  // `where` names `table` when given.
  static std::vector<OpRow> ops(const ASComparison& where, JRX::op_log* table = nullptr) {
    JRX::op_log own;
    JRX::op_log& row = table ? *table : own;
    JRX::JRXRdbmsTran tran;
    ASCursor c(*tran);
    for (size_t i = 0; i < row.Size(); ++i) c.Project() << row.Attribute(i);
    c.Set(where);
    c.Order(ASOrder(row->op_id));
    std::vector<OpRow> out;
    while (c.Fetch()) {
      OpRow r;
      r.op_id = static_cast<int>(row.op_id.Int());
      r.op = row.op.Bytes();
      r.id = row.id.Bytes();
      r.parent_id = row.parent_id.Bytes();
      r.time = static_cast<int>(row.time.Int());
      r.status = static_cast<int>(row.status.Int());
      r.session_id = row.session_id.Bytes();
      out.push_back(r);
    }
    return out;
  }
};

}  // namespace jrxtest
