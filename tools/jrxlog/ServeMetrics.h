// GET /metrics of `jrxlog serve`: the log's state and the server's own requests in the
// Prometheus text format, behind the same safety checks as every other route.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace jrxlog {

class Exposition;

// Counts and durations of the requests the server answered, by route and status code.
class RequestStats {
 public:
  static constexpr std::array<double, 12> kBuckets = {0.001, 0.005, 0.01, 0.025, 0.05, 0.1,
                                                      0.25,  0.5,   1,    2.5,   5,    10};
  void observe(const std::string& route, int code, double seconds);
  void write(Exposition& out) const;

 private:
  struct Durations {
    std::array<uint64_t, kBuckets.size()> buckets{};  // each bucket's own, not cumulative
    uint64_t count = 0;
    double sum = 0;
  };
  mutable std::mutex m_;
  std::map<std::pair<std::string, int>, uint64_t> requests_;
  std::map<std::string, Durations> durations_;
};

// The route a path is counted under: the server's own paths (the API's, the page's files),
// "/api/ops/{id}" for an operation's history and "other" for the rest, so that no client
// makes new series.
std::string routeOf(const std::string& path);

// Counts of all operations by status and of all events by type, taken again and again in
// the background: each pass reads the tables in parts along their keys, resting between
// parts nine times as long as a part took, so that counting takes at most a tenth of one
// connection's time whatever the log's size, and a pass begins at most every kPassInterval
// (a small log is not counted over and over). A scrape then costs the same on a log of any
// size; the counts are those of the latest whole pass, as old as a pass takes (a few
// seconds on a small log, a minute or so on one of millions of rows).
class LogCountKeeper {
 public:
  static constexpr size_t kPartRows = 10000;
  static constexpr std::chrono::seconds kPassInterval{5};
  // Without a scrape for this long the passes pause until the next one, which then gets the
  // last counts taken (jrxlog_counts_age_seconds says how old).
  static constexpr std::chrono::minutes kIdleAfter{10};

  struct Counts {
    std::map<int, long long> operations;
    std::map<std::string, long long> events;
    std::chrono::steady_clock::time_point taken;
  };

  LogCountKeeper() = default;
  ~LogCountKeeper();
  LogCountKeeper(const LogCountKeeper&) = delete;
  LogCountKeeper& operator=(const LogCountKeeper&) = delete;

  // The latest whole pass's counts; the first call starts the passes and waits up to `wait`
  // for the first one.
  std::optional<Counts> latest(std::chrono::milliseconds wait);

 private:
  void run();
  bool rest(std::chrono::steady_clock::duration d);  // false once stopping

  std::mutex m_;
  std::condition_variable cv_;
  std::thread thread_;
  bool stop_ = false;
  std::chrono::steady_clock::time_point asked_;
  std::optional<Counts> counts_;
};

class ServeMetrics {
 public:
  // From the server's logger, once per answered request.
  void observe(const httplib::Request& req, const httplib::Response& res);
  // The exposition; throws what the log's reads throw.
  std::string scrape();

 private:
  RequestStats requests_;
  LogCountKeeper counts_;
};

void addMetricsRoute(httplib::Server& server, ServeMetrics& metrics);

}  // namespace jrxlog
