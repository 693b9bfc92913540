// jrxlog copy between databases of every kind: the same rows with the same ids, the same
// answers of the services, and a copy that goes on working as a log.
#include <boost/make_shared.hpp>
#include <regex>

#include "JRXLogDBLocal.h"
#include "JRXRdbms.h"
#include "LogRows.h"
#include "store/LogLayout.h"
#include "ToolFixture.h"

namespace jrxtest {
namespace {

std::vector<std::string> directions() {
  std::vector<std::string> out;
  for (const std::string& from : backends())
    for (const std::string& to : backends()) out.push_back(from + "_" + to);
  return out;
}

// NUL, quotes, a backslash, SQL, bytes that are not UTF-8 and a lone lead byte.
const char kOddBytes[] = "it's \"odd\" \\ \0 '; DROP TABLE op_log; -- \xff\xfe \xc3";
const std::string kOdd(kOddBytes, sizeof kOddBytes - 1);

JRX::JRXEID eid(const char* text) {
  JRX::JRXEID e;
  e.fromString(text);
  return e;
}

JRX::JRXInfo envRef(const char* guid, const std::string& type, const std::string& title) {
  JRX::JRXInfo ref("environment");
  ref.addParameter("eid", guid);
  ref.addParameter("type", type);
  ref.addParameter("title", title);
  return ref;
}

template <class Table>
void addRows(Lines& all) {
  for (const std::string& r : rowsOf<Table>()) all.push_back(Table().TableName() + ": " + r);
}

// Every row of every log table and of the framework's environments, exactly, ids included.
Lines logRowsOf(const std::string& url) {
  using namespace JRX;
  JRXDatabase::open(url);
  Lines all;
  for (auto add : {addRows<op_log>, addRows<op_log_data>, addRows<op_log_env>,
                   addRows<op_log_task>, addRows<env_log>, addRows<Environment>,
                   addRows<events_log>, addRows<events_log_env>, addRows<events_log_resource>,
                   addRows<events_log_status>, addRows<events_log_audit>, addRows<jrxlog_layout>})
    add(all);
  JRXDatabase::close();
  return all;
}

// The largest key of the rows of `table` ("TABLE: KEY|...").
long long largestKey(const Lines& rows, const std::string& table) {
  long long key = 0;
  for (const std::string& r : rows)
    if (r.compare(0, table.size() + 2, table + ": ") == 0)
      key = std::max(key, std::stoll(r.substr(table.size() + 2)));
  return key;
}

class ToolCopy : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    const std::string& p = GetParam();
    const size_t cut = p.find('_');
    source = freshDatabaseUrl(p.substr(0, cut));
    target = freshDatabaseUrl(p.substr(cut + 1));
  }

  // The demo's agent at work, and records whose texts are anything but plain.
  void fillSource() {
    ASSERT_EQ(jrxOn(source, {"demo", "--seed", "5", "--size", "4", "--time", "1701000000"}).status,
              0);
    JRX::JRXDatabase::open(source);
    JRX::JRXConfiguration::setLocalEID(eid(kLocal));
    JRX::JRXOpLogLocal ops(nullptr);
    JRX::JRXEventLogLocal events(nullptr);
    for (int i = 0; i < 3; ++i) {
      JRX::JRXRequestProgressData r(kOdd + std::to_string(i));
      r.name = kOdd;
      r.parentId = i ? kOdd + "0" : "";
      r.sessionId = kOdd;
      r.status = i == 2 ? 3 : 1;
      r.progress = 10 * i;
      r.time = 1701000500 + i;
      r.eid = eid(kLocal);
      r.info.setText(kOdd);
      r.info.addParameter("task_id", kOdd);
      r.info.addParameter("env", envRef(kVm1, "vm", kOdd));
      ASSERT_EQ(ops.saveProgress(r), 0);
    }
    JRX::JRXEvent e(kOdd);
    e.guid = JRX::JRXGUID::generate();
    e.time = 1701000600;
    e.type = kOdd;
    e.sid = JRX::JRXSID({0x00, 0xff, 0x27});
    e.info = JRX::JRXInfo(kOdd);
    e.info.addParameter("source_env", envRef(kNode, "node", kOdd));
    e.info.addParameter("id", kOdd);
    e.info.addParameter("type", kOdd);
    auto audit = boost::make_shared<JRX::JRXAuditEvent>();
    audit->session = kOdd;
    audit->detail = kOdd;
    audit->address.fromString("2001:db8::1");
    e.data = audit;
    ASSERT_EQ(events.saveEvent(e), 0);
    JRX::JRXDatabase::close();
  }

