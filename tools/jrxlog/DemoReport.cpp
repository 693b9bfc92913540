// The demo's summary: what the simulation did, what the log holds now, and its newest records.
#include <iostream>

#include "DemoSimulation.h"
#include "Listings.h"
#include "Services.h"

namespace jrxlog {

namespace {

std::string plural(long long n, const std::string& word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

template <class Counts, class Name>
void counted(const Counts& counts, const Name& name) {
  bool first = true;
  for (const auto& c : counts) {
    std::cout << (first ? "" : ", ") << c.second << " " << name(c.first);
    first = false;
  }
}

void whatItDid(const DemoOptions& o, const DemoOutcome& d) {
  std::cout << "Simulated agent (seed " << o.seed << ", " << plural(o.size, "operation")
            << ", until " << localTime(o.now) << ")\n";
  std::cout << "  agent start: closed " << plural(static_cast<long long>(d.closed), "operation")
            << " left running before\n";
  std::cout << "  environments: " << plural(static_cast<long long>(d.plan.nodes.size()), "node")
            << ", " << plural(static_cast<long long>(d.plan.vms.size()), "VM") << "\n";
  std::cout << "  operations: " << d.plan.succeeded << " done, " << d.plan.failed << " failed, "
            << d.plan.running << " still running; "
            << plural(static_cast<long long>(d.reports), "progress report")
            << " (the log grew by " << (d.after.reports - d.before.reports)
            << " rows: repeated texts of a running operation are folded)\n";
  std::cout << "  events: " << d.events << " sent, the log grew by "
            << (d.after.events - d.before.events)
            << " (failed logins and sessions without operations are dropped, known events "
               "ignored)\n";
}

void whatTheLogHolds(const LogCounts& after) {
  std::cout << "Log now holds " << plural(after.operations, "operation") << " (";
  counted(after.operationsByStatus, [](int status) { return statusText(status); });
  std::cout << "), " << plural(after.reports, "progress row") << ", "
            << plural(after.events, "event") << " (";
  counted(after.eventsByType, [](const std::string& type) { return type; });
  std::cout << ")\n";
}

void unfinishedByNode(const std::vector<DemoEnv>& nodes) {
  std::cout << "\nUnfinished operations by node:\n";
  for (const auto& node : nodes) {
    JRX::JRXOpLogLocal log(accessProvider());
    std::vector<std::string> ids;
    long last = 0;
    int result = log.getUnfinishedOpIds(ids, last, node.eid);
    if (result != 0) throw ServiceFailure(result, "");
    std::cout << "  " << node.title << ": " << ids.size();
    if (!ids.empty()) std::cout << ", latest progress " << localTime(last);
    std::cout << "\n";
  }
}

// The newest operations, each in its latest state.
void newestOperations(const Terminal& term) {
  JRX::JRXOpLogLocal log(accessProvider());
  std::vector<JRX::JRXRequestProgressData> records;
  check(log, log.getOps(&records, JRX::JRXEID::EID_INVALID, "", "", "", false, false, 1000, 0,
                        2147483647L));
  std::vector<JRX::JRXRequestProgressData> latest;
  for (const auto& op : eachOperation(records, 10)) latest.push_back(*op.second);
  std::cout << "\nNewest operations:\n";
  printOpsTable(latest, std::cout, term);
}

void newestEvents(const Terminal& term) {
  JRX::JRXEventLogLocal log(accessProvider());
  std::vector<JRX::JRXEvent> newest;
  check(log, log.getEvents(&newest, JRX::JRXEID::EID_INVALID, true, 10, "", "", false, 0,
                           2147483647L));
  std::cout << "\nNewest events:\n";
  printEventsTable(newest, std::cout, term);
}

}  // namespace

void printDemoReport(const DemoOptions& o, const DemoOutcome& d) {
  const Terminal term = Terminal::of(1);
  whatItDid(o, d);
  whatTheLogHolds(d.after);
  unfinishedByNode(d.plan.nodes);
  newestOperations(term);
  newestEvents(term);
  std::cout << "\nTry: jrxlog ops --active, jrxlog events --type audit, jrxlog watch\n";
}

}  // namespace jrxlog
