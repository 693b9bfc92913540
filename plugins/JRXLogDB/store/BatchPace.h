// How many rows the next batch of a removal takes.
#pragma once

#include <algorithm>
#include <chrono>

namespace JRX {

// A batch's transaction should hold its locks (on SQLite: the whole file) about this long.
const std::chrono::milliseconds kBatchHold(20);

// As many rows as the caller allows, but fewer when a batch of that many would hold its
// transaction longer than kBatchHold; never fewer than kLeastRows (or the caller's rows,
// when those are fewer), which take a few milliseconds at most on a machine that is not
// starved for time: fewer would only make more batches. How long a row takes differs by
// table and by the machine's load (a batch whose thread lost the processor holds its locks
// all that while), so each batch's time sizes the next. Batches start at the least size
// and grow at most twofold from one to the next: one quick batch may have been lucky.
class BatchPace {
 public:
  static constexpr unsigned kLeastRows = 100;
  explicit BatchPace(unsigned most)
      : most_(std::max(most, 1u)), least_(std::min(most_, kLeastRows)), rows_(least_) {}
  unsigned rows() const { return rows_; }
  // A batch of rows() held its transaction for `held`.
  void took(std::chrono::steady_clock::duration held) {
    const double t = std::chrono::duration<double>(held).count();
    const double fits = t > 0 ? rows_ * std::chrono::duration<double>(kBatchHold).count() / t
                              : rows_ * 2.0;
    const double next = std::min(fits, rows_ * 2.0);
    rows_ = static_cast<unsigned>(std::max<double>(least_, std::min<double>(next, most_)));
  }

 private:
  unsigned most_, least_, rows_;
};

}  // namespace JRX
