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
// The ids (or GUIDs) of the records of JSON Lines, without env and cursor records; with
// `reports`, each progress record's id "@" its progress, and each event's `eventKey`.
Strings idsOf(const std::string& jsonLines, bool reports = false, const char* eventKey = "guid");
Strings sorted(Strings v);

// `jrxlog --db URL --local-eid kLocal ARGS` in the background until stopped (SIGTERM, at the
// latest when destroyed), its output and errors kept in a file.
class BackgroundRun {
 public:
  BackgroundRun(const std::string& url, Strings args);
  ~BackgroundRun() { stop(); }
  std::string out() const;  // so far
  // Waits (up to a minute) until the output holds `count` lines; false if it never does.
  bool waitForLines(size_t count) const;
  int stop();  // SIGTERM, then its exit status

 protected:
  int pid_ = -1, status_ = -1;
  std::string out_;
};

// `jrxlog --db URL --local-eid kLocal GLOBAL serve --listen 127.0.0.1:0 ARGS`: constructed
// once it listens (throws when it ends first).
class ServeProcess : public BackgroundRun {
 public:
  ServeProcess(const std::string& url, const Strings& args, const Strings& global = {});
  int port() const { return port_; }

 private:
  int port_ = 0;
};

size_t count(const std::string& text, const std::string& what);
std::string readFile(const std::string& path);  // "" when there is none
std::string makeTempDir();
std::string writeTempFile(const std::string& content);

inline const char* const kLocal = "0a0a0a0a-0000-4000-8000-000000000001";
inline const char* const kNode = "d3377d3c-a0d1-5d71-9947-f17125c357bb";  // the events' source
inline const char* const kVm1 = "11111111-1111-4111-8111-111111111111";
inline const char* const kVm2 = "22222222-2222-4222-8222-222222222222";
// Two VMs and the local node, operations done, running, failed, with a parent, nested texts,
// and events of three types, one with an audit payload.
inline const char* const kSample = R"({"kind":"env","eid":"11111111-1111-4111-8111-111111111111","type":"vm","title":"web-1"}
{"kind":"env","eid":"22222222-2222-4222-8222-222222222222","type":"vm","title":"db-1"}
{"kind":"env","eid":"0a0a0a0a-0000-4000-8000-000000000001","type":"node","title":"host-0"}
{"kind":"progress","id":"req-1","name":"vm.start","progress":10,"time":1701000000,"operands":["11111111-1111-4111-8111-111111111111"],"sessionId":"s-1","info":{"text":"Starting {vm}","params":{"vm":"web-1","n":["1",{"text":"x","params":{"y":"z"}}]}}}

{"kind":"progress","id":"req-1","progress":50,"time":1701000010,"info":{"text":"Booting"}}
{"kind":"progress","id":"req-1","status":3,"progress":100,"time":1701000020,"info":{"text":"Started"}}
{"kind":"progress","id":"req-2","name":"vm.stop","time":1701000100,"eid":"0a0a0a0a-0000-4000-8000-000000000001","info":{"text":"Stopping"}}
{"kind":"progress","id":"a/b c","parentId":"req-2","name":"vm.stop","progress":30,"time":1701000200,"eid":"5e5e5e5e-0000-4000-8000-000000000005","info":{"text":"Waiting"}}
{"kind":"progress","id":"req-3","name":"backup.run","status":5,"time":1701000300,"operands":["22222222-2222-4222-8222-222222222222"],"info":{"text":"Disk full"}}
{"kind":"event","guid":"3F1E0D2C-0000-4000-8000-000000000001","time":1701000001,"category":"vm","type":"info","code":7,"info":{"text":"info happened","params":{"source_env":{"params":{"eid":"d3377d3c-a0d1-5d71-9947-f17125c357bb","type":"node","title":"host-1"}}}}}
{"kind":"event","guid":"{3f1e0d2c-0000-4000-8000-000000000002}","time":1701000002,"category":"vm","type":"env_status","sid":"0102FF","info":{"text":"web-1 is up","params":{"source_env":{"params":{"eid":"d3377d3c-a0d1-5d71-9947-f17125c357bb","type":"node","title":"host-1"}},"env":{"params":{"eid":"11111111-1111-4111-8111-111111111111","type":"vm","title":"web-1"}},"old_status":"4","new_status":"1","old_transition":"0","new_transition":"0"}}}
{"kind":"event","guid":"3f1e0d2c-0000-4000-8000-000000000003","time":1701000003,"category":"vm","type":"audit","info":{"text":"login","params":{"source_env":{"params":{"eid":"d3377d3c-a0d1-5d71-9947-f17125c357bb","type":"node","title":"host-1"}}}},"audit":{"session":"s-9","address":"2001:db8::1","detail":"login","kind":0}}
)";

class ToolDb : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { url_ = freshDatabaseUrl(GetParam()); }
  ToolRun jrx(const Strings& args, const std::string& input = "") const {
    return jrxOn(url_, args, input);
  }

  std::string url_;
};

}  // namespace jrxtest
