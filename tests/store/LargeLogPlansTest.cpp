// Plans on a log (statistics refreshed) where the wrong index looks attractive: the local node
// links every operation and most events, operations have many operands, events were recorded
// in the opposite order of their time. Statements read the big tables through their own index,
// and getOps and getEvents give the plain selection's rows and order whichever plan is taken.
#include <regex>

#include "ASHex.h"
#include "LogDbFixture.h"
#include "store/ValueEncodings.h"

using namespace JRX;

namespace jrxtest {
namespace {

const JRXEID kQuiet(0x9e, 0x2);
const JRXEID kOld(0x01d, 0x3);
const JRXEID kEventOperand(0x7b, 0x100);  // the first of the operand environments
const JRXEID kBusyOperand(0x7c, 0x1);  // under two titles
const int kBusyOperandOps = 2000;      // the oldest ones
const int kOps = 3000, kEvents = 3000, kQuietEvents = 20, kOperandEnvs = 300;
const int kOldEvents = 1500;  // the first recorded ones, hence the newest by time

void insertRows(ASSession* s, const std::string& table, const std::string& columns,
                const std::vector<std::string>& rows) {
  for (size_t at = 0; at < rows.size(); at += 500) {
    std::string sql = "INSERT INTO " + table + " (" + columns + ") VALUES ";
    for (size_t i = at; i < rows.size() && i < at + 500; ++i)
      sql += (i > at ? ",(" : "(") + rows[i] + ")";
    s->ExecuteSql(sql);
  }
}

class LargeLogPlansTest : public LogDbFixture {
 protected:
  void SetUp() override {
    openLogDb(false);
    const int local = envRow(kLocal, "local-node"), quiet = envRow(kQuiet, "quiet"),
              old = envRow(kOld, "old");
    const int busy[] = {envRow(kBusyOperand, "busy-a"), envRow(kBusyOperand, "busy-b")};
    std::vector<int> operands;
    for (int k = 0; k < kOperandEnvs; ++k)
      operands.push_back(envRow(JRXEID(0x7b, 0x100 + k), "vm-" + std::to_string(k)));

    JRXRdbmsTran tran;
    ASSession* s = *tran;
    std::vector<std::string> ops, links, data, events, eventLinks;
    std::string info;
    logdb::putInfoToBinary(JRXInfo("disk full"), info);
    info = "X'" + ASHex(info) + "'";
    for (int i = 1; i <= kOps; ++i) {
      const std::string id = std::to_string(i);
      const int status = i % 500 == 0 ? 2 : 3;  // a few unfinished among many finished
      ops.push_back(id + ",'bulk','bulk-" + id + "',''," + std::to_string(kT0 + i) + "," +
                    std::to_string(status) + ",'s'");
      links.push_back(id + "," + std::to_string(local) + ",'S','Y'");
      links.push_back(id + "," + std::to_string(local) + ",'P','N'");
      for (int k = 0; k < 3; ++k)
        links.push_back(id + "," + std::to_string(operands[(i + k) % kOperandEnvs]) + ",'O','N'");
      for (int b = 0; b < 2 && i <= kBusyOperandOps; ++b)
        links.push_back(id + "," + std::to_string(busy[b]) + ",'O','N'");
      data.push_back(id + ",10," + std::to_string(kT0 + i) + ",2,X'00'");
    }
    for (int i = 1; i <= kEvents; ++i) {
      const std::string id = std::to_string(i);
      events.push_back(id + ",'" + JRXGUID::generate().toString() + "',1," + std::to_string(kT0 + kEvents - i / 2) +
                       ",'monitor','alert',''," + info + ",X'00'");
      const int source = i <= kOldEvents ? old : i % (kEvents / kQuietEvents) == 0 ? quiet : local;
      eventLinks.push_back(id + "," + std::to_string(source) + ",'S'");
      if (i % 7 == 0) eventLinks.push_back(id + "," + std::to_string(operands[i % 5]) + ",'O'");
    }
    insertRows(s, "op_log", "op_id, op, id, parent_id, time, status, session_id", ops);
    insertRows(s, "op_log_env", "op_id, env_id, role, is_default", links);
    insertRows(s, "op_log_data", "op_id, progress, time, status, info", data);
    insertRows(s, "events_log", "event_id, guid, code, time, category, type, sid, info_bin, info",
               events);
    insertRows(s, "events_log_env", "event_id, env_id, role", eventLinks);
    tran.commit();
    JRXRdbmsTran stats;
    (*stats)->ExecuteSql(std::string((*stats)->Dialect()) == "sqlite"
                             ? "ANALYZE"
                             : "ANALYZE TABLE op_log, op_log_env, op_log_data, env_log, "
                               "events_log, events_log_env");
    stats.commit();
  }

