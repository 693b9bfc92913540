// What one call costs: its time, and the resident memory of the process from /proc (kB), the
// current size and the peak since the last resetPeak().
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

namespace opbench {

inline double secondsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

inline long procStatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string key = std::string(field) + ":";
  while (std::getline(in, line))
    if (line.compare(0, key.size(), key) == 0) return std::atol(line.c_str() + key.size());
  return -1;
}
inline long rssKb() { return procStatusKb("VmRSS"); }
inline long peakKb() { return procStatusKb("VmHWM"); }
// Starts a new peak at the current size (Linux: writing 5 to clear_refs resets VmHWM).
inline bool resetPeak() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  out.flush();
  return static_cast<bool>(out);
}

// Time and memory of one call: the peak it reached over the size before it.
struct CallCost {
  double seconds = 0;
  long beforeKb = 0;
  long peakOverKb = 0;
  bool peakReset = false;  // false: the peak is the process's since it started

  std::string text() const {
    char line[160];
    std::snprintf(line, sizeof line, "%.2f s, peak RSS %+ld kB over %ld kB%s", seconds,
                  peakOverKb, beforeKb, peakReset ? "" : " (peak not resettable: process peak)");
    return line;
  }
};

inline CallCost measureCall(const std::function<void()>& call) {
  CallCost cost;
  cost.beforeKb = rssKb();
  cost.peakReset = resetPeak();
  auto t0 = std::chrono::steady_clock::now();
  call();
  cost.seconds = secondsSince(t0);
  cost.peakOverKb = peakKb() - cost.beforeKb;
  return cost;
}

}  // namespace opbench
