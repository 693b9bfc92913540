#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "JRXLog.h"

using namespace JRX;

// Records reach the installed sink formatted; a file sink appends each line at once, up to its
// level; the stderr sink's level comes from the environment.
TEST(Log, RecordsReachTheSinkAndAFileUpToItsLevel) {
  const std::string path = "/tmp/jrx-log-" + std::to_string(getpid()) + ".log";
  std::remove(path.c_str());
  const std::shared_ptr<JRXLogSink> previous = setLogSink(JRXStreamLogSink::appendingTo(path, 2));
  Log2("cat", "f.cpp", 7, "fn", "int fn()").put(2, "%s=%d", "n", 42);
  Log2("cat", "f.cpp", 8, "fn", "int fn()").put(3, "left out");
  Log2(nullptr, nullptr, 0, nullptr, nullptr).put(1, nullptr);
  std::ifstream in(path);  // while the sink still holds the file
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_EQ(text.find(" cat "), 19u) << text;  // after the local date and time
  EXPECT_EQ(text.substr(20, 25) + text.substr(65), "cat [2] f.cpp:7 fn: n=42\n [1] :0 : \n")
      << text;
  setLogSink(previous);
  std::remove(path.c_str());
  EXPECT_THROW(JRXStreamLogSink::appendingTo("/nonexistent/x.log", 1), std::runtime_error);

  for (const auto& [value, level] : std::vector<std::pair<const char*, int>>{
           {"-1", -1}, {"3x", 5}, {"", 5}, {nullptr, 5}}) {
    value ? setenv("JRXLOG_LOGLEVEL", value, 1) : unsetenv("JRXLOG_LOGLEVEL");
    EXPECT_EQ(logLevelFromEnvironment(5), level) << (value ? value : "unset");
  }
}
