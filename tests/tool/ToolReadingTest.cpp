// Reading the log as operators do, on both databases: what the listings print with --json
// goes back by import into a fresh log that holds the same rows, texts of any bytes included;
// cursors continue a listing (on the command line and in a cursor file)
// without skipping or repeating a record; followers print every stored record once.
#include <algorithm>
#include <fstream>
#include <future>
#include <iterator>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <thread>

#include "HostileTexts.h"
#include "JRXLogDBLocal.h"
#include "LogRows.h"
#include "ASHex.h"
#include "ToolFixture.h"

namespace jrxtest {
namespace {

using nlohmann::json;

class ToolReading : public ToolDb {};

// ---------------------------------------------------------------- the rows of a log

// Every row of both logs, each generated key replaced by what names its row in any copy
// (an operation by its request id, a report by its operation and rank, an environment row by
// its identifier and title, an event by its GUID).
std::multiset<std::string> logRows(const std::string& url) {
  JRX::JRXDatabase::open(url);
  using namespace JRX;
  op_log o;
  op_log_data d;
  op_log_env ol;
  op_log_task t;
  env_log e;
  events_log v;
  events_log_env vl;
  events_log_resource r;
  events_log_status s;
  events_log_audit a;
  std::multiset<std::string> all;
  auto add = [&](const char* name, const Lines& rows) {
    for (const std::string& row : rows) all.insert(std::string(name) + ": " + row);
  };
  add("op", rowsOf({&o}, {&o->op, &o->id, &o->parent_id, &o->time, &o->status, &o->session_id}));
  // Reports by their rank within the operation.
  std::map<std::string, int> rank;
  for (Lines row : fieldsOf({&d, &o}, {&o->id, &d->data_id, &d->time, &d->progress, &d->status,
                                       &d->info},
                            d->op_id == o->op_id)) {
    row[1] = std::to_string(rank[row[0]]++);
    all.insert("report: " + joined(row));
  }
  add("op link", rowsOf({&ol, &o, &e}, {&o->id, &ol->role, &ol->is_default, &e->eid, &e->title},
                        ol->op_id == o->op_id && ol->env_id == e->id));
  add("task", rowsOf({&t, &o}, {&o->id, &t->task_id}, t->op_id == o->op_id));
  add("env", rowsOf({&e}, {&e->eid, &e->title, &e->type}));
  add("event", rowsOf({&v}, {&v->guid, &v->code, &v->time, &v->category, &v->type, &v->sid,
                             &v->info_bin, &v->info, &v->data}));
  add("event link", rowsOf({&vl, &v, &e}, {&v->guid, &vl->role, &e->eid, &e->title},
                           vl->event_id == v->event_id && vl->env_id == e->id));
  add("resource", rowsOf({&r, &v}, {&v->guid, &r->resource_id, &r->resource_type},
                         r->event_id == v->event_id));
  add("status", rowsOf({&s, &v},
                       {&v->guid, &s->old_status, &s->old_transition, &s->new_status,
                        &s->new_transition},
                       s->event_id == v->event_id));
  add("audit", rowsOf({&a, &v},
                      {&v->guid, &a->session_id, &a->address, &a->address_bin, &a->detail},
                      a->event_id == v->event_id));
  JRX::JRXDatabase::close();
  return all;
}

// Names the rows that only one of the logs holds.
void expectSameRows(const std::multiset<std::string>& original,
                    const std::multiset<std::string>& copy) {
  std::vector<std::string> lost, added;
  std::set_difference(original.begin(), original.end(), copy.begin(), copy.end(),
                      std::back_inserter(lost));
  std::set_difference(copy.begin(), copy.end(), original.begin(), original.end(),
                      std::back_inserter(added));
  EXPECT_EQ(lost, std::vector<std::string>{});
  EXPECT_EQ(added, std::vector<std::string>{});
}

// ---------------------------------------------------------------- texts of any bytes

std::string randomText(std::mt19937& rng) { return hostileText(rng, 7); }

// A JSON string that import reads back as exactly these bytes: every byte beyond ASCII by the
// listings' escape (U+FDD0 and two hex digits), which stands for any byte.
std::string jsonText(const std::string& bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    if (c >= 0x80) {
      out += "\\ufdd0";
      ASAppendHex(out, &c, 1);
    } else if (c < 0x20 || c == '"' || c == '\\') {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string guidOf(int n, const char* first = "5a5a5a5a") {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%s-0000-4000-8000-%012d", first, n);
  return buf;
}

// Environments, operations (several reports each, some on behalf of an executing
// environment, some unfinished) and events with audit payloads, every text random.
std::string randomRecords(std::mt19937& rng) {
  std::string in;
  for (int n = 0; n < 4; ++n)
    in += R"({"kind":"env","eid":")" + guidOf(n) + R"(","type":)" + jsonText(randomText(rng) + "t") +
          R"(,"title":)" + jsonText(randomText(rng) + "#" + std::to_string(n)) + "}\n";
  auto info = [&](const std::string& text) {
    return R"({"text":)" + jsonText(text) + R"(,"params":{)" + jsonText(randomText(rng) + "p") +
           ":" + jsonText(randomText(rng)) + R"(,"source_env":{"params":{"eid":")" +
           guidOf(rng() % 4) + R"("}}}})";
  };
  for (int i = 0; i < 12; ++i) {
    const std::string id = jsonText(randomText(rng) + "#" + std::to_string(i));
    const std::string eid = i % 3 ? R"(,"eid":")" + guidOf(rng() % 4) + "\"" : "";
    in += R"({"kind":"progress","id":)" + id + R"(,"name":)" + jsonText(randomText(rng) + "n") +
          R"(,"parentId":)" + jsonText(randomText(rng)) + R"(,"sessionId":)" +
          jsonText(randomText(rng)) + eid + R"(,"time":)" + std::to_string(1701000000 + i % 4) +
          R"(,"operands":[")" + guidOf(rng() % 4) + R"("],"info":)" + info(randomText(rng)) +
          "}\n";
    for (int k = 1; k <= static_cast<int>(rng() % 3); ++k)
      in += R"({"kind":"progress","id":)" + id + R"(,"status":)" + (k == 2 ? "3" : "2") +
            R"(,"progress":)" + std::to_string(30 * k) + R"(,"time":)" +
            std::to_string(1701000010 + k) + R"(,"info":)" + info(randomText(rng) + std::to_string(k)) +
            "}\n";
  }
  for (int i = 0; i < 12; ++i)
    in += R"({"kind":"event","guid":")" + guidOf(100 + i) + R"(","time":)" +
          std::to_string(1701000000 + i % 3) + R"(,"category":)" + jsonText(randomText(rng)) +
          R"(,"type":)" + jsonText(randomText(rng)) + R"(,"code":)" + std::to_string(i) +
          R"(,"sid":"0a0b","info":)" + info(randomText(rng)) +
          R"(,"audit":{"session":)" + jsonText(randomText(rng)) +
          R"(,"address":"2001:db8::7","detail":)" + jsonText(randomText(rng)) + R"(,"kind":1}})" +
          "\n";
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

TEST_P(ToolReading, ListingsGoBackIntoTheSameLog) {
  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  ASSERT_EQ(jrx({"demo", "--seed", "7", "--size", "5", "--time", "1701000000"}).status, 0);
  const ToolRun imported = jrx({"import"}, randomRecords(rng));
  ASSERT_EQ(imported.status, 0) << imported.err;

  const std::string dump = dumpLog(url_);
  for (const std::string& line : ToolRun{0, dump, ""}.lines())
    EXPECT_NO_THROW(json::parse(line)) << line;  // strict UTF-8 JSON, every line
  // Well-formed UTF-8 is printed as it is; the escape is only where bytes need it.
  EXPECT_NE(dump.find("\xc3\xa9"), std::string::npos);
  EXPECT_NE(dump.find("\xef\xb7\x90" "ff"), std::string::npos);

  const std::string copy = freshDatabaseUrl(GetParam());
  const ToolRun back = jrxOn(copy, {"import"}, dump);
  ASSERT_EQ(back.status, 0) << back.err;
  const std::multiset<std::string> original = logRows(url_);
  EXPECT_GT(original.size(), 200u);
  expectSameRows(original, logRows(copy));
  // The same records; ties of time may list in another order, their keys being new.
  const Strings again = ToolRun{0, dumpLog(copy), ""}.lines(), first = ToolRun{0, dump, ""}.lines();
  EXPECT_EQ(std::multiset<std::string>(again.begin(), again.end()),
            std::multiset<std::string>(first.begin(), first.end()));
  // The same unfinished operations on behalf of each environment (in no particular order).
  auto unfinished = [&](const std::string& url, int n) {
    json answer = json::parse(jrxOn(url, {"unfinished", "--eid", guidOf(n), "--json"}).out);
    std::sort(answer["ids"].begin(), answer["ids"].end());
    return answer;
  };
  size_t found = 0;
  for (int n = 0; n < 4; ++n) {
    EXPECT_EQ(unfinished(copy, n), unfinished(url_, n)) << n;
    found += unfinished(url_, n)["ids"].size();
  }
  EXPECT_GT(found, 0u);
}

// Events in three seconds, most in one, and operations beyond a listing's default.
int busySecond(int event) { return event % 5 == 0 ? event % 3 : 1; }

std::string busyLog() {
  std::string in;
  for (int i = 0; i < 2500; ++i)
    in += R"({"kind":"event","guid":")" + guidOf(i, "3f1e0d2c") + R"(","time":)" +
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
      if (busySecond(i) == second) newestFirst.push_back(guidOf(i, "3f1e0d2c"));
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
// keeps its cursor, and one restarted from it goes on without gap or repeat.
TEST_P(ToolReading, FollowersPrintEveryStoredEventOnce) {
  std::string in;
  for (int i = 0; i < 3; ++i)
    in += R"({"kind":"event","type":"old-)" + std::to_string(i) +
          R"(","info":{"params":{"source_env":{"params":{"eid":")" + kNode + R"("}}}}})" + "\n";
  ASSERT_EQ(jrx({"import"}, in).status, 0);
  const std::string file = makeTempDir() + "/events.cursor";
  BackgroundRun follower(url_, {"events", "--json", "--follow", "--cursor-file", file});
  ASSERT_TRUE(follower.waitForLines(3)) << follower.out();

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

  // Not a follower's cursor without --follow, nor another listing's.
  EXPECT_EQ(jrx({"events", "--cursor-file", file}).status, 2);
  EXPECT_EQ(jrx({"events", "--type", "x", "--follow", "--cursor-file", file}).status, 2);
}