  struct Access {
    std::string table, index;
    bool fullScan, sorts;
    std::string sql;  // and its plan, for the failure message
  };

  // Each step of each plan with the table its alias stands for.
  static std::vector<Access> accesses(const std::vector<ASPlan>& plans) {
    static const std::regex named(R"((?:FROM|JOIN|UPDATE) (\w+)(?: (t\d+))?)");
    std::vector<Access> out;
    for (const ASPlan& p : plans) {
      std::map<std::string, std::string> tableOf;
      for (std::sregex_iterator m(p.sql.begin(), p.sql.end(), named), end; m != end; ++m)
        tableOf[(*m)[2].matched ? (*m)[2].str() : (*m)[1].str()] = (*m)[1].str();
      bool sorts = false;
      std::string text = p.sql;
      for (const ASPlanStep& step : p.steps) {
        sorts = sorts || step.sorts;
        text += "\n    " + step.detail;
      }
      for (const ASPlanStep& step : p.steps) {
        if (step.table.empty() || !tableOf.count(step.table)) continue;
        out.push_back({tableOf[step.table], step.index, step.fullScan, sorts, text});
      }
    }
    return out;
  }

  // No big table is read whole, except along a time index by a walk that stops at its limit
  // and sorts nothing; no table is read through an index of `forbidden`.
  static void expectIndexed(const std::vector<Access>& steps,
                            const std::set<std::string>& forbidden) {
    for (const Access& a : steps) {
      if (a.table == "Environment") continue;  // the management system's few nodes
      const bool walk = a.index == "events_log_time" || a.index == "op_log_time";
      EXPECT_TRUE(walk || !a.fullScan) << a.table << " read whole by\n" << a.sql;
      EXPECT_FALSE(walk && a.sorts) << "a walk that sorts:\n" << a.sql;
      EXPECT_EQ(0u, forbidden.count(a.index)) << a.table << " read by\n" << a.sql;
    }
  }

  static bool uses(const std::vector<Access>& steps, const std::string& index,
                   const std::string& table = "") {
    for (const Access& a : steps)
      if (a.index == index && (table.empty() || a.table == table)) return true;
    return false;
  }

  // The plain selection getOps stands for, in time order (newest first under a limit).
  static Lines plainOps(const JRXEID& eid, const std::string& name, const std::string& parent,
                        const std::string& id, bool active, unsigned limit, long from, long to) {
    op_log ops;
    op_log_env link;
    env_log env;
    ASFilter operandOf;
    operandOf.Project() << link->op_id;
    operandOf.Set(link->env_id == env->id && link->role == "O" &&
                  env->eid == guidToRDBMSGuid(eid));
    ASComparison cond;
    if (eid.isValid()) cond = cond && ops->op_id.In(operandOf.Select());
    if (active) cond = cond && (ops->status == 1 || ops->status == 2);
    if (!name.empty()) cond = cond && ops->op == name;
    if (!parent.empty()) cond = cond && ops->parent_id == parent;
    if (!id.empty()) cond = cond && ops->id == id;
    if (from) cond = cond && ops->time > logdb::timeToSql(from);
    if (to != kNoUpper) cond = cond && ops->time < logdb::timeToSql(to);
    return lastOf(fieldsOf({&ops}, {&ops->time, &ops->op_id, &ops->id}, cond),
                  limit != kNoLimit, std::min(limit, 1000u));
  }

  // The plain selection getEvents stands for, newest first, ties by the newest recorded.
  static Lines plainEvents(const JRXEID& eid, bool asSource, const std::string& category,
                           const std::string& type, size_t limit, long from, long to) {
    env_log env;
    events_log ev;
    events_log_env link;
    ASComparison cond = ev->event_id == link->event_id && link->env_id == env->id &&
                        link->role == (asSource ? "S" : "O");
    if (eid.isValid()) cond = cond && env->eid == guidToRDBMSGuid(eid);
    if (!category.empty()) cond = cond && ev->category == category;
    if (!type.empty()) cond = cond && ev->type == type;
    if (from) cond = cond && ev->time > logdb::timeToSql(from);
    if (to != kNoUpper) cond = cond && ev->time < logdb::timeToSql(to);
    return lastOf(fieldsOf({&ev}, {&ev->time, &ev->event_id, &ev->guid}, cond), true, limit);
  }

