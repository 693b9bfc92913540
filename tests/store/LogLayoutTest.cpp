// Logs made by earlier builds (their SQL run again, filled with the rows of a log this build
// wrote) open with the same rows and answers; environments kept twice are merged into one.
#include <gmock/gmock.h>

#include <thread>

#include "ASTableCopy.h"
#include "JRXLogMaintenance.h"
#include "LogDbFixture.h"
#include "OldLogLayouts.h"
#include "store/LogLayout.h"

using namespace JRX;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

namespace jrxtest {
namespace {

class LogLayoutTest : public LogDbFixture {
 protected:
  // What every query service answers, as text.
  Lines answers() {
    Lines out;
    JRXOpLogLocal log(nullptr);
    JRXEventLogLocal events(nullptr);
    for (const auto& [eid, active] : {std::make_pair(JRXEID(), false), std::make_pair(JRXEID(), true),
                                      std::make_pair(kVm1, false), std::make_pair(kVm2, false)}) {
      std::vector<JRXRequestProgressData> ops;
      out.push_back("getOps " + std::to_string(log.getOps(&ops, eid, "", "", "", false, active,
                                                          kNoLimit, 0, kNoUpper)));
      for (const std::string& line : linesOf(ops, opLine)) out.push_back(line);
    }
    for (const auto& [eid, asSource] : {std::make_pair(JRXEID(), true), std::make_pair(kVm1, true),
                                        std::make_pair(kNode, false)}) {
      std::vector<JRXEvent> found;
      out.push_back("getEvents " + std::to_string(events.getEvents(&found, eid, asSource, kNoLimit,
                                                                   "", "", true, 0, kNoUpper)));
      for (const std::string& line : linesOf(found, eventLine)) out.push_back(line);
    }
    std::vector<std::string> ids;
    long last = 0;
    out.push_back("unfinished " + std::to_string(log.getUnfinishedOpIds(ids, last, kNode)) + " " +
                  joined(ids) + " " + std::to_string(last));
    return out;
  }

  // The log this build made, open beside the older layouts made from it.
  static std::shared_ptr<ASDatabase> madeLog() { return ASDatabase::Open(JRXDatabase::get()->Url()); }

  // A fresh database holding `layout`, the rows of `made` and `extra`; with `duplicate`, the
  // environments `vm-1` and `local-node` a second time, each holding some of the links.
  void openOld(const OldLayout& layout, const std::shared_ptr<ASDatabase>& made, bool duplicate,
               const std::string& extra = "") {
    JRXDatabase::close();
    JRXDatabase::open(freshDatabaseUrl(GetParam()));
    JRXConfiguration::setLocalEID(kLocal);
    JRXRdbmsTran tran;
    ASSession* s = *tran;
    for (const char* sql : GetParam() == "sqlite" ? layout.sqlite : layout.mariadb)
      s->ExecuteSql(sql);
    if (made) {
      ASTransaction read(made->Session(), AS_TRAN_READ);
      for (const auto& table : logTables())
        if (table->TableName() != "jrxlog_layout") ASCopyTable(made->Session(), s, *table);
    }
    if (!extra.empty()) s->ExecuteSql(extra);
    if (duplicate) {
      env_log e;
      const std::string vm1 = fieldsOf({&e}, {&e->id}, e->title == "vm-1")[0][0];
      s->ExecuteSql("INSERT INTO env_log (id, eid, title, type) SELECT 1000, eid, title, type "
                    "FROM env_log WHERE id = " + vm1);
      // One event and one operation link move to the twin; the other operations get a second
      // link to it, which the merge folds into the first (named, where either was: the first
      // or the twin).
      s->ExecuteSql("UPDATE events_log_env SET env_id = 1000 WHERE env_id = " + vm1);
      const std::string links = " FROM op_log_env WHERE role = 'O' AND env_id = " + vm1;
      s->ExecuteSql("UPDATE op_log_env SET env_id = 1000 WHERE role = 'O' AND env_id = " + vm1 +
                    " AND op_id = (SELECT MIN(op_id)" + links + ")");
      s->ExecuteSql("INSERT INTO op_log_env (op_id, env_id, role, is_default) SELECT op_id, "
                    "1000, role, is_default" + links);
      s->ExecuteSql("UPDATE op_log_env SET is_default = 'Y' WHERE role = 'O' AND env_id = " + vm1 +
                    " AND op_id = (SELECT MAX(op_id)" + links + ")");
      s->ExecuteSql("UPDATE op_log_env SET is_default = 'Y' WHERE env_id = 1000 AND op_id = "
                    "(SELECT MIN(op_id)" + links + ")");
      // Each link of the local node on both rows: stand-ins stay stand-ins.
      const std::string local = fieldsOf({&e}, {&e->id}, e->title == "local-node")[0][0];
      s->ExecuteSql("INSERT INTO env_log (id, eid, title, type) SELECT 1001, eid, title, type "
                    "FROM env_log WHERE id = " + local);
      s->ExecuteSql("INSERT INTO op_log_env (op_id, env_id, role, is_default) SELECT op_id, "
                    "1001, role, is_default FROM op_log_env WHERE env_id = " + local);
    }
    tran.commit();
  }

