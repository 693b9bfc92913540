#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "JRXLog.h"

using namespace JRX;

// Records reach the installed sink whole; a file sink appends each line at once, up to its
// level; the stderr sink's level comes from the environment, a malformed one being ignored.
TEST(Log, RecordsReachTheSinkAndAFileUpToItsLevel) {
  auto capture = std::make_shared<JRXCapturingLogSink>();
  const std::shared_ptr<JRXLogSink> previous = setLogSink(capture);
  Log2("cat", "f.cpp", 7, "fn", "int fn()").put(2, "%s=%d", "n", 42);
  ASSERT_EQ(capture->records().size(), 1u);
  const JRXLogRecord r = capture->records()[0];
  EXPECT_EQ(r.category + " " + r.file + " " + std::to_string(r.line) + " " + r.function + " " +
                r.signature + " " + std::to_string(r.level) + " " + r.text,
            "cat f.cpp 7 fn int fn() 2 n=42");

  const std::string path = "/tmp/jrx-log-" + std::to_string(getpid()) + ".log";
  std::remove(path.c_str());
  setLogSink(JRXStreamLogSink::appendingTo(path, 2));
  Log2("cat", "f.cpp", 7, "fn", "int fn()").put(2, "kept");
  Log2("cat", "f.cpp", 8, "fn", "int fn()").put(3, "left out");
  std::ifstream in(path);  // while the sink still holds the file
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_EQ(text.substr(19), " cat [2] f.cpp:7 fn: kept\n") << text;  // after the local time
  setLogSink(previous);
  std::remove(path.c_str());
  EXPECT_THROW(JRXStreamLogSink::appendingTo("/nonexistent/x.log", 1), std::runtime_error);

  for (const auto& [value, level] : std::vector<std::pair<const char*, int>>{
           {"3", 3}, {"-1", -1}, {"3x", 5}, {"", 5}, {nullptr, 5}}) {
    value ? setenv("JRXLOG_LOGLEVEL", value, 1) : unsetenv("JRXLOG_LOGLEVEL");
    EXPECT_EQ(logLevelFromEnvironment(5), level) << (value ? value : "unset");
  }
}
