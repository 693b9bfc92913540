#include <gtest/gtest.h>

#include "JRXLog.h"
#include "JRXRequest.h"

using namespace JRX;

// Commands nest; what ended is kept from the latest outermost command on; an end without a
// begin is logged and opens nothing; the request keeps one context, and the context the last
// error.
TEST(Request, CommandsNestAndKeepWhatEnded) {
  JRXRequestLocal r(nullptr);
  const JRXRequestErrorData ok, failed(3101, "no database");
  r.beginCommand();
  r.beginCommand();
  EXPECT_EQ(r.commandDepth(), 2);
  EXPECT_EQ(3101, r.endCommand(failed));
  EXPECT_EQ(0, r.endCommand(ok));
  ASSERT_EQ(r.endedCommands().size(), 2u);
  EXPECT_TRUE(r.endedCommands()[0].message == "no database" && r.endedCommands()[1].code == 0);

  auto capture = std::make_shared<JRXCapturingLogSink>();
  const std::shared_ptr<JRXLogSink> previous = setLogSink(capture);
  EXPECT_EQ(3101, r.endCommand(failed));
  setLogSink(previous);
  EXPECT_EQ(capture->records().size(), 1u);
  EXPECT_EQ(r.commandDepth(), 0);
  EXPECT_EQ(r.endedCommands().size(), 3u);
  r.beginCommand();
  EXPECT_TRUE(r.endedCommands().empty());

  const auto context = r.getContextLocal();
  EXPECT_TRUE(context == r.getContextLocal() && !context->hasLastError());
  context->setLastError(failed);
  EXPECT_TRUE(context->hasLastError() && context->getLastError().message == "no database");
  EXPECT_NE(r.createContext(), context);
}
