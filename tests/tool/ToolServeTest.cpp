// jrxlog serve end to end: the API answers what the listings print, refuses what it must,
// survives a failing database; and the page, loaded in a headless browser, shows the log's
// texts as text.
#include <httplib.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <tuple>
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

httplib::Response get(int port, const std::string& path, const httplib::Headers& headers = {}) {
  auto res = httplib::Client("127.0.0.1", port).Get(path, headers);
  if (!res) throw std::runtime_error("no answer to GET " + path);
  return *res;
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
// Whatever is wrong is said in JSON, with the status that fits, and changes nothing.
TEST_P(ToolServe, ListingsAndTheApiAnswerAlike) {
  ASSERT_EQ(jrx({"import"}, kSample).status, 0);
  ServeProcess server(dbArgs(), {});
  auto ev = [](char n) { return std::string("3f1e0d2c-0000-4000-8000-00000000000") + n; };
  const std::pair<Strings, Strings> cases[] = {
      {{"ops"}, {"req-1", "req-1", "req-1", "req-2", "a/b c", "req-3"}},
      {{"ops", "--limit", "2"}, {"req-3", "a/b c"}},  // the newest, newest first
      {{"ops", "--limit", "0"}, {}},
      {{"ops", "--first-only", "--active", "--no-envs"}, {"req-2", "a/b c"}},
      {{"ops", "--name", "vm.stop", "--parent", "req-2"}, {"a/b c"}},
      {{"ops", "--id", "a/b c"}, {"a/b c"}},
      {{"ops", "--eid", kVm1, "--first-only"}, {"req-1"}},
      {{"ops", "--from", "1701000000", "--to", "1701000200"}, {"req-2"}},  // when they began
      {{"ops", "--from", "2023-11-26 12:01:40Z"}, {"a/b c", "req-3"}},
      {{"events"}, {ev('3'), ev('2'), ev('1')}},
      {{"events", "--category", "vm", "--type", "info", "--envs"}, {ev('1')}},
      {{"events", "--category", "nothing"}, {}},
      {{"events", "--eid", kVm1}, {}},
      {{"events", "--eid", kVm1, "--operand"}, {ev('2')}},
      {{"events", "--eid", kNode, "--from", "1701000001", "--to", "1701000003"}, {ev('2')}},
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
    args.push_back("--json");
    const ToolRun printed = jrx(args);
    EXPECT_EQ(idsOf(printed.out), c.second) << path << printed.err;
    const httplib::Response lines = get(server.port(), path + "lines=1");
    EXPECT_EQ(std::make_pair(lines.status, lines.body), std::make_pair(200, printed.out)) << path;
    EXPECT_EQ(lines.get_header_value("Content-Type"), "application/x-ndjson; charset=utf-8");
    json expected = json::array();
    for (const auto& line : printed.lines()) expected.push_back(json::parse(line));
    EXPECT_EQ(json::parse(get(server.port(), path).body), expected) << path;
  }

  const std::tuple<const char*, const char*, int, const char*> refusals[] = {
      {"GET", "/api/ops?limit=many", 400, "limit: expected a whole number"},
      {"GET", "/api/events?eid=not-a-guid", 400, "eid"},
      {"GET", "/api/ops?active=maybe", 400, "active: expected 1 or 0"},
      {"GET", "/api/events?active=1", 400, "unknown parameter 'active'"},
      {"GET", "/api/ops?limit=1&limit=2", 400, "more than once"},
      {"GET", "/api/ops/req-9", 404, "no operation with id 'req-9'"},
      {"GET", "/nothing/here", 404, "nothing served at /nothing/here"},
      {"POST", "/api/ops", 405, "read-only"},
      {"DELETE", "/api/ops/req-1", 405, "read-only"},
  };
  httplib::Client client("127.0.0.1", server.port());
  for (const auto& [method, path, status, says] : refusals) {
    httplib::Request request;
    request.method = method;
    request.path = path;
    auto res = client.send(request);
    ASSERT_TRUE(res) << path;
    EXPECT_EQ(res->status, status) << path;
    EXPECT_NE(json::parse(res->body).at("error").get<std::string>().find(says), std::string::npos)
        << method << " " << path << ": " << res->body;
  }
  EXPECT_EQ(ids({"ops", "--id", "req-1"}).size(), 3u);
  // A page elsewhere may point a name of its own at this address.
  EXPECT_EQ(get(server.port(), "/", {{"Host", "attacker.example:8080"}}).status, 403);
  // The page runs no inline script and no script from elsewhere.
  const httplib::Response page = get(server.port(), "/", {{"Host", "localhost:1"}});
  const std::string csp = page.get_header_value("Content-Security-Policy");
  EXPECT_EQ(page.status, 200);
  EXPECT_TRUE(csp.find("script-src 'self'") != csp.npos && csp.find("unsafe") == csp.npos) << csp;
  EXPECT_EQ(page.get_header_value("X-Content-Type-Options"), "nosniff");
  EXPECT_EQ(server.stop(), 0);
}

// With a token, every request needs it; a refused right is 403; a failing database is 503
// for as long as it fails, and the server answers again once it is back.
TEST_P(ToolServe, TokenRightsAndDatabaseFailures) {
  ASSERT_EQ(jrx({"import"}, kSample).status, 0);
  Strings opsOnly = dbArgs();
  opsOnly.insert(opsOnly.end(), {"--acl", writeTempFile(R"({"clients": {"c": {"*": [188]}}})"),
                                 "--client", "c"});
  ServeProcess guarded(opsOnly, {"--token-file", writeTempFile("s3cret-token\n")});
  const std::pair<httplib::Headers, int> tries[] = {
      {{}, 401},
      {{{"Authorization", "Bearer s3cret-tokeN"}}, 401},
      {{{"Cookie", "jrxlog_token=guess"}}, 401},
      {{{"Authorization", "Bearer s3cret-token"}}, 200},
      {{{"Cookie", "jrxlog_token=s3cret-token"}}, 200},
  };
  for (const char* path : {"/", "/app.js", "/api/ops"})
    for (const auto& t : tries) EXPECT_EQ(get(guarded.port(), path, t.first).status, t.second) << path;
  EXPECT_EQ(get(guarded.port(), "/api/ops").get_header_value("WWW-Authenticate"), "Bearer");
  const httplib::Response denied = get(guarded.port(), "/api/events", tries[3].first);
  EXPECT_EQ(std::make_pair(denied.status, json::parse(denied.body).at("code")),
            std::make_pair(403, json(414)));
  // A browser opens /?token=... once and carries the token in a cookie from then on.
  EXPECT_EQ(get(guarded.port(), "/?token=guess").status, 401);
  const httplib::Response link = get(guarded.port(), "/?token=s3cret-token");
  EXPECT_EQ(link.status, 303);
  EXPECT_EQ(link.get_header_value("Set-Cookie").find("jrxlog_token=s3cret-token; Path=/; HttpOnly"),
            0u);
  EXPECT_EQ(guarded.stop(), 0);

  ServeProcess server(dbArgs(), {});
  auto db = ASDatabase::Open(url_);
  for (const std::string table : {"events_log", "op_log"}) {
    const std::string path = table == "op_log" ? "/api/ops" : "/api/events";
    const std::string before = get(server.port(), path).body;
    db->Session()->ExecuteSql("ALTER TABLE " + table + " RENAME TO gone_" + table);
    const httplib::Response failed = get(server.port(), path);
    EXPECT_EQ(std::make_pair(failed.status, json::parse(failed.body).at("code")),
              std::make_pair(503, json(3101))) << table;
    EXPECT_EQ(get(server.port(), "/").status, 200);
    db->Session()->ExecuteSql("ALTER TABLE gone_" + table + " RENAME TO " + table);
    EXPECT_EQ(get(server.port(), path).body, before) << table;
  }
  EXPECT_EQ(server.stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(Db, ToolServe, ::testing::ValuesIn(backends()), BackendName());

// What the browser made of the page after its script ran for a few (virtual) seconds.
std::string browse(const std::string& browser, const std::string& url) {
  const std::string profile = makeTempDir();
  ToolRun r = runProgram("/usr/bin/timeout",
                         {"120", browser, "--headless", "--no-sandbox", "--disable-gpu",
                          "--no-first-run", "--disable-background-networking", "--disable-sync",
                          "--disable-component-update", "--disable-dev-shm-usage",
                          "--user-data-dir=" + profile, "--virtual-time-budget=6000",
                          "--dump-dom", url});
  runProgram("/bin/rm", {"-rf", profile});
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

// The "<tr" (or other TAG) element that holds `marker`, or starts with it.
std::string elementWith(const std::string& dom, const std::string& marker,
                        const std::string& tag = "tr") {
  size_t begin = dom.rfind("<" + tag, dom.find(marker));
  return begin == std::string::npos ? "" : dom.substr(begin, dom.find("</" + tag, begin) - begin);
}

TEST(ToolServeBrowser, PageShowsTheLogsTextsAsText) {
  std::string browser = std::getenv("JRX_CHROMIUM") ? std::getenv("JRX_CHROMIUM") : "";
  for (const char* path : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
    if (browser.empty() && access(path, X_OK) == 0) browser = path;
  if (browser.empty())
    GTEST_SKIP() << "chromium is not installed (scripts/setup.sh installs it where the package "
                    "exists): the browser test of jrxlog serve is skipped";
  const std::string url = freshDatabaseUrl("sqlite");
  const long long now = static_cast<long long>(std::time(nullptr));
  ASSERT_EQ(jrxOn(url, {"demo", "--seed", "7", "--size", "16", "--time", std::to_string(now - 60)})
                .status, 0);
  // Each payload marks the page if it ever runs.
  const std::string script = "<script>document.body.dataset.pwned='script'</script>";
  const std::string img = "<img src=x onerror=\"document.body.dataset.pwned='img'\">";
  const std::string svg = "\"><svg onload=\"document.body.dataset.pwned='svg'\">";
  const json env = {{"params", {{"eid", kVm2}, {"type", "vm"}, {"title", img}}}};
  const json op = {{"kind", "progress"}, {"id", "op-hostile"}, {"name", "<b>vm.start</b>"},
                   {"status", 2}, {"progress", 64}, {"time", now}, {"operands", {kVm2}},
                   {"info", {{"text", "Copying " + script}, {"params", {{"source_env", env}}}}}};
  const json event = {{"kind", "event"}, {"guid", "3f1e0d2c-0000-4000-8000-0000000000ee"},
                      {"time", now}, {"category", "vm"}, {"type", "alert"},
                      {"info", {{"text", "{who} said " + svg},
                                {"params", {{"who", img}, {"source_env", env}}}}}};
  ASSERT_EQ(jrxOn(url, {"import"}, op.dump() + "\n" + event.dump() + "\n").status, 0);

  ServeProcess server({"--db", url}, {});
  const std::string page = "http://127.0.0.1:" + std::to_string(server.port()) + "/";
  const std::string dom = browse(browser, page);
  ASSERT_NE(dom.find("data-refreshed=\"ok\""), std::string::npos) << dom;
  // Nothing of the log ran or became markup: the payloads stand as escaped text.
  EXPECT_EQ(dom.find("pwned=\""), std::string::npos);
  EXPECT_EQ(count(dom, "<script"), 1u);  // the page's own
  EXPECT_EQ(count(dom, "<img") + count(dom, "<svg") + count(dom, "<b>"), 0u);
  auto asText = [](std::string s) {
    for (size_t at; (at = s.find_first_of("<>")) != std::string::npos;)
      s.replace(at, 1, s[at] == '<' ? "&lt;" : "&gt;");
    return s;
  };
  // The running operation with its latest progress as a bar; the newest event first, with its
  // environment; an operation's history, as a click on its row (or its address) opens it.
  const std::string history =
      elementWith(browse(browser, page + "#op=op-hostile"), "<section id=\"history\">", "section");
  const std::pair<std::string, Strings> shown[] = {
      {elementWith(dom, "data-id=\"op-hostile\""),
       {"<progress max=\"100\" value=\"64\">", ">" + asText("<b>vm.start</b>") + "<",
        ">Copying " + asText(script) + "<"}},
      {elementWith(dom, "<tr class=\"event\""),
       {">alert<", ">" + asText(img) + " said " + asText(svg) + "<", ">" + asText(img) + "</td>"}},
      {history, {">64%<", ">Copying " + asText(script) + "<"}},
  };
  for (const auto& s : shown)
    for (const auto& text : s.second) EXPECT_NE(s.first.find(text), std::string::npos) << text << "\n" << s.first;
  EXPECT_EQ(count(history, "<tr>"), 2u) << history;  // heading and the one report
  EXPECT_GE(count(dom, "<tr class=\"op\""), 2u) << "the demo's running operations are shown too";
  EXPECT_EQ(count(dom, "<progress"), count(dom, "<tr class=\"op\""));
  EXPECT_EQ(server.stop(), 0);
}

}  // namespace
}  // namespace jrxtest
