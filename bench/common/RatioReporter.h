// The rate counter of each run, kept so that a program can print its ratios after all runs.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace opbench {

// Sets the `counter` of the run to iterations per second.
inline void countRate(benchmark::State& state, const char* counter) {
  state.counters[counter] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(std::string counter, OutputOptions options = OO_Defaults)
      : ConsoleReporter(options), counter_(std::move(counter)) {}

  // Under the name the run was registered with, without the suffixes of its options.
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      auto it = r.counters.find(counter_);
      if (r.error_occurred || it == r.counters.end()) continue;
      std::string name = r.benchmark_name();
      for (const char* option : {"/min_time", "/real_time", "/iterations:", "/manual_time"})
        name = name.substr(0, name.find(option));
      rates_[name] = it->second.value;
    }
  }

  // The rates of two runs, when both completed.
  bool both(const std::string& a, const std::string& b, double& rateA, double& rateB) const {
    auto x = rates_.find(a), y = rates_.find(b);
    if (x == rates_.end() || y == rates_.end() || y->second <= 0) return false;
    rateA = x->second;
    rateB = y->second;
    return true;
  }

 private:
  std::string counter_;
  std::map<std::string, double> rates_;
};

}  // namespace opbench
