// Several agents' threads reporting at once, each through its own service objects, about the
// same operations and the same new environments: only the database separates them, and it
// must neither lose nor double anything, nor fail a call that did nothing wrong. (Events and
// operations of their own, while the sweep runs: LogSweepTest.)
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

#include "JRXRetry.h"
#include "LogDbFixture.h"

using namespace JRX;

namespace jrxtest {
namespace {

class ConcurrencyTest : public LogDbFixture {};

const int kThreads = 4;
const int kEnvs = 5;        // environments none of the threads has seen before
const int kSharedOps = 2;   // operations every thread reports about
const int kReports = 5;     // reports of each thread about each operation, naming every env

TEST_P(ConcurrencyTest, ThreadsReportingAboutTheSameOperationsAndEnvironmentsLoseNothing) {
  JRXOpLogLocal setup(nullptr);
  for (int k = 0; k < kSharedOps; ++k)
    ASSERT_EQ(setup.saveProgress(report("shared-" + std::to_string(k), "vm.migrate", 0, 0, kT0,
                                        "start")),
              0);

  std::mutex m;
  std::vector<std::string> errors;
  // A replay is no fault of the calls, but each is a lock cycle among writers that take
  // their locks in one order and should never meet one: told, for runs in a loop.
  std::atomic<int> replays{0};
  auto call = [&](const std::function<int()>& f) {
    return retryService(f, JRXRetryPolicy(),
                        [&](int, const std::string&, std::chrono::milliseconds) { ++replays; });
  };
  auto worker = [&](int t) {
    JRXOpLogLocal log(nullptr);
    for (int n = 0; n < kReports; ++n)
      for (int k = 0; k < kSharedOps; ++k) {
        // A text of its own each time, so every report adds a row.
        auto r = report("shared-" + std::to_string(k), "", 0, n, kT0 + n,
                        "t" + std::to_string(t) + " step " + std::to_string(n));
        r.info.addParameter("env", envRef(JRXEID(0xe0, (n + k) % kEnvs), "vm",
                                          "vm-new-" + std::to_string((n + k) % kEnvs)));
        if (call([&] { return log.saveProgress(r); }) == 0) continue;
        std::lock_guard<std::mutex> lock(m);
        errors.push_back(log.getContextLocal()->getLastError().message);
      }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(worker, t);
  for (std::thread& t : threads) t.join();
  std::printf("[ replays  ] %d\n", replays.load());
  ASSERT_EQ(errors, std::vector<std::string>());

  // One env_log row per environment: the new ones, the local node and the executing node.
  EXPECT_EQ(fieldsOf<env_log>().size(), kEnvs + 2u);
  // Per operation: its status with each of its texts, and its links.
  op_log o;
  op_log_data d;
  op_log_env l;
  env_log e;
  std::vector<std::string> texts, links;
  for (int k = 0; k < kSharedOps; ++k) {
    const std::string id = "shared-" + std::to_string(k);
    texts.insert(texts.end(), 1 + kThreads * kReports, id + "|2");
    // Each named environment linked once; the local stand-in operand gave way to them.
    for (int n = 0; n < kEnvs; ++n) links.push_back(id + "|O|N|vm-new-" + std::to_string(n));
    links.insert(links.end(), {id + "|P|N|node-1", id + "|S|Y|local-node"});
  }
  std::sort(texts.begin(), texts.end());
  std::sort(links.begin(), links.end());
  EXPECT_EQ(rowsOf({&o, &d}, {&o->id, &o->status}, d->op_id == o->op_id), texts);
  EXPECT_EQ(rowsOf({&o, &l, &e}, {&o->id, &l->role, &l->is_default, &e->title},
                   l->op_id == o->op_id && e->id == l->env_id),
            links);
}

JRX_ON_EVERY_BACKEND(ConcurrencyTest);

}  // namespace
}  // namespace jrxtest
