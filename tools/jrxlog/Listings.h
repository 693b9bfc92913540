// How listed records are shown: as a table for people, or as JSON Lines in the import
// format, optionally with the env records of the environments they name (each before the
// first record naming it), so that a copy into another database keeps its operand links.
#pragma once

#include <ostream>
#include <vector>

#include "JRXRecords.h"
#include "TableOutput.h"

namespace jrxlog {

// The environment's title from the directory, else the GUID text.
std::string envLabel(const JRX::JRXEID& eid);

void printOpsTable(const std::vector<JRX::JRXRequestProgressData>& records, std::ostream& out,
                   const Terminal& term);
// `withData`: a column with each event's payload (the audit details).
void printEventsTable(const std::vector<JRX::JRXEvent>& events, std::ostream& out,
                      const Terminal& term, bool withData = false);

void printOpsJson(const std::vector<JRX::JRXRequestProgressData>& records, std::ostream& out,
                  bool withEnvs);
void printEventsJson(const std::vector<JRX::JRXEvent>& events, std::ostream& out,
                     bool withEnvs);

}  // namespace jrxlog
