// jrxlog serve end to end: the API answers what the listings print, refuses what it must,
// survives a failing database, asks for the token it was given; the page, loaded in a
// headless browser, shows the log's texts as text.
#include <httplib.h>
#include <unistd.h>

#include <ctime>
#include <nlohmann/json.hpp>
#include <tuple>

#include "ASQuery.h"
#include "ToolFixture.h"

namespace jrxtest {
namespace {

using nlohmann::json;

class ToolServe : public ToolDb {};

const std::pair<std::string, std::string> kAuth = {"Authorization", "Bearer s3cret-token"};
const httplib::Headers kBearer = {kAuth};

httplib::Response get(int port, const std::string& path, const httplib::Params& params = {},
                      const httplib::Headers& headers = kBearer) {
  auto res = httplib::Client("127.0.0.1", port).Get(path, params, headers);
  if (!res) throw std::runtime_error("no answer to GET " + path);
  return *res;
}

// What the browser made of the page after its script ran for a few (virtual) seconds; ""
// without a browser.
std::string browse(const std::string& url) {
  std::string browser = std::getenv("JRX_CHROMIUM") ? std::getenv("JRX_CHROMIUM") : "";
  for (const char* path : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
    if (browser.empty() && access(path, X_OK) == 0) browser = path;
  if (browser.empty()) return "";
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

std::string rowWith(const std::string& dom, const std::string& marker) {
  size_t begin = dom.rfind("<tr", dom.find(marker));
  return begin == std::string::npos ? "" : dom.substr(begin, dom.find("</tr", begin) - begin);
}

// Each listing asked of the API (its options as parameters) answers byte for byte what the
// command prints with --json; whatever is wrong is said with the status that fits and changes
// nothing; every request needs the token.
TEST_P(ToolServe, ApiAnswersWhatTheListingsPrintAndThePageShowsTextsAsText) {
  ASSERT_EQ(jrx({"import"}, kSample).status, 0);
  ServeProcess server({"--db", url_, "--local-eid", kLocal},
                      {"--token-file", writeTempFile("s3cret-token\n")});
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
      {{"events"}, {ev('3'), ev('2'), ev('1')}},
      {{"events", "--category", "vm", "--type", "info", "--envs"}, {ev('1')}},
      {{"events", "--eid", kVm1, "--operand", "--limit", "1"}, {ev('2')}},
      {{"events", "--eid", kNode, "--from", "1701000001", "--to", "1701000003"}, {ev('2')}},
  };
  for (const auto& c : cases) {
    Strings args = c.first;
    httplib::Params params = {{"lines", "1"}};
    for (size_t i = 1; i < args.size(); ++i) {
      const bool flag = i + 1 == args.size() || args[i + 1].rfind("--", 0) == 0;
      params.emplace(args[i].substr(2), flag ? "1" : args[i + 1]);
      i += flag ? 0 : 1;
    }
    args.push_back("--json");
    const ToolRun printed = jrx(args);
    EXPECT_EQ(idsOf(printed.out), c.second) << args[1] << printed.err;
    const httplib::Response api = get(server.port(), "/api/" + args[0], params);
    EXPECT_EQ(std::make_pair(api.status, api.body), std::make_pair(200, printed.out)) << args[1];
  }
  // One operation's history, its id in the path.
  EXPECT_EQ(get(server.port(), "/api/ops/a%2Fb%20c", {{"lines", "1"}}).body,
            jrx({"ops", "--id", "a/b c", "--json"}).out);

  const std::tuple<const char*, const char*, httplib::Headers, int, const char*> answers[] = {
      {"GET", "/api/ops?active=maybe", kBearer, 400, "active: expected 1 or 0"},
      {"GET", "/api/events?active=1", kBearer, 400, "unknown parameter 'active'"},
      {"GET", "/api/ops?limit=1&limit=2", kBearer, 400, "more than once"},
      {"GET", "/api/ops/req-9", kBearer, 404, "no operation with id 'req-9'"},
      {"POST", "/api/ops", kBearer, 405, "read-only"},
      {"DELETE", "/api/ops/req-1", kBearer, 405, "read-only"},
      // A page elsewhere may point a name of its own at this address.
      {"GET", "/", {{"Host", "attacker.example:8080"}, kAuth}, 403, "loopback host names only"},
      {"GET", "/api/ops", {}, 401, "bearer token"},
      {"GET", "/app.js", {{"Authorization", "Bearer s3cret-tokeN"}}, 401, "bearer token"},
      {"GET", "/", {{"Cookie", "jrxlog_token=guess"}}, 401, "bearer token"},
      {"GET", "/?token=guess", {}, 401, "bearer token"},
      {"GET", "/api/events", {{"Cookie", "jrxlog_token=s3cret-token"}}, 200, "3f1e0d2c"},
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
  EXPECT_EQ(idsOf(jrx({"ops", "--id", "req-1", "--json"}).out).size(), 3u);
  EXPECT_EQ(get(server.port(), "/api/ops", {}, {}).get_header_value("WWW-Authenticate"), "Bearer");
  // A browser opens /?token=... once and carries the token in a cookie from then on.
  EXPECT_EQ(get(server.port(), "/?token=s3cret-token", {}, {}).get_header_value("Set-Cookie").find(
                "jrxlog_token=s3cret-token; Path=/; HttpOnly"), 0u);
  // The page runs no inline script and no script from elsewhere.
  const httplib::Response root = get(server.port(), "/", {}, {{"Host", "localhost:1"}, kAuth});
  const std::string csp = root.get_header_value("Content-Security-Policy");
  EXPECT_EQ(root.status, 200);
  EXPECT_TRUE(csp.find("script-src 'self'") != csp.npos && csp.find("unsafe") == csp.npos) << csp;
  EXPECT_EQ(root.get_header_value("X-Content-Type-Options"), "nosniff");

  // A failing database is 503 for as long as it fails; the server answers again once it is back.
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

  // Each payload marks the page if it ever runs.
  const std::string script = "<script>document.body.dataset.pwned='script'</script>";
  const std::string img = "<img src=x onerror=\"document.body.dataset.pwned='img'\">";
  const std::string svg = "\"><svg onload=\"document.body.dataset.pwned='svg'\">";
  const long long now = static_cast<long long>(std::time(nullptr));
  const std::string vm = "33333333-3333-4333-8333-333333333333";
  const json env = {{"params", {{"eid", vm}, {"type", "vm"}, {"title", img}}}};
  const json op = {{"kind", "progress"}, {"id", "op-hostile"}, {"name", "<b>vm.start</b>"},
                   {"status", 2}, {"progress", 64}, {"time", now}, {"operands", {vm}},
                   {"info", {{"text", "Copying " + script}, {"params", {{"source_env", env}}}}}};
  const json event = {{"kind", "event"}, {"guid", "3f1e0d2c-0000-4000-8000-0000000000ee"},
                      {"time", now}, {"category", "vm"}, {"type", "alert"},
                      {"info", {{"text", "{who} said " + svg},
                                {"params", {{"who", img}, {"source_env", env}}}}}};
  ASSERT_EQ(jrx({"import"}, op.dump() + "\n" + event.dump() + "\n").status, 0);
  const std::string dom =
      browse("http://127.0.0.1:" + std::to_string(server.port()) + "/?token=s3cret-token");
  if (dom.empty()) GTEST_SKIP() << "chromium is not installed: the page is not loaded in a browser";
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
  // The running operations with their latest progress as a bar; the newest event first, with
  // its environment.
  const std::pair<std::string, Strings> shown[] = {
      {rowWith(dom, "data-id=\"op-hostile\""),
       {"<progress max=\"100\" value=\"64\">", ">" + asText("<b>vm.start</b>") + "<",
        ">Copying " + asText(script) + "<"}},
      {rowWith(dom, "<tr class=\"event\""),
       {">alert<", ">" + asText(img) + " said " + asText(svg) + "<", ">" + asText(img) + "</td>"}},
  };
  for (const auto& s : shown)
    for (const auto& text : s.second)
      EXPECT_NE(s.first.find(text), std::string::npos) << text << "\n" << s.first;
  EXPECT_EQ(count(dom, "<progress"), 3u) << "the sample's running operations are shown too";
  EXPECT_EQ(server.stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(Db, ToolServe, ::testing::ValuesIn(backends()), BackendName());

}  // namespace
}  // namespace jrxtest
