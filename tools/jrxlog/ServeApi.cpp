#include "ServeApi.h"

#include <httplib.h>

#include <ctime>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "EstimateQueries.h"
#include "ListingQueries.h"
#include "Listings.h"
#include "JsonRecords.h"
#include "Options.h"
#include "ServeReplies.h"
#include "Services.h"
#include "JRXResultCodes.h"

namespace jrxlog {

namespace {

// A request's query as listing options. A parameter given twice is refused rather than one
// of its values silently winning.
class QueryOptions : public OptionSource {
 public:
  explicit QueryOptions(const httplib::Request& req) : req_(req) {}

  bool has(const std::string& name) const override { return req_.has_param(name.c_str()); }
  std::string value(const std::string& name) const override {
    return req_.get_param_value(name.c_str());
  }
  // "?active", "?active=1" and "?active=true" switch it on; "0" and "false" leave it off.
  bool flag(const std::string& name) const override {
    if (!has(name)) return false;
    std::string v = value(name);
    if (v.empty() || v == "1" || v == "true") return true;
    if (v == "0" || v == "false") return false;
    throw UsageError("--" + name + ": expected 1 or 0, got '" + v + "'");
  }

  // Throws UsageError for a parameter outside `filters` and `outputs`, or one given twice.
  void expectOnly(const std::vector<std::string>& filters,
                  const std::vector<std::string>& outputs) const {
    std::set<std::string> known(filters.begin(), filters.end());
    known.insert(outputs.begin(), outputs.end());
    for (const auto& p : req_.params) {
      if (!known.count(p.first)) throw UsageError("unknown parameter '" + p.first + "'");
      if (req_.get_param_value_count(p.first.c_str()) > 1)
        throw UsageError("parameter '" + p.first + "' given more than once");
    }
  }

 private:
  const httplib::Request& req_;
};

// One JSON array, or JSON Lines with ?lines=1: the lines come from the listings' own writer.
// A listing's cursor goes in a header, and as the last record (as `--show-cursor` prints it).
void replyRecords(const QueryOptions& q, std::string lines, httplib::Response& res,
                  const std::string& cursor = "") {
  res.set_header("Cache-Control", "no-store");
  if (!cursor.empty()) {
    res.set_header("X-Jrxlog-Cursor", cursor);
    lines += cursorToJson(cursor) + "\n";
  }
  if (q.flag("lines")) {
    res.set_content(lines, "application/x-ndjson; charset=utf-8");
    return;
  }
  std::string body = "[";
  std::istringstream in(lines);
  std::string line;
  bool first = true;
  while (std::getline(in, line)) {
    if (!first) body += ",\n";
    body += line;
    first = false;
  }
  body += "]\n";
  res.set_content(body, "application/json; charset=utf-8");
}

// Where a listing goes on: after `after=`, else at its start.
template <class Query>
ListingCursor cursorOf(const QueryOptions& q, const char* listing, const Query& query) {
  const ListingCursor start = startOf(query);
  return q.has("after") ? readCursor(listing, start, q.value("after")) : start;
}

void listOps(const httplib::Request& req, httplib::Response& res) {
  QueryOptions q(req);
  q.expectOnly(kOpsFilters, {"lines", "no-envs", "after"});
  const OpsQuery query = opsQuery(q);
  std::ostringstream out;
  EnvWriter envs(out, !q.flag("no-envs"));
  // The listing of running operations carries each one's estimated end ("eta"), as `ops
  // --active --json` prints it.
  std::unique_ptr<OperationEstimates> estimates(
      query.active ? new OperationEstimates(static_cast<long>(std::time(nullptr))) : nullptr);
  const ListingCursor end =
      listOps(query, cursorOf(q, "ops", query), 1000,
              [&](const std::vector<JRX::JRXRequestProgressData>& records,
                  const std::vector<JRX::JRXListingPlace>&) {
                printOpsJson(records, out, envs, estimates.get());
              });
  replyRecords(q, out.str(), res, cursorText("ops", end));
}

void listEvents(const httplib::Request& req, httplib::Response& res) {
  QueryOptions q(req);
  q.expectOnly(kEventsFilters, {"lines", "envs", "after"});
  EventsQuery query = eventsQuery(q);
  query.withData = true;
  std::ostringstream out;
  EnvWriter envs(out, q.flag("envs"));
  const ListingCursor end = listEvents(query, cursorOf(q, "events", query),
                                       JRX::JRXEventLogLocal::kMaxEvents,
                                       [&](const std::vector<JRX::JRXEvent>& events,
                                           const std::vector<JRX::JRXListingPlace>&) {
                                         printEventsJson(events, out, envs);
                                       });
  replyRecords(q, out.str(), res, cursorText("events", end));
}

// Every progress record of one operation, oldest first.
void opHistory(const httplib::Request& req, httplib::Response& res) {
  QueryOptions q(req);
  q.expectOnly({}, {"lines", "no-envs"});
  OpsQuery query;
  query.id = req.matches[1];
  std::vector<JRX::JRXRequestProgressData> records = fetchOps(query);
  if (records.empty()) {
    replyError(res, 404, "no operation with id '" + query.id + "'");
    return;
  }
  std::ostringstream out;
  printOpsJson(records, out, !q.flag("no-envs"));
  replyRecords(q, out.str(), res);
}

// Bad parameters are the caller's (400); a refused right is 403; a database that fails is
// unavailable for now (503), and the next request tries it again.
httplib::Server::Handler guarded(void (*handler)(const httplib::Request&, httplib::Response&)) {
  return [handler](const httplib::Request& req, httplib::Response& res) {
    try {
      handler(req, res);
    } catch (const UsageError& e) {
      std::string what = e.what();
      if (what.compare(0, 2, "--") == 0) what.erase(0, 2);
      replyError(res, 400, what);
    } catch (const ServiceFailure& e) {
      if (e.code() != JRX::kDatabaseFailure)
        return replyError(res, e.code() == JRX::kRightRefused ? 403 : 500, errorText(e.code(), e.message()),
                          e.code());
      // The database's message may name its host, socket or files: that is for the
      // operator, on the server's standard error, not for whoever asks.
      std::cerr << req.method << ' ' << req.path << ": " << errorText(e.code(), e.message())
                << '\n';
      replyError(res, 503, "the database failed; the server's log says why",
                 JRX::kDatabaseFailure);
    }
  };
}

}  // namespace

void addApiRoutes(httplib::Server& server) {
  server.Get("/api/ops", guarded(listOps));
  server.Get("/api/events", guarded(listEvents));
  server.Get(R"(/api/ops/(.+))", guarded(opHistory));
}

}  // namespace jrxlog
