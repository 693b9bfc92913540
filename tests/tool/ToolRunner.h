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

// `input` becomes standard input; `dir` the working folder (empty: unchanged).
// JRXLOG_DB and JRXLOG_LOCAL_EID are cleared for the child unless given in `env`.
ToolRun runJrxlog(const std::vector<std::string>& args, const std::string& input = "",
                  const std::string& dir = "",
                  const std::vector<std::pair<std::string, std::string>>& env = {});

// Any program, the same way (`program` is a path, or a name looked up in PATH).
ToolRun runProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& input = "", const std::string& dir = "",
                   const std::vector<std::pair<std::string, std::string>>& env = {});

// `jrxlog ARGS serve --listen 127.0.0.1:0 SERVE_ARGS` in the background: constructed once it
// listens (throws when it ends first), stopped with SIGTERM at the latest when destroyed.
class ServeProcess {
 public:
  ServeProcess(const std::vector<std::string>& args, const std::vector<std::string>& serveArgs);
  ~ServeProcess();
  ServeProcess(const ServeProcess&) = delete;
  ServeProcess& operator=(const ServeProcess&) = delete;

  int port() const { return port_; }
  // Stops it and answers its exit status and standard error.
  ToolRun stop();

 private:
  int pid_ = -1;
  int port_ = 0;
  std::string out_, err_;
  ToolRun ended_;
};

// A new empty folder under /tmp.
std::string makeTempDir();
std::string writeTempFile(const std::string& content);

// The folder of the shared sample data, or "" when it is not there.
std::string sharedDataDir();

}  // namespace jrxtest
