#include <gtest/gtest.h>

#include "JRXLog.h"
#include "JRXRequest.h"

using namespace JRX;

namespace {

struct CountingWriter : JRXMsgWriter {
  CountingWriter(int* alive, int result) : alive_(alive), result_(result) { ++*alive_; }
  ~CountingWriter() override { --*alive_; }
  int write(JRXMessageIterator& it) const override {
    it.descend(1175);
    it.putBytes(1, "written");
    it.ascend();
    return result_;
  }
  int* alive_;
  int result_;
};

}  // namespace

TEST(RequestFrame, NestedCommandsEndInnerFirst) {
  JRXRequestLocal r(nullptr);
  EXPECT_EQ(0, r.commandDepth());
  r.beginCommand();
  r.beginCommand();
  EXPECT_EQ(2, r.commandDepth());
  EXPECT_EQ(3101, r.endCommand(JRXRequestErrorData(3101, "inner")));
  EXPECT_EQ(1, r.commandDepth());
  EXPECT_EQ(3101, r.endCommand(JRXRequestErrorData(3101, "")));
  EXPECT_EQ(0, r.commandDepth());
  ASSERT_EQ(2u, r.endedCommands().size());
  EXPECT_EQ("inner", r.endedCommands()[0].message);
  EXPECT_EQ("", r.endedCommands()[1].message);
  // Ending the frame does not set a last error; that is the service's choice.
  EXPECT_FALSE(r.getContextLocal()->hasLastError());
}

TEST(RequestFrame, LastErrorBelongsToTheRequest) {
  JRXRequestLocal r(nullptr);
  auto ctx = r.getContextLocal();
  EXPECT_EQ(ctx.get(), r.getContextLocal().get());
  EXPECT_FALSE(ctx->hasLastError());
  ctx->setLastError(JRXRequestErrorData(414, "refused"));
  ctx->setLastError(JRXRequestErrorData(3101, "db down"));
  EXPECT_TRUE(r.getContextLocal()->hasLastError());
  EXPECT_EQ(3101, r.getContextLocal()->getLastError().code);
  EXPECT_EQ("db down", r.getContextLocal()->getLastError().message);
  // A fresh context is a different one.
  EXPECT_FALSE(r.createContext()->hasLastError());
  JRXRequestLocal other(nullptr);
  EXPECT_FALSE(other.getContextLocal()->hasLastError());
}

TEST(RequestFrame, AnswerIsKeptAndTheWriterDeleted) {
  JRXRequestLocal r(nullptr);
  int alive = 0;
  r.beginCommand();
  EXPECT_EQ(0, r.endCommandWithAnswer(new CountingWriter(&alive, 0), JRXRequestErrorData(0, "")));
  EXPECT_EQ(0, alive);
  ASSERT_NE(nullptr, r.answer());
  EXPECT_EQ(0, r.answerWriteResult());
  ASSERT_EQ(1u, r.answer()->root().count(1175));
  EXPECT_EQ(0, r.commandDepth());

  r.beginCommand();
  EXPECT_EQ(7, r.endCommandWithAnswer(new CountingWriter(&alive, 1), JRXRequestErrorData(7, "")));
  EXPECT_EQ(0, alive);
  EXPECT_EQ(1, r.answerWriteResult());
  EXPECT_EQ(2u, r.endedCommands().size());
}

TEST(Logger, RecordsCarryTheirPlaceAndFormattedText) {
  auto sink = std::make_shared<JRXCapturingLogSink>();
  auto previous = setLogSink(sink);
  Log2("JRXLogDBLocal", "plugins/JRXLogDB/JRXLogDBLocal", 42, "saveProgress", "int f()")
      .put(2, "[%s] New operation comes with the same ID (%s), delete old operation (time %lu)",
           "saveProgress", "req-1", 17ul);
  setLogSink(previous);
  auto records = sink->records();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ("JRXLogDBLocal", records[0].category);
  EXPECT_EQ("plugins/JRXLogDB/JRXLogDBLocal", records[0].file);
  EXPECT_EQ(42, records[0].line);
  EXPECT_EQ("saveProgress", records[0].function);
  EXPECT_EQ("int f()", records[0].signature);
  EXPECT_EQ(2, records[0].level);
  EXPECT_EQ("[saveProgress] New operation comes with the same ID (req-1), delete old operation (time 17)",
            records[0].text);
  // The sink was restored: nothing more arrives.
  Log2("c", "f", 1, "fn", "sig").put(1, "x");
  EXPECT_EQ(1u, sink->records().size());
  sink->clear();
  EXPECT_TRUE(sink->records().empty());
}

TEST(Logger, AbortStopsTheProcess) {
  EXPECT_DEATH(JRX::abort("JRXLogDBLocal", "core/src/JRXMessage/JRXMessageIterator", 10,
                          "operator()", "sig"),
               "check failed at core/src/JRXMessage/JRXMessageIterator:10 in sig");
}
