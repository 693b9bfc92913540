// jrxlog init / finish / compact: set-up and upkeep, each telling what it did.
#include <iostream>

#include "Commands.h"
#include "JRXLogMaintenance.h"
#include "LogCounts.h"
#include "Services.h"

namespace jrxlog {

namespace {

struct NoOptions {};

int runInit(const NoOptions&) {
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

int runFinish(const NoOptions&) {
  std::vector<JRX::JRXRequestErrorData> refused;
  const size_t closed = finishOps(&refused);
  std::cout << "closed " << closed << " unfinished operation" << (closed == 1 ? "" : "s")
            << " as canceled by restart\n";
  if (!refused.empty())
    std::cout << refused.size() << " could not be closed (first: "
              << errorText(refused[0].code, refused[0].message) << ")\n";
  return 0;
}

// Rows removed, by table, in the order the tables were first met.
class Removed {
 public:
  long long rows(const std::string& table) const {
    for (const auto& t : rows_)
      if (t.first == table) return t.second;
    return 0;
  }
  JRX::JRXRemovedRows sink() {
    return [this](const char* table, long long rows) {
      for (auto& t : rows_)
        if (t.first == table) return void(t.second += rows);
      rows_.emplace_back(table, rows);
    };
  }
  void print() const {
    if (rows_.empty()) std::cout << "  nothing\n";
    for (const auto& t : rows_) std::cout << "  " << t.first << ": " << t.second << '\n';
  }

 private:
  std::vector<std::pair<std::string, long long>> rows_;
};

struct CompactOptions {
  bool vacuum = false;
  unsigned batch = 5000;
  bool noSweep = false;
};

struct CompactOpsOptions : CompactOptions {
  int age = 0;
};

struct CompactEventsOptions : CompactOptions {
  int keep = 0;
};

int runVacuum(const CompactOptions&) {
  if (JRX::vacuumLog())
    std::cout << "free pages given back to the file system\n";
  else
    std::cout << "--vacuum: nothing to do on this database (its tables give space back "
                 "themselves)\n";
  return 0;
}

// After the compaction's own rows: the sweep, what was removed, the vacuum.
int sweepAndTell(const CompactOptions& o, Removed& removed) {
  if (!o.noSweep) JRX::sweepLog(o.batch, removed.sink());
  std::cout << "rows removed per table, in transactions of at most " << o.batch << " rows"
            << (o.noSweep ? " (not swept)" : "") << ":\n";
  removed.print();
  return o.vacuum ? runVacuum(o) : 0;
}

int runCompactOps(const CompactOpsOptions& o) {
  Removed removed;
  JRX::compactOpsInBatches(o.age, o.batch, removed.sink());
  const long long gone = removed.rows("op_log");
  std::cout << "removed " << gone << " ended operation" << (gone == 1 ? "" : "s")
            << " recorded " << o.age << " seconds ago or earlier; " << countOperations()
            << " remain\n";
  return sweepAndTell(o, removed);
}

int runCompactEvents(const CompactEventsOptions& o) {
  Removed removed;
  JRX::compactEventsInBatches(o.keep, o.batch, removed.sink());
  const long long gone = removed.rows("events_log");
  std::cout << "removed " << gone << " event" << (gone == 1 ? "" : "s") << "; "
            << countEvents() << " remain\n";
  return sweepAndTell(o, removed);
}

const char* const kCompactFooter =
    "Each batch is a transaction of its own, so writers wait behind one batch at most. The "
    "sweep removes rows whose operation or event is gone (of this or earlier compactions) "
    "and environment rows nothing links to. Prints the rows removed per table.";

void addVacuum(CLI::App& to, CompactOptions& o) {
  to.add_flag("--vacuum", o.vacuum,
              "afterwards give the database's free pages back to the file system (SQLite)");
}

// The options of both compactions after their own.
void addBatches(CLI::App& to, CompactOptions& o) {
  addNumber(to, "--batch", o.batch, 1, 100000000, "rows removed per transaction")->capture_default_str();
  to.add_flag("--no-sweep", o.noSweep,
              "only the compaction's own rows; leave the sweep of rows whose operation, event "
              "or links are gone for later");
  addVacuum(to, o);
}

}  // namespace

void addInit(CommandLine& cl) {
  addCommand(cl, "init",
             "create the tables if missing, or bring an older layout up to date (printing what "
             "it changed); print the local environment's GUID",
             std::make_shared<NoOptions>(), runInit);
}

void addFinish(CommandLine& cl) {
  addCommand(cl, "finish", "close the unfinished operations of the local node as canceled by restart",
             std::make_shared<NoOptions>(), runFinish);
}

void addCompact(CommandLine& cl) {
  auto vacuumOnly = std::make_shared<CompactOptions>();
  CLI::App* compact = addCommand(
      cl, "compact",
      "remove old operations or events in batches of bounded transactions (not the one "
      "transaction of the compact services), then sweep away what they leave behind; "
      "--vacuum alone gives SQLite's free pages back",
      vacuumOnly, runVacuum);
  addVacuum(*compact, *vacuumOnly);
  compact->require_subcommand(0, 1);
  // Said while parsing, before the log is opened (or created), and after the parser has
  // named a word it does not know: a compaction's callback has chosen it already.
  compact->callback([&cl, vacuumOnly] {
    if (!cl.run && !vacuumOnly->vacuum)
      throw CLI::ValidationError("compact needs 'ops --age SECONDS', 'events --keep N' or --vacuum");
    if (!cl.run) cl.run = [vacuumOnly] { return runVacuum(*vacuumOnly); };
  });

  auto ops = std::make_shared<CompactOpsOptions>();
  CLI::App* c = addCommand(cl, "ops",
                           "remove ended operations recorded that long ago or earlier (what the "
                           "operations compaction removes), then their progress rows, links and "
                           "task rows",
                           ops, runCompactOps, kCompactFooter, compact);
  c->add_option("--age", ops->age, "age in seconds; units s, m, h, d allowed")
      ->type_name("SECONDS")->required()->transform(durationValue());
  addBatches(*c, *ops);

  auto events = std::make_shared<CompactEventsOptions>();
  c = addCommand(cl, "events",
                 "keep the N newest events, remove the rest (what the events compaction "
                 "removes), then their links and detail rows",
                 events, runCompactEvents, kCompactFooter, compact);
  addNumber(*c, "--keep", events->keep, 0, 2147483647, "events to keep")->required();
  addBatches(*c, *events);
}

}  // namespace jrxlog
