// Write rate of one agent process with 1, 2, 4 and 8 threads saving at once: progress reports
// and events per second, each as a ratio to one thread on the same database in the same run.
// Every thread calls the services on its own thread, so the connection pool gives it its own
// connection; the threads report about operations of their own and about operations they all
// share, naming a VM of their own beside the node and VM every thread names, as an agent's
// threads do. A call that failed only because of the other threads (a busy SQLite file, a
// deadlock) is replayed, and the replays are counted.
//
// SQLite always; MariaDB when JRX_TEST_MARIADB_URL names a server. JRX_BENCH_SMALL=1 for a
// quick run.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AgentRecords.h"
#include "BenchDb.h"
#include "JRXRetry.h"
#include "RatioReporter.h"

using namespace JRX;
using namespace opbench;

namespace {

const int kThreadCounts[] = {1, 2, 4, 8};
const int kSharedOps = 2;
const int kOwnLaterReports = 2;
const int kRecordsPerOp = 1 + kOwnLaterReports + 1 + 1;  // own reports, a shared one, the event

JRXEID ownVm(int thread) { return JRXEID(0x7e, 0x100 + static_cast<uint64_t>(thread)); }

std::string caseName(const std::string& backend, int threads) {
  return backend + "/" + std::to_string(threads) + (threads == 1 ? " thread" : " threads");
}

std::map<std::string, long> replaysByCase;

// The case's threads live through all its rounds, so each connects once, before the clock runs;
// a round starts them together and ends when the last is done. The threads take the round's
// operations one at a time from a common count, so none idles while another still has a queue.
class Writers {
 public:
  Writers(int threads, int opsPerRound) : opsPerRound_(opsPerRound) {
    for (int t = 0; t < threads; ++t) pool_.emplace_back([this, t] { run(t); });
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [&] { return ready_ == static_cast<int>(pool_.size()); });
  }
  ~Writers() {
    {
      std::lock_guard<std::mutex> lock(m_);
      stop_ = true;
    }
    cv_.notify_all();
    for (auto& t : pool_) t.join();
  }

  // False when a call was refused even after its replays.
  bool round() {
    std::unique_lock<std::mutex> lock(m_);
    done_ = 0;
    next_ = 0;
    ++round_;
    cv_.notify_all();
    cv_.wait(lock, [&] { return done_ == static_cast<int>(pool_.size()); });
    return error_.empty();
  }
  long replays() const { return replays_; }
  std::string error() {
    std::lock_guard<std::mutex> lock(m_);
    return error_;
  }

 private:
  void run(int t) {
    JRXOpLogLocal log(nullptr);
    JRXEventLogLocal events(nullptr);
    const JRXRetryPolicy policy{10};
    auto counted = [this](int, const std::string&, std::chrono::milliseconds) { ++replays_; };
    auto save = [&](JRXRequestProgressData r) {
      r.operands.insert(ownVm(t));
      if (retryService([&] { return log.saveProgress(r); }, policy, counted) != 0)
        throw std::runtime_error(log.getContextLocal()->getLastError().message);
    };
    const std::string me = "t" + std::to_string(t);
    int seen = 0;
    try {
      save(report(me + "-connect", 0, 0, "starting"));
    } catch (const std::exception& e) {
      fail(e.what());
    }
    {
      std::lock_guard<std::mutex> lock(m_);
      ++ready_;
    }
    cv_.notify_all();
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [&] { return stop_ || round_ > seen; });
        if (stop_) return;
        seen = round_;
      }
      try {
        for (int i; (i = next_++) < opsPerRound_;) {
          const std::string id = "r" + std::to_string(seen) + "-" + std::to_string(i);
          save(report(id, 0, 0, "starting"));
          for (int n = 1; n <= kOwnLaterReports; ++n)
            save(report(id, 0, n * 30, "step " + std::to_string(n)));
          save(report("shared-" + std::to_string(i % kSharedOps), 0, 50, me + " " + id));
          const JRXEvent e = event(id);
          if (retryService([&] { return events.saveEvent(e); }, policy, counted) != 0)
            throw std::runtime_error(events.getContextLocal()->getLastError().message);
        }
      } catch (const std::exception& e) {
        fail(e.what());
      }
      {
        std::lock_guard<std::mutex> lock(m_);
        ++done_;
      }
      cv_.notify_all();
    }
  }

  void fail(const std::string& why) {
    std::lock_guard<std::mutex> lock(m_);
    if (error_.empty()) error_ = why.empty() ? "refused without a message" : why;
  }

  const int opsPerRound_;
  std::vector<std::thread> pool_;
  std::mutex m_;
  std::condition_variable cv_;
  int ready_ = 0, round_ = 0, done_ = 0;
  std::atomic<int> next_{0};
  bool stop_ = false;
  std::string error_;
  std::atomic<long> replays_{0};
};

void BM_Threads(benchmark::State& state, std::string backend, int threads) {
  const int opsPerThread = bySize(10, 60);
  BenchDb db = freshDb(backend, kLocal);
  putAgentEnvs();
  for (int t = 0; t < threads; ++t)
    JRXEnvDirectory::put(ownVm(t), "vm", "vm-own-" + std::to_string(t));
  // The shared operations are under way before the writers start, as in a running system.
  {
    JRXOpLogLocal setup(nullptr);
    for (int k = 0; k < kSharedOps; ++k)
      setup.saveProgress(report("shared-" + std::to_string(k), 0, 0, "starting"));
  }
  long replays = 0;
  {
    Writers writers(threads, threads * opsPerThread);
    for (auto _ : state) {
      const auto start = std::chrono::steady_clock::now();
      const bool ok = writers.round();
      state.SetIterationTime(
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      if (!ok) {
        state.SkipWithError(("a call was refused: " + writers.error()).c_str());
        break;
      }
    }
    replays = writers.replays();
  }
  state.counters["records/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * threads * opsPerThread * kRecordsPerOp,
      benchmark::Counter::kIsRate);
  state.counters["replays"] = static_cast<double>(replays);
  replaysByCase[caseName(backend, threads)] += replays;
  dropDb(db);
}

}  // namespace

int main(int argc, char** argv) {
  setLogSink(std::make_shared<JRXCapturingLogSink>());
  // The thread counts take turns, each on a fresh database, so that all of them see the same
  // load of a shared machine; a ratio is the median of the turns' ratios.
  for (int turn = 0; turn < bySize(2, 5); ++turn)
    for (const std::string& backend : backends())
      for (int n : kThreadCounts)
        benchmark::RegisterBenchmark(caseName(backend, n).c_str(), BM_Threads, backend, n)
            ->Iterations(bySize(1, 2))
            ->UseManualTime();
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter("records/s");
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\nwrite rate with N threads / 1 thread on the same database (median rate; "
              "median of the turns' ratios):\n");
  for (const std::string& backend : backends())
    for (int n : kThreadCounts) {
      const std::string name = caseName(backend, n), one = caseName(backend, 1);
      double rate = 0, oneRate = 0;
      if (reporter.both(name, one, rate, oneRate))
        std::printf("  %-18s %8.0f records/s  ratio %.2f  turns %.2f  replays %ld\n",
                    name.c_str(), rate, rate / oneRate, reporter.pairedRatio(name, one),
                    replaysByCase[name]);
    }
  benchmark::Shutdown();
  return 0;
}
