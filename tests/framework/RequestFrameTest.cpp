#include <gtest/gtest.h>

#include "JRXLog.h"
#include "JRXRequest.h"

using namespace JRX;

namespace {

struct Writer : JRXMsgWriter {
  explicit Writer(int* alive) : alive_(alive) { ++*alive_; }
  ~Writer() override { --*alive_; }
  int write(JRXMessageIterator& it) const override {
    it.putBytes(1175, "written");
    return 1;
  }
  int* alive_;
};

}  // namespace

TEST(RequestFrame, CommandsAnswersLastErrorAndLog) {
  auto sink = std::make_shared<JRXCapturingLogSink>();
  auto previous = setLogSink(sink);
  JRXRequestLocal r(nullptr);
  int alive = 0;
  r.beginCommand();
  r.beginCommand();
  EXPECT_EQ(3101, r.endCommand(JRXRequestErrorData(3101, "inner")));
  EXPECT_EQ(7, r.endCommandWithAnswer(new Writer(&alive), JRXRequestErrorData(7, "")));
  EXPECT_EQ(0, r.endCommandWithAnswer(nullptr, JRXRequestErrorData(0, "unbalanced")));
  EXPECT_TRUE(r.commandDepth() == 0 && alive == 0 && r.answerWriteResult() == 1);
  ASSERT_NE(nullptr, r.answer());
  EXPECT_EQ(1u, r.answer()->root().count(1175));
  EXPECT_EQ(3u, r.endedCommands().size());
  // Ending a frame does not set a last error; that is the service's choice.
  auto ctx = r.getContextLocal();
  EXPECT_TRUE(ctx == r.getContextLocal() && !ctx->hasLastError());
  ctx->setLastError(JRXRequestErrorData(3101, "db down"));
  EXPECT_EQ("db down", r.getContextLocal()->getLastError().message);
  EXPECT_FALSE(r.createContext()->hasLastError());

  Log2("JRXLogDBLocal", "plugins/a", 42, "saveProgress", "int f()").put(2, "[%s] %lu", "x", 17ul);
  setLogSink(previous);
  Log2("c", "f", 1, "fn", "sig").put(1, "not for the capturing sink");
  const auto records = sink->records();
  ASSERT_EQ(2u, records.size());  // the end without a begin was noted
  const JRXLogRecord& l = records[1];
  EXPECT_EQ("JRXLogDBLocal|plugins/a|42|saveProgress|int f()|2|[x] 17",
            l.category + "|" + l.file + "|" + std::to_string(l.line) + "|" + l.function + "|" +
                l.signature + "|" + std::to_string(l.level) + "|" + l.text);
  EXPECT_DEATH(JRX::abort("JRXLogDBLocal", "core/src/Iterator", 10, "operator()", "sig"),
               "check failed at core/src/Iterator:10 in sig");
}
