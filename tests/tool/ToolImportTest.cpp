// jrxlog import, save-progress and save-event end to end, on both databases.
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "ToolFixture.h"

namespace jrxtest {
namespace {

using nlohmann::json;

class ToolImport : public ToolDb {};

const char* const kEventA = "3f1e0d2c-0000-4000-8000-00000000000a";
const char* const kEventB = "3f1e0d2c-0000-4000-8000-00000000000b";

TEST_P(ToolImport, StoresEnvProgressAndEventRecords) {
  std::string input =
      envLine(kVm1, "vm", "web-1") +
      progressLine("req-1", "vm.start", 0, 10, 1701000000, "Starting {vm}",
                   std::string("\"operands\":[\"") + kVm1 + "\"],\"sessionId\":\"s-1\"") +
      "\n" +  // blank lines are skipped
      progressLine("req-1", "", 0, 50, 1701000010, "Booting") +
      eventLine(kEventA, 1701000005, "env_status",
                std::string(",\"env\":{\"params\":{\"eid\":\"") + kVm1 +
                    "\",\"type\":\"vm\",\"title\":\"web-1\"}},\"old_status\":\"4\",\"new_status\":"
                    "\"1\",\"old_transition\":\"0\",\"new_transition\":\"0\"",
                ",\"sid\":\"0102FF\"") +
      eventLine(kEventB, 1701000006, "audit", "",
                ",\"audit\":{\"session\":\"s-1\",\"address\":\"2001:db8::1\",\"detail\":\"login\","
                "\"kind\":0}");
  ToolRun r = jrx({"import", "-"}, input);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "imported 1 env, 2 progress, 2 event records\n");

  auto ops = parseLines(jrx({"ops", "--json"}));
  ASSERT_EQ(ops.size(), 2u);
  EXPECT_EQ(ops[0]["id"], "req-1");
  EXPECT_EQ(ops[0]["name"], "vm.start");
  EXPECT_EQ(ops[0]["status"], 1);  // a first report without status starts the operation
  EXPECT_EQ(ops[0]["progress"], 10);
  EXPECT_EQ(ops[0]["time"], 1701000000);
  EXPECT_EQ(ops[0]["sessionId"], "s-1");
  EXPECT_EQ(ops[0]["operands"], json::array({kVm1}));
  EXPECT_EQ(ops[0]["info"]["text"], "Starting {vm}");
  EXPECT_EQ(ops[1]["status"], 2);
  EXPECT_EQ(ops[1]["progress"], 50);
  EXPECT_EQ(ops[1]["info"]["text"], "Booting");

  auto events = parseLines(jrx({"events", "--json"}));
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0]["guid"], kEventB);  // newest first
  EXPECT_EQ(events[0]["audit"]["address"], "2001:db8::1");
  EXPECT_EQ(events[0]["audit"]["detail"], "login");
  EXPECT_EQ(events[1]["guid"], kEventA);
  EXPECT_EQ(events[1]["sid"], "0102ff");
  EXPECT_EQ(events[1]["eid"], kNode);
  EXPECT_EQ(events[1]["info"]["params"]["new_status"], "1");

  // The operand's title comes from the env record.
  ToolRun table = jrx({"ops"});
  ASSERT_EQ(table.status, 0) << table.err;
  ASSERT_EQ(table.lines().size(), 3u);
  EXPECT_NE(table.lines()[0].find("STATUS"), std::string::npos);
  EXPECT_NE(table.lines()[2].find("running"), std::string::npos);
  EXPECT_NE(table.lines()[2].find("50%"), std::string::npos);
  EXPECT_NE(table.lines()[2].find("web-1"), std::string::npos);
}

struct BadLine {
  std::string line;
  const char* complaint;
};

