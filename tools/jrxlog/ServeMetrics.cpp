#include "ServeMetrics.h"

#include <httplib.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <iostream>
#include <vector>

#include "ASQuery.h"
#include "EmbeddedFiles.h"
#include "Exposition.h"
#include "JRXRdbms.h"
#include "JRXResultCodes.h"
#include "MetricsQueries.h"
#include "ServeConnections.h"
#include "ServeReplies.h"
#include "TableOutput.h"

namespace jrxlog {

namespace {

using Clock = std::chrono::steady_clock;

// Series of event types beyond these (by count) are summed into one gauge, so that a log
// of many types does not make a scrape of many series.
const size_t kEventTypesShown = 100;
// The statuses the listings name; each is shown, as 0 when no operation has it.
const int kNamedStatuses[] = {1, 2, 3, 4, 5};
// A first scrape waits this long at most for the first count of a large log.
const std::chrono::milliseconds kFirstPassWait{2000};

}  // namespace

// ------------------------------------------------------------------------ requests

std::string routeOf(const std::string& path) {
  static const char* const kRoutes[] = {"/", "/api/ops", "/api/events", "/api/events/hours",
                                        "/metrics"};
  for (const char* route : kRoutes)
    if (path == route) return route;
  if (path.size() > 9 && path.compare(0, 9, "/api/ops/") == 0) return "/api/ops/{id}";
  // The page's own files, each at "/NAME" (the document at "/").
  for (size_t i = 0; i < kEmbeddedFileCount; ++i)
    if (path.size() > 1 && path.compare(1, std::string::npos, kEmbeddedFiles[i].name) == 0 &&
        path != "/index.html")
      return path;
  return "other";
}

void RequestStats::observe(const std::string& route, int code, double seconds) {
  std::lock_guard<std::mutex> lock(m_);
  ++requests_[{route, code}];
  Durations& d = durations_[route];
  const auto bucket = std::lower_bound(kBuckets.begin(), kBuckets.end(), seconds);
  if (bucket != kBuckets.end()) ++d.buckets[static_cast<size_t>(bucket - kBuckets.begin())];
  ++d.count;
  d.sum += seconds;
}

void RequestStats::write(Exposition& out) const {
  std::lock_guard<std::mutex> lock(m_);
  out.family("jrxlog_http_requests_total", "counter",
             "Requests this server answered, by route and status code.");
  for (const auto& r : requests_)
    out.sample("jrxlog_http_requests_total",
               {{"route", r.first.first}, {"code", std::to_string(r.first.second)}},
               static_cast<double>(r.second));
  out.family("jrxlog_http_request_duration_seconds", "histogram",
             "Time from a request's first byte to its answer's last, by route.");
  for (const auto& d : durations_) {
    uint64_t below = 0;
    for (size_t i = 0; i < kBuckets.size(); ++i) {
      below += d.second.buckets[i];
      out.sample("jrxlog_http_request_duration_seconds_bucket",
                 {{"route", d.first}, {"le", sampleValue(kBuckets[i])}},
                 static_cast<double>(below));
    }
    out.sample("jrxlog_http_request_duration_seconds_bucket",
               {{"route", d.first}, {"le", "+Inf"}}, static_cast<double>(d.second.count));
    out.sample("jrxlog_http_request_duration_seconds_sum", {{"route", d.first}}, d.second.sum);
    out.sample("jrxlog_http_request_duration_seconds_count", {{"route", d.first}},
               static_cast<double>(d.second.count));
  }
}

// ------------------------------------------------------------------------ log counts

LogCountKeeper::~LogCountKeeper() {
  {
    std::lock_guard<std::mutex> lock(m_);
    stop_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::optional<LogCountKeeper::Counts> LogCountKeeper::latest(std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(m_);
  asked_ = Clock::now();
  cv_.notify_all();  // wakes the passes should they have paused
  if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
  cv_.wait_for(lock, wait, [this] { return counts_.has_value() || stop_; });
  return counts_;
}

bool LogCountKeeper::rest(Clock::duration d) {
  std::unique_lock<std::mutex> lock(m_);
  return !cv_.wait_for(lock, d, [this] { return stop_; });
}

void LogCountKeeper::run() {
  for (;;) {
    const auto began = Clock::now();
    try {
      Counts pass;
      long long opAfter = 0, eventAfter = 0;
      // Each part is a read of its own; a part's rest keeps the pass to its share of time.
      auto part = [&](auto read) {
        const auto start = Clock::now();
        const size_t n = read();
        return n == kPartRows && rest(9 * (Clock::now() - start));
      };
      while (part([&] { return countOperationsAfter(opAfter, kPartRows, pass.operations); })) {
      }
      while (part([&] { return countEventsAfter(eventAfter, kPartRows, pass.events); })) {
      }
      pass.taken = Clock::now();
      {
        std::lock_guard<std::mutex> lock(m_);
        if (stop_) return;
        counts_ = std::move(pass);
      }
      cv_.notify_all();
    } catch (const AException& e) {
      JRX::onRdbmsError(e);
      std::cerr << "GET /metrics: counting the log failed: " << e.Text().str() << '\n';
    }
    if (!rest(kPassInterval - (Clock::now() - began))) return;
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [this] { return stop_ || Clock::now() - asked_ < kIdleAfter; });
    if (stop_) return;
  }
}

// ------------------------------------------------------------------------ the scrape

void ServeMetrics::observe(const httplib::Request& req, const httplib::Response& res) {
  const Clock::time_point began = requestBegan();
  const double seconds =
      began == Clock::time_point{} ? 0 : std::chrono::duration<double>(Clock::now() - began).count();
  requests_.observe(routeOf(req.path), res.status, seconds);
}

std::string ServeMetrics::scrape() {
  const std::optional<LogCountKeeper::Counts> counts = counts_.latest(kFirstPassWait);
  const LiveState live = readLiveState();
  const double now = static_cast<double>(std::time(nullptr));
  Exposition out;

  // Started and running are read now, through their index; the others come from the count.
  std::map<int, long long> byStatus;
  for (int status : kNamedStatuses) byStatus[status] = 0;
  if (counts)
    for (const auto& s : counts->operations) byStatus[s.first] = s.second;
  for (const auto& s : live.unfinished) byStatus[s.first] = s.second;
  out.family("jrxlog_operations", "gauge",
             "Operations in the log by status (started and running as of the scrape, the "
             "others as of jrxlog_counts_age_seconds).");
  for (const auto& s : byStatus)
    out.sample("jrxlog_operations", {{"status", statusText(s.first)}},
               static_cast<double>(s.second));

  out.family("jrxlog_events", "gauge",
             "Events in the log by type (the most frequent types; as of "
             "jrxlog_counts_age_seconds).");
  long long otherTypes = 0;
  if (counts) {
    std::vector<std::pair<std::string, long long>> types(counts->events.begin(),
                                                         counts->events.end());
    std::stable_sort(types.begin(), types.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    for (size_t i = 0; i < types.size(); ++i) {
      if (i < kEventTypesShown)
        out.sample("jrxlog_events", {{"type", types[i].first}},
                   static_cast<double>(types[i].second));
      else
        otherTypes += types[i].second;
    }
  }
  out.family("jrxlog_events_of_unlisted_types", "gauge",
             "Events whose type is not among the types jrxlog_events lists.");
  out.sample("jrxlog_events_of_unlisted_types", static_cast<double>(otherTypes));

  out.family("jrxlog_counts_age_seconds", "gauge",
             "Seconds since the counts of operations and events were taken (NaN before the "
             "first count).");
  out.sample("jrxlog_counts_age_seconds",
             counts ? std::chrono::duration<double>(Clock::now() - counts->taken).count()
                    : std::nan(""));

  out.family("jrxlog_oldest_running_operation_age_seconds", "gauge",
             "Seconds since the first report of the oldest started or running operation (0 "
             "when none runs).");
  out.sample("jrxlog_oldest_running_operation_age_seconds",
             live.oldestUnfinished ? now - static_cast<double>(*live.oldestUnfinished) : 0);

  out.family("jrxlog_latest_event_age_seconds", "gauge",
             "Seconds since the time of the newest event (NaN when the log holds none).");
  out.sample("jrxlog_latest_event_age_seconds",
             live.latestEvent ? now - static_cast<double>(*live.latestEvent) : std::nan(""));

  requests_.write(out);
  return out.text();
}

// The figures are the whole log's: a count by status or type names no environment, so the
// client's rights per environment (which the listings apply) have nothing to narrow.
void addMetricsRoute(httplib::Server& server, ServeMetrics& metrics) {
  server.Get("/metrics", [&metrics](const httplib::Request& req, httplib::Response& res) {
    if (!req.params.empty()) {
      replyError(res, 400, "unknown parameter '" + req.params.begin()->first + "'");
      return;
    }
    try {
      res.set_header("Cache-Control", "no-store");
      res.set_content(metrics.scrape(), Exposition::kContentType);
    } catch (const AException& e) {
      // As the API: the cause is for the server's standard error, not for whoever asks.
      JRX::onRdbmsError(e);
      std::cerr << req.method << ' ' << req.path << ": " << e.Text().str() << '\n';
      replyError(res, 503, "the database failed; the server's log says why",
                 JRX::kDatabaseFailure);
    }
  });
}

}  // namespace jrxlog
