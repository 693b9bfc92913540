// Upkeep of a log that lives for years, beside the services: its layout brought up to date
// when it is opened, removal in bounded transactions, the sweep of rows the compact services
// leave behind, and giving freed space back. Each call works on the calling thread's
// connection of the process's database (JRXDatabase), outside any transaction of the caller.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "JRXVisibility.h"

JRX_PUBLIC_BEGIN

namespace JRX {

struct JRXLayoutReport {
  int found = 0;  // the version the database had (0: none recorded, or no log yet)
  int now = 0;    // the version it has now
  std::vector<std::string> changes;  // one line each; none when it was up to date
};

// Creates the log's tables, or brings an older layout up to date in place; safe while other
// processes open the same database. Throws AException when the database holds a newer
// layout than this build knows (then nothing is changed) or a change fails. A log of this
// build's version is taken as it is, unless `recheck` asks for every table to be compared
// with what it should be all the same (an index someone dropped is made again).
JRXLayoutReport openLogLayout(bool recheck = false);

// Told the table and the rows one committed batch removed from it.
typedef std::function<void(const char* table, long long rows)> JRXRemovedRows;

// What JRXOpLogLocal::compact(age) removes, in transactions of at most about `batch` rows
// (the rows of one key are never split), in key order; fewer where that many would hold a
// transaction longer than some 20 ms, and with a pause after each for waiting writers.
void compactOpsInBatches(int age, unsigned batch, const JRXRemovedRows& removed);
// What JRXEventLogLocal::compact(keep) removes, likewise.
void compactEventsInBatches(int keep, unsigned batch, const JRXRemovedRows& removed);
// Removes progress rows, links and task rows of operations that are gone, the links and
// detail rows of events that are gone, and environment rows nothing links to any more;
// each table is walked in transactions of about `batch` rows. Safe beside writers
// (store/LogSweep.cpp tells why).
void sweepLog(unsigned batch, const JRXRemovedRows& removed);
// Gives the database's free pages back to the file system; false where the database
// does not keep them (MariaDB).
bool vacuumLog();

}  // namespace JRX

JRX_PUBLIC_END
