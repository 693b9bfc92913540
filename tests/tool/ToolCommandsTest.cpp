// jrxlog's commands end to end: what import stores, the listings print and import reads back;
// a bad line is named and nothing from it on stored; what each command prints, in order on one
// log; the command-line mistakes that exit with 2, and what option values mean.
#include <unistd.h>

#include <ctime>
#include <nlohmann/json.hpp>
#include <sstream>
#include <tuple>

#include "CommandLine.h"
#include "JsonRecords.h"
#include "TableOutput.h"
#include "ToolFixture.h"

namespace jrxtest {
namespace {

using nlohmann::json;

class ToolCommands : public ToolDb {};

// A command and what it must print: on standard output when it succeeds, else on standard
// error (and nothing on standard output for a usage error); a text after '!' must not show.
struct Case {
  Strings args;
  int status;
  Strings says;
};

void expectCase(const Case& c, const ToolRun& r) {
  std::string shown;
  for (const auto& a : c.args) shown += a.substr(0, 80) + " ";
  EXPECT_EQ(r.status, c.status) << shown << r.err;
  const std::string& text = c.status == 0 ? r.out : r.err;
  EXPECT_TRUE(!text.empty() && (c.status != 2 || r.out.empty())) << shown << r.out;
  for (const auto& s : c.says) {
    const bool absent = s[0] == '!';
    EXPECT_EQ(text.find(absent ? s.substr(1) : s) == std::string::npos, absent)
        << shown << "\n" << s << "\n" << text;
  }
}

// `ops --json` and `events --json` of the sample: env records before the first record naming
// them, derived statuses, the operands the reports named, GUIDs in lower case.
const char* const kSampleListings =
    R"({"kind":"env","eid":"11111111-1111-4111-8111-111111111111","type":"vm","title":"web-1"}
{"kind":"progress","id":"req-1","parentId":"","name":"vm.start","status":1,"progress":10,"time":1701000000,"operands":["11111111-1111-4111-8111-111111111111"],"sessionId":"s-1","info":{"text":"Starting {vm}","params":{"n":["1",{"text":"x","params":{"y":"z"}}],"vm":"web-1"}}}
{"kind":"progress","id":"req-1","parentId":"","name":"vm.start","status":2,"progress":50,"time":1701000010,"operands":["11111111-1111-4111-8111-111111111111"],"sessionId":"s-1","info":{"text":"Booting"}}
{"kind":"progress","id":"req-1","parentId":"","name":"vm.start","status":3,"progress":100,"time":1701000020,"operands":["11111111-1111-4111-8111-111111111111"],"sessionId":"s-1","info":{"text":"Started"}}
{"kind":"env","eid":"0a0a0a0a-0000-4000-8000-000000000001","type":"node","title":"host-0"}
{"kind":"progress","id":"req-2","parentId":"","name":"vm.stop","status":1,"progress":0,"time":1701000100,"operands":[],"sessionId":"","eid":"0a0a0a0a-0000-4000-8000-000000000001","info":{"text":"Stopping"}}
{"kind":"progress","id":"a/b c","parentId":"req-2","name":"vm.stop","status":1,"progress":30,"time":1701000200,"operands":[],"sessionId":"","eid":"5e5e5e5e-0000-4000-8000-000000000005","info":{"text":"Waiting"}}
{"kind":"env","eid":"22222222-2222-4222-8222-222222222222","type":"vm","title":"db-1"}
{"kind":"progress","id":"req-3","parentId":"","name":"backup.run","status":5,"progress":0,"time":1701000300,"operands":["22222222-2222-4222-8222-222222222222"],"sessionId":"","info":{"text":"Disk full"}}
{"kind":"event","guid":"3f1e0d2c-0000-4000-8000-000000000003","time":1701000003,"category":"vm","type":"audit","code":0,"eid":"d3377d3c-a0d1-5d71-9947-f17125c357bb","info":{"text":"login","params":{"source_env":{"text":"","params":{"eid":"d3377d3c-a0d1-5d71-9947-f17125c357bb","title":"host-1","type":"node"}}}},"audit":{"session":"s-9","address":"2001:db8::1","detail":"login","kind":0}}
{"kind":"event","guid":"3f1e0d2c-0000-4000-8000-000000000002","time":1701000002,"category":"vm","type":"env_status","code":0,"sid":"0102ff","eid":"d3377d3c-a0d1-5d71-9947-f17125c357bb","info":{"text":"web-1 is up","params":{"env":{"text":"","params":{"eid":"11111111-1111-4111-8111-111111111111","title":"web-1","type":"vm"}},"new_status":"1","new_transition":"0","old_status":"4","old_transition":"0","source_env":{"text":"","params":{"eid":"d3377d3c-a0d1-5d71-9947-f17125c357bb","title":"host-1","type":"node"}}}}}
{"kind":"event","guid":"3f1e0d2c-0000-4000-8000-000000000001","time":1701000001,"category":"vm","type":"info","code":7,"eid":"d3377d3c-a0d1-5d71-9947-f17125c357bb","info":{"text":"info happened","params":{"source_env":{"text":"","params":{"eid":"d3377d3c-a0d1-5d71-9947-f17125c357bb","title":"host-1","type":"node"}}}}}
)";

// What import stored is what the listings print, and that reads back unchanged into a database
// with another local environment.
TEST_P(ToolCommands, ImportedRecordsPrintAndReadBackUnchanged) {
  expectCase({{"import"}, 0, {"imported 3 env, 6 progress, 3 event records\n"}},
             jrx({"import", "-"}, kSample));
  const std::string printed = jrx({"ops", "--json"}).out + jrx({"events", "--json"}).out;
  EXPECT_EQ(printed, kSampleListings);
  // With --envs, an environment an event's texts name comes with it, before it.
  const std::string withEnvs = jrx({"events", "--json", "--envs"}).out;
  EXPECT_LT(withEnvs.find(R"({"kind":"env","eid":")" + std::string(kVm1)),
            withEnvs.find("env_status"));
  const Vars copy = {{"JRXLOG_DB", freshDatabaseUrl(GetParam())},
                     {"JRXLOG_LOCAL_EID", "77777777-0000-4000-8000-000000000007"}};
  expectCase({{"import"}, 0, {}}, runJrxlog({"import"}, printed, "", copy));
  EXPECT_EQ(runJrxlog({"ops", "--json"}, "", "", copy).out +
                runJrxlog({"events", "--json"}, "", "", copy).out,
            printed);

}

TEST_P(ToolCommands, BadImportLineIsNamedAndNothingFromItOnStored) {
  const std::string huge(100000, '7');
  const std::tuple<const char*, std::string, const char*> cases[] = {
      {"500", R"({"kind":"progress","id":"c","name":"c")", "malformed JSON"},
      {"500", R"({"kind":"progress","id":"c","status":"2"})", "\"status\" must be a whole"},
      {"500", R"({"kind":"progress","id":"c","operands":[")" + std::string(kVm1) + R"(","0a-z"]})",
       "\"operands[1]\" is not a GUID"},
      {"500", R"({"kind":"event","audit":5})", "\"audit\" must be an object"},
      {"500", R"({"kind":"progress","id":"c","info":{"params":{"x":5}}})", "\"info.params.x\""},
      {"500", R"({"kind":"progress","id":"c","colour":"red"})", "unknown field \"colour\""},
      // Times are kept in 32 bits: a wider one would come back as another time.
      {"500", R"({"kind":"progress","id":"c","name":"c","time":4294967301})",
       "\"time\" must be from -2147483648 to 2147483647"},
      {"500", R"({"kind":"event","time":-2147483649})", "\"time\" must be from"},
      {"500", R"({"kind":"event","time":2147483648})", "\"time\" must be from"},
      // The parser would end the line at a NUL byte and keep the last of equal keys.
      {"500", R"({"kind":"progress","id":"c","name":"c"})" + std::string(1, '\0') +
                  R"({"kind":"progress","id":"e","name":"e"})",
       "NUL byte at column 40"},
      {"500", R"({"kind":"progress","id":"c","name":"c","id":"e"})", "\"id\" is given twice"},
      {"500", R"({"kind":"progress","id":"c","name":"c","info":{"params":{"n":["1",)"
              R"({"text":"x","params":{"y":"z"},"text":"w"}]}}})",
       "\"info.params.n[1].text\" is given twice"},
      // Beyond a double, or long: the message quotes no more than a short excerpt.
      {"500", R"({"kind":"progress","id":"c","progress":)" + huge + "}", "number overflow"},
      {"500", R"({"kind":")" + huge + R"("})", "unknown kind"},
      // Refused by the log: inside a batch, and at a batch's start.
      {"500", R"({"kind":"progress","id":"c"})",
       "error 3101: Can't save operation without name\n"
       "stored before it: 0 env, 2 progress, 0 event records\n"},
      {"2", R"({"kind":"progress","id":"c"})", "error 3101: Can't save"},
      {"1", R"({"kind":"event","info":{"text":"without its source"}})", "error 3101: "},
  };
  for (const auto& [batch, line, complaint] : cases) {
    const std::string url = freshDatabaseUrl(GetParam());
    const ToolRun r = jrxOn(url, {"import", "--batch", batch},
                            R"({"kind":"progress","id":"a","name":"a"}
{"kind":"progress","id":"b","name":"b"}
)" + line + "\n" + R"({"kind":"progress","id":"d","name":"d"})");
    expectCase({{line}, 1, {"line 3: ", complaint}}, r);
    EXPECT_LT(r.err.size(), 300u);
    EXPECT_EQ(idsOf(jrxOn(url, {"ops", "--json"}).out), (Strings{"a", "b"}));
    EXPECT_EQ(jrxOn(url, {"events", "--json"}).out, "");
  }
}

// The edges of the 32-bit times the log keeps are kept exactly (beyond them, times are refused
// wherever they are given: ToolDefaults). What the service ignored is not counted as imported.
TEST_P(ToolCommands, ImportCountsWhatTheLogKeptAtTheEdgesOfItsTimes) {
  const std::string source = R"("info":{"params":{"source_env":{"params":{"eid":")" +
                             std::string(kNode) + R"("}}}})";
  const auto event = [&](char n, const std::string& more) {
    return R"({"kind":"event","guid":"3f1e0d2c-0000-4000-8000-00000000000)" + std::string(1, n) +
           R"(",)" + more + source + "}\n";
  };
  const std::string first = event('1', R"("time":2147483647,)") +
                            R"({"kind":"progress","id":"early","name":"n","time":-2147483647})" "\n";
  ASSERT_EQ(jrx({"import"}, first).out, "imported 0 env, 1 progress, 1 event records\n");
  // A sender's repeated delivery, a new event, and a failed login the log does not keep.
  const std::string again =
      event('1', R"("time":5,)") + event('2', "") +
      event('3', R"("type":"audit","audit":{"session":"s","address":"::1","kind":4},)");
  EXPECT_EQ(jrx({"import"}, again).out,
            "imported 0 env, 0 progress, 1 event records; not stored: 1 event records whose "
            "GUID was stored already, 1 audit events the log's rules drop\n");
  const std::string events = jrx({"events", "--json", "--to", "2147483647"}).out;
  EXPECT_EQ(idsOf(events), (Strings{"3f1e0d2c-0000-4000-8000-000000000001",
                                    "3f1e0d2c-0000-4000-8000-000000000002"}));
  EXPECT_NE(events.find(R"("time":2147483647,)"), std::string::npos) << events;
  EXPECT_NE(jrx({"ops", "--json", "--from", "-2147483648"}).out.find(R"("time":-2147483647,)"),
            std::string::npos);
}

