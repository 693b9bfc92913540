// The answer message of getOps: one element 1175 per record, nothing else around it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OpLogFixture.h"
#include "answers/JRXWriterData.h"

using namespace JRX;
using jrxtest::OpLogRows;

namespace {

class GetOpsAnswerTest : public jrxtest::OpLogFixture {
 protected:
  JRXOpLogLocal service{nullptr};
};

TEST_P(GetOpsAnswerTest, OneBareElementPerRecordInVectorOrder) {
  int first = OpLogRows::op("first", "copy", 2, 100);
  OpLogRows::progress(first, 10, 101, 1, JRXInfo("one"));
  OpLogRows::progress(first, 20, 102, 2, JRXInfo("two"));
  OpLogRows::op("second", "move", 2, 200);

  std::vector<JRXRequestProgressData> out;
  ASSERT_EQ(0, service.getOps(&out, JRXEID::EID_INVALID, "", "", "", false, false, kNoLimit, 0,
                              kNoUpper));
  ASSERT_EQ(3u, out.size());
  const JRXMessage* answer = service.answer();
  ASSERT_NE(nullptr, answer);
  EXPECT_EQ(0, service.answerWriteResult());
  const JRXMessageElement& root = answer->root();
  EXPECT_EQ(0, root.ns);
  EXPECT_EQ("", root.nsName);
  EXPECT_EQ(0, root.type);
  EXPECT_EQ("", root.typeName);
  ASSERT_EQ(3u, root.children.size());
  JRXMessageIterator it(const_cast<JRXMessageElement*>(&root));
  for (size_t i = 0; i < 3; ++i) {
    const JRXMessageElement& e = *root.children[i];
    EXPECT_EQ(1175, e.id);
    EXPECT_EQ(0, e.ns);
    EXPECT_EQ("", e.nsName);
    EXPECT_EQ(0, e.type);
    EXPECT_EQ("", e.typeName);
    EXPECT_EQ(0, e.nsType);
    JRXRequestProgressData back;
    ASSERT_EQ(0, it.getObj(back, 1175, i));
    EXPECT_EQ(out[i].id, back.id);
    EXPECT_EQ(out[i].name, back.name);
    EXPECT_EQ(out[i].progress, back.progress);
    EXPECT_EQ(out[i].status, back.status);
    EXPECT_EQ(out[i].time, back.time);
    EXPECT_EQ(out[i].info, back.info);
  }
}

TEST_P(GetOpsAnswerTest, NoOperationGivesAnAnswerWithoutChildren) {
  std::vector<JRXRequestProgressData> out;
  ASSERT_EQ(0, service.getOps(&out, JRXEID::EID_INVALID, "", "", "", false, false, 10, 0,
                              kNoUpper));
  ASSERT_NE(nullptr, service.answer());
  EXPECT_TRUE(service.answer()->root().children.empty());
}

INSTANTIATE_TEST_SUITE_P(Db, GetOpsAnswerTest, ::testing::ValuesIn(jrxtest::backends()),
                         jrxtest::BackendName());

// A record whose writer fails on demand, to see the answer writer stop cleanly.
struct Flaky {
  bool fail = false;
  struct Writer : JRXWriterBase {
    int operator()(JRXMessageIterator& it, const Flaky& v) const {
      it.putInt(1, v.fail ? 1 : 0);
      return v.fail ? 7 : 0;
    }
  };
};

// Counts how deep the writers went and whether they came back up.
class DepthIterator : public JRXMessageIterator {
 public:
  using JRXMessageIterator::JRXMessageIterator;
  void descend(int id) override {
    ++depth;
    if (id == 1175) ++opened;
    JRXMessageIterator::descend(id);
  }
  void ascend() override {
    --depth;
    JRXMessageIterator::ascend();
  }
  int depth = 0;
  int opened = 0;  // record elements
};

TEST(OpAnswerWriter, FailingRecordStopsTheListWithEveryElementClosed) {
  std::vector<Flaky> records(4);
  records[1].fail = true;
  std::unique_ptr<JRXMsgWriter> writer(newJRXWriterData(records, 1175));
  JRXMessage msg;
  DepthIterator it(const_cast<JRXMessageElement*>(&msg.root()));
  EXPECT_EQ(1, writer->write(it));
  EXPECT_EQ(0, it.depth);
  EXPECT_EQ(2, it.opened);
  ASSERT_EQ(2u, msg.root().children.size());
  EXPECT_EQ(1175, msg.root().children[1]->id);
  EXPECT_EQ(&msg.root(), it.element());
}

TEST(OpAnswerWriter, WriterRefersToTheCallersVector) {
  std::vector<Flaky> records(1);
  std::unique_ptr<JRXMsgWriter> writer(newJRXWriterData(records, 1175));
  records.resize(3);
  JRXMessage msg;
  JRXMessageIterator it(const_cast<JRXMessageElement*>(&msg.root()));
  EXPECT_EQ(0, writer->write(it));
  EXPECT_EQ(3u, msg.root().count(1175));
}

}  // namespace
