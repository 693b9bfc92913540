// How listed records are shown: as a table for people, or as JSON Lines in the import
// format, optionally with the env records of the environments they name (each before the
// first record naming it), so that a copy into another database keeps its operand links.
#pragma once

#include <ostream>
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

#include "JRXRecords.h"
#include "TableOutput.h"

namespace jrxlog {

// The environment's title from the directory, else the GUID text.
std::string envLabel(const JRX::JRXEID& eid);

// Writes the env record of each environment of the directory that records name, once, before
// the first record naming it; nothing when not enabled.
class EnvWriter {
 public:
  EnvWriter(std::ostream& out, bool enabled) : out_(out), enabled_(enabled) {}
  void named(const JRX::JRXEID& eid);
  void namedIn(const JRX::JRXInfo& info);  // the references "source_env" and "env"

 private:
  std::ostream& out_;
  bool enabled_;
  std::set<JRX::JRXEID> seen_;
};

// The events table, its rows added as they are read; printed once all are in, since the
// columns are aligned over all of them.
class EventsTable {
 public:
  explicit EventsTable(bool withData);  // `withData`: a column with the audit payloads
  void add(const std::vector<JRX::JRXEvent>& events);
  void print(std::ostream& out, const Terminal& term);

 private:
  bool withData_;
  Table table_;
};

// The first and the latest record of each operation among `records`, in the order of their
// first records (at most `count` operations).
using OperationRecords =
    std::pair<const JRX::JRXRequestProgressData*, const JRX::JRXRequestProgressData*>;
std::vector<OperationRecords> eachOperation(const std::vector<JRX::JRXRequestProgressData>& records,
                                            size_t count = SIZE_MAX);

class OperationEstimates;

// `estimates`: a column (table) or field "eta" (JSON) with the estimated end of each record's
// operation while it runs.
void printOpsTable(const std::vector<JRX::JRXRequestProgressData>& records, std::ostream& out,
                   const Terminal& term, OperationEstimates* estimates = nullptr);
// `withData`: a column with each event's payload (the audit details).
void printEventsTable(const std::vector<JRX::JRXEvent>& events, std::ostream& out,
                      const Terminal& term, bool withData = false);

void printOpsJson(const std::vector<JRX::JRXRequestProgressData>& records, std::ostream& out,
                  bool withEnvs, OperationEstimates* estimates = nullptr);
void printOpsJson(const std::vector<JRX::JRXRequestProgressData>& records, std::ostream& out,
                  EnvWriter& envs, OperationEstimates* estimates = nullptr);
void printEventsJson(const std::vector<JRX::JRXEvent>& events, std::ostream& out,
                     EnvWriter& envs);

}  // namespace jrxlog
