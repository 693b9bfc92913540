// jrxlog serve end to end: the API answers what the listings print, refuses what it must,
// survives a failing database, asks for the token it was given, serves the page's files and
// counts the log and its own answers on /metrics (the page in a browser: ToolWebViewTest.cpp).
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>
#include <tuple>

#include "ASQuery.h"
#include "Exposition.h"
#include "ToolFixture.h"

namespace jrxtest {
namespace {

using nlohmann::json;

class ToolServe : public ToolDb {};

const std::pair<std::string, std::string> kAuth = {"Authorization", "Bearer s3cret-token"};
const httplib::Headers kBearer = {kAuth};

httplib::Response get(int port, const std::string& path, const httplib::Params& params = {},
                      const httplib::Headers& headers = kBearer) {
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(60, 0);  // long answers, written by a build with sanitizers
  auto res = client.Get(path, params, headers);
  if (!res) throw std::runtime_error("no answer to GET " + path);
  return *res;
}

// A connection that has sent `request` as it is, which a well-behaved client library would not.
int connected(int port, const std::string& request) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) <= 0)
    ADD_FAILURE() << "cannot send to the server";
  return fd;
}

std::string rawAnswer(int port, const std::string& request) {
  const int fd = connected(port, request);
  std::string all;
  char buffer[4096];
  for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) all.append(buffer, n);
  close(fd);
  return all;
}

const char* const kPython = "/usr/bin/python3";

