// What compaction removes, shared by the compact services (one transaction each) and the
// batched removal of the maintenance path, so that both remove the very same rows.
#pragma once

#include <ctime>

#include "ASQuery.h"
#include "store/LogTables.h"

namespace JRX {

// The operations compaction removes: ended ones recorded `age` seconds before `now` or
// earlier.
ASComparison compactedOps(const op_log& t, int age, time_t now = time(nullptr));

// The newest event the compaction of all but the `keep` newest removes, in `threshold`;
// false when none goes. Age is the order of insertion, not the events' own time: a late
// event counts as new.
bool compactedEventsThrough(ASSession* s, int keep, long long& threshold);

}  // namespace JRX
