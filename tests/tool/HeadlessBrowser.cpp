#include "HeadlessBrowser.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "ToolFixture.h"

namespace jrxtest {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

std::string HeadlessBrowser::find() {
  if (const char* given = std::getenv("JRX_CHROMIUM")) return access(given, X_OK) == 0 ? given : "";
  for (const char* path : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
    if (access(path, X_OK) == 0) return path;
  return "";
}

HeadlessBrowser::HeadlessBrowser(const std::string& program) : profile_(makeTempDir()) {
  // The browser reads commands on its descriptor 3 and writes answers on 4.
  int commands[2], answers[2];
  if (pipe2(commands, O_CLOEXEC) != 0 || pipe2(answers, O_CLOEXEC) != 0)
    throw std::runtime_error("cannot make the browser's pipes");
  Strings args = {program, "--headless", "--remote-debugging-pipe", "--no-sandbox",
                  "--disable-gpu", "--no-first-run", "--no-default-browser-check",
                  "--disable-background-networking", "--disable-sync",
                  "--disable-component-update", "--disable-dev-shm-usage",
                  "--proxy-server=http://127.0.0.1:9", "--window-size=1280,1600",
                  "--user-data-dir=" + profile_, "about:blank"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    // A group of its own: the browser's helpers end with it even when it has to be killed.
    setpgid(0, 0);
    // Moved out of the way first: either end may be 3 or 4 already, where dup2 would keep
    // its close-on-exec.
    int quiet = ::open("/dev/null", O_RDWR);
    const int in = fcntl(commands[0], F_DUPFD, 10), out = fcntl(answers[1], F_DUPFD, 10);
    if (quiet < 0 || in < 0 || out < 0 || dup2(quiet, 0) < 0 || dup2(quiet, 1) < 0 ||
        dup2(quiet, 2) < 0 || dup2(in, 3) < 0 || dup2(out, 4) < 0)
      _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  ::close(commands[0]);
  ::close(answers[1]);
  toBrowser_ = commands[1];
  fromBrowser_ = answers[0];
  // A constructor that throws has no destructor run: the browser is ended here.
  try {
    if (pid_ < 0) throw std::runtime_error("cannot start the browser");
    const json target = call("Target.createTarget", {{"url", "about:blank"}}, false);
    session_ = call("Target.attachToTarget",
                    {{"targetId", target.at("targetId")}, {"flatten", true}}, false)
                   .at("sessionId");
    for (const char* domain : {"Network.enable", "Page.enable", "Runtime.enable", "Log.enable"})
      call(domain);
  } catch (...) {
    close();
    throw;
  }
}

void HeadlessBrowser::close() {
  if (pid_ > 0) {
    try {
      session_.clear();
      call("Browser.close", json::object(), false);
    } catch (const std::exception&) {
    }
    ::close(toBrowser_);
    ::close(fromBrowser_);
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 100 && !ended; ++i) {
      ended = waitpid(pid_, &status, WNOHANG) == pid_;
      if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!ended) {
      kill(-pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }
  std::error_code ignored;
  if (!profile_.empty()) std::filesystem::remove_all(profile_, ignored);
  profile_.clear();
}

json HeadlessBrowser::call(const std::string& method, const json& params, bool onPage) {
  const int id = nextId_++;
  json message = {{"id", id}, {"method", method}, {"params", params}};
  if (onPage && !session_.empty()) message["sessionId"] = session_;
  std::string bytes = message.dump();
  bytes.push_back('\0');
  for (size_t sent = 0; sent < bytes.size();) {
    const ssize_t n = write(toBrowser_, bytes.data() + sent, bytes.size() - sent);
    if (n <= 0) throw std::runtime_error("the browser is gone (" + method + ")");
    sent += static_cast<size_t>(n);
  }
  const auto until = Clock::now() + std::chrono::seconds(30);
  for (;;) {
    json answer = readMessage(until);
    if (!answer.contains("id")) {
      record(answer);
      continue;
    }
    if (answer.at("id") != id) continue;
    if (answer.contains("error"))
      throw std::runtime_error(method + ": " + answer["error"].dump());
    return answer.value("result", json::object());
  }
}

json HeadlessBrowser::readMessage(Clock::time_point until) {
  for (;;) {
    const size_t end = pending_.find('\0');
    if (end != std::string::npos) {
      json message = json::parse(pending_.substr(0, end));
      pending_.erase(0, end + 1);
      return message;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    pollfd p{fromBrowser_, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0)
      throw std::runtime_error("the browser did not answer in time");
    char buffer[65536];
    const ssize_t n = read(fromBrowser_, buffer, sizeof buffer);
    if (n <= 0) throw std::runtime_error("the browser is gone");
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

void HeadlessBrowser::record(const json& event) {
  const std::string method = event.value("method", "");
  const json params = event.value("params", json::object());
  if (method == "Network.requestWillBeSent") requests_.push_back(params.at("request").at("url"));
  const std::string type = params.value("type", ""),
                    level = params.value("entry", json::object()).value("level", "");
  if (method == "Runtime.exceptionThrown" || method == "Page.javascriptDialogOpening" ||
      (method == "Runtime.consoleAPICalled" && (type == "error" || type == "assert")) ||
      (method == "Log.entryAdded" && level == "error"))
    problems_.push_back(method + ": " + params.dump());
}

void HeadlessBrowser::open(const std::string& url) {
  const json answer = call("Page.navigate", {{"url", url}});
  if (answer.contains("errorText")) throw std::runtime_error(url + ": " + answer["errorText"].dump());
}

json HeadlessBrowser::evaluate(const std::string& expression) {
  const json answer = call("Runtime.evaluate", {{"expression", expression},
                                                {"returnByValue", true},
                                                {"awaitPromise", true}});
  if (answer.contains("exceptionDetails"))
    throw std::runtime_error(expression + ": " + answer["exceptionDetails"].dump());
  return answer.at("result").value("value", json());
}

bool HeadlessBrowser::waitUntil(const std::string& condition, std::chrono::milliseconds most) {
  const auto until = Clock::now() + most;
  // While the page loads (or reloads after the token) it may have no body, or no context
  // to evaluate in: that is "not yet".
  const std::string expression =
      "(() => { try { return Boolean(" + condition + "); } catch (e) { return false; } })()";
  while (Clock::now() < until) {
    try {
      if (evaluate(expression) == json(true)) return true;
    } catch (const std::runtime_error&) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

}  // namespace jrxtest
