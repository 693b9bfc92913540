// Reading the log as operators do, on both databases: cursors continue a listing (on the
// command line and in a cursor file) without skipping or repeating a record; followers print
// every stored record once.
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "JRXLogDBLocal.h"
#include "JRXRdbms.h"
#include "ToolFixture.h"

namespace jrxtest {
namespace {

using nlohmann::json;

class ToolReading : public ToolDb {};

std::string guidOf(int n) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "3f1e0d2c-0000-4000-8000-%012d", n);
  return buf;
}

// Events in three seconds, most in one, and operations beyond a listing's default.
int busySecond(int event) { return event % 5 == 0 ? event % 3 : 1; }

std::string busyLog() {
  std::string in;
  for (int i = 0; i < 2500; ++i)
    in += R"({"kind":"event","guid":")" + guidOf(i) + R"(","time":)" +
          std::to_string(1701000000 + busySecond(i)) +
          R"(,"info":{"params":{"source_env":{"params":{"eid":")" + kNode + R"("}}}}})" + "\n";
  for (int i = 0; i < 1400; ++i)
    in += R"({"kind":"progress","id":"op-)" + std::to_string(i) + R"(","name":"n","time":)" +
          std::to_string(1701000000 + i % 2) + "}\n";
  return in;
}

TEST_P(ToolReading, CursorsContinueListingsExactly) {
  ASSERT_EQ(jrx({"import", "--batch", "1000"}, busyLog()).status, 0);
  // Read in parts that meet inside a second, the whole listing is the one answer: every
  // event once, newest first, the last recorded first within a second.
  const std::string whole = jrx({"events", "--json", "--limit", "100000"}).out;
  Strings newestFirst;
  for (int second : {2, 1, 0})
    for (int i = 2499; i >= 0; --i)
      if (busySecond(i) == second) newestFirst.push_back(guidOf(i));
  ASSERT_EQ(idsOf(whole), newestFirst);
  EXPECT_EQ(jrx({"events"}).lines().size(), 2501u);  // and a table row each

  // --after: each part ends with its cursor, the next goes on after it.
  std::string joined, cursor;
  for (int part = 0;; ++part) {
    Strings args = {"events", "--json", "--limit", "333", "--show-cursor"};
    if (part > 0) args.insert(args.end(), {"--after", cursor});
    const ToolRun r = jrx(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const Strings lines = r.lines();
    ASSERT_FALSE(lines.empty());
    const json last = json::parse(lines.back());
    ASSERT_EQ(last["kind"], "cursor");
    if (lines.size() == 1) {
      EXPECT_EQ(last["cursor"], cursor);  // nothing more: the cursor stays
      break;
    }
    cursor = last["cursor"];
    joined += r.out.substr(0, r.out.size() - lines.back().size() - 1);
  }
  EXPECT_EQ(joined, whole);

  // A cursor file, oldest operations first at the default part of 1000: every report once.
  const std::string file = makeTempDir() + "/ops.cursor";
  Strings ids;
  for (int part = 0; part < 5; ++part) {
    const ToolRun r = jrx({"ops", "--json", "--no-envs", "--cursor-file", file});
    ASSERT_EQ(r.status, 0) << r.err;
    const Strings got = idsOf(r.out);
    ids.insert(ids.end(), got.begin(), got.end());
  }
  EXPECT_EQ(ids.size(), 1400u);
  EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), 1400u);
  std::string kept;
  std::getline(std::ifstream(file), kept);
  EXPECT_EQ(kept.rfind("ops:", 0), 0u) << kept;

  // A table ends with the cursor as text; a JSON listing with it goes through import.
  const ToolRun table = jrx({"events", "--limit", "2", "--show-cursor"});
  EXPECT_EQ(table.lines().back().rfind("-- cursor: events:", 0), 0u) << table.out;
  const std::string copy = freshDatabaseUrl(GetParam());
  EXPECT_EQ(jrxOn(copy, {"import"}, jrx({"events", "--json", "--limit", "3", "--show-cursor"}).out).out,
            "imported 0 env, 0 progress, 3 event records\n");

  // A cursor of another listing, or no cursor at all, is a usage error.
  const std::string other = jrx({"events", "--type", "x", "--show-cursor", "--json"}).lines().back();
  const std::string otherCursor = json::parse(other)["cursor"];
  const Strings refused[] = {
      {"events", "--after", otherCursor},
      {"ops", "--after", cursor},
      {"ops", "--limit", "5", "--after", kept},  // newest first: not the same listing
      {"events", "--after", "events:zz"},
      {"events", "--after", cursor + "9", "--cursor-file", file},
  };
  for (const Strings& args : refused) {
    const ToolRun r = jrx(args);
    EXPECT_EQ(r.status, 2) << args[2] << r.err;
    EXPECT_TRUE(r.out.empty());
    EXPECT_NE(r.err.find("cursor"), std::string::npos) << r.err;
  }
}

// An event of `source` typed `type`, as an agent in this process records it.
JRX::JRXEvent agentEvent(const std::string& type, const char* source) {
  JRX::JRXEvent e("agent");
  e.guid = JRX::JRXGUID::generate();
  e.time = 1701000100;
  e.type = type;
  JRX::JRXInfo ref;
  ref.addParameter("eid", source);
  ref.addParameter("type", "node");
  ref.addParameter("title", source);
  e.info.addParameter("source_env", ref);
  return e;
}

