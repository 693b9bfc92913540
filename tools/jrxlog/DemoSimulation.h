// jrxlog demo: an agent at work, simulated into the log through the same service calls the
// agent makes (DemoSimulation.cpp), then a summary of what it did and of the log it left
// (DemoReport.cpp).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "JRXGUID.h"
#include "LogCounts.h"

namespace jrxlog {

struct DemoOptions {
  uint64_t seed = 1;
  int size = 24;  // operations, and as many simulated VMs as fit
  int64_t now = static_cast<int64_t>(std::time(nullptr));  // the simulated present
};

struct DemoEnv {
  JRX::JRXEID eid;
  std::string type;
  std::string title;
};

// What a run of the simulation did to the log.
struct DemoOutcome {
  size_t closed = 0;  // operations an earlier run left running, closed as the agent started
  std::vector<DemoEnv> nodes, vms;
  int succeeded = 0, failed = 0, running = 0;
  size_t reports = 0, events = 0;  // sent to the log
  LogCounts before, after;          // the log's rows around the run
};

// Everything the simulation chooses comes from the seed; identifiers of operations and events
// also depend on the simulated present, so that a second run adds a new stretch of history
// instead of replaying the first one.
DemoOutcome simulateDemo(const DemoOptions& options);
void printDemoReport(const DemoOptions& options, const DemoOutcome& outcome);

}  // namespace jrxlog
