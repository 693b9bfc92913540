#include "ServeApi.h"

#include <httplib.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <iostream>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "EstimateQueries.h"
#include "EventHours.h"
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

// The body of an answer of records: their JSON Lines as they are (?lines=1), or one JSON array
// of them, made up piece by piece as the lines come.
class RecordsBody {
 public:
  explicit RecordsBody(bool lines) : lines_(lines) {}
  const char* contentType() const {
    return lines_ ? "application/x-ndjson; charset=utf-8" : "application/json; charset=utf-8";
  }
  std::string begin() const { return lines_ ? "" : "["; }
  // The body text of whole lines of records.
  std::string records(const std::string& text) {
    if (lines_) return text;
    std::string body;
    for (size_t at = 0; at < text.size();) {
      size_t end = text.find('\n', at);
      if (end == std::string::npos) end = text.size();
      if (!first_) body += ",\n";
      body.append(text, at, end - at);
      first_ = false;
      at = end + 1;
    }
    return body;
  }
  std::string end() const { return lines_ ? "" : "]\n"; }

 private:
  bool lines_;
  bool first_ = true;
};

// Records read whole (one operation's history), as one JSON array or as JSON Lines.
void replyRecords(const QueryOptions& q, const std::string& lines, httplib::Response& res) {
  res.set_header("Cache-Control", "no-store");
  RecordsBody body(q.flag("lines"));
  res.set_content(body.begin() + body.records(lines) + body.end(), body.contentType());
}

// Where a listing goes on: after `after=`, else at its start.
template <class Query>
ListingCursor cursorOf(const QueryOptions& q, const char* listing, const Query& query) {
  const ListingCursor start = startOf(query);
  return q.has("after") ? readCursor(listing, start, q.value("after")) : start;
}

// Records per part of an answer: its memory while it is written.
const size_t kApiPart = 200;

// The client went away in the middle of an answer.
struct ClientGone {};
// The answer reached the place its header named.
struct ReachedEnd {};

// A listing answered in parts of kApiPart records, each read by the listings' own loop and
// written as it comes, so that an answer of any length holds one part in memory. The first
// part is read before anything is sent, so that a refusal or a failing database is still
// answered with its status; a listing that ends within it is sent whole. For a longer one,
// the places of the rest (not its records) are read first, to find its last record's place
// before the headers go out: the header then names it, and the records are streamed in
// chunks up to it and no further. Records committed meanwhile before that place go with the
// answer (none is lost to a client that reads on from the header); those beyond it wait for
// the next request. One that fails while streaming is cut off without its last chunk, so
// that the client sees it incomplete.
template <class Query, class Record>
void replyListing(const httplib::Request& req, httplib::Response& res, const char* listing,
                  const Query& query, const ListingCursor& from, bool withEnvs,
                  ListingCursor (*list)(const Query&, const ListingCursor&, size_t,
                                        const std::function<void(const std::vector<Record>&,
                                                                 const std::vector<JRX::JRXListingPlace>&)>&),
                  const std::function<void(const std::vector<Record>&, std::ostream&, EnvWriter&)>&
                      print) {
  struct Answer {
    Answer(bool lines, bool withEnvs) : body(lines), envs(out, withEnvs) {}
    RecordsBody body;
    std::ostringstream out;
    EnvWriter envs;
    // The records printed since the last call, as body text.
    std::string take() {
      std::string text = body.records(out.str());
      out.str("");
      return text;
    }
  };
  using Part = std::vector<Record>;
  using Places = std::vector<JRX::JRXListingPlace>;
  auto answer = std::make_shared<Answer>(QueryOptions(req).flag("lines"), withEnvs);
  Query first = query;
  first.limit = static_cast<unsigned int>(std::min<size_t>(query.limit, kApiPart));
  size_t got = 0;
  const ListingCursor at = list(first, from, kApiPart, [&](const Part& records, const Places&) {
    print(records, answer->out, answer->envs);
    got += records.size();
  });
  res.set_header("Cache-Control", "no-store");
  const std::string head = answer->body.begin() + answer->take();
  ListingCursor end = at;
  Query rest = query;
  size_t beyond = 0;
  if (got == first.limit && got < query.limit) {
    rest.limit = query.limit - static_cast<unsigned int>(got);
    end = endOf(rest, at, beyond);
  }
  res.set_header("X-Jrxlog-Cursor", cursorText(listing, end));
  if (beyond == 0) {
    answer->out << cursorToJson(cursorText(listing, at)) << '\n';
    res.set_content(head + answer->take() + answer->body.end(), answer->body.contentType());
    return;
  }
  // Bounded by the place, not by the count: the place holds even when records came meanwhile.
  rest.limit = std::numeric_limits<unsigned int>::max();
  const std::string what = req.method + " " + req.path;
  res.set_chunked_content_provider(
      answer->body.contentType(),
      [answer, head, rest, at, end, listing, list, print, what](size_t, httplib::DataSink& sink) {
        auto send = [&](const std::string& text) {
          if (!text.empty() && !sink.write(text.data(), text.size())) throw ClientGone();
        };
        try {
          send(head);
          try {
            list(rest, at, kApiPart, [&](const Part& records, const Places& places) {
              // The part's records up to the place the header named; those past it were
              // committed since, and belong to the next answer.
              size_t upToEnd = 0;
              while (upToEnd < places.size() && !comesAfter(rest, places[upToEnd], end.place))
                ++upToEnd;
              if (upToEnd == records.size()) {
                print(records, answer->out, answer->envs);
              } else {
                print(Part(records.begin(), records.begin() + upToEnd), answer->out,
                      answer->envs);
              }
              send(answer->take());
              const bool endSent =
                  upToEnd > 0 && !comesAfter(rest, end.place, places[upToEnd - 1]);
              if (upToEnd < records.size() || endSent) throw ReachedEnd();
            });
          } catch (const ReachedEnd&) {
          }
          answer->out << cursorToJson(cursorText(listing, end)) << '\n';
          send(answer->take() + answer->body.end());
          sink.done();
          return true;
        } catch (const ClientGone&) {
          return false;
        } catch (const ServiceFailure& e) {
          std::cerr << what << ": " << errorText(e.code(), e.message())
                    << "; the answer was cut short\n";
        } catch (const std::exception& e) {
          std::cerr << what << ": " << e.what() << "; the answer was cut short\n";
        }
        return false;
      });
}

