// What jrxlog shows of running operations' estimated ends (ops --active, watch, the API) and
// what serve's /metrics answers, read by the Prometheus project's own parser of the format.
#include <httplib.h>
#include <unistd.h>

#include <cmath>
#include <ctime>
#include <nlohmann/json.hpp>
#include <tuple>

#include "ASQuery.h"
#include "Exposition.h"
#include "ToolFixture.h"

namespace jrxtest {
namespace {

using nlohmann::json;

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

// Label values and help texts of any bytes come out of a real parser as they went in.
TEST(Exposition, ItsEscapesAreReadBackByAPrometheusParser) {
  if (access(kPython, X_OK) != 0) GTEST_SKIP() << "no " << kPython << " (scripts/setup.sh)";
  jrxlog::Exposition out;
  out.family("t_gauge", "gauge", "help with \\ and a\nline feed and \"quotes\"");
  const std::string awkward[] = {"plain", "quote \" back\\slash", "line\nfeed", "{x=\"y\"} 1",
                                 std::string("nul\0byte", 8), "caf\xc3\xa9"};
  for (size_t i = 0; i < std::size(awkward); ++i)
    out.sample("t_gauge", {{"type", awkward[i]}, {"n", std::to_string(i)}}, static_cast<double>(i));
  out.sample("t_gauge", {{"type", "not utf-8 \xff"}, {"n", "x"}}, 0.25);
  out.family("t_nan", "gauge", "no value");
  out.sample("t_nan", std::nan(""));
  out.family("t_total", "counter", "a counter");
  out.sample("t_total", 12345678901234.0);
  const json samples = parsedByPrometheus(out.text());
  ASSERT_EQ(samples.size(), std::size(awkward) + 3) << out.text();
  for (size_t i = 0; i < std::size(awkward); ++i) {
    EXPECT_EQ(samples[i][3]["type"], awkward[i]);
    EXPECT_EQ(samples[i][4], std::to_string(i) + ".0");
  }
  EXPECT_EQ(samples[6][3]["type"], "not utf-8 \xef\xb7\x90" "ff");  // as the JSON Lines write it
  EXPECT_EQ(samples[6][4], "0.25");
  EXPECT_EQ(samples[7][4], "nan");
  EXPECT_EQ(samples[8][0], "t");
  EXPECT_EQ(samples[8][2], "t_total");
  EXPECT_EQ(samples[8][4], "12345678901234.0");
  // Numbers in their shortest form that reads back the same (bucket bounds are label texts).
  EXPECT_EQ(jrxlog::sampleValue(0.005), "0.005");
  EXPECT_EQ(jrxlog::sampleValue(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(jrxlog::sampleValue(-3), "-3");
}

class ToolEstimates : public ToolDb {};

// A running operation at 1 % a second, 50 % done at `now0`: its estimate is now0 + 50 in the
// listing of running operations (table and JSON, command and API alike), the JSON reads back
// into a log, and other listings are left as they were.
TEST_P(ToolEstimates, RunningOperationsShowTheirEstimatedEnd) {
  const long now0 = static_cast<long>(std::time(nullptr));
  auto at = [&](long t) { return std::to_string(t); };
  ASSERT_EQ(jrx({"import"},
                R"({"kind":"progress","id":"copy-1","name":"vm.copy","progress":0,"time":)" +
                    at(now0 - 50) + R"(,"info":{"text":"queued"}}
{"kind":"progress","id":"copy-1","progress":50,"time":)" + at(now0) + R"(,"info":{"text":"copying"}}
{"kind":"progress","id":"idle-1","name":"vm.idle","progress":0,"time":)" + at(now0) + R"(,"info":{"text":"queued"}}
{"kind":"progress","id":"done-1","name":"vm.done","status":3,"progress":100,"time":)" + at(now0) + R"(}
)")
                .status,
            0);
  const ToolRun listed = jrx({"ops", "--active", "--json", "--show-cursor"});
  ASSERT_EQ(listed.status, 0) << listed.err;
  int seen = 0;
  for (const std::string& line : listed.lines()) {
    const json record = json::parse(line);
    if (record["kind"] != "progress") continue;
    ++seen;
    ASSERT_TRUE(record.contains("eta")) << line;
    if (record["id"] == "copy-1")
      EXPECT_EQ(record["eta"], now0 + 50) << line;
    else
      EXPECT_TRUE(record["eta"].is_null()) << line;  // no pace, no run of its name ended
  }
  EXPECT_EQ(seen, 3);
  // Not a listing of running operations: as before, without the field.
  EXPECT_EQ(jrx({"ops", "--json"}).out.find("\"eta\""), std::string::npos);

  ServeProcess server({"--db", url_, "--local-eid", kLocal}, {});
  auto api = httplib::Client("127.0.0.1", server.port())
                 .Get("/api/ops", httplib::Params{{"active", "1"}, {"lines", "1"}},
                      httplib::Headers{});
  ASSERT_TRUE(api);
  EXPECT_EQ(api->body, listed.out);

  const ToolRun table = jrx({"ops", "--active"});
  EXPECT_NE(table.out.find("ETA"), std::string::npos) << table.out;
  EXPECT_NE(table.out.find("in "), std::string::npos) << table.out;
  const ToolRun watched = jrx({"watch", "--count", "1"});
  EXPECT_NE(watched.out.find("ETA"), std::string::npos) << watched.out;
  EXPECT_NE(watched.out.find("in "), std::string::npos) << watched.out;

  // The estimate is not stored: a listing with it imports, and a wrong one is refused.
  const std::string copy = freshDatabaseUrl(GetParam());
  const ToolRun back = jrxOn(copy, {"import"}, listed.out);
  EXPECT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(jrxOn(copy, {"ops", "--active", "--json"}).out, jrx({"ops", "--active", "--json"}).out);
  const ToolRun wrong =
      jrxOn(copy, {"import"}, R"({"kind":"progress","id":"x","name":"n","eta":"soon"})" "\n");
  EXPECT_NE(wrong.status, 0);
  EXPECT_NE(wrong.err.find("eta"), std::string::npos) << wrong.err;
}

INSTANTIATE_TEST_SUITE_P(Db, ToolEstimates, ::testing::ValuesIn(backends()), BackendName());

class ToolMetrics : public ToolDb {};

// /metrics behind the same checks as the API; its exposition parses, counts what the log
// holds, and counts the server's own answers.
TEST_P(ToolMetrics, MetricsCountTheLogAndTheServersAnswers) {
  ASSERT_EQ(jrx({"import"}, std::string(kSample) +
                                R"({"kind":"event","time":1701000000,"category":"x","type":"we\"ird\\\n","info":{"params":{"source_env":{"params":{"eid":"d3377d3c-a0d1-5d71-9947-f17125c357bb"}}}}})"
                                "\n")
                .status,
            0);
  ServeProcess server({"--db", url_, "--local-eid", kLocal},
                      {"--token-file", writeTempFile("s3cret-token\n")});
  httplib::Client client("127.0.0.1", server.port());
  const httplib::Headers bearer = {{"Authorization", "Bearer s3cret-token"}};
  const std::tuple<const char*, httplib::Headers, int> refused[] = {
      {"GET", {}, 401},
      {"GET", {{"Authorization", "Bearer s3cret-tokeX"}}, 401},
      {"GET", {{"Host", "attacker.example:8080"}, *bearer.begin()}, 403},
      {"POST", bearer, 405},
  };
  for (const auto& [method, headers, status] : refused) {
    httplib::Request request;
    request.method = method;
    request.path = "/metrics";
    request.headers = headers;
    auto res = client.send(request);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, status) << method;
    EXPECT_EQ(res->body.find("jrxlog_"), std::string::npos) << res->body;
  }
  auto unknown = client.Get("/metrics?x=1", bearer);
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->status, 400);
  ASSERT_TRUE(client.Get("/api/ops/req-1", bearer));
  ASSERT_TRUE(client.Get("/no/such/path", bearer));
  ASSERT_TRUE(client.Get("/app.js", bearer));