// At 1 % a second, 50 % done now: ends in 50 seconds, in the listings of running operations
// (JSON, table and watch) only; import refuses an estimate that is not a time.
TEST_P(ToolCommands, RunningOperationsShowTheirEstimatedEnd) {
  const long now = static_cast<long>(std::time(nullptr));
  const auto report = [](const std::string& id, int progress, long time) {
    return R"({"kind":"progress","id":")" + id + R"(","name":"vm.)" + id + R"(","progress":)" +
           std::to_string(progress) + R"(,"time":)" + std::to_string(time) +
           R"(,"info":{"text":"at )" + std::to_string(progress) + "\"}}\n";
  };
  ASSERT_EQ(jrx({"import"}, report("copy", 0, now - 50) + report("copy", 50, now) +
                                report("idle", 0, now)).status, 0);
  // No pace, and no run of its name ended: no estimate.
  const ToolRun listed = jrx({"ops", "--active", "--json", "--no-envs"});
  Strings etas;
  for (const std::string& line : listed.lines())
    etas.push_back(json::parse(line).at("id").get<std::string>() + " " +
                   json::parse(line).value("eta", json("none")).dump());
  EXPECT_EQ(sorted(etas), (Strings{"copy " + std::to_string(now + 50),
                                   "copy " + std::to_string(now + 50), "idle null"}));
  EXPECT_EQ(jrx({"ops", "--json"}).out.find("\"eta\""), std::string::npos);
  for (const Strings& args : {Strings{"ops", "--active"}, Strings{"watch", "--count", "1"}})
    expectCase({args, 0, {"ETA", "in "}}, jrx(args));
  // The estimate is not stored: a wrong one is refused.
  expectCase({{"import"}, 1, {"eta"}},
             jrx({"import"}, R"({"kind":"progress","id":"x","name":"n","eta":"soon"})"));
}

