// Several agents' threads reporting at once, each through its own service objects, about the
// same operations and the same environments: only the database separates them, and it must
// neither lose nor double anything, nor fail a call that did nothing wrong.
#include <atomic>
#include <cstdio>
#include <mutex>
#include <set>
#include <thread>

#include "JRXRetry.h"
#include "OpLogTestSupport.h"

using namespace JRX;
using namespace oplogtest;

namespace {

class ConcurrencyTest : public OpLogDbTest {};

const int kThreads = 4;
const int kEnvs = 5;        // environments none of the threads has seen before
const int kOwnOps = 4;      // operations each thread starts and ends
const int kSharedOps = 2;   // operations every thread reports about
const int kReports = 5;     // reports of each thread about each shared operation
const int kEvents = 4;      // events of each thread

JRXEID newEnv(int n) { return JRXEID(0xe0, static_cast<uint64_t>(n % kEnvs)); }
JRXInfo newEnvRef(int n) {
  return envRef(newEnv(n), "vm", "vm-new-" + std::to_string(n % kEnvs));
}

TEST_P(ConcurrencyTest, ThreadsReportingAboutTheSameOperationsAndEnvironmentsLoseNothing) {
  JRXOpLogLocal setup(nullptr);
  for (int k = 0; k < kSharedOps; ++k)
    ASSERT_EQ(setup.saveProgress(report("shared-" + std::to_string(k), "vm.migrate", 0, 0, kT0,
                                        "start")),
              0);

  std::mutex m;
  std::vector<std::string> errors;
  auto failed = [&](const std::string& what, const std::string& message) {
    std::lock_guard<std::mutex> lock(m);
    errors.push_back(what + ": " + message);
  };
  // A replay is no fault of the calls, but each is a lock cycle among writers that take
  // their locks in one order and should never meet one: told, for runs in a loop.
  std::atomic<int> replays{0};
  auto call = [&](const std::function<int()>& f) {
    return retryService(f, JRXRetryPolicy(),
                        [&](int, const std::string&, std::chrono::milliseconds) { ++replays; });
  };
  auto worker = [&](int t) {
    JRXOpLogLocal log(nullptr);
    JRXEventLogLocal events(nullptr);
    for (int i = 0; i < kOwnOps; ++i) {
      // Named source and operand: both new environments, in the other threads' too.
      const std::string id = "t" + std::to_string(t) + "-op" + std::to_string(i);
      auto first = report(id, "vm.start", 0, 0, kT0, "starting");
      first.info.addParameter("source_env", newEnvRef(t + i));
      first.info.addParameter("env", newEnvRef(t + i + 1));
      // A call the database gave up for another session's sake is replayed, as an agent does.
      if (call([&] { return log.saveProgress(first); }) != 0)
        failed(id, log.getContextLocal()->getLastError().message);
      if (call([&] { return log.saveProgress(report(id, "", 3, 100, kT0 + 1, "done")); }) != 0)
        failed(id, log.getContextLocal()->getLastError().message);
    }
    for (int n = 0; n < kReports; ++n)
      for (int k = 0; k < kSharedOps; ++k) {
        // A text of its own each time, so every report adds a row.
        auto r = report("shared-" + std::to_string(k), "", 0, n, kT0 + n,
                        "t" + std::to_string(t) + " step " + std::to_string(n));
        r.info.addParameter("env", newEnvRef(n + k));
        if (call([&] { return log.saveProgress(r); }) != 0)
          failed("shared", log.getContextLocal()->getLastError().message);
      }
    for (int e = 0; e < kEvents; ++e) {
      JRXEvent ev("monitor");
      ev.guid = JRXGUID::generate();
      ev.time = kT0 + e;
      ev.category = "monitor";
      ev.type = "alert";
      ev.info = JRXInfo("disk full");
      ev.info.addParameter("source_env", newEnvRef(e + t));
      ev.info.addParameter("env", newEnvRef(e + t + 2));
      if (call([&] { return events.saveEvent(ev); }) != 0)
        failed("event", events.getContextLocal()->hasLastError()
                            ? events.getContextLocal()->getLastError().message
                            : "");
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(worker, t);
  for (std::thread& t : threads) t.join();
  std::printf("[ replays  ] %d\n", replays.load());
  ASSERT_EQ(errors, std::vector<std::string>());

  // One env_log row per environment: the new ones, the local node and the executing node.
  env_log envs;
  EXPECT_EQ(countRows(envs), kEnvs + 2);
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kOwnOps; ++i) {
      const std::string id = "t" + std::to_string(t) + "-op" + std::to_string(i);
      const OpRow op = onlyOp(id);
      EXPECT_EQ(op.status, 3) << id;
      EXPECT_EQ(dataRows(op.op_id).size(), 2u) << id;
      EXPECT_EQ(linkSummary(op.op_id),
                (std::vector<std::string>{"O N vm-new-" + std::to_string((t + i + 1) % kEnvs),
                                          "P N node-1",
                                          "S N vm-new-" + std::to_string((t + i) % kEnvs)}))
          << id;
    }
  for (int k = 0; k < kSharedOps; ++k) {
    const OpRow op = onlyOp("shared-" + std::to_string(k));
    EXPECT_EQ(op.status, 2);
    EXPECT_EQ(dataRows(op.op_id).size(), static_cast<size_t>(1 + kThreads * kReports));
    // Each named environment linked once; the local stand-in operand gave way to them.
    std::vector<std::string> expected{"P N node-1", "S Y local-node"};
    std::set<std::string> named;
    for (int n = 0; n < kReports; ++n) named.insert("O N vm-new-" + std::to_string((n + k) % kEnvs));
    expected.insert(expected.begin(), named.begin(), named.end());
    EXPECT_EQ(linkSummary(op.op_id), expected);
  }
  op_log ops;
  EXPECT_EQ(countRows(ops), kSharedOps + kThreads * kOwnOps);
  events_log evs;
  events_log_env evLinks;
  EXPECT_EQ(countRows(evs), kThreads * kEvents);
  EXPECT_EQ(countRows(evLinks), 2 * kThreads * kEvents);
}

INSTANTIATE_TEST_SUITE_P(Db, ConcurrencyTest, ::testing::ValuesIn(jrxtest::backends()),
                         jrxtest::BackendName());

}  // namespace
