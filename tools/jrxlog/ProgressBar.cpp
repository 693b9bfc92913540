#include "ProgressBar.h"

#include <unistd.h>

#include <algorithm>

#include "TableOutput.h"

namespace jrxlog {

std::string barText(int percent, int width, bool utf8) {
  const std::string shown = std::to_string(percent) + "%";
  percent = std::max(0, std::min(100, percent));
  const int inner = std::max(1, width - 2), full = inner * percent / 100;
  std::string s = "[";
  for (int i = 0; i < inner; ++i)
    s += i < full ? (utf8 ? "\xE2\x96\x88" : "#") : (utf8 ? "\xC2\xB7" : "-");
  return s + "] " + std::string(4 - std::min<size_t>(4, shown.size()), ' ') + shown;
}

ProgressBar::ProgressBar(int fd) : fd_(fd) {
  Terminal t = Terminal::of(fd);
  active_ = t.isTty;
  utf8_ = t.utf8;
  columns_ = t.columns;
}

ProgressBar::~ProgressBar() { finish(); }

void ProgressBar::update(uint64_t done, uint64_t total, uint64_t records, bool force) {
  if (!active_) return;
  auto now = std::chrono::steady_clock::now();
  if (drawn_ && !force && now - last_ < std::chrono::milliseconds(100)) return;
  last_ = now;
  std::string count = std::to_string(records) + " records";
  std::string line;
  if (total > 0) {
    const int percent = static_cast<int>(std::min<uint64_t>(100, done * 100 / total));
    line = barText(percent, std::max(10, std::min(50, columns_ - 25)), utf8_) + "  " + count;
  } else {
    line = "importing... " + count;
  }
  // \r back to the start, \x1b[K clears what a longer previous line left.
  std::string out = "\r" + line + "\x1b[K";
  ssize_t r = write(fd_, out.data(), out.size());
  (void)r;
  drawn_ = true;
}

void ProgressBar::finish() {
  if (!active_ || !drawn_) return;
  const char clear[] = "\r\x1b[K";
  ssize_t r = write(fd_, clear, sizeof clear - 1);
  (void)r;
  drawn_ = false;
}

}  // namespace jrxlog