  const long before = static_cast<long>(std::time(nullptr));
  auto res = client.Get("/metrics", bearer);
  const long after = static_cast<long>(std::time(nullptr));
  ASSERT_TRUE(res);
  ASSERT_EQ(res->status, 200) << res->body;
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
  const json samples = parsedByPrometheus(res->body);
  if (samples.is_null()) GTEST_SKIP() << "no " << kPython << " (scripts/setup.sh)";

  for (const char* family : {"jrxlog_operations", "jrxlog_events",
                             "jrxlog_oldest_running_operation_age_seconds",
                             "jrxlog_latest_event_age_seconds", "jrxlog_http_requests",
                             "jrxlog_http_request_duration_seconds"})
    EXPECT_NE(res->body.find(std::string("# HELP ") + family), std::string::npos) << family;
  const std::pair<const char*, double> byStatus[] = {
      {"started", 2}, {"running", 0}, {"done", 1}, {"canceled", 0}, {"failed", 1}};
  for (const auto& s : byStatus)
    EXPECT_EQ(valueOf(samples, "jrxlog_operations", {{"status", s.first}}), s.second) << s.first;
  for (const char* type : {"info", "env_status", "audit", "we\"ird\\\n"})
    EXPECT_EQ(valueOf(samples, "jrxlog_events", {{"type", type}}), 1) << type;
  const double oldest = valueOf(samples, "jrxlog_oldest_running_operation_age_seconds");
  EXPECT_TRUE(oldest >= before - 1701000100 && oldest <= after - 1701000100) << oldest;
  const double latest = valueOf(samples, "jrxlog_latest_event_age_seconds");
  EXPECT_TRUE(latest >= before - 1701000003 && latest <= after - 1701000003) << latest;

