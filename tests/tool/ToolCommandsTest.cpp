// jrxlog's commands end to end: what each prints, in order on one log, and the command-line
// mistakes that exit with 2.
#include <sys/stat.h>

#include <fstream>

#include "ToolFixture.h"

namespace jrxtest {
namespace {

class ToolCommands : public ToolDb {};

const char* const kOtherNode = "5e5e5e5e-0000-4000-8000-000000000005";
const char* const kNewEvent = "3f1e0d2c-0000-4000-8000-000000000004";

// A command and what it must print: on standard output when it succeeds, else on standard
// error; a text starting with '!' must not be printed.
struct Case {
  Strings args;
  int status;
  Strings says;
};

void expectCase(const Case& c, const ToolRun& r) {
  std::string shown;
  for (const auto& a : c.args) shown += a + " ";
  SCOPED_TRACE(shown);
  EXPECT_EQ(r.status, c.status) << r.err;
  const std::string& text = c.status == 0 ? r.out : r.err;
  EXPECT_FALSE(text.empty());
  EXPECT_TRUE(c.status != 2 || r.out.empty()) << r.out;
  for (const auto& s : c.says) {
    const bool absent = s[0] == '!';
    EXPECT_EQ(text.find(absent ? s.substr(1) : s) == std::string::npos, absent) << s << "\n" << text;
  }
}

// One log, the commands in order: each case sees what the ones before it did.
TEST_P(ToolCommands, CommandsSayWhatTheyDid) {
  ASSERT_EQ(jrx({"import"}, kSample).status, 0);
  const std::string acl = writeTempFile(std::string(R"({"clients": {"reader": {"*": [54, 188]},
      "writer": {")") + kVm1 + R"(": [55]}}})");
  const auto as = [&](const char* client, Strings args) {
    args.insert(args.begin(), {"--acl", acl, "--client", client});
    return args;
  };
  const std::string onVm1 = R"({"id":"old","name":"n","time":1000,"operands":[")" +
                            std::string(kVm1) + "\"]}";
  const std::string onVm2 = R"({"id":"r2","name":"n","operands":[")" + std::string(kVm2) + "\"]}";
  const std::string namedByParam = std::string(R"({"id":"req-9","name":"vm.stop","time":1701000400,
      "info":{"params":{"env":[{"params":{"eid":")") + kVm2 + R"(","type":"vm","title":"db-1"}}]}}})";
  std::string event = eventLine(kNewEvent, 1701000004, "info");
  event.pop_back();
  const Case cases[] = {
      {{"init"}, 0, {kLocal}},
      // Tables: texts with their parameters, operands by title, no terminal codes.
      {{"ops"}, 0, {"PARENT", "Starting web-1", "running", "50%", "failed", "db-1", "!\x1b"}},
      {{"events"}, 0, {kNode, "web-1 is up", "!session s-9"}},
      {{"events", "--with-data"}, 0, {"session s-9, address 2001:db8::1, kind 0, detail login"}},
      {{"unfinished", "--eid", kLocal, "--json"}, 0, {R"({"ids":["req-2"],"lastTime":1701000100})"}},
      {{"unfinished", "--eid", kLocal, "--since", "1800000000", "--json"}, 0,
       {R"("lastTime":1800000000})"}},
      {{"unfinished", "--eid", kOtherNode}, 0, {"a/b c\n1 unfinished operation on behalf of"}},
      {{"save-progress", namedByParam}, 0, {"saved progress of operation req-9"}},
      {{"ops", "--id", "req-9", "--json"}, 0, {std::string("\"operands\":[\"") + kVm2 + "\"]"}},
      {{"save-progress", R"({"id":"req-10"})"}, 1, {"error 3101: Can't save operation without name\n"}},
      {{"save-progress", R"({"id":"q","name":"n","progress":1e999})"}, 1,
       {"number overflow parsing '1e999'"}},
      {{"save-progress", R"({"kind":"event","id":"q"})"}, 1, {"expected a record of kind \"progress\""}},
      {{"save-event", R"({"guid":1})"}, 1, {"field \"guid\" must be a string"}},
      {{"save-event", event}, 0, {std::string("saved event ") + kNewEvent}},
      {{"save-event", event}, 0, {"saved event"}},  // known: accepted and ignored
      // The other node is not among the management system's environments, so its operation
      // counts as the local node's too.
      {{"finish"}, 0, {"closed 3 unfinished operations as canceled by restart\n"}},
      {{"finish"}, 0, {"closed 0 unfinished operations"}},
      {{"ops", "--id", "req-2", "--json"}, 0, {R"("status":4)", "Operation was canceled by restart"}},
      {as("reader", {"events"}), 0, {"web-1 is up"}},
      {as("nobody", {"events"}), 1, {"error 414: access denied\n"}},
      {as("writer", {"ops", "--eid", kVm1}), 1, {"error 414: access denied\n"}},
      {as("writer", {"save-progress", onVm2}), 1, {"error 414: access denied\n"}},
      {as("writer", {"save-progress", onVm1}), 0, {"saved progress of operation old"}},
      {{"--acl", "/nonexistent/acl.json", "--client", "x", "ops"}, 1, {"cannot be read"}},
      // An old operation still running survives compaction.
      {{"compact", "ops", "--age", "1d"}, 0,
       {"removed 5 ended operations recorded 86400 seconds ago or earlier; 1 remain\n"}},
      {{"ops", "--json"}, 0, {R"({"kind":"progress","id":"old")"}},
      {{"compact", "events", "--keep", "5"}, 0, {"removed 0 events; 4 remain\n"}},
      {{"compact", "events", "--keep", "1"}, 0, {"removed 3 events; 1 remain\n"}},
      {{"events", "--json"}, 0, {kNewEvent}},
  };
  const std::string dir = makeTempDir();
  for (const Case& c : cases)
    expectCase(c, runJrxlog(c.args, "", dir, {{"JRXLOG_DB", url_}, {"JRXLOG_LOCAL_EID", kLocal}}));
}

