// The request frame around the write path: rights before any database work, the last-error
// rule, and failures that a replay of the call gets over.
#include "JRXRetry.h"
#include "LogDbFixture.h"

using namespace JRX;

namespace jrxtest {
namespace {

class FrameTest : public LogDbFixture {};

TEST_P(FrameTest, RightsAreCheckedOverTheOperandsBeforeAnyDatabaseWork) {
  auto rights = std::make_shared<JRXRightsTable>();
  rights->grant(kVm1, 55);
  actAs(rights);
  JRXOpLogLocal log(nullptr);
  auto r = report("req-1", "vm.start", 0, 0, kT0, "a");
  r.operands = {kVm2};
  ASFaults::Clear();
  EXPECT_EQ(log.saveProgress(r), 414);
  EXPECT_EQ(log.putOps({r, r}), 414);
  EXPECT_EQ(ASFaults::StatementsSeen(), 0);
  EXPECT_FALSE(log.getContextLocal()->hasLastError());
  EXPECT_EQ(log.endedCommands().size(), 2u);  // putOps's own and its record's
  // The check narrows a copy: the operand it refused is still linked from the record.
  r.operands = {kVm1, kVm2};
  EXPECT_EQ(log.saveProgress(r), 0);
  op_log_env links;
  EXPECT_EQ(rowsOf({&links}, {&links->role}, links->role == "O"), (Lines{"O", "O"}));

  // An earlier, telling error survives a later bare refusal.
  JRXAccessChecker::setClientContext(nullptr);
  EXPECT_EQ(log.putOps({report("req-2", "", 0, 0, kT0, "a")}), 3101);
  actAs(rights);
  EXPECT_EQ(log.putOps({report("req-3", "vm.start", 0, 0, kT0, "a")}), 414);
  EXPECT_EQ(log.getContextLocal()->getLastError().message, "Can't save operation without name");
}

// Every service that fails for another session's sake (a conflict, a lost connection) tells
// the framework so, and the retry helper replays it: a conflict at its first statement costs
// one replay, not the call. Any other failure is not replayed; failed runs leave nothing.
TEST_P(FrameTest, EveryServiceIsReplayedAfterATransientFailure) {
  fillLog();
  JRXOpLogLocal ops(nullptr);
  JRXEventLogLocal events(nullptr);
  std::vector<JRXRequestProgressData> records;
  std::vector<JRXEvent> found;
  std::vector<JRXListingPlace> places;
  std::vector<long long> keys;
  const JRXEID any = JRXEID::EID_INVALID;
  const std::vector<std::pair<const char*, std::function<int()>>> calls{
      {"getOps", [&] { return ops.getOps(&records, any, "", "", "", false, false, 9, 0, kNoUpper); }},
      {"getOpsAfter",
       [&] { return ops.getOpsAfter(&records, &places, nullptr, any, "", "", "", false, false, 9, false, {}); }},
      {"getOpsStored",
       [&] { return ops.getOpsStored(&records, &places, &keys, {{0, 99}}, 9, any, "", "", "", false, {}); }},
      {"getNewestKeys of operations", [&] { return ops.getNewestKeys(&keys, 3); }},
      {"saveProgress", [&] { return ops.saveProgress(report("new", "vm.start", 0, 0, kT0, "x")); }},
      {"finishOps", [&] { return ops.finishOps(); }},
      {"getEvents", [&] { return events.getEvents(&found, any, true, 9, "", "", true, 0, kNoUpper); }},
      {"getEventsAfter",
       [&] { return events.getEventsAfter(&found, &places, nullptr, any, true, 9, "", "", true, {}); }},
      {"getEventsStored",
       [&] { return events.getEventsStored(&found, &places, &keys, {{0, 99}}, 9, any, true, "", "", true, {}); }},
      {"getNewestKeys of events", [&] { return events.getNewestKeys(&keys, 3); }},
      {"saveEvent", [&] { return events.saveEvent(event(kNode)); }},
  };
  int replays = 0;
  const auto retried = [&](const std::function<int()>& call) {
    replays = 0;
    const int answer =
        retryService(call, {3, std::chrono::milliseconds(0), std::chrono::milliseconds(0)},
                     [&](int, const std::string&, std::chrono::milliseconds) { ++replays; });
    ASFaults::Clear();
    return answer;
  };
  for (const auto& c : calls) {
    SCOPED_TRACE(c.first);
    ASFaults::ConflictStatement(1);
    EXPECT_EQ(retried(c.second), 0);
    EXPECT_EQ(replays, 1);
  }
  const auto save = [&] { return ops.saveProgress(report("once", "x", 0, 0, kT0, "a")); };
  ASFaults::DropConnection(1, "op_log_data");
  ASFaults::DropConnection(2, "op_log_data");
  EXPECT_EQ(retried(save), 0);
  EXPECT_EQ(replays, 2);
  ASFaults::FailStatement(1, "op_log_data");
  EXPECT_EQ(retried([&] { return ops.saveProgress(report("never", "x", 0, 0, kT0, "a")); }), 3101);
  EXPECT_EQ(replays, 0);
  op_log o;
  op_log_data d;
  EXPECT_EQ(rowsOf({&o, &d}, {&o->id},
                   d->op_id == o->op_id && (o->id == "once" || o->id == "never")),
            Lines{"once"});
  JRXDatabase::close();
  EXPECT_EQ(save(), 3101);
  EXPECT_FALSE(ops.getContextLocal()->getLastError().message.empty());
}

JRX_ON_EVERY_BACKEND(FrameTest);

}  // namespace
}  // namespace jrxtest
