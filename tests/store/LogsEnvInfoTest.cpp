// Environment references: read from records, their env_log rows, and the links to them.
#include <future>
#include <thread>

#include "LogDbFixture.h"

using namespace JRX;
using namespace JRX::logdb;

namespace jrxtest {
namespace {

TEST(LogsEnvInfoRead, TakesTheRestOnlyWithAUsableIdentifier) {
  const JRXEID vm(0x1000, 1);
  // Read as a C string: what follows a NUL does not count.
  const std::pair<std::string, bool> cases[] = {
      {vm.toString(), true}, {vm.toString() + std::string("\0x", 2), true},
      {vm.toString().substr(1), false}, {std::string("\0", 1) + vm.toString(), false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    JRXInfo ref;
    ref.addParameter("eid", c.first);
    ref.addParameter("type", "vm");
    ref.addParameter("title", "web-1");
    LogsEnvInfo e(ref, true);
    EXPECT_EQ(e.getEID(), c.second ? vm : JRXEID());
    EXPECT_EQ(e.getType() + "/" + e.getTitle(), c.second ? "vm/web-1" : "/");
    EXPECT_TRUE(e.isDefault());
  }
}

class EnvRefsTest : public LogDbFixture {
 protected:
  static LogsEnvInfo env(const JRXEID& eid, const std::string& title, bool isDefault = false,
                         const std::string& type = "vm") {
    return LogsEnvInfo(envRef(eid, type, title), isDefault);
  }

  // "op_id|role|mark|title" of every link of an operation.
  static Lines links() {
    op_log_env l;
    env_log e;
    return rowsOf({&l, &e}, {&l->op_id, &l->role, &l->is_default, &e->title}, l->env_id == e->id);
  }
};

// Rows are keyed by identifier and title; an event's links are written every time.
TEST_P(EnvRefsTest, RowsAndEventLinks) {
  JRXRdbmsTran tran;
  const int a = env(kVm1, "web-1").getSqlID(tran);
  EXPECT_EQ(env(kVm1, "web-1").getSqlID(tran), a);
  // The type plays no part: same identifier and title, another type, the same row.
  EXPECT_EQ(env(kVm1, "web-1", false, "container").getSqlID(tran), a);
  env(kVm1, "web-1 renamed").getSqlID(tran);
  env(kVm2, "web-1").getSqlID(tran);
  // An unreadable reference still gets a row, under the invalid identifier.
  LogsEnvInfo(JRXInfo("nothing"), false).getSqlID(tran);
  for (char role : {'S', 'S', 'O'}) env(kVm1, "web-1").linkEvent(tran, 11, role);
  tran.commit();
  EXPECT_EQ(rowsOf<env_log>(), (Lines{"1|7a:1|web-1|vm", "2|7a:1|web-1 renamed|vm",
                                      "3|7a:2|web-1|vm", "4|0:0||"}));
  EXPECT_EQ(rowsOf<events_log_env>(), (Lines{"11|1|O", "11|1|S", "11|1|S"}));
}

// A named link that meets the same environment's stand-in link, which another session made
// and committed while this one was linking, takes it over: the link ends named either way.
TEST_P(EnvRefsTest, ANamedLinkTakesOverAStandInLinkedMeanwhile) {
  {
    JRXRdbmsTran tran;
    env(kVm1, "web").getSqlID(tran);
    tran.commit();
  }
  std::promise<void> linked;
  std::thread other([&] {
    JRXRdbmsTran tran;
    env(kVm1, "web", true).linkOperation(tran, 9, 'O');
    linked.set_value();
    // Long enough for the named link to look before this one is committed: it then finds
    // the stand-in only as it inserts its own (SQLite: it waits to begin at all).
    std::this_thread::sleep_for(std::chrono::seconds(1));
    tran.commit();
  });
  linked.get_future().wait();
  JRXRdbmsTran tran;
  env(kVm1, "web").linkOperation(tran, 9, 'O');
  tran.commit();
  other.join();
  EXPECT_EQ(links(), Lines{"9|O|N|web"});
}

JRX_ON_EVERY_BACKEND(EnvRefsTest);

}  // namespace
}  // namespace jrxtest
