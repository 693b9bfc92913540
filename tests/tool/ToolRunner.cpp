#include "ToolRunner.h"

#include <fcntl.h>
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

ToolRun runJrxlog(const std::vector<std::string>& args, const std::string& input,
                  const std::string& dir,
                  const std::vector<std::pair<std::string, std::string>>& env) {
  std::vector<std::string> argv = {JRXLOG_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return runProgram(argv, input, dir, env);
}

ToolRun runProgram(const std::vector<std::string>& argvText, const std::string& input,
                   const std::string& dir,
                   const std::vector<std::pair<std::string, std::string>>& env) {
  std::string in = writeTempFile(input);
  std::string out = scratchDir() + "/o" + std::to_string(++fileCounter);
  std::string err = scratchDir() + "/e" + std::to_string(++fileCounter);
  std::vector<std::string> args = argvText;
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(&a[0]);
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
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  ToolRun r;
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  r.out = readFile(out);
  r.err = readFile(err);
  unlink(in.c_str());
  unlink(out.c_str());
  unlink(err.c_str());
  return r;
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
