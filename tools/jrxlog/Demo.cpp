// jrxlog demo: the simulated agent's run into the log, then its summary.
#include "Commands.h"
#include "DemoSimulation.h"
#include "JRXEnvDirectory.h"
#include "Services.h"

namespace jrxlog {

namespace {

// Saves the simulation's steps as the agent would: history older than ten minutes in
// batches (putOps), the recent past report by report (saveProgress), events one by one.
void record(const std::vector<DemoStep>& steps, int64_t now) {
  std::vector<JRX::JRXRequestProgressData> batch;
  auto flush = [&] {
    if (batch.empty()) return;
    JRX::JRXOpLogLocal log(accessProvider());
    check(log, log.putOps(batch));
    batch.clear();
  };
  for (const auto& s : steps) {
    if (!s.isEvent && s.time < now - 600) {
      batch.push_back(s.progress);
      if (batch.size() >= 200) flush();
      continue;
    }
    flush();
    if (s.isEvent) {
      JRX::JRXEventLogLocal log(accessProvider());
      check(log, log.saveEvent(s.event));
    } else {
      JRX::JRXOpLogLocal log(accessProvider());
      check(log, log.saveProgress(s.progress));
    }
  }
  flush();
}

int runDemo(const DemoOptions& o) {
  DemoOutcome out;
  // The agent starts: whatever an earlier run left running is closed first.
  out.closed = finishOps();
  out.plan = planDemo(o);
  for (const auto& e : out.plan.nodes) JRX::JRXEnvDirectory::put(e.eid, e.type, e.title);
  for (const auto& e : out.plan.vms) JRX::JRXEnvDirectory::put(e.eid, e.type, e.title);
  out.before = countLog();
  record(out.plan.steps, o.now);
  out.after = countLog();
  for (const auto& s : out.plan.steps) (s.isEvent ? out.events : out.reports)++;
  printDemoReport(o, out);
  return 0;
}

}  // namespace

void addDemo(CommandLine& cl) {
  auto o = std::make_shared<DemoOptions>();
  CLI::App* c = addCommand(cl, "demo",
                           "simulate an agent at work (nodes, VMs, operations, events, audit "
                           "records), then print a summary and the newest records",
                           o, runDemo, kTimeHelp);
  addNumber(*c, "--seed", o->seed, 0, 9007199254740991LL, "seed of the simulation")
      ->capture_default_str();
  addNumber(*c, "--size", o->size, 1, 100000, "number of simulated operations")
      ->capture_default_str();
  c->add_option("--time", o->now, "the simulated present")
      ->type_name("T")->transform(timeValue())->default_str("now");
}

}  // namespace jrxlog
