// The web view of `jrxlog serve` in a headless browser, on a demo log with hostile texts: its
// charts are drawn from the log, its tables list the log's records, every text of the log
// stays text, and the page asks for nothing but its own server.
#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "HeadlessBrowser.h"
#include "ToolFixture.h"

namespace jrxtest {
namespace {

using nlohmann::json;

class ToolWebView : public ToolDb {};

std::string join(const std::vector<std::string>& lines) {
  std::string all;
  for (const auto& l : lines) all += l + "\n";
  return all;
}

// Each chart as the page left it: its bars per dataset, the sum of its values, and how many
// of its canvas' opaque pixels have each colour.
const char* const kChartsState = R"JS((() => {
  const state = {};
  for (const id of ['timeline', 'hourly']) {
    const chart = Chart.getChart(id);
    const canvas = document.getElementById(id);
    const px = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    const colours = {};
    for (let i = 0; i < px.length; i += 4) {
      if (px[i + 3] !== 255) continue;
      const hex = '#' + [px[i], px[i + 1], px[i + 2]]
        .map((v) => v.toString(16).padStart(2, '0')).join('');
      colours[hex] = (colours[hex] || 0) + 1;
    }
    const bars = {};
    let sum = 0;
    chart.data.datasets.forEach((d) => {
      bars[d.label] = d.data.length;
      d.data.forEach((v) => { sum += typeof v === 'number' ? v : 0; });
    });
    state[id] = { bars, sum, colours };
  }
  return state;
})())JS";

const char* const kTablesState = R"JS((() => ({
  ops: Array.from(document.querySelectorAll('#ops-body tr')).map((tr) => tr.dataset.id),
  opTexts: Array.from(document.querySelectorAll('#ops-body tr')).map((tr) => tr.textContent),
  etas: Array.from(document.querySelectorAll('#ops-body td.eta')).map((td) => td.textContent),
  events: Array.from(document.querySelectorAll('#events-body tr')).map((tr) => tr.textContent),
  scripts: Array.from(document.scripts).map((s) => s.getAttribute('src')),
  markup: document.querySelectorAll('main img, main svg, main b, main iframe, main object').length,
  pwned: document.body.dataset.pwned || null,
}))())JS";

// Clicks the middle of the timeline's bar of operation ID, as a person would.
std::string clickBar(const std::string& id) {
  return R"JS((() => {
  const chart = Chart.getChart('timeline');
  for (let d = 0; d < chart.data.datasets.length; ++d) {
    const i = chart.data.datasets[d].data.findIndex((b) => b.y === )JS" + json(id).dump() + R"JS();
    if (i < 0) continue;
    const bar = chart.getDatasetMeta(d).data[i];
    const r = chart.canvas.getBoundingClientRect();
    chart.canvas.dispatchEvent(new MouseEvent('click', {
      clientX: r.left + (bar.x + bar.base) / 2, clientY: r.top + bar.y, bubbles: true }));
    return true;
  }
  return false;
})())JS";
}

// The outcome of each operation as its latest report says, in the page's terms.
std::map<std::string, size_t> outcomes(const std::string& jsonLines) {
  std::map<std::string, int> latest;
  for (const auto& line : ToolRun{0, jsonLines, ""}.lines()) {
    const json r = json::parse(line);
    if (r.at("kind") == "progress") latest[r.at("id")] = r.value("status", 0);
  }
  std::map<std::string, size_t> n;
  for (const auto& [id, status] : latest)
    ++n[status <= 2 ? "running" : status == 3 ? "done" : status == 4 ? "canceled" : "failed"];
  return n;
}