  // The requests answered before this one, by route and code; a duration for each.
  const std::tuple<const char*, const char*, double> answered[] = {
      {"/metrics", "401", 2}, {"/metrics", "403", 1}, {"/metrics", "405", 1},
      {"/metrics", "400", 1}, {"/api/ops/{id}", "200", 1}, {"other", "404", 1},
      {"/app.js", "200", 1}};
  for (const auto& [route, code, n] : answered)
    EXPECT_EQ(valueOf(samples, "jrxlog_http_requests_total", {{"route", route}, {"code", code}}),
              n) << route << " " << code;
  EXPECT_EQ(valueOf(samples, "jrxlog_http_request_duration_seconds_count", {{"route", "/metrics"}}), 5);
  EXPECT_EQ(valueOf(samples, "jrxlog_http_request_duration_seconds_bucket",
                    {{"route", "/metrics"}, {"le", "+Inf"}}),
            5);

  // A log that changes is counted again.
  ASSERT_EQ(jrx({"save-progress", R"({"id":"req-2","status":3,"progress":100})"}).status, 0);
  double done = 0;
  for (int tries = 0; tries < 300 && done != 2; ++tries) {
    usleep(100 * 1000);
    done = valueOf(parsedByPrometheus(client.Get("/metrics", bearer)->body), "jrxlog_operations",
                   {{"status", "done"}});
  }
  EXPECT_EQ(done, 2);

  // A database that fails is 503, as for the API, and the next scrape once it is back is 200.
  auto db = ASDatabase::Open(url_);
  db->Session()->ExecuteSql("ALTER TABLE events_log RENAME TO gone_events_log");
  auto failed = client.Get("/metrics", bearer);
  db->Session()->ExecuteSql("ALTER TABLE gone_events_log RENAME TO events_log");
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->status, 503);
  EXPECT_NE(failed->body.find("\"code\":3101"), std::string::npos) << failed->body;
  EXPECT_EQ(failed->body.find("events_log"), std::string::npos) << failed->body;
  EXPECT_EQ(client.Get("/metrics", bearer)->status, 200);
}

INSTANTIATE_TEST_SUITE_P(Db, ToolMetrics, ::testing::ValuesIn(backends()), BackendName());

}  // namespace
}  // namespace jrxtest
