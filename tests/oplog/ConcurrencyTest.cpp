// Several agents' threads reporting at once, each through its own service object.
#include <atomic>
#include <thread>

#include "OpLogTestSupport.h"

using namespace JRX;
using namespace oplogtest;

namespace {

class ConcurrencyTest : public OpLogDbTest {};

TEST_P(ConcurrencyTest, TwoThreadsSavingDifferentOperationsLoseNothing) {
  const int kOps = 8;
  const int kReports = 6;
  std::atomic<int> failures{0};
  std::vector<std::string> errors[2];

  auto worker = [&](int t) {
    JRXOpLogLocal log(nullptr);
    for (int op = 0; op < kOps; ++op) {
      std::string id = "t" + std::to_string(t) + "-op" + std::to_string(op);
      for (int n = 0; n < kReports; ++n) {
        // A new text every other report, so that folding and appending both happen.
        auto r = report(id, n == 0 ? "vm.start" : "", n == kReports - 1 ? 3 : 0, n * 10,
                        kT0 + n, "step " + std::to_string(n / 2));
        r.operands = {t == 0 ? kVm1 : kVm2};
        if (log.saveProgress(r) != 0) {
          ++failures;
          errors[t].push_back(log.getContextLocal()->getLastError().message);
        }
      }
    }
  };
  std::thread a(worker, 0), b(worker, 1);
  a.join();
  b.join();

  EXPECT_EQ(failures.load(), 0) << (errors[0].empty() ? "" : errors[0][0])
                                << (errors[1].empty() ? "" : errors[1][0]);
  for (int t = 0; t < 2; ++t)
    for (int op = 0; op < kOps; ++op) {
      std::string id = "t" + std::to_string(t) + "-op" + std::to_string(op);
      OpRow row = onlyOp(id);
      EXPECT_EQ(row.status, 3) << id;
      auto data = dataRows(row.op_id);
      // Texts 0,0,1,1,2 then the end report: rows "0", "1", "2" and the end row.
      ASSERT_EQ(data.size(), 4u) << id;
      EXPECT_EQ(data[3].status, 3);
      EXPECT_EQ(linkSummary(row.op_id),
                (std::vector<std::string>{t == 0 ? "O N vm-1" : "O N vm-2", "P N node-1",
                                          "S Y local-node"}))
          << id;
    }
}

INSTANTIATE_TEST_SUITE_P(Db, ConcurrencyTest, ::testing::ValuesIn(jrxtest::backends()),
                         jrxtest::BackendName());

}  // namespace
