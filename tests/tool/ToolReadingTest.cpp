// Followers of the listings, on both databases: they print every stored record once, and go
// on from their cursor (long listings read in parts: ToolServeTest.cpp).
#include <future>
#include <thread>

#include "JRXLogDBLocal.h"
#include "JRXRdbms.h"
#include "ToolFixture.h"

namespace jrxtest {
namespace {

class ToolReading : public ToolDb {};

// An event typed `type`, as an agent in this process records it.
JRX::JRXEvent agentEvent(const std::string& type) {
  JRX::JRXEvent e("agent");
  e.guid = JRX::JRXGUID::generate();
  e.time = 1701000100;
  e.type = type;
  JRX::JRXInfo ref;
  ref.addParameter("eid", kNode);
  e.info.addParameter("source_env", ref);
  return e;
}

// A follower prints every record once, also one whose key commits after a later one was read
// (MariaDB); one restarted from its cursor goes on without gap or repeat.
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
  ASSERT_TRUE(follower.waitForLines(3) && opsFollower.waitForLines(2)) << follower.out();
  ASSERT_EQ(jrx({"import"}, report("a", 10) + report("c", 0) + report("b", 20)).status, 0);
  EXPECT_TRUE(opsFollower.waitForLines(5));
  EXPECT_EQ(opsFollower.stop(), 0);
  EXPECT_EQ(idsOf(opsFollower.out(), true), (Strings{"b@0", "a@0", "a@10", "c@0", "b@20"}));

  JRX::JRXDatabase::open(url_);
  JRX::JRXEventLogLocal events(nullptr);
  ASSERT_EQ(events.saveEvent(agentEvent("first")), 0);
  ASSERT_TRUE(follower.waitForLines(4)) << follower.out();
  if (GetParam() == "mariadb") {
    std::promise<void> held, go;
    std::thread late([&] {
      JRX::JRXRdbmsTran open;  // the writer's key is taken, its row not yet shown
      EXPECT_EQ(JRX::JRXEventLogLocal(nullptr).saveEvent(agentEvent("late")), 0);
      held.set_value();
      go.get_future().wait();
      open.commit();
    });
    held.get_future().wait();
    EXPECT_EQ(events.saveEvent(agentEvent("early")), 0);
    EXPECT_TRUE(follower.waitForLines(5)) << follower.out();
    go.set_value();
    late.join();
  } else {
    ASSERT_EQ(events.saveEvent(agentEvent("early")), 0);
    ASSERT_EQ(events.saveEvent(agentEvent("late")), 0);
  }
  EXPECT_TRUE(follower.waitForLines(6)) << follower.out();
  EXPECT_EQ(follower.stop(), 0);
  EXPECT_EQ(readFile(file).rfind("events~:", 0), 0u) << readFile(file);

  ASSERT_EQ(events.saveEvent(agentEvent("after")), 0);
  JRX::JRXDatabase::close();
  BackgroundRun again(url_, {"events", "--json", "--follow", "--cursor-file", file});
  EXPECT_TRUE(again.waitForLines(1)) << again.out();
  EXPECT_EQ(again.stop(), 0);
  EXPECT_EQ(idsOf(follower.out() + again.out(), true, "type"),
            (Strings{"old-2", "old-1", "old-0", "first", "early", "late", "after"}));

  // Not a follower's cursor without --follow, nor another listing's; no follower of first
  // reports only.
  EXPECT_EQ(jrx({"events", "--cursor-file", file}).status, 2);
  EXPECT_EQ(jrx({"events", "--type", "x", "--follow", "--cursor-file", file}).status, 2);
  EXPECT_EQ(jrx({"ops", "--follow", "--first-only"}).status, 2);
}

// Output that cannot be written (a full disk) fails the run, and the cursor file stays as it
// was: the next run prints the records whose lines were lost.
TEST_P(ToolReading, OutputThatCannotBeWrittenIsAFailureAndMovesNoCursor) {
  ASSERT_EQ(jrx({"import"}, kSample).status, 0);
  const std::string file = makeTempDir() + "/cursor";
  for (const char* listing : {"events", "ops"}) {
    SCOPED_TRACE(listing);
    const ToolRun lost = runProgram("/bin/sh", {"-c", "exec \"$@\" >/dev/full", "sh", JRXLOG_BINARY,
                                                "--db", url_, listing, "--json", "--cursor-file",
                                                file});
    EXPECT_TRUE(lost.status == 1 &&
                lost.err.find("jrxlog: cannot write the output") != std::string::npos)
        << lost.err;
    EXPECT_EQ(readFile(file), "");
    const ToolRun again = jrx({listing, "--json", "--cursor-file", file});
    EXPECT_EQ(again.out, jrx({listing, "--json"}).out) << again.err;
    EXPECT_GT(idsOf(again.out).size(), 2u);
    std::remove(file.c_str());
  }
}

INSTANTIATE_TEST_SUITE_P(Db, ToolReading, ::testing::ValuesIn(backends()), BackendName());

}  // namespace
}  // namespace jrxtest