TEST_P(ToolCommands, DemoIsDeterministicAndWatchShowsItsRunningOperations) {
  const Strings demo = {"demo", "--seed", "7", "--size", "16", "--time", "1701000000"};
  const ToolRun first = jrx(demo), again = jrx(demo);
  expectCase({demo, 0, {"closed 0 operations left running", "Newest operations", "Newest events"}},
             first);
  // The agent's second start closes what the first left running; the replay adds nothing.
  expectCase({demo, 0, {"closed 2 operations left running"}}, again);
  const std::string other = freshDatabaseUrl(GetParam());
  ASSERT_EQ(jrxOn(other, demo).status, 0);
  const ToolRun ops = jrx({"ops", "--json"});
  EXPECT_EQ(jrxOn(other, {"ops", "--json"}).out, ops.out);
  expectCase({{"ops"}, 0, {R"("status":3)", R"("status":5)"}}, ops);
  expectCase({{"events"}, 0, {R"("type":"audit")", R"("type":"env_status")", R"("type":"info")"}},
             jrx({"events", "--json"}));
  EXPECT_NE(jrxOn(freshDatabaseUrl(GetParam()),
                  {"demo", "--seed", "8", "--size", "16", "--time", "1701000000"}).out,
            first.out);

  // Off a terminal: one plain table per refresh, with every running operation.
  Strings says = {"!\x1b"};
  for (const auto& id : ids({"ops", "--active", "--first-only"})) says.push_back(id);
  ASSERT_EQ(says.size(), 3u);
  const ToolRun w = jrx({"watch", "--count", "2", "--interval", "0.05"});
  expectCase({{"watch"}, 0, says}, w);
  size_t tables = 0;
  for (const auto& line : w.lines()) tables += line.find("unfinished operation") != std::string::npos;
  EXPECT_EQ(tables, 2u);
}

INSTANTIATE_TEST_SUITE_P(Db, ToolCommands, ::testing::ValuesIn(backends()), BackendName());

