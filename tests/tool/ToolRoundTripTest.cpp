// The whole log carried to a database of either kind: by copy, the same rows with the same
// ids, and a copy that goes on working as a log; through what the listings print with --json,
// read back by import, the same records under new ids. Texts of any bytes included.
#include <algorithm>
#include <nlohmann/json.hpp>
#include <random>

#include "HostileTexts.h"
#include "JRXLogDBLocal.h"
#include "LogRows.h"
#include "store/LogLayout.h"
#include "ToolFixture.h"

namespace jrxtest {
namespace {

using nlohmann::json;

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

// A JSON string that import reads back as exactly these bytes: every byte beyond ASCII by the
// listings' escape (U+FDD0 and two hex digits), which stands for any byte.
std::string jsonText(const std::string& bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    char escaped[12];
    std::snprintf(escaped, sizeof escaped, c >= 0x80 ? "\\ufdd0%02x" : "\\u%04x", c);
    out += c >= 0x20 && c < 0x80 && c != '"' && c != '\\' ? std::string(1, c) : escaped;
  }
  return out + "\"";
}

std::string guidOf(int n) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "5a5a5a5a-0000-4000-8000-%012d", n);
  return buf;
}

// Environments, operations (several reports each, some on behalf of an executing
// environment, some unfinished) and events with audit payloads, every text random.
std::string randomRecords(std::mt19937& rng) {
  // A JSON string of random bytes, then `suffix`.
  auto any = [&](const std::string& suffix = "") { return jsonText(hostileText(rng, 7) + suffix); };
  auto info = [&](const std::string& text, int source) {
    return R"({"text":)" + text + R"(,"params":{)" + any("p") + ":" + any() +
           R"(,"source_env":{"params":{"eid":")" + guidOf(source % 4) + R"("}}}})";
  };
  std::string in;
  for (int n = 0; n < 4; ++n)
    in += R"({"kind":"env","eid":")" + guidOf(n) + R"(","type":"vm","title":)" +
          any("#" + std::to_string(n)) + "}\n";
  for (int i = 0; i < 12; ++i) {
    const std::string id = any("#" + std::to_string(i));
    const std::string eid = i % 3 ? R"(,"eid":")" + guidOf(rng() % 4) + "\"" : "";
    in += R"({"kind":"progress","id":)" + id + R"(,"name":)" + any("n") + R"(,"parentId":)" +
          any() + R"(,"sessionId":)" + any() + eid + R"(,"time":)" +
          std::to_string(1701000000 + i % 4) + R"(,"operands":[")" + guidOf(i % 4) +
          R"("],"info":)" + info(any(), i) + "}\n";
    for (int k = 1; k <= static_cast<int>(rng() % 3); ++k)
      in += R"({"kind":"progress","id":)" + id + R"(,"status":)" + (k == 2 ? "3" : "2") +
            R"(,"progress":)" + std::to_string(30 * k) + R"(,"time":)" +
            std::to_string(1701000010 + k) + R"(,"info":)" + info(any(std::to_string(k)), i) +
            "}\n";
  }
  for (int i = 0; i < 12; ++i)
    in += R"({"kind":"event","guid":")" + guidOf(100 + i) + R"(","time":)" +
          std::to_string(1701000000 + i % 3) + R"(,"category":)" + any() + R"(,"type":)" + any() +
          R"(,"code":)" + std::to_string(i) + R"(,"sid":"00ff27","info":)" + info(any(), i) +
          R"(,"audit":{"session":)" + any() + R"(,"address":"2001:db8::7","detail":)" + any() +
          R"(,"kind":1}})" + "\n";
  return in;
}

// The whole log through the listings, in parts joined by a cursor file.
std::string dumpLog(const std::string& url) {
  const std::string dir = makeTempDir();
  std::string out;
  for (const char* listing : {"ops", "events"})
    for (;;) {
      Strings args = {listing, "--json", "--cursor-file", dir + "/" + listing, "--limit", "500"};
      if (args[0] == "events") args.push_back("--envs");
      const ToolRun r = jrxOn(url, args);
      EXPECT_EQ(r.status, 0) << r.err;
      if (r.out.empty() || r.status != 0) break;
      out += r.out;
    }
  return out;
}