Strings typesOf(const std::string& jsonLines) {
  Strings types;
  for (const std::string& line : ToolRun{0, jsonLines, ""}.lines()) {
    const json j = json::parse(line);
    if (j["kind"] == "event") types.push_back(j["type"]);
    if (j["kind"] == "progress") types.push_back(j["id"].get<std::string>() + "/" +
                                                 std::to_string(j["progress"].get<int>()));
  }
  return types;
}

// A follower prints the listing, then every event as it is stored, once, also when a writer
// commits a key after a later one was read (MariaDB; SQLite writers take turns); stopped, it
// keeps its cursor, and one restarted from it goes on without gap or repeat. A follower of
// operations prints each report once as it is stored: of new operations and of operations
// the listing showed.
TEST_P(ToolReading, FollowersPrintEveryStoredRecordOnce) {
  auto report = [](const std::string& id, int progress) {
    return R"({"kind":"progress","id":")" + id + R"(","name":"n","status":)" +
           (progress ? "2" : "1") + R"(,"progress":)" + std::to_string(progress) +
           R"(,"time":1701000000,"info":{"text":"at )" + std::to_string(progress) + "\"}}\n";
  };
  std::string in = report("a", 0) + report("b", 0);
  for (int i = 0; i < 3; ++i)
    in += R"({"kind":"event","type":"old-)" + std::to_string(i) +
          R"(","info":{"params":{"source_env":{"params":{"eid":")" + kNode + R"("}}}}})" + "\n";
  ASSERT_EQ(jrx({"import"}, in).status, 0);
  const std::string file = makeTempDir() + "/events.cursor";
  BackgroundRun follower(url_, {"events", "--json", "--follow", "--cursor-file", file});
  BackgroundRun opsFollower(url_, {"ops", "--json", "--no-envs", "-f", "--limit", "5"});
  ASSERT_TRUE(follower.waitForLines(3)) << follower.out();
  ASSERT_TRUE(opsFollower.waitForLines(2)) << opsFollower.out();
  ASSERT_EQ(jrx({"import"}, report("a", 10) + report("c", 0) + report("b", 20)).status, 0);
  EXPECT_TRUE(opsFollower.waitForLines(5)) << opsFollower.out();
  EXPECT_EQ(opsFollower.stop(), 0);
  EXPECT_EQ(typesOf(opsFollower.out()), (Strings{"b/0", "a/0", "a/10", "c/0", "b/20"}));

  JRX::JRXDatabase::open(url_);
  JRX::JRXEventLogLocal events(nullptr);
  ASSERT_EQ(events.saveEvent(agentEvent("first", kVm1)), 0);
  ASSERT_TRUE(follower.waitForLines(4)) << follower.out();
  if (GetParam() == "mariadb") {
    std::promise<void> held, go;
    std::future<void> release = go.get_future();
    std::thread late([&] {
      JRX::JRXRdbmsTran open;  // the writer's key is taken, its row not yet shown
      JRX::JRXEventLogLocal writer(nullptr);
      EXPECT_EQ(writer.saveEvent(agentEvent("late", kVm2)), 0);
      held.set_value();
      release.wait();
      open.commit();
    });
    held.get_future().wait();
    EXPECT_EQ(events.saveEvent(agentEvent("early", kVm1)), 0);
    EXPECT_TRUE(follower.waitForLines(5)) << follower.out();
    go.set_value();
    late.join();
  } else {
    ASSERT_EQ(events.saveEvent(agentEvent("early", kVm1)), 0);
    ASSERT_EQ(events.saveEvent(agentEvent("late", kVm2)), 0);
  }
  EXPECT_TRUE(follower.waitForLines(6)) << follower.out();
  EXPECT_EQ(follower.stop(), 0);
  std::string kept;
  std::getline(std::ifstream(file), kept);
  EXPECT_EQ(kept.rfind("events~:", 0), 0u) << kept;

  ASSERT_EQ(events.saveEvent(agentEvent("after", kVm1)), 0);
  JRX::JRXDatabase::close();
  BackgroundRun again(url_, {"events", "--json", "--follow", "--cursor-file", file});
  EXPECT_TRUE(again.waitForLines(1)) << again.out();
  EXPECT_EQ(again.stop(), 0);
  EXPECT_EQ(typesOf(follower.out() + again.out()),
            (Strings{"old-2", "old-1", "old-0", "first", "early", "late", "after"}));

  // Not a follower's cursor without --follow, nor another listing's; no follower of first
  // reports only.
  EXPECT_EQ(jrx({"events", "--cursor-file", file}).status, 2);
  EXPECT_EQ(jrx({"events", "--type", "x", "--follow", "--cursor-file", file}).status, 2);
  EXPECT_EQ(jrx({"ops", "--follow", "--first-only"}).status, 2);
}

INSTANTIATE_TEST_SUITE_P(Db, ToolReading, ::testing::ValuesIn(backends()), BackendName());

}  // namespace
}  // namespace jrxtest