// One log, the commands in order: each case sees what the ones before it did.
TEST_P(ToolCommands, CommandsSayWhatTheyDid) {
  ASSERT_EQ(jrx({"import"}, kSample).status, 0);
  const std::string vm1 = kVm1, vm2 = kVm2, event = "3f1e0d2c-0000-4000-8000-000000000004";
  const std::string acl = writeTempFile(R"({"clients": {"writer": {")" + vm1 + R"(": [55]}}})");
  const Strings demo = {"demo", "--seed", "7", "--size", "16", "--time", "1701000000"};
  const auto on = [](const std::string& vm) { return "\"operands\":[\"" + vm + "\"]}"; };
  const Case cases[] = {
      // Tables: texts with their parameters, operands by title, no terminal codes.
      {{"ops"}, 0, {"PARENT", "Starting web-1", "running", "50%", "failed", "db-1", "!\x1b"}},
      {{"events"}, 0, {kNode, "web-1 is up", "!session s-9"}},
      {{"events", "--with-data"}, 0, {"session s-9, address 2001:db8::1, kind 0, detail login"}},
      {{"unfinished", "--eid", kLocal, "--json"}, 0,
       {R"({"ids":["req-2"],"lastTime":1701000100})"}},
      {{"unfinished", "--eid", "5e5e5e5e-0000-4000-8000-000000000005"}, 0,
       {"a/b c\n1 unfinished operation on behalf of"}},
      {{"save-progress", R"({"id":"q"})"}, 1, {"error 3101: Can't save operation without name\n"}},
      {{"save-progress", R"({"kind":"event","id":"q"})"}, 1, {"a record of kind \"progress\""}},
      {{"import", "/nonexistent/a.jsonl"}, 1, {"cannot open /nonexistent/a.jsonl"}},
      {{"save-event", R"({"guid":")" + event + R"(","time":1701000004,"info":{"params":{)"
                      R"("source_env":{"params":{"eid":")" + kNode + R"(","type":"node"}}}}})"},
       0, {"saved event " + event}},
      // The other node is not among the management system's environments, so its operation
      // counts as the local node's too.
      {{"finish"}, 0, {"closed 2 unfinished operations as canceled by restart\n"}},
      {{"finish"}, 0, {"closed 0 unfinished operations"}},
      {{"ops", "--id", "req-2", "--json"}, 0, {R"("status":4)", "was canceled by restart"}},
      {{"--acl", acl, "--client", "nobody", "events"}, 1, {"error 414: access denied\n"}},
      {{"--acl", acl, "--client", "writer", "ops", "--eid", vm1}, 1, {"error 414: access denied\n"}},
      {{"--acl", acl, "--client", "writer", "save-progress", R"({"id":"r","name":"n",)" + on(vm2)},
       1, {"error 414: "}},
      {{"--acl", acl, "--client", "writer", "save-progress", R"({"id":"old","name":"n","time":9,)" +
        on(vm1)}, 0, {"saved progress of operation old"}},
      {{"--acl", "/nonexistent/acl.json", "--client", "x", "ops"}, 1, {"cannot be read"}},
      // An old operation still running survives compaction.
      {{"compact", "ops", "--age", "1d", "--no-sweep"}, 0,
       {"removed 4 ended operations recorded 86400 seconds ago or earlier; 1 remain\n",
        "(not swept)", "!op_log_data"}},
      {{"ops", "--json"}, 0, {R"({"kind":"progress","id":"old")"}},
      // The sweep after it takes away what the operations removed above left.
      {{"compact", "events", "--keep", "5"}, 0,
       {"removed 0 events; 4 remain\n", "op_log_data: ", "op_log_env: "}},
      {{"compact", "events", "--keep", "1"}, 0, {"removed 3 events; 1 remain\n"}},
      {{"events", "--json"}, 0, {event}},
      // In batches of one row, then the sweep: the event's links and audit row go with it.
      {{"compact", "events", "--keep", "0", "--batch", "1"}, 0,
       {"removed 1 event; 0 remain\n", "at most 1 rows:\n", "  events_log: 1\n",
        "  events_log_env: 1\n"}},
      {{"compact", "ops", "--age", "0"}, 0, {"removed 0 ended operations", "!op_log_data"}},
      {{"compact", "--vacuum"}, 0, {"!error"}},
      {{"init"}, 0, {std::string(kLocal) + "\nlayout version 2, up to date\n"}},
      // The simulated agent's start closes what was left running; what it does is the seed's.
      // Off a terminal, watch prints one plain table per refresh.
      {demo, 0, {"closed 1 operation left running", "environments: 3 nodes, 10 VMs",
                 "operations: 10 done, 4 failed, 2 still running; 82 progress reports",
                 "events: 42 sent", "!(, ", "Newest operations", "Newest events"}},
      {{"watch", "--count", "2", "--interval", "0.05"}, 0,
       {"2 unfinished operations", "!\x1b", "![#", "![-"}},
  };
  const std::string dir = makeTempDir();
  for (const Case& c : cases)
    expectCase(c, runJrxlog(c.args, "", dir, {{"JRXLOG_DB", url_}, {"JRXLOG_LOCAL_EID", kLocal}}));
}

