// jrxlog ops / events / unfinished: the services' queries, shown as tables or JSON Lines.
#include <unistd.h>

#include <iostream>
#include <nlohmann/json.hpp>

#include "Commands.h"
#include "JsonRecords.h"
#include "ListingQueries.h"
#include "Listings.h"
#include "Services.h"

namespace jrxlog {

namespace {

const size_t kEventsPart = 200;

class CommandOptions : public OptionSource {
 public:
  explicit CommandOptions(const CommandLine& cl) : cl_(cl) {}
  bool has(const std::string& name) const override { return cl_.has(name); }
  std::string value(const std::string& name) const override { return cl_.value(name); }

 private:
  const CommandLine& cl_;
};

}  // namespace

int runOps(const CommandLine& cl) {
  expectPositional(cl, 0, 0, "ops takes no arguments");
  std::vector<JRX::JRXRequestProgressData> records = fetchOps(opsQuery(CommandOptions(cl)));
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
  EventsQuery q = eventsQuery(CommandOptions(cl));
  bool json = cl.has("json");
  // JSON Lines are meant to be imported again, so they carry the audit payloads.
  q.withData = q.withData || json;
  // A long listing is read in parts, each printed (JSON) or reduced to its table cells as it
  // comes, so that the tool's memory stays that of one part.
  if (json) {
    EnvWriter envs(std::cout, cl.has("envs"));
    fetchEventsInParts(q, kEventsPart, [&](const std::vector<JRX::JRXEvent>& events) {
      printEventsJson(events, std::cout, envs);
      std::cout.flush();
    });
  } else {
    EventsTable table(cl.has("with-data"));
    fetchEventsInParts(q, kEventsPart,
                       [&](const std::vector<JRX::JRXEvent>& events) { table.add(events); });
    table.print(std::cout, Terminal::of(1));
  }
  return 0;
}

int runUnfinished(const CommandLine& cl) {
  expectPositional(cl, 0, 0, "unfinished takes no arguments");
  if (!cl.has("eid")) throw UsageError("unfinished needs --eid GUID");
  CommandOptions options(cl);
  JRX::JRXEID eid = eidOption(options);
  long lastTime = timeOption(options, "since", 0);

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
