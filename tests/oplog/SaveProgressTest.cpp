// Progress reports singly, in batches and from several threads at once, and the operation
// tables after each; a report failing at any statement leaves them as they were.
#include <thread>

#include "JRXRetry.h"
#include "LogDbFixture.h"
#include "oplog/LogOp.h"

using namespace JRX;

namespace jrxtest {
namespace {

class SaveProgressTest : public LogDbFixture {
 protected:
  // The operation tables, links naming their environment by its title.
  static Lines opTables() {
    op_log_env l;
    env_log e;
    return ranked({{"op", fieldsOf<op_log>(), {{0, 'o'}}},
                   {"data", fieldsOf<op_log_data>(), {{0, 'd'}, {1, 'o'}}},
                   {"task", fieldsOf<op_log_task>(), {{0, 'o'}}},
                   {"link", fieldsOf({&l, &e}, {&l->op_id, &l->role, &l->is_default, &e->title},
                                     l->env_id == e->id), {{0, 'o'}}}});
  }

  // A report naming `source` (when valid), operands, and further environments.
  static JRXRequestProgressData named(const JRXEID& source, JRXEIDList operands,
                                      std::vector<JRXInfo> envs = {}, int status = 0) {
    auto r = report("", "vm.migrate", status, 0, kT0, "a");
    if (source.isValid()) r.info.addParameter("source_env", envRef(source, "vm", "source"));
    r.operands = operands;
    for (const JRXInfo& env : envs) r.info.addParameter("env", env);
    return r;
  }

