// jrxlog serve end to end: the API answers what the listings print, refuses what it must,
// survives a failing database; and the page, loaded in a headless browser, shows the log's
// texts as text.
#include <httplib.h>
#include <unistd.h>

#include <ctime>
#include <fstream>

#include "ASQuery.h"
#include "ToolFixture.h"

namespace jrxtest {
namespace {

using nlohmann::json;

class ToolServe : public ToolDb {
 protected:
  std::vector<std::string> dbArgs() const { return {"--db", url_, "--local-eid", kLocal}; }

  void importSample() {
    std::string input =
        envLine(kVm1, "vm", "web-1") +
        progressLine("req-1", "vm.start", 2, 0, 1701000000, "Starting",
                     std::string("\"operands\":[\"") + kVm1 + "\"]") +
        progressLine("req-1", "", 2, 50, 1701000010, "Booting") +
        progressLine("req-1", "", 3, 100, 1701000020, "Started") +
        progressLine("req-2", "vm.stop", 2, 10, 1701000100, "Stopping") +
        progressLine("a/b c", "vm.stop", 2, 0, 1701000200, "Stopping", "\"parentId\":\"req-2\"") +
        eventLine("3f1e0d2c-0000-4000-8000-000000000001", 1701000001, "info") +
        eventLine("3f1e0d2c-0000-4000-8000-000000000002", 1701000002, "alert",
                  std::string(",\"env\":{\"params\":{\"eid\":\"") + kVm1 +
                      "\",\"type\":\"vm\",\"title\":\"web-1\"}}") +
        eventLine(
            "3f1e0d2c-0000-4000-8000-000000000003", 1701000003, "info", "",
            R"(,"audit":{"session":"s-1","address":"2001:db8::1","detail":"login","kind":0})");
    ASSERT_EQ(jrx({"import"}, input).status, 0);
  }
};

httplib::Result get(int port, const std::string& path, const httplib::Headers& headers = {}) {
  httplib::Client client("127.0.0.1", port);
  return client.Get(path.c_str(), headers);
}

// The API's JSON Lines are byte for byte what the listing prints with --json; the array form
// holds the same records.
TEST_P(ToolServe, ListingsAnswerWhatTheCommandsPrint) {
  importSample();
  ServeProcess server(dbArgs(), {});
  struct Case {
    std::string path;
    std::vector<std::string> command;
    size_t records;  // without env records
  };
  const std::string vm1 = kVm1;
  const std::vector<Case> cases = {
      {"/api/ops?", {"ops"}, 5},
      {"/api/ops?active=1", {"ops", "--active"}, 2},
      {"/api/ops?active=0", {"ops"}, 5},
      {"/api/ops?name=vm.stop&limit=1", {"ops", "--name", "vm.stop", "--limit", "1"}, 1},
      {"/api/ops?eid=" + vm1 + "&first-only", {"ops", "--eid", kVm1, "--first-only"}, 1},
      {"/api/ops?parent=req-2", {"ops", "--parent", "req-2"}, 1},
      {"/api/ops?from=1701000000&to=1701000200",
       {"ops", "--from", "1701000000", "--to", "1701000200"},
       1},
      {"/api/ops?no-envs=1", {"ops", "--no-envs"}, 5},
      {"/api/events?", {"events"}, 3},
      {"/api/events?type=alert&envs=1", {"events", "--type", "alert", "--envs"}, 1},
      {"/api/events?operand=true", {"events", "--operand"}, 1},
      {"/api/events?limit=1", {"events", "--limit", "1"}, 1},
      {"/api/events?eid=" + std::string(kNode) + "&from=1701000002",
       {"events", "--eid", kNode, "--from", "1701000002"},
       1},
      {"/api/ops/req-1", {"ops", "--id", "req-1"}, 3},
      {"/api/ops/a%2Fb%20c", {"ops", "--id", "a/b c"}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    std::vector<std::string> args = c.command;
    args.push_back("--json");
    ToolRun printed = jrx(args);
    ASSERT_EQ(printed.status, 0) << printed.err;
    EXPECT_EQ(parseLines(printed).size(), c.records);

    const char* more = c.path.back() == '?'                    ? ""
                       : c.path.find('?') == std::string::npos ? "?"
                                                               : "&";
    auto lines = get(server.port(), c.path + more + "lines=1");
    ASSERT_TRUE(lines);
    EXPECT_EQ(lines->status, 200);
    EXPECT_EQ(lines->body, printed.out);
    EXPECT_EQ(lines->get_header_value("Content-Type"), "application/x-ndjson; charset=utf-8");

    auto array = get(server.port(), c.path);
    ASSERT_TRUE(array);
    ASSERT_EQ(array->status, 200);
    json parsed = json::parse(array->body);
    std::vector<json> expected;
    for (const auto& line : printed.lines()) expected.push_back(json::parse(line));
    EXPECT_EQ(parsed, json(expected));
  }
  EXPECT_EQ(server.stop().status, 0);
}

// Whatever is wrong is said in JSON, with the status that fits, and changes nothing.
TEST_P(ToolServe, RefusalsAreJsonErrors) {
  importSample();
  ServeProcess server(dbArgs(), {});
  struct Case {
    std::string method, path;
    httplib::Headers headers;
    int status;
    std::string says;
  };
  const std::vector<Case> cases = {
      {"GET", "/api/ops?limit=many", {}, 400, "limit: expected a whole number"},
      {"GET", "/api/ops?limit=-1", {}, 400, "limit"},
      {"GET", "/api/events?eid=not-a-guid", {}, 400, "eid"},
      {"GET", "/api/ops?from=soon", {}, 400, "from: expected seconds"},
      {"GET", "/api/ops?active=maybe", {}, 400, "active: expected 1 or 0"},
      {"GET", "/api/ops?colour=red", {}, 400, "unknown parameter 'colour'"},
      {"GET", "/api/events?active=1", {}, 400, "unknown parameter 'active'"},
      {"GET", "/api/ops?limit=1&limit=2", {}, 400, "more than once"},
      {"GET", "/api/ops/req-9", {}, 404, "no operation with id 'req-9'"},
      {"GET", "/api/ops/req-1?limit=1", {}, 400, "unknown parameter 'limit'"},
      {"GET", "/nothing/here", {}, 404, "nothing served at /nothing/here"},
      {"POST", "/api/ops", {}, 405, "read-only"},
      {"DELETE", "/api/ops/req-1", {}, 405, "read-only"},
      {"GET", "/", {{"Host", "attacker.example:8080"}}, 403, "loopback host names only"},
  };
  httplib::Client client("127.0.0.1", server.port());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.method + " " + c.path);
    auto res = c.method == "GET" ? client.Get(c.path.c_str(), c.headers)
               : c.method == "POST"
                   ? client.Post(c.path.c_str(), c.headers, "{}", "application/json")
                   : client.Delete(c.path.c_str(), c.headers);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, c.status);
    json body = json::parse(res->body);
    EXPECT_NE(body.at("error").get<std::string>().find(c.says), std::string::npos) << res->body;
  }
  EXPECT_EQ(parseLines(jrx({"ops", "--json", "--id", "req-1"})).size(), 3u);