TEST_P(ToolImport, InvalidLineIsReportedAndNothingOfItStored) {
  const BadLine cases[] = {
      {R"({"kind":"progress","id":"req-c","name":"c")", "malformed JSON"},
      {R"({"kind":"progress","id":"req-c","name":"c","status":"2"})",
       "field \"status\" must be a whole number"},
      {R"({"kind":"progress","id":"req-c","name":"c","operands":["0a0a-zz"]})", "not a GUID"},
      {R"({"kind":"progress","id":"req-c","name":"c","info":{"params":{"x":5}}})",
       "\"info.params.x\""},
      {R"({"kind":"progress","id":"req-c","name":"c","colour":"red"})",
       "unknown field \"colour\""},
      {R"({"kind":"progress","name":"c"})", "needs \"id\""},
      {R"({"kind":"event","guid":"{3F1E0D2C-0000-4000-8000-00000000000A}","sid":"abc"})",
       "even number"},
      {R"({"kind":"event","audit":{"address":"no.where"}})", "audit.address"},
      {R"({"kind":"env","eid":"not-a-guid","type":"vm"})", "not a GUID"},
      {R"({"kind":"wat"})", "unknown kind"},
      {R"([1,2])", "must be a JSON object"},
      // Numbers beyond a double; the message quotes no more than a short excerpt.
      {R"({"kind":"event","time":1e400})", "number overflow"},
      {R"({"kind":"progress","id":"req-c","progress":)" + std::string(100000, '7') + "}",
       "number overflow"},
      {R"({"kind":")" + std::string(100000, 'x') + R"("})", "unknown kind"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line.substr(0, 80));
    std::string url = freshDatabaseUrl(GetParam());
    std::string input = progressLine("req-a", "a", 0, 0, 1701000000, "a") +
                        progressLine("req-b", "b", 0, 0, 1701000001, "b") + c.line + "\n" +
                        progressLine("req-d", "d", 0, 0, 1701000003, "d");
    ToolRun r = jrxOn(url, {"import"}, input);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("line 3: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.complaint), std::string::npos) << r.err;
    EXPECT_LT(r.err.size(), 300u);
    // The records before the bad line were stored, nothing of it or after it.
    EXPECT_EQ(ids(parseLines(jrxOn(url, {"ops", "--json"}))),
              (std::vector<std::string>{"req-a", "req-b"}));
    EXPECT_TRUE(jrxOn(url, {"events", "--json"}).out.empty());
  }
}

TEST_P(ToolImport, RefusedRecordStopsWithLineCodeAndMessage) {
  for (const char* batch : {"1", "2", "500"}) {
    SCOPED_TRACE(batch);
    std::string url = freshDatabaseUrl(GetParam());
    std::string input = progressLine("req-a", "a", 0, 0, 1701000000, "a") +
                        progressLine("req-b", "", 0, 0, 1701000001, "b without a name") +
                        progressLine("req-c", "c", 0, 0, 1701000002, "c");
    ToolRun r = jrxOn(url, {"import", "--batch", batch, "-"}, input);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "line 2: error 3101: Can't save operation without name\n"
              "stored before it: 0 env, 1 progress, 0 event records\n");
    EXPECT_EQ(ids(parseLines(jrxOn(url, {"ops", "--json"}))), std::vector<std::string>{"req-a"});
  }

  // An event without its source environment is refused by the event log (empty message).
  std::string input = progressLine("req-a", "a", 0, 0, 1701000000, "a") +
                      R"({"kind":"event","guid":")" + kEventA +
                      R"(","type":"info","info":{"text":"no source"}})" + "\n" +
                      progressLine("req-c", "c", 0, 0, 1701000002, "c");
  ToolRun r = jrx({"import"}, input);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("line 2: error 3101: ", 0), 0u) << r.err;
  EXPECT_EQ(ids(parseLines(jrx({"ops", "--json"}))), std::vector<std::string>{"req-a"});
  EXPECT_TRUE(jrx({"events", "--json"}).out.empty());
}

