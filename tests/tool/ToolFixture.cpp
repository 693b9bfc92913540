#include "ToolFixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace jrxtest {

Strings ToolRun::lines() const {
  Strings v;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) v.push_back(line);
  return v;
}

Strings idsOf(const std::string& jsonLines, bool reports, const char* eventKey) {
  Strings v;
  for (const auto& line : ToolRun{0, jsonLines, ""}.lines()) {
    auto j = nlohmann::json::parse(line);
    if (j["kind"] == "event") v.push_back(j.value(reports ? eventKey : "guid", ""));
    if (j["kind"] == "progress")
      v.push_back(j.value("id", "") + (reports ? "@" + std::to_string(j.value("progress", 0)) : ""));
  }
  return v;
}

Strings sorted(Strings v) {
  std::sort(v.begin(), v.end());
  return v;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

namespace {

std::string scratchFile() {
  static const std::string dir = makeTempDir();
  static std::atomic<int> counter{0};
  return dir + "/f" + std::to_string(++counter);
}

// Standard error goes with the output when `err` is empty.
pid_t start(const std::string& program, Strings args, const std::string& in, const std::string& out,
            const std::string& err, const std::string& dir = "", const Vars& vars = {}) {
  args.insert(args.begin(), program);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid != 0) return pid;
  int i = open(in.c_str(), O_RDONLY), o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int e = err.empty() ? o : open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (i < 0 || o < 0 || e < 0 || dup2(i, 0) < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0) _exit(126);
  unsetenv("JRXLOG_DB");
  unsetenv("JRXLOG_LOCAL_EID");
  for (const auto& kv : vars) setenv(kv.first.c_str(), kv.second.c_str(), 1);
  if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
  execvp(argv[0], argv.data());
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
  std::string in = writeTempFile(input), out = scratchFile(), err = scratchFile();
  ToolRun r{waitFor(start(program, args, in, out, err, dir, vars)), readFile(out), readFile(err)};
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

BackgroundRun::BackgroundRun(const std::string& url, Strings args) : out_(scratchFile()) {
  args.insert(args.begin(), {"--db", url, "--local-eid", kLocal});
  pid_ = start(JRXLOG_BINARY, args, "/dev/null", out_, "");
}

std::string BackgroundRun::out() const { return readFile(out_); }

bool BackgroundRun::waitForLines(size_t lines) const {
  for (int waited = 0; waited < 1200; ++waited) {
    if (count(out(), "\n") >= lines) return true;
    if (pid_ < 0 || waitpid(pid_, nullptr, WNOHANG) != 0) return count(out(), "\n") >= lines;
    usleep(50 * 1000);
  }
  return false;
}

int BackgroundRun::stop() {
  // Once ended and waited for, it is no longer there to signal.
  if (pid_ > 0 && kill(pid_, SIGTERM) == 0) status_ = waitFor(pid_);
  pid_ = -1;
  return status_;
}

ServeProcess::ServeProcess(const std::string& url, const Strings& args, const Strings& global)
    : BackgroundRun(url, [&] {
        Strings all = global;
        all.insert(all.end(), {"serve", "--listen", "127.0.0.1:0"});
        all.insert(all.end(), args.begin(), args.end());
        return all;
      }()) {
  // The first line names the address once the socket listens.
  const std::string marker = "http://127.0.0.1:", said = waitForLines(1) ? out() : "";
  const size_t at = said.find(marker);
  if (at != std::string::npos) port_ = std::atoi(said.c_str() + at + marker.size());
  if (port_ > 0) return;
  stop();
  throw std::runtime_error("jrxlog serve is not listening: " + out());
}

}  // namespace jrxtest