INSTANTIATE_TEST_SUITE_P(Db, ToolCommands, ::testing::ValuesIn(backends()), BackendName());

// Each mistake named, with the help that shows the right use; nothing opened or created.
TEST(ToolDefaults, HelpAndCommandLineMistakes) {
  const std::string dir = makeTempDir();
  const Case cases[] = {
      {{"--help"}, 0, {"init", "demo", "import", "save-progress", "save-event", "unfinished",
                       "finish", "compact", "watch", "serve", "--local-eid", "--acl", "MYSQL_PWD"}},
      {{"ops", "--help"}, 0, {"--first-only", "--active", "--from", "!--operand", "!--keep"}},
      // The help, the manual page and the completion are made from the parser's declarations.
      {{"import", "--help"}, 0, {"  --batch N                 progress records saved per call "
                                 "(1 to 1000000, default 500)\n"}},
      {{"help", "--man"}, 0, {".SS \"jrxlog compact ops\"\n", "\\-\\-no\\-sweep", "(1 to 1000000"}},
      {{"completion", "bash"}, 0, {"'compact ops') words='", "--no-sweep"}},
      {{"--version"}, 0, {"jrxlog 1."}},
      {{}, 2, {"a command is required"}},
      {{"ops", "--limit", "ten"}, 2, {"--limit", "got 'ten'", "jrxlog ops --help"}},
      {{"ops", "--eid", "123"}, 2, {"--eid: not a GUID"}},
      {{"unfinished"}, 2, {"--eid is required"}},
      {{"compact", "logs"}, 2, {"not expected: logs"}},
      {{"import", "a", "b"}, 2, {"not expected: b"}},
      {{"copy"}, 2, {"--to is required"}},
      {{"--local-eid", "nope", "init"}, 2, {"--local-eid"}},
      {{"watch", "--interval", "0"}, 2, {"--interval"}},
      {{"completion", "zsh"}, 2, {"bash only"}},
      {{"serve", "--listen", "127.0.0.1"}, 2, {"--listen", "jrxlog serve --help"}},
      {{"serve", "--token-file", writeTempFile("two words\n")}, 2, {"--token-file"}},
      // Times beyond the 32 bits the log keeps would wrap to other times.
      {{"ops", "--to", "4294967496"}, 2, {"--to", "'4294967496' is outside the times"}},
      {{"ops", "--to", "2200-01-01"}, 2, {"--to", "outside the times"}},
      {{"events", "--from", "-2147483649"}, 2, {"--from", "outside the times"}},
      {{"unfinished", "--eid", kLocal, "--since", "2147483648"}, 2, {"--since", "outside"}},
      {{"--db", "", "ops"}, 2, {"--db: the database URL is empty"}},
      {{"--db", "bogus:x", "ops"}, 1, {"error 3101: database URL 'bogus:x' has an unknown scheme"}},
      {{"--db", "sqlite:/nonexistent/a.db", "ops"}, 1, {"cannot open SQLite database"}},
      {{"--db", "mysql://root@localhost/x?socket=/nonexistent.sock", "ops"}, 1, {"error 3101: "}},
  };
  for (const Case& c : cases) expectCase(c, runJrxlog(c.args, "", dir));
  expectCase({{"ops"}, 2, {"JRXLOG_DB is set but empty"}},
             runJrxlog({"ops"}, "", dir, {{"JRXLOG_DB", ""}}));
  const std::string db = dir + "/jrxlog.db";
  EXPECT_NE(access(db.c_str(), F_OK), 0);
  // The README's first command: the demo on the default database in the current folder.
  expectCase({{"demo"}, 0, {"closed 0 operations left running", "Newest events"}},
             runJrxlog({"demo"}, "", dir));
  EXPECT_EQ(access(db.c_str(), F_OK), 0);
}

