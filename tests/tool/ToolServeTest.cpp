// jrxlog serve end to end: the API answers what the listings print, refuses what it must,
// survives a failing database; and the page, loaded in a headless browser, shows the log's
// texts as text.
#include <httplib.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>

#include "ASQuery.h"
#include "ToolFixture.h"

namespace jrxtest {
namespace {

using nlohmann::json;

class ToolServe : public ToolDb {
 protected:
  Strings dbArgs() const { return {"--db", url_, "--local-eid", kLocal}; }
};

httplib::Result get(int port, const std::string& path, const httplib::Headers& headers = {}) {
  return httplib::Client("127.0.0.1", port).Get(path, headers);
}

std::string urlEncoded(const std::string& text) {
  std::string out;
  char hex[4];
  for (unsigned char c : text) {
    std::snprintf(hex, sizeof hex, "%%%02X", c);
    out += std::isalnum(c) || c == '-' || c == '.' ? std::string(1, static_cast<char>(c)) : hex;
  }
  return out;
}

// Each listing, printed and asked of the API (its options as parameters): the API's JSON
// Lines are byte for byte what the command prints with --json, its array the same records.
// Whatever is wrong is said in JSON, with the status that fits.
TEST_P(ToolServe, ListingsAndTheApiAnswerAlike) {
  ASSERT_EQ(jrx({"import"}, kSample).status, 0);
  ServeProcess server(dbArgs(), {});
  auto ev = [](char n) { return std::string("3f1e0d2c-0000-4000-8000-00000000000") + n; };
  const std::pair<Strings, Strings> cases[] = {
      {{"ops"}, {"req-1", "req-1", "req-1", "req-2", "a/b c", "req-3"}},
      {{"ops", "--limit", "2"}, {"req-3", "a/b c"}},  // the newest, newest first
      {{"ops", "--limit", "0"}, {}},
      {{"ops", "--first-only", "--no-envs"}, {"req-1", "req-2", "a/b c", "req-3"}},
      {{"ops", "--active"}, {"req-2", "a/b c"}},
      {{"ops", "--first-only", "--active", "--limit", "1"}, {"a/b c"}},
      {{"ops", "--name", "vm.stop"}, {"req-2", "a/b c"}},
      {{"ops", "--parent", "req-2"}, {"a/b c"}},
      {{"ops", "--id", "req-1"}, {"req-1", "req-1", "req-1"}},
      {{"ops", "--id", "a/b c"}, {"a/b c"}},
      {{"ops", "--eid", kVm1, "--first-only"}, {"req-1"}},
      {{"ops", "--eid", kLocal}, {"req-2", "a/b c"}},
      {{"ops", "--from", "1701000000", "--to", "1701000200"}, {"req-2"}},  // when they began
      {{"ops", "--from", "2023-11-26 12:01:40Z"}, {"a/b c", "req-3"}},
      {{"events"}, {ev('3'), ev('2'), ev('1')}},
      {{"events", "--type", "audit"}, {ev('3')}},
      {{"events", "--category", "vm", "--type", "info", "--envs"}, {ev('1')}},
      {{"events", "--category", "nothing"}, {}},
      {{"events", "--operand"}, {ev('2')}},
      {{"events", "--eid", kVm1}, {}},
      {{"events", "--eid", kVm1, "--operand"}, {ev('2')}},
      {{"events", "--eid", kNode, "--from", "1701000001"}, {ev('3'), ev('2')}},
      {{"events", "--from", "1701000001", "--to", "1701000003"}, {ev('2')}},
      {{"events", "--limit", "1"}, {ev('3')}},
  };
  for (const auto& c : cases) {
    Strings args = c.first;
    std::string path = "/api/" + args[0] + "?";
    for (size_t i = 1; i < args.size(); ++i) {
      std::string name = args[i].substr(2), value = "1";
      if (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) value = args[++i];
      path = name == "id" ? "/api/ops/" + urlEncoded(value) + "?"
                          : path + name + "=" + urlEncoded(value) + "&";
    }
    SCOPED_TRACE(path);
    args.push_back("--json");
    const ToolRun printed = jrx(args);
    EXPECT_EQ(idsOf(printed.out), c.second) << printed.err;
    auto lines = get(server.port(), path + "lines=1");
    ASSERT_TRUE(lines);
    EXPECT_EQ(lines->status, 200);
    EXPECT_EQ(lines->body, printed.out);
    EXPECT_EQ(lines->get_header_value("Content-Type"), "application/x-ndjson; charset=utf-8");
    json expected = json::array();
    for (const auto& line : printed.lines()) expected.push_back(json::parse(line));
    EXPECT_EQ(json::parse(get(server.port(), path)->body), expected);
  }

  struct Refusal {
    std::string method, path;
    httplib::Headers headers;
    int status;
    std::string says;
  };
  const Refusal refusals[] = {
      {"GET", "/api/ops?limit=many", {}, 400, "limit: expected a whole number"},
      {"GET", "/api/events?eid=not-a-guid", {}, 400, "eid"},
      {"GET", "/api/ops?from=soon", {}, 400, "from: expected seconds"},
      {"GET", "/api/ops?active=maybe", {}, 400, "active: expected 1 or 0"},
      {"GET", "/api/events?active=1", {}, 400, "unknown parameter 'active'"},
      {"GET", "/api/ops?limit=1&limit=2", {}, 400, "more than once"},
      {"GET", "/api/ops/req-9", {}, 404, "no operation with id 'req-9'"},
      {"GET", "/api/ops/req-1?limit=1", {}, 400, "unknown parameter 'limit'"},
      {"GET", "/nothing/here", {}, 404, "nothing served at /nothing/here"},
      {"POST", "/api/ops", {}, 405, "read-only"},
      {"DELETE", "/api/ops/req-1", {}, 405, "read-only"},
      // A page elsewhere may point a name of its own at this address.
      {"GET", "/", {{"Host", "attacker.example:8080"}}, 403, "loopback host names only"},
  };
  httplib::Client client("127.0.0.1", server.port());
  for (const auto& c : refusals) {
    SCOPED_TRACE(c.method + " " + c.path);
    auto res = c.method == "GET"    ? client.Get(c.path, c.headers)
               : c.method == "POST" ? client.Post(c.path, c.headers, "{}", "application/json")
                                    : client.Delete(c.path, c.headers);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, c.status);
    EXPECT_NE(json::parse(res->body).at("error").get<std::string>().find(c.says),
              std::string::npos) << res->body;
  }
  EXPECT_EQ(ids({"ops", "--id", "req-1"}).size(), 3u);

