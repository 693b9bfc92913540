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
  }

  void printRatios(int nameWidth) const {
    std::printf("\nTime per call, small vs large log (goal: ratio under 3)\n");
    for (auto& b : perCall_)
      for (auto& c : b.second) {
        auto& bySize = c.second;
        if (bySize.size() < 2) continue;
        double a = bySize.begin()->second, z = bySize.rbegin()->second;
        std::printf("  %-8s %-*s %8d %s: %8.1f us   %8d %s: %8.1f us   ratio %.2f\n",
                    b.first.c_str(), nameWidth, c.first.c_str(), bySize.begin()->first,
                    records_.c_str(), a, bySize.rbegin()->first, records_.c_str(), z, z / a);
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
};

// A program's run: the cases of every backend at a small and a large size (the last one
// flagged), registered once and run once, then the ratios.
inline int runBySize(int argc, char** argv, LogSizes& logs, int nameWidth,
                     const std::function<void(const std::string&, int, bool)>& registerCases) {
  benchmark::Initialize(&argc, argv);
  const auto sizes = bySize(std::vector<int>{1000, 20000}, std::vector<int>{10000, 1000000});
  for (const std::string& backend : backends())
    for (int size : sizes) registerCases(backend, size, size == sizes.back());
  benchmark::RunSpecifiedBenchmarks();
  logs.close();
  logs.printRatios(nameWidth);
  benchmark::Shutdown();
  return 0;
}

}  // namespace opbench