TEST_P(ToolImport, SavesSingleRecords) {
  ToolRun p = jrx({"save-progress", R"({"id":"req-9","name":"vm.stop","time":1701000100,
                                      "info":{"text":"Stopping","params":{"env":[
                                      {"params":{"eid":"11111111-1111-4111-8111-111111111111",
                                                 "type":"vm","title":"web-1"}}]}}})"});
  ASSERT_EQ(p.status, 0) << p.err;
  auto ops = parseLines(jrx({"ops", "--json", "--id", "req-9"}));
  ASSERT_EQ(ops.size(), 1u);
  EXPECT_EQ(ops[0]["operands"], json::array({kVm1}));  // the "env" parameter names the operand

  ToolRun refused = jrx({"save-progress", R"({"id":"req-10"})"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "error 3101: Can't save operation without name\n");
  ToolRun huge = jrx({"save-progress", R"({"id":"q","name":"n","progress":1e999})"});
  EXPECT_EQ(huge.status, 1);
  EXPECT_NE(huge.err.find("number overflow parsing '1e999'"), std::string::npos) << huge.err;
  ToolRun wrongKind = jrx({"save-progress", R"({"kind":"event","id":"req-10"})"});
  EXPECT_EQ(wrongKind.status, 1);
  EXPECT_NE(wrongKind.err.find("expected a record of kind \"progress\""), std::string::npos);

  std::string event = eventLine(kEventA, 1701000200, "info");
  event.pop_back();
  ToolRun e1 = jrx({"save-event", event});
  ASSERT_EQ(e1.status, 0) << e1.err;
  EXPECT_EQ(e1.out, std::string("saved event ") + kEventA + "\n");
  ToolRun e2 = jrx({"save-event", event});  // the same GUID again is accepted and ignored
  EXPECT_EQ(e2.status, 0) << e2.err;
  EXPECT_EQ(parseLines(jrx({"events", "--json"})).size(), 1u);

  ToolRun bad = jrx({"save-event", "{\"guid\":1}"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("field \"guid\" must be a string"), std::string::npos);
}

// What the listings print reads back into another database as the same operations and
// events, even one with another local environment.
TEST_P(ToolImport, ListingsImportIntoAnotherDatabaseUnchanged) {
  std::string ops = std::string("\"operands\":[\"") + kVm1 + "\",\"" + kVm2 + "\"]";
  std::string input =
      envLine(kVm1, "vm", "web-1") + envLine(kVm2, "vm", "db-1") +
      progressLine("req-1", "vm.create", 1, 0, 1701000000, "Queued", ops + ",\"sessionId\":\"s\"") +
      progressLine("req-1", "", 0, 40, 1701000010, "Creating disk") +
      progressLine("req-1", "", 3, 100, 1701000020, "Created") +
      R"({"kind":"progress","id":"req-2","parentId":"req-1","name":"vm.start","time":1701000030,)"
      R"("info":{"text":"Starting {vm}","params":{"vm":"web-1","n":["1",{"text":"x","params":{"y":"z"}}]}}})"
      "\n" +
      progressLine("req-2", "", 0, 60, 1701000040, "Waiting") +
      progressLine("req-3", "backup.run", 5, 30, 1701000050, "Disk full",
                   std::string("\"operands\":[\"") + kVm2 + "\"]") +
      eventLine(kEventA, 1701000011, "info") +
      eventLine(kEventB, 1701000012, "audit", "",
                ",\"audit\":{\"session\":\"s\",\"address\":\"10.0.0.1\",\"detail\":\"d\",\"kind\":0}");
  ASSERT_EQ(jrx({"import"}, input).status, 0);

  ToolRun opsOut = jrx({"ops", "--json"});
  ToolRun eventsOut = jrx({"events", "--json"});
  ASSERT_EQ(opsOut.status, 0);
  ASSERT_EQ(eventsOut.status, 0);
  EXPECT_EQ(parseLines(opsOut).size(), 6u);
  // The operands' env records come first; without them the records alone.
  EXPECT_EQ(opsOut.lines().size(), 9u) << opsOut.out;  // web-1, db-1 and the local node
  EXPECT_EQ(opsOut.lines().front().rfind("{\"kind\":\"env\"", 0), 0u);
  EXPECT_EQ(jrx({"ops", "--json", "--no-envs"}).lines().size(), 6u);

  std::string copy = freshDatabaseUrl(GetParam());
  const std::vector<std::string> other = {"--db", copy, "--local-eid",
                                          "77777777-0000-4000-8000-000000000007"};
  auto inCopy = [&](std::vector<std::string> args, const std::string& in = "") {
    args.insert(args.begin(), other.begin(), other.end());
    return runJrxlog(args, in);
  };
  ToolRun in1 = inCopy({"import"}, opsOut.out);
  ASSERT_EQ(in1.status, 0) << in1.err;
  ToolRun in2 = inCopy({"import"}, eventsOut.out);
  ASSERT_EQ(in2.status, 0) << in2.err;

  EXPECT_EQ(inCopy({"ops", "--json"}).out, opsOut.out);
  EXPECT_EQ(inCopy({"events", "--json"}).out, eventsOut.out);
}

// The real sample data imports completely; the counts are the converter's.
TEST_P(ToolImport, ImportsTheOpenStackSample) {
  std::string dir = sharedDataDir();
  if (dir.empty()) GTEST_SKIP() << "shared sample data not found";
  std::ifstream statsFile(dir + "/openstack/openstack_2k.stats.json");
  json stats = json::parse(statsFile);

  ToolRun r = jrx({"import", dir + "/openstack/openstack_2k.jsonl"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "imported " + std::to_string(stats["envs_node"].get<int>() +
                                                stats["envs_vm"].get<int>()) +
                       " env, " + std::to_string(stats["reports"].get<int>()) + " progress, " +
                       std::to_string(stats["events"].get<int>()) + " event records\n");

  auto ops = parseLines(jrx({"ops", "--json", "--first-only"}));
  EXPECT_EQ(ops.size(), stats["operations"].get<size_t>());
  std::map<int, int> byStatus;
  for (const auto& op : ops) byStatus[op["status"].get<int>()]++;
  EXPECT_EQ(byStatus[3], stats["operations_status_3"].get<int>());
  EXPECT_EQ(byStatus[5], stats["operations_status_5"].get<int>());
  EXPECT_EQ(byStatus.size(), 2u);

  auto events = parseLines(jrx({"events", "--json"}));
  EXPECT_EQ(events.size(), stats["events"].get<size_t>());
  std::map<std::string, int> byType;
  for (const auto& e : events) byType[e["type"].get<std::string>()]++;
  for (const char* t : {"audit", "env_status", "alert", "info"})
    EXPECT_EQ(byType[t], stats[std::string("events_") + t].get<int>()) << t;
  EXPECT_EQ(events.front()["time"].get<long long>(), stats["time_last"].get<long long>());
}

// Processes that share one new database: the first use creates it once, with one local
// environment; imports at once, each of its own records about the same environments, all
// finish and store every record once.
TEST_P(ToolImport, ProcessesAtOnceOnANewDatabaseStoreEverythingOnce) {
  const int kProcesses = 3, kOps = 12, kEvents = 6;
  auto together = [](int n, const std::function<ToolRun(int)>& run) {
    std::vector<ToolRun> runs(static_cast<size_t>(n));
    std::vector<std::thread> threads;
    for (int p = 0; p < n; ++p) threads.emplace_back([&, p] { runs[static_cast<size_t>(p)] = run(p); });
    for (std::thread& t : threads) t.join();
    return runs;
  };
  // Without --local-eid, so that each process reads or makes the stored one.
  std::vector<ToolRun> inits =
      together(4, [&](int) { return runJrxlog({"--db", url_, "init"}); });
  for (const ToolRun& r : inits) {
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, inits[0].out);
  }

  std::vector<std::string> inputs;
  for (int p = 0; p < kProcesses; ++p) {
    std::string in = envLine(kVm1, "vm", "web-1") + envLine(kVm2, "vm", "web-2");
    for (int i = 0; i < kOps; ++i) {
      const std::string id = "p" + std::to_string(p) + "-op" + std::to_string(i);
      const std::string operands = std::string("\"operands\":[\"") + kVm1 + "\",\"" + kVm2 + "\"]";
      in += progressLine(id, "vm.start", 0, 0, 1701000000 + i, "starting", operands);
      in += progressLine(id, "", 3, 100, 1701000100 + i, "done", operands);
    }
    for (int e = 0; e < kEvents; ++e) {
      char guid[37];
      snprintf(guid, sizeof guid, "3f1e0d2c-0000-4000-8000-%06d%06d", p, e);
      in += eventLine(guid, 1701000000 + e, "alert",
                      std::string(",\"env\":{\"params\":{\"eid\":\"") + kVm2 +
                          "\",\"type\":\"vm\",\"title\":\"web-2\"}}");
    }
    inputs.push_back(in);
  }
  for (const ToolRun& r : together(kProcesses, [&](int p) {
         return jrx({"import", "--batch", "3", "-"}, inputs[static_cast<size_t>(p)]);
       }))
    EXPECT_EQ(r.status, 0) << r.err;

  auto ops = parseLines(jrx({"ops", "--json"}));
  std::map<std::string, int> reports;
  for (const auto& o : ops) reports[o["id"].get<std::string>()]++;
  EXPECT_EQ(reports.size(), static_cast<size_t>(kProcesses * kOps));
  for (const auto& r : reports) EXPECT_EQ(r.second, 2) << r.first;
  EXPECT_EQ(parseLines(jrx({"events", "--json"})).size(), static_cast<size_t>(kProcesses * kEvents));
}

INSTANTIATE_TEST_SUITE_P(Db, ToolImport, ::testing::ValuesIn(backends()), BackendName());

}  // namespace
}  // namespace jrxtest