  // The page runs no inline script and no script from elsewhere.
  auto page = get(server.port(), "/", {{"Host", "localhost:1"}});
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  const std::string csp = page->get_header_value("Content-Security-Policy");
  EXPECT_NE(csp.find("script-src 'self'"), std::string::npos) << csp;
  EXPECT_EQ(csp.find("unsafe"), std::string::npos) << csp;
  EXPECT_EQ(page->get_header_value("X-Content-Type-Options"), "nosniff");
  EXPECT_EQ(server.stop(), 0);
}

TEST_P(ToolServe, TokenRequiredOnEveryRequest) {
  ServeProcess server(dbArgs(), {"--token-file", writeTempFile("s3cret-token\n")});
  const httplib::Headers right = {{"Authorization", "Bearer s3cret-token"}};
  const httplib::Headers wrong = {{"Authorization", "Bearer s3cret-tokeN"}};
  for (const char* path : {"/", "/app.js", "/api/ops", "/api/events"}) {
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
  const std::string cookie = link->get_header_value("Set-Cookie");
  EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
  EXPECT_EQ(get(server.port(), "/api/ops", {{"Cookie", cookie.substr(0, cookie.find(';'))}})->status,
            200);
  EXPECT_EQ(get(server.port(), "/api/ops", {{"Cookie", "jrxlog_token=guess"}})->status, 401);
  EXPECT_EQ(server.stop(), 0);
}

// A refused right is 403; a failing database is 503 for as long as it fails, and the server
// answers again once it is back.
TEST_P(ToolServe, RightsAndDatabaseFailures) {
  ASSERT_EQ(jrx({"import"}, kSample).status, 0);
  Strings nobody = dbArgs();
  nobody.insert(nobody.end(), {"--acl", writeTempFile(R"({"clients": {}})"), "--client", "nobody"});
  ServeProcess refused(nobody, {});
  auto denied = get(refused.port(), "/api/events");
  ASSERT_TRUE(denied);
  EXPECT_EQ(denied->status, 403);
  EXPECT_EQ(json::parse(denied->body).at("code"), 414);

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
    EXPECT_EQ(get(server.port(), path)->body, before);
  }
  EXPECT_EQ(server.stop(), 0);
  EXPECT_EQ(refused.stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(Db, ToolServe, ::testing::ValuesIn(backends()), BackendName());

// What the browser made of the page after its script ran for a few (virtual) seconds.
ToolRun browse(const std::string& browser, const std::string& url, const std::string& mode) {
  const std::string profile = makeTempDir();
  ToolRun r = runProgram(
      "/usr/bin/timeout",
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

// From the "<tr" or "<section" before `marker` to the end of that element.
std::string elementWith(const std::string& dom, const std::string& marker, const char* tag) {
  size_t at = dom.find(marker);
  if (at == std::string::npos) return "";
  size_t begin = dom.rfind(std::string("<") + tag, at);
  return dom.substr(begin, dom.find(std::string("</") + tag + ">", at) - begin);
}

std::string asText(const std::string& s) {
  std::string out;
  for (char c : s) out += c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
  return out;
}

TEST(ToolServeBrowser, PageShowsTheLogsTextsAsText) {
  std::string browser = std::getenv("JRX_CHROMIUM") ? std::getenv("JRX_CHROMIUM") : "";
  for (const char* path : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
    if (browser.empty() && access(path, X_OK) == 0) browser = path;
  if (browser.empty())
    GTEST_SKIP() << "chromium is not installed (scripts/setup.sh installs it where the package "
                    "exists): the browser test of jrxlog serve is skipped";
  const Strings db = {"--db", freshDatabaseUrl("sqlite")};
  const long long now = static_cast<long long>(std::time(nullptr));
  Strings demo = db;
  demo.insert(demo.end(), {"demo", "--seed", "7", "--size", "16", "--time", std::to_string(now - 60)});
  ASSERT_EQ(runJrxlog(demo).status, 0);

  // Each payload marks the page if it ever runs.
  const std::string script = "<script>document.body.dataset.pwned='script'</script>";
  const std::string img = "<img src=x onerror=\"document.body.dataset.pwned='img'\">";
  const std::string svg = "\"><svg onload=\"document.body.dataset.pwned='svg'\">";
  const json hostileEnv = {{"params", {{"eid", kVm2}, {"type", "vm"}, {"title", img}}}};
  const json op = {{"kind", "progress"}, {"id", "op-hostile"}, {"name", "<b>vm.start</b>"},
                   {"status", 2}, {"progress", 64}, {"time", now}, {"operands", {kVm2}},
                   {"info", {{"text", "Copying " + script}, {"params", {{"source_env", hostileEnv}}}}}};
  const json event = {{"kind", "event"}, {"guid", "3f1e0d2c-0000-4000-8000-0000000000ee"},
                      {"time", now}, {"category", "vm"}, {"type", "alert"},
                      {"info", {{"text", "{who} said " + svg},
                                {"params", {{"who", img}, {"source_env", hostileEnv}}}}}};
  Strings import = db;
  import.push_back("import");
  ASSERT_EQ(runJrxlog(import, op.dump() + "\n" + event.dump() + "\n").status, 0);

  ServeProcess server(db, {});
  const std::string page = "http://127.0.0.1:" + std::to_string(server.port()) + "/";
  const ToolRun dump = browse(browser, page, "--dump-dom");
  ASSERT_EQ(dump.status, 0) << dump.err;
  const std::string& dom = dump.out;
  ASSERT_NE(dom.find("data-refreshed=\"ok\""), std::string::npos) << dom;

  // Nothing of the log ran or became markup: the payloads stand as escaped text.
  EXPECT_EQ(dom.find("pwned=\""), std::string::npos);
  EXPECT_EQ(count(dom, "<script"), 1u);  // the page's own
  EXPECT_EQ(count(dom, "<img") + count(dom, "<svg") + count(dom, "<b>"), 0u);

  // The running operation: its latest progress as a bar, its texts as written.
  const std::string opRow = elementWith(dom, "data-id=\"op-hostile\"", "tr");
  EXPECT_NE(opRow.find("<progress max=\"100\" value=\"64\">"), std::string::npos) << opRow;
  EXPECT_NE(opRow.find(">" + asText("<b>vm.start</b>") + "<"), std::string::npos) << opRow;
  EXPECT_NE(opRow.find(">Copying " + asText(script) + "<"), std::string::npos) << opRow;
  EXPECT_GE(count(dom, "<tr class=\"op\""), 2u) << "the demo's running operations are shown too";
  EXPECT_EQ(count(dom, "<progress"), count(dom, "<tr class=\"op\""));

  // The newest event comes first, with its environment and text.
  const std::string newest = elementWith(dom, "<tr class=\"event\"", "tr");
  EXPECT_NE(newest.find(">alert<"), std::string::npos) << newest;
  EXPECT_NE(newest.find(">" + asText(img) + " said " + asText(svg) + "<"), std::string::npos)
      << newest;
  EXPECT_NE(newest.find(">" + asText(img) + "</td>"), std::string::npos) << "environment title";

  // An operation's history, as a click on its row (or its address) opens it.
  const ToolRun opened = browse(browser, page + "#op=op-hostile", "--dump-dom");
  ASSERT_EQ(opened.status, 0) << opened.err;
  const std::string rows = elementWith(opened.out, "<section id=\"history\">", "section");
  EXPECT_EQ(count(rows, "<tr>"), 2u) << rows;  // heading and the one report
  EXPECT_NE(rows.find(">64%<"), std::string::npos) << rows;
  EXPECT_NE(rows.find(">Copying " + asText(script) + "<"), std::string::npos) << rows;

  const std::string shot = std::string(JRX_BUILD_DIR) + "/serve-page.png";
  std::remove(shot.c_str());
  EXPECT_EQ(browse(browser, page + "#op=op-hostile", "--screenshot=" + shot).status, 0);
  EXPECT_GT(static_cast<long long>(std::ifstream(shot, std::ios::binary | std::ios::ate).tellg()),
            1000) << "no screenshot at " << shot;
  EXPECT_EQ(server.stop(), 0);
}

}  // namespace
}  // namespace jrxtest