  // The page runs no inline script and no script from elsewhere.
  auto page = get(server.port(), "/", {{"Host", "localhost:1"}});
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  std::string csp = page->get_header_value("Content-Security-Policy");
  EXPECT_NE(csp.find("script-src 'self'"), std::string::npos);
  EXPECT_EQ(csp.find("unsafe"), std::string::npos);
  EXPECT_EQ(page->get_header_value("X-Content-Type-Options"), "nosniff");
  EXPECT_EQ(server.stop().status, 0);

  for (const auto& listen : {"127.0.0.1", "[::1", "::1:80", "127.0.0.1:65536"}) {
    ToolRun bad = jrx({"serve", "--listen", listen});
    EXPECT_EQ(bad.status, 2) << listen;
    EXPECT_NE(bad.err.find("--listen"), std::string::npos) << bad.err;
  }
}

TEST_P(ToolServe, TokenRequiredOnEveryRequest) {
  ServeProcess server(dbArgs(), {"--token-file", writeTempFile("s3cret-token\n")});
  const httplib::Headers right = {{"Authorization", "Bearer s3cret-token"}};
  const httplib::Headers wrong = {{"Authorization", "Bearer s3cret-tokeN"}};
  for (const char* path : {"/", "/app.js", "/style.css", "/api/ops", "/api/events"}) {
    SCOPED_TRACE(path);
    auto none = get(server.port(), path);
    ASSERT_TRUE(none);
    EXPECT_EQ(none->status, 401);
    EXPECT_EQ(none->get_header_value("WWW-Authenticate"), "Bearer");
    EXPECT_EQ(get(server.port(), path, wrong)->status, 401);
    EXPECT_EQ(get(server.port(), path, right)->status, 200);
  }
  // A browser opens /?token=... once and carries the token in a cookie from then on.
  EXPECT_EQ(get(server.port(), "/?token=guess")->status, 401);
  auto link = get(server.port(), "/?token=s3cret-token");
  ASSERT_TRUE(link);
  EXPECT_EQ(link->status, 303);
  std::string cookie = link->get_header_value("Set-Cookie");
  EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
  EXPECT_EQ(
      get(server.port(), "/api/ops", {{"Cookie", cookie.substr(0, cookie.find(';'))}})->status,
      200);
  EXPECT_EQ(get(server.port(), "/api/ops", {{"Cookie", "jrxlog_token=guess"}})->status, 401);
  EXPECT_EQ(server.stop().status, 0);

  for (const std::string& content : {std::string("\n"), std::string("two words\n")}) {
    ToolRun bad = jrx({"serve", "--token-file", writeTempFile(content)});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("--token-file"), std::string::npos) << bad.err;
  }
  EXPECT_EQ(jrx({"serve", "--token-file", "/nonexistent/token"}).status, 2);
}

