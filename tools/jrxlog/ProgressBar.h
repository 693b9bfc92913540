// A one-line progress bar on a terminal (import), and the bar text itself (watch).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace jrxlog {

// "[#####-----]  50%": a bar of `width` characters in all for a percentage clamped to 0..100,
// and the percentage.
std::string barText(int percent, int width, bool utf8);

class ProgressBar {
 public:
  // Draws on `fd` only when it is a terminal; otherwise every call does nothing.
  explicit ProgressBar(int fd);
  ~ProgressBar();
  bool active() const { return active_; }
  // `total` 0 when the size of the input is unknown (a pipe): only counts are shown.
  void update(uint64_t done, uint64_t total, uint64_t records, bool force = false);
  // Clears the bar's line so that what follows starts on a clean line.
  void finish();

 private:
  int fd_;
  bool active_;
  bool utf8_;
  int columns_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point last_;
};

}  // namespace jrxlog
