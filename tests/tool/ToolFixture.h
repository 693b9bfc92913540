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

struct ToolRun {
  int status = -1;  // exit status; 128 + signal when killed
  std::string out, err;
  Strings lines() const;  // of out
};

// `input` becomes standard input, `dir` the working folder (empty: unchanged). JRXLOG_DB and
// JRXLOG_LOCAL_EID are cleared for the child unless given in `vars`.
ToolRun runProgram(const std::string& program, const Strings& args, const std::string& input = "",
                   const std::string& dir = "",
                   const std::vector<std::pair<std::string, std::string>>& vars = {});
ToolRun runJrxlog(const Strings& args, const std::string& input = "", const std::string& dir = "",
                  const std::vector<std::pair<std::string, std::string>>& vars = {});
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

std::string makeTempDir();
std::string writeTempFile(const std::string& content);
std::string sharedDataDir();  // "" when the sample data is not there

extern const char* const kLocal;
extern const char* const kNode;  // the source environment of the events below
extern const char* const kVm1;
extern const char* const kVm2;
// Two VMs and the local node, operations done, running, failed, with a parent, nested texts,
// and events of three types, one with an audit payload.
extern const char* const kSample;

// Import lines; `more` adds fields (",\"status\":3"), `operand` an environment reference;
// an empty name is left out.
std::string progressLine(const std::string& id, const std::string& name, long long time,
                         const std::string& more = "");
std::string eventLine(const std::string& guid, long long time, const std::string& type,
                      const std::string& operand = "");
std::string envLine(const std::string& eid, const std::string& title);

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
