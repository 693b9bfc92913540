// jrxlog's other commands end to end: init, listings and their filters, unfinished, finish,
// compact, rights, demo and watch; and the command-line mistakes that exit with 2.
#include <sys/stat.h>

#include <fstream>
#include <set>

#include "ToolFixture.h"

namespace jrxtest {
namespace {

using nlohmann::json;

class ToolCommands : public ToolDb {};

const char* const kOtherNode = "5e5e5e5e-0000-4000-8000-000000000005";

std::string withEid(const char* eid) { return std::string("\"eid\":\"") + eid + "\""; }

TEST_P(ToolCommands, InitKeepsTheLocalEnvironmentOfTheDatabase) {
  ToolRun first = runJrxlog({"--db", url_, "init"});
  ASSERT_EQ(first.status, 0) << first.err;
  ASSERT_EQ(first.out.size(), 37u);  // a GUID and a newline
  EXPECT_EQ(runJrxlog({"--db", url_, "init"}).out, first.out);
  EXPECT_EQ(jrx({"init"}).out, std::string(kLocal) + "\n");
  ToolRun viaEnv = runJrxlog({"init"}, "", "", {{"JRXLOG_DB", url_}});
  EXPECT_EQ(viaEnv.out, first.out);
}

TEST_P(ToolCommands, ListingFiltersAndTables) {
  std::string input =
      envLine(kVm1, "vm", "web-1") +
      progressLine("req-1", "vm.start", 0, 0, 1701000000, "Starting",
                   std::string("\"operands\":[\"") + kVm1 + "\"]") +
      progressLine("req-1", "", 0, 50, 1701000010, "Booting") +
      progressLine("req-1", "", 3, 100, 1701000020, "Started") +
      progressLine("req-2", "vm.stop", 0, 0, 1701000100, "Stopping") +
      progressLine("req-3", "vm.stop", 0, 0, 1701000200, "Stopping", "\"parentId\":\"req-2\"") +
      eventLine("3f1e0d2c-0000-4000-8000-000000000001", 1701000001, "info") +
      eventLine("3f1e0d2c-0000-4000-8000-000000000002", 1701000002, "alert",
                std::string(",\"env\":{\"params\":{\"eid\":\"") + kVm1 +
                    "\",\"type\":\"vm\",\"title\":\"web-1\"}}") +
      eventLine("3f1e0d2c-0000-4000-8000-000000000003", 1701000003, "info") +
      eventLine("3f1e0d2c-0000-4000-8000-000000000004", 1701000004, "audit", "",
                R"(,"audit":{"session":"s-9","address":"2001:db8::1","detail":"login","kind":0})");
  ASSERT_EQ(jrx({"import"}, input).status, 0);

  auto list = [&](std::vector<std::string> args) {
    args.push_back("--json");
    ToolRun r = jrx(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return ids(parseLines(r));
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(list({"ops"}), (V{"req-1", "req-1", "req-1", "req-2", "req-3"}));
  EXPECT_EQ(list({"ops", "--limit", "2"}), (V{"req-3", "req-2"}));  // newest first
  EXPECT_EQ(list({"ops", "--limit", "0"}), V{});
  EXPECT_EQ(list({"ops", "--first-only"}), (V{"req-1", "req-2", "req-3"}));
  EXPECT_EQ(list({"ops", "--active"}), (V{"req-2", "req-3"}));
  EXPECT_EQ(list({"ops", "--name", "vm.stop"}), (V{"req-2", "req-3"}));
  EXPECT_EQ(list({"ops", "--parent", "req-2"}), V{"req-3"});
  EXPECT_EQ(list({"ops", "--eid", kVm1, "--first-only"}), V{"req-1"});
  EXPECT_EQ(list({"ops", "--from", "1701000000", "--to", "1701000200"}), V{"req-2"});
  EXPECT_EQ(list({"ops", "--from", "2023-11-26 12:00:00Z"}), (V{"req-2", "req-3"}));

  auto firstOnly = parseLines(jrx({"ops", "--json", "--first-only", "--id", "req-1"}));
  ASSERT_EQ(firstOnly.size(), 1u);
  EXPECT_EQ(firstOnly[0]["status"], 3);  // the operation's own status
  EXPECT_EQ(firstOnly[0]["info"]["text"], "Starting");

  EXPECT_EQ(list({"events"}).size(), 4u);
  EXPECT_EQ(list({"events", "--type", "alert"}).size(), 1u);
  EXPECT_EQ(list({"events", "--operand"}).size(), 1u);
  EXPECT_EQ(list({"events", "--eid", kNode, "--from", "1701000001"}).size(), 3u);
  EXPECT_EQ(list({"events", "--limit", "1"}).size(), 1u);
  EXPECT_EQ(list({"events", "--category", "nothing"}).size(), 0u);

  // Tables: a header, one line per record, aligned columns, no terminal codes.
  ToolRun ops = jrx({"ops", "--first-only"});
  ASSERT_EQ(ops.lines().size(), 4u);
  EXPECT_NE(ops.lines()[0].find("PARENT"), std::string::npos);
  size_t nameColumn = ops.lines()[0].find("NAME");
  for (size_t i = 1; i < 4; ++i) EXPECT_EQ(ops.lines()[i].find("vm."), nameColumn) << ops.out;
  EXPECT_EQ(ops.out.find('\x1b'), std::string::npos);
  ToolRun events = jrx({"events", "--type", "alert"});
  ASSERT_EQ(events.lines().size(), 2u);
  EXPECT_NE(events.lines()[1].find("alert happened"), std::string::npos);
  EXPECT_NE(events.lines()[1].find(kNode), std::string::npos);  // never shortened off a terminal
  // The audit payload shows in the table when asked for, as JSON always carries it.
  const char* payload = "session s-9, address 2001:db8::1, kind 0, detail login";
  EXPECT_EQ(jrx({"events", "--type", "audit"}).out.find(payload), std::string::npos);
  EXPECT_NE(jrx({"events", "--type", "audit", "--with-data"}).out.find(payload), std::string::npos);
  EXPECT_NE(jrx({"events", "--type", "audit", "--json"}).out.find("\"session\":\"s-9\""),
            std::string::npos);
}

// A long listing is read in parts that meet inside a second; together they are the one
// answer: every event once, newest first, the last recorded first within a second.
TEST_P(ToolCommands, LongEventListingsAreTheWholeAnswer) {
  std::string input;
  std::vector<std::string> newestFirst;
  for (int i = 0; i < 450; ++i) {
    char guid[40];
    std::snprintf(guid, sizeof guid, "3f1e0d2c-0000-4000-8000-%012d", i);
    input += eventLine(guid, 1701000000 + i / 3, "info");
    newestFirst.insert(newestFirst.begin(), guid);
  }
  ASSERT_EQ(jrx({"import"}, input).status, 0);
  for (size_t limit : {450, 250}) {
    const std::string text = std::to_string(limit);
    EXPECT_EQ(ids(parseLines(jrx({"events", "--json", "--limit", text}))),
              std::vector<std::string>(newestFirst.begin(), newestFirst.begin() + limit));
    EXPECT_EQ(jrx({"events", "--limit", text}).lines().size(), limit + 1);
  }
}

TEST_P(ToolCommands, UnfinishedFinishAndCompact) {
  std::string input =
      progressLine("req-1", "a", 0, 0, 1701000000, "one", withEid(kLocal)) +
      progressLine("req-2", "b", 0, 0, 1701000010, "two", withEid(kLocal)) +
      progressLine("req-2", "", 0, 30, 1701000050, "two more", withEid(kLocal)) +
      progressLine("req-3", "c", 3, 100, 1701000060, "three", withEid(kLocal)) +
      progressLine("req-4", "d", 0, 0, 1701000070, "four", withEid(kOtherNode)) +
      eventLine("3f1e0d2c-0000-4000-8000-000000000001", 1701000001, "info") +
      eventLine("3f1e0d2c-0000-4000-8000-000000000002", 1701000002, "info") +
      eventLine("3f1e0d2c-0000-4000-8000-000000000003", 1701000003, "info");
  ASSERT_EQ(jrx({"import"}, input).status, 0);

  ToolRun u = jrx({"unfinished", "--eid", kLocal, "--json"});
  ASSERT_EQ(u.status, 0) << u.err;
  json unfinished = json::parse(u.out);
  EXPECT_EQ(std::set<std::string>(unfinished["ids"].begin(), unfinished["ids"].end()),
            (std::set<std::string>{"req-1", "req-2"}));
  EXPECT_EQ(unfinished["lastTime"], 1701000050);
  EXPECT_EQ(json::parse(jrx({"unfinished", "--eid", kLocal, "--since", "1800000000", "--json"}).out)["lastTime"],
            1800000000);
  ToolRun text = jrx({"unfinished", "--eid", kOtherNode});
  EXPECT_EQ(text.lines().front(), "req-4");
  EXPECT_NE(text.lines().back().find("1 unfinished operation on behalf of"), std::string::npos);

  // The other node is not listed among the management system's environments, so its
  // operation counts as the local node's too.
  ToolRun f = jrx({"finish"});
  ASSERT_EQ(f.status, 0) << f.err;
  EXPECT_EQ(f.out, "closed 3 unfinished operations as canceled by restart\n");
  EXPECT_EQ(jrx({"finish"}).out, "closed 0 unfinished operations as canceled by restart\n");
  EXPECT_TRUE(jrx({"ops", "--active", "--json"}).out.empty());
  auto closing = parseLines(jrx({"ops", "--json", "--id", "req-2"}));
  ASSERT_EQ(closing.size(), 3u);
  EXPECT_EQ(closing[2]["status"], 4);
  EXPECT_EQ(closing[2]["info"]["text"], "Operation was canceled by restart");

  // An old operation still running survives compaction.
  ASSERT_EQ(jrx({"save-progress", R"({"id":"req-5","name":"e","time":1000})"}).status, 0);
  ToolRun c = jrx({"compact", "ops", "--age", "1d"});
  ASSERT_EQ(c.status, 0) << c.err;
  EXPECT_EQ(c.out, "removed 4 ended operations recorded 86400 seconds ago or earlier; 1 remain\n");
  EXPECT_EQ(ids(parseLines(jrx({"ops", "--json"}))), std::vector<std::string>{"req-5"});

  EXPECT_EQ(jrx({"compact", "events", "--keep", "5"}).out, "removed 0 events; 3 remain\n");
  EXPECT_EQ(jrx({"compact", "events", "--keep", "1"}).out, "removed 2 events; 1 remain\n");
  EXPECT_EQ(ids(parseLines(jrx({"events", "--json"}))),
            std::vector<std::string>{"3f1e0d2c-0000-4000-8000-000000000003"});
}

TEST_P(ToolCommands, RightsFromAnAclFile) {
  std::string acl = writeTempFile(std::string(R"({"clients": {"reader": {"*": [54, 188]},
      "writer": {")") + kVm1 + R"(": [55]}}})");
  ASSERT_EQ(jrx({"import"}, eventLine("3f1e0d2c-0000-4000-8000-000000000001", 1701000001, "info"))
                .status,
            0);
  auto as = [&](const char* client, std::vector<std::string> args) {
    args.insert(args.begin(), {"--acl", acl, "--client", client});
    return jrx(args);
  };
  EXPECT_EQ(as("reader", {"events", "--json"}).status, 0);
  ToolRun denied = as("nobody", {"events"});
  EXPECT_EQ(denied.status, 1);
  EXPECT_EQ(denied.err, "error 414: access denied\n");
  EXPECT_EQ(as("reader", {"ops", "--eid", kVm1}).status, 0);
  EXPECT_EQ(as("writer", {"ops", "--eid", kVm1}).status, 1);

  std::string onVm1 = std::string(R"({"id":"r1","name":"n","operands":[")") + kVm1 + "\"]}";
  std::string onVm2 = std::string(R"({"id":"r2","name":"n","operands":[")") + kVm2 + "\"]}";
  EXPECT_EQ(as("writer", {"save-progress", onVm1}).status, 0);
  ToolRun refused = as("writer", {"save-progress", onVm2});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "error 414: access denied\n");