// A refused right is 403; a failing database is 503 for as long as it fails, and the server
// answers again once it is back.
TEST_P(ToolServe, RightsAndDatabaseFailures) {
  importSample();
  std::vector<std::string> nobody = dbArgs();
  std::string acl = writeTempFile(R"({"clients": {"reader": {"*": [54, 188]}}})");
  nobody.insert(nobody.end(), {"--acl", acl, "--client", "nobody"});
  {
    ServeProcess server(nobody, {});
    auto denied = get(server.port(), "/api/events");
    ASSERT_TRUE(denied);
    EXPECT_EQ(denied->status, 403);
    EXPECT_EQ(json::parse(denied->body).at("code"), 414);
    EXPECT_EQ(server.stop().status, 0);
  }

  ServeProcess server(dbArgs(), {});
  auto db = ASDatabase::Open(url_);
  for (const std::string table : {"events_log", "op_log"}) {
    SCOPED_TRACE(table);
    const std::string path = table == "op_log" ? "/api/ops" : "/api/events";
    const std::string before = get(server.port(), path)->body;
    db->Session()->ExecuteSql("ALTER TABLE " + table + " RENAME TO gone_" + table);
    auto failed = get(server.port(), path);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->status, 503);
    EXPECT_EQ(json::parse(failed->body).at("code"), 3101);
    EXPECT_EQ(get(server.port(), "/")->status, 200);
    db->Session()->ExecuteSql("ALTER TABLE gone_" + table + " RENAME TO " + table);
    auto back = get(server.port(), path);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->status, 200);
    EXPECT_EQ(back->body, before);
  }
  EXPECT_EQ(server.stop().status, 0);
}

INSTANTIATE_TEST_SUITE_P(Db, ToolServe, ::testing::ValuesIn(backends()), BackendName());

// --- the page in a real browser ---

std::string chromium() {
  const char* env = std::getenv("JRX_CHROMIUM");
  for (std::string path : {env ? std::string(env) : std::string(), std::string("/usr/bin/chromium"),
                           std::string("/usr/bin/chromium-browser")})
    if (!path.empty() && access(path.c_str(), X_OK) == 0) return path;
  return "";
}

