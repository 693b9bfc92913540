// Runs the jrxlog binary as a separate process, as an operator would, and collects what it
// printed and its exit status.
#pragma once

#include <string>
#include <vector>

namespace jrxtest {

struct ToolRun {
  int status = -1;  // exit status; 128 + signal when killed
  std::string out;
  std::string err;
  std::vector<std::string> lines() const;  // of out
};

// Runs `argv` (argv[0] a path) with `input` as standard input.
ToolRun runProgram(const std::vector<std::string>& argv, const std::string& input = "",
                   const std::string& dir = "",
                   const std::vector<std::pair<std::string, std::string>>& env = {});

// `input` becomes standard input; `dir` the working folder (empty: unchanged).
// JRXLOG_DB and JRXLOG_LOCAL_EID are cleared for the child unless given in `env`.
ToolRun runJrxlog(const std::vector<std::string>& args, const std::string& input = "",
                  const std::string& dir = "",
                  const std::vector<std::pair<std::string, std::string>>& env = {});

// A new empty folder under /tmp.
std::string makeTempDir();
std::string writeTempFile(const std::string& content);

// The folder of the shared sample data, or "" when it is not there.
std::string sharedDataDir();

}  // namespace jrxtest