// A table's cells are single lines: no control character of a text reaches the terminal.
TEST(ToolDefaults, TableCellsHoldNoControlCharacters) {
  jrxlog::Table table({{"TEXT"}});
  table.addRow({"red\x1b[31m\nnext\tcell\x7f"});
  std::ostringstream out;
  table.print(out, 0, false);
  EXPECT_EQ(out.str(), "TEXT\nred [31m next cell\n");
}

// Every part of an information record is read and written back as it was.
TEST(ToolDefaults, InfoRecordsReadBackAsWritten) {
  const std::string info = R"({"text":"t","id":"i-1","flag":false,"params":{"a":["1",)"
                           R"({"text":"x","id":"y"}],"b":"2"}})";
  EXPECT_EQ(jrxlog::infoToJson(jrxlog::infoFromJson(info)), info);
}

// The library's own records stay out of the operator's way unless asked for, and then come whole.
TEST(ToolDefaults, LibraryRecordsOnlyWhereAsked) {
  const std::string dir = makeTempDir(), file = dir + "/lib.log";
  const std::string record = "JRXLogDBLocal [1] plugins/JRXLogDB/JRXLogDBLocal:73 logAudit: ";
  // An audit event without its payload is stored, and the library says so in a record.
  const auto run = [&](Strings args, const Vars& vars = {}) {
    args.insert(args.begin(), {"--db", "sqlite:" + dir + "/q.db"});
    return runJrxlog(args, R"({"kind":"event","type":"audit","info":{"params":{"source_env":)"
                           R"({"params":{"eid":")" + std::string(kNode) + R"("}}}}})", "", vars);
  };
  EXPECT_EQ(run({"import"}).err, "");
  EXPECT_NE(run({"--verbose", "import"}).err.find(record), std::string::npos);
  EXPECT_EQ(run({"--log-file", file, "import"}).err, "");
  EXPECT_NE(readFile(file).find(record), std::string::npos) << readFile(file);
  EXPECT_EQ(run({"import"}, {{"JRXLOG_LOG_FILE", dir + "/env.log"}}).err, "");
  EXPECT_NE(readFile(dir + "/env.log").find(record), std::string::npos);
  EXPECT_NE(run({"--log-file", dir + "/none/lib.log", "init"}).err.find(
                "cannot open the log file " + dir + "/none/lib.log"), std::string::npos);
}

