// The web view of `jrxlog serve` as a headless browser leaves it, on a demo log with hostile
// texts: its tables and charts show the log and the history its address names, the log's
// texts stay text, and nothing on the page failed or was refused.
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>

#include "ToolFixture.h"

namespace jrxtest {
namespace {

using nlohmann::json;

class ToolWebView : public ToolDb {};

// The document the page made in ten seconds of virtual time, and as errors its console's
// messages (refused requests and policies among them). Other hosts are behind a dead proxy.
ToolRun render(const std::string& program, const std::string& url) {
  const std::string profile = makeTempDir();
  ToolRun r = runProgram(program, {"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                                   "--disable-dev-shm-usage", "--proxy-server=http://127.0.0.1:9",
                                   "--window-size=1280,1600", "--user-data-dir=" + profile,
                                   "--enable-logging=stderr", "--v=0",
                                   "--virtual-time-budget=10000", "--dump-dom", url});
  std::filesystem::remove_all(profile);
  std::string console;
  for (const std::string& line : ToolRun{0, r.err, ""}.lines())
    if (line.find(":CONSOLE") != std::string::npos) console += line + "\n";
  r.err = console;
  return r;
}

// What the element of `id` holds in the document (no element of its kind inside it).
std::string inside(const std::string& html, const std::string& id) {
  const size_t at = html.find(" id=\"" + id + "\""), tag = html.rfind('<', at);
  if (at == std::string::npos) return "no " + id;
  const size_t from = html.find('>', at) + 1;
  return html.substr(from, html.find("</" + html.substr(tag + 1, at - tag - 1) + ">", from) - from);
}

Strings matches(const std::string& html, const std::string& pattern) {
  Strings all;
  const std::regex re(pattern);
  for (std::sregex_iterator it(html.begin(), html.end(), re), end; it != end; ++it)
    all.push_back((*it)[1]);
  return all;
}

TEST_P(ToolWebView, ChartsAndTablesShowTheLogAndItsTextsStayText) {
  const char* given = std::getenv("JRX_CHROMIUM");
  const std::string program = given ? given : "/usr/bin/chromium";
  if (access(program.c_str(), X_OK) != 0)
    GTEST_SKIP() << "chromium is not installed (scripts/setup.sh installs it): the web view "
                    "is not loaded in a browser";
  ASSERT_EQ(jrx({"demo", "--seed", "3"}).status, 0);
  // Each payload marks the page if it ever runs, or opens a dialog.
  const std::string script = "<script>alert(1)</script>";
  const std::string img = "\"><img src=x onerror=\"document.body.dataset.pwned='img'\">";
  const std::string svg = "<svg onload=\"document.body.dataset.pwned='svg'\">";
  const std::string vm = "33333333-3333-4333-8333-333333333333";
  const json env = {{"params", {{"eid", vm}, {"type", "vm"}, {"title", img}}}};
  const long long now = static_cast<long long>(std::time(nullptr));
  const json records[] = {
      {{"kind", "env"}, {"eid", vm}, {"type", "vm"}, {"title", img}},
      {{"kind", "progress"}, {"id", "op-hostile"}, {"name", "<b>vm.start</b>"}, {"status", 2},
       {"progress", 64}, {"time", now}, {"operands", json::array({vm})},
       {"info", {{"text", "Copying " + script}}}},
      {{"kind", "event"}, {"guid", "3f1e0d2c-0000-4000-8000-0000000000ee"}, {"time", now},
       {"category", "vm"}, {"type", "alert"},
       {"info", {{"text", "{who} said " + svg}, {"params", {{"who", img}, {"source_env", env}}}}}},
  };
  std::string lines;
  for (const auto& r : records) lines += r.dump() + "\n";
  ASSERT_EQ(jrx({"import"}, lines).status, 0);
  // What the listings hold (all of it from the last hour), to hold the page against.
  const Strings active = sorted(idsOf(jrx({"ops", "--active", "--first-only", "--json"}).out));
  const size_t ops = idsOf(jrx({"ops", "--first-only", "--json"}).out).size();
  const size_t events = idsOf(jrx({"events", "--json", "--limit", "100000"}).out).size();
  ASSERT_GT(events, 50u) << "the demo's events fill more than the page shows at first";
  // The history the address names: one of the demo's operations.
  const std::string picked = active.front() == "op-hostile" ? active.back() : active.front();
  const size_t reports = idsOf(jrx({"ops", "--id", picked, "--json"}).out).size();

  // The browser trades the token in the address for a cookie that its requests carry.
  ServeProcess server(url_, {"--token-file", writeTempFile("s3cret-token\n")});
  const ToolRun page = render(program, "http://127.0.0.1:" + std::to_string(server.port()) +
                                           "/?token=s3cret-token#op=" + picked);
  const std::string& html = page.out;
  ASSERT_NE(html.find("data-refreshed=\"ok\""), std::string::npos) << html << server.out();
  EXPECT_NE(html.find("data-charts=\"ok\""), std::string::npos);
  EXPECT_EQ(page.err, "");  // nothing failed, and nothing was refused

  // The unfinished operations, with an estimated end or a dash each; the newest events; the
  // history of the operation named; a bar per operation, and every event counted per hour.
  const std::string opRows = inside(html, "ops-body");
  EXPECT_EQ(sorted(matches(opRows, "<tr [^>]*data-id=\"([^\"]*)\"")), active);
  EXPECT_EQ(matches(opRows, "<td class=\"time eta\">([^<]+)</td>").size(), active.size());
  EXPECT_EQ(count(inside(html, "events-body"), "<tr"), 50u);
  EXPECT_EQ(inside(html, "history-id"), picked);
  EXPECT_EQ(count(inside(html, "history-body"), "<tr"), reports);
  EXPECT_EQ(inside(html, "timeline-note"), "(" + std::to_string(ops) + ")");
  EXPECT_EQ(inside(html, "hourly-note"), "(" + std::to_string(events) + ")");

  // Nothing of the log ran or became markup: the payloads are the rows' text.
  EXPECT_EQ(html.find("data-pwned"), std::string::npos);
  const std::string main = html.substr(html.find("<main"));
  for (const char* tag : {"<img", "<svg", "<b>", "<iframe", "<object"})
    EXPECT_EQ(main.find(tag), std::string::npos) << tag;
  EXPECT_EQ(matches(html, "<script src=\"([^\"]*)\""),
            (Strings{"/chart.min.js", "/charts.js", "/app.js"}));
  const std::string shown = "\"&gt;&lt;img src=x onerror=\"document.body.dataset.pwned='img'\"&gt;";
  for (const char* text : {shown.c_str(), "&lt;b&gt;vm.start&lt;/b&gt;", "Copying &lt;script&gt;"})
    EXPECT_NE(opRows.find(text), std::string::npos) << text << "\n" << opRows;
  EXPECT_NE(inside(html, "events-body").find(shown + " said &lt;svg onload="), std::string::npos);
  EXPECT_EQ(server.stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(Db, ToolWebView, ::testing::ValuesIn(backends()), BackendName());

}  // namespace
}  // namespace jrxtest
