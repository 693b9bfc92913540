// jrxlog import end to end, on both databases: what it stores is what the listings print, and
// that reads back unchanged; a bad line is named and nothing from it on is stored.
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "ToolFixture.h"

namespace jrxtest {
namespace {

using nlohmann::json;

class ToolImport : public ToolDb {};

// `ops --json` and `events --json` of the sample: env records before the first record naming
// them, statuses as the log derived them, GUIDs in lower case, newest event first.
const char* const kSampleListings =
    R"({"kind":"env","eid":"11111111-1111-4111-8111-111111111111","type":"vm","title":"web-1"}
{"kind":"progress","id":"req-1","parentId":"","name":"vm.start","status":1,"progress":10,"time":1701000000,"operands":["11111111-1111-4111-8111-111111111111"],"sessionId":"s-1","info":{"text":"Starting {vm}","params":{"n":["1",{"text":"x","params":{"y":"z"}}],"vm":"web-1"}}}
{"kind":"progress","id":"req-1","parentId":"","name":"vm.start","status":2,"progress":50,"time":1701000010,"operands":["11111111-1111-4111-8111-111111111111"],"sessionId":"s-1","info":{"text":"Booting"}}
{"kind":"progress","id":"req-1","parentId":"","name":"vm.start","status":3,"progress":100,"time":1701000020,"operands":["11111111-1111-4111-8111-111111111111"],"sessionId":"s-1","info":{"text":"Started"}}
{"kind":"env","eid":"0a0a0a0a-0000-4000-8000-000000000001","type":"node","title":"host-0"}
{"kind":"progress","id":"req-2","parentId":"","name":"vm.stop","status":1,"progress":0,"time":1701000100,"operands":["0a0a0a0a-0000-4000-8000-000000000001"],"sessionId":"","info":{"text":"Stopping"}}
{"kind":"progress","id":"a/b c","parentId":"req-2","name":"vm.stop","status":1,"progress":30,"time":1701000200,"operands":["0a0a0a0a-0000-4000-8000-000000000001"],"sessionId":"","info":{"text":"Waiting"}}
{"kind":"env","eid":"22222222-2222-4222-8222-222222222222","type":"vm","title":"db-1"}
{"kind":"progress","id":"req-3","parentId":"","name":"backup.run","status":5,"progress":0,"time":1701000300,"operands":["22222222-2222-4222-8222-222222222222"],"sessionId":"","info":{"text":"Disk full"}}
{"kind":"event","guid":"3f1e0d2c-0000-4000-8000-000000000003","time":1701000003,"category":"vm","type":"audit","code":0,"eid":"d3377d3c-a0d1-5d71-9947-f17125c357bb","info":{"text":"login","params":{"source_env":{"text":"","params":{"eid":"d3377d3c-a0d1-5d71-9947-f17125c357bb","title":"host-1","type":"node"}}}},"audit":{"session":"s-9","address":"2001:db8::1","detail":"login","kind":0}}
{"kind":"event","guid":"3f1e0d2c-0000-4000-8000-000000000002","time":1701000002,"category":"vm","type":"env_status","code":0,"sid":"0102ff","eid":"d3377d3c-a0d1-5d71-9947-f17125c357bb","info":{"text":"web-1 is up","params":{"env":{"text":"","params":{"eid":"11111111-1111-4111-8111-111111111111","title":"web-1","type":"vm"}},"new_status":"1","new_transition":"0","old_status":"4","old_transition":"0","source_env":{"text":"","params":{"eid":"d3377d3c-a0d1-5d71-9947-f17125c357bb","title":"host-1","type":"node"}}}}}
{"kind":"event","guid":"3f1e0d2c-0000-4000-8000-000000000001","time":1701000001,"category":"vm","type":"info","code":7,"eid":"d3377d3c-a0d1-5d71-9947-f17125c357bb","info":{"text":"info happened","params":{"source_env":{"text":"","params":{"eid":"d3377d3c-a0d1-5d71-9947-f17125c357bb","title":"host-1","type":"node"}}}}}
)";

// Read back into a database with another local environment, the listings print the same.
TEST_P(ToolImport, ListingsPrintWhatWasImportedAndReadBackUnchanged) {
  ToolRun r = jrx({"import", "-"}, kSample);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "imported 3 env, 6 progress, 3 event records\n");
  const std::string printed = jrx({"ops", "--json"}).out + jrx({"events", "--json"}).out;
  EXPECT_EQ(printed, kSampleListings);

  const Strings copy = {"--db", freshDatabaseUrl(GetParam()), "--local-eid",
                        "77777777-0000-4000-8000-000000000007"};
  auto inCopy = [&](Strings args, const std::string& in = "") {
    args.insert(args.begin(), copy.begin(), copy.end());
    return runJrxlog(args, in);
  };
  ToolRun back = inCopy({"import"}, printed);
  ASSERT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(inCopy({"ops", "--json"}).out + inCopy({"events", "--json"}).out, printed);
}