// A whole number's range is enforced as the help shows it, at both ends.
TEST(ToolCommandLine, TheRangeShownIsTheRangeEnforced) {
  CLI::Validator range = jrxlog::wholeNumber(-5, 1000000);
  EXPECT_EQ(range.get_description(), "-5 to 1000000");
  for (std::string inside : {"-5", "1000000", "0"}) EXPECT_EQ(range(inside), "") << inside;
  for (std::string outside : {"-6", "1000001", "1e3", "", "99999999999999999999"})
    EXPECT_NE(range(outside), "") << outside;
}

// Times, durations and their units as the help describes them; anything else is refused.
TEST(ToolCommandLine, TimesAndDurationsMeanWhatTheHelpSays) {
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  for (const auto& [text, at] : {std::pair("-2h", now - 7200), {"+1d", now + 86400}, {"now", now}})
    EXPECT_NEAR(jrxlog::parseTime("from", text), at, 60) << text;
  for (const auto& [text, at] :
       {std::pair("2023-11-26 22:40:00Z", 1701038400), {"2023-11-26T22:40Z", 1701038400},
        {"1701038400", 1701038400}, {"2023-11-26Z", 1700956800}, {"-5", -5}})
    EXPECT_EQ(jrxlog::parseTime("from", text), at) << text;
  for (const char* wrong : {"2023-13-01", "2023-11-26 24:00", "2023-11-26 22:40x", "2h", "-2w", ""})
    EXPECT_THROW(jrxlog::parseTime("from", wrong), jrxlog::UsageError) << wrong;
  for (const auto& [text, seconds] : {std::pair("90", 90), {"3m", 180}, {"2d", 172800}})
    EXPECT_EQ(jrxlog::parseDuration("age", text), seconds) << text;
  for (const char* wrong : {"-1", "1w", "s", "99999999999d"})
    EXPECT_THROW(jrxlog::parseDuration("age", wrong), jrxlog::UsageError) << wrong;
}

}  // namespace
}  // namespace jrxtest
