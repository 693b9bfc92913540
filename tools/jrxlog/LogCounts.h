// Row counts of the log's tables, for the summaries of demo and compact.
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
  long long auditRows = 0;
};

LogCounts countLog();
long long countOperations();
long long countEvents();

}  // namespace jrxlog