// A follower of operations prints each report once as it is stored: of new operations and of
// operations the listing showed.
TEST_P(ToolReading, FollowersPrintEveryStoredReportOnce) {
  auto report = [](const std::string& id, int progress) {
    return R"({"kind":"progress","id":")" + id + R"(","name":"n","status":)" +
           (progress ? "2" : "1") + R"(,"progress":)" + std::to_string(progress) +
           R"(,"time":1701000000,"info":{"text":"at )" + std::to_string(progress) + "\"}}\n";
  };
  ASSERT_EQ(jrx({"import"}, report("a", 0) + report("b", 0)).status, 0);
  BackgroundRun follower(url_, {"ops", "--json", "--no-envs", "-f", "--limit", "5"});
  ASSERT_TRUE(follower.waitForLines(2)) << follower.out();
  ASSERT_EQ(jrx({"import"}, report("a", 10) + report("c", 0) + report("b", 20)).status, 0);
  EXPECT_TRUE(follower.waitForLines(5)) << follower.out();
  EXPECT_EQ(follower.stop(), 0);
  EXPECT_EQ(typesOf(follower.out()), (Strings{"b/0", "a/0", "a/10", "c/0", "b/20"}));
  EXPECT_EQ(jrx({"ops", "--follow", "--first-only"}).status, 2);
}

INSTANTIATE_TEST_SUITE_P(Db, ToolReading, ::testing::ValuesIn(backends()), BackendName());

}  // namespace
}  // namespace jrxtest
