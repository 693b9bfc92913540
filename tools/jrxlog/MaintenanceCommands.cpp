// jrxlog init / finish / compact: set-up and upkeep, each telling what it did.
#include <iostream>
#include <map>

#include "Commands.h"
#include "JRXLogMaintenance.h"
#include "LogCounts.h"
#include "Services.h"

namespace jrxlog {

int runInit(const CommandLine& cl) {
  expectPositional(cl, 0, 0, "init takes no arguments");
  std::cout << JRX::JRXConfiguration::getLocalEID().toString() << '\n';
  // openLog has brought an older layout up to date already; what it found and did was kept.
  // A log of this version is looked over all the same: someone may have dropped an index.
  JRX::JRXLayoutReport layout = openedLayout();
  for (std::string& change : JRX::openLogLayout(true).changes)
    layout.changes.push_back(std::move(change));
  if (layout.found == layout.now && layout.changes.empty()) {
    std::cout << "layout version " << layout.now << ", up to date\n";
    return 0;
  }
  std::cout << "layout version "
            << (layout.found ? std::to_string(layout.found) : std::string("none recorded"))
            << " found, now " << layout.now << (layout.changes.empty() ? "\n" : "; changed:\n");
  for (const std::string& change : layout.changes) std::cout << "  " << change << '\n';
  return 0;
}

int runFinish(const CommandLine& cl) {
  expectPositional(cl, 0, 0, "finish takes no arguments");
  JRX::JRXOpLogLocal log(accessProvider());
  int result = log.finishOps();
  check(log, result);
  // Each closing report ended a command of its own before finishOps ended its command.
  const auto& ended = log.endedCommands();
  size_t closed = 0, refused = 0;
  const JRX::JRXRequestErrorData* firstRefusal = nullptr;
  for (size_t i = 0; i + 1 < ended.size(); ++i) {
    if (ended[i].code == 0) {
      ++closed;
    } else {
      ++refused;
      if (!firstRefusal) firstRefusal = &ended[i];
    }
  }
  std::cout << "closed " << closed << " unfinished operation" << (closed == 1 ? "" : "s")
            << " as canceled by restart\n";
  if (refused) {
    std::cout << refused << " could not be closed (first: "
              << errorText(firstRefusal->code, firstRefusal->message) << ")\n";
  }
  return 0;
}

namespace {

// Rows removed, by table, in the order the tables were first met.
class Removed {
 public:
  void add(const char* table, long long rows) {
    auto it = rows_.find(table);
    if (it == rows_.end()) {
      order_.push_back(table);
      rows_[table] = rows;
    } else {
      it->second += rows;
    }
  }
  long long rows(const std::string& table) const {
    auto it = rows_.find(table);
    return it == rows_.end() ? 0 : it->second;
  }
  JRX::JRXRemovedRows sink() {
    return [this](const char* table, long long rows) { add(table, rows); };
  }
  void print() const {
    if (order_.empty()) std::cout << "  nothing\n";
    for (const std::string& t : order_) std::cout << "  " << t << ": " << rows_.at(t) << '\n';
  }

 private:
  std::vector<std::string> order_;
  std::map<std::string, long long> rows_;
};

void vacuum() {
  if (JRX::vacuumLog())
    std::cout << "free pages given back to the file system\n";
  else
    std::cout << "--vacuum: nothing to do on this database (its tables give space back "
                 "themselves)\n";
}

}  // namespace

int runCompact(const CommandLine& cl) {
  expectPositional(cl, 0, 1, "compact needs 'ops --age SECONDS', 'events --keep N' or --vacuum");
  if (cl.positional().empty()) {
    if (!cl.has("vacuum"))
      throw UsageError("compact needs 'ops --age SECONDS', 'events --keep N' or --vacuum");
    vacuum();
    return 0;
  }
  const std::string& what = cl.positional()[0];
  const unsigned batch =
      static_cast<unsigned>(parseInteger("batch", cl.value("batch", "5000"), 1, 100000000LL));
  Removed removed;
  if (what == "ops") {
    if (cl.has("keep")) throw UsageError("compact ops takes --age, not --keep");
    if (!cl.has("age")) throw UsageError("compact ops needs --age SECONDS");
    int age = static_cast<int>(parseDuration("age", cl.value("age")));
    JRX::compactOpsInBatches(age, batch, removed.sink());
    const long long gone = removed.rows("op_log");
    std::cout << "removed " << gone << " ended operation" << (gone == 1 ? "" : "s")
              << " recorded " << age << " seconds ago or earlier; " << countOperations()
              << " remain\n";
  } else if (what == "events") {
    if (cl.has("age")) throw UsageError("compact events takes --keep, not --age");
    if (!cl.has("keep")) throw UsageError("compact events needs --keep N");
    int keep = static_cast<int>(parseInteger("keep", cl.value("keep"), 0, 2147483647LL));
    JRX::compactEventsInBatches(keep, batch, removed.sink());
    const long long gone = removed.rows("events_log");
    std::cout << "removed " << gone << " event" << (gone == 1 ? "" : "s") << "; "
              << countEvents() << " remain\n";
  } else {
    throw UsageError("compact what? 'ops' or 'events', not '" + what + "'");
  }
  if (!cl.has("no-sweep")) JRX::sweepLog(batch, removed.sink());
  std::cout << "rows removed per table, in transactions of at most " << batch << " rows"
            << (cl.has("no-sweep") ? " (not swept)" : "") << ":\n";
  removed.print();
  if (cl.has("vacuum")) vacuum();
  return 0;
}

}  // namespace jrxlog