// What the browser made of the page after its script ran for a few (virtual) seconds.
ToolRun browse(const std::string& browser, const std::string& url, const std::string& mode) {
  std::string profile = makeTempDir();
  ToolRun r =
      runProgram("/usr/bin/timeout",
                 {"120", browser, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                  "--no-first-run", "--disable-background-networking", "--disable-component-update",
                  "--disable-sync", "--disable-dev-shm-usage", "--user-data-dir=" + profile,
                  "--window-size=1400,1000", "--virtual-time-budget=6000", mode, url});
  runProgram("/bin/rm", {"-rf", profile});
  return r;
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The row of the element that holds `marker`, from its "<tr" to its "</tr>".
std::string rowWith(const std::string& dom, const std::string& marker) {
  size_t at = dom.find(marker);
  if (at == std::string::npos) return "";
  size_t begin = dom.rfind("<tr", at);
  size_t end = dom.find("</tr>", at);
  return begin == std::string::npos || end == std::string::npos ? ""
                                                                : dom.substr(begin, end - begin);
}

TEST(ToolServeBrowser, PageShowsTheLogsTextsAsText) {
  std::string browser = chromium();
  if (browser.empty())
    GTEST_SKIP() << "chromium is not installed (scripts/setup.sh installs it where the package "
                    "exists): the browser test of jrxlog serve is skipped";
  const std::string url = freshDatabaseUrl("sqlite");
  const std::vector<std::string> db = {"--db", url};
  const long long now = static_cast<long long>(std::time(nullptr));
  std::vector<std::string> demo = db;
  demo.insert(demo.end(),
              {"demo", "--seed", "7", "--size", "16", "--time", std::to_string(now - 60)});
  ASSERT_EQ(runJrxlog(demo).status, 0);

  // Each payload marks the page if it ever runs.
  const std::string script = "<script>document.body.dataset.pwned='script'</script>";
  const std::string img = "<img src=x onerror=\"document.body.dataset.pwned='img'\">";
  const std::string svg = "\"><svg onload=\"document.body.dataset.pwned='svg'\">";
  json hostileEnv = {{"params", {{"eid", kVm2}, {"type", "vm"}, {"title", img}}}};
  json op = {{"kind", "progress"},
             {"id", "op-hostile"},
             {"name", "<b>vm.start</b>"},
             {"status", 2},
             {"progress", 64},
             {"time", now},
             {"operands", {kVm2}},
             {"info", {{"text", "Copying " + script}, {"params", {{"source_env", hostileEnv}}}}}};
  json event = {
      {"kind", "event"},
      {"guid", "3f1e0d2c-0000-4000-8000-0000000000ee"},
      {"time", now},
      {"category", "vm"},
      {"type", "alert"},
      {"info",
       {{"text", "{who} said " + svg}, {"params", {{"who", img}, {"source_env", hostileEnv}}}}}};
  std::vector<std::string> import = db;
  import.push_back("import");
  ASSERT_EQ(runJrxlog(import, op.dump() + "\n" + event.dump() + "\n").status, 0);

  ServeProcess server(db, {});
  const std::string page = "http://127.0.0.1:" + std::to_string(server.port()) + "/";
  ToolRun dump = browse(browser, page, "--dump-dom");
  ASSERT_EQ(dump.status, 0) << dump.err;
  const std::string& dom = dump.out;
  ASSERT_NE(dom.find("data-refreshed=\"ok\""), std::string::npos) << dom;

  // Nothing of the log ran or became markup: the payloads stand as escaped text.
  EXPECT_EQ(dom.find("pwned=\""), std::string::npos);
  EXPECT_EQ(count(dom, "<script"), 1u);  // the page's own
  EXPECT_EQ(count(dom, "<img"), 0u);
  EXPECT_EQ(count(dom, "<svg"), 0u);
  EXPECT_EQ(count(dom, "<b>"), 0u);
  auto asText = [](std::string s) {
    std::string out;
    for (char c : s) out += c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    return out;
  };

  // The running operation: its latest progress as a bar, its texts as written.
  std::string opRow = rowWith(dom, "data-id=\"op-hostile\"");
  EXPECT_NE(opRow.find("<progress max=\"100\" value=\"64\">"), std::string::npos) << opRow;
  EXPECT_NE(opRow.find(">" + asText("<b>vm.start</b>") + "<"), std::string::npos) << opRow;
  EXPECT_NE(opRow.find(">Copying " + asText(script) + "<"), std::string::npos) << opRow;
  EXPECT_GE(count(dom, "<tr class=\"op\""), 2u) << "the demo's running operations are shown too";
  EXPECT_EQ(count(dom, "<progress"), count(dom, "<tr class=\"op\""));

  // The newest event comes first, with its environment and text.
  size_t events = dom.find("id=\"events-body\"");
  ASSERT_NE(events, std::string::npos);
  size_t first = dom.find("<tr class=\"event\"", events);
  ASSERT_NE(first, std::string::npos);
  std::string newest = dom.substr(first, dom.find("</tr>", first) - first);
  EXPECT_NE(newest.find(">alert<"), std::string::npos) << newest;
  EXPECT_NE(newest.find(">" + asText(img) + " said " + asText(svg) + "<"), std::string::npos)
      << newest;
  EXPECT_NE(newest.find(">" + asText(img) + "</td>"), std::string::npos) << "environment title";

  // An operation's history, as a click on its row (or its address) opens it.
  ToolRun opened = browse(browser, page + "#op=op-hostile", "--dump-dom");
  ASSERT_EQ(opened.status, 0) << opened.err;
  size_t history = opened.out.find("<section id=\"history\">");
  ASSERT_NE(history, std::string::npos) << "history shown";
  std::string rows = opened.out.substr(history, opened.out.find("</section>", history) - history);
  EXPECT_EQ(count(rows, "<tr>"), 2u) << rows;  // heading and the one report
  EXPECT_NE(rows.find(">64%<"), std::string::npos) << rows;
  EXPECT_NE(rows.find(">Copying " + asText(script) + "<"), std::string::npos) << rows;

  const std::string shot = std::string(JRX_BUILD_DIR) + "/serve-page.png";
  std::remove(shot.c_str());
  ToolRun picture = browse(browser, page + "#op=op-hostile", "--screenshot=" + shot);
  EXPECT_EQ(picture.status, 0) << picture.err;
  std::ifstream png(shot, std::ios::binary | std::ios::ate);
  EXPECT_GT(static_cast<long long>(png.tellg()), 1000) << "no screenshot at " << shot;
  EXPECT_EQ(server.stop().status, 0);
}

}  // namespace
}  // namespace jrxtest
