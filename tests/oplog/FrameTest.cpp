// What every service of both logs does alike: rights before any database work, the last-error
// rule, failures that a replay of the call gets over, and texts kept byte for byte.
#include "JRXRetry.h"
#include "LogDbFixture.h"

using namespace JRX;

namespace jrxtest {
namespace {

// Short, medium or long; long texts share their first 300 bytes, beyond any index prefix.
std::string randomText(std::mt19937& rng) {
  const unsigned kind = rng() % 4;
  return hostileText(rng, 11, kind == 1   ? std::string(300, 'p')
                              : kind == 2 ? std::string(5000 + rng() % 70000, 'q')
                                          : std::string());
}

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
  auto wrongRight = std::make_shared<JRXRightsTable>();
  wrongRight->grantEverywhere(54);
  actAs(wrongRight);
  EXPECT_EQ(log.saveProgress(report("req-4", "vm.start", 0, 0, kT0, "a")), 414);
}

// A service failing for another session's sake (a conflict, a lost connection) is replayed by
// the retry helper; no other failure is, and failed runs leave nothing. (The services other
// tests fail at every statement are left out.)
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
      {"getOpsAfter",
       [&] { return ops.getOpsAfter(&records, &places, nullptr, any, "", "", "", false, false, 9, false, {}); }},
      {"getOpsStored",
       [&] { return ops.getOpsStored(&records, &places, &keys, {{0, 99}}, 9, any, "", "", "", false, {}); }},
      {"getNewestKeys of operations", [&] { return ops.getNewestKeys(&keys, 3); }},
      {"getEventsAfter",
       [&] { return events.getEventsAfter(&found, &places, nullptr, any, true, 9, "", "", true, {}); }},
      {"getEventsStored",
       [&] { return events.getEventsStored(&found, &places, &keys, {{0, 99}}, 9, any, true, "", "", true, {}); }},
      {"getNewestKeys of events", [&] { return events.getNewestKeys(&keys, 3); }},
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
  ASFaults::DropConnection(1, "op_log_data");
  ASFaults::DropConnection(2, "op_log_data");
  EXPECT_EQ(retried([&] { return ops.saveProgress(report("once", "x", 0, 0, kT0, "a")); }), 0);
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
  EXPECT_EQ(ops.saveProgress(report("closed", "x", 0, 0, kT0, "a")), 3101);
  EXPECT_FALSE(ops.getContextLocal()->getLastError().message.empty());
}

// Texts of every kind through every text field of both logs: each comes back exactly as given,
// or the record is refused with a clear error and nothing of it is stored.
TEST_P(FrameTest, TextsKeepTheirBytesOrAreRefusedWhole) {
  JRXOpLogLocal ops(nullptr);
  JRXEventLogLocal events(nullptr);
  // Identifiers differing in case or trailing space are distinct.
  const Lines ids{"100%s%d", "REQ-1", "req-1", "req-1 ", "req-e", "req-\xc3\xa9"};
  for (const std::string& id : ids) ASSERT_EQ(ops.saveProgress(report(id, id, 0, 0, kT0, "a")), 0);
  op_log o;
  EXPECT_EQ(rowsOf({&o}, {&o->id}), ids);
  ASSERT_EQ(ops.saveProgress(report(ids[0], "x", 1, 0, kT0, "a")), 0);
  EXPECT_EQ(records(2), Lines{"[saveProgress] New operation comes with the same ID (100%s%d), "
                              "delete old operation (time 1701000000)"});

  // A title is part of a key: beyond its width an event is refused whole, saying why.
  const Lines before = allLogRows();
  JRXEvent big = event(kVm1);
  big.info.addParameter("env", envRef(kVm2, "vm", std::string(kEnvTitleBytes + 1, 't')));
  EXPECT_EQ(events.saveEvent(big), 3101);
  EXPECT_NE(events.endedCommands().back().message.find("width of 1024 bytes"), std::string::npos)
      << events.endedCommands().back().message;
  EXPECT_EQ(allLogRows(), before);

  const unsigned seed = randomSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  auto randomRef = [&](const JRXEID& eid) {
    return envRef(eid, randomText(rng) + "t", randomText(rng).substr(0, kEnvTitleBytes - 1) + "n");
  };
  for (int i = 0; i < 12; ++i) {
    SCOPED_TRACE(i);
    // An operation: the identifier ends distinctly, texts around it are random.
    JRXRequestProgressData r = report(randomText(rng) + "#" + std::to_string(i),
                                      randomText(rng) + "n", 0, 0, 0, randomText(rng));
    r.parentId = randomText(rng);
    r.sessionId = JRXSessionID(randomText(rng));
    const std::string task = randomText(rng);
    r.info.addParameter("task_id", task);
    const JRXInfo operand = randomRef(JRXEID(0xe00 + i, 1));
    r.info.addParameter("env", operand);
    r.info.addParameter(randomText(rng), randomText(rng));
    ASSERT_EQ(ops.saveProgress(r), 0) << ops.endedCommands().back().message;

    std::vector<JRXRequestProgressData> read;
    ASSERT_EQ(ops.getOps(&read, JRXEID::EID_INVALID, "", r.id, "", false, false, 5, 0, kNoUpper), 0);
    ASSERT_TRUE(read.size() == 1u && read[0].id == r.id && read[0].name == r.name &&
                read[0].parentId == r.parentId && read[0].sessionId.text == r.sessionId.text &&
                read[0].info == r.info);
    op_log_task t;
    op_log_env l;
    env_log e;
    EXPECT_EQ(rowsOf({&t, &l, &e, &o}, {&t->task_id, &e->title, &e->type},
                     t->op_id == o->op_id && l->op_id == o->op_id && o->id == r.id &&
                         l->role == "O" && e->id == l->env_id),
              Lines{escaped(task) + "|" + escaped(operand.getParameter("title")->getText()) + "|" +
                    escaped(operand.getParameter("type")->getText())});

    // An audit event about its own source, with a resource and a further environment.
    JRXEvent ev = auditEvent(JRXEID(0xe00 + i, 2), randomText(rng), 0, randomText(rng));
    ev.category = randomText(rng);
    ev.info.setText(randomText(rng));
    ev.info.addParameter("env", randomRef(JRXEID(0xe00 + i, 3)));
    const std::string resource = randomText(rng), resourceType = randomText(rng);
    ev.info.addParameter("id", resource);
    ev.info.addParameter("type", resourceType);
    ASSERT_EQ(events.saveEvent(ev), 0) << events.endedCommands().back().message;

    std::vector<JRXEvent> got;
    ASSERT_EQ(events.getEvents(&got, JRXEID(0xe00 + i, 2), true, 5, "", "", true, 0, kNoUpper), 0);
    ASSERT_EQ(got.size(), 1u);
    auto back = boost::dynamic_pointer_cast<JRXAuditEvent>(got[0].data);
    EXPECT_TRUE(back && got[0].category == ev.category && got[0].info == ev.info &&
                *back == *boost::dynamic_pointer_cast<JRXAuditEvent>(ev.data));
    events_log_resource res;
    events_log stored;
    EXPECT_EQ(rowsOf({&res, &stored}, {&res->resource_id, &res->resource_type},
                     res->event_id == stored->event_id && stored->guid == ev.guid.toString()),
              Lines{escaped(resource) + "|" + escaped(resourceType)});
  }
}

JRX_ON_EVERY_BACKEND(FrameTest);

}  // namespace
}  // namespace jrxtest