  ToolRun missing = jrx({"--acl", "/nonexistent/acl.json", "--client", "x", "ops"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_FALSE(missing.err.empty());
}

TEST_P(ToolCommands, DemoIsDeterministicAndRunsTwice) {
  std::vector<std::string> demo = {"demo", "--seed", "7", "--size", "16", "--time", "1701000000"};
  ToolRun first = jrx(demo);
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_NE(first.out.find("Newest operations"), std::string::npos);
  EXPECT_NE(first.out.find("Newest events"), std::string::npos);
  ToolRun again = jrx(demo);
  ASSERT_EQ(again.status, 0) << again.err;

  std::string other = freshDatabaseUrl(GetParam());
  ASSERT_EQ(jrxOn(other, demo).status, 0);
  std::string third = freshDatabaseUrl(GetParam());
  ASSERT_EQ(jrxOn(third, demo).status, 0);
  ToolRun ops = jrxOn(other, {"ops", "--json"});
  EXPECT_EQ(ops.out, jrxOn(third, {"ops", "--json"}).out);
  EXPECT_EQ(jrxOn(other, {"events", "--json"}).out, jrxOn(third, {"events", "--json"}).out);
  // A second run replays the same operations over the first.
  EXPECT_EQ(jrx({"ops", "--json"}).out, ops.out);

  auto records = parseLines(ops);
  std::set<int> statuses;
  for (const auto& r : records) statuses.insert(r["status"].get<int>());
  EXPECT_TRUE(statuses.count(3)) << "some operations finish";
  EXPECT_FALSE(parseLines(jrxOn(other, {"ops", "--active", "--json"})).empty());
  std::set<std::string> types;
  for (const auto& e : parseLines(jrxOn(other, {"events", "--json"})))
    types.insert(e["type"].get<std::string>());
  EXPECT_TRUE(types.count("audit") && types.count("env_status") && types.count("info"));

  ToolRun other7 = jrxOn(freshDatabaseUrl(GetParam()), {"demo", "--seed", "8", "--size", "16",
                                                        "--time", "1701000000"});
  ASSERT_EQ(other7.status, 0);
  EXPECT_NE(other7.out, first.out);

  // watch off a terminal: one plain table per refresh.
  ToolRun w = jrxOn(other, {"watch", "--count", "2", "--interval", "0.05"});
  ASSERT_EQ(w.status, 0) << w.err;
  size_t n = 0;
  for (const auto& line : w.lines())
    if (line.find("unfinished operation") != std::string::npos) ++n;
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(w.out.find('\x1b'), std::string::npos);
  auto active = parseLines(jrxOn(other, {"ops", "--active", "--first-only", "--json"}));
  for (const auto& a : active) EXPECT_NE(w.out.find(a["id"].get<std::string>()), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Db, ToolCommands, ::testing::ValuesIn(backends()), BackendName());

// The README's main command: demo on the default database in a fresh folder, twice.
TEST(ToolDefaults, DemoTwiceInAFreshFolder) {
  std::string dir = makeTempDir();
  ToolRun first = runJrxlog({"demo"}, "", dir);
  ASSERT_EQ(first.status, 0) << first.err;
  struct stat st {};
  EXPECT_EQ(stat((dir + "/jrxlog.db").c_str(), &st), 0);
  EXPECT_NE(first.out.find("closed 0 operations left running"), std::string::npos);
  ToolRun second = runJrxlog({"demo"}, "", dir);
  ASSERT_EQ(second.status, 0) << second.err;
  // The agent's second start closes what the first run left running.
  EXPECT_EQ(second.out.find("closed 0 operations left running"), std::string::npos) << second.out;
}

TEST(ToolDefaults, CommandLineMistakesExitWithTwo) {
  std::string dir = makeTempDir();
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"bogus"},
      {"ops", "--bogus"},
      {"ops", "--limit"},
      {"ops", "--limit", "ten"},
      {"ops", "--limit", "-1"},
      {"ops", "--eid", "123"},
      {"ops", "--from", "yesterday-ish"},
      {"ops", "extra"},
      {"events", "--name", "x"},
      {"unfinished"},
      {"compact"},
      {"compact", "logs"},
      {"compact", "ops"},
      {"compact", "ops", "--keep", "3"},
      {"compact", "events", "--keep", "x"},
      {"compact", "events", "--keep", "-1"},
      {"compact", "ops", "--age", "-5"},
      {"save-progress"},
      {"import", "a", "b"},
      {"import", "--batch", "0"},
      {"watch", "--interval", "0"},
      {"demo", "--size", "0"},
      {"--acl", "f", "ops"},
      {"--local-eid", "nope", "init"},
      {"init", "--json"},
      {"ops", "--limit", "4294967296"},
      {"compact", "events", "--age", "1"},
      {"help", "bogus"},
      {"completion", "zsh"},
  };
  for (const auto& args : cases) {
    std::string shown;
    for (const auto& a : args) shown += a + " ";
    SCOPED_TRACE(shown);
    ToolRun r = runJrxlog(args, "", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(r.err.empty());
    EXPECT_TRUE(r.out.empty());
  }
  // Nothing was opened or created for a wrong command line.
  struct stat st {};
  EXPECT_NE(stat((dir + "/jrxlog.db").c_str(), &st), 0);

  // The mistake is named, with the help that shows the right use.
  ToolRun wrong = runJrxlog({"ops", "--limit", "ten"}, "", dir);
  EXPECT_NE(wrong.err.find("--limit"), std::string::npos) << wrong.err;
  EXPECT_NE(wrong.err.find("jrxlog ops --help"), std::string::npos) << wrong.err;
  // A variable stands in for the global option, and is checked the same way.
  EXPECT_EQ(runJrxlog({"init"}, "", dir, {{"JRXLOG_LOCAL_EID", "nope"}}).status, 2);
  ToolRun viaEnv = runJrxlog({"init"}, "", dir, {{"JRXLOG_DB", "sqlite:" + dir + "/env.db"}});
  EXPECT_EQ(viaEnv.status, 0) << viaEnv.err;
  EXPECT_EQ(stat((dir + "/env.db").c_str(), &st), 0);
}

// Each command's help shows its own options; the top-level help lists every command.
TEST(ToolDefaults, HelpVersionAndCompletion) {
  struct Case {
    std::vector<std::string> args;
    std::vector<const char*> shown, notShown;
  } cases[] = {
      {{"--help"},
       {"init", "demo", "import", "save-progress", "save-event", "ops", "events", "unfinished",
        "finish", "compact", "watch", "--db", "--local-eid", "--acl", "MYSQL_PWD",
        "defaults-file"},
       {}},
      {{"ops", "--help"}, {"--first-only", "--active", "--from"}, {"--operand", "--keep"}},
      {{"help", "events"}, {"--operand", "--with-data"}, {"--first-only"}},
      {{"compact", "ops", "--help"}, {"--age"}, {"--keep"}},
      {{"--version"}, {"jrxlog 1."}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front() + " " + c.args.back());
    ToolRun r = runJrxlog(c.args);
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* text : c.shown) EXPECT_NE(r.out.find(text), std::string::npos) << text;
    for (const char* text : c.notShown) EXPECT_EQ(r.out.find(text), std::string::npos) << text;
  }

  // The completion script, run by bash on partly typed command lines.
  std::string script = writeTempFile(runJrxlog({"completion", "bash"}).out);
  const char* typed[][2] = {
      {"jrxlog ", "compact"},
      {"jrxlog compact ", "events"},
      {"jrxlog --db x ops --fi", "--first-only"},
      {"jrxlog compact events --k", "--keep"},
      {"jrxlog events --li", "--limit"},
  };
  for (const auto& t : typed) {
    SCOPED_TRACE(t[0]);
    std::string words = t[0];
    if (words.back() == ' ') words += "''";  // the word being typed is still empty
    std::string run = writeTempFile("source " + script + "\nCOMP_WORDS=(" + words +
                                    ")\nCOMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n_jrxlog\n"
                                    "echo \"${COMPREPLY[*]}\" > " + script + ".out\n");
    ASSERT_EQ(std::system(("bash " + run).c_str()), 0);
    std::ifstream in(script + ".out");
    std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(got.find(t[1]), std::string::npos) << got;
  }
}

}  // namespace
}  // namespace jrxtest