  std::string source, target;
};

TEST_P(ToolCopy, CopiesTheLogWithItsIdsAndAnswersTheSame) {
  fillSource();
  if (HasFatalFailure()) return;
  const ToolRun copy = jrxOn(source, {"copy", "--to", target, "--batch", "7"});
  ASSERT_EQ(copy.status, 0) << copy.out << copy.err;
  // The log's tables and the framework's two.
  EXPECT_EQ(count(copy.out, " ok\n"), JRX::logTables().size() + 2) << copy.out;
  EXPECT_EQ(count(copy.out, "MISMATCH"), 0u);

  const Lines rows = logRowsOf(source);
  EXPECT_EQ(logRowsOf(target), rows);
  EXPECT_GT(rows.size(), 100u);
  // The local environment made at creation came along.
  EXPECT_EQ(runJrxlog({"--db", target, "init"}).out, runJrxlog({"--db", source, "init"}).out);

  for (const Strings& call :
       {Strings{"ops", "--json"}, Strings{"ops", "--active", "--json"},
        Strings{"ops", "--eid", kVm1, "--limit", "3", "--json"},
        Strings{"events", "--json", "--envs"}, Strings{"events", "--eid", kNode, "--json"},
        Strings{"unfinished", "--eid", kLocal, "--json"},
        Strings{"unfinished", "--eid", kNode, "--json"}}) {
    SCOPED_TRACE(call[0] + " " + call[1]);
    const ToolRun a = jrxOn(source, call), b = jrxOn(target, call);
    EXPECT_EQ(a.status, 0) << a.err;
    // A stalled operation's estimated end moves on between the two runs.
    static const std::regex eta(R"(,"eta":\d+)");
    EXPECT_EQ(std::regex_replace(b.out, eta, ""), std::regex_replace(a.out, eta, ""));
    EXPECT_GT(a.out.size(), 20u);
  }

  // The copy is a log: new records get new ids above every copied one.
  ASSERT_EQ(jrxOn(target, {"save-progress", R"({"id":"after-copy","name":"vm.start"})"}).status, 0);
  ASSERT_EQ(jrxOn(target, {"save-event", R"({"info":{"params":{"source_env":{"params":{"eid":")" +
                                             std::string(kNode) + R"("}}}}})"})
                .status,
            0);
  const Lines after = logRowsOf(target);
  for (const char* table : {"op_log", "events_log"})
    EXPECT_GT(largestKey(after, table), largestKey(rows, table)) << table;
}

TEST_P(ToolCopy, RefusesATargetThatHoldsRowsAndChangesNothing) {
  fillSource();
  if (HasFatalFailure()) return;
  ASSERT_EQ(jrxOn(target, {"save-progress", R"({"id":"mine","name":"vm.stop"})"}).status, 0);
  const Lines before = logRowsOf(target);
  const ToolRun refused = jrxOn(source, {"copy", "--to", target});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("not empty"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("op_log"), std::string::npos) << refused.err;
  EXPECT_EQ(logRowsOf(target), before);
  // A database that only knows its local environment is no empty target either: its own
  // would clash with the copied one.
  const std::string initialised = freshDatabaseUrl(GetParam().substr(GetParam().find('_') + 1));
  ASSERT_EQ(runJrxlog({"--db", initialised, "init"}).status, 0);
  const ToolRun again = jrxOn(source, {"copy", "--to", initialised});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("jrx_config"), std::string::npos) << again.err;
  EXPECT_EQ(jrxOn(source, {"copy"}).status, 2);
}

INSTANTIATE_TEST_SUITE_P(Db, ToolCopy, ::testing::ValuesIn(directions()), BackendName());

}  // namespace
}  // namespace jrxtest
