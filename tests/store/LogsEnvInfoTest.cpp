// Environment references: their env_log rows and the links to them.
#include <future>
#include <thread>

#include "LogDbFixture.h"

using namespace JRX;
using namespace JRX::logdb;

namespace jrxtest {
namespace {

class EnvRefsTest : public LogDbFixture {};

// A named link that meets the same environment's stand-in link, which another session made
// and committed while this one was linking, takes it over: the link ends named either way.
TEST_P(EnvRefsTest, ANamedLinkTakesOverAStandInLinkedMeanwhile) {
  const auto env = [](bool standIn) { return LogsEnvInfo(envRef(kVm1, "vm", "web"), standIn); };
  {
    JRXRdbmsTran tran;
    env(false).getSqlID(tran);
    tran.commit();
  }
  std::promise<void> linked;
  std::thread other([&] {
    JRXRdbmsTran tran;
    env(true).linkOperation(tran, 9, 'O');
    linked.set_value();
    // Long enough for the named link to look before this one is committed: it then finds
    // the stand-in only as it inserts its own (SQLite: it waits to begin at all).
    std::this_thread::sleep_for(std::chrono::seconds(1));
    tran.commit();
  });
  linked.get_future().wait();
  JRXRdbmsTran tran;
  env(false).linkOperation(tran, 9, 'O');
  tran.commit();
  other.join();
  op_log_env l;
  env_log e;
  EXPECT_EQ(rowsOf({&l, &e}, {&l->op_id, &l->role, &l->is_default, &e->title}, l->env_id == e->id),
            Lines{"9|O|N|web"});
}

JRX_ON_EVERY_BACKEND(EnvRefsTest);

}  // namespace
}  // namespace jrxtest
