#include "ToolFixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace jrxtest {

const char* const kLocal = "0a0a0a0a-0000-4000-8000-000000000001";
const char* const kNode = "d3377d3c-a0d1-5d71-9947-f17125c357bb";
const char* const kVm1 = "11111111-1111-4111-8111-111111111111";
const char* const kVm2 = "22222222-2222-4222-8222-222222222222";
const char* const kSample = R"({"kind":"env","eid":"11111111-1111-4111-8111-111111111111","type":"vm","title":"web-1"}
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

Strings ToolRun::lines() const {
  Strings v;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) v.push_back(line);
  return v;
}

Strings idsOf(const std::string& jsonLines) {
  Strings v;
  for (const auto& line : ToolRun{0, jsonLines, ""}.lines()) {
    auto j = nlohmann::json::parse(line);
    if (j["kind"] != "env") v.push_back(j.value("id", j.value("guid", "")));
  }
  return v;
}

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string scratchFile() {
  static const std::string dir = makeTempDir();
  static std::atomic<int> counter{0};
  return dir + "/f" + std::to_string(++counter);
}

// Standard error goes with the output when `err` is empty.
pid_t start(Strings argv, const std::string& in, const std::string& out, const std::string& err,
            const std::string& dir, const Vars& vars) {
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(&a[0]);
  args.push_back(nullptr);
  pid_t pid = fork();
  if (pid != 0) return pid;
  int i = open(in.c_str(), O_RDONLY), o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int e = err.empty() ? o : open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (i < 0 || o < 0 || e < 0 || dup2(i, 0) < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0) _exit(126);
  unsetenv("JRXLOG_DB");
  unsetenv("JRXLOG_LOCAL_EID");
  for (const auto& kv : vars) setenv(kv.first.c_str(), kv.second.c_str(), 1);
  if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
  execvp(args[0], args.data());
  _exit(127);
}

int waitFor(pid_t pid) {
  int wstatus = 0;
  if (pid < 0 || waitpid(pid, &wstatus, 0) != pid) throw std::runtime_error("cannot run a program");
  return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
}

}  // namespace

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::string makeTempDir() {
  char tmpl[] = "/tmp/jrx-tool-XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("cannot make a temporary folder");
  return tmpl;
}

std::string writeTempFile(const std::string& content) {
  std::string path = scratchFile();
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

ToolRun runProgram(const std::string& program, const Strings& args, const std::string& input,
                   const std::string& dir, const Vars& vars) {
  Strings argv = {program};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string in = writeTempFile(input), out = scratchFile(), err = scratchFile();
  ToolRun r{waitFor(start(argv, in, out, err, dir, vars)), readFile(out), readFile(err)};
  for (const auto& f : {in, out, err}) unlink(f.c_str());
  return r;
}

ToolRun runJrxlog(const Strings& args, const std::string& input, const std::string& dir,
                  const Vars& vars) {
  return runProgram(JRXLOG_BINARY, args, input, dir, vars);
}

ToolRun jrxOn(const std::string& url, Strings args, const std::string& input) {
  args.insert(args.begin(), {"--db", url, "--local-eid", kLocal});
  return runJrxlog(args, input);
}

ServeProcess::ServeProcess(const Strings& args, const Strings& serveArgs) : out_(scratchFile()) {
  Strings argv = {JRXLOG_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.insert(argv.end(), {"serve", "--listen", "127.0.0.1:0"});
  argv.insert(argv.end(), serveArgs.begin(), serveArgs.end());
  pid_ = start(argv, "/dev/null", out_, "", "", {});
  // The first line names the address once the socket listens.
  const std::string marker = "http://127.0.0.1:";
  for (int waited = 0; waited < 1200 && waitpid(pid_, nullptr, WNOHANG) == 0; ++waited) {
    std::string out = readFile(out_);
    size_t at = out.find(marker);
    if (at != std::string::npos && out.find('\n', at) != std::string::npos) {
      port_ = std::atoi(out.c_str() + at + marker.size());
      return;
    }
    usleep(50 * 1000);
  }
  std::string said = readFile(out_);
  stop();
  throw std::runtime_error("jrxlog serve is not listening: " + said);
}

int ServeProcess::stop() {
  // Once ended and waited for, it is no longer there to signal.
  if (pid_ > 0 && kill(pid_, SIGTERM) == 0) status_ = waitFor(pid_);
  pid_ = -1;
  unlink(out_.c_str());
  return status_;
}

}  // namespace jrxtest
