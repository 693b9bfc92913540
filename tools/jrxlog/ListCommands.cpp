// jrxlog ops / events / unfinished: the services' queries, shown as tables or JSON Lines.
#include <unistd.h>

#include <iostream>
#include <nlohmann/json.hpp>

#include "Commands.h"
#include "JsonRecords.h"
#include "Listings.h"
#include "Services.h"

namespace jrxlog {

namespace {

// The services' own "no filter" values.
const unsigned int kNoLimit = 2147483647u;
const long kNoUpperTime = 2147483647L;

JRX::JRXEID eidOption(const CommandLine& cl) {
  if (!cl.has("eid")) return JRX::JRXEID::EID_INVALID;
  try {
    return parseGuid("eid", cl.value("eid"));
  } catch (const RecordError& e) {
    throw UsageError(std::string("--eid: ") + e.what());
  }
}

unsigned int limitOption(const CommandLine& cl, unsigned int fallback) {
  if (!cl.has("limit")) return fallback;
  return static_cast<unsigned int>(parseInteger("limit", cl.value("limit"), 0, 4294967295LL));
}

long timeOption(const CommandLine& cl, const char* name, long fallback) {
  if (!cl.has(name)) return fallback;
  return static_cast<long>(parseTime(name, cl.value(name)));
}

}  // namespace

int runOps(const CommandLine& cl) {
  expectPositional(cl, 0, 0, "ops takes no arguments");
  JRX::JRXEID eid = eidOption(cl);
  unsigned int limit = limitOption(cl, kNoLimit);
  long from = timeOption(cl, "from", 0);
  long to = timeOption(cl, "to", kNoUpperTime);

  JRX::JRXOpLogLocal log(accessProvider());
  std::vector<JRX::JRXRequestProgressData> records;
  check(log, log.getOps(&records, eid, cl.value("name"), cl.value("id"), cl.value("parent"),
                        cl.has("first-only"), cl.has("active"), limit, from, to));
  // Operand links of a copy depend on what its environment directory knows, so the env
  // records of the operands travel with the operations unless left out on purpose.
  if (cl.has("json"))
    printOpsJson(records, std::cout, !cl.has("no-envs"));
  else
    printOpsTable(records, std::cout, Terminal::of(1));
  return 0;
}

int runEvents(const CommandLine& cl) {
  expectPositional(cl, 0, 0, "events takes no arguments");
  JRX::JRXEID eid = eidOption(cl);
  unsigned int limit = limitOption(cl, 6000);
  long from = timeOption(cl, "from", 0);
  long to = timeOption(cl, "to", kNoUpperTime);
  bool json = cl.has("json");
  // JSON Lines are meant to be imported again, so they carry the audit payloads.
  bool withData = cl.has("with-data") || json;

  JRX::JRXEventLogLocal log(accessProvider());
  std::vector<JRX::JRXEvent> events;
  check(log, log.getEvents(&events, eid, !cl.has("operand"), limit, cl.value("category"),
                           cl.value("type"), withData, from, to));
  if (json)
    printEventsJson(events, std::cout, cl.has("envs"));
  else
    printEventsTable(events, std::cout, Terminal::of(1), cl.has("with-data"));
  return 0;
}

int runUnfinished(const CommandLine& cl) {
  expectPositional(cl, 0, 0, "unfinished takes no arguments");
  if (!cl.has("eid")) throw UsageError("unfinished needs --eid GUID");
  JRX::JRXEID eid = eidOption(cl);
  long lastTime = timeOption(cl, "since", 0);

  JRX::JRXOpLogLocal log(accessProvider());
  std::vector<std::string> ids;
  int result = log.getUnfinishedOpIds(ids, lastTime, eid);
  if (result != 0) throw ServiceFailure(result, "");
  if (cl.has("json")) {
    nlohmann::ordered_json out;
    out["ids"] = ids;
    out["lastTime"] = lastTime;
    std::cout << out.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
              << '\n';
    return 0;
  }
  for (const auto& id : ids) std::cout << oneLine(id) << '\n';
  std::cout << ids.size() << " unfinished operation" << (ids.size() == 1 ? "" : "s")
            << " on behalf of " << eid.toString();
  if (lastTime != 0) std::cout << "; latest progress " << localTime(lastTime) << " (" << lastTime << ")";
  std::cout << '\n';
  return 0;
}

}  // namespace jrxlog
