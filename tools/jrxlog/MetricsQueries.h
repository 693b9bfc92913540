// What `jrxlog serve`'s /metrics reads of the log. Each read is bounded whatever the log's
// size: the unfinished operations through the index that holds them apart (few however
// long the log), the newest event through the time index, and the counts of all operations
// by status and of events by type in parts of a given number of rows along the tables' keys,
// so that a caller spreads a whole count over time (ServeMetrics.cpp).
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>

namespace jrxlog {

struct LiveState {
  std::map<int, long long> unfinished;  // by status: started (1), running (2)
  std::optional<long> oldestUnfinished;  // first report of the oldest unfinished operation
  std::optional<long> latestEvent;       // time of the newest event
};

LiveState readLiveState();

// Adds the next at most `rows` operations (events) after key `after` to the counts, moves
// `after` to the last one read, and returns how many were read (fewer than `rows`: the
// table's end).
size_t countOperationsAfter(long long& after, size_t rows, std::map<int, long long>& byStatus);
size_t countEventsAfter(long long& after, size_t rows, std::map<std::string, long long>& byType);

}  // namespace jrxlog
