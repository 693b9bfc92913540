// Chromium without a screen, driven through its DevTools protocol over a pair of pipes (no
// socket, no port): one page, what it requested, and what went wrong on it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ToolFixture.h"

namespace jrxtest {

class HeadlessBrowser {
  using json = nlohmann::json;
  using Clock = std::chrono::steady_clock;

 public:
  // The browser to run: $JRX_CHROMIUM, else chromium where Debian puts it; "" when none.
  static std::string find() {
    if (const char* given = std::getenv("JRX_CHROMIUM"))
      return access(given, X_OK) == 0 ? given : "";
    return access("/usr/bin/chromium", X_OK) == 0 ? "/usr/bin/chromium" : "";
  }

  // Starts `program` on an empty profile, with one blank page whose requests, script errors,
  // console errors and dialogs are recorded. Requests to anything but loopback go to a proxy
  // that is not there, so that none of them leaves the machine even when a page asks.
  explicit HeadlessBrowser(const std::string& program) : profile_(makeTempDir()) {
    // The browser reads commands on its descriptor 3 and writes answers on 4.
    int commands[2], answers[2];
    if (pipe2(commands, O_CLOEXEC) != 0 || pipe2(answers, O_CLOEXEC) != 0)
      throw std::runtime_error("cannot make the browser's pipes");
    Strings args = {program,
                    "--headless",
                    "--remote-debugging-pipe",
                    "--no-sandbox",
                    "--disable-gpu",
                    "--no-first-run",
                    "--no-default-browser-check",
                    "--disable-background-networking",
                    "--disable-sync",
                    "--disable-component-update",
                    "--disable-dev-shm-usage",
                    "--proxy-server=http://127.0.0.1:9",
                    "--window-size=1280,1600",
                    "--user-data-dir=" + profile_,
                    "about:blank"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);  // a group of its own: its helpers end with it even when it is killed
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
  ~HeadlessBrowser() { close(); }
  HeadlessBrowser(const HeadlessBrowser&) = delete;
  HeadlessBrowser& operator=(const HeadlessBrowser&) = delete;

  void open(const std::string& url) {
    const json answer = call("Page.navigate", {{"url", url}});
    if (answer.contains("errorText")) throw std::runtime_error(url + ": " + answer.dump());
  }

  // Ends the browser and its helpers (killed when they linger); the destructor does it
  // otherwise.
  void close() {
    if (pid_ > 0) {
      ::close(toBrowser_);
      ::close(fromBrowser_);
      kill(-pid_, SIGTERM);
      for (int i = 0; i < 100 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      kill(-pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    std::error_code ignored;
    if (!profile_.empty()) std::filesystem::remove_all(profile_, ignored);
    profile_.clear();
  }

  // The value of a script expression on the page (promises awaited); throws on its error.
  json evaluate(const std::string& expression) {
    const json answer =
        call("Runtime.evaluate",
             {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}});
    if (answer.contains("exceptionDetails"))
      throw std::runtime_error(expression + ": " + answer["exceptionDetails"].dump());
    return answer.at("result").value("value", json());
  }

  // Evaluates `condition` until it is true; false after `most`. While the page loads (or
  // reloads after the token) it may have no body, or no context to evaluate in: "not yet".
  bool waitUntil(const std::string& condition,
                 std::chrono::milliseconds most = std::chrono::seconds(30)) {
    const auto until = Clock::now() + most;
    const std::string expression =
        "(() => { try { return Boolean(" + condition + "); } catch (e) { return false; } })()";
    for (; Clock::now() < until; std::this_thread::sleep_for(std::chrono::milliseconds(100))) {
      try {
        if (evaluate(expression) == json(true)) return true;
      } catch (const std::runtime_error&) {
      }
    }
    return false;
  }

  // Every URL the page asked for, in order; uncaught exceptions, console errors, the browser's
  // own complaints (a refused policy, a failed load) and dialogs the page opened, a line each.
  std::vector<std::string> requests, problems;

 private:
  // Sends a command and reads messages (recording the events among them) until its answer.
  json call(const std::string& method, const json& params = json::object(), bool onPage = true) {
    const int id = nextId_++;
    json message = {{"id", id}, {"method", method}, {"params", params}};
    if (onPage && !session_.empty()) message["sessionId"] = session_;
    const std::string bytes = message.dump() + '\0';
    for (size_t sent = 0; sent < bytes.size();) {
      const ssize_t n = write(toBrowser_, bytes.data() + sent, bytes.size() - sent);
      if (n <= 0) throw std::runtime_error("the browser is gone (" + method + ")");
      sent += static_cast<size_t>(n);
    }
    const auto until = Clock::now() + std::chrono::seconds(30);
    for (;;) {
      const size_t end = pending_.find('\0');
      if (end == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        pollfd p{fromBrowser_, POLLIN, 0};
        char buffer[65536];
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0)
          throw std::runtime_error("the browser did not answer in time");
        const ssize_t n = read(fromBrowser_, buffer, sizeof buffer);
        if (n <= 0) throw std::runtime_error("the browser is gone");
        pending_.append(buffer, static_cast<size_t>(n));
        continue;
      }
      const json answer = json::parse(pending_.substr(0, end));
      pending_.erase(0, end + 1);
      if (!answer.contains("id")) record(answer);
      if (answer.value("id", 0) != id) continue;
      if (answer.contains("error"))
        throw std::runtime_error(method + ": " + answer["error"].dump());
      return answer.value("result", json::object());
    }
  }

  void record(const json& event) {
    const std::string method = event.value("method", "");
    const json params = event.value("params", json::object());
    if (method == "Network.requestWillBeSent") requests.push_back(params.at("request").at("url"));
    const std::string type = params.value("type", ""),
                      level = params.value("entry", json::object()).value("level", "");
    if (method == "Runtime.exceptionThrown" || method == "Page.javascriptDialogOpening" ||
        (method == "Runtime.consoleAPICalled" && (type == "error" || type == "assert")) ||
        (method == "Log.entryAdded" && level == "error"))
      problems.push_back(method + ": " + params.dump());
  }

  pid_t pid_ = -1;
  int toBrowser_ = -1, fromBrowser_ = -1;
  std::string profile_, pending_, session_;
  int nextId_ = 1;
};

}  // namespace jrxtest