TEST_P(ToolWebView, ChartsAndTablesShowTheLogAndItsTextsStayText) {
  const std::string program = HeadlessBrowser::find();
  if (program.empty())
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
  const std::map<std::string, size_t> ops =
      outcomes(jrx({"ops", "--json", "--no-envs", "--limit", "100000"}).out);
  const size_t events = idsOf(jrx({"events", "--json", "--limit", "100000"}).out).size();
  ASSERT_GT(events, 50u) << "the demo's events fill more than the page shows at first";
  ASSERT_TRUE(ops.count("done") && ops.count("failed") && ops.count("running"));

  // The browser trades the token in the address for a cookie that its requests carry.
  ServeProcess server(url_, {"--token-file", writeTempFile("s3cret-token\n")});
  const std::string origin = "http://127.0.0.1:" + std::to_string(server.port());
  HeadlessBrowser browser(program);
  browser.open(origin + "/?token=s3cret-token");
  ASSERT_TRUE(browser.waitUntil("document.body.dataset.refreshed === 'ok' && "
                                "document.body.dataset.charts === 'ok'"))
      << join(browser.problems) << server.out();

  // The timeline has a bar per operation, in the colour of its outcome; the hourly chart
  // counts every event.
  const json charts = browser.evaluate(kChartsState);
  const json& timeline = charts.at("timeline");
  for (const auto& [outcome, n] : ops)
    EXPECT_EQ(timeline.at("bars").value(outcome, 0), n) << outcome << timeline.dump();
  EXPECT_EQ(charts.at("hourly").at("sum"), events) << charts.at("hourly").dump();
  const std::pair<const char*, const char*> painted[] = {
      {"timeline", "#2e9d4f"}, {"timeline", "#d43c3c"}, {"timeline", "#2a7ae2"},
      {"hourly", "#2a7ae2"}, {"hourly", "#e08a1e"}};
  for (const auto& [chart, colour] : painted)
    EXPECT_GT(charts.at(chart).at("colours").value(colour, 0), 20) << chart << " has no " << colour;

  // The unfinished operations, with an estimated end or a dash each; the newest events.
  json tables = browser.evaluate(kTablesState);
  EXPECT_EQ(sorted(tables.at("ops")), active);
  EXPECT_EQ(tables.at("etas").size(), active.size());
  for (const std::string eta : tables.at("etas")) EXPECT_FALSE(eta.empty());
  EXPECT_EQ(tables.at("events").size(), 50u);
  // "older" reads on in the same listing, also within a time range.
  browser.evaluate("(() => { const s = document.getElementById('filter-since'); s.value = '86400';"
                   " document.body.dataset.refreshed = ''; s.dispatchEvent(new Event('change')); })()");
  ASSERT_TRUE(browser.waitUntil("document.body.dataset.refreshed === 'ok'"));
  // A range read anew a second later begins at another second: a different listing.
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  // A click while a refresh reads is not taken: it is repeated until the rows come.
  const size_t older = std::min<size_t>(events, 100);
  EXPECT_TRUE(browser.waitUntil("(() => { const n = document.querySelectorAll('#events-body tr')"
                                ".length; if (n === 50) document.getElementById('events-older')"
                                ".click(); return n === " + std::to_string(older) + "; })()"))
      << join(browser.problems);

  // A bar of the timeline opens its operation's history (one of the demo's: the hostile one
  // began a moment ago, and its bar is a sliver).
  const std::string picked = active.front() == "op-hostile" ? active.back() : active.front();
  const size_t reports = idsOf(jrx({"ops", "--id", picked, "--json"}).out).size();
  ASSERT_EQ(browser.evaluate(clickBar(picked)), json(true));
  EXPECT_TRUE(browser.waitUntil("document.getElementById('history-id').textContent === " +
                                json(picked).dump() + " && document.getElementById('history-body')"
                                ".children.length === " + std::to_string(reports)))
      << picked;

  // Nothing of the log ran or became markup: the payloads are the rows' text.
  tables = browser.evaluate(kTablesState);
  EXPECT_EQ(tables.at("pwned"), json());
  EXPECT_EQ(tables.at("markup"), 0);
  EXPECT_EQ(tables.at("scripts"), json({"/chart.min.js", "/charts.js", "/app.js"}));
  const std::string opRow = join(tables.at("opTexts"));
  for (const std::string& text : {std::string("<b>vm.start</b>"), "Copying " + script, img})
    EXPECT_NE(opRow.find(text), std::string::npos) << text << "\n" << opRow;
  EXPECT_NE(join(tables.at("events")).find(img + " said " + svg), std::string::npos);

  // Every request went to the page's own server, and nothing failed on the page.
  // The events per hour are counted by the server, not from a bounded listing of events.
  EXPECT_FALSE(browser.requests.empty());
  bool hoursCounted = false;
  for (const auto& url : browser.requests) {
    EXPECT_EQ(url.rfind(origin + "/", 0), 0u) << url;
    hoursCounted = hoursCounted || url.rfind(origin + "/api/events/hours?", 0) == 0;
    EXPECT_EQ(url.find("limit=6000"), std::string::npos) << url;
  }
  EXPECT_TRUE(hoursCounted);
  EXPECT_EQ(join(browser.problems), "");
  // The browser goes first: a server that stops waits for the connections open to it.
  browser.close();
  EXPECT_EQ(server.stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(Db, ToolWebView, ::testing::ValuesIn(backends()), BackendName());

}  // namespace
}  // namespace jrxtest