TEST_P(ToolImport, BadLineIsNamedAndNothingFromItOnStored) {
  struct Case {
    std::string line;
    const char* complaint;
    const char* batch = "500";
  };
  const Case cases[] = {
      {R"({"kind":"progress","id":"req-c","name":"c")", "malformed JSON"},
      {R"({"kind":"progress","id":"req-c","name":"c","status":"2"})",
       "field \"status\" must be a whole number"},
      {R"({"kind":"progress","id":"req-c","name":"c","operands":["0a0a-zz"]})", "not a GUID"},
      {R"({"kind":"progress","id":"req-c","name":"c","info":{"params":{"x":5}}})",
       "\"info.params.x\""},
      {R"({"kind":"progress","id":"req-c","name":"c","colour":"red"})", "unknown field \"colour\""},
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
      // Refused by the log: inside a batch, alone, and at a batch's start.
      {R"({"kind":"progress","id":"req-c"})",
       "error 3101: Can't save operation without name\n"
       "stored before it: 0 env, 2 progress, 0 event records\n"},
      {R"({"kind":"progress","id":"req-c"})", "error 3101: Can't save", "1"},
      {R"({"kind":"progress","id":"req-c"})", "error 3101: Can't save", "2"},
      {R"({"kind":"event","type":"info","info":{"text":"without its source environment"}})",
       "error 3101: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line.substr(0, 80));
    std::string url = freshDatabaseUrl(GetParam());
    ToolRun r = jrxOn(url, {"import", "--batch", c.batch},
                      progressLine("req-a", "a", 1701000000) + progressLine("req-b", "b", 1701000001) +
                          c.line + "\n" + progressLine("req-d", "d", 1701000003));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("line 3: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.complaint), std::string::npos) << r.err;
    EXPECT_LT(r.err.size(), 300u);
    EXPECT_EQ(ids({"ops"}, url), (Strings{"req-a", "req-b"}));
    EXPECT_EQ(ids({"events"}, url), Strings{});
  }
}

// The real sample data imports completely; the counts are the converter's.
TEST_P(ToolImport, ImportsTheOpenStackSample) {
  std::string dir = sharedDataDir();
  if (dir.empty()) GTEST_SKIP() << "shared sample data not found";
  json stats = json::parse(std::ifstream(dir + "/openstack/openstack_2k.stats.json"));
  auto n = [&](const char* key) { return stats[key].get<long long>(); };

  ToolRun r = jrx({"import", dir + "/openstack/openstack_2k.jsonl"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "imported " + std::to_string(n("envs_node") + n("envs_vm")) + " env, " +
                       std::to_string(n("reports")) + " progress, " + std::to_string(n("events")) +
                       " event records\n");
  std::map<std::string, long long> expected, counts;
  for (const auto& kv : stats.items())
    if (kv.key().rfind("operations_status_", 0) == 0 || kv.key().rfind("events_", 0) == 0)
      expected[kv.key()] = kv.value();
  for (const auto& line : jrx({"ops", "--json", "--no-envs", "--first-only"}).lines())
    counts["operations_status_" + json::parse(line)["status"].dump()]++;
  const Strings events = jrx({"events", "--json"}).lines();
  for (const auto& line : events) counts["events_" + json::parse(line)["type"].get<std::string>()]++;
  EXPECT_EQ(counts, expected);
  EXPECT_EQ(json::parse(events.front())["time"], n("time_last"));
}

// Processes that share one new database: the first use creates it once, with one local
// environment; imports at once, each of its own records about the same environments, store
// every record once.
TEST_P(ToolImport, ProcessesAtOnceOnANewDatabaseStoreEverythingOnce) {
  const int kProcesses = 3, kOps = 12, kEvents = 6;
  auto together = [](int n, auto run) {
    std::vector<ToolRun> runs(static_cast<size_t>(n));
    std::vector<std::thread> threads;
    for (int p = 0; p < n; ++p) threads.emplace_back([&, p] { runs[p] = run(p); });
    for (std::thread& t : threads) t.join();
    return runs;
  };
  // Without --local-eid, so that each process reads or makes the stored one.
  std::vector<ToolRun> inits = together(4, [&](int) { return runJrxlog({"--db", url_, "init"}); });
  for (const ToolRun& r : inits)
    EXPECT_EQ(std::make_pair(r.status, r.out), std::make_pair(0, inits[0].out)) << r.err;

  std::string operands = std::string(R"(,"operands":[")") + kVm1 + "\",\"" + kVm2 + "\"]";
  for (const ToolRun& r : together(kProcesses, [&](int p) {
         std::string in = envLine(kVm1, "web-1") + envLine(kVm2, "web-2");
         for (int i = 0; i < kOps; ++i) {
           std::string id = "p" + std::to_string(p) + "-op" + std::to_string(i);
           in += progressLine(id, "vm.start", 1701000000 + i, operands) +
                 progressLine(id, "", 1701000100 + i, operands + R"(,"status":3)");
         }
         for (int e = 0; e < kEvents; ++e)
           in += eventLine("3f1e0d2c-0000-4000-8000-00000" + std::to_string(p) + "00000" +
                               std::to_string(e),
                           1701000000 + e, "alert", kVm2);
         return jrx({"import", "--batch", "3"}, in);
       }))
    EXPECT_EQ(r.status, 0) << r.err;
  std::map<std::string, int> reports;
  for (const auto& id : ids({"ops"})) reports[id]++;
  EXPECT_EQ(reports.size(), static_cast<size_t>(kProcesses * kOps));
  for (const auto& r : reports) EXPECT_EQ(r.second, 2) << r.first;
  EXPECT_EQ(ids({"events"}).size(), static_cast<size_t>(kProcesses * kEvents));
}

INSTANTIATE_TEST_SUITE_P(Db, ToolImport, ::testing::ValuesIn(backends()), BackendName());

}  // namespace
}  // namespace jrxtest
