// A fresh log database per test on each backend, with a known local environment and
// directory, captured log records, and plain reads of the operation tables.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "JRXConversions.h"
#include "JRXEnvDirectory.h"
#include "JRXLog.h"
#include "JRXLogDBLocal.h"
#include "JRXRdbms.h"
#include "JRXRequest.h"
#include "LogDbFixture.h"
#include "OpLogRows.h"
#include "RowCount.h"
#include "store/LogTables.h"
#include "store/ValueEncodings.h"

namespace oplogtest {

using namespace JRX;

const JRXEID kLocal(0x10c41, 0x1);
const JRXEID kVm1(0x7a, 0x1);
const JRXEID kVm2(0x7a, 0x2);
const JRXEID kNode(0x70de, 0x1);
const JRXEID kUnknown(0xdead, 0xbeef);
const long kT0 = 1701000000;

inline JRXInfo envRef(const JRXEID& eid, const std::string& type, const std::string& title) {
  JRXInfo info;
  info.addParameter("eid", eid.toString());
  if (!type.empty()) info.addParameter("type", type);
  if (!title.empty()) info.addParameter("title", title);
  return info;
}

inline JRXRequestProgressData report(const std::string& id, const std::string& name, int status,
                                     int progress, long time, const std::string& text) {
  JRXRequestProgressData r(id);
  r.name = name;
  r.status = status;
  r.progress = progress;
  r.time = time;
  r.info.setText(text);
  r.eid = kNode;
  return r;
}

using jrxtest::DataRow;
using jrxtest::OpRow;

struct LinkRow {
  JRXEID eid;
  std::string title, type, role, is_default;
  bool operator<(const LinkRow& o) const {
    return std::tie(role, is_default, eid, title) < std::tie(o.role, o.is_default, o.eid, o.title);
  }
};

class OpLogDbTest : public jrxtest::LogDbFixture {
 protected:
  // Tests that inject database faults open the database through the fault driver.
  virtual bool throughFaults() const { return false; }

  void SetUp() override {
    openLogDb(throughFaults(), kLocal);
    JRXEnvDirectory::clear();
    JRXEnvDirectory::put(kLocal, "node", "local-node");
    JRXEnvDirectory::put(kNode, "node", "node-1");
    JRXEnvDirectory::put(kVm1, "vm", "vm-1");
    JRXEnvDirectory::put(kVm2, "vm", "vm-2");
  }

  void TearDown() override {
    jrxtest::LogDbFixture::TearDown();
    JRXEnvDirectory::clear();
  }

  std::vector<OpRow> opRows(const std::string& id) { return jrxtest::OpLogRows::ops(id); }

  OpRow onlyOp(const std::string& id) {
    auto rows = opRows(id);
    EXPECT_EQ(rows.size(), 1u) << "operations with id " << id;
    return rows.empty() ? OpRow{} : rows[0];
  }

  int countRows(ASDomain& table) { return static_cast<int>(jrxtest::countRows(table)); }

  std::vector<DataRow> dataRows(int op_id) { return jrxtest::OpLogRows::data(op_id); }

  // Link rows with their environments, sorted by role, mark, identifier.
  std::vector<LinkRow> links(int op_id) {
    JRXRdbmsTran tran;
    op_log_env l;
    env_log e;
    ASCursor c(*tran);
    c.Project() << e->eid << e->title << e->type << l->role << l->is_default;
    c.Set(l->op_id == op_id && e->id == l->env_id);
    std::vector<LinkRow> rows;
    while (c.Fetch())
      rows.push_back({rdbmsGuidToGuid(e.eid.Guid()), e.title.Bytes(), e.type.Bytes(),
                      l.role.Bytes(), l.is_default.Bytes()});
    std::sort(rows.begin(), rows.end());
    return rows;
  }

  // role + mark + title of each link, e.g. "S Y local-node".
  std::vector<std::string> linkSummary(int op_id) {
    std::vector<std::string> out;
    for (const LinkRow& r : links(op_id)) out.push_back(r.role + " " + r.is_default + " " + r.title);
    std::sort(out.begin(), out.end());
    return out;
  }

  std::string taskOf(int op_id, int* count = nullptr) {
    JRXRdbmsTran tran;
    op_log_task t;
    ASCursor c(*tran);
    c.Project() << t->task_id;
    c.Set(t->op_id == op_id);
    std::string task;
    int n = 0;
    while (c.Fetch()) {
      task = t.task_id.Bytes();
      ++n;
    }
    if (count) *count = n;
    return task;
  }

  static std::string stored(const JRXInfo& info) {
    std::string text;
    EXPECT_EQ(logdb::putInfoToString(info, text), 0);
    return text + std::string(1, '\0');
  }

  std::vector<JRXLogRecord> logRecords() const { return sink->records(); }
};

// A client that holds no right anywhere.
struct NoRights {
  NoRights() : checker(std::make_shared<JRXRightsTable>()) { JRXAccessChecker::setClientContext(&checker); }
  ~NoRights() { JRXAccessChecker::setClientContext(nullptr); }
  JRXAccessChecker checker;
};

// An information record nested deeper than its text form allows.
inline JRXInfo untranslatableInfo() {
  JRXInfo deep("leaf");
  for (int i = 0; i < JRXInfo::kMaxDepth + 2; ++i) {
    JRXInfo outer("level");
    outer.addParameter("inner", deep);
    deep = outer;
  }
  return deep;
}

}  // namespace oplogtest