  static void execute(const std::string& sql) {
    JRXRdbmsTran tran;
    (*tran)->ExecuteSql(sql);
    tran.commit();
  }
  void dropIndex(const std::string& table, const std::string& index) {
    execute(GetParam() == "sqlite" ? "DROP INDEX " + index
                                   : "ALTER TABLE " + table + " DROP INDEX " + index);
  }

  // Three processes open the log at once, as users of the library do: one brings it up to date,
  // the others find it done; rows and answers are those of this build's log, writes work.
  void expectUpgraded(const OldLayout& layout, bool duplicate) {
    SCOPED_TRACE(layout.name);
    fillLog();
    const Lines rows = allLogRows();
    const Lines said = answers();
    openOld(layout, madeLog(), duplicate);
    // A version recorded for another part of the database is not this log's.
    if (layout.version) execute("INSERT INTO jrxlog_layout (part, version) VALUES ('other', 1)");

    std::vector<JRXLayoutReport> reports(3);
    std::vector<std::thread> openers;
    for (JRXLayoutReport& mine : reports)
      openers.emplace_back([&mine] {
        try {
          mine = openLogLayout();
        } catch (const AException& e) {
          mine.changes = {e.what()};
        }
      });
    for (std::thread& t : openers) t.join();
    std::sort(reports.begin(), reports.end(),
              [](const auto& a, const auto& b) { return a.changes.size() > b.changes.size(); });
    const JRXLayoutReport& report = reports[0];
    EXPECT_TRUE(reports[1].changes.empty() && reports[2].changes.empty());
    EXPECT_EQ(std::make_pair(report.found, report.now),
              std::make_pair(layout.version, kLogLayoutVersion));
    EXPECT_FALSE(report.changes.empty());
    EXPECT_EQ(std::count(report.changes.begin(), report.changes.end(),
                         "env_log: 2 duplicate environment rows merged, their links re-pointed"),
              duplicate ? 1 : 0);
    EXPECT_EQ(allLogRows(), rows);
    EXPECT_EQ(answers(), said);
    const Lines versions{"log|" + std::to_string(kLogLayoutVersion), "other|1"};
    EXPECT_TRUE(!layout.version || rowsOf<jrxlog_layout>() == versions);
    // Nothing left to do when opened again; looked over whole, only an index dropped since.
    EXPECT_EQ(openLogLayout().found, kLogLayoutVersion);
    EXPECT_EQ(openLogLayout(true).changes, std::vector<std::string>());
    dropIndex("op_log", "op_log_status_time");
    EXPECT_TRUE(openLogLayout().changes.empty());
    EXPECT_THAT(openLogLayout(true).changes, ElementsAre(HasSubstr("op_log_status_time")));

    // Writers find the old rows of an operation and an environment by their converted keys.
    const size_t ops = rowsOf<op_log>().size(), envs = rowsOf<env_log>().size();
    JRXOpLogLocal log(nullptr);
    auto r = LogDbFixture::report("req-2", "vm.stop", 3, 100, kT0 + 20, "more");
    r.info.addParameter("source_env", envRef(kVm1, "vm", "vm-1"));
    EXPECT_EQ(log.saveProgress(r), 0);
    EXPECT_EQ(rowsOf<op_log>().size(), ops);
    EXPECT_EQ(rowsOf<env_log>().size(), envs);
    EXPECT_EQ(JRXEventLogLocal(nullptr).saveEvent(event(kVm1, kT0 + 3)), 0);
    EXPECT_EQ(log.finishOps(), 0);
    EXPECT_EQ(JRXOpLogLocal::compact(0), 0);
  }
};

TEST_P(LogLayoutTest, OlderLayoutsOpenWithEveryRowAndAnswerANewerIsRefused) {
  for (const auto& [layout, twice] : {std::make_pair(&kFirst, false), std::make_pair(&kFirst, true),
                                      std::make_pair(&kBeforeRoleIndex, true),
                                      std::make_pair(&kBeforeTitleWidth, false),
                                      std::make_pair(&kVersion1, false)}) {
    openLogDb();
    expectUpgraded(*layout, twice);
  }
  // A layout from a later build is refused, and the log left exactly as it was.
  execute("UPDATE jrxlog_layout SET version = " + std::to_string(kLogLayoutVersion + 1));
  dropIndex("op_log", "op_log_time");
  const Lines rows = allLogRows();
  EXPECT_THAT([] { openLogLayout(true); },
              ThrowsMessage<AException>(HasSubstr("newer than this build knows")));
  EXPECT_EQ(allLogRows(), rows);
  JRXRdbmsTran tran(AS_TRAN_READ);
  EXPECT_EQ((*tran)->DescribeTable("op_log").Index("op_log_time"), nullptr);
}

// An opening that fails at any statement leaves a log the next opening finishes: the steps
// look before they change, and the version is written last.
TEST_P(LogLayoutTest, AnOpeningThatFailsHalfwayIsFinishedByTheNext) {
  fillLog();
  const Lines rows = allLogRows();
  const Lines said = answers();
  const std::shared_ptr<ASDatabase> made = madeLog();
  for (int n = 1;; ++n) {
    SCOPED_TRACE("statement " + std::to_string(n) + " failing");
    openOld(kFirst, made, true);
    const std::string url = JRXDatabase::get()->Url();
    JRXDatabase::close();
    JRXDatabase::open("fault:" + url);
    JRXConfiguration::setLocalEID(kLocal);
    ASFaults::Clear();
    ASFaults::FailStatement(n, "", kInjected);
    bool failed = false;
    try {
      openLogLayout();
    } catch (const AException& e) {
      failed = true;
      EXPECT_NE(std::string(e.what()).find(kInjected), std::string::npos) << e.what();
    }
    const bool reached = ASFaults::StatementsSeen() >= n;
    ASFaults::Clear();
    EXPECT_EQ(failed, reached);
    EXPECT_EQ(openLogLayout().now, kLogLayoutVersion);
    EXPECT_EQ(allLogRows(), rows);
    EXPECT_EQ(answers(), said);
    if (!reached || HasFailure()) break;
  }
}

// A row the new layout cannot hold (MariaDB: a title longer than the key's width) stops the
// opening with the table's name and the database's reason; the row is kept whole.
TEST_P(LogLayoutTest, ARowTheNewLayoutCannotHoldStopsTheOpeningAndStays) {
  if (GetParam() != "mariadb") GTEST_SKIP() << "SQLite keeps titles of any length";
  const std::string title(2000, 't');
  openOld(kBeforeTitleWidth, nullptr, false,
          "INSERT INTO env_log (eid, title, type) VALUES (x'" + std::string(32, '0') + "', '" +
              title + "', 'vm')");
  EXPECT_THAT([] { openLogLayout(); },
              ThrowsMessage<AException>(HasSubstr("env_log cannot be brought")));
  env_log e;
  EXPECT_EQ(rowsOf({&e}, {&e->title}), Lines{title});
}

JRX_ON_EVERY_BACKEND(LogLayoutTest);

}  // namespace
}  // namespace jrxtest