  // "role|mark|title" of each link of the operation that has `id` now.
  static Lines links(const std::string& id) {
    op_log_env l;
    env_log e;
    op_log o;
    return rowsOf({&l, &e}, {&l->role, &l->is_default, &e->title},
                  l->env_id == e->id && l->op_id == o->op_id && o->id == id);
  }
};

TEST_P(SaveProgressTest, EachReportLeavesItsRows) {
  auto first = report("req-1", "vm.start", 0, 10, kT0, "starting");
  first.parentId = "parent-9";
  first.sessionId = JRXSessionID("s-1");
  first.info.addParameter("task_id", "task-42");
  auto named = report("req-1", "", 0, 20, kT0 + 1, "copying");
  named.operands = {kVm1, kUnknown};
  auto restart = report("req-1", "vm.restart", 1, 0, (1LL << 32) + kT0 + 100, "again");
  restart.operands = {kLocal};
  auto bad = report("req-1", "", 0, 20, kT0 + 101, "");
  // Nested deeper than its text form allows.
  for (int i = 0; i < JRXInfo::kMaxDepth + 2; ++i) {
    JRXInfo outer("level");
    outer.addParameter("inner", bad.info);
    bad.info = outer;
  }
  bad.info.addParameter("env", envRef(kVm2, "vm", "vm-2"));
  auto badEnd = bad;
  badEnd.status = 3;

  const std::string starting = R"({"params":[["task_id",{"text":"task-42"}]],"text":"starting"})";
  const Lines firstRows{"op: 1|vm.start|req-1|parent-9|1701000000|1|s-1",
                       "data: 1|1|10|1701000000|1|" + starting + "\\0", "task: 1|task-42",
                       "link: 1|O|Y|local-node", "link: 1|P|N|node-1", "link: 1|S|Y|local-node"};
  // The named operand takes the place of the stand-in; one unknown to the directory is none.
  Lines running = firstRows;
  running[0] = "op: 1|vm.start|req-1|parent-9|1701000000|2|s-1";
  running[3] = "link: 1|O|N|vm-1";
  running.insert(running.begin() + 2, R"(data: 2|1|20|1701000001|2|{"text":"copying"}\0)");
  // A repeated text refreshes the latest row; an end status always appends.
  Lines refreshed = running;
  refreshed[2] = R"(data: 2|1|40|1701000003|2|{"text":"copying"}\0)";
  Lines ended = refreshed;
  ended[0] = "op: 1|vm.start|req-1|parent-9|1701000000|3|s-1";
  ended.insert(ended.begin() + 3, R"(data: 3|1|50|1701000004|3|{"text":"copying"}\0)");
  // A restart replaces the operation and its texts; its old links and task stay behind. Times
  // keep their low 32 bits.
  const Lines restarted{"op: 2|vm.restart|req-1||1701000100|1|",
                        R"(data: 1|2|0|1701000100|1|{"text":"again"}\0)", "task: 1|task-42",
                        "link: 1|O|N|vm-1", "link: 1|P|N|node-1", "link: 1|S|Y|local-node",
                        "link: 2|O|Y|local-node", "link: 2|P|N|node-1", "link: 2|S|Y|local-node"};
  Lines endedBad = restarted;
  endedBad[0] = "op: 2|vm.restart|req-1||1701000100|3|";
  endedBad.insert(endedBad.begin() + 2, "data: 2|2|20|1701000101|3|\\0");
  endedBad.insert(endedBad.end() - 3, "link: 2|O|N|vm-2");
  endedBad.erase(endedBad.end() - 3);

  // A report, the message of its refusal (or null), and the rows after it.
  const std::vector<std::tuple<const char*, JRXRequestProgressData, const char*, Lines>> steps{
      {"first report", first, nullptr, firstRows},
      {"no name for a new operation", report("req-2", "", 0, 0, kT0, "x"),
       "Can't save operation without name", firstRows},
      {"running report naming operands", named, nullptr, running},
      {"same text", report("req-1", "", 2, 40, kT0 + 3, "copying"), nullptr, refreshed},
      {"end status", report("req-1", "", 3, 50, kT0 + 4, "copying"), nullptr, ended},
      {"restart", restart, nullptr, restarted},
      {"untranslatable running report", bad, "Can't translate information into text", restarted},
      {"untranslatable end report", badEnd, nullptr, endedBad},
  };
  JRXOpLogLocal log(nullptr);
  for (const auto& [what, r, refusal, rows] : steps) {
    SCOPED_TRACE(what);
    if (refusal) {
      EXPECT_EQ(log.saveProgress(r), 3101);
      EXPECT_EQ(log.getContextLocal()->getLastError().message, refusal);
    } else {
      EXPECT_EQ(failEachStatement(&log, [&, &r = r] { return log.saveProgress(r); }), 0);
    }
    EXPECT_EQ(opTables(), rows);
    EXPECT_EQ(log.commandDepth(), 0);
  }
  EXPECT_EQ(records(2).back(),
            "[saveProgress] New operation comes with the same ID (req-1), delete old operation "
            "(time 1701000000)");
}

// A batch is one command per record, in order, up to the first that fails: the records
// before it stay stored, nothing of it or after it is.
TEST_P(SaveProgressTest, BatchStopsAtTheFirstFailure) {
  const std::vector<JRXRequestProgressData> batch{
      report("a", "vm.start", 0, 0, kT0, "a"), report("b", "vm.stop", 0, 0, kT0, "b"),
      report("a", "", 7, 100, kT0 + 1, "done")};
  JRXOpLogLocal log(nullptr);
  EXPECT_EQ(log.putOps({}), 0);
  std::vector<Lines> stored{allLogRows()};
  for (const auto& r : batch) {
    ASSERT_EQ(log.saveProgress(r), 0);
    stored.push_back(allLogRows());
  }
  // Each run on an empty log: the records before the failing one, by the commands ended.
  EXPECT_EQ(failEachStatement(&log, [&] { return log.putOps(batch); },
                              [&](size_t ended) { return stored.at(ended - 2); }, emptyLogTables),
            0);
  EXPECT_EQ(allLogRows(), stored.back());
}

// The environments an operation is linked to, by role and mark, and as they read back.
TEST_P(SaveProgressTest, EachReportLinksItsEnvironments) {
  const Lines stand_ins{"O|Y|local-node", "P|N|node-1", "S|Y|local-node"};
  // The reports, then the links and the source and operands read back.
  const std::vector<std::tuple<const char*, std::vector<JRXRequestProgressData>, Lines, JRXEID,
                               JRXEIDList>>
      cases{
      {"nothing named", {named(JRXEID(), {})}, stand_ins, kLocal, {kLocal}},
      {"source and operands; the source is no operand as well",
       {named(kVm2, {kVm1, kVm2, kNode})},
       {"O|N|node-1", "O|N|vm-1", "P|N|node-1", "S|N|source"}, kVm2, {kVm1, kNode}},
      {"\"env\" parameters with a type, once with the operand of the same identifier",
       {named(JRXEID(), {kVm1},
              {envRef(kVm1, "vm", "in info"), envRef(kVm2, "", "no type"), JRXInfo("no eid")})},
       {"O|N|in info", "P|N|node-1", "S|Y|local-node"}, kLocal, {kVm1}},
      {"a restart reads only its own links",
       {named(kVm2, {kVm1}), named(JRXEID(), {kNode}, {}, 1)},
       {"O|N|node-1", "P|N|node-1", "S|Y|local-node"}, kLocal, {kNode}},
  };
  JRXOpLogLocal log(nullptr);
  int n = 0;
  for (const auto& [what, reports, expected, source, operands] : cases) {
    SCOPED_TRACE(what);
    const std::string id = "req-" + std::to_string(++n);
    for (auto r : reports) {
      r.id = id;
      ASSERT_EQ(log.saveProgress(r), 0);
    }
    EXPECT_EQ(links(id), expected);
    JRXRdbmsTran tran;
    auto op = logdb::getOp(tran, id);
    ASSERT_TRUE(op);
    EXPECT_TRUE(op->source == source && op->operands == operands);
  }
  // Each report changed its own operation's links only.
  EXPECT_EQ(links("req-1"), stand_ins);
  JRXRdbmsTran tran;
  EXPECT_FALSE(logdb::getOp(tran, "req-0"));
}

// Threads with service objects of their own report about the same operations and the same new
// environments: only the database separates them, and it loses, doubles and fails nothing.
TEST_P(SaveProgressTest, ThreadsReportingAboutTheSameOperationsAndEnvironmentsLoseNothing) {
  const int kThreads = 4, kEnvs = 5, kOps = 2, kReports = 5;
  for (int k = 0; k < kOps; ++k)
    ASSERT_EQ(JRXOpLogLocal(nullptr).saveProgress(
                  report("op-" + std::to_string(k), "vm.migrate", 0, 0, kT0, "")),
              0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      JRXOpLogLocal log(nullptr);
      for (int n = 0; n < kReports * kOps; ++n) {
        // A text of its own each time, so every report adds a row.
        auto r = report("op-" + std::to_string(n % kOps), "", 0, n, kT0 + n,
                        std::to_string(t * 100 + n));
        const int env = (n / kOps + n % kOps) % kEnvs;
        r.info.addParameter("env",
                            envRef(JRXEID(0xe0, env), "vm", "vm-new-" + std::to_string(env)));
        EXPECT_EQ(retryService([&] { return log.saveProgress(r); }), 0)
            << log.getContextLocal()->getLastError().message;
      }
    });
  for (std::thread& t : threads) t.join();
  // One env_log row per environment (with the local and the executing node); each text
  // stored; each named environment linked once, in place of the local stand-in operand.
  EXPECT_EQ(fieldsOf<env_log>().size(), kEnvs + 2u);
  Lines texts, links;
  for (int k = 0; k < kOps; ++k) {
    const std::string id = "op-" + std::to_string(k);
    texts.insert(texts.end(), 1 + kThreads * kReports, id + "|2");
    for (int n = 0; n < kEnvs; ++n) links.push_back(id + "|O|N|vm-new-" + std::to_string(n));
    links.insert(links.end(), {id + "|P|N|node-1", id + "|S|Y|local-node"});
  }
  op_log o;
  op_log_data d;
  op_log_env l;
  env_log e;
  EXPECT_EQ(rowsOf({&o, &d}, {&o->id, &o->status}, d->op_id == o->op_id), texts);
  EXPECT_EQ(rowsOf({&o, &l, &e}, {&o->id, &l->role, &l->is_default, &e->title},
                   l->op_id == o->op_id && e->id == l->env_id),
            links);
}

JRX_ON_EVERY_BACKEND(SaveProgressTest);

}  // namespace
}  // namespace jrxtest