void apiOps(const httplib::Request& req, httplib::Response& res) {
  QueryOptions q(req);
  q.expectOnly(kOpsFilters, {"lines", "no-envs", "after"});
  const OpsQuery query = opsQuery(q);
  // The listing of running operations carries each one's estimated end ("eta"), as `ops
  // --active --json` prints it; the estimates live as long as the answer's parts.
  std::shared_ptr<OperationEstimates> estimates(
      query.active ? new OperationEstimates(static_cast<long>(std::time(nullptr))) : nullptr);
  replyListing<OpsQuery, JRX::JRXRequestProgressData>(
      req, res, "ops", query, cursorOf(q, "ops", query), !q.flag("no-envs"), listOps,
      [estimates](const std::vector<JRX::JRXRequestProgressData>& records, std::ostream& out,
                  EnvWriter& envs) { printOpsJson(records, out, envs, estimates.get()); });
}

void apiEvents(const httplib::Request& req, httplib::Response& res) {
  QueryOptions q(req);
  q.expectOnly(kEventsFilters, {"lines", "envs", "after"});
  EventsQuery query = eventsQuery(q);
  query.withData = true;
  replyListing<EventsQuery, JRX::JRXEvent>(req, res, "events", query,
                                           cursorOf(q, "events", query), q.flag("envs"),
                                           listEvents,
                                           [](const std::vector<JRX::JRXEvent>& events,
                                              std::ostream& out, EnvWriter& envs) {
                                             printEventsJson(events, out, envs);
                                           });
}

// Events read at most by one count of events per hour: its cost on any log.
const unsigned long long kHourRows = 50000;
// Hours one count spans at most: a month.
const long kMostHours = 31 * 24;

// Events per hour by type over a time range (by default the week up to now), with the
// listing's environment, role, category and type: {"from", "to", "since", "complete",
// "counted", "hours": [{"hour", "counts": {TYPE: N}}]}, hours oldest first, those without
// events left out; "complete" false when the range held more events than are read, and
// "since" where the counts then begin.
void apiEventHours(const httplib::Request& req, httplib::Response& res) {
  QueryOptions q(req);
  q.expectOnly({"eid", "operand", "category", "type", "from", "to"}, {});
  EventsQuery query = eventsQuery(q);
  if (!q.has("to")) query.to = static_cast<long>(std::time(nullptr));
  if (!q.has("from")) query.from = std::max(0L, query.to - 7 * 86400 + 1);
  if (query.from > query.to) throw UsageError("from: after to");
  if (query.to - query.from >= kMostHours * 3600)
    throw UsageError("from: a count spans at most " + std::to_string(kMostHours) + " hours");
  // The listing's rights, which only the plug-in knows: asked of the listing, for no record.
  EventsQuery rights = query;
  rights.limit = 0;
  size_t none = 0;
  endOf(rights, startOf(rights), none);
  const HourCounts counts = countEventsByHour(query, kHourRows);
  nlohmann::ordered_json body;
  body["from"] = query.from;
  body["to"] = query.to;
  body["since"] = counts.since;
  body["complete"] = counts.complete;
  body["counted"] = counts.counted;
  body["hours"] = nlohmann::ordered_json::array();
  for (const auto& hour : counts.byHour) {
    nlohmann::ordered_json types = nlohmann::ordered_json::object();
    for (const auto& type : hour.second) types[textToJson(type.first)] = type.second;
    body["hours"].push_back({{"hour", hour.first}, {"counts", types}});
  }
  res.set_header("Cache-Control", "no-store");
  res.set_content(body.dump() + "\n", "application/json; charset=utf-8");
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
  server.Get("/api/ops", guarded(apiOps));
  server.Get("/api/events", guarded(apiEvents));
  server.Get("/api/events/hours", guarded(apiEventHours));
  server.Get(R"(/api/ops/(.+))", guarded(opHistory));
}

}  // namespace jrxlog
