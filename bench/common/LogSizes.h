// For the benchmarks that compare one call on a small and a large log: the database of each
// backend and size, filled when a case first needs it, and the time per call by size.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "BenchDb.h"
#include "CallCost.h"

namespace opbench {

// Cases are registered once and run in order; each switches to the database it needs, so
// that only one large log exists at a time.
class LogSizes {
 public:
  LogSizes(const JRX::JRXEID& local, std::function<void(int)> fill, std::string records)
      : local_(local), fill_(std::move(fill)), records_(std::move(records)) {}
  ~LogSizes() { close(); }

  void use(const std::string& backend, int size) {
    if (current_.backend == backend && size_ == size) return;
    close();
    size_ = size;
    current_ = freshDb(backend, local_);
    auto t0 = std::chrono::steady_clock::now();
    fill_(size);
    std::printf("%s: %d %s stored in %.1f s\n", backend.c_str(), size, records_.c_str(),
                secondsSince(t0));
    std::fflush(stdout);
  }

  void close() {
    if (!current_.backend.empty()) dropDb(current_);
    current_ = BenchDb();
    size_ = 0;
  }

  // Times `call` alone once per iteration (true: it returned what it should), `reset` first
  // untimed, and keeps the mean time per call under the backend, case and size.
  void timeCalls(benchmark::State& state, const std::string& backend, const std::string& name,
                 int size, const std::function<void()>& reset, const std::function<bool()>& call) {
    double total = 0;
    long calls = 0;
    const long before = rssKb();
    const bool peakReset = resetPeak();
    for (auto _ : state) {
      reset();
      auto t0 = std::chrono::steady_clock::now();
      bool ok = call();
      total += secondsSince(t0) * 1e6;
      ++calls;
      if (!ok) {
        state.SkipWithError(("wrong outcome of " + name).c_str());
        break;
      }
    }
    if (calls) perCall_[backend][name][size] = total / calls;
    if (peakReset) peakOverKb_[backend][name][size] = peakKb() - before;
  }

  // Each size's time per call as a ratio to the smallest size's, and the peak memory the
  // calls reached over the process's size before them.
  void printRatios(int nameWidth) const {
    std::printf("\nTime per call by %s stored, as ratio to the smallest log (goal: under 3);"
                " peak RSS over the size before the calls\n",
                records_.c_str());
    for (auto& b : perCall_)
      for (auto& c : b.second) {
        auto& bySize = c.second;
        if (bySize.size() < 2) continue;
        const double base = bySize.begin()->second;
        std::printf("  %-8s %-*s", b.first.c_str(), nameWidth, c.first.c_str());
        for (auto& s : bySize) {
          std::printf("  %7d: %9.1f us", s.first, s.second);
          if (s.first != bySize.begin()->first) std::printf(" x%-5.2f", s.second / base);
          auto peak = peakOverKb_.find(b.first);
          if (peak != peakOverKb_.end() && peak->second.count(c.first) &&
              peak->second.at(c.first).count(s.first))
            std::printf(" %+6ld kB", peak->second.at(c.first).at(s.first));
        }
        std::printf("\n");
      }
  }

 private:
  JRX::JRXEID local_;
  std::function<void(int)> fill_;
  std::string records_;
  BenchDb current_;
  int size_ = 0;
  // Microseconds per call, by backend, case and size.
  std::map<std::string, std::map<std::string, std::map<int, double>>> perCall_;
  std::map<std::string, std::map<std::string, std::map<int, long>>> peakOverKb_;
};

// A program's run: the cases of every backend at ten thousand, a hundred thousand and a
// million rows (the last size flagged), registered once and run once, then the ratios.
inline int runBySize(int argc, char** argv, LogSizes& logs, int nameWidth,
                     const std::function<void(const std::string&, int, bool)>& registerCases) {
  benchmark::Initialize(&argc, argv);
  const auto sizes =
      bySize(std::vector<int>{1000, 5000, 20000}, std::vector<int>{10000, 100000, 1000000});
  for (const std::string& backend : backends())
    for (int size : sizes) registerCases(backend, size, size == sizes.back());
  benchmark::RunSpecifiedBenchmarks();
  logs.close();
  logs.printRatios(nameWidth);
  benchmark::Shutdown();
  return 0;
}

}  // namespace opbench
