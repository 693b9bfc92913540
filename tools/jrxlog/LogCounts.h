// Row counts of the log's tables, for the summaries of demo, compact and import.
#pragma once

#include <map>
#include <string>

namespace jrxlog {

struct LogCounts {
  long long operations = 0;
  std::map<int, long long> operationsByStatus;
  long long reports = 0;  // progress rows
  long long events = 0;
  std::map<std::string, long long> eventsByType;
};

LogCounts countLog();
long long countOperations();
long long countEvents();
// Whether an event with this GUID text (lower case, as the log keeps it) is stored.
bool hasEvent(const std::string& guid);

}  // namespace jrxlog