// The samples of an exposition as the Prometheus client library's parser reads them:
// [family, type, sample name, {labels}, "value"] each; fails the test when it refuses it.
json parsedByPrometheus(const std::string& exposition) {
  if (access(kPython, X_OK) != 0) return json();
  const ToolRun r = runProgram(kPython, {"-c", R"(
import json, sys
from prometheus_client.parser import text_string_to_metric_families
out = []
for f in text_string_to_metric_families(sys.stdin.read()):
    for s in f.samples:
        out.append([f.name, f.type, s.name, s.labels, repr(s.value)])
print(json.dumps(out))
)"}, exposition);
  EXPECT_EQ(r.status, 0) << r.err << exposition;
  return r.status == 0 ? json::parse(r.out) : json();
}

// The value of one sample; NaN when it is not there.
double valueOf(const json& samples, const std::string& name, const json& labels = json::object()) {
  for (const auto& s : samples)
    if (s[2] == name && s[3] == labels) return std::stod(s[4].get<std::string>());
  return std::nan("");
}

// The values of the samples of `name` by their one label.
std::map<std::string, double> byLabel(const json& samples, const std::string& name) {
  std::map<std::string, double> values;
  for (const auto& s : samples)
    if (s[2] == name) values[s[3].begin().value()] = std::stod(s[4].get<std::string>());
  return values;
}

// Label values and help texts of any bytes come out of a real parser as they went in; numbers
// in their shortest form that reads back the same (bucket bounds are label texts).
TEST(Exposition, ItsEscapesAreReadBackByAPrometheusParser) {
  EXPECT_EQ(jrxlog::sampleValue(0.1 + 0.2) + " " + jrxlog::sampleValue(-3),
            "0.30000000000000004 -3");
  if (access(kPython, X_OK) != 0) GTEST_SKIP() << "no " << kPython << " (scripts/setup.sh)";
  jrxlog::Exposition out;
  out.family("t_gauge", "gauge", "help with \\ and a\nline feed and \"quotes\"");
  const std::string awkward[] = {"plain", "quote \" back\\slash", "line\nfeed", "{x=\"y\"} 1",
                                 std::string("nul\0byte", 8), "caf\xc3\xa9"};
  json expected = json::array();
  for (size_t i = 0; i < std::size(awkward); ++i) {
    const std::string n = std::to_string(i);
    out.sample("t_gauge", {{"type", awkward[i]}, {"n", n}}, static_cast<double>(i));
    expected.push_back({"t_gauge", "gauge", "t_gauge", {{"type", awkward[i]}, {"n", n}}, n + ".0"});
  }
  out.sample("t_gauge", {{"type", "not utf-8 \xff"}, {"n", "x"}}, 0.25);
  // As the JSON Lines write what is not UTF-8.
  expected.push_back({"t_gauge", "gauge", "t_gauge",
                      {{"type", "not utf-8 \xef\xb7\x90" "ff"}, {"n", "x"}}, "0.25"});
  out.family("t_nan", "gauge", "no value");
  out.sample("t_nan", std::nan(""));
  out.family("t_total", "counter", "a counter");
  out.sample("t_total", 12345678901234.0);
  expected.push_back({"t_nan", "gauge", "t_nan", json::object(), "nan"});
  expected.push_back({"t", "counter", "t_total", json::object(), "12345678901234.0"});
  EXPECT_EQ(parsedByPrometheus(out.text()), expected) << out.text();
}

// Each listing asked of the API answers byte for byte what the command prints with --json
// --show-cursor; whatever is wrong is said with the status that fits and changes nothing;
// every request needs the token; /metrics counts the log and the answers given before it.
TEST_P(ToolServe, ApiAnswersWhatTheListingsPrint) {
  ASSERT_EQ(jrx({"import"}, kSample).status, 0);
  ServeProcess server(url_, {"--token-file", writeTempFile("s3cret-token\n")});
  auto ev = [](char n) { return std::string("3f1e0d2c-0000-4000-8000-00000000000") + n; };
  const std::pair<Strings, Strings> cases[] = {
      {{"ops"}, {"req-1", "req-1", "req-1", "req-2", "a/b c", "req-3"}},
      {{"ops", "--limit", "2"}, {"req-3", "a/b c"}},  // the newest, newest first
      {{"ops", "--limit", "0"}, {}},
      {{"ops", "--first-only", "--active", "--no-envs"}, {"req-2", "a/b c"}},
      {{"ops", "--name", "vm.stop", "--parent", "req-2"}, {"a/b c"}},
      {{"ops", "--id", "a/b c"}, {"a/b c"}},
      {{"ops", "--eid", kVm1, "--first-only"}, {"req-1"}},
      {{"ops", "--from", "1701000100", "--to", "1701000200"}, {"req-2", "a/b c"}},  // began
      {{"events"}, {ev('3'), ev('2'), ev('1')}},
      {{"events", "--category", "vm", "--type", "info", "--envs"}, {ev('1')}},
      {{"events", "--eid", kVm1, "--operand", "--limit", "1"}, {ev('2')}},
      {{"events", "--eid", kNode, "--from", "1701000002", "--to", "1701000002"}, {ev('2')}},
  };
  for (const auto& c : cases) {
    Strings args = c.first;
    httplib::Params params = {{"lines", "1"}};
    for (size_t i = 1; i < args.size(); ++i) {
      const bool flag = i + 1 == args.size() || args[i + 1].rfind("--", 0) == 0;
      params.emplace(args[i].substr(2), flag ? "1" : args[i + 1]);
      i += flag ? 0 : 1;
    }
    args.insert(args.end(), {"--json", "--show-cursor"});  // the API's answer ends with its cursor
    const ToolRun printed = jrx(args);
    EXPECT_EQ(idsOf(printed.out), c.second) << args[1] << printed.err;
    const httplib::Response api = get(server.port(), "/api/" + args[0], params);
    EXPECT_EQ(std::make_pair(api.status, api.body), std::make_pair(200, printed.out)) << args[1];
  }
  // Events per hour and type, with the listing's filters (the sample's are in one hour); counts
  // change, so none is cached. One operation's history, its id in the path.
  const httplib::Params range = {{"eid", kNode}, {"from", "1701000000"}, {"to", "1701086399"}};
  const httplib::Response hours = get(server.port(), "/api/events/hours", range);
  EXPECT_EQ(hours.get_header_value("Cache-Control"), "no-store");
  EXPECT_EQ(json::parse(hours.body),
            json::parse(R"({"from":1701000000,"to":1701086399,"since":1701000000,"hours":)"
                        R"([{"hour":1701000000,"counts":{"audit":1,"env_status":1,"info":1}}],)"
                        R"("counted":3,"complete":true})"));
  EXPECT_EQ(get(server.port(), "/api/ops/a%2Fb%20c", {{"lines", "1"}}).body,
            jrx({"ops", "--id", "a/b c", "--json"}).out);

  const httplib::Headers wrongHost = {{"Host", "attacker.example:8080"}, kAuth};
  const auto bearer = [](const std::string& token) {
    return httplib::Headers{{"Authorization", "Bearer " + token}};
  };
  const std::tuple<const char*, const char*, httplib::Headers, int, const char*> answers[] = {
      {"GET", "/api/ops?active=maybe", kBearer, 400, "active: expected 1 or 0"},
      {"GET", "/api/events?active=1", kBearer, 400, "unknown parameter 'active'"},
      {"GET", "/api/ops?limit=1&limit=2", kBearer, 400, "more than once"},
      {"GET", "/api/ops/req-9", kBearer, 404, "no operation with id 'req-9'"},
      {"GET", "/api/events/hours?from=0&to=2678400", kBearer, 400, "at most 744 hours"},
      {"GET", "/api/events/hours?from=10&to=5", kBearer, 400, "from: after to"},
      {"GET", "/api/events/hours?eid=nope", kBearer, 400, "eid"},
      {"POST", "/api/ops", kBearer, 405, "read-only"},
      {"DELETE", "/api/ops/req-1", kBearer, 405, "read-only"},
      // A page elsewhere may point a name of its own at this address.
      {"GET", "/", wrongHost, 403, "loopback host names only"},
      {"GET", "/api/events", {{"Host", "[::1]:8080"}, kAuth}, 200, "3f1e0d2c"},
      {"GET", "/api/ops", {}, 401, "bearer token"},
      {"GET", "/app.js", bearer("s3cret-tokeN"), 401, "bearer token"},
      {"GET", "/", {{"Cookie", "jrxlog_token=guess"}}, 401, "bearer token"},
      {"GET", "/?token=guess", {}, 401, "bearer token"},
      {"GET", "/api/events", {{"Cookie", "jrxlog_token=s3cret-token"}}, 200, "3f1e0d2c"},
      // The whole header is the token: "%00" is decoded to a NUL byte that must not end it.
      {"GET", "/api/ops", bearer("s3cret-token%00"), 401, "bearer token"},
      {"GET", "/", {{"Cookie", "jrxlog_token=s3cret-token%00"}}, 401, "bearer token"},
      {"GET", "/api/ops", bearer("s3cret-token x"), 401, "bearer token"},
      {"GET", "/api/ops", bearer("s3cret-tok"), 401, "bearer token"},
      {"GET", "/api/ops", {kAuth, {"Authorization", "Bearer guess"}}, 401, "bearer token"},
      // Times beyond the 32 bits the log keeps would wrap to other times.
      {"GET", "/api/ops?to=4294967496", kBearer, 400, "to: '4294967496' is outside the times"},
      // /metrics behind the same checks as the API.
      {"GET", "/metrics", {}, 401, "bearer token"},
      {"GET", "/metrics", wrongHost, 403, "loopback host names only"},
      {"POST", "/metrics", kBearer, 405, "read-only"},
      {"GET", "/metrics?x=1", kBearer, 400, "unknown parameter 'x'"},
      // A route is its name, not a pattern that other paths match.
      {"GET", "/appXjs", kBearer, 404, "nothing served at /appXjs"},
  };
  httplib::Client client("127.0.0.1", server.port());
  for (const auto& [method, path, headers, status, says] : answers) {
    httplib::Request request;
    request.method = method;
    request.path = path;
    request.headers = headers;
    auto res = client.send(request);
    ASSERT_TRUE(res) << path;
    EXPECT_EQ(res->status, status) << path;
    EXPECT_NE(res->body.find(says), std::string::npos) << method << path << ": " << res->body;
  }
  // A client library stops at a NUL byte; a raw request does not.
  for (const std::string& header :
       {std::string("Bearer s3cret-token\0x", 21), std::string("Bearer s3cret-token\0", 20)}) {
    const std::string answer = rawAnswer(
        server.port(), "GET /api/ops HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                       "Authorization: " + header + "\r\n\r\n");
    EXPECT_EQ(answer.rfind("HTTP/1.1 4", 0), 0u) << answer;
  }
  EXPECT_EQ(get(server.port(), "/api/ops", {}, {}).get_header_value("WWW-Authenticate"), "Bearer");
  // A browser opens /?token=... once and carries the token in a cookie from then on.
  EXPECT_EQ(get(server.port(), "/?token=s3cret-token", {}, {}).get_header_value("Set-Cookie").find(
                "jrxlog_token=s3cret-token; Path=/; HttpOnly"), 0u);
  // The page's files, each with its type and a policy that runs no inline script and no
  // script from elsewhere (the scripts in a browser: ToolWebViewTest.cpp).
  const std::tuple<const char*, std::string, const char*> files[] = {
      {"/", JRXLOG_WEB_DIR "/index.html", "text/html; charset=utf-8"},
      {"/app.js", JRXLOG_WEB_DIR "/app.js", "text/javascript; charset=utf-8"},
      {"/style.css", JRXLOG_WEB_DIR "/style.css", "text/css; charset=utf-8"},
      {"/favicon.svg", JRXLOG_WEB_DIR "/favicon.svg", "image/svg+xml"},
  };
  for (const auto& [path, file, type] : files) {
    const httplib::Response res = get(server.port(), path, {}, {{"Host", "localhost:1"}, kAuth});
    const std::string csp = res.get_header_value("Content-Security-Policy");
    EXPECT_TRUE(res.status == 200 && !res.body.empty() && res.body == readFile(file)) << path;
    EXPECT_EQ(res.get_header_value("Content-Type") + res.get_header_value("X-Content-Type-Options"),
              type + std::string("nosniff")) << path;
    EXPECT_TRUE(csp.find("script-src 'self';") != csp.npos && csp.find("unsafe") == csp.npos)
        << csp;
  }

  const long before = static_cast<long>(std::time(nullptr));
  const httplib::Response metrics = get(server.port(), "/metrics");
  const long after = static_cast<long>(std::time(nullptr));
  ASSERT_EQ(metrics.status, 200) << metrics.body;
  EXPECT_EQ(metrics.get_header_value("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
  const json samples = parsedByPrometheus(metrics.body);
  if (!samples.is_null()) {
    EXPECT_EQ(byLabel(samples, "jrxlog_operations"),
              (std::map<std::string, double>{
                  {"started", 2}, {"running", 0}, {"done", 1}, {"canceled", 0}, {"failed", 1}}));
    EXPECT_EQ(byLabel(samples, "jrxlog_events"),
              (std::map<std::string, double>{{"info", 1}, {"env_status", 1}, {"audit", 1}}));
    const double oldest = valueOf(samples, "jrxlog_oldest_running_operation_age_seconds");
    EXPECT_TRUE(oldest >= before - 1701000100 && oldest <= after - 1701000100) << oldest;
    const double latest = valueOf(samples, "jrxlog_latest_event_age_seconds");
    EXPECT_TRUE(latest >= before - 1701000003 && latest <= after - 1701000003) << latest;
    // Some of the requests answered above, by route and code; a duration for each.
    const std::tuple<const char*, const char*, double> answered[] = {
        {"/metrics", "401", 1}, {"/metrics", "403", 1}, {"/metrics", "405", 1},
        {"/metrics", "400", 1}, {"/api/ops/{id}", "404", 1}, {"/api/ops/{id}", "405", 1},
        {"other", "404", 1},    {"/app.js", "401", 1},    {"/app.js", "200", 1}};
    for (const auto& [route, code, n] : answered)
      EXPECT_EQ(valueOf(samples, "jrxlog_http_requests_total", {{"route", route}, {"code", code}}),
                n) << route << " " << code;
    const json route = {{"route", "/metrics"}}, all = {{"route", "/metrics"}, {"le", "+Inf"}};
    EXPECT_EQ(valueOf(samples, "jrxlog_http_request_duration_seconds_count", route), 4);
    EXPECT_EQ(valueOf(samples, "jrxlog_http_request_duration_seconds_bucket", all), 4);
  }

  // A failing database is 503 for as long as it fails; the server answers again once it is back.
  auto db = ASDatabase::Open(url_);
  for (const std::string table : {"events_log", "op_log"}) {
    const std::string path = table == "op_log" ? "/api/ops" : "/api/events";
    const std::string before = get(server.port(), path).body;
    db->Session()->ExecuteSql("ALTER TABLE " + table + " RENAME TO gone_" + table);
    const httplib::Response failed = get(server.port(), path);
    // Which table, file or socket failed is the operator's to read, not the client's.
    EXPECT_EQ(std::make_pair(failed.status, json::parse(failed.body)),
              std::make_pair(503, json{{"code", 3101},
                                       {"error", "the database failed; the server's log says why"}}))
        << table;
    const httplib::Response scrape = get(server.port(), "/metrics");
    EXPECT_EQ(std::make_pair(scrape.status, scrape.body), std::make_pair(503, failed.body));
    EXPECT_NE(server.out().find(table), std::string::npos) << server.out();
    EXPECT_EQ(get(server.port(), "/").status, 200);
    db->Session()->ExecuteSql("ALTER TABLE gone_" + table + " RENAME TO " + table);
    EXPECT_EQ(get(server.port(), path).body, before) << table;
  }
  // A log that changes is counted again.
  ASSERT_EQ(jrx({"save-progress", R"({"id":"req-2","status":3,"progress":100})"}).status, 0);
  double done = 0;
  for (int tries = 0; tries < 300 && done != 2 && !samples.is_null(); ++tries, usleep(100 * 1000))
    done = byLabel(parsedByPrometheus(get(server.port(), "/metrics").body), "jrxlog_operations")
               .at("done");
  EXPECT_TRUE(done == 2 || samples.is_null());
  EXPECT_EQ(server.stop(), 0);

  // Events per hour are counted under the events listing's own rights.
  const std::string acl =
      writeTempFile(std::string(R"({"clients":{"reader":{")") + kNode + R"(":[54]}}})");
  ServeProcess reader(url_, {}, {"--acl", acl, "--client", "reader"});
  for (const auto& [eid, status] : {std::pair(kNode, 200), {kVm1, 403}, {"", 403}})
    EXPECT_EQ(get(reader.port(), "/api/events/hours", *eid ? httplib::Params{{"eid", eid}}
                                                             : httplib::Params{}, {}).status,
              status) << eid;
  EXPECT_EQ(reader.stop(), 0);
}

// Events in three seconds, most in one.
int busySecond(int event) { return event % 5 == 0 ? event % 3 : 1; }

// Listings of a log larger than their parts, on the command line and through the API: read in
// parts that meet inside a second, by their cursors, they give every record once, as the one
// whole answer would; a long answer, written as the log is read, arrives whole.
TEST_P(ToolServe, LongListingsAreReadWholeAndOnceByTheirCursors) {
  auto guid = [](long long i) {
    const std::string n = std::to_string(i);
    return "00000000-0000-4000-8000-" + std::string(12 - n.size(), '0') + n;
  };
  auto event = [&](long long i, long time) {
    const json source = {{"params", {{"eid", kNode}, {"type", "node"}, {"title", "host-1"}}}};
    return json({{"kind", "event"}, {"guid", guid(i)}, {"time", time}, {"category", "vm"},
                 {"type", i % 3 ? "info" : "alert"},
                 {"info", {{"text", "event " + std::to_string(i)},
                           {"params", {{"source_env", source}}}}}});
  };
  std::string records;
  Strings events, reports;
  for (int i = 0; i < 2500; ++i) {
    records += event(i, 1701000000 + busySecond(i)).dump() + "\n";
    events.push_back(guid(i));
  }
  for (int i = 0; i < 700; ++i)
    for (int p : {0, 100}) {
      reports.push_back("op-" + std::to_string(i) + "@" + std::to_string(p));
      records += json({{"kind", "progress"}, {"id", "op-" + std::to_string(i)}, {"name", "vm.copy"},
                       {"progress", p}, {"status", p ? 3 : 2},
                       {"time", 1701000000 + i % 2 + p / 50},
                       {"info", {{"text", "at " + std::to_string(p)}}}})
                     .dump() + "\n";
    }
  ASSERT_EQ(jrx({"import", "--batch", "1000"}, records).status, 0);

  // Every event once, newest first, the last recorded first within a second.
  const std::string whole = jrx({"events", "--json", "--limit", "100000"}).out;
  Strings newestFirst;
  for (int second : {2, 1, 0})
    for (int i = 2499; i >= 0; --i)
      if (busySecond(i) == second) newestFirst.push_back(guid(i));
  ASSERT_EQ(idsOf(whole), newestFirst);
  // --after: each part ends with its cursor, the next goes on after it.
  std::string joined, cursor;
  for (int part = 0; part < 20; ++part) {
    Strings args = {"events", "--json", "--limit", "333", "--show-cursor"};
    if (part > 0) args.insert(args.end(), {"--after", cursor});
    const ToolRun r = jrx(args);
    const Strings lines = r.lines();
    ASSERT_TRUE(r.status == 0 && !lines.empty()) << r.err;
    const std::string last = json::parse(lines.back()).at("cursor");
    if (lines.size() == 1) {
      EXPECT_EQ(last, cursor);  // nothing more: the cursor stays
      break;
    }
    cursor = last;
    joined += r.out.substr(0, r.out.size() - lines.back().size() - 1);
  }
  EXPECT_EQ(joined, whole);
  // A cursor file, oldest operations first at the default part of 1000: every report once.
  const std::string file = makeTempDir() + "/ops.cursor";
  Strings read;
  for (int part = 0; part < 3; ++part) {
    const Strings got = idsOf(jrx({"ops", "--json", "--no-envs", "--cursor-file", file}).out, true);
    read.insert(read.end(), got.begin(), got.end());
  }
  EXPECT_EQ(sorted(read), sorted(reports));
  std::string kept;
  std::getline(std::ifstream(file), kept);
  EXPECT_EQ(kept.rfind("ops:", 0), 0u) << kept;
  // A table ends with the cursor as text; a JSON listing with it goes through import.
  const ToolRun table = jrx({"events", "--limit", "2", "--show-cursor"});
  EXPECT_EQ(table.lines().back().rfind("-- cursor: events:", 0), 0u) << table.out;
  const std::string copy = freshDatabaseUrl(GetParam());
  EXPECT_EQ(jrxOn(copy, {"import"}, jrx({"events", "--json", "--limit", "3", "--show-cursor"}).out).out,
            "imported 0 env, 0 progress, 3 event records\n");
  // A cursor of another listing, or no cursor at all, is a usage error.
  const std::string other = jrx({"events", "--type", "x", "--show-cursor", "--json"}).lines().back();
  const Strings refused[] = {
      {"events", "--after", json::parse(other)["cursor"]},
      {"ops", "--after", cursor},
      {"ops", "--limit", "5", "--after", kept},  // newest first: not the same listing
      {"events", "--after", "events:zz"},
      {"events", "--after", cursor + "9", "--cursor-file", file},
  };
  for (const Strings& args : refused) {
    const ToolRun r = jrx(args);
    EXPECT_EQ(std::make_pair(r.status, r.out), std::make_pair(2, std::string())) << args[2];
    EXPECT_NE(r.err.find("cursor"), std::string::npos) << r.err;
  }

  ServeProcess server(url_, {"--request-timeout", "1"});
  EXPECT_EQ(server.out().find("warning"), std::string::npos);  // on this host, no token needed
  // A listing's API answer in parts (chunked), as a JSON array, ends with the cursor the header
  // names; what the cursor goes on with.
  const std::tuple<Strings, httplib::Params, size_t> cases[] = {
      {{"events", "--with-data"}, {}, 0},
      {{"events", "--with-data", "--type", "info", "--limit", "250"},
       {{"type", "info"}, {"limit", "250"}}, 250},
      {{"ops"}, {}, 400},
  };
  for (auto [args, params, rest] : cases) {
    args.insert(args.end(), {"--json", "--show-cursor"});
    const ToolRun printed = jrx(args);
    const std::string path = "/api/" + args[0];
    const httplib::Response res = get(server.port(), path, params);
    params.emplace("lines", "1");
    const httplib::Response lines = get(server.port(), path, params);
    EXPECT_EQ(std::make_pair(lines.status, lines.body), std::make_pair(200, printed.out)) << path;
    EXPECT_EQ(res.get_header_value("Transfer-Encoding"), "chunked") << path;
    const json all = json::parse(res.body);
    ASSERT_EQ(all.size(), printed.lines().size()) << path;
    EXPECT_EQ(all.back().at("cursor"), res.get_header_value("X-Jrxlog-Cursor")) << path;
    params.emplace("after", all.back().at("cursor").get<std::string>());
    EXPECT_EQ(idsOf(get(server.port(), path, params).body, true).size(), rest) << path;
  }
  EXPECT_EQ(json::parse(get(server.port(), "/api/events?limit=450&type=info").body).size(), 451u);
  // An answer that ends within its first part is sent whole, its cursor in the header too.
  const httplib::Response shortAnswer = get(server.port(), "/api/events?limit=5");
  EXPECT_EQ(shortAnswer.get_header_value("Transfer-Encoding"), "");
  EXPECT_EQ(json::parse(shortAnswer.body).back().at("cursor"),
            shortAnswer.get_header_value("X-Jrxlog-Cursor"));

  // Reads a listing on from its start in answers of `limit` records; calls `between` after the
  // first answer.
  auto readAll = [&](const std::string& path, const std::string& limit,
                     const std::function<void()>& between) {
    Strings all;
    std::string cursor;
    for (int answers = 0; answers < 20; ++answers) {
      httplib::Params params = {{"lines", "1"}, {"limit", limit}};
      if (!cursor.empty()) params.emplace("after", cursor);
      const httplib::Response res = get(server.port(), path, params);
      const Strings part = idsOf(res.body, true);
      const json last = json::parse(ToolRun{0, res.body, ""}.lines().back());
      cursor = res.get_header_value("X-Jrxlog-Cursor");
      EXPECT_EQ(cursor, last.at("cursor")) << path;
      all.insert(all.end(), part.begin(), part.end());
      if (answers == 0) between();
      if (part.empty()) return all;
    }
    ADD_FAILURE() << path << " never ended";
    return all;
  };
  // Newest first, the first answer ends in the busy second: then one event is stored where the
  // reading has yet to come, one where it has been.
  const long long ahead = 900000000001, behind = 900000000002;
  read = readAll("/api/events", "230", [&] {
    ASSERT_EQ(jrx({"save-event", event(ahead, 1701000000).dump()}).status, 0);
    ASSERT_EQ(jrx({"save-event", event(behind, 1701000002).dump()}).status, 0);
  });
  events.push_back(guid(ahead));
  EXPECT_EQ(sorted(read), sorted(events));
  EXPECT_EQ(sorted(readAll("/api/ops", "241", [] {})), sorted(reports));

  // More clients than the server has workers, each gone after the first bytes of its answer;
  // then as many sending their request a byte at a time, each cut once it has taken longer
  // than a request may. A worker is left for the next request all along.
  for (int i = 0; i < 80; ++i) {
    const int fd = connected(server.port(), "GET /api/events HTTP/1.1\r\nHost: localhost\r\n\r\n");
    char first[64];
    EXPECT_GT(recv(fd, first, sizeof first, 0), 0);
    close(fd);
  }
  std::vector<int> slow;
  for (int i = 0; i < 80; ++i)
    slow.push_back(connected(server.port(), "GET /api/ops HTTP/1.1\r\nHost: 127.0.0.1\r\n"));
  std::thread drip([&] {
    // At most a minute: the server cuts every one of them long before.
    for (int round = 0; round < 200 && !slow.empty(); ++round) {
      const auto cut = [](int fd) {
        char b;
        const bool gone = recv(fd, &b, 1, MSG_DONTWAIT) >= 0 || errno != EAGAIN ||
                          send(fd, "X", 1, MSG_NOSIGNAL) != 1;
        if (gone) close(fd);
        return gone;
      };
      slow.erase(std::remove_if(slow.begin(), slow.end(), cut), slow.end());
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
  });
  for (int i = 0; i < 3; ++i) EXPECT_EQ(get(server.port(), "/api/ops?limit=1").status, 200) << i;
  drip.join();
  EXPECT_TRUE(slow.empty()) << slow.size() << " connections still open after a minute";
  EXPECT_EQ(server.stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(Db, ToolServe, ::testing::ValuesIn(backends()), BackendName());

}  // namespace
}  // namespace jrxtest
