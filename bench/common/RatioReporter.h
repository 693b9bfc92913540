// The rates of each run, kept so that a program can print its ratios after all runs. A case
// registered several times (in turns with its baseline) keeps one rate
// per run, and the ratios are medians over the runs.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace opbench {

// Sets the `counter` of the run to iterations per second.
inline void countRate(benchmark::State& state, const char* counter) {
  state.counters[counter] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

inline double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
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
      rates_[name].push_back(it->second.value);
      const double cpu = r.cpu_accumulated_time;
      cpuRates_[name].push_back(cpu > 0 ? static_cast<double>(r.iterations) / cpu : 0);
    }
  }

  // The median rates of two cases, when both completed; `cpu`: by the process's CPU time
  // instead of the wall clock.
  bool both(const std::string& a, const std::string& b, double& rateA, double& rateB,
            bool cpu = false) const {
    const auto& m = cpu ? cpuRates_ : rates_;
    auto x = m.find(a), y = m.find(b);
    if (x == m.end() || y == m.end()) return false;
    rateA = median(x->second);
    rateB = median(y->second);
    return rateB > 0;
  }

  // Median over the runs of a's rate / b's rate, the n-th run of each taken together (runs
  // registered in turns see the same load on a shared machine); `cpu`: by the process's
  // CPU time instead of the wall clock.
  double pairedRatio(const std::string& a, const std::string& b, bool cpu = false) const {
    const auto& m = cpu ? cpuRates_ : rates_;
    auto x = m.find(a), y = m.find(b);
    if (x == m.end() || y == m.end()) return 0;
    std::vector<double> r;
    for (size_t i = 0; i < x->second.size() && i < y->second.size(); ++i)
      if (y->second[i] > 0) r.push_back(x->second[i] / y->second[i]);
    return median(r);
  }

 private:
  std::string counter_;
  std::map<std::string, std::vector<double>> rates_, cpuRates_;
};

}  // namespace opbench