std::vector<std::string> directions() {
  std::vector<std::string> out;
  for (const std::string& from : backends())
    for (const std::string& to : backends()) out.push_back(from + "_" + to);
  return out;
}

class ToolRoundTrip : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    const std::string& p = GetParam();
    source = freshDatabaseUrl(p.substr(0, p.find('_')));
    target = freshDatabaseUrl(targetKind());
  }
  std::string targetKind() const { return GetParam().substr(GetParam().find('_') + 1); }

  std::string source, target;
};

TEST_P(ToolRoundTrip, CopyAndListingsCarryTheWholeLog) {
  const unsigned seed = randomSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  // The demo's agent at work, and records whose texts are anything but plain.
  ASSERT_EQ(jrxOn(source, {"demo", "--seed", "5", "--size", "4", "--time", "1701000000"}).status, 0);
  const ToolRun imported = jrxOn(source, {"import"}, randomRecords(rng));
  ASSERT_EQ(imported.status, 0) << imported.err;

  const ToolRun copy = jrxOn(source, {"copy", "--to", target, "--batch", "7"});
  ASSERT_EQ(copy.status, 0) << copy.out << copy.err;
  // The log's tables and the framework's two.
  EXPECT_EQ(std::make_pair(count(copy.out, " ok\n"), count(copy.out, "MISMATCH")),
            std::make_pair(JRX::logTables().size() + 2, size_t{0})) << copy.out;
  const Lines rows = logRowsOf(source);
  EXPECT_EQ(logRowsOf(target), rows);
  for (const std::string table : {"op_log_task", "op_log_env", "events_log_env",
                                  "events_log_resource", "events_log_audit"})
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(),
                            [&](const std::string& r) { return r.rfind(table + ": ", 0) == 0; }))
        << table << " has no rows to copy";
  // The local environment made at creation came along.
  EXPECT_EQ(runJrxlog({"--db", target, "init"}).out, runJrxlog({"--db", source, "init"}).out);

  const std::string dump = dumpLog(source);
  for (const std::string& line : ToolRun{0, dump, ""}.lines())
    EXPECT_NO_THROW(json::parse(line)) << line;  // strict UTF-8 JSON, every line
  // Well-formed UTF-8 is printed as it is; the escape is only where bytes need it.
  EXPECT_NE(dump.find("\xc3\xa9"), std::string::npos);
  EXPECT_NE(dump.find("\xef\xb7\x90" "ff"), std::string::npos);
  const std::string readBack = freshDatabaseUrl(targetKind());
  const ToolRun back = jrxOn(readBack, {"import"}, dump);
  ASSERT_EQ(back.status, 0) << back.err;
  // The same records; ties of time may list in another order, their keys being new.
  const Strings again = ToolRun{0, dumpLog(readBack), ""}.lines();
  EXPECT_EQ(sorted(again), sorted(ToolRun{0, dump, ""}.lines()));

  // The copy is a log; as it holds rows, it is no target, and is left as it was.
  const std::string src = R"("source_env":{"params":{"eid":")" + std::string(kNode) + "\"}}";
  ASSERT_EQ(jrxOn(target, {"import"}, R"({"kind":"progress","id":"after-copy","name":"vm.start"})"
                                      "\n" R"({"kind":"event","info":{"params":{)" + src + "}}}")
                .status, 0);
  const Lines after = logRowsOf(target);
  const ToolRun refused = jrxOn(source, {"copy", "--to", target});
  EXPECT_TRUE(refused.status == 1 && refused.err.find("not empty (rows in ") != std::string::npos &&
              refused.err.find(" op_log,") != std::string::npos) << refused.err;
  EXPECT_EQ(logRowsOf(target), after);
  // A database that only knows its local environment is no empty target either: its own
  // would clash with the copied one.
  const std::string initialised = freshDatabaseUrl(targetKind());
  ASSERT_EQ(runJrxlog({"--db", initialised, "init"}).status, 0);
  const ToolRun clash = jrxOn(source, {"copy", "--to", initialised});
  EXPECT_TRUE(clash.status == 1 && clash.err.find("jrx_config") != std::string::npos) << clash.err;
}

INSTANTIATE_TEST_SUITE_P(Db, ToolRoundTrip, ::testing::ValuesIn(directions()), BackendName());

}  // namespace
}  // namespace jrxtest
