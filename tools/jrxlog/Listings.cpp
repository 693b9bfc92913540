#include "Listings.h"

#include <map>

#include "EstimateQueries.h"
#include "JRXEnvDirectory.h"
#include "JsonRecords.h"

namespace jrxlog {

namespace {

std::string operandsText(const JRX::JRXEIDList& operands) {
  std::string s;
  for (const auto& eid : operands) {
    if (!s.empty()) s += ",";
    s += envLabel(eid);
  }
  return s;
}

}  // namespace

void EnvWriter::named(const JRX::JRXEID& eid) {
  if (!enabled_ || !eid.isValid() || !seen_.insert(eid).second) return;
  EnvRecord env;
  env.eid = eid;
  if (JRX::JRXEnvDirectory::lookup(eid, env.type, env.title)) out_ << envToJson(env) << '\n';
}

void EnvWriter::namedIn(const JRX::JRXInfo& info) {
  if (!enabled_) return;
  for (const char* name : {"source_env", "env"}) {
    auto range = info.getParameters().equal_range(name);
    for (auto it = range.first; it != range.second; ++it) {
      const JRX::JRXInfo* eid = it->second.getParameter("eid");
      JRX::JRXEID g;
      if (eid && g.fromString(eid->getText().c_str()) == 0) named(g);
    }
  }
}

std::vector<OperationRecords> eachOperation(const std::vector<JRX::JRXRequestProgressData>& records,
                                            size_t count) {
  std::vector<OperationRecords> ops;
  std::map<std::string, size_t> index;
  for (const auto& r : records) {
    const auto it = index.find(r.id);
    if (it != index.end()) {
      ops[it->second].second = &r;
    } else if (ops.size() < count) {
      index[r.id] = ops.size();
      ops.emplace_back(&r, &r);
    }
  }
  return ops;
}

std::string envLabel(const JRX::JRXEID& eid) {
  if (!eid.isValid()) return "";
  std::string type, title;
  if (JRX::JRXEnvDirectory::lookup(eid, type, title) && !title.empty()) return title;
  return eid.toString();
}

void printOpsTable(const std::vector<JRX::JRXRequestProgressData>& records, std::ostream& out,
                   const Terminal& term, OperationEstimates* estimates) {
  bool parents = false;
  for (const auto& r : records)
    if (!r.parentId.empty()) parents = true;
  std::vector<Table::Column> cols = {{"TIME"}, {"ID"}};
  if (parents) cols.push_back({"PARENT"});
  cols.push_back({"NAME"});
  cols.push_back({"STATUS"});
  cols.push_back({"PROGRESS", Table::RIGHT});
  if (estimates) cols.push_back({"ETA"});
  cols.push_back({"OPERANDS", Table::LEFT, Table::GUIDS});
  cols.push_back({"TEXT", Table::LEFT, Table::TEXT});
  Table table(cols);
  for (const auto& r : records) {
    std::vector<std::string> row = {localTime(r.time), r.id};
    if (parents) row.push_back(r.parentId);
    row.push_back(r.name);
    row.push_back(statusText(r.status));
    row.push_back(std::to_string(r.progress) + "%");
    if (estimates) row.push_back(etaText(estimates->of(r.id), estimates->now()));
    row.push_back(operandsText(r.operands));
    row.push_back(r.info.toString());
    table.addRow(std::move(row));
  }
  table.print(out, term.isTty ? term.columns : 0, term.utf8);
}

namespace {

std::string payloadText(const JRX::JRXEvent& e) {
  auto audit = boost::dynamic_pointer_cast<JRX::JRXAuditEvent>(e.data);
  if (!audit) return "";
  return "session " + audit->session + ", address " + audit->address.toString() + ", kind " +
         std::to_string(audit->kind) + ", detail " + audit->detail;
}

std::vector<Table::Column> eventColumns(bool withData) {
  std::vector<Table::Column> cols = {{"TIME"},
                                     {"TYPE"},
                                     {"CATEGORY"},
                                     {"CODE", Table::RIGHT},
                                     {"ENVIRONMENT", Table::LEFT, Table::GUIDS},
                                     {"TEXT", Table::LEFT, Table::TEXT}};
  if (withData) cols.push_back({"DATA", Table::LEFT, Table::TEXT});
  return cols;
}

}  // namespace

EventsTable::EventsTable(bool withData) : withData_(withData), table_(eventColumns(withData)) {}

void EventsTable::add(const std::vector<JRX::JRXEvent>& events) {
  for (const auto& e : events) {
    std::vector<std::string> row = {localTime(e.time),      e.type,         e.category,
                                    std::to_string(e.code), envLabel(e.eid), e.info.toString()};
    if (withData_) row.push_back(payloadText(e));
    table_.addRow(std::move(row));
  }
}

void EventsTable::print(std::ostream& out, const Terminal& term) {
  table_.print(out, term.isTty ? term.columns : 0, term.utf8);
}

void printEventsTable(const std::vector<JRX::JRXEvent>& events, std::ostream& out,
                      const Terminal& term, bool withData) {
  EventsTable table(withData);
  table.add(events);
  table.print(out, term);
}

void printOpsJson(const std::vector<JRX::JRXRequestProgressData>& records, std::ostream& out,
                  bool withEnvs, OperationEstimates* estimates) {
  EnvWriter envs(out, withEnvs);
  printOpsJson(records, out, envs, estimates);
}

void printOpsJson(const std::vector<JRX::JRXRequestProgressData>& records, std::ostream& out,
                  EnvWriter& envs, OperationEstimates* estimates) {
  for (const auto& r : records) {
    for (const auto& eid : r.operands) envs.named(eid);
    envs.named(r.eid);
    envs.namedIn(r.info);
    const OperationEstimates::Estimate* e = estimates ? &estimates->of(r.id) : nullptr;
    out << progressToJson(r, e && e->running ? &e->end : nullptr) << '\n';
  }
}

void printEventsJson(const std::vector<JRX::JRXEvent>& events, std::ostream& out,
                     EnvWriter& envs) {
  for (const auto& e : events) {
    envs.named(e.eid);
    envs.namedIn(e.info);
    out << eventToJson(e) << '\n';
  }
}

}  // namespace jrxlog
