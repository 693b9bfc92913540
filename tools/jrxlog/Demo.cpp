// jrxlog demo: the simulated agent's run into the log, then its summary.
#include "Commands.h"
#include "DemoSimulation.h"

namespace jrxlog {

namespace {

int runDemo(const DemoOptions& o) {
  printDemoReport(o, simulateDemo(o));
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
