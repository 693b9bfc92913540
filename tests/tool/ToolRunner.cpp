#include "ToolRunner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace jrxtest {

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::atomic<int> fileCounter{0};

std::string scratchDir() {
  static std::string dir = makeTempDir();
  return dir;
}

}  // namespace

std::vector<std::string> ToolRun::lines() const {
  std::vector<std::string> v;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) v.push_back(line);
  return v;
}

std::string makeTempDir() {
  char tmpl[] = "/tmp/jrx-tool-XXXXXX";
  const char* d = mkdtemp(tmpl);
  if (!d) throw std::runtime_error("cannot make a temporary folder");
  return d;
}

std::string writeTempFile(const std::string& content) {
  std::string path = scratchDir() + "/f" + std::to_string(++fileCounter);
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

namespace {

std::string scratchFile(const char* prefix) {
  return scratchDir() + "/" + prefix + std::to_string(++fileCounter);
}

pid_t start(const std::string& program, const std::vector<std::string>& args,
            const std::string& in, const std::string& out, const std::string& err,
            const std::string& dir, const std::vector<std::pair<std::string, std::string>>& env) {
  std::vector<std::string> argvText = {program};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argvText) argv.push_back(&a[0]);
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int i = open(in.c_str(), O_RDONLY);
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (i < 0 || o < 0 || e < 0) _exit(126);
    dup2(i, 0);
    dup2(o, 1);
    dup2(e, 2);
    unsetenv("JRXLOG_DB");
    unsetenv("JRXLOG_LOCAL_EID");
    for (const auto& kv : env) setenv(kv.first.c_str(), kv.second.c_str(), 1);
    if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

int exitStatus(int wstatus) {
  return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
}

}  // namespace

ToolRun runProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& input, const std::string& dir,
                   const std::vector<std::pair<std::string, std::string>>& env) {
  std::string in = writeTempFile(input);
  std::string out = scratchFile("o");
  std::string err = scratchFile("e");
  pid_t pid = start(program, args, in, out, err, dir, env);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  ToolRun r;
  r.status = exitStatus(wstatus);
  r.out = readFile(out);
  r.err = readFile(err);
  unlink(in.c_str());
  unlink(out.c_str());
  unlink(err.c_str());
  return r;
}

ToolRun runJrxlog(const std::vector<std::string>& args, const std::string& input,
                  const std::string& dir,
                  const std::vector<std::pair<std::string, std::string>>& env) {
  return runProgram(JRXLOG_BINARY, args, input, dir, env);
}

ServeProcess::ServeProcess(const std::vector<std::string>& args,
                           const std::vector<std::string>& serveArgs)
    : out_(scratchFile("o")), err_(scratchFile("e")) {
  std::vector<std::string> all = args;
  all.insert(all.end(), {"serve", "--listen", "127.0.0.1:0"});
  all.insert(all.end(), serveArgs.begin(), serveArgs.end());
  pid_ = start(JRXLOG_BINARY, all, "/dev/null", out_, err_, "", {});
  // The first line names the address once the socket listens.
  const std::string marker = "http://127.0.0.1:";
  for (int waited = 0; waited < 1200; ++waited) {
    std::string out = readFile(out_);
    size_t at = out.find(marker);
    if (at != std::string::npos && out.find('\n', at) != std::string::npos) {
      port_ = std::atoi(out.c_str() + at + marker.size());
      return;
    }
    int wstatus = 0;
    if (waitpid(pid_, &wstatus, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("jrxlog serve ended with status " +
                               std::to_string(exitStatus(wstatus)) + ": " + readFile(err_));
    }
    usleep(50 * 1000);
  }
  stop();
  throw std::runtime_error("jrxlog serve did not start listening");
}

ServeProcess::~ServeProcess() { stop(); }

ToolRun ServeProcess::stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int wstatus = 0;
    waitpid(pid_, &wstatus, 0);
    pid_ = -1;
    ended_.status = exitStatus(wstatus);
    ended_.out = readFile(out_);
    ended_.err = readFile(err_);
    unlink(out_.c_str());
    unlink(err_.c_str());
  }
  return ended_;
}

std::string sharedDataDir() {
  const char* env = std::getenv("JRX_SHARED_DATA");
  // The default is ../shared/data beside the repository, which holds this file.
  std::string self = __FILE__;
  std::string root = self.substr(0, self.rfind("/tests/tool/"));
  std::string dir = env && *env ? env : root + "/../shared/data";
  struct stat st {};
  return stat((dir + "/openstack/openstack_2k.jsonl").c_str(), &st) == 0 ? dir : "";
}

}  // namespace jrxtest
