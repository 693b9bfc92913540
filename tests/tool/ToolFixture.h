// jrxlog run as a separate process, as an operator runs it, on a fresh database of each
// backend per test; and the JSON Lines records the tests feed it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "TestDb.h"

namespace jrxtest {

using Strings = std::vector<std::string>;
using Vars = std::vector<std::pair<std::string, std::string>>;

struct ToolRun {
  int status = -1;  // exit status; 128 + signal when killed
  std::string out, err;
  Strings lines() const;  // of out
};

// `input` becomes standard input, `dir` the working folder (empty: unchanged). JRXLOG_DB and
// JRXLOG_LOCAL_EID are cleared for the child unless given in `vars`.
ToolRun runProgram(const std::string& program, const Strings& args, const std::string& input = "",
                   const std::string& dir = "", const Vars& vars = {});
ToolRun runJrxlog(const Strings& args, const std::string& input = "", const std::string& dir = "",
                  const Vars& vars = {});
// jrxlog on the database of `url`, kLocal its local environment.
ToolRun jrxOn(const std::string& url, Strings args, const std::string& input = "");
// The ids (or GUIDs) of the records of JSON Lines, without env records.
Strings idsOf(const std::string& jsonLines);

// `jrxlog ARGS serve --listen 127.0.0.1:0 SERVE_ARGS` in the background: constructed once it
// listens (throws when it ends first), stopped with SIGTERM at the latest when destroyed.
class ServeProcess {
 public:
  ServeProcess(const Strings& args, const Strings& serveArgs);
  ~ServeProcess() { stop(); }
  int port() const { return port_; }
  int stop();  // its exit status

 private:
  int pid_ = -1, port_ = 0, status_ = -1;
  std::string out_;  // its output and errors
};

// How often `what` occurs in `text`.
size_t count(const std::string& text, const std::string& what);
std::string makeTempDir();
std::string writeTempFile(const std::string& content);

extern const char* const kLocal;
extern const char* const kNode;  // the source environment of the events below
extern const char* const kVm1;
extern const char* const kVm2;
// Two VMs and the local node, operations done, running, failed, with a parent, nested texts,
// and events of three types, one with an audit payload.
extern const char* const kSample;

class ToolDb : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { url_ = freshDatabaseUrl(GetParam()); }
  ToolRun jrx(const Strings& args, const std::string& input = "") const {
    return jrxOn(url_, args, input);
  }
  // What the listing prints with --json, as idsOf.
  Strings ids(Strings listing, const std::string& url = "") const {
    listing.push_back("--json");
    return idsOf(jrxOn(url.empty() ? url_ : url, listing).out);
  }

  std::string url_;
};

}  // namespace jrxtest
