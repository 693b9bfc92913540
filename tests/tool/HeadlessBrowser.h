// Chromium without a screen, driven through its DevTools protocol over a pair of pipes (no
// socket, no port): one page, what it requested, and what went wrong on it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace jrxtest {

class HeadlessBrowser {
 public:
  // The browser to run: $JRX_CHROMIUM, else chromium where Debian puts it; "" when none.
  static std::string find();

  // Starts `program` on an empty profile, with one blank page whose requests, script errors,
  // console errors and dialogs are recorded. Requests to anything but loopback go to a proxy
  // that is not there, so that none of them leaves the machine even when a page asks.
  explicit HeadlessBrowser(const std::string& program);
  ~HeadlessBrowser() { close(); }
  HeadlessBrowser(const HeadlessBrowser&) = delete;
  HeadlessBrowser& operator=(const HeadlessBrowser&) = delete;

  void open(const std::string& url);
  // Ends the browser and its helpers; the destructor does it otherwise.
  void close();
  // The value of a script expression on the page (promises awaited); throws on its error.
  nlohmann::json evaluate(const std::string& expression);
  // Evaluates `condition` until it is true; false after `most`.
  bool waitUntil(const std::string& condition,
                 std::chrono::milliseconds most = std::chrono::seconds(30));

  // Every URL the page asked for, in order.
  const std::vector<std::string>& requests() const { return requests_; }
  // Uncaught exceptions, console errors, the browser's own complaints (a refused policy, a
  // failed load) and dialogs the page opened: each one line.
  const std::vector<std::string>& problems() const { return problems_; }

 private:
  nlohmann::json call(const std::string& method, const nlohmann::json& params = nlohmann::json::object(),
                      bool onPage = true);
  nlohmann::json readMessage(std::chrono::steady_clock::time_point until);
  void record(const nlohmann::json& event);

  pid_t pid_ = -1;
  int toBrowser_ = -1, fromBrowser_ = -1;
  std::string profile_, pending_, session_;
  int nextId_ = 1;
  std::vector<std::string> requests_, problems_;
};

}  // namespace jrxtest