  // The last column of `rows`, the last row first when `reversed`, up to `limit`.
  static Lines lastOf(const Fields& rows, bool reversed, size_t limit) {
    Lines out;
    for (const Lines& r : rows) out.push_back(r.back());
    if (reversed) std::reverse(out.begin(), out.end());
    out.resize(std::min(out.size(), limit));
    return out;
  }
};

TEST_P(LargeLogPlansTest, WritesAndRecoveryReadThroughTheirIndexes) {
  JRXOpLogLocal log(nullptr);
  JRXEventLogLocal events(nullptr);
  JRXEvent e("monitor");
  e.guid = JRXGUID::generate();
  e.time = kT0;
  e.info.addParameter("source_env", envRef(kQuiet, "node", "quiet"));
  const auto deploy = [](const std::string& id, int status, const std::string& text) {
    JRXRequestProgressData r = report(id, "deploy", status, 10, kT0 + 5000, text);
    r.info.addParameter("env", envRef(kVm1, "vm", "vm-1"));
    r.eid = kLocal;
    return r;
  };
  // Each call reads through the indexes named (with the table of a primary key), no forbidden.
  const auto expectReads = [](const std::function<void()>& call,
                              const std::set<std::string>& forbidden,
                              const std::vector<std::pair<const char*, const char*>>& used) {
    const std::vector<Access> steps = accesses(plansOf(call));
    expectIndexed(steps, forbidden);
    for (const auto& [index, table] : used) EXPECT_TRUE(uses(steps, index, table)) << index;
  };
  expectReads([&] { ASSERT_EQ(0, events.saveEvent(e)); }, {"op_log_env_env"}, {});
  expectReads(
      [&] {
        ASSERT_EQ(0, log.saveProgress(deploy("new-op", 1, "starting")));
        ASSERT_EQ(0, log.saveProgress(deploy("new-op", 2, "copying")));
        ASSERT_EQ(0, log.saveProgress(deploy("new-op", 2, "copying")));  // folds into the last
        ASSERT_EQ(0, log.saveProgress(deploy("bulk-17", 2, "resumed")));
      },
      {"op_log_env_env", "op_log_time"},
      {{ASPrimaryKey, "op_log_env"}, {"op_log_data_op", ""}, {"env_log_eid_title", ""}});
  expectReads([&] { ASSERT_EQ(0, log.finishOps()); }, {"op_log_env_env", "op_log_time"},
              {{"op_log_status_time", ""}, {ASPrimaryKey, "op_log_env"}});
}

// Whichever plan a case takes, the answer is the plain one. A filter that keeps few rows or
// none is read along its own index, never by a walk of the time index to the log's far end.
TEST_P(LargeLogPlansTest, EventsAreThePlainSelectionWhicheverPlanIsTaken) {
  struct Case {
    const char* name;
    JRXEID eid;
    bool asSource;
    unsigned limit;
    long from, to;
    const char *category, *type;
    const char* leading;  // the index that leads to the events
  };
  const long mid = kT0 + kEvents / 4;
  const Case cases[] = {
      {"busy", kLocal, true, 100, 0, kNoUpper, "", "", "events_log_time"},
      {"busy, all of it", kLocal, true, 6000, 0, kNoUpper, "", "", "events_log_env_role"},
      {"quiet", kQuiet, true, 100, 0, kNoUpper, "", "", "events_log_env_role"},
      {"old history", kOld, true, 100, 0, kNoUpper, "", "", "events_log_time"},
      {"any source", JRXEID(), true, 100, 0, kNoUpper, "", "", "events_log_time"},
      {"any operand", JRXEID(), false, 100, 0, kNoUpper, "", "", "events_log_env_role"},
      {"busy, time window", kLocal, true, 6000, mid, mid + 400, "", "", "events_log_env_role"},
      {"operand, upper bound", kEventOperand, false, 50, 0, mid, "", "", "events_log_env_role"},
      {"no such category", JRXEID(), true, 100, 0, kNoUpper, "nosuch", "", "events_log_category"},
      {"no such type", JRXEID(), true, 100, 0, kNoUpper, "", "nosuch", "events_log_type"},
      {"no such type in a common category", JRXEID(), true, 100, 0, kNoUpper, "monitor", "nosuch",
       "events_log_type"},
      {"every event of the category", kOld, true, 100, 0, kNoUpper, "monitor", "alert",
       "events_log_category"},
  };
  JRXEventLogLocal log(nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<JRXEvent> got;
    const std::vector<Access> steps = accesses(plansOf([&] {
      ASSERT_EQ(0, log.getEvents(&got, c.eid, c.asSource, c.limit, c.category, c.type, false,
                                 c.from, c.to));
    }));
    EXPECT_EQ(plainEvents(c.eid, c.asSource, c.category, c.type, c.limit, c.from, c.to),
              linesOf(got, [](const JRXEvent& e) { return e.guid.toString(); }));
    const bool filtered = *c.category || *c.type;
    expectIndexed(steps, filtered ? std::set<std::string>{"events_log_time", "events_log_guid"}
                                  : std::set<std::string>{"events_log_guid"});
    EXPECT_TRUE(uses(steps, c.leading));
  }
}

TEST_P(LargeLogPlansTest, OpsAreThePlainSelectionWhicheverPlanIsTaken) {
  struct Case {
    const char* name;
    JRXEID eid;
    const char *opName, *parent, *id;
    bool active;
    unsigned limit;
    long from, to;
    std::vector<std::string> leading;  // the indexes that lead to the operations
  };
  const long mid = kT0 + kOps / 2;
  const JRXEID any;
  const Case cases[] = {
      {"any", any, "", "", "", false, 5, 0, kNoUpper, {"op_log_time"}},
      {"any, running", any, "", "", "", true, 5, 0, kNoUpper, {"op_log_status_time"}},
      {"any, by identifier", any, "", "", "bulk-17", false, 5, 0, kNoUpper, {"op_log_id"}},
      {"busy", kBusyOperand, "", "", "", false, 5, 0, kNoUpper, {"op_log_time"}},
      {"busy, oldest first", kBusyOperand, "", "", "", false, kNoLimit, 0, kNoUpper, {"op_log_time"}},
      {"busy, past the first walk", kBusyOperand, "", "", "", false, 30, 0, kNoUpper,
       {"op_log_time", "op_log_env_env"}},
      {"rare", kEventOperand, "", "", "", false, 5, 0, kNoUpper, {"op_log_env_env"}},
      {"rare, time window", kEventOperand, "", "", "", false, 5, mid - 1000, mid, {"op_log_env_env"}},
      {"busy, running", kBusyOperand, "", "", "", true, 5, 0, kNoUpper, {"op_log_status_time"}},
      {"no such name", any, "nosuch", "", "", false, 5, 0, kNoUpper, {"op_log_name"}},
      {"no such parent", any, "", "nosuch", "", false, kNoLimit, 0, kNoUpper, {"op_log_parent"}},
      {"no such parent of a common name", any, "bulk", "nosuch", "", false, 5, 0, kNoUpper,
       {"op_log_parent"}},
      {"a common name, oldest first", kBusyOperand, "bulk", "", "", false, kNoLimit, 0, kNoUpper,
       {"op_log_name"}},
  };
  JRXOpLogLocal log(nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<JRXRequestProgressData> got;
    const std::vector<Access> steps = accesses(plansOf([&] {
      ASSERT_EQ(0, log.getOps(&got, c.eid, c.opName, c.id, c.parent, false, c.active, c.limit,
                              c.from, c.to));
    }));
    const Lines ids = linesOf(got, [](const JRXRequestProgressData& r) { return r.id; });
    EXPECT_EQ(plainOps(c.eid, c.opName, c.parent, c.id, c.active, c.limit, c.from, c.to), ids);
    EXPECT_EQ(ids.empty(), std::string(c.opName) == "nosuch" || std::string(c.parent) == "nosuch");
    std::set<std::string> forbidden;
    if (std::find(c.leading.begin(), c.leading.end(), "op_log_time") == c.leading.end())
      forbidden.insert("op_log_time");
    if (!c.eid.isValid()) forbidden.insert("op_log_env_env");
    expectIndexed(steps, forbidden);
    for (const std::string& index : c.leading) EXPECT_TRUE(uses(steps, index)) << index;
  }
}

JRX_ON_EVERY_BACKEND(LargeLogPlansTest);

}  // namespace
}  // namespace jrxtest
