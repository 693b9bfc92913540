#include <gtest/gtest.h>

#include "JRXLog.h"
#include "JRXRequest.h"

using namespace JRX;

namespace {

struct CountingWriter : JRXMsgWriter {
  CountingWriter(int* alive, int result) : alive_(alive), result_(result) { ++*alive_; }
  ~CountingWriter() override { --*alive_; }
  int write(JRXMessageIterator& it) const override {
    it.putBytes(1175, "written");
    return result_;
  }
  int* alive_;
  int result_;
};

}  // namespace

TEST(RequestFrame, CommandsAnswersAndTheLastError) {
  auto sink = std::make_shared<JRXCapturingLogSink>();
  auto previous = setLogSink(sink);
  JRXRequestLocal r(nullptr);
  int alive = 0;
  r.beginCommand();
  r.beginCommand();
  EXPECT_EQ(3101, r.endCommand(JRXRequestErrorData(3101, "inner")));
  EXPECT_EQ(1, r.commandDepth());
  EXPECT_EQ(7, r.endCommandWithAnswer(new CountingWriter(&alive, 1), JRXRequestErrorData(7, "")));
  EXPECT_EQ(0, r.endCommandWithAnswer(nullptr, JRXRequestErrorData(0, "unbalanced")));
  EXPECT_EQ(0, r.commandDepth());
  EXPECT_EQ(0, alive);  // the writer was used and deleted
  ASSERT_NE(nullptr, r.answer());
  EXPECT_EQ(1u, r.answer()->root().count(1175));
  EXPECT_EQ(1, r.answerWriteResult());
  ASSERT_EQ(3u, r.endedCommands().size());
  EXPECT_EQ("inner", r.endedCommands()[0].message);
  EXPECT_EQ(1u, sink->records().size());  // the end without a begin was noted

  // Ending the frame does not set a last error; that is the service's choice.
  auto ctx = r.getContextLocal();
  EXPECT_EQ(ctx.get(), r.getContextLocal().get());
  EXPECT_FALSE(ctx->hasLastError());
  ctx->setLastError(JRXRequestErrorData(414, "refused"));
  ctx->setLastError(JRXRequestErrorData(3101, "db down"));
  EXPECT_TRUE(r.getContextLocal()->hasLastError());
  EXPECT_EQ("db down", r.getContextLocal()->getLastError().message);
  EXPECT_FALSE(r.createContext()->hasLastError());
  EXPECT_FALSE(JRXRequestLocal(nullptr).getContextLocal()->hasLastError());
  setLogSink(previous);
}

TEST(Logger, RecordsCarryTheirPlaceAndFormattedText) {
  auto sink = std::make_shared<JRXCapturingLogSink>();
  auto previous = setLogSink(sink);
  Log2("JRXLogDBLocal", "plugins/JRXLogDB/JRXLogDBLocal", 42, "saveProgress", "int f()")
      .put(2, "[%s] same ID (%s), time %lu", "saveProgress", "req-1", 17ul);
  setLogSink(previous);
  Log2("c", "f", 1, "fn", "sig").put(1, "not for the capturing sink");
  const auto records = sink->records();
  ASSERT_EQ(1u, records.size());
  const JRXLogRecord& r = records[0];
  EXPECT_EQ("JRXLogDBLocal|plugins/JRXLogDB/JRXLogDBLocal|42|saveProgress|int f()|2",
            r.category + "|" + r.file + "|" + std::to_string(r.line) + "|" + r.function + "|" +
                r.signature + "|" + std::to_string(r.level));
  EXPECT_EQ("[saveProgress] same ID (req-1), time 17", r.text);
  EXPECT_DEATH(JRX::abort("JRXLogDBLocal", "core/src/JRXMessage/JRXMessageIterator", 10,
                          "operator()", "sig"),
               "check failed at core/src/JRXMessage/JRXMessageIterator:10 in sig");
}
