// The size of a removal's batches: bounded by the caller's rows and by time, never empty.
#include <gtest/gtest.h>

#include "store/BatchPace.h"

using namespace JRX;
using std::chrono::milliseconds;

namespace jrxtest {
namespace {

TEST(BatchPaceTest, BatchesGrowByStepsUpToTheCallersRowsAndShrinkWithTheirTime) {
  BatchPace pace(5000);
  EXPECT_EQ(pace.rows(), 100u);
  // Quick batches double, and never pass what the caller allows.
  unsigned last = pace.rows();
  for (int i = 0; i < 20; ++i) {
    pace.took(milliseconds(0));
    EXPECT_LE(pace.rows(), 2 * last);
    EXPECT_LE(pace.rows(), 5000u);
    last = pace.rows();
  }
  EXPECT_EQ(pace.rows(), 5000u);
  // A batch that held its transaction ten times too long makes the next a tenth.
  pace.took(kBatchHold * 10);
  EXPECT_EQ(pace.rows(), 500u);
  // However long a batch took, the next takes the least.
  for (int i = 0; i < 5; ++i) pace.took(std::chrono::hours(1));
  EXPECT_EQ(pace.rows(), BatchPace::kLeastRows);
  pace.took(kBatchHold / 4);
  EXPECT_EQ(pace.rows(), 2 * BatchPace::kLeastRows);
}

// Fewer rows than the least are taken as they are, whatever the batches' time: a caller's
// small batches stay the size it asked for.
TEST(BatchPaceTest, ACallerAllowingFewRowsGetsNoMoreAndNoneStillGetsOne) {
  BatchPace few(3);
  EXPECT_EQ(few.rows(), 3u);
  few.took(milliseconds(0));
  EXPECT_EQ(few.rows(), 3u);
  few.took(std::chrono::hours(1));
  EXPECT_EQ(few.rows(), 3u);
  BatchPace none(0);
  EXPECT_EQ(none.rows(), 1u);
  none.took(milliseconds(0));
  EXPECT_EQ(none.rows(), 1u);
}

}  // namespace
}  // namespace jrxtest