// Each mistake named, with the help that shows the right use; nothing opened or created.
TEST(ToolDefaults, HelpAndCommandLineMistakes) {
  const std::string dir = makeTempDir();
  const Case cases[] = {
      {{"--help"}, 0, {"init", "demo", "import", "save-progress", "save-event", "unfinished",
                       "finish", "compact", "watch", "serve", "--local-eid", "--acl", "MYSQL_PWD"}},
      {{"ops", "--help"}, 0, {"--first-only", "--active", "--from", "!--operand", "!--keep"}},
      {{"help", "events"}, 0, {"--operand", "--with-data", "!--first-only"}},
      {{"compact", "ops", "--help"}, 0, {"--age", "!--keep"}},
      {{"--version"}, 0, {"jrxlog 1."}},
      {{}, 2, {"a command is required"}},
      {{"ops", "--limit", "ten"}, 2, {"--limit", "got 'ten'", "jrxlog ops --help"}},
      {{"ops", "--limit", "4294967296"}, 2, {"--limit"}},
      {{"ops", "--eid", "123"}, 2, {"--eid: not a GUID"}},
      {{"ops", "--from", "yesterday-ish"}, 2, {"--from"}},
      {{"events", "--name", "x"}, 2, {"--name"}},
      {{"unfinished"}, 2, {"--eid is required"}},
      {{"compact", "logs"}, 2, {"A subcommand is required"}},
      {{"compact", "ops", "--keep", "3"}, 2, {"--age is required"}},
      {{"compact", "events", "--keep", "-1"}, 2, {"--keep"}},
      {{"compact", "ops", "--age", "-5"}, 2, {"--age"}},
      {{"import", "a", "b"}, 2, {"not expected: b"}},
      {{"import", "--batch", "0"}, 2, {"--batch"}},
      {{"watch", "--interval", "0"}, 2, {"--interval"}},
      {{"demo", "--size", "0"}, 2, {"--size"}},
      {{"--acl", "f", "ops"}, 2, {"--acl requires --client"}},
      {{"--local-eid", "nope", "init"}, 2, {"--local-eid"}},
      {{"init", "--json"}, 2, {"--json"}},
      {{"help", "bogus"}, 2, {"no command 'bogus'"}},
      {{"completion", "zsh"}, 2, {"bash only"}},
      {{"serve", "--listen", "127.0.0.1"}, 2, {"--listen", "jrxlog serve --help"}},
      {{"serve", "--listen", "::1:80"}, 2, {"--listen"}},
      {{"serve", "--listen", "127.0.0.1:65536"}, 2, {"--listen"}},
      {{"serve", "--token-file", writeTempFile("two words\n")}, 2, {"--token-file"}},
      {{"serve", "--token-file", "/nonexistent/token"}, 2, {"--token-file"}},
  };
  for (const Case& c : cases) expectCase(c, runJrxlog(c.args, "", dir));
  struct stat st {};
  EXPECT_NE(stat((dir + "/jrxlog.db").c_str(), &st), 0);
  // The variable stands in for the global option, and is checked the same way.
  expectCase({{"init"}, 2, {"--local-eid"}},
             runJrxlog({"init"}, "", dir, {{"JRXLOG_LOCAL_EID", "nope"}}));

  // The README's first command: the demo on the default database in the current folder.
  expectCase({{"demo"}, 0, {"Newest operations"}}, runJrxlog({"demo"}, "", dir));
  EXPECT_EQ(stat((dir + "/jrxlog.db").c_str(), &st), 0);
}

// The completion script, run by bash on partly typed command lines.
TEST(ToolDefaults, CompletionOffersTheWordsThatFit) {
  const std::string script = writeTempFile(runJrxlog({"completion", "bash"}).out);
  const std::pair<std::string, const char*> typed[] = {
      {"jrxlog ''", "compact"},
      {"jrxlog compact ''", "events"},
      {"jrxlog --db x ops --fi", "--first-only"},
      {"jrxlog compact events --k", "--keep"},
  };
  for (const auto& t : typed) {
    ToolRun r = runProgram("bash", {"-c", "source " + script + "; COMP_WORDS=(" + t.first +
                                              "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _jrxlog; "
                                              "echo \"${COMPREPLY[*]}\""});
    expectCase({{t.first}, 0, {t.second}}, r);
  }
}

}  // namespace
}  // namespace jrxtest
