// Texts that would break a statement built by pasting are stored and found byte for byte.
#include "OpLogTestSupport.h"
#include "oplog/LogOp.h"

using namespace JRX;
using namespace oplogtest;

namespace {

std::string hostile(const std::string& tag) {
  static const char kNasty[] = "'; DROP TABLE op_log; -- \\' \" `x` %s %n \0 after-nul \\\\";
  return tag + std::string(kNasty, sizeof(kNasty) - 1);
}

class HostileTextTest : public OpLogDbTest {};

TEST_P(HostileTextTest, EveryTextFieldRoundTrips) {
  JRXOpLogLocal log(nullptr);
  auto r = report(hostile("id"), hostile("name"), 0, 1, kT0, hostile("text"));
  r.parentId = hostile("parent");
  r.sessionId = JRXSessionID(hostile("session"));
  r.info.addParameter("task_id", hostile("task"));
  r.info.addParameter("env", envRef(kVm1, hostile("type"), hostile("title")));
  r.info.addParameter(hostile("param"), hostile("value"));
  ASSERT_EQ(log.saveProgress(r), 0);

  OpRow op = onlyOp(r.id);
  EXPECT_EQ(op.id, r.id);
  EXPECT_EQ(op.op, r.name);
  EXPECT_EQ(op.parent_id, r.parentId);
  EXPECT_EQ(op.session_id, r.sessionId.text);
  EXPECT_EQ(taskOf(op.op_id), hostile("task"));
  auto data = dataRows(op.op_id);
  ASSERT_EQ(data.size(), 1u);
  EXPECT_EQ(data[0].info, stored(r.info));
  JRXInfo back;
  ASSERT_EQ(logdb::getInfoFromString(data[0].info.c_str(), back), 0);
  EXPECT_EQ(back, r.info);

  bool linked = false;
  for (const LinkRow& l : links(op.op_id))
    if (l.role == "O") {
      EXPECT_EQ(l.title, hostile("title"));
      EXPECT_EQ(l.type, hostile("type"));
      linked = true;
    }
  EXPECT_TRUE(linked);

  // Later reports find the operation by the same identifier, and only by it.
  auto later = r;
  later.name.clear();
  later.progress = 2;
  ASSERT_EQ(log.saveProgress(later), 0);
  ASSERT_EQ(log.saveProgress(report(r.id.substr(0, r.id.find('\0')), "other", 0, 0, kT0, "x")), 0);
  EXPECT_EQ(onlyOp(r.id).status, 2);
  EXPECT_EQ(dataRows(op.op_id).size(), 1u);
  EXPECT_EQ(dataRows(op.op_id)[0].progress, 2);
  EXPECT_EQ(onlyOp(r.id.substr(0, r.id.find('\0'))).op, "other");

  JRXRdbmsTran tran;
  auto read = logdb::getOp(tran, r.id);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->name, r.name);
  EXPECT_EQ(read->parentId, r.parentId);
  EXPECT_EQ(read->sessionId.text, r.sessionId.text);
}

TEST_P(HostileTextTest, IdentifiersDifferingInCaseOrTrailingSpaceAreDistinct) {
  JRXOpLogLocal log(nullptr);
  for (const char* id : {"req-1", "REQ-1", "req-1 ", "req-\xc3\xa9", "req-e"})
    ASSERT_EQ(log.saveProgress(report(id, id, 0, 0, kT0, "a")), 0) << id;
  for (const char* id : {"req-1", "REQ-1", "req-1 ", "req-\xc3\xa9", "req-e"}) {
    EXPECT_EQ(onlyOp(id).op, id);
    EXPECT_EQ(onlyOp(id).status, 1) << id;
  }
}

TEST_P(HostileTextTest, RestartMessageNamesTheIdentifierAsGiven) {
  JRXOpLogLocal log(nullptr);
  const std::string id = "100%s%d";
  ASSERT_EQ(log.saveProgress(report(id, "x", 0, 0, kT0, "a")), 0);
  ASSERT_EQ(log.saveProgress(report(id, "x", 1, 0, kT0, "a")), 0);
  auto records = logRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].text,
            "[saveProgress] New operation comes with the same ID (100%s%d), delete old operation "
            "(time 1701000000)");
}

INSTANTIATE_TEST_SUITE_P(Db, HostileTextTest, ::testing::ValuesIn(jrxtest::backends()),
                         jrxtest::BackendName());

}  // namespace
