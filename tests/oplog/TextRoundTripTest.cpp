// Texts of every kind through every text field of both logs: each comes back exactly as
// given, or the record is refused with a clear error and nothing of it is stored. Never
// changed on the way.
#include <boost/make_shared.hpp>
#include <random>

#include "OpLogTestSupport.h"
#include "oplog/LogOp.h"

using namespace JRX;
using namespace oplogtest;

namespace {

// Braces of the display-text templates, NUL, quoting and pattern characters of SQL, bytes
// that are not UTF-8, a lone lead byte, emoji and a right-to-left mark.
const std::vector<std::string> kPieces = {
    "{", "}", "{{", "}}", "{id}", "{title}", std::string(1, '\0'), "'", "\"", "\\", "%", "_",
    "--", "; DROP TABLE op_log; --", "\xff\xfe", "\xc3", "\xc3\xa9", "\xf0\x9f\x98\x80",
    "\xe2\x80\x8f", " ", "a", "Z", "\n"};

// Short, medium or long; long texts share their first 300 bytes, beyond any index prefix.
std::string randomText(std::mt19937& rng) {
  std::string out;
  switch (rng() % 4) {
    case 0:
      break;
    case 1:
      out = std::string(300, 'p');
      break;
    case 2:
      out = std::string(5000 + rng() % 70000, 'q');
      break;
    default:
      break;
  }
  const size_t pieces = rng() % 12;
  for (size_t i = 0; i < pieces; ++i) out += kPieces[rng() % kPieces.size()];
  return out;
}

class TextRoundTrip : public OpLogDbTest {
 protected:
  JRXEID envOf(int i, int k) const { return JRXEID(0xe00 + static_cast<uint64_t>(i), k); }

  JRXInfo randomRef(std::mt19937& rng, const JRXEID& eid) {
    return envRef(eid, randomText(rng) + "t", randomText(rng) + "n");
  }
};

TEST_P(TextRoundTrip, EveryTextFieldKeepsItsBytes) {
  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  JRXOpLogLocal ops(nullptr);
  JRXEventLogLocal events(nullptr);

  for (int i = 0; i < 12; ++i) {
    SCOPED_TRACE(i);
    // An operation: the identifier ends distinctly, texts around it are random.
    JRXRequestProgressData r(randomText(rng) + "#" + std::to_string(i));
    r.name = randomText(rng) + "n";
    r.parentId = randomText(rng);
    r.sessionId = JRXSessionID(randomText(rng));
    r.time = kT0;
    r.eid = kNode;
    r.info.setText(randomText(rng));
    const std::string task = randomText(rng);
    r.info.addParameter("task_id", task);
    const JRXInfo operand = randomRef(rng, envOf(i, 1));
    r.info.addParameter("env", operand);
    r.info.addParameter(randomText(rng), randomText(rng));
    ASSERT_EQ(ops.saveProgress(r), 0) << ops.endedCommands().back().message;

    std::unique_ptr<logdb::LogOp> read;
    {
      JRXRdbmsTran tran;
      read = logdb::getOp(tran, r.id);
    }
    ASSERT_TRUE(read);
    EXPECT_TRUE(read->id == r.id && read->name == r.name && read->parentId == r.parentId &&
                read->sessionId.text == r.sessionId.text);
    auto data = dataRows(read->op_id);
    ASSERT_EQ(data.size(), 1u);
    JRXInfo info;
    ASSERT_EQ(logdb::getInfoFromString(data[0].info.c_str(), info), 0);
    EXPECT_TRUE(info == r.info);
    EXPECT_TRUE(taskOf(read->op_id) == task);
    int operands = 0;
    for (const LinkRow& l : links(read->op_id))
      if (l.role == "O") {
        ++operands;
        EXPECT_TRUE(l.title == operand.getParameter("title")->getText());
        EXPECT_TRUE(l.type == operand.getParameter("type")->getText());
      }
    EXPECT_EQ(operands, 1);

    // An audit event about its own source, with a resource and a further environment.
    JRXEvent e("agent");
    e.guid = JRXGUID::generate();
    e.time = kT0 + i;
    e.category = randomText(rng);
    e.type = "audit";
    e.code = i;
    e.info.setText(randomText(rng));
    e.info.addParameter("source_env", randomRef(rng, envOf(i, 2)));
    e.info.addParameter("env", randomRef(rng, envOf(i, 3)));
    const std::string resource = randomText(rng), resourceType = randomText(rng);
    e.info.addParameter("id", resource);
    e.info.addParameter("type", resourceType);
    auto audit = boost::make_shared<JRXAuditEvent>();
    audit->session = randomText(rng);
    audit->detail = randomText(rng);
    audit->address.fromString("2001:db8::" + std::to_string(i));
    e.data = audit;
    ASSERT_EQ(events.saveEvent(e), 0) << events.endedCommands().back().message;

    std::vector<JRXEvent> got;
    ASSERT_EQ(events.getEvents(&got, envOf(i, 2), true, 5, "", "", true, 0, 2147483647), 0);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(got[0].category == e.category && got[0].info == e.info);
    auto back = boost::dynamic_pointer_cast<JRXAuditEvent>(got[0].data);
    ASSERT_TRUE(back);
    EXPECT_TRUE(*back == *audit);
    JRXRdbmsTran tran;
    events_log_resource res;
    ASCursor c(*tran);
    c.Project() << res->resource_id << res->resource_type;
    events_log ev;
    c.Set(res->event_id == ev->event_id && ev->guid == e.guid.toString());
    ASSERT_TRUE(c.Fetch());
    EXPECT_TRUE(res.resource_id.Bytes() == resource && res.resource_type.Bytes() == resourceType);
  }
}

// Beyond what a row may hold, a record is refused whole, saying why, on every database.
TEST_P(TextRoundTrip, OversizedRecordIsRefusedWhole) {
  JRXOpLogLocal ops(nullptr);
  auto r = report("big", "n", 0, 0, kT0, std::string(AS_MAX_ROW_BYTES, 'x'));
  EXPECT_EQ(ops.saveProgress(r), 3101);
  EXPECT_NE(ops.endedCommands().back().message.find("limit of 4194304 bytes"), std::string::npos)
      << ops.endedCommands().back().message;
  EXPECT_TRUE(opRows("big").empty());

  JRXEventLogLocal events(nullptr);
  JRXEvent e("agent");
  e.guid = JRXGUID::generate();
  e.info.addParameter("source_env", envRef(kVm1, "vm", std::string(AS_MAX_ROW_BYTES, 't')));
  EXPECT_EQ(events.saveEvent(e), 3101);
  events_log ev;
  EXPECT_EQ(countRows(ev), 0);
}

TEST_P(TextRoundTrip, IdentifiersDifferingInCaseOrTrailingSpaceAreDistinct) {
  JRXOpLogLocal log(nullptr);
  for (const char* id : {"req-1", "REQ-1", "req-1 ", "req-\xc3\xa9", "req-e"})
    ASSERT_EQ(log.saveProgress(report(id, id, 0, 0, kT0, "a")), 0) << id;
  for (const char* id : {"req-1", "REQ-1", "req-1 ", "req-\xc3\xa9", "req-e"}) {
    EXPECT_EQ(onlyOp(id).op, id);
    EXPECT_EQ(onlyOp(id).status, 1) << id;
  }
}

TEST_P(TextRoundTrip, RestartMessageNamesTheIdentifierAsGiven) {
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

INSTANTIATE_TEST_SUITE_P(Db, TextRoundTrip, ::testing::ValuesIn(jrxtest::backends()),
                         jrxtest::BackendName());

}  // namespace
