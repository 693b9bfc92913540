// jrxlog demo: an agent at work (DemoSimulation.cpp), saved into the log through the same
// service calls the agent makes (Demo.cpp), then a summary of what it did and of the log it
// left (DemoReport.cpp).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "JRXRecords.h"
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

// One thing the simulated agent reports, at its time.
struct DemoStep {
  int64_t time = 0;
  size_t seq = 0;
  bool isEvent = false;
  JRX::JRXRequestProgressData progress;
  JRX::JRXEvent event;
};

// What the simulated agent does, in the order it reports it.
struct DemoPlan {
  std::vector<DemoEnv> nodes, vms;
  std::vector<DemoStep> steps;
  int succeeded = 0, failed = 0, running = 0;
};

// Everything the simulation chooses comes from the seed; identifiers of operations and events
// also depend on the simulated present, so that a second run adds a new stretch of history
// instead of replaying the first one.
DemoPlan planDemo(const DemoOptions& options);

// What a run of the simulation did to the log.
struct DemoOutcome {
  size_t closed = 0;  // operations an earlier run left running, closed as the agent started
  DemoPlan plan;
  size_t reports = 0, events = 0;  // sent to the log
  LogCounts before, after;          // the log's rows around the run
};

void printDemoReport(const DemoOptions& options, const DemoOutcome& outcome);

}  // namespace jrxlog
